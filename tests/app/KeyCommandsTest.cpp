#include <gtest/gtest.h>

#include <algorithm>
#include <iterator>
#include <vector>

#include "app/KeyCommands.h"
#include "app/Simulator.h"
#include "model/VessikSpheres.h"

namespace {

// A windowless application with the one system the program makes at start.
struct KeyFixture : ::testing::Test {
    Simulator app;
    VessikSpheres* system = nullptr;
    double density = 2.0;

    void SetUp() override {
        system = new VessikSpheres(defaultIsoValue);
        app.addSystem(system);
        system->addBlob(30.0);
    }
    // One press of these keys together, acted on by one idle pass, whose frame then ends.
    bool press(std::initializer_list<std::uint16_t> codes) {
        for (std::uint16_t code : codes) app.setKeyState(code, true);
        const bool goOn = applyKeyCommands(app, system, density);
        for (std::uint16_t code : codes) app.setKeyState(code, false);
        app.keysActedOn();
        return goOn;
    }
    bool press(std::uint16_t code) { return press({code}); }
};

}  // namespace

TEST_F(KeyFixture, InitialDrawFlags) {
    EXPECT_TRUE(app.drawFlags[Simulator::DrawFloaters]);
    EXPECT_FALSE(app.drawFlags[Simulator::DrawNormals]);
    EXPECT_FALSE(app.drawFlags[Simulator::DrawBlobs]);
    EXPECT_TRUE(app.drawFlags[Simulator::DrawTriangles]);
    EXPECT_TRUE(app.drawFlags[Simulator::DrawEdges]);
    EXPECT_FALSE(app.drawFlags[Simulator::DrawProgressive]);
    EXPECT_TRUE(app.drawFlags[Simulator::WriteFilesAtExit]);
}

TEST_F(KeyFixture, EachToggleKeyAndItsKeypadTwinFlipOneFlag) {
    struct Binding {
        std::uint16_t letter, twin;
        int flag;
    };
    const Binding bindings[] = {
        {'F', vk::numpad6, Simulator::DrawFloaters},   {'N', vk::decimal, Simulator::DrawNormals},
        {'B', vk::numpad2, Simulator::DrawBlobs},      {'T', vk::f5, Simulator::DrawTriangles},
        {'M', vk::subtract, Simulator::DrawEdges},     {'S', vk::f4, Simulator::DrawProgressive},
        {'O', vk::divide, Simulator::WriteFilesAtExit}};
    for (const Binding& b : bindings) {
        bool before[Simulator::DrawFlagCount];
        std::copy(std::begin(app.drawFlags), std::end(app.drawFlags), before);
        press(b.letter);
        for (int i = 0; i < Simulator::DrawFlagCount; ++i) {
            EXPECT_EQ(app.drawFlags[i], i == b.flag ? !before[i] : before[i])
                << "key " << b.letter << " flag " << i;
        }
        press(b.twin);
        EXPECT_EQ(app.drawFlags[b.flag], before[b.flag]) << "twin of " << b.letter;
    }
}

TEST_F(KeyFixture, KeypadMinusTogglesEdgesAndLowersDensityInOnePass) {
    press(vk::subtract);
    EXPECT_FALSE(app.drawFlags[Simulator::DrawEdges]);
    EXPECT_DOUBLE_EQ(density, 1.95);
    // M alone only toggles.
    press('M');
    EXPECT_TRUE(app.drawFlags[Simulator::DrawEdges]);
    EXPECT_DOUBLE_EQ(density, 1.95);
}

// Keyboards without a keypad: the main-row + (=) and - change the density as the keypad's
// keys do, and this minus leaves the edges alone.
TEST_F(KeyFixture, MainRowPlusAndMinusChangeTheDensityOnly) {
    press(vk::oemPlus);
    EXPECT_EQ(density, 2.05);
    press(vk::oemMinus);
    EXPECT_DOUBLE_EQ(density, 2.0);
    EXPECT_TRUE(app.drawFlags[Simulator::DrawEdges]);
    // With the keypad's twin in the same pass the density moves one step, not two.
    app.setKeyState(vk::oemPlus, true);
    app.setKeyState(vk::add, true);
    applyKeyCommands(app, system, density);
    EXPECT_DOUBLE_EQ(density, 2.05);
}

TEST_F(KeyFixture, F1AndHShowAndHideTheHelp) {
    press(vk::f1);
    EXPECT_TRUE(app.helpShown);
    press('H');
    EXPECT_FALSE(app.helpShown);
}

