// The validators that debug and sanitizer builds run after every step (the particle lists'
// integrity, the system's invariants) must see the faults they exist for, and the checks at
// the core's fragile spots must stop a run that breaks their assumption.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "geo/Check.h"
#include "model/VessikSpheres.h"
#include "sim/Stepping.h"

namespace {

// One blob of radius 30 at the origin with its six seeds.
struct Seeded : ::testing::Test {
    Seeded() {
        GTEST_FLAG_SET(death_test_style, "threadsafe");
        system.threads = 1;
        system.addBlob(30.0);
        system.seedParticles();
    }
    VessikSpheres system{defaultIsoValue};
};

bool contains(const std::string& text, const char* part) {
    return text.find(part) != std::string::npos;
}

}  // namespace

TEST(ParticleListIntegrity, NullAndRepeatedEntriesAreFaults) {
    ParticleList owner(false);
    Particle* a = owner.createParticle({1, 0, 0}, 1.0);
    Particle* b = owner.createParticle({2, 0, 0}, 1.0);
    EXPECT_EQ(owner.integrityFault(), "");
    struct Case {
        std::vector<Particle*> entries;
        const char* fault;  // "" for none
    } cases[] = {
        {{a, b}, ""},
        {{}, ""},
        {{a, b, a}, "entry 2 holds a particle already listed"},
        {{b, nullptr}, "entry 1 is null"},
    };
    for (const Case& c : cases) {
        ParticleList shared(true);  // refers only: nothing is deleted twice
        for (Particle* p : c.entries) shared.append(p);
        EXPECT_EQ(shared.integrityFault(), c.fault) << c.fault;
    }
}

TEST_F(Seeded, InvariantsHoldAfterSeedingAndAfterSteps) {
    EXPECT_EQ(system.invariantFault(), "");
    for (int step = 0; step < 20; ++step) stepSystem(system, 2.0);
    EXPECT_EQ(system.invariantFault(), "");
}

TEST_F(Seeded, InvariantsSeeAFloaterMovedBehindTheGridsBack) {
    Particle* p = system.particles.at(0);
    p->position.x += 500.0;  // another cell, without the grid's move
    EXPECT_TRUE(contains(system.invariantFault(), "the grid does not file exactly the floaters"))
        << system.invariantFault();
    p->position.x -= 500.0;
    EXPECT_EQ(system.invariantFault(), "");
}

TEST_F(Seeded, InvariantsSeeANegativeStableCountAndTooManyControlParticles) {
    system.stableCount = -1;
    EXPECT_EQ(system.invariantFault(), "the stable count is -1");
    system.stableCount = 0;
    // One blob has three parameters; addControlParticle refuses a fourth, the list does not.
    for (int i = 0; i < 4; ++i) system.controlParticles.append(new Particle);
    EXPECT_EQ(system.invariantFault(), "4 control particles for 3 parameters");
}

// Seeding empties the grid through the list; a floater filed without being listed would
// stay chained after the list's floaters are deleted. One moved behind the grid's back
// comes out like the others.
TEST_F(Seeded, SeedingStopsWhenTheGridKeepsAFloater) {
    system.particles.at(2)->position.y += 500.0;
    Particle stray;
    system.grid.insert(&stray);
    EXPECT_DEATH_IF_SUPPORTED(system.seedParticles(), "the grid still files floaters");
    system.grid.remove(&stray);
    system.seedParticles();
    EXPECT_TRUE(system.grid.holdsExactly(system.particles));
}

// Equal counts let the force pass walk the grid's floaters instead of the list's: a stray in
// the grid in place of a listed floater must be caught, not evaluated.
TEST_F(Seeded, ForcePassStopsOnEqualCountsOfDifferentFloaters) {
    if (!geo::dchecksOn) GTEST_SKIP() << "DCHECK is off in this build";
    Particle stray;
    stray.position = geo::Vertex(5, 5, 5);
    stray.radius = 4.0;
    ASSERT_TRUE(system.grid.remove(system.particles.at(0)));
    system.grid.insert(&stray);
    ASSERT_EQ(system.grid.getCount(), system.particles.size());
    EXPECT_DEATH_IF_SUPPORTED(system.computeForces(), "not the same ones");
    system.grid.remove(&stray);
    system.grid.insert(system.particles.at(0));
}

// The blob update walks qDot three entries per point and stops quietly where it ends.
TEST_F(Seeded, BlobUpdateStopsWhenQDotIsShorterThanTheModel) {
    if (!geo::dchecksOn) GTEST_SKIP() << "DCHECK is off in this build";
    system.solveControl();  // three entries, for the one blob
    system.addBlob(20.0);   // a second blob after the solve: six would be needed
    EXPECT_DEATH_IF_SUPPORTED(system.advance(), "qDot does not hold three entries");
}
