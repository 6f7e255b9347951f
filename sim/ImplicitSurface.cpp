#include "sim/ImplicitSurface.h"

#include <cmath>
#include <ctime>

ImplicitSurface::ImplicitSurface(char blobKind, double isoValue)
    : blobs(blobKind),
      isoValue(isoValue),
      desiredEnergy(std::exp(-2.0) * 6.0 * repulsionAmplitude),
      lengthScale(lengthDivisor),
      random(static_cast<std::uint32_t>(std::time(nullptr))) {
    // Until the first force pass measures the floaters, the range matches the cell size
    // closely enough (between 0.7 and 1.0 cells) that the first adapt keeps the cells.
    grid.interactionRange = 0.85 * grid.getCellSize();
    setDensity(1.0);
}

// No member refers to another while it is destroyed (the grid only frees its cells),
// so the members' own order of destruction is safe.
ImplicitSurface::~ImplicitSurface() = default;

void ImplicitSurface::seedRandom(std::uint32_t seed) { random.seed(seed); }

double ImplicitSurface::setDensity(double density) {
    const double previous = desiredRadius;
    desiredRadius = 0.25 * lengthScale * density;
    const double floor = 0.5 * lengthScale;
    const double scaled = 1.5 * desiredRadius;
    maxRadius = floor >= scaled ? floor : scaled;
    // A floater with six neighbours at twice its radius has dE/dsigma = 4 E^ / sigma. Below
    // sigma = 4 E^ / beta that term outweighs the damping, and every radius then follows
    // the slightest jitter of its neighbours: a fine sample keeps about a tenth of its
    // floaters failing the radius-rate test and is never found stable. So the damping is
    // kept at 4 E^ / sigma^ or more, which makes both terms equal at the desired radius;
    // for the examples at densities of 2 and above, where sigma^ exceeds 4 E^ / beta, it is
    // beta itself.
    const double floorDamping = 4.0 * desiredEnergy / desiredRadius;
    appliedRadiusDamping =
        desiredRadius > 0.0 && floorDamping > radiusDamping && std::isfinite(floorDamping)
            ? floorDamping
            : radiusDamping;
    return previous;
}

bool ImplicitSurface::isStable() {
    const int n = particles.size();
    if (n < 6 * blobs.count()) return false;
    if (n == 0) return false;  // an empty model with no floaters has no stable share
    return static_cast<double>(stableCount) / n >= stableFraction;
}

Particle* ImplicitSurface::addControlParticle(Particle* particle) {
    if (controlParticles.size() == parameterCount()) return nullptr;
    controlParticles.append(particle);
    return particle;
}

void ImplicitSurface::releaseControlParticles() { controlParticles.clear(); }

bool ImplicitSurface::triangulate() {
    if (!reconstruct.buildNodes(&particles)) return false;
    meshCurrent = true;
    return reconstruct.triangulate();
}

void ImplicitSurface::discardMesh() {
    meshCurrent = false;
    if (reconstruct.triangleCount() != 0) reconstruct.clearTriangles();
}

void ImplicitSurface::adaptGrid() {
    const double domain = lengthScale * lengthDivisor;
    // A sample whose extent or radii overflowed must not size the cells to infinity.
    if (!std::isfinite(domain) || !std::isfinite(grid.interactionRange)) return;
    grid.adapt(domain, grid.interactionRange);
}