TEST_F(KeyFixture, KeypadPlusRaisesByOneStepPerPass) {
    press(vk::add);
    EXPECT_EQ(density, 2.05);
    press(vk::add);
    press(vk::add);
    EXPECT_EQ(density, 2.1499999999999995);  // three steps of 0.05 in doubles
}

TEST_F(KeyFixture, EscapeStopsBeforeAnyOtherKeyActs) {
    app.setKeyState(vk::escape, true);
    app.setKeyState(vk::add, true);
    app.setKeyState('F', true);
    app.setKeyState(vk::insert, true);
    EXPECT_FALSE(applyKeyCommands(app, system, density));
    EXPECT_EQ(density, 2.0);
    EXPECT_TRUE(app.drawFlags[Simulator::DrawFloaters]);
    EXPECT_EQ(system->blobs.count(), 1);
}

TEST_F(KeyFixture, SeveralKeysActInOnePass) {
    app.setKeyState(vk::space, true);
    app.setKeyState('B', true);
    app.setKeyState(vk::add, true);
    EXPECT_TRUE(applyKeyCommands(app, system, density));
    EXPECT_EQ(app.rotationMode, 1);
    EXPECT_TRUE(app.drawFlags[Simulator::DrawBlobs]);
    EXPECT_EQ(density, 2.05);
}

TEST_F(KeyFixture, SpaceCyclesTheRotationModeThroughThree) {
    const int expected[] = {1, 2, 0, 1};
    for (int mode : expected) {
        press(vk::space);
        EXPECT_EQ(app.rotationMode, mode);
    }
}

TEST_F(KeyFixture, DensityStopsAtTheMinimum) {
    for (int i = 0; i < 100; ++i) press(vk::subtract);
    // 39 steps reach 0.05 (up to the drift of adding 0.05 in binary); no step goes below.
    EXPECT_NEAR(density, minimumDensity, 1e-9);
    EXPECT_GT(density, 0.0);
    press(vk::add);
    EXPECT_NEAR(density, 0.1, 1e-9);
}

TEST_F(KeyFixture, InsertAddsABlobOfFiftyAtTheOrigin) {
    system->blobs.first()->centre() = geo::Vertex(5.0, 0.0, 0.0);
    press(vk::insert);
    ASSERT_EQ(system->blobs.count(), 2);
    VessikObj* added = system->blobs.at(1);
    EXPECT_EQ(added->getRadius(), 50.0);
    EXPECT_EQ(added->centre(), geo::Vertex(0.0, 0.0, 0.0));
}

TEST_F(KeyFixture, DeleteRemovesTheOldestButNeverTheLast) {
    press(vk::insert);
    ASSERT_EQ(system->blobs.count(), 2);
    press(vk::del);
    ASSERT_EQ(system->blobs.count(), 1);
    EXPECT_EQ(system->blobs.first()->getRadius(), 50.0);  // the radius-30 blob went first
    press(vk::del);
    ASSERT_EQ(system->blobs.count(), 1);
    EXPECT_EQ(system->blobs.first()->getRadius(), 50.0);
}

// Insert comes before Delete in the table: held together on a one-blob model the new blob
// makes the old one removable. The other way round Delete would be refused first.
TEST_F(KeyFixture, InsertActsBeforeDeleteInOnePass) {
    app.setKeyState(vk::insert, true);
    app.setKeyState(vk::del, true);
    EXPECT_TRUE(applyKeyCommands(app, system, density));
    ASSERT_EQ(system->blobs.count(), 1);
    EXPECT_EQ(system->blobs.first()->getRadius(), 50.0);
}

TEST_F(KeyFixture, KeyCodesBeyondTheTableAreIgnored) {
    app.setKeyState(0x1B + 256, true);  // would alias Escape if cut to a byte
    EXPECT_FALSE(app.keyState(0x1B));
    EXPECT_FALSE(app.keyState(0x1B + 256));
    EXPECT_TRUE(applyKeyCommands(app, system, density));
}

// ---- Ctrl+Z and Ctrl+Y over the blob model ----------------------------------------------

namespace {

constexpr std::uint16_t keyZ = 'Z', keyY = 'Y';

struct HistoryFixture : KeyFixture {
    void SetUp() override {
        KeyFixture::SetUp();
        system->seedParticles();
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
    press({vk::del});  // refused: the last blob stays, and nothing is recorded
    EXPECT_EQ(app.history.undoable(), 0);
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
    // Z and Y without Ctrl change and record nothing.
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
