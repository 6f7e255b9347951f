#include "model/BlobIndex.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <utility>

#include "model/VessikObj.h"
#include "sim/VectorExp.h"

namespace {

// The cut-off. A blob that does not count at x has a = |x - c|^2 / R^2 > L. Left out, it
// would have added
//   to the sum of contributions     f = e^-a < e^-L,
//   to the gradient 2 sum f (x - c) / R^2 a vector of length 2 f |x - c| / R^2
//                                     = 2 sqrt(a) e^-a / R < 2 sqrt(L) e^-L / R,
//   and to each entry of its own block of the parameter gradient, -2 f (x - c) / R^2, at
//   most the same,
// where the gradient bound uses that sqrt(a) e^-a falls for every a above 1/2 (and L is
// above 27). Of N blobs at most N are left out, so no result moves by more than
//   N e^-L max(1, 2 sqrt(L) / Rmin),
// Rmin the smallest radius. The field value is T minus the sum, so its error is the sum's.
// L is taken as the smallest value (to 1e-6) for which this bound is errorBound, half of
// the 1e-12 promised, which leaves the other half for the rounding of the sums themselves
// (their order is unchanged, so that is a few units in the last place of numbers below
// the blob count). For 20 blobs of radius 3.5 and up, L is 31.8 (a cut-off at 5.6 radii);
// for 100,000 blobs of radius 1, 42.3 (6.5 radii).
constexpr double errorBound = 0.5e-12;

double cutoffFor(double blobs, double smallestRadius) {
#ifdef DAZIRUDO_REFERENCE_FIELD
    return HUGE_VAL;  // every blob counts everywhere
#endif
    double exponent = std::log(blobs / errorBound);
    // need(L) grows with L but far more slowly, so L = need(L) is met from below within a
    // few rounds; the small step past it ends the loop on the safe side.
    for (int round = 0; round < 100; ++round) {
        const double need =
            std::log(blobs * std::max(1.0, 2.0 * std::sqrt(exponent) / smallestRadius) /
                     errorBound);
        if (need <= exponent) break;
        exponent = need + 1e-6;
    }
    return exponent;
}

constexpr int block = 64;  // candidates worked on together; the stack arrays' length
constexpr int fewCandidates = 4;  // below this many, a block is summed without vectors

// Cell coordinates are kept within +-2^20, so three fit a 64-bit key.
constexpr double cellRange = 1048576.0;
constexpr std::uint64_t emptySlot = ~std::uint64_t(0);
// A blob whose cut-off sphere would reach more cells than this is looked at everywhere.
constexpr double maxCellsPerBlob = 4096.0;

std::uint64_t cellKey(double i, double j, double k) {
    const auto part = [](double c) { return static_cast<std::uint64_t>(c + cellRange); };
    return (part(i) << 42) | (part(j) << 21) | part(k);
}

bool inCellRange(double c) { return c >= -cellRange && c < cellRange; }

}  // namespace

bool BlobIndex::isCurrent(const VessikList& blobs) const {
    return seenChanges == blobs.changes();
}

void BlobIndex::refresh(VessikList& blobs) {
    std::vector<double> x, y, z, r2;
    std::vector<int> valid;
    const int n = blobs.count();
    x.reserve(n);
    y.reserve(n);
    z.reserve(n);
    r2.reserve(n);
    double smallestRadius = HUGE_VAL;
    for (VessikObj* blob = blobs.first(); blob; blob = blobs.next()) {
        const VessikObj& b = *blob;  // read only: counts no change
        if (b.pointCount() > 0) {
            valid.push_back(static_cast<int>(x.size()));
            x.push_back(b.centre().x);
            y.push_back(b.centre().y);
            z.push_back(b.centre().z);
            smallestRadius = std::min(smallestRadius, std::fabs(b.getRadius()));
        } else {
            x.push_back(0.0);
            y.push_back(0.0);
            z.push_back(0.0);
        }
        r2.push_back(b.radiusPower(2));
    }
    seenChanges = blobs.changes();
    const auto same = [](const std::vector<double>& a, const std::vector<double>& b) {
        return a.size() == b.size() &&
               (a.empty() || std::memcmp(a.data(), b.data(), a.size() * sizeof(double)) == 0);
    };
    if (same(x, centreX) && same(y, centreY) && same(z, centreZ) && same(r2, radiusSquared) &&
        valid == everyBlob)
        return;

    ++modelVersion;
    centreX.swap(x);
    centreY.swap(y);
    centreZ.swap(z);
    radiusSquared.swap(r2);
    everyBlob.swap(valid);
    cutoff = everyBlob.empty() ? 0.0 : cutoffFor(static_cast<double>(n), smallestRadius);

    // Each blob's reach, a little beyond its cut-off sphere so that no rounding in the
    // cell arithmetic can leave out a blob that counts.
    std::vector<double> reach(centreX.size(), 0.0);
    const double root = std::sqrt(cutoff);
    for (int i : everyBlob) {
        const double far = std::fabs(centreX[i]) + std::fabs(centreY[i]) + std::fabs(centreZ[i]);
        reach[i] = std::sqrt(radiusSquared[i]) * root * (1.0 + 1e-6) + 1e-9 * far;
    }
    buildCells(reach);
}

