#include "model/VessikObj.h"

#include <cfloat>

VessikObj::VessikObj(char kind, double radius) : radius(radius) {
    const int defining = kind == 1 ? 1 : (kind == 2 ? 2 : 0);
    for (int i = 0; i < defining; ++i) points.append(new geo::Vertex);
    firstPoint = static_cast<geo::Vertex*>(points.first());
}

VessikObj::~VessikObj() {
    for (void* p = points.first(); p; p = points.next()) delete static_cast<geo::Vertex*>(p);
}

double VessikObj::radiusPower(int n) const {
    double power = 1.0;
    for (int i = 0; i < n; ++i) power *= radius;
    return power;
}

void VessikObj::scale(double factor) {
    touch();
    radius *= factor;
    for (void* p = points.first(); p; p = points.next()) {
        geo::Vertex& point = *static_cast<geo::Vertex*>(p);
        point = point * factor;
    }
}

bool VessikObj::usableRadius(double radius) {
    // R^2 must be a normal, finite double: then 1/R^2 is finite too, so neither the field,
    // its gradient nor the blob gradient can divide by zero or produce NaN, even at the centre.
    const double squared = radius * radius;
    return radius > 0.0 && squared >= DBL_MIN && squared <= DBL_MAX;
}

VessikList::~VessikList() {
    for (VessikObj* blob = first(); blob; blob = next()) delete blob;
}

VessikObj* VessikList::add(double radius) {
    VessikObj* blob = new VessikObj(kind, radius);
    blob->changes = &changeCount;
    items.append(blob);
    ++changeCount;
    return blob;
}

bool VessikList::remove(VessikObj* blob) {
    int index = 0;
    for (VessikObj* b = first(); b; b = next(), ++index) {
        if (b != blob) continue;
        delete b;
        items.removeAt(index);
        ++changeCount;
        return true;
    }
    return false;
}
