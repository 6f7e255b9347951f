// The two passes that move the floaters each step. Every sum runs over the neighbour
// list in query order and no pair is cut off by distance, so a step gives the same
// numbers however the grid's cells happen to be sized.
#include <cmath>
#include <cstddef>

#include "sim/ImplicitSurface.h"

namespace {

bool isFinite(const geo::Vertex& v) {
    return std::isfinite(v.x) && std::isfinite(v.y) && std::isfinite(v.z);
}

// How many floaters ahead of the one being worked on the records are fetched: a few
// for the passes that do much per floater, more for the sum of the radii.
constexpr int prefetchDistance = 4;
constexpr std::size_t radiusPrefetchDistance = 16;

}  // namespace

// The pair sums of one floater over `neighbours`: the repulsion push (before its final
// scaling by sigma squared), the energy E and S = sum |pi - pj|^2 Eij. One pass feeds both
// the repulsion and the radius rate, so each pair's two exponentials are taken once.
ImplicitSurface::PairSums ImplicitSurface::sumPairs(const Particle* floater) const {
    PairSums sums;
    const geo::Vertex& pi = floater->position;
    const double si = floater->radius;
    const double si2 = si * si;
    for (const FastRepulsion::PackedRun& run : neighbours)
        for (const FastRepulsion::PackedFloater* other = run.begin; other != run.end; ++other) {
            if (other->particle == floater) continue;
            const geo::Vertex d = pi - other->position;
            const double d2 = d.squaredLength();
            const double sj = other->radius;
            const double sj2 = sj * sj;
            const double eij = repulsionAmplitude * std::exp(-d2 / (2.0 * si2));
            const double eji = repulsionAmplitude * std::exp(-d2 / (2.0 * sj2));
            sums.push += d * (eij / si2) + d * (eji / sj2);
            sums.energy += eij;
            sums.weightedDistance += d2 * eij;
        }
    return sums;
}

const ImplicitSurface::PairSums& ImplicitSurface::pairSums(const Particle* floater) {
    if (pairSumsOf != floater) {
        pairSumsValue = sumPairs(floater);
        pairSumsOf = floater;
    }
    return pairSumsValue;
}

void ImplicitSurface::computeForces() {
    const int n = particles.size();
    const ParticleList::Entries& floaters = particles.inOrder();
    if (n > 0) {
        double sum = 0.0;
        for (std::size_t i = 0; i < floaters.size(); ++i) {
            if (i + radiusPrefetchDistance < floaters.size())
                __builtin_prefetch(&floaters[i + radiusPrefetchDistance]->radius);
            sum += 3.0 * floaters[i]->radius;
        }
        grid.interactionRange = sum / n;
    }
    // No position or radius changes during this pass, so the neighbours are read from one
    // packed copy of the grid instead of by following its chains, query after query.
    grid.pack();
    auto evaluate = [this](Particle* p) {
        neighbours.clear();
        pairSumsOf = nullptr;
        grid.queryPacked(p->position, p->radius * neighbourRadiusFactor, neighbours);
        p->repulsionVelocity = computeRepulsion(p);
        double energy = 0.0;
        p->radiusRate = energyAndRadiusRate(p, energy);
        p->energy = energy;
        p->velocity = constrainedVelocity(p);
    };
    // An evaluation reads only positions and radii, which stay as the last step left them,
    // and writes only the floater's own D, E, sigma dot and P: the order in which the
    // floaters are evaluated shows in no result. So when the grid files exactly the
    // floaters of the list (every floater leaves the grid before it is deleted, so equal
    // counts mean equal sets), they go in the grid's cell order, in which consecutive
    // floaters are neighbours and find their cells and neighbours still in cache.
    if (grid.getCount() == n) {
        const FastRepulsion::PackedRun all = grid.packedFloaters();
        for (const FastRepulsion::PackedFloater* f = all.begin; f != all.end; ++f) {
            // Floaters lie in memory in the order they were made, not in cell order: ask
            // for the records of the next ones early, so they arrive while this one works.
            if (all.end - f > prefetchDistance) prefetchParticle(f[prefetchDistance].particle);
            evaluate(f->particle);
        }
    } else {
        for (Particle* p : floaters) evaluate(p);
    }
    neighbours.clear();
    pairSumsOf = nullptr;
}

