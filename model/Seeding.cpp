#include <cmath>

#include "geo/Check.h"
#include "sim/ImplicitSurface.h"

namespace {

constexpr int seedsPerBlob = 6;

// The bounding-box diagonal that a model is brought near: the examples span 104 to 193
// units, and every power of two maps some size into [100, 200), the band around this.
const double workingExtent = 100.0 * std::sqrt(2.0);

// The diagonal of the box that holds every blob's sphere; 0 without blobs.
double blobExtent(VessikList& blobs) {
    geo::Vertex low(1e300, 1e300, 1e300), high(-1e300, -1e300, -1e300);
    bool any = false;
    for (VessikObj* blob = blobs.first(); blob; blob = blobs.next()) {
        const geo::Vertex& c = blob->centre();
        const double r = blob->getRadius();
        for (int a = 0; a < 3; ++a) {
            low[a] = std::fmin(low[a], c[a] - r);
            high[a] = std::fmax(high[a], c[a] + r);
        }
        any = true;
    }
    return any ? (high - low).length() : 0.0;
}

}  // namespace

bool ImplicitSurface::startSampling() {
    // Nothing made in the old units may outlive the change of scale.
    releaseControlParticles();
    discardMesh();
    fitWorkingScale();
    return seedParticles();
}

void ImplicitSurface::fitWorkingScale() {
    const double extent = blobExtent(blobs);
    if (!(extent > 0.0) || !std::isfinite(extent)) return;
    // The power of two nearest to the ratio, so the scaled extent lands in [100, 200);
    // models already there, the examples among them, are left exactly as they are.
    const int exponent = static_cast<int>(std::lround(std::log2(workingExtent / extent)));
    if (exponent == 0) return;
    const double factor = std::ldexp(1.0, exponent);
    for (VessikObj* blob = blobs.first(); blob; blob = blobs.next()) blob->scale(factor);
    unitScale *= factor;
}

bool ImplicitSurface::seedParticles() {
    grid.removeAll(particles);
    // A floater the grid could not take out would stay chained after the list deletes it.
    CHECK(grid.getCount() == 0,
          "the grid still files floaters after removing every one of the list: a floater was "
          "moved behind the grid's back or filed without being listed");
    particles.clear();
    floaterCeilingReached = false;
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
