#include <gtest/gtest.h>

#include "app/Simulator.h"
#include "model/VessikSpheres.h"
#include "view/Mouse.h"
#include "view/Visualize.h"

TEST(MouseRules, RotationModesRouteTheAxes) {
    // dx = 3, dy = -7: mode 0 turns y by dx and x by dy; mode 1 z by dx, x by dy;
    // mode 2 y by dx, z by dy.
    const CameraTurn mode0 = rotationFor(0, 3, -7);
    EXPECT_EQ(mode0.x, -7);
    EXPECT_EQ(mode0.y, 3);
    EXPECT_EQ(mode0.z, 0);
    const CameraTurn mode1 = rotationFor(1, 3, -7);
    EXPECT_EQ(mode1.x, -7);
    EXPECT_EQ(mode1.y, 0);
    EXPECT_EQ(mode1.z, 3);
    const CameraTurn mode2 = rotationFor(2, 3, -7);
    EXPECT_EQ(mode2.x, 0);
    EXPECT_EQ(mode2.y, 3);
    EXPECT_EQ(mode2.z, -7);
}

TEST(MouseRules, WheelWordSignDecidesTheZoom) {
    EXPECT_EQ(wheelZoom(0x0078), 10);  // +120: forward, closer
    EXPECT_EQ(wheelZoom(0x7FFF), 10);
    EXPECT_EQ(wheelZoom(0x8000), -10);  // the sign bit: toward the user
    EXPECT_EQ(wheelZoom(0xFF88), -10);  // -120
    EXPECT_EQ(wheelZoom(0x0000), 10);
}

namespace {

struct MouseFixture : ::testing::Test {
    Simulator app;
    VessikSpheres* system = nullptr;

    void SetUp() override {
        system = new VessikSpheres(defaultIsoValue);
        app.addSystem(system);
        system->addBlob(30.0);
        system->seedParticles();
    }
    void move(int x, int y) {
        app.mouseMove(static_cast<std::uint16_t>(x), static_cast<std::uint16_t>(y));
    }
};

}  // namespace

TEST_F(MouseFixture, TenForwardNotchesFromTheStartGiveMinusTwoHundred) {
    app.view->initGL();
    ASSERT_EQ(app.view->distance, -300);
    for (int i = 0; i < 10; ++i) app.mouseWheel(0x0078);
    EXPECT_EQ(app.view->distance, -200);
    for (int i = 0; i < 25; ++i) app.mouseWheel(0x0078);
    EXPECT_EQ(app.view->distance, 50);  // no limit: the camera may pass the origin
}

TEST_F(MouseFixture, LeftDragRotatesByTheMode) {
    move(100, 100);
    app.mouseButton(0, true);
    move(110, 95);
    EXPECT_EQ(app.view->rotY, 10);
    EXPECT_EQ(app.view->rotX, -5);
    app.cycleRotationMode();
    move(113, 95);
    EXPECT_EQ(app.view->rotZ, 3);
    EXPECT_EQ(app.view->rotY, 10);
}

TEST_F(MouseFixture, RightDragUpMovesTheSceneUp) {
    move(200, 200);
    app.mouseButton(1, true);
    move(204, 190);  // 10 pixels up the screen
    EXPECT_EQ(app.view->panX, 4);
    EXPECT_EQ(app.view->panY, 10);
    EXPECT_EQ(app.view->rotX, 0);
}

TEST_F(MouseFixture, BothButtonsRotateOnly) {
    move(50, 50);
    app.mouseButton(1, true);
    app.mouseButton(0, true);
    move(60, 70);
    EXPECT_EQ(app.view->rotY, 10);
    EXPECT_EQ(app.view->rotX, 20);
    EXPECT_EQ(app.view->panX, 0);
    EXPECT_EQ(app.view->panY, 0);
}

TEST_F(MouseFixture, MovesWithoutButtonsOnlyTrackTheCursor) {
    move(10, 20);
    move(300, 400);
    EXPECT_EQ(app.view->rotX, 0);
    EXPECT_EQ(app.view->panX, 0);
    EXPECT_EQ(app.lastMouseX, 300);
    EXPECT_EQ(app.lastMouseY, 400);
}

TEST_F(MouseFixture, CtrlLeftDragOverEmptySpaceNeitherDragsNorRotates) {
    app.setKeyState(Simulator::controlKey, true);
    move(100, 100);
    app.mouseButton(0, true);
    move(150, 160);
    EXPECT_EQ(app.view->rotX, 0);
    EXPECT_EQ(app.view->rotY, 0);
    EXPECT_FALSE(app.forceStep);
    EXPECT_EQ(system->controlParticles.size(), 0);
}

