// The two passes that move the floaters each step. Every sum runs over the neighbour
// list in query order and no pair is cut off by distance, so a step gives the same
// numbers however the grid's cells happen to be sized.
#include <algorithm>
#include <cmath>
#include <cstddef>
#include <unordered_set>
#include <utility>
#include <vector>

#include "geo/Check.h"
#include "sim/ImplicitSurface.h"
#include "sim/VectorExp.h"

namespace {

// How many floaters ahead of the one being worked on the records are fetched: a few
// for the passes that do much per floater, more for the sum of the radii.
constexpr int prefetchDistance = 4;
constexpr int radiusPrefetchDistance = 16;
// Floaters per occupied cell above which the force pass fits the grid to the floaters.
constexpr int crowdedCell = 32;

// Whether the packed copy holds each of the list's floaters once and nothing else.
bool sameFloaters(const FastRepulsion::Packed& packed, const ParticleList::Entries& floaters) {
    std::unordered_set<const Particle*> listed(floaters.begin(), floaters.end());
    for (int i = 0; i < packed.size; ++i)
        if (listed.erase(packed.particle[i]) == 0) return false;
    return listed.empty();
}

// The defining points of every blob; the model's share of qDot is three entries each.
// Walks the list with its cursor.
int pointTotal(VessikList& blobs) {
    int total = 0;
    for (VessikObj* blob = blobs.first(); blob; blob = blobs.next()) total += blob->pointCount();
    return total;
}

}  // namespace

namespace {

constexpr int pairBlock = 64;  // neighbours worked on together; the stack arrays' length

// The neighbours of a block and what each adds to the pair sums of floater i.
struct PairBlock {
    double x[pairBlock], y[pairBlock], z[pairBlock], radius[pairBlock];  // neighbour j
    // (pi - pj)(Eij / si^2 + Eji / sj^2), Eij and |pi - pj|^2 Eij
    double pushX[pairBlock], pushY[pairBlock], pushZ[pairBlock], energy[pairBlock],
        weighted[pairBlock];
};

// One loop without a branch over the block, which the compiler vectorises, exponentials
// included (VectorExp.h); built for AVX2 too where the processor has it, with the same
// operations lane by lane and so the same bits. The block is filled up to a whole number
// of vectors with harmless entries (the floater's own position), whose terms nobody
// reads: the few entries past the last whole vector would otherwise go one by one.
DAZIRUDO_VECTOR_CLONES
void pairTerms(PairBlock& b, int m, const geo::Vertex& pi, double si2, double alpha) {
    for (; m % vectorWidth != 0; ++m) {
        b.x[m] = pi.x;
        b.y[m] = pi.y;
        b.z[m] = pi.z;
        b.radius[m] = 1.0;
    }
    for (int k = 0; k < m; ++k) {
        const double dx = pi.x - b.x[k], dy = pi.y - b.y[k], dz = pi.z - b.z[k];
        const double d2 = dx * dx + dy * dy + dz * dz;
        const double sj2 = b.radius[k] * b.radius[k];
        const double eij = alpha * vexp::exp(-d2 / (2.0 * si2));
        const double eji = alpha * vexp::exp(-d2 / (2.0 * sj2));
        b.pushX[k] = dx * (eij / si2) + dx * (eji / sj2);
        b.pushY[k] = dy * (eij / si2) + dy * (eji / sj2);
        b.pushZ[k] = dz * (eij / si2) + dz * (eji / sj2);
        b.energy[k] = eij;
        b.weighted[k] = d2 * eij;
    }
}

}  // namespace