void BlobIndex::buildCells(const std::vector<double>& reach) {
    cellSize = 0.0;
    slotKey.clear();
    slotCell.clear();
    cellStart.clear();
    cellBlobs.clear();
    wide.clear();
    // Cells as large as the median reach: a typical blob is filed in about 20 cells, and a
    // query looks at a few times the blobs that count.
    std::vector<double> reaches;
    for (int i : everyBlob) reaches.push_back(reach[i]);
    if (!reaches.empty()) {
        std::nth_element(reaches.begin(), reaches.begin() + reaches.size() / 2, reaches.end());
        cellSize = reaches[reaches.size() / 2];
    }
    if (!(cellSize > 0.0) || !std::isfinite(cellSize)) {
        cellSize = 0.0;  // every query is a full scan
        return;
    }

    std::vector<std::pair<std::uint64_t, int>> filed;
    const double h = cellSize;
    for (int i : everyBlob) {
        const double c[3] = {centreX[i], centreY[i], centreZ[i]};
        const double r = reach[i];
        double lo[3], hi[3];
        bool fits = true;
        double cells = 1.0;
        for (int a = 0; a < 3; ++a) {
            lo[a] = std::floor((c[a] - r) / h);
            hi[a] = std::floor((c[a] + r) / h);
            fits = fits && inCellRange(lo[a]) && inCellRange(hi[a]);
            cells *= hi[a] - lo[a] + 1.0;
        }
        if (!fits || !(cells <= maxCellsPerBlob)) {
            wide.push_back(i);
            continue;
        }
        // Only the cells the sphere reaches, not every cell of its box.
        const auto gap = [h](double cell, double coordinate) {
            if (coordinate < cell * h) return cell * h - coordinate;
            if (coordinate > (cell + 1.0) * h) return coordinate - (cell + 1.0) * h;
            return 0.0;
        };
        for (double ci = lo[0]; ci <= hi[0]; ++ci) {
            const double dx = gap(ci, c[0]);
            for (double cj = lo[1]; cj <= hi[1]; ++cj) {
                const double dy = gap(cj, c[1]);
                for (double ck = lo[2]; ck <= hi[2]; ++ck) {
                    const double dz = gap(ck, c[2]);
                    if (dx * dx + dy * dy + dz * dz <= r * r)
                        filed.emplace_back(cellKey(ci, cj, ck), i);
                }
            }
        }
    }
    // By cell, and within a cell by blob: every cell lists its blobs in list order.
    std::sort(filed.begin(), filed.end());
    std::size_t cellCount = 0;
    for (std::size_t e = 0; e < filed.size(); ++e)
        if (e == 0 || filed[e].first != filed[e - 1].first) ++cellCount;
    int bits = 1;
    while ((std::size_t(1) << bits) < 2 * cellCount) ++bits;
    slotShift = 64 - bits;
    slotKey.assign(std::size_t(1) << bits, emptySlot);
    slotCell.assign(std::size_t(1) << bits, -1);
    cellBlobs.reserve(filed.size());
    for (std::size_t e = 0; e < filed.size(); ++e) {
        if (e == 0 || filed[e].first != filed[e - 1].first) {
            std::size_t slot = (filed[e].first * 0x9E3779B97F4A7C15ull) >> slotShift;
            while (slotKey[slot] != emptySlot) slot = (slot + 1) & (slotKey.size() - 1);
            slotKey[slot] = filed[e].first;
            slotCell[slot] = static_cast<int>(cellStart.size());
            cellStart.push_back(static_cast<int>(cellBlobs.size()));
        }
        cellBlobs.push_back(filed[e].second);
    }
    cellStart.push_back(static_cast<int>(cellBlobs.size()));
    // The kernels read a vector past the last list: valid indices, never used.
    cellBlobs.resize(cellBlobs.size() + vectorWidth, 0);
}