TEST_F(MouseFixture, MoveWithoutCtrlForgetsThePick) {
    app.picked = system->particles.first();
    app.pickedSystem = system;
    move(5, 5);
    EXPECT_EQ(app.picked, nullptr);
}

TEST_F(MouseFixture, FourthControlParticleOnOneBlobIsRefusedAndLeavesNothingPicked) {
    // One blob has three parameters, so three control particles at most.
    app.picked = system->particles.first();
    app.pickedSystem = system;
    for (int i = 0; i < 3; ++i) {
        app.mouseButton(0, true);
        ASSERT_NE(app.picked, nullptr) << "press " << i;
        EXPECT_EQ(app.picked->state, Particle::Control);
        EXPECT_EQ(system->controlParticles.size(), i + 1);
    }
    app.mouseButton(0, true);
    EXPECT_EQ(app.picked, nullptr);
    EXPECT_EQ(system->controlParticles.size(), 3);
}

TEST_F(MouseFixture, ControlParticleIsACopyAndReleaseDropsThePick) {
    Particle* floater = system->particles.first();
    app.picked = floater;
    app.pickedSystem = system;
    app.mouseButton(0, true);
    ASSERT_NE(app.picked, floater);
    EXPECT_EQ(app.picked->position, floater->position);
    EXPECT_EQ(app.picked->radius, floater->radius);
    EXPECT_EQ(floater->state, Particle::Moving);
    // A right press while dragging copies the dragged particle once more.
    app.mouseButton(1, true);
    EXPECT_EQ(system->controlParticles.size(), 2);
    app.mouseButton(0, false);
    EXPECT_EQ(app.picked, nullptr);
    EXPECT_EQ(system->controlParticles.size(), 2);  // they stay until the hand-off
}

TEST_F(MouseFixture, DragWithoutAControlParticleDoesNothing) {
    Particle* floater = system->particles.first();
    const geo::Vertex before = floater->position;
    app.picked = floater;  // picked, but never pressed on: not a control particle
    app.pickedSystem = system;
    app.dragPicked(10, 10);
    EXPECT_EQ(floater->position, before);
    EXPECT_FALSE(app.forceStep);
}

namespace {

// Identity: a floater's model coordinates are its normalised device coordinates.
const double identity[16] = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};

}  // namespace

TEST_F(MouseFixture, PickTakesTheNearestInDepthWithinTheRadius) {
    ParticleList& list = system->particles;
    list.clear();
    list.createParticle({0.01, 0.0, 0.5}, 1.0);
    Particle* near = list.createParticle({0.0, 0.02, -0.3}, 1.0);
    list.createParticle({0.2, 0.0, -0.9}, 1.0);  // nearest of all, but off the cursor
    app.pickAmong(identity, 0.0, 0.0);
    EXPECT_EQ(app.picked, near);
    EXPECT_EQ(app.pickedSystem, system);
    EXPECT_DOUBLE_EQ(app.pickDepth, -0.3);
}

TEST_F(MouseFixture, PickRadiusIsStrictAndTiesGoToTheFirst) {
    ParticleList& list = system->particles;
    list.clear();
    list.createParticle({0.05, 0.0, 0.0}, 1.0);  // exactly on the radius: not inside
    app.pickAmong(identity, 0.0, 0.0);
    EXPECT_EQ(app.picked, nullptr);
    Particle* first = list.createParticle({0.0, 0.01, 0.2}, 1.0);
    list.createParticle({0.01, 0.0, 0.2}, 1.0);
    app.pickAmong(identity, 0.0, 0.0);
    EXPECT_EQ(app.picked, first);
}

TEST_F(MouseFixture, PickIgnoresFarPlaneBehindEyeAndControlParticles) {
    ParticleList& list = system->particles;
    list.clear();
    list.createParticle({0.0, 0.0, 1.0}, 1.0);  // depth 1.0 is not nearer than the start
    Particle* control = new Particle;
    control->state = Particle::Control;
    system->addControlParticle(control);
    app.pickAmong(identity, 0.0, 0.0);
    EXPECT_EQ(app.picked, nullptr);

    // w = -1: behind the eye, mirrored onto the cursor by the divide.
    double behind[16] = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, -1};
    list.clear();
    list.createParticle({0.0, 0.0, 0.5}, 1.0);
    app.pickAmong(behind, 0.0, 0.0);
    EXPECT_EQ(app.picked, nullptr);
}

TEST_F(MouseFixture, PickWithoutAWindowFindsNothing) {
    app.picked = system->particles.first();
    app.pickParticle(400, 300);
    EXPECT_EQ(app.picked, nullptr);
}