// The pair sums of one floater over the runs of its neighbours: the repulsion push (before
// its final scaling by sigma squared), the energy E and S = sum |pi - pj|^2 Eij. One pass
// feeds both the repulsion and the radius rate, so each pair's two exponentials are taken
// once. The neighbours are gathered a block at a time (the floater itself left out), their
// terms worked out together, and only then added up one by one in query order, so every
// sum rounds as a plain walk over the neighbours would. `self` is the floater's entry in
// the packed copy, or -1 when not known (it is then found by identity).
ImplicitSurface::PairSums ImplicitSurface::sumPairs(
    const Particle* floater, const std::vector<FastRepulsion::PackedRun>& runs, int self) const {
    PairSums sums;
    const FastRepulsion::Packed packed = grid.packed();
    const geo::Vertex pi = floater->position;
    const double si = floater->radius;
    const double si2 = si * si;
    PairBlock b;
    int m = 0;
    const auto add = [&] {
        pairTerms(b, m, pi, si2, repulsionAmplitude);
        for (int k = 0; k < m; ++k) {
            sums.push.x += b.pushX[k];
            sums.push.y += b.pushY[k];
            sums.push.z += b.pushZ[k];
            sums.energy += b.energy[k];
            sums.weightedDistance += b.weighted[k];
        }
        m = 0;
    };
    // Copies entries [begin, end) of the packed copy into the block, a block at a time.
    const auto gather = [&](int begin, int end) {
        while (begin < end) {
            const int n = std::min(end - begin, pairBlock - m);
            // Runs are short: a plain loop beats a call to copy them.
            for (int k = 0; k < n; ++k) {
                const FastRepulsion::PackedFloater& neighbour = packed.floater[begin + k];
                b.x[m + k] = neighbour.x;
                b.y[m + k] = neighbour.y;
                b.z[m + k] = neighbour.z;
                b.radius[m + k] = neighbour.radius;
            }
            m += n;
            begin += n;
            if (m == pairBlock) add();
        }
    };
    for (const FastRepulsion::PackedRun& run : runs) {
        int at = self;
        if (at < 0)
            for (int j = run.begin; j < run.end && at < 0; ++j)
                if (packed.particle[j] == floater) at = j;
        if (at >= run.begin && at < run.end) {
            gather(run.begin, at);
            gather(at + 1, run.end);
        } else {
            gather(run.begin, run.end);
        }
    }
    if (m > 0) add();
    return sums;
}

const ImplicitSurface::PairSums& ImplicitSurface::pairSums(const Particle* floater) {
    if (pairSumsOf != floater) {
        if (!grid.isPacked()) grid.pack();
        pairSumsValue = sumPairs(floater, neighbours, -1);
        pairSumsOf = floater;
    }
    return pairSumsValue;
}

void ImplicitSurface::computeForces() {
    const int n = particles.size();
    const ParticleList::Entries& floaters = particles.inOrder();
    if (n > 0) {
        double sum = 0.0;
        for (int i = 0; i < n; ++i) {
            if (n - i > radiusPrefetchDistance)
                __builtin_prefetch(&floaters[i + radiusPrefetchDistance]->radius);
            sum += 3.0 * floaters[i]->radius;
        }
        grid.interactionRange = sum / n;
    }
    // Each step's adaptGrid sizes the cells to the floaters, but until the first one the
    // grid is as built, with cells of 31.25: a model of thousands of small blobs seeds tens
    // of thousands of floaters into a few of them, and every floater would sum thousands of
    // neighbours. So a grid that crowds more than `crowdedCell` floaters into its cells on
    // average is fitted to the floaters first. The bundled models never come near (at most
    // 6 floaters per cell, whatever the density), so their runs are as they were.
    if (grid.occupiedCells() > 0 && grid.getCount() > crowdedCell * grid.occupiedCells())
        fitGrid();
    // No position or radius changes during this pass, so the neighbours are read from one
    // packed copy of the grid instead of by following its chains, query after query. The
    // copying itself goes cell by cell on every thread.
    forEachChunk(grid.beginPack(), 512,
                 [this](int begin, int end, int) { grid.packCells(begin, end); });
    const std::uint64_t version = fieldVersion();
    // An evaluation reads only positions, radii and the field, which stay as the last step
    // left them, and writes only the floater's own D, E, sigma dot, P and field sample:
    // the order in which the floaters are evaluated, and the thread that evaluates each,
    // show in no result. So when the grid files exactly the floaters of the list (every
    // floater leaves the grid before it is deleted, so equal counts mean equal sets), they
    // go in the grid's cell order, in which consecutive floaters are neighbours and find
    // their cells and neighbours still in cache.
    const bool inCellOrder = grid.getCount() == n;
    const FastRepulsion::Packed packed = grid.packed();
    DCHECK(!inCellOrder || sameFloaters(packed, floaters),
           "the grid files as many floaters as the list holds, but not the same ones: a floater "
           "left the list without leaving the grid (look for a failed grid removal)");
    Particle* const* order = inCellOrder ? packed.particle : floaters.data();
    forEachChunk(n, 256, [&](int begin, int end, int) {
        // A buffer of the chunk's own: one per thread side by side in a member would share
        // a cache line that both threads write on every query.
        std::vector<FastRepulsion::PackedRun> runs;
        for (int i = begin; i < end; ++i) {
            // Floaters lie in memory in the order they were made, not in cell order: ask
            // for the records of the next ones early, so they arrive while this one works.
            if (end - i > prefetchDistance) prefetchParticle(order[i + prefetchDistance]);
            Particle* p = order[i];
            runs.clear();
            grid.queryPackedRuns(p->position, p->radius * neighbourRadiusFactor, runs);
            if (p->state == Particle::Control) {
                // Keeps its repulsion velocity; no energy and no radius change.
                p->energy = 0.0;
                p->radiusRate = 0.0;
            } else {
                const PairSums sums = sumPairs(p, runs, inCellOrder ? i : -1);
                p->repulsionVelocity = repulsionFrom(p, sums);
                p->radiusRate = radiusRateFrom(p, sums, p->energy);
            }
            p->velocity = constrainedVelocity(p, version);
        }
    });
    neighbours.clear();
    pairSumsOf = nullptr;
}

