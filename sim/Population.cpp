// Population control: floaters that left the surface are removed, small ones near
// equilibrium die by a random test, large or crowded ones near equilibrium split in two.
#include <cmath>
#include <cstdint>
#include <vector>

#include "sim/ImplicitSurface.h"

namespace {

const double kPi = 3.141592653589793;
// How many floaters ahead of the one being decided the records are fetched.
constexpr int prefetchDistance = 4;

bool nearEquilibrium(const Particle* p, double equilibriumFactor) {
    return p->velocity.length() < equilibriumFactor * p->radius;
}

// A floater whose numbers broke down has left the surface in every sense that matters.
bool brokeDown(const Particle* p) {
    return !isFinite(p->position) || !isFinite(p->velocity) || !std::isfinite(p->radius);
}

}  // namespace

int ImplicitSurface::randomBelow(int n) {
    if (n <= 0) return 0;
    return static_cast<int>(random() % static_cast<std::uint32_t>(n));
}

bool ImplicitSurface::wantsFission(Particle* floater) {
    if (!nearEquilibrium(floater, equilibriumFactor)) return false;
    const double sigma = floater->radius;
    return sigma > maxRadius ||
           (floater->energy > fissionEnergyFactor * desiredEnergy && sigma > desiredRadius);
}

bool ImplicitSurface::mayDie(const Particle* floater) const {
    return nearEquilibrium(floater, equilibriumFactor) &&
           floater->radius < deathRadiusFactor * desiredRadius;
}

bool ImplicitSurface::wantsDeath(Particle* floater) {
    if (!mayDie(floater)) return false;
    // The survival chance is the floater's share of the death radius, sigma / (delta sigma^),
    // so the smaller it is the likelier it dies. Multiplying by sigma^ instead would make the
    // bound a squared length: it would spare tiny floaters, kill nearly every small one once
    // sigma^ drops below 1, and so empty the sample at low densities or on small models.
    const double r = randomBelow(1000001) * 1e-6;
    return r > floater->radius / (deathRadiusFactor * desiredRadius);
}

void ImplicitSurface::fission(Particle* floater) {
    const int saved = stableCount - (floater->state == Particle::Stable ? 1 : 0);
    const double theta = randomBelow(1000001) * 1e-6 * 2.0 * kPi;
    const double psi = randomBelow(1000001) * 1e-6 * 2.0 * kPi;
    const geo::Vertex d(std::cos(theta) * std::sin(psi), std::sin(theta) * std::sin(psi),
                        std::cos(psi));
    floater->repulsionVelocity = d * floater->radius;
    floater->radius = floater->radius / std::sqrt(2.0);
    floater->radiusRate = 0.0;
    floater->state = Particle::Moving;

    Particle* child = new Particle(*floater);
    particles.append(child);
    grid.insert(child);
    child->repulsionVelocity = floater->repulsionVelocity * -1.0;

    floater->velocity = constrainedVelocity(floater);
    advanceFloater(floater);
    child->velocity = constrainedVelocity(child);
    advanceFloater(child);
    stableCount = saved;
}

void ImplicitSurface::controlPopulation() {
    const int before = particles.size();
    const ParticleList::Entries& floaters = particles.inOrder();
    const int n = static_cast<int>(floaters.size());
    // What decides each floater's fate but the random draws reads that floater alone (the
    // field value is the one advance took at its new position), so it is worked out on
    // every thread first; the draws then follow in list order, as they always have.
    enum Fate : std::uint8_t { Stays = 0, Leaves = 1, MayDie = 2, MaySplit = 4 };
    std::vector<std::uint8_t> fates(static_cast<std::size_t>(n));
    const std::uint64_t version = fieldVersion();
    forEachChunk(n, 2048, [&](int begin, int end, int) {
        for (int i = begin; i < end; ++i) {
            if (end - i > prefetchDistance) prefetchParticle(floaters[i + prefetchDistance]);
            Particle* p = floaters[static_cast<std::size_t>(i)];
            if (p->state == Particle::Control) continue;
            // While the system settles, floaters off the surface are on their way to it and
            // stay. Not so one whose radius has shrunk to nothing, whose push on its
            // neighbours grows as 1/sigma^2 (and whose radius rate turns unstable below
            // zero), nor one stranded where the constraint can never move it: they go at
            // any time.
            bool leaves = brokeDown(p) || p->radius <= 0.0 || p->stranded;
            if (!leaves && !settling) leaves = std::fabs(fieldAt(p, version).value) > 0.01;
            fates[static_cast<std::size_t>(i)] =
                leaves ? Leaves : (mayDie(p) ? MayDie : Stays) | (wantsFission(p) ? MaySplit : 0);
        }
    });

    // Removal and death, in list order. Survivors keep their order; the list is compacted
    // in one pass rather than by a linear search per removed floater. Fission then goes
    // over the survivors that may split; the halves it appends are not visited.
    std::vector<Particle*> splitters;
    std::size_t at = 0;
    particles.retain([&](Particle* p) {
        const std::uint8_t fate = fates[at++];
        const bool remove = (fate & Leaves) || ((fate & MayDie) && wantsDeath(p));
        if (remove) {
            grid.remove(p);
            // A removed floater leaves the stable count too, as a split one does; otherwise
            // the count could exceed the floaters left and hand off a half-emptied sample.
            if (p->state == Particle::Stable) --stableCount;
        } else if (fate & MaySplit) {
            splitters.push_back(p);
        }
        return !remove;
    });

    // The ceiling holds the sample back only while the population is at it: once a
    // coarser density has thinned it out, it no longer explains a sample that is not
    // stable.
    if (particles.size() < maxFloaters) floaterCeilingReached = false;

    int splits = 0;
    for (Particle* p : splitters) {
        // A ceiling keeps memory bounded whatever density is asked for.
        if (particles.size() >= maxFloaters) {
            floaterCeilingReached = true;
            break;
        }
        fission(p);
        ++splits;
    }
    populationChanged = splits > 0 || particles.size() != before;
}
