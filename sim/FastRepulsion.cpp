#include "sim/FastRepulsion.h"

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <unordered_map>

#include "sim/Particle.h"

namespace {

std::size_t cellCountFor(int level) {
    return std::size_t(1) << (3 * level);
}

// Cells with a usable edge: positive, and large enough that coordinates divided by it
// stay meaningful (a subnormal edge would turn every position into infinity).
bool usableCellSize(double size) {
    return size >= DBL_MIN && size <= DBL_MAX;
}

}  // namespace

FastRepulsion::FastRepulsion(int level, double domainSize)
    : level(std::min(std::max(level, 0), maxLevel)), mask((1 << this->level) - 1) {
    cells.assign(cellCountFor(this->level), nullptr);
    resetCellMarks();
    cellSize = domainSize / static_cast<double>(mask + 1);
    // Between 0.7 and 1.0 cells, so adapt keeps the cells until the force pass has
    // measured the floaters.
    interactionRange = 0.85 * cellSize;
}

int FastRepulsion::wrapCell(double cellNumber) const {
    // Ordinary coordinates fit an int and are cast as they are, then wrapped by the mask.
    // A cell number beyond the int range is first reduced modulo the cells per axis
    // (exact in floating point, and the same residue the mask gives); NaN and infinity
    // map to 0. So the cast is always defined.
    if (!(cellNumber >= -2147483648.0 && cellNumber < 2147483648.0))
        cellNumber =
            std::isfinite(cellNumber) ? std::fmod(cellNumber, static_cast<double>(mask + 1)) : 0.0;
    return static_cast<int>(cellNumber) & mask;
}

int FastRepulsion::cellIndex(const geo::Vertex& position) const {
    return indexOf(wrapCell(std::floor(position.x / cellSize)),
                   wrapCell(std::floor(position.y / cellSize)),
                   wrapCell(std::floor(position.z / cellSize)));
}

double FastRepulsion::domainSize() const {
    return static_cast<double>(mask + 1) * cellSize;
}

void FastRepulsion::resetCellMarks() {
    occupied.assign((cells.size() + 63) / 64, 0);
    occupiedCount = 0;
    // Set by every pack before it is read: only its size matters here.
    cellStart.resize(cells.size() + 1);
    cellCounts.assign(cells.size(), 0);
}

void FastRepulsion::push(int index, Particle* particle) {
    packedValid = false;
    Particle* head = cells[index];
    particle->nextInCell = head;
    particle->previousInCell = nullptr;
    if (head)
        head->previousInCell = particle;
    else
        ++occupiedCount;
    cells[index] = particle;
    ++cellCounts[index];
    particle->filedIn = this;
    particle->filedCell = index;
    occupied[index >> 6] |= std::uint64_t(1) << (index & 63);
}

bool FastRepulsion::unlink(int index, Particle* particle) {
    // Filed here, in this cell: then it is in this cell's chain (push and unlink keep the
    // two in step), and its neighbours in the chain are its links.
    if (particle->filedIn != this || particle->filedCell != index) return false;
    packedValid = false;
    if (particle->previousInCell)
        particle->previousInCell->nextInCell = particle->nextInCell;
    else
        cells[index] = particle->nextInCell;
    if (particle->nextInCell) particle->nextInCell->previousInCell = particle->previousInCell;
    particle->nextInCell = particle->previousInCell = nullptr;
    particle->filedIn = nullptr;
    particle->filedCell = -1;
    --cellCounts[index];
    if (!cells[index]) {
        occupied[index >> 6] &= ~(std::uint64_t(1) << (index & 63));
        --occupiedCount;
    }
    return true;
}

void FastRepulsion::appendCell(int index, std::vector<Particle*>& out) const {
    for (Particle* p = cells[index]; p; p = p->nextInCell) out.push_back(p);
}

void FastRepulsion::insert(Particle* particle) {
    // Filing a floater twice would link it to itself and make its chain endless.
    if (particle->filedIn == this) return;
    push(cellIndex(particle->position), particle);
    ++count;
}

bool FastRepulsion::remove(Particle* particle) {
    // By the cell it is filed in, not the one its position maps to: a floater moved
    // behind the grid's back still comes out whole.
    if (!unlink(particle->filedCell, particle)) return false;
    --count;
    return true;
}