int BlobIndex::findCell(std::uint64_t key) const {
    if (slotKey.empty()) return -1;
    std::size_t slot = (key * 0x9E3779B97F4A7C15ull) >> slotShift;
    for (;;) {
        const std::uint64_t found = slotKey[slot];
        if (found == key) return slotCell[slot];
        if (found == emptySlot) return -1;
        slot = (slot + 1) & (slotKey.size() - 1);
    }
}

template <typename Visit>
void BlobIndex::forCandidates(const geo::Vertex& x, Visit visit) const {
    if (everyBlob.size() < static_cast<std::size_t>(fewCandidates)) {
        // A model of up to three blobs: finding the point's cell costs more than taking
        // every blob, and the ones out of reach fail the cut-off test as they would anyway.
        if (!everyBlob.empty()) visit(everyBlob.data(), static_cast<int>(everyBlob.size()));
        return;
    }
    const double h = cellSize;
    const double ci = std::floor(x.x / h), cj = std::floor(x.y / h), ck = std::floor(x.z / h);
    const bool inCells = h != 0.0 && inCellRange(ci) && inCellRange(cj) && inCellRange(ck);
    if (inCells && wide.empty()) {
        // The usual case: the cell's own list, handed over where it lies.
        const int cell = findCell(cellKey(ci, cj, ck));
        if (cell < 0) return;
        for (int begin = cellStart[cell]; begin < cellStart[cell + 1]; begin += block)
            visit(cellBlobs.data() + begin, std::min(block, cellStart[cell + 1] - begin));
        return;
    }
    int indices[block + vectorWidth] = {};  // zeros past the block: valid indices
    int m = 0;
    const auto take = [&](int i) {
        indices[m++] = i;
        if (m == block) {
            visit(indices, m);
            m = 0;
        }
    };
    if (!inCells) {
        // No cells, or a point outside every cell (not finite, or beyond the range of
        // keys): every blob is looked at, as the plain sum would.
        for (int i : everyBlob) take(i);
    } else {
        const int cell = findCell(cellKey(ci, cj, ck));
        const int* filedBlobs = cell < 0 ? nullptr : cellBlobs.data() + cellStart[cell];
        const int filedCount = cell < 0 ? 0 : cellStart[cell + 1] - cellStart[cell];
        // Both lists ascend; merged, the blobs go in list order.
        int f = 0;
        std::size_t w = 0;
        while (f < filedCount || w < wide.size()) {
            if (w == wide.size() || (f < filedCount && filedBlobs[f] < wide[w]))
                take(filedBlobs[f++]);
            else
                take(wide[w++]);
        }
    }
    if (m > 0) visit(indices, m);
}

namespace {

// The blobs as the kernels read them: centre coordinates and squared radius, by index.
struct Blobs {
    const double* __restrict x;
    const double* __restrict y;
    const double* __restrict z;
    const double* __restrict radiusSquared;

    // The offset of p from blob i's centre.
    geo::Vertex offset(int i, const geo::Vertex& p) const {
        return {p.x - x[i], p.y - y[i], p.z - z[i]};
    }
    // Blob i's share of half the field's gradient at p, (p - c_i) f_i / R_i^2, for its
    // contribution f_i there.
    geo::Vertex halfGradient(int i, const geo::Vertex& p, double f) const {
        return offset(i, p) * (f / radiusSquared[i]);
    }
};

// Candidates of a block that count, and their terms. The arrays reach past a block by a
// vector, for the filling below.
struct BlobBlock {
    double exponent[block + vectorWidth];  // -|x - c_i|^2 / R_i^2 of every candidate
    int kept[block + vectorWidth];         // the candidates that count, in order
    double keptExponent[block + vectorWidth];
    double f[block + vectorWidth];  // f_i, and (x - c_i) f_i / R_i^2 below
    double gx[block + vectorWidth], gy[block + vectorWidth], gz[block + vectorWidth];
};

// Both loops run without a branch, which the compiler vectorises (VectorExp.h), gathering
// the blobs by index. They run to a whole number of vectors: the entries past `m` are
// read (the index lists are followed by at least a vector of valid indices) and their
// results never used.
int wholeVectors(int m) { return (m + vectorWidth - 1) / vectorWidth * vectorWidth; }

DAZIRUDO_VECTOR_CLONES
void blobExponents(const int* __restrict indices, int m, const Blobs blobs, const geo::Vertex x,
                   double* __restrict exponent) {
    const int n = wholeVectors(m);
    for (int k = 0; k < n; ++k) {
        const int i = indices[k];
        exponent[k] = -blobs.offset(i, x).squaredLength() / blobs.radiusSquared[i];
    }
}

DAZIRUDO_VECTOR_CLONES
void blobTerms(int m, const int* __restrict kept, const double* __restrict exponent,
               const Blobs blobs, const geo::Vertex x, double* __restrict f,
               double* __restrict gx, double* __restrict gy, double* __restrict gz) {
    const int n = wholeVectors(m);
    for (int k = 0; k < n; ++k) {
        const int i = kept[k];
        const double fk = vexp::exp(exponent[k]);
        const geo::Vertex term = blobs.halfGradient(i, x, fk);
        f[k] = fk;
        gx[k] = term.x;
        gy[k] = term.y;
        gz[k] = term.z;
    }
}

}  // namespace

