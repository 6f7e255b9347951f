#include "model/VessikSpheres.h"

#include <cmath>

namespace {

// f_i(x) = exp(-|x - c|^2 / R^2): 1 at the centre, 1/e at distance R.
double contribution(const geo::Vertex& x, VessikObj* blob) {
    const geo::Vertex d = x - blob->centre();
    const double s = -(d.dot(d));
    return std::exp(s / blob->radiusPower(2));
}

}  // namespace

VessikSpheres::VessikSpheres(double isoValue) : ImplicitSurface(1, isoValue) {}

double VessikSpheres::fieldValue(const geo::Vertex& x) {
    double sum = 0.0;
    for (VessikObj* blob = blobs.first(); blob; blob = blobs.next()) sum += contribution(x, blob);
    return isoValue - sum;
}

geo::Vertex VessikSpheres::fieldGradient(const geo::Vertex& x) {
    geo::Vertex g;
    for (VessikObj* blob = blobs.first(); blob; blob = blobs.next()) {
        const double f = contribution(x, blob);
        // A blob too far away to contribute adds nothing, also when x - c overflowed (the
        // product inf * 0 would be NaN).
        if (f == 0.0) continue;
        g += (x - blob->centre()) * (f / blob->radiusPower(2));
    }
    return 2.0 * g;
}

geo::Vertex VessikSpheres::blobGradient(const geo::Vertex& x, VessikObj* blob) {
    const double f = contribution(x, blob);
    if (f == 0.0) return geo::Vertex();  // as in fieldGradient: no NaN from an overflowed x - c
    return (f * -2.0 / blob->radiusPower(2)) * (x - blob->centre());
}

geo::DVector VessikSpheres::parameterGradient(const geo::Vertex& x) {
    geo::DVector gradient;
    for (VessikObj* blob = blobs.first(); blob; blob = blobs.next()) {
        const geo::Vertex g = blobGradient(x, blob);
        gradient.append(g.x);
        gradient.append(g.y);
        gradient.append(g.z);
    }
    return gradient;
}

geo::DVector VessikSpheres::baseParameterVelocity() {
    return geo::DVector(parameterCount());
}

int VessikSpheres::parameterCount() {
    return 3 * blobs.count();
}

// A radius the field cannot use (zero, negative, not finite, or with R^2 zero or infinite)
// is refused with null, so no blob in the model can make the field divide by zero.
// A blob added or removed moves the surface away from floaters that sat on it: the
// system settles again, so that population control does not remove all of them at once
// (after which no floater could ever come back) but lets the constraint carry them over.
// And no floater counts as stable any more, so a settled system steps again at once.
void ImplicitSurface::unsettle() {
    settling = true;
    stableCount = 0;
    for (Particle* p : particles.inOrder()) p->state = Particle::Moving;
}

VessikObj* ImplicitSurface::addBlob(double radius) {
    if (!VessikObj::usableRadius(radius)) return nullptr;
    unsettle();
    return blobs.add(radius);
}

bool ImplicitSurface::removeBlob(VessikObj* blob) {
    if (blobs.count() == 1) return false;
    const bool removed = blobs.remove(blob);
    if (removed) unsettle();
    return removed;
}