void FastRepulsion::removeAll(ParticleList& list) {
    // A snapshot leaves the list's own cursor alone for whoever is walking it.
    std::unique_ptr<ParticleList> floaters(list.snapshot());
    for (Particle* p = floaters->first(); p; p = floaters->next()) remove(p);
}

void FastRepulsion::move(Particle* particle, const geo::Vertex& displacement) {
    if (displacement.x == 0.0 && displacement.y == 0.0 && displacement.z == 0.0) return;
    packedValid = false;
    const int to = displace(particle, displacement);
    if (to >= 0) refile(particle, to);
}

int FastRepulsion::displace(Particle* particle, const geo::Vertex& displacement) const {
    if (displacement.x == 0.0 && displacement.y == 0.0 && displacement.z == 0.0) return -1;
    particle->position += displacement;
    if (particle->filedIn != this) return -1;
    const int to = cellIndex(particle->position);
    return to == particle->filedCell ? -1 : to;
}

void FastRepulsion::refile(Particle* particle, int to) {
    // A floater that is not filed here stays unfiled: pushing it would file a stranger.
    if (particle->filedIn != this || particle->filedCell == to) return;
    unlink(particle->filedCell, particle);
    push(to, particle);
}

template <typename VisitRange>
void FastRepulsion::visitCellRanges(const geo::Vertex& centre, double radius,
                                    VisitRange visit) const {
    const double loX = std::floor((centre.x - radius) / cellSize);
    const double loY = std::floor((centre.y - radius) / cellSize);
    const double loZ = std::floor((centre.z - radius) / cellSize);
    const double widthX = std::floor((centre.x + radius) / cellSize) - loX;
    const double widthY = std::floor((centre.y + radius) / cellSize) - loY;
    const double widthZ = std::floor((centre.z + radius) / cellSize) - loZ;
    if (std::isnan(widthX + widthY + widthZ)) {
        // A centre or radius that is not a number has no cell range: answer with the cell
        // such a floater is filed in.
        const int index = cellIndex(centre);
        visit(index, index);
        return;
    }
    const double span = std::max(widthX, std::max(widthY, widthZ)) + 1.0;
    if (span < 1.0) return;  // a negative radius reaches no cell
    if (span == 1.0) {
        const int index = indexOf(wrapCell(loX), wrapCell(loY), wrapCell(loZ));
        visit(index, index);
        return;
    }
    if (span > static_cast<double>(mask + 1)) {
        for (int row = 0; row < static_cast<int>(cells.size()); row += mask + 1)
            visit(row, row | mask);
        return;
    }

    // Every width is now below the cells per axis, so the loops and casts are bounded.
    // Rows of cells whose nearest face lies beyond the sphere are skipped before their
    // z cells are visited.
    const double cx = std::floor(centre.x / cellSize);
    const double cy = std::floor(centre.y / cellSize);
    const double cz = std::floor(centre.z / cellSize);
    const int nx = widthX < 0.0 ? -1 : static_cast<int>(widthX);
    const int ny = widthY < 0.0 ? -1 : static_cast<int>(widthY);
    const int nz = widthZ < 0.0 ? -1 : static_cast<int>(widthZ);
    // Per axis, once: each cell's wrapped coordinate and the squared signed distance from
    // the centre coordinate to its nearest face (0 for the centre's own cell).
    struct Axis {
        double faceSquared[1 << maxLevel];
        int cell[1 << maxLevel];
        void fill(int n, double low, double centreCell, double coordinate, int base, int mask,
                  double size) {
            for (int i = 0; i <= n; ++i) {
                const double c = low + i;
                const double d = c < centreCell   ? (c + 1.0) * size - coordinate
                                 : c > centreCell ? c * size - coordinate
                                                  : 0.0;
                faceSquared[i] = d * d;
                cell[i] = (base + i) & mask;
            }
        }
    };
    Axis x, y, z;
    x.fill(nx, loX, cx, centre.x, wrapCell(loX), mask, cellSize);
    y.fill(ny, loY, cy, centre.y, wrapCell(loY), mask, cellSize);
    z.fill(nz, loZ, cz, centre.z, wrapCell(loZ), mask, cellSize);
    const double r2 = radius * radius;
    for (int i = 0; i <= nx; ++i)
        for (int j = 0; j <= ny; ++j) {
            const double rem = r2 - x.faceSquared[i] - y.faceSquared[j];
            if (!(rem >= 0.0)) continue;
            const int row = indexOf(x.cell[i], y.cell[j], 0);
            // The z cells a row keeps lie side by side: their face distances fall towards the
            // centre's cell and rise beyond it. So they are found without a branch per cell
            // and handed on as one range, or two where the row wraps around. (Were a cell
            // between two kept ones ever left out, visiting it as well would do no harm: a
            // query may answer cells beyond the sphere.)
            int first = -1, last = -1;
            for (int k = 0; k <= nz; ++k) {
                const bool in = z.faceSquared[k] < rem;
                first = first < 0 && in ? k : first;
                last = in ? k : last;
            }
            if (first < 0) continue;
            const int a = z.cell[first], b = z.cell[last];
            if (a <= b) {
                visit(row | a, row | b);
            } else {
                visit(row | a, row | mask);
                visit(row, row | b);
            }
        }
}

