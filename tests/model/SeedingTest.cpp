#include <gtest/gtest.h>

#include "model/VessikSpheres.h"

namespace {

void expectSeed(Particle* p, const geo::Vertex& position, double radius) {
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(p->position, position);
    EXPECT_EQ(p->radius, radius);
    EXPECT_EQ(p->repulsionVelocity, geo::Vertex(0, 0, 0));
    EXPECT_EQ(p->velocity, geo::Vertex(0, 0, 0));
    EXPECT_EQ(p->normal, geo::Vertex(0, 0, 0));
    EXPECT_EQ(p->radiusRate, 0.0);
    EXPECT_EQ(p->energy, 0.0);
    EXPECT_EQ(p->state, Particle::Moving);
}

}  // namespace

// Six floaters at 0.9 R = 27 along +x, -x, +y, -y, +z, -z, radius trunc(4.87...) = 4.
TEST(Seeding, OneBlobGivesSixFloatersInAxisOrder) {
    VessikSpheres system(defaultIsoValue);
    system.addBlob(30.0);
    system.seedParticles();
    ASSERT_EQ(system.particles.size(), 6);
    expectSeed(system.particles.at(0), {27, 0, 0}, 4.0);
    expectSeed(system.particles.at(1), {-27, 0, 0}, 4.0);
    expectSeed(system.particles.at(2), {0, 27, 0}, 4.0);
    expectSeed(system.particles.at(3), {0, -27, 0}, 4.0);
    expectSeed(system.particles.at(4), {0, 0, 27}, 4.0);
    expectSeed(system.particles.at(5), {0, 0, -27}, 4.0);
    EXPECT_EQ(system.grid.getCount(), 6);
    EXPECT_TRUE(system.grid.holdsExactly(system.particles));
    EXPECT_EQ(system.stableCount, 0);
    EXPECT_TRUE(system.settling);
}

TEST(Seeding, SeedsStandAroundEachCentreInBlobOrder) {
    VessikSpheres system(defaultIsoValue);
    system.addBlob(30.0)->centre() = {-20, 0, 0};
    system.addBlob(10.0)->centre() = {5, 6, 7};
    system.seedParticles();
    ASSERT_EQ(system.particles.size(), 12);
    expectSeed(system.particles.at(0), {7, 0, 0}, 4.0);
    expectSeed(system.particles.at(5), {-20, 0, -27}, 4.0);
    expectSeed(system.particles.at(6), {14, 6, 7}, 4.0);
    expectSeed(system.particles.at(7), {-4, 6, 7}, 4.0);
    expectSeed(system.particles.at(10), {5, 6, 16}, 4.0);
    expectSeed(system.particles.at(11), {5, 6, -2}, 4.0);
    EXPECT_TRUE(system.grid.holdsExactly(system.particles));
}

TEST(Seeding, NoBlobsLeaveNoFloaters) {
    VessikSpheres system(defaultIsoValue);
    system.stableCount = 5;
    system.settling = false;
    system.seedParticles();
    EXPECT_EQ(system.particles.size(), 0);
    EXPECT_EQ(system.grid.getCount(), 0);
    EXPECT_EQ(system.stableCount, 0);
    EXPECT_TRUE(system.settling);
}

// Reseeding must take the old floaters out of the grid before deleting them, or the grid
// would chain freed floaters (the sanitizer build catches any such use).
TEST(Seeding, ReseedingReplacesEveryFloater) {
    VessikSpheres system(defaultIsoValue);
    system.addBlob(30.0);
    system.addBlob(12.0)->centre() = {40, 0, 0};
    system.seedParticles();
    // Let the floaters wander (through the grid, as the dynamics do) before reseeding.
    for (Particle* p = system.particles.first(); p; p = system.particles.next())
        system.grid.move(p, {3.5, -70.0, 12.0});
    system.stableCount = 9;
    system.settling = false;
    system.seedParticles();
    EXPECT_EQ(system.particles.size(), 12);
    EXPECT_EQ(system.grid.getCount(), 12);
    EXPECT_TRUE(system.grid.holdsExactly(system.particles));
    expectSeed(system.particles.at(0), {27, 0, 0}, 4.0);
    EXPECT_EQ(system.stableCount, 0);
    EXPECT_TRUE(system.settling);
    // Queries only ever meet the new floaters.
    ParticleList* all = system.grid.query({0, 0, 0}, 1e6);
    EXPECT_EQ(all->size(), 12);
    delete all;
}

TEST(Seeding, SeedRadiusTruncatesTheDesiredEnergy) {
    VessikSpheres system(defaultIsoValue);
    system.addBlob(10.0);
    system.desiredEnergy = 7.9;
    system.seedParticles();
    ASSERT_EQ(system.particles.size(), 6);
    expectSeed(system.particles.at(0), {9, 0, 0}, 7.0);
    system.desiredEnergy = 0.5;
    system.seedParticles();
    expectSeed(system.particles.at(3), {0, -9, 0}, 0.0);
}

// The floater ceiling bounds the seeds as it bounds fission: whole blobs are seeded while
// their six fit, and the system says that the ceiling stopped it.
TEST(Seeding, CeilingStopsTheSeeding) {
    struct Case {
        int ceiling, floaters;
        bool everyBlob;
    };
    const Case cases[] = {{30, 30, true}, {29, 24, false}, {5, 0, false}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.ceiling);
        VessikSpheres system(defaultIsoValue);
        for (int i = 0; i < 5; ++i) system.addBlob(30.0)->centre() = {100.0 * i, 0, 0};
        system.maxFloaters = c.ceiling;
        EXPECT_EQ(system.seedParticles(), c.everyBlob);
        EXPECT_EQ(system.particles.size(), c.floaters);
        EXPECT_EQ(system.grid.getCount(), c.floaters);
        EXPECT_EQ(system.floaterCeilingReached, !c.everyBlob);
    }
}
