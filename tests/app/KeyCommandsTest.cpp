#include <gtest/gtest.h>

#include <algorithm>
#include <iterator>

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
    // One press acted on by one idle pass, whose frame then ends.
    bool press(std::uint16_t code) {
        app.setKeyState(code, true);
        const bool goOn = applyKeyCommands(app, system, density);
        app.setKeyState(code, false);
        app.keysActedOn();
        return goOn;
    }
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