template <typename Visit>
void FastRepulsion::visitCells(const geo::Vertex& centre, double radius, Visit visit) const {
    visitCellRanges(centre, radius, [&visit](int first, int last) {
        for (int index = first; index <= last; ++index) visit(index);
    });
}

void FastRepulsion::queryInto(const geo::Vertex& centre, double radius,
                              std::vector<Particle*>& out) const {
    visitCells(centre, radius, [this, &out](int index) { appendCell(index, out); });
}

void FastRepulsion::pack() {
    packCells(0, beginPack());
}

int FastRepulsion::beginPack() {
    // Every cell's first entry, the empty ones' included, so that a query finds the
    // entries of a whole range of cells from its two ends. A word of marks without an
    // occupied cell is filled at once: a large grid holding few floaters packs nearly as
    // fast as a small one.
    occupiedIndex.clear();
    int total = 0;
    for (std::size_t word = 0; word < occupied.size(); ++word) {
        int* start = cellStart.data() + word * 64;
        const std::size_t width = std::min<std::size_t>(64, cells.size() - word * 64);
        const std::uint64_t bits = occupied[word];
        if (!bits) {
            std::fill(start, start + width, total);
            continue;
        }
        const int* counts = cellCounts.data() + word * 64;
        for (std::size_t c = 0; c < width; ++c) {
            start[c] = total;
            total += counts[c];
        }
        for (std::uint64_t rest = bits; rest; rest &= rest - 1)
            occupiedIndex.push_back(static_cast<int>(word * 64 + __builtin_ctzll(rest)));
    }
    cellStart[cells.size()] = total;
    // The buffers keep their capacity, so packing a sample of steady size allocates nothing.
    // The last pack's order is kept to fetch the records ahead of the chain walks below.
    const std::size_t size = static_cast<std::size_t>(total);
    packedFloater.resize(size);
    previousParticle.swap(packedParticle);
    packedParticle.resize(size);
    packedValid = true;
    return static_cast<int>(occupiedIndex.size());
}

void FastRepulsion::packCells(int begin, int end) {
    // Following a chain waits for each record in turn, and a sample's records lie scattered
    // in memory. Most floaters stay in their cells from one pack to the next, so the last
    // pack's entry a little ahead names a record the walk will soon want: it is asked for
    // early. (A floater deleted since only makes a wasted fetch; a prefetch cannot fault.)
    constexpr std::size_t ahead = 8;
    for (int c = begin; c < end; ++c) {
        const int index = occupiedIndex[static_cast<std::size_t>(c)];
        std::size_t at = static_cast<std::size_t>(cellStart[index]);
        for (Particle* p = cells[index]; p; p = p->nextInCell, ++at) {
            if (at + ahead < previousParticle.size()) prefetchParticle(previousParticle[at + ahead]);
            packedFloater[at] = {p->position.x, p->position.y, p->position.z, p->radius};
            packedParticle[at] = p;
        }
    }
}

void FastRepulsion::queryPacked(const geo::Vertex& centre, double radius,
                                std::vector<PackedRun>& out) {
    if (!packedValid) pack();
    queryPackedRuns(centre, radius, out);
}

