// Home: the box around the sample and the camera numbers that make it fill the window.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

#include "model/VessikSpheres.h"
#include "view/Framing.h"
#include "view/Visualize.h"

namespace {

constexpr double pi = 3.14159265358979323846;

// A point of the scene in normalised device units of the camera's perspective, as
// applyCamera and the projection place it (x, y within -1..1 are in the window).
geo::Vertex onScreen(const geo::Vertex& p, const CameraPlacement& camera, int rotX, int rotY,
                     int rotZ, double aspect) {
    const geo::Vertex eye = turnedByCamera(p, rotX, rotY, rotZ) +
                            geo::Vertex(camera.panX, camera.panY, camera.distance);
    const double f = 1.0 / std::tan(Visualize::fieldOfView * pi / 360.0);
    return geo::Vertex(f / aspect * eye.x / -eye.z, f * eye.y / -eye.z, -eye.z);
}

}  // namespace

// Whatever the turn and the window's shape, every corner of the box is in front of the
// eye and inside the window, and the box reaches the fill share on at least one side.
TEST(Framing, TheBoxFillsTheWindowAtAnyTurn) {
    Bounds box;
    box.add(geo::Vertex(-40.0, 10.0, -5.0));
    box.add(geo::Vertex(80.0, 60.0, 25.0));
    struct Case {
        int rotX, rotY, rotZ;
        double aspect;
    };
    const Case cases[] = {{0, 0, 0, 4.0 / 3.0},
                          {30, 45, 0, 4.0 / 3.0},
                          {-90, 10, 200, 1.0},
                          {0, 0, 0, 0.5},
                          {400, -721, 33, 2.5}};
    for (const Case& c : cases) {
        const CameraPlacement camera =
            frameBounds(box, c.rotX, c.rotY, c.rotZ, Visualize::fieldOfView, c.aspect);
        double widest = 0.0;
        for (int i = 0; i < 8; ++i) {
            const geo::Vertex corner((i & 1) ? box.high.x : box.low.x,
                                     (i & 2) ? box.high.y : box.low.y,
                                     (i & 4) ? box.high.z : box.low.z);
            const geo::Vertex s = onScreen(corner, camera, c.rotX, c.rotY, c.rotZ, c.aspect);
            EXPECT_GT(s.z, 0.1) << "behind the near plane, turn " << c.rotX << "," << c.rotY;
            EXPECT_LE(std::fabs(s.x), 1.0) << "turn " << c.rotX << "," << c.rotY;
            EXPECT_LE(std::fabs(s.y), 1.0) << "turn " << c.rotX << "," << c.rotY;
            widest = std::max({widest, std::fabs(s.x), std::fabs(s.y)});
        }
        // Whole-unit pan and distance cost a little of the fill share, never much.
        EXPECT_GT(widest, framingFill - 0.03) << "turn " << c.rotX << "," << c.rotY;
        EXPECT_LE(widest, framingFill + 0.01) << "turn " << c.rotX << "," << c.rotY;
    }
}

// A lone floater has no extent: it is still framed in front of the eye, not on it.
TEST(Framing, APointIsPlacedInFrontOfTheEye) {
    Bounds point;
    point.add(geo::Vertex(3.0, -2.0, 7.0));
    const CameraPlacement camera = frameBounds(point, 0, 0, 0, Visualize::fieldOfView, 1.0);
    EXPECT_EQ(camera.panX, -3);
    EXPECT_EQ(camera.panY, 2);
    EXPECT_LE(camera.distance, -7 - 1);
    EXPECT_EQ(frameBounds(Bounds(), 0, 0, 0, 45.0, 1.0).distance, 0);  // nothing to frame
}

TEST(Framing, SampleBoundsAreTheFloatersOrElseTheBlobs) {
    geo::QList systems;
    VessikSpheres system(defaultIsoValue);
    systems.append(&system);
    VessikObj* blob = system.addBlob(30.0);
    blob->centre() = geo::Vertex(100.0, 0.0, 0.0);
    Bounds bounds = sampleBounds(systems);
    EXPECT_EQ(bounds.low, geo::Vertex(70.0, -30.0, -30.0));
    EXPECT_EQ(bounds.high, geo::Vertex(130.0, 30.0, 30.0));

    system.seedParticles();  // six floaters 0.9 radius out along the axes
    bounds = sampleBounds(systems);
    EXPECT_EQ(bounds.low, geo::Vertex(73.0, -27.0, -27.0));
    EXPECT_EQ(bounds.high, geo::Vertex(127.0, 27.0, 27.0));
    systems.clear();
}
