#include <gtest/gtest.h>

#include <cmath>

#include "view/Scene.h"
#include "view/Visualize.h"

TEST(SceneRules, MeshViewOnlyWhenStableWithAMeshMode) {
    EXPECT_EQ(chooseView(false, true), SceneView::Simulation);
    EXPECT_EQ(chooseView(true, false), SceneView::Simulation);
    EXPECT_EQ(chooseView(false, false), SceneView::Simulation);
    EXPECT_EQ(chooseView(true, true), SceneView::Mesh);
}

TEST(SceneRules, ProgressiveMeshShowsOneMorePerFrameThenHolds) {
    // Three triangles from a fresh start: 1, 2, 3, 3, ...; the counter stops at 4.
    int progress = 1;
    const int expected[] = {1, 2, 3, 3, 3};
    for (int shown : expected) {
        EXPECT_EQ(trianglesShown(true, 3, progress), shown);
        progress = nextProgress(true, 3, progress);
    }
    EXPECT_EQ(progress, 4);
}

TEST(SceneRules, WithoutProgressiveEveryTriangleAndTheCounterKeeps) {
    EXPECT_EQ(trianglesShown(false, 7, 2), 7);
    EXPECT_EQ(nextProgress(false, 7, 2), 2);
    EXPECT_EQ(trianglesShown(true, 0, 1), 0);
}

namespace {

// Degrees are derived through acos and 180/pi: a few ulps of slack.
constexpr double angleTolerance = 1e-12;

}  // namespace

TEST(DiskTurn, TiltsAboutTheAxisAcrossFromTheNormal) {
    const geo::Vertex axis(0.0, 0.0, 1.0);
    // A normal along +x: 90 degrees about (0, 1, 0), the axis x normal.
    Visualize::DiskTurn turn = Visualize::diskTurn(axis, geo::Vertex(1.0, 0.0, 0.0));
    EXPECT_NEAR(turn.angle, 90.0, angleTolerance);
    EXPECT_EQ(turn.turnAxis, geo::Vertex(0.0, 1.0, 0.0));
    // The length of the normal does not matter; 45 degrees toward -y about (1, 0, 0).
    turn = Visualize::diskTurn(axis, geo::Vertex(0.0, -2.0, 2.0));
    EXPECT_NEAR(turn.angle, 45.0, angleTolerance);
    EXPECT_EQ(turn.turnAxis, geo::Vertex(2.0, 0.0, 0.0));
}

TEST(DiskTurn, NormalsAlongTheAxisAndTheZeroNormal) {
    const geo::Vertex axis(0.0, 0.0, 1.0);
    Visualize::DiskTurn turn = Visualize::diskTurn(axis, geo::Vertex(0.0, 0.0, 1.0));
    EXPECT_EQ(turn.angle, 0.0);
    // Straight against the axis: turned over about x, never about a zero axis.
    turn = Visualize::diskTurn(axis, geo::Vertex(0.0, 0.0, -1.0));
    EXPECT_EQ(turn.angle, 180.0);
    EXPECT_EQ(turn.turnAxis, geo::Vertex(1.0, 0.0, 0.0));
    turn = Visualize::diskTurn(axis, geo::Vertex(0.0, 0.0, 0.0));
    EXPECT_EQ(turn.angle, 0.0);
    EXPECT_FALSE(std::isnan(turn.angle));
}

TEST(Visualize, WindowlessViewKeepsCameraNumbersAndSize) {
    Visualize view;
    view.initGL();
    EXPECT_EQ(view.distance, -300);
    EXPECT_EQ(view.framesDrawn, 0);
    view.rotate(1, 2, 3);
    view.pan(-4, 5);
    view.zoom(-10);
    EXPECT_EQ(view.rotX, 1);
    EXPECT_EQ(view.rotY, 2);
    EXPECT_EQ(view.rotZ, 3);
    EXPECT_EQ(view.panX, -4);
    EXPECT_EQ(view.panY, 5);
    EXPECT_EQ(view.distance, -310);
    // A height of 0 is stored as 1, so the aspect never divides by zero.
    view.resize(640, 0);
    EXPECT_EQ(view.width, 640);
    EXPECT_EQ(view.height, 1);
    view.kill();  // no window: nothing to do
    EXPECT_EQ(view.window, nullptr);
}
