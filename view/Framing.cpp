#include "view/Framing.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "sim/ImplicitSurface.h"

namespace {

constexpr double pi = 3.14159265358979323846;
// Nothing framed comes closer to the eye than this (the near plane is at 0.1).
constexpr double nearestDepth = 1.0;

double radians(int degrees) {
    return degrees * pi / 180.0;
}

int wholeUnits(double value) {
    const double limit = std::numeric_limits<int>::max() / 2;
    return static_cast<int>(std::clamp(value, -limit, limit));
}

}  // namespace

void Bounds::add(const geo::Vertex& point) {
    if (empty) {
        low = high = point;
        empty = false;
        return;
    }
    low = geo::Vertex(std::min(low.x, point.x), std::min(low.y, point.y), std::min(low.z, point.z));
    high = geo::Vertex(std::max(high.x, point.x), std::max(high.y, point.y),
                       std::max(high.z, point.z));
}

Bounds sampleBounds(geo::QList& systems) {
    Bounds bounds;
    for (int i = 0; i < systems.count(); ++i) {
        ImplicitSurface* system = static_cast<ImplicitSurface*>(systems.at(i));
        for (const Particle* p : system->particles.inOrder()) bounds.add(p->position);
    }
    if (!bounds.empty) return bounds;
    for (int i = 0; i < systems.count(); ++i) {
        VessikList& blobs = static_cast<ImplicitSurface*>(systems.at(i))->blobs;
        for (VessikObj* blob = blobs.first(); blob != nullptr; blob = blobs.next()) {
            const double r = blob->getRadius();
            bounds.add(blob->centre() - geo::Vertex(r, r, r));
            bounds.add(blob->centre() + geo::Vertex(r, r, r));
        }
    }
    return bounds;
}

namespace {

// `point` turned by `degrees` about the x (0), y (1) or z (2) axis.
geo::Vertex turnedAbout(int axis, int degrees, const geo::Vertex& point) {
    const double c = std::cos(radians(degrees)), s = std::sin(radians(degrees));
    switch (axis) {
        case 0:
            return geo::Vertex(point.x, point.y * c - point.z * s, point.y * s + point.z * c);
        case 1:
            return geo::Vertex(point.x * c + point.z * s, point.y, -point.x * s + point.z * c);
        default:
            return geo::Vertex(point.x * c - point.y * s, point.x * s + point.y * c, point.z);
    }
}

}  // namespace

geo::Vertex turnedByCamera(const geo::Vertex& point, int rotX, int rotY, int rotZ) {
    // The model-view matrix is T Rx Ry Rz: a point is turned about z first.
    return turnedAbout(0, rotX, turnedAbout(1, rotY, turnedAbout(2, rotZ, point)));
}

geo::Vertex turnedBackByCamera(const geo::Vertex& point, int rotX, int rotY, int rotZ) {
    return turnedAbout(2, -rotZ, turnedAbout(1, -rotY, turnedAbout(0, -rotX, point)));
}

geo::Vertex eyeInScene(int panX, int panY, int distance, int rotX, int rotY, int rotZ) {
    // The eye is the origin of the camera's space; undo the translation, then the turns.
    return turnedBackByCamera(geo::Vertex(-panX, -panY, -distance), rotX, rotY, rotZ);
}

CameraPlacement frameBounds(const Bounds& bounds, int rotX, int rotY, int rotZ, double fieldOfView,
                            double aspect) {
    CameraPlacement placement;
    if (bounds.empty) return placement;
    geo::Vertex corners[8];
    for (int i = 0; i < 8; ++i) {
        const geo::Vertex corner((i & 1) ? bounds.high.x : bounds.low.x,
                                 (i & 2) ? bounds.high.y : bounds.low.y,
                                 (i & 4) ? bounds.high.z : bounds.low.z);
        corners[i] = turnedByCamera(corner, rotX, rotY, rotZ);
    }
    double left = corners[0].x, right = left, bottom = corners[0].y, top = bottom;
    for (const geo::Vertex& c : corners) {
        left = std::min(left, c.x);
        right = std::max(right, c.x);
        bottom = std::min(bottom, c.y);
        top = std::max(top, c.y);
    }
    placement.panX = wholeUnits(std::round(-(left + right) / 2.0));
    placement.panY = wholeUnits(std::round(-(bottom + top) / 2.0));
    // Each corner, at eye-space depth -(z + distance), fits when its offset from the
    // axis is within the fill share of the view's half-width and half-height there.
    const double tanY = std::tan(fieldOfView * pi / 360.0) * framingFill;
    const double tanX = tanY * aspect;
    double distance = std::numeric_limits<double>::infinity();
    for (const geo::Vertex& c : corners) {
        const double x = std::fabs(c.x + placement.panX);
        const double y = std::fabs(c.y + placement.panY);
        const double depth = std::max({x / tanX, y / tanY, nearestDepth});
        distance = std::min(distance, -c.z - depth);
    }
    // Rounded away from the eye, so the box still fits.
    placement.distance = wholeUnits(std::floor(distance));
    return placement;
}
