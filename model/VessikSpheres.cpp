#include "model/VessikSpheres.h"

#include <cmath>

VessikSpheres::VessikSpheres(double isoValue) : ImplicitSurface(1, isoValue) {}

const BlobIndex& VessikSpheres::blobIndex() {
    // Every change of the model moves the list's change count, so a stale index cannot be
    // used. Evaluations on several threads at once find it current (the passes bring it up
    // to date through fieldVersion before they split up) and only read it.
    if (!index.isCurrent(blobs)) index.refresh(blobs);
    return index;
}

std::uint64_t VessikSpheres::fieldVersion() { return blobIndex().version(); }

double VessikSpheres::fieldValue(const geo::Vertex& x) {
    return isoValue - blobIndex().sum(x, nullptr);
}

geo::Vertex VessikSpheres::fieldGradient(const geo::Vertex& x) {
    geo::Vertex half;
    blobIndex().sum(x, &half);
    return 2.0 * half;
}

void VessikSpheres::fieldAndGradient(const geo::Vertex& x, double& value, geo::Vertex& gradient) {
    geo::Vertex half;
    value = isoValue - blobIndex().sum(x, &half);
    gradient = 2.0 * half;
}

geo::Vertex VessikSpheres::blobGradient(const geo::Vertex& x, VessikObj* blob) {
    // By position in the list: the index keeps the blobs in list order.
    int i = 0;
    for (VessikObj* b = blobs.first(); b && b != blob; b = blobs.next()) ++i;
    const BlobIndex& near = blobIndex();
    if (i >= near.size()) return geo::Vertex();
    const double f = near.contribution(x, i);
    if (f == 0.0) return geo::Vertex();  // as in fieldGradient: no NaN from an overflowed x - c
    const geo::Vertex& c = static_cast<const VessikObj*>(blob)->centre();
    return (f * -2.0 / blob->radiusPower(2)) * (x - c);
}

geo::DVector VessikSpheres::parameterGradient(const geo::Vertex& x) {
    const BlobIndex& near = blobIndex();
    geo::DVector gradient(3 * near.size());
    near.blobGradients(x, gradient);
    return gradient;
}

double VessikSpheres::parameterGradientDot(const geo::Vertex& x, const geo::DVector& v) {
    return blobIndex().blobGradientsDot(x, v);
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
