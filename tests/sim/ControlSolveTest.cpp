#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "model/VessikSpheres.h"
#include "sim/ImplicitSurface.h"

namespace {

Particle* holdAt(ImplicitSurface& system, const geo::Vertex& position,
                 const geo::Vertex& velocity) {
    Particle* p = new Particle;
    p->position = position;
    p->repulsionVelocity = velocity;
    p->state = Particle::Control;
    if (!system.addControlParticle(p)) {
        delete p;
        return nullptr;
    }
    return p;
}

}  // namespace

TEST(ControlSolve, NoControlParticlesGiveZeroVelocity) {
    VessikSpheres system(defaultIsoValue);
    system.addBlob(30.0);
    system.addBlob(20.0);
    system.solveControl();
    ASSERT_EQ(system.qDot.length(), 6);
    for (int i = 0; i < 6; ++i) EXPECT_EQ(system.qDot[i], 0.0);
}

// n = 1: A = [g.g], x = b / (g.g), qDot = -x g with g = dF/dq at the particle.
TEST(ControlSolve, SingleParticleSolvesInClosedForm) {
    VessikSpheres system(defaultIsoValue);
    system.addBlob(30.0)->centre() = {1, 2, 3};
    const geo::Vertex at(25, 10, -5), velocity(0.5, -0.2, 0.1);
    holdAt(system, at, velocity);
    system.solveControl();
    const geo::DVector g = system.parameterGradient(at);
    const double b = system.fieldGradient(at).dot(velocity) + system.fieldValue(at) * 15.0;
    const double x = b / g.dot(g);
    ASSERT_EQ(system.qDot.length(), 3);
    for (int i = 0; i < 3; ++i) EXPECT_NEAR(system.qDot[i], -x * g[i], 1e-12 * std::fabs(x));
    // The particle's field then changes at -phi F as it moves: F_q.qDot + F_x.v = -phi F.
    EXPECT_NEAR(g.dot(system.qDot) + b, 0.0, 1e-12);
}

TEST(ControlSolve, TangentialMoveOnTheSurfaceLeavesTheModelStill) {
    VessikSpheres system(defaultIsoValue);
    system.addBlob(30.0);
    holdAt(system, {30, 0, 0}, {0, 1, 0});
    system.solveControl();
    for (int i = 0; i < 3; ++i) EXPECT_NEAR(system.qDot[i], 0.0, 1e-12);
}

// Two particles with the same parameter gradient make the system singular.
TEST(ControlSolve, SingularSystemIsAbandonedWithZeroVelocity) {
    VessikSpheres system(defaultIsoValue);
    system.addBlob(30.0);
    holdAt(system, {32, 0, 0}, {1, 0, 0});
    holdAt(system, {32, 0, 0}, {1, 0, 0});
    system.solveControl();
    ASSERT_EQ(system.qDot.length(), 3);
    for (int i = 0; i < 3; ++i) EXPECT_EQ(system.qDot[i], 0.0);
}

TEST(ControlSolve, OneBlobTakesThreeControlParticlesAndRefusesTheFourth) {
    VessikSpheres system(defaultIsoValue);
    system.addBlob(30.0);
    EXPECT_NE(holdAt(system, {30, 0, 0}, {}), nullptr);
    EXPECT_NE(holdAt(system, {0, 30, 0}, {}), nullptr);
    EXPECT_NE(holdAt(system, {0, 0, 30}, {}), nullptr);
    EXPECT_EQ(holdAt(system, {-30, 0, 0}, {}), nullptr);
    EXPECT_EQ(system.controlParticles.size(), 3);
    // Three independent constraints on three parameters: each one is met exactly.
    for (Particle* p = system.controlParticles.first(); p; p = system.controlParticles.next())
        p->repulsionVelocity = p->position * 0.01;
    system.solveControl();
    for (Particle* p = system.controlParticles.first(); p; p = system.controlParticles.next()) {
        const double rate = system.parameterGradient(p->position).dot(system.qDot) +
                            system.fieldGradient(p->position).dot(p->repulsionVelocity);
        EXPECT_NEAR(rate, -15.0 * system.fieldValue(p->position), 1e-9);
    }
    system.releaseControlParticles();
    EXPECT_EQ(system.controlParticles.size(), 0);
}

// A broken control particle abandons the solve, and a velocity that is not finite anyway
// must not fling the model to infinity.
TEST(ControlSolve, NonFiniteControlLeavesTheModelInPlace) {
    VessikSpheres system(defaultIsoValue);
    system.addBlob(30.0)->centre() = {1, 2, 3};
    holdAt(system, {std::nan(""), 0, 30}, {1, 0, 0});
    system.solveControl();
    for (int i = 0; i < 3; ++i) EXPECT_EQ(system.qDot[i], 0.0);
    system.qDot[1] = std::numeric_limits<double>::infinity();
    system.advance();
    EXPECT_EQ(system.blobs.first()->centre(), geo::Vertex(1, 2, 3));
}
