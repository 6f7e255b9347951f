#include <gtest/gtest.h>

#include <memory>
#include <random>
#include <vector>

#include "geo/QList.h"
#include "sim/FastRepulsion.h"
#include "sim/Particle.h"

// Deletion is observed through the sanitizer build: a list that deletes what it should
// not is a use-after-free or double free there, one that keeps what it should delete a leak.

TEST(Particle, StartsAtRestAndZero) {
    Particle p;
    EXPECT_EQ(p.position, geo::Vertex(0, 0, 0));
    EXPECT_EQ(p.repulsionVelocity, geo::Vertex(0, 0, 0));
    EXPECT_EQ(p.velocity, geo::Vertex(0, 0, 0));
    EXPECT_EQ(p.normal, geo::Vertex(0, 0, 0));
    EXPECT_EQ(p.radiusRate, 0.0);
    EXPECT_EQ(p.radius, 0.0);
    EXPECT_EQ(p.energy, 0.0);
    EXPECT_EQ(p.state, Particle::Moving);
}

TEST(Particle, CopyTakesEveryValue) {
    Particle p;
    p.position = {1, 2, 3};
    p.repulsionVelocity = {4, 5, 6};
    p.velocity = {7, 8, 9};
    p.normal = {0, 0, 1};
    p.radiusRate = -0.5;
    p.radius = 4.0;
    p.energy = 2.5;
    p.state = Particle::Control;
    const Particle q(p);
    EXPECT_EQ(q.position, p.position);
    EXPECT_EQ(q.repulsionVelocity, p.repulsionVelocity);
    EXPECT_EQ(q.velocity, p.velocity);
    EXPECT_EQ(q.normal, p.normal);
    EXPECT_EQ(q.radiusRate, -0.5);
    EXPECT_EQ(q.radius, 4.0);
    EXPECT_EQ(q.energy, 2.5);
    EXPECT_EQ(q.state, Particle::Control);
}

// A copy of a filed floater is in no chain: removing it finds nothing, and filing it
// leaves the original's chain as it was.
TEST(Particle, CopyOfAFiledFloaterIsNotFiled) {
    FastRepulsion grid(5, 1000.0);
    ParticleList floaters(false);
    Particle* a = floaters.createParticle({1, 1, 1}, 1.0);
    Particle* b = floaters.createParticle({2, 2, 2}, 1.0);
    grid.insert(a);
    grid.insert(b);  // chain: b, a
    Particle copy(*b);
    Particle assigned;
    assigned = *b;
    EXPECT_FALSE(grid.remove(&copy));
    EXPECT_FALSE(grid.remove(&assigned));
    EXPECT_TRUE(grid.holdsExactly(floaters));
    grid.insert(&copy);
    std::vector<Particle*> cell;
    grid.queryInto({1, 1, 1}, 0.5, cell);
    EXPECT_EQ(cell, (std::vector<Particle*>{&copy, b, a}));
    EXPECT_TRUE(grid.remove(&copy));
    EXPECT_TRUE(grid.holdsExactly(floaters));
}

TEST(ParticleList, CreateParticleAppendsAFreshFloater) {
    ParticleList list(false);
    list.createParticle({1, 1, 1}, 1.0);
    Particle* p = list.createParticle({27, 0, 0}, 4.0);
    ASSERT_EQ(list.size(), 2);
    EXPECT_EQ(list.at(1), p);
    EXPECT_EQ(p->position, geo::Vertex(27, 0, 0));
    EXPECT_EQ(p->radius, 4.0);
    EXPECT_EQ(p->velocity, geo::Vertex(0, 0, 0));
    EXPECT_EQ(p->repulsionVelocity, geo::Vertex(0, 0, 0));
    EXPECT_EQ(p->normal, geo::Vertex(0, 0, 0));
    EXPECT_EQ(p->radiusRate, 0.0);
    EXPECT_EQ(p->energy, 0.0);
    EXPECT_EQ(p->state, Particle::Moving);
}

TEST(ParticleList, SnapshotHoldsTheSameParticlesShared) {
    ParticleList owner(false);
    Particle* a = owner.createParticle({1, 0, 0}, 1.0);
    Particle* b = owner.createParticle({2, 0, 0}, 2.0);
    Particle* c = owner.createParticle({3, 0, 0}, 3.0);
    std::unique_ptr<ParticleList> copy(owner.snapshot());
    EXPECT_TRUE(copy->isShared());
    EXPECT_FALSE(owner.isShared());
    ASSERT_EQ(copy->size(), 3);
    EXPECT_EQ(copy->at(0), a);
    EXPECT_EQ(copy->at(1), b);
    EXPECT_EQ(copy->at(2), c);
    // Changing the owner while walking the snapshot: the walk goes on to the end.
    int seen = 0;
    for (Particle* p = copy->first(); p; p = copy->next()) {
        if (p == b) owner.remove(b);
        ++seen;
    }
    EXPECT_EQ(seen, 3);
    EXPECT_EQ(owner.size(), 2);
}

TEST(ParticleList, DeletingASharedListKeepsTheParticles) {
    ParticleList owner(false);
    owner.createParticle({1, 0, 0}, 1.5);
    owner.createParticle({2, 0, 0}, 2.5);
    delete owner.snapshot();
    ParticleList* shared = owner.snapshot();
    shared->clear();
    EXPECT_EQ(shared->size(), 0);
    delete shared;
    ASSERT_EQ(owner.size(), 2);
    EXPECT_EQ(owner.at(0)->radius, 1.5);  // still alive
    EXPECT_EQ(owner.at(1)->radius, 2.5);
}

