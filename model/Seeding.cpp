#include <cmath>

#include "sim/ImplicitSurface.h"

namespace {

constexpr int seedsPerBlob = 6;

}  // namespace

bool ImplicitSurface::seedParticles() {
    grid.removeAll(particles);
    particles.clear();
    bool everyBlob = true;
    for (VessikObj* blob = blobs.first(); blob; blob = blobs.next()) {
        // The ceiling that bounds fission bounds the seeds too: a model of a million blobs
        // would otherwise take six million floaters before the first step.
        if (particles.size() + seedsPerBlob > maxFloaters) {
            floaterCeilingReached = true;
            everyBlob = false;
            break;
        }
        seedBlob(blob);
    }
    stableCount = 0;
    settling = true;
    return everyBlob;
}

// Six floaters at 0.9 R on either side of the centre along each axis, inside the solid;
// the surface constraint carries them out to F = 0 over the first steps. Walks only the
// blob's own points, so seedParticles' walk over `blobs` is undisturbed.
void ImplicitSurface::seedBlob(VessikObj* blob) {
    const geo::Vertex c = blob->centre();
    const double d = blob->radiusPower(1) * 0.9;
    // The whole-number part of the desired energy serves as the starting radius (4.0 by
    // default); trunc rather than an integer cast keeps odd energies defined.
    const double sigma0 = std::trunc(desiredEnergy);
    const geo::Vertex positions[6] = {
        {c.x + d, c.y, c.z}, {c.x - d, c.y, c.z}, {c.x, c.y + d, c.z},
        {c.x, c.y - d, c.z}, {c.x, c.y, c.z + d}, {c.x, c.y, c.z - d},
    };
    for (const geo::Vertex& position : positions)
        grid.insert(particles.createParticle(position, sigma0));
}