void ImplicitSurface::fitGrid() {
    // The domain as advance would measure it: the diagonal of the floaters' bounding box.
    geo::Vertex low(1e300, 1e300, 1e300), high(-1e300, -1e300, -1e300);
    for (const Particle* p : particles.inOrder())
        for (int a = 0; a < 3; ++a) {
            low[a] = std::fmin(low[a], p->position[a]);
            high[a] = std::fmax(high[a], p->position[a]);
        }
    const double domain = (high - low).length();
    if (!std::isfinite(domain) || !std::isfinite(grid.interactionRange)) return;
    // adapt moves the level by one at a time; a few calls reach the grid it aims for.
    for (int round = 0; round < 2 * FastRepulsion::maxLevel; ++round) {
        const int level = grid.getLevel();
        const double size = grid.getCellSize();
        grid.adapt(domain, grid.interactionRange);
        if (grid.getLevel() == level && grid.getCellSize() == size) break;
    }
}

geo::Vertex ImplicitSurface::repulsionFrom(const Particle* floater, const PairSums& sums) const {
    const double si = floater->radius;
    return sums.push * (si * si);
}

double ImplicitSurface::radiusRateFrom(const Particle* floater, const PairSums& sums,
                                       double& energy) const {
    const double si = floater->radius;
    const double dEdSigma = sums.weightedDistance / (si * si * si);
    energy = sums.energy;
    return -energyRate * (sums.energy - desiredEnergy) / (dEdSigma + appliedRadiusDamping);
}

geo::Vertex ImplicitSurface::computeRepulsion(Particle* floater) {
    if (floater->state == Particle::Control) return floater->repulsionVelocity;
    return repulsionFrom(floater, pairSums(floater));
}

double ImplicitSurface::energyAndRadiusRate(Particle* floater, double& energy) {
    if (floater->state == Particle::Control) {
        energy = 0.0;
        return 0.0;
    }
    return radiusRateFrom(floater, pairSums(floater), energy);
}

geo::Vertex ImplicitSurface::constrainedVelocity(Particle* floater) {
    return constrainedVelocity(floater, fieldVersion());
}

geo::Vertex ImplicitSurface::constrainedVelocity(Particle* floater, std::uint64_t version) {
    const Particle::FieldSample& field = fieldAt(floater, version);
    const geo::Vertex& g = field.gradient;
    const double gg = g.dot(g);
    if (gg < minGradientSquared) return geo::Vertex();
    double c = 0.0;
    if (controlParticles.size() != 0) c = parameterGradientDot(floater->position, qDot);
    const geo::Vertex& d = floater->repulsionVelocity;
    const double s = g.dot(d) + c + phi * field.value;
    return d - g * (s / gg);
}

bool ImplicitSurface::isStableFloater(Particle* floater) {
    const double speed = floater->velocity.length();
    return speed < equilibriumFactor * floater->radius &&
           floater->radiusRate / timeStep < stableRateFactor * floater->radius;
}

bool ImplicitSurface::stepOf(const Particle* floater, geo::Vertex& displacement) const {
    displacement = floater->velocity * timeStep;
    // A non-finite step must never reach the grid's cell arithmetic; the floater stays
    // where it is and population control removes it as one that left the surface. A step
    // of exactly zero leaves the position as it is too (the grid's move does nothing).
    return isFinite(displacement) &&
           !(displacement.x == 0.0 && displacement.y == 0.0 && displacement.z == 0.0);
}

void ImplicitSurface::settleFloater(Particle* floater, std::uint64_t version) {
    const geo::Vertex& position = floater->position;
    Particle::FieldSample& field = floater->field;
    fieldAndGradient(position, field.value, field.gradient);
    field.at = position;
    field.version = version;
    const geo::Vertex& g = field.gradient;
    floater->normal = g.normalised();
    // Where the gradient is this weak the next step's constraint leaves the floater where it
    // is, and so does every later one while the model stays as it is.
    floater->stranded = g.dot(g) < minGradientSquared;
    floater->radius = floater->radius + floater->radiusRate * timeStep;
    // A stranded floater barely moves, but it is no settled part of the sample: counted as
    // stable, the floaters a changed model left off its surface (an undone Insert) could
    // pass for a settled system and end the settling in which the new seeds may travel.
    floater->state = !floater->stranded && isStableFloater(floater) ? Particle::Stable
                                                                    : Particle::Moving;
}

