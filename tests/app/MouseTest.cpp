#include <gtest/gtest.h>

#include <cmath>

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

TEST_F(MouseFixture, PickIgnoresTheFarPlaneAndControlParticles) {
    ParticleList& list = system->particles;
    list.clear();
    list.createParticle({0.0, 0.0, 1.0}, 1.0);  // depth 1.0 is not nearer than the start
    Particle* control = new Particle;
    control->state = Particle::Control;
    system->addControlParticle(control);
    app.pickAmong(identity, 0.0, 0.0);
    EXPECT_EQ(app.picked, nullptr);
}

TEST_F(MouseFixture, PickTakesTheNearPlaneButNothingNearerThanIt) {
    // Depth -1 is the near plane itself, still inside the view volume; anything nearer
    // is clipped away and must not win with its smaller depth.
    ParticleList& list = system->particles;
    list.clear();
    list.createParticle({0.0, 0.0, -1.0000001}, 1.0);
    Particle* onNearPlane = list.createParticle({0.01, 0.0, -1.0}, 1.0);
    app.pickAmong(identity, 0.0, 0.0);
    EXPECT_EQ(app.picked, onNearPlane);
    EXPECT_DOUBLE_EQ(app.pickDepth, -1.0);
}

namespace {

// The projection the view sets (45 degrees vertically, aspect 800 / 600, near 0.1, far
// 1000) after an identity camera: the eye at the origin looking down -z. Column-major.
// Depth of an eye-space z: (a z + b) / -z with a = -(far + near) / (far - near) and
// b = -2 far near / (far - near).
void viewProjection(double m[16]) {
    const double nearPlane = 0.1;
    const double farPlane = 1000.0;
    const double f = 1.0 / std::tan(45.0 / 2.0 * 3.14159265358979323846 / 180.0);
    for (int i = 0; i < 16; ++i) m[i] = 0.0;
    m[0] = f / (800.0 / 600.0);
    m[5] = f;
    m[10] = -(farPlane + nearPlane) / (farPlane - nearPlane);
    m[11] = -1.0;
    m[14] = -2.0 * farPlane * nearPlane / (farPlane - nearPlane);
}

}  // namespace

TEST_F(MouseFixture, PickSeesOnlyTheViewVolumeOfARealProjection) {
    double m[16];
    viewProjection(m);
    ParticleList& list = system->particles;
    list.clear();
    // All on the line of sight through the centre of the screen. At z = -0.05, between
    // the eye and the near plane, the depth is (0.05 * 1000.1 - 200) / 999.9 / 0.05 =
    // -3.0002: nearest of all, but clipped and invisible.
    list.createParticle({0.0, 0.0, -0.05}, 1.0);
    // Behind the eye, z = 5: depth (-5 * 1000.1 - 200) / 999.9 / -5 = 1.0402, beyond the
    // far plane's 1, so it loses to the start depth.
    list.createParticle({0.0, 0.0, 5.0}, 1.0);
    // In the eye plane, w = 0.
    list.createParticle({0.0, 0.0, 0.0}, 1.0);
    app.pickAmong(m, 0.0, 0.0);
    EXPECT_EQ(app.picked, nullptr);

    // At z = -10, inside the view: depth (10 * 1000.1 - 200) / 999.9 / 10 = 0.980198.
    Particle* seen = list.createParticle({0.0, 0.0, -10.0}, 1.0);
    app.pickAmong(m, 0.0, 0.0);
    EXPECT_EQ(app.picked, seen);
    EXPECT_NEAR(app.pickDepth, 9801.0 / 9999.0, 1e-12);
}

TEST(MouseRules, CursorBecomesNormalisedDeviceCoordinates) {
    const double window[4] = {0.0, 0.0, 800.0, 600.0};
    // (600, 150): a quarter of the width right of the centre, a quarter of the height
    // above it (rows grow downward, device y upward).
    DeviceCursor c = cursorToDevice(600, 150, window);
    EXPECT_DOUBLE_EQ(c.x, 0.5);
    EXPECT_DOUBLE_EQ(c.y, 0.5);
    c = cursorToDevice(0, 0, window);  // top-left pixel
    EXPECT_DOUBLE_EQ(c.x, -1.0);
    EXPECT_DOUBLE_EQ(c.y, 1.0);
    c = cursorToDevice(400, 300, window);
    EXPECT_DOUBLE_EQ(c.x, 0.0);
    EXPECT_DOUBLE_EQ(c.y, 0.0);

    // A viewport 400 by 200 at (100, 50): its origin is subtracted first, so (100, 50) is
    // its top-left corner, (300, 150) its centre, (500, 250) its bottom-right corner.
    const double inner[4] = {100.0, 50.0, 400.0, 200.0};
    c = cursorToDevice(100, 50, inner);
    EXPECT_DOUBLE_EQ(c.x, -1.0);
    EXPECT_DOUBLE_EQ(c.y, 1.0);
    c = cursorToDevice(300, 150, inner);
    EXPECT_DOUBLE_EQ(c.x, 0.0);
    EXPECT_DOUBLE_EQ(c.y, 0.0);
    c = cursorToDevice(500, 250, inner);
    EXPECT_DOUBLE_EQ(c.x, 1.0);
    EXPECT_DOUBLE_EQ(c.y, -1.0);
    c = cursorToDevice(150, 100, inner);  // x: (50 - 200) / 200, y: (50 - 100) / -100
    EXPECT_DOUBLE_EQ(c.x, -0.75);
    EXPECT_DOUBLE_EQ(c.y, 0.5);
}

TEST(MouseRules, CursorRowFlipsToAWindowRowFromTheBottom) {
    // 600 rows: the top row 0 is GL row 599, the bottom row 599 is GL row 0.
    EXPECT_EQ(windowRowFromCursor(600, 0), 599);
    EXPECT_EQ(windowRowFromCursor(600, 599), 0);
    EXPECT_EQ(windowRowFromCursor(600, 150), 449);
    EXPECT_EQ(windowRowFromCursor(1, 0), 0);  // the one row of a minimised client area
}

TEST_F(MouseFixture, PickWithoutAWindowFindsNothing) {
    app.picked = system->particles.first();
    app.pickParticle(400, 300);
    EXPECT_EQ(app.picked, nullptr);
}