// The candidates' exponents are worked out a block at a time; the blobs that count are
// kept, in order, and only their exponentials taken; their terms are then summed one by
// one in list order, so the sums round exactly as a plain walk over the blobs would (a
// blob left out adds exactly nothing there: its f is 0, and so is its gradient term,
// since a contribution of 0 is skipped). A NaN exponent (a point that is no number) is
// kept, so NaN comes out as it would.
double BlobIndex::sum(const geo::Vertex& x, geo::Vertex* gradient) const {
    double total = 0.0;
    geo::Vertex half;
    BlobBlock b;
    const Blobs blobs{centreX.data(), centreY.data(), centreZ.data(), radiusSquared.data()};
    const double limit = -cutoff;
    forCandidates(x, [&](const int* indices, int m) {
        if (m < fewCandidates) {
            // The same terms one by one: for up to three blobs, filling and dispatching
            // whole vectors costs more than the terms themselves.
            for (int k = 0; k < m; ++k) {
                const int i = indices[k];
                const double f = contribution(x, i);
                if (f == 0.0) continue;  // beyond the cut-off
                total += f;
                if (gradient) half += blobs.halfGradient(i, x, f);
            }
            return;
        }
        blobExponents(indices, m, blobs, x, b.exponent);
        int kept = 0;
        for (int k = 0; k < m; ++k) {
            b.kept[kept] = indices[k];
            b.keptExponent[kept] = b.exponent[k];
            kept += !(b.exponent[k] < limit);
        }
        if (kept == 0) return;
        // The last vector is filled with copies of the first term, whose results nobody
        // reads (copies, not zeros: the compiler would turn a loop of zeros into a call).
        for (int k = kept; k < wholeVectors(kept); ++k) {
            b.kept[k] = b.kept[0];
            b.keptExponent[k] = b.keptExponent[0];
        }
        blobTerms(kept, b.kept, b.keptExponent, blobs, x, b.f, b.gx, b.gy, b.gz);
        for (int k = 0; k < kept; ++k) total += b.f[k];
        if (gradient)
            for (int k = 0; k < kept; ++k) {
                half.x += b.gx[k];
                half.y += b.gy[k];
                half.z += b.gz[k];
            }
    });
    if (gradient) *gradient = half;
    return total;
}

double BlobIndex::contribution(const geo::Vertex& x, int blob) const {
    const double dx = x.x - centreX[blob], dy = x.y - centreY[blob], dz = x.z - centreZ[blob];
    const double a = -(dx * dx + dy * dy + dz * dz) / radiusSquared[blob];
    return a < -cutoff ? 0.0 : vexp::exp(a);
}

template <typename Visit>
void BlobIndex::forBlobGradients(const geo::Vertex& x, Visit visit) const {
    forCandidates(x, [&](const int* indices, int m) {
        for (int k = 0; k < m; ++k) {
            const int i = indices[k];
            const double f = contribution(x, i);
            if (f == 0.0) continue;
            const double s = f * -2.0 / radiusSquared[i];
            const double g[3] = {(x.x - centreX[i]) * s, (x.y - centreY[i]) * s,
                                 (x.z - centreZ[i]) * s};
            visit(i, g);
        }
    });
}

void BlobIndex::blobGradients(const geo::Vertex& x, geo::DVector& out) const {
    forBlobGradients(x, [&out](int i, const double g[3]) {
        for (int a = 0; a < 3; ++a) out[3 * i + a] = g[a];
    });
}

double BlobIndex::blobGradientsDot(const geo::Vertex& x, const geo::DVector& v) const {
    double total = 0.0;
    const int length = v.length();
    forBlobGradients(x, [&](int i, const double g[3]) {
        for (int a = 0; a < 3 && 3 * i + a < length; ++a) total += g[a] * v[3 * i + a];
    });
    return total;
}

int BlobIndex::candidateCount(const geo::Vertex& x) const {
    int count = 0;
    forCandidates(x, [&count](const int*, int m) { count += m; });
    return count;
}