void ImplicitSurface::advanceFloater(Particle* floater) {
    geo::Vertex displacement;
    if (stepOf(floater, displacement)) grid.move(floater, displacement);
    settleFloater(floater, fieldVersion());
    if (floater->state == Particle::Stable) ++stableCount;
}

void ImplicitSurface::advance() {
    const ParticleList::Entries& floaters = particles.inOrder();
    const int n = static_cast<int>(floaters.size());
    const std::uint64_t version = fieldVersion();
    // Each floater's move, the field at its new position and its stable test touch nothing
    // but the floater, so they run on every thread. What the chunks gather (the stable count,
    // the bounding box of the new positions and the floaters that change cells) is combined
    // afterwards in chunk order; counts, minima and maxima come out the same in any order.
    struct Chunk {
        int stable = 0;
        geo::Vertex low{1e300, 1e300, 1e300}, high{-1e300, -1e300, -1e300};
        bool boxed = false;
        std::vector<std::pair<Particle*, int>> refiles;  // floater, the cell it moved to
    };
    constexpr int grain = 256;
    std::vector<Chunk> chunks(static_cast<std::size_t>((n + grain - 1) / grain));
    forEachChunk(n, grain, [&](int begin, int end, int) {
        // Gathered here and stored once: chunks side by side in memory share cache lines.
        Chunk chunk;
        for (int i = begin; i < end; ++i) {
            if (end - i > prefetchDistance) prefetchParticle(floaters[i + prefetchDistance]);
            Particle* p = floaters[i];
            geo::Vertex displacement;
            if (stepOf(p, displacement)) {
                const int to = grid.displace(p, displacement);
                if (to >= 0) chunk.refiles.emplace_back(p, to);
            }
            settleFloater(p, version);
            if (p->state == Particle::Stable) ++chunk.stable;
            // A stranded floater is no part of the sample: one thrown far off the surface by
            // a single large step would otherwise stretch the length scale, and with it the
            // desired radius, many times over for as long as it stays.
            if (p->stranded) continue;
            chunk.boxed = true;
            for (int a = 0; a < 3; ++a) {
                if (p->position[a] < chunk.low[a]) chunk.low[a] = p->position[a];
                if (p->position[a] > chunk.high[a]) chunk.high[a] = p->position[a];
            }
        }
        chunks[static_cast<std::size_t>(begin / grain)] = std::move(chunk);
    });
    grid.displaced();
    // The chains' order shows in later sums: floaters change cells here, in list order,
    // exactly as one move after the other would have made them.
    stableCount = 0;
    geo::Vertex low(1e300, 1e300, 1e300), high(-1e300, -1e300, -1e300);
    bool boxed = false;
    for (const Chunk& chunk : chunks) {
        for (const auto& refile : chunk.refiles) grid.refile(refile.first, refile.second);
        stableCount += chunk.stable;
        boxed = boxed || chunk.boxed;
        for (int a = 0; a < 3; ++a) {
            low[a] = std::min(low[a], chunk.low[a]);
            high[a] = std::max(high[a], chunk.high[a]);
        }
    }

    for (Particle* p = controlParticles.first(); p; p = controlParticles.next())
        p->normal = fieldGradient(p->position).normalised();

    // Move the blob centres by qDot dt, three entries per defining point in list order.
    // A velocity that is not finite everywhere (a control particle gone astray) would carry
    // the model away for good, so such a step leaves it where it is.
    const geo::DVector step = qDot.scaled(timeStep);
    bool finite = true;
    for (int i = 0; i < step.length(); ++i) finite = finite && std::isfinite(step[i]);
    int k = 0;
    for (VessikObj* blob = finite ? blobs.first() : nullptr; blob; blob = blobs.next())
        for (int i = 0; i < blob->pointCount() && k + 2 < step.length(); ++i) {
            geo::Vertex* point = blob->point(i);
            point->x += step[k++];
            point->y += step[k++];
            point->z += step[k++];
        }
    // The loop above stops quietly where qDot ends: a velocity shorter than the model's
    // points (the model changed between solveControl and here) would leave blobs behind.
    DCHECK(!finite || step.length() == 0 || (k == step.length() && k == 3 * pointTotal(blobs)),
           "qDot does not hold three entries for every defining point of the model: run "
           "solveControl after every change of the model and before advance");

    if (boxed) lengthScale = (high - low).length() / lengthDivisor;

    settling = settling && !isStable();
}