TEST(ParticleList, RemoveFromSharedListKeepsTheParticle) {
    ParticleList owner(false);
    Particle* a = owner.createParticle({1, 0, 0}, 1.0);
    Particle* b = owner.createParticle({2, 0, 0}, 2.0);
    ParticleList shared(true);
    shared.append(a);
    shared.append(b);
    shared.append(a);
    EXPECT_TRUE(shared.remove(a));  // the first entry only
    ASSERT_EQ(shared.size(), 2);
    EXPECT_EQ(shared.at(0), b);
    EXPECT_EQ(shared.at(1), a);
    EXPECT_EQ(a->radius, 1.0);
    EXPECT_EQ(owner.size(), 2);
}

TEST(ParticleList, RemoveFromOwningListDeletesTheParticle) {
    ParticleList owner(false);
    Particle* a = owner.createParticle({1, 0, 0}, 1.0);
    Particle* b = owner.createParticle({2, 0, 0}, 2.0);
    EXPECT_TRUE(owner.remove(a));
    ASSERT_EQ(owner.size(), 1);
    EXPECT_EQ(owner.first(), b);
}

TEST(ParticleList, RemoveOfAStrangerChangesNothing) {
    ParticleList owner(false);
    owner.createParticle({1, 0, 0}, 1.0);
    Particle stranger;
    EXPECT_FALSE(owner.remove(&stranger));
    EXPECT_EQ(owner.size(), 1);
    ParticleList empty(true);
    EXPECT_FALSE(empty.remove(&stranger));
}

namespace {

std::vector<Particle*> walked(ParticleList& list) {
    std::vector<Particle*> out;
    for (Particle* p = list.first(); p; p = list.next()) out.push_back(p);
    return out;
}

std::vector<Particle*> entries(const ParticleList& list) {
    return std::vector<Particle*>(list.inOrder().begin(), list.inOrder().end());
}

}  // namespace

// A particle list walks exactly as the program's own list does: the same answers from
// first, next and at, and the same walks ended by appends, removals and clears. A shared
// list and a geo::QList get the same random calls, and every answer must agree.
TEST(ParticleList, WalksExactlyAsTheProgramsList) {
    std::mt19937 rng(41);
    Particle pool[12];
    for (int trial = 0; trial < 20; ++trial) {
        ParticleList list(true);
        geo::QList reference;
        for (int call = 0; call < 300; ++call) {
            Particle* some = &pool[rng() % 12];
            switch (rng() % 8) {
                case 0:
                case 1:
                    list.append(some);
                    reference.append(some);
                    break;
                case 2:
                    ASSERT_EQ(list.first(), reference.first());
                    break;
                case 3:
                case 4:
                    ASSERT_EQ(list.next(), reference.next());
                    break;
                case 5: {
                    const int index = static_cast<int>(rng() % 14) - 1;  // also out of range
                    ASSERT_EQ(list.at(index), reference.at(index));
                    break;
                }
                case 6: {
                    // What removal from the program's list does: walk from the first entry
                    // with the cursor, and remove the first entry that is the particle.
                    int index = 0;
                    void* p = reference.first();
                    while (p && p != some) {
                        p = reference.next();
                        ++index;
                    }
                    if (p) reference.removeAt(index);
                    ASSERT_EQ(list.remove(some), p != nullptr);
                    break;
                }
                default:
                    if (rng() % 10 == 0) {
                        list.clear();
                        reference.clear();
                    }
            }
            ASSERT_EQ(list.size(), reference.count());
        }
    }
}

// retain shows `keep` every particle once, in list order, keeps the order of the kept
// ones, deletes the dropped ones of an owning list, and ends a walk of the list whether
// or not it dropped any.
TEST(ParticleList, RetainKeepsOrderAndEndsWalks) {
    ParticleList list(true);
    Particle a, b, c, d;
    for (Particle* p : {&a, &b, &c, &d}) list.append(p);
    std::vector<Particle*> seen;
    list.first();
    list.retain([&](Particle* p) {
        seen.push_back(p);
        return true;
    });
    EXPECT_EQ(seen, (std::vector<Particle*>{&a, &b, &c, &d}));
    EXPECT_EQ(list.next(), nullptr);  // nothing dropped, yet the walk is over
    list.first();
    list.retain([&](Particle* p) { return p != &b && p != &d; });
    EXPECT_EQ(list.next(), nullptr);
    EXPECT_EQ(walked(list), (std::vector<Particle*>{&a, &c}));
    EXPECT_EQ(entries(list), (std::vector<Particle*>{&a, &c}));
    EXPECT_EQ(list.at(1), &c);

    ParticleList owner(false);  // the sanitizer build sees a missed or doubled delete
    for (int i = 0; i < 10; ++i) owner.createParticle({static_cast<double>(i), 0, 0}, 1.0);
    owner.retain([](Particle* p) { return static_cast<int>(p->position.x) % 3 == 0; });
    ASSERT_EQ(owner.size(), 4);
    for (int i = 0; i < 4; ++i) EXPECT_EQ(owner.at(i)->position.x, 3.0 * i);
    std::unique_ptr<ParticleList> copy(owner.snapshot());
    EXPECT_EQ(entries(*copy), entries(owner));
}
