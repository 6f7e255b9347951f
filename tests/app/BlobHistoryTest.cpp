// Ctrl+Z and Ctrl+Y over the blob model: what each restores, how deep the history goes,
// and what a restored model does to the floaters and held particles.
#include <gtest/gtest.h>

#include <vector>

#include "app/KeyCommands.h"
#include "app/Simulator.h"
#include "model/VessikSpheres.h"

namespace {

constexpr std::uint16_t keyZ = 'Z', keyY = 'Y';

struct HistoryFixture : ::testing::Test {
    Simulator app;
    VessikSpheres* system = nullptr;
    double density = 2.0;

    void SetUp() override {
        system = new VessikSpheres(defaultIsoValue);
        app.addSystem(system);
        system->addBlob(30.0);
        system->seedParticles();
    }
    // One idle pass with these keys down.
    void press(std::initializer_list<std::uint16_t> codes) {
        for (std::uint16_t code : codes) app.setKeyState(code, true);
        applyKeyCommands(app, system, density);
        for (std::uint16_t code : codes) app.setKeyState(code, false);
        app.keysActedOn();
    }
    void undo() { press({Simulator::controlKey, keyZ}); }
    void redo() { press({Simulator::controlKey, keyY}); }
    std::vector<double> radii() {
        std::vector<double> all;
        for (VessikObj* b = system->blobs.first(); b != nullptr; b = system->blobs.next())
            all.push_back(b->getRadius());
        return all;
    }
};

}  // namespace

TEST_F(HistoryFixture, UndoAndRedoWalkInsertAndDeleteBothWays) {
    press({vk::insert});  // {30, 50}
    press({vk::del});     // {50}: the oldest goes
    ASSERT_EQ(radii(), std::vector<double>({50.0}));
    undo();
    EXPECT_EQ(radii(), std::vector<double>({30.0, 50.0}));
    undo();
    EXPECT_EQ(radii(), std::vector<double>({30.0}));
    undo();  // nothing further back
    EXPECT_EQ(radii(), std::vector<double>({30.0}));
    redo();
    EXPECT_EQ(radii(), std::vector<double>({30.0, 50.0}));
    // A new change forgets what was undone.
    press({vk::insert});
    redo();
    EXPECT_EQ(radii(), std::vector<double>({30.0, 50.0, 50.0}));
    // Z and Y without Ctrl, and a refused Delete, change and record nothing.
    press({keyZ, keyY});
    EXPECT_EQ(app.history.undoable(), 2);  // the first Insert and the last
}

// Ctrl goes down in one batch of window messages, and Z down, Z up and Ctrl up in the
// next, with an idle pass between: the pass that sees Z no longer finds Ctrl down, yet Z
// came while Ctrl was held.
TEST_F(HistoryFixture, CtrlZCountsWhicheverPassesItsMessagesFallBetween) {
    press({vk::insert});
    app.setKeyState(Simulator::controlKey, true);
    applyKeyCommands(app, system, density);
    app.keysActedOn();
    app.setKeyState(keyZ, true);
    app.setKeyState(keyZ, false);
    app.setKeyState(Simulator::controlKey, false);
    applyKeyCommands(app, system, density);
    app.keysActedOn();
    EXPECT_EQ(radii(), std::vector<double>({30.0}));
    // Z alone afterwards is no chord.
    press({vk::insert});
    press({keyZ});
    EXPECT_EQ(system->blobs.count(), 2);
}

TEST_F(HistoryFixture, TwentyChangesAreKept) {
    for (int i = 0; i < 25; ++i) press({vk::insert});
    for (int i = 0; i < 25; ++i) undo();
    EXPECT_EQ(system->blobs.count(), 1 + 5);  // the first five inserts are beyond reach
    for (int i = 0; i < 25; ++i) redo();
    EXPECT_EQ(system->blobs.count(), 1 + 25);
}

TEST_F(HistoryFixture, RefusedDeleteIsNoChange) {
    press({vk::del});
    EXPECT_EQ(app.history.undoable(), 0);
}

// A Ctrl-press makes a control particle but changes the model only once it is dragged.
TEST_F(HistoryFixture, APressBecomesAChangeOnlyWhenItDrags) {
    app.picked = system->particles.first();
    app.pickedSystem = system;
    app.mouseButton(0, true);
    app.mouseButton(0, false);
    EXPECT_EQ(app.history.undoable(), 0);

    app.picked = system->particles.first();
    app.mouseButton(0, true);
    app.history.commitPrepared();  // what the first move of the drag does
    system->blobs.first()->centre() = geo::Vertex(7.0, 0.0, 0.0);  // the surface followed
    app.mouseButton(0, false);
    undo();
    EXPECT_EQ(system->blobs.first()->centre(), geo::Vertex(0.0, 0.0, 0.0));
}

// The restored model is sampled again: control particles still held would pull it away
// once more, no floater may count as stable, and every restored blob gets seed floaters,
// here where none is left.
TEST_F(HistoryFixture, RestoredModelIsResampled) {
    VessikObj* far = system->addBlob(20.0);
    far->centre() = geo::Vertex(500.0, 0.0, 0.0);
    system->seedBlob(far);
    press({vk::del});  // the radius-30 blob at the origin goes; its six floaters stay
    system->grid.removeAll(system->particles);
    system->particles.clear();  // ... until they die out
    Particle* held = new Particle;
    held->position = geo::Vertex(500.0, 20.0, 0.0);
    held->state = Particle::Control;
    system->addControlParticle(held);
    app.picked = system->controlParticles.first();
    system->stableCount = 5;

    undo();
    ASSERT_EQ(system->blobs.count(), 2);
    EXPECT_EQ(system->controlParticles.size(), 0);
    EXPECT_EQ(app.picked, nullptr);
    EXPECT_EQ(system->stableCount, 0);
    EXPECT_FALSE(system->isStable());
    // Both blobs are back without floaters: six seeds each.
    EXPECT_EQ(system->particles.size(), 12);
}