geo::Vertex ImplicitSurface::computeRepulsion(Particle* floater) {
    if (floater->state == Particle::Control) return floater->repulsionVelocity;
    const double si = floater->radius;
    return pairSums(floater).push * (si * si);
}

double ImplicitSurface::energyAndRadiusRate(Particle* floater, double& energy) {
    if (floater->state == Particle::Control) {
        energy = 0.0;
        return 0.0;
    }
    const PairSums& sums = pairSums(floater);
    const double si = floater->radius;
    const double dEdSigma = sums.weightedDistance / (si * si * si);
    energy = sums.energy;
    return -energyRate * (sums.energy - desiredEnergy) / (dEdSigma + appliedRadiusDamping);
}

geo::Vertex ImplicitSurface::constrainedVelocity(Particle* floater) {
    const geo::Vertex g = fieldGradient(floater->position);
    const double gg = g.dot(g);
    if (gg < minGradientSquared) return geo::Vertex();
    double c = 0.0;
    if (controlParticles.size() != 0) c = parameterGradient(floater->position).dot(qDot);
    const geo::Vertex& d = floater->repulsionVelocity;
    const double s = g.dot(d) + c + phi * fieldValue(floater->position);
    return d - g * (s / gg);
}

bool ImplicitSurface::isStableFloater(Particle* floater) {
    const double speed = floater->velocity.length();
    return speed < equilibriumFactor * floater->radius &&
           floater->radiusRate / timeStep < stableRateFactor * floater->radius;
}

void ImplicitSurface::advanceFloater(Particle* floater) {
    const geo::Vertex displacement = floater->velocity * timeStep;
    // A non-finite step must never reach the grid's cell arithmetic; the floater stays
    // where it is and population control removes it as one that left the surface.
    if (isFinite(displacement)) grid.move(floater, displacement);
    const geo::Vertex g = fieldGradient(floater->position);
    floater->normal = g.normalised();
    // Where the gradient is this weak the next step's constraint leaves the floater where it
    // is, and so does every later one while the model stays as it is.
    floater->stranded = g.dot(g) < minGradientSquared;
    floater->radius = floater->radius + floater->radiusRate * timeStep;
    floater->state = isStableFloater(floater) ? Particle::Stable : Particle::Moving;
    if (floater->state == Particle::Stable) ++stableCount;
}

void ImplicitSurface::advance() {
    stableCount = 0;
    // The bounding box of the new positions is gathered in the same walk: a floater's
    // position changes only in its own advanceFloater, so each is taken at its final value.
    geo::Vertex low(1e300, 1e300, 1e300), high(-1e300, -1e300, -1e300);
    bool boxed = false;
    const ParticleList::Entries& floaters = particles.inOrder();
    for (std::size_t i = 0; i < floaters.size(); ++i) {
        if (i + prefetchDistance < floaters.size())
            prefetchParticle(floaters[i + prefetchDistance]);
        Particle* p = floaters[i];
        advanceFloater(p);
        // A stranded floater is no part of the sample: one thrown far off the surface by a
        // single large step would otherwise stretch the length scale, and with it the
        // desired radius, many times over for as long as it stays.
        if (p->stranded) continue;
        boxed = true;
        for (int a = 0; a < 3; ++a) {
            if (p->position[a] < low[a]) low[a] = p->position[a];
            if (p->position[a] > high[a]) high[a] = p->position[a];
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

    if (boxed) lengthScale = (high - low).length() / lengthDivisor;

    settling = settling && !isStable();
}
