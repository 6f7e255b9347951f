#include <gtest/gtest.h>

#include <cmath>

#include "model/VessikSpheres.h"

// Before the first step: sigma hat = 0.25 * 24 * 1 = 6, sigma max = max(12, 9) = 12,
// E hat = 36 e^-2.
TEST(ImplicitSurface, NewSystemHasItsDefaults) {
    VessikSpheres system(defaultIsoValue);
    EXPECT_EQ(system.isoValue, 1.0 / std::exp(1.0));
    EXPECT_EQ(system.desiredRadius, 6.0);
    EXPECT_EQ(system.maxRadius, 12.0);
    EXPECT_NEAR(system.desiredEnergy, 4.872070196518058, 1e-15);
    EXPECT_EQ(system.lengthScale, 24.0);
    EXPECT_EQ(system.timeStep, 0.03);
    EXPECT_EQ(system.energyRate, system.phi);
    EXPECT_EQ(system.stableCount, 0);
    EXPECT_TRUE(system.settling);
    EXPECT_EQ(system.particles.size(), 0);
    EXPECT_FALSE(system.particles.isShared());
    EXPECT_FALSE(system.controlParticles.isShared());
    EXPECT_EQ(system.grid.getLevel(), 5);
    EXPECT_EQ(system.grid.domainSize(), 1000.0);
    EXPECT_FALSE(system.blobFileIncomplete);
}

TEST(ImplicitSurface, DensitySetsTheRadii) {
    VessikSpheres system(defaultIsoValue);
    EXPECT_EQ(system.setDensity(2.0), 6.0);  // returns the previous desired radius
    EXPECT_EQ(system.desiredRadius, 12.0);
    EXPECT_EQ(system.maxRadius, 18.0);
    system.setDensity(0.5);
    EXPECT_EQ(system.desiredRadius, 3.0);
    EXPECT_EQ(system.maxRadius, 12.0);  // the floor 0.5 L wins
}

// At least six floaters per blob, and 90 % of them stable.
TEST(ImplicitSurface, StabilityNeedsEnoughStableFloaters) {
    VessikSpheres system(defaultIsoValue);
    for (int i = 0; i < 3; ++i) system.addBlob(10.0);
    for (int i = 0; i < 17; ++i) system.particles.createParticle({0, 0, 0}, 1.0);
    system.stableCount = 17;
    EXPECT_FALSE(system.isStable());  // 17 < 18
    system.particles.createParticle({0, 0, 0}, 1.0);
    EXPECT_TRUE(system.isStable());  // 17 / 18 >= 0.9
    system.stableCount = 16;
    EXPECT_FALSE(system.isStable());
}

TEST(ImplicitSurface, EmptySystemIsNeverStable) {
    VessikSpheres system(defaultIsoValue);
    EXPECT_FALSE(system.isStable());
}

// Three coordinates per blob: one blob takes three control particles.
TEST(ImplicitSurface, ControlParticlesAreLimitedByTheParameters) {
    VessikSpheres system(defaultIsoValue);
    system.addBlob(30.0);
    for (int i = 0; i < 3; ++i) {
        Particle* p = new Particle;
        EXPECT_EQ(system.addControlParticle(p), p);
    }
    Particle* fourth = new Particle;
    EXPECT_EQ(system.addControlParticle(fourth), nullptr);
    delete fourth;  // refused: the caller keeps it
    EXPECT_EQ(system.controlParticles.size(), 3);
    system.releaseControlParticles();
    EXPECT_EQ(system.controlParticles.size(), 0);
}

// The starting interaction range keeps the grid as built on the first adapt (L = 24 gives
// a domain of 576, between 0.5 and 1.2 times 1000).
TEST(ImplicitSurface, FirstGridAdaptKeepsTheCells) {
    VessikSpheres system(defaultIsoValue);
    system.addBlob(30.0);
    system.seedParticles();
    system.adaptGrid();
    EXPECT_EQ(system.grid.getLevel(), 5);
    EXPECT_EQ(system.grid.getCellSize(), 31.25);
    EXPECT_TRUE(system.grid.holdsExactly(system.particles));
}
