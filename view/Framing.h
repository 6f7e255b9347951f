// Framing the sample: the box around what the picture shows, and the camera numbers that
// make a box fill the window at the camera's present turn. Plain functions, without GL.
#pragma once

#include "geo/QList.h"
#include "geo/Vertex.h"

struct Bounds {
    geo::Vertex low, high;
    bool empty = true;

    void add(const geo::Vertex& point);
};

// The floaters of every system (a list of ImplicitSurface); when no system has one, the
// blobs, each as its centre plus and minus its radius, where a lone blob's surface lies.
Bounds sampleBounds(geo::QList& systems);

struct CameraPlacement {
    int panX = 0, panY = 0, distance = 0;  // whole units, as the camera keeps them
};

// Share of the window's half-width and half-height that a framed box may take.
constexpr double framingFill = 0.9;

// Pan and distance that centre `bounds` in the view and fit all of it, with a margin,
// into a perspective of `fieldOfView` degrees vertically and `aspect` (width / height),
// the scene turned by rotX, rotY, rotZ whole degrees as the camera turns it. The turn is
// kept: framing shows the sample from where the user looks at it.
CameraPlacement frameBounds(const Bounds& bounds, int rotX, int rotY, int rotZ, double fieldOfView,
                            double aspect);

// `point` turned as the camera turns the scene: about z by rotZ, then y, then x.
geo::Vertex turnedByCamera(const geo::Vertex& point, int rotX, int rotY, int rotZ);
// The inverse: about x by -rotX, then y, then z.
geo::Vertex turnedBackByCamera(const geo::Vertex& point, int rotX, int rotY, int rotZ);
// Where the eye stands in the scene's own coordinates under the camera numbers.
geo::Vertex eyeInScene(int panX, int panY, int distance, int rotX, int rotY, int rotZ);