void FastRepulsion::queryPackedRuns(const geo::Vertex& centre, double radius,
                                    std::vector<PackedRun>& out) const {
    visitCellRanges(centre, radius, [this, &out](int first, int last) {
        // The copy holds the cells in index order: a range of cells is one run of it.
        const int begin = cellStart[first];
        const int end = cellStart[last + 1];
        if (begin == end) return;  // no floater in these cells
        // Ranges adjacent in the copy: one run serves both.
        if (out.empty() || out.back().end != begin) out.push_back({begin, end});
        out.back().end = end;
    });
}

ParticleList* FastRepulsion::query(const geo::Vertex& centre, double radius) const {
    std::vector<Particle*> found;
    queryInto(centre, radius, found);
    ParticleList* result = new ParticleList(true);
    for (Particle* p : found) result->append(p);
    return result;
}

void FastRepulsion::adapt(double domainSize, double range) {
    if (!(domainSize > 0.0)) return;
    const double current = this->domainSize();
    double g = current;
    int newLevel = level;
    const double ratio = range / cellSize;
    // Aim for cells of range / sqrt(0.7), about 1.2 times the range, once the range has
    // left [0.7, 1.0] cells.
    if (ratio < 0.7 || ratio > 1.0) g = current * ratio / std::sqrt(0.7);
    if (0.5 * g > domainSize && newLevel > 0) {
        --newLevel;
        g = 0.5 * g;
    } else if (1.2 * g < domainSize && newLevel < 6) {
        ++newLevel;
        g = 2.0 * g;
    }
    if (newLevel == level && current == g) return;
    rebuild(newLevel, g);
}

void FastRepulsion::rebuild(int newLevel, double domainSize) {
    if (newLevel < 0 || newLevel > maxLevel) return;
    const double newCellSize = domainSize / static_cast<double>(1 << newLevel);
    // A zero, negative or unbounded size (from a range of 0 or a runaway floater) would
    // put every floater in one cell or divide by zero; the grid keeps its cells instead.
    if (!usableCellSize(newCellSize)) return;
    if (newLevel == level && newCellSize == cellSize) return;

    // Gather every chain into one, each non-empty chain linked in front of those before.
    Particle* gathered = nullptr;
    for (std::size_t word = 0; word < occupied.size(); ++word)
        for (std::uint64_t bits = occupied[word]; bits; bits &= bits - 1) {
            Particle* head = cells[word * 64 + static_cast<std::size_t>(__builtin_ctzll(bits))];
            Particle* tail = head;
            while (tail->nextInCell) tail = tail->nextInCell;
            tail->nextInCell = gathered;
            gathered = head;
        }
    if (newLevel != level) {
        std::vector<Particle*>(cellCountFor(newLevel), nullptr).swap(cells);
        level = newLevel;
        mask = (1 << level) - 1;
    } else {
        std::fill(cells.begin(), cells.end(), nullptr);
    }
    resetCellMarks();
    count = 0;
    cellSize = newCellSize;
    packedValid = false;
    while (gathered) {
        Particle* p = gathered;
        gathered = p->nextInCell;
        push(cellIndex(p->position), p);
        ++count;
    }
}

bool FastRepulsion::holdsExactly(const ParticleList& list) const {
    std::unordered_map<const Particle*, int> filed;  // floater -> the cell it is chained in
    int total = 0;
    for (std::size_t index = 0; index < cells.size(); ++index) {
        const Particle* previous = nullptr;
        // The occupancy marks, the chain lengths, the back links and each floater's own
        // record of its cell must all agree with the chains.
        if ((cells[index] != nullptr) != ((occupied[index >> 6] >> (index & 63) & 1) != 0))
            return false;
        int length = 0;
        for (Particle* p = cells[index]; p; previous = p, p = p->nextInCell, ++length) {
            if (++total > count) return false;  // more than counted, or a chain in a loop
            if (!filed.emplace(p, static_cast<int>(index)).second) return false;
            if (p->previousInCell != previous || p->filedIn != this ||
                p->filedCell != static_cast<int>(index))
                return false;
        }
        if (length != cellCounts[index]) return false;
    }
    if (total != count || total != list.size()) return false;
    for (const Particle* p : list.inOrder()) {
        const auto it = filed.find(p);
        if (it == filed.end() || it->second != cellIndex(p->position)) return false;
        filed.erase(it);
    }
    return filed.empty();
}
