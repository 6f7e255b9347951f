// The frame of the application without a window: the view skips its GL calls but keeps
// the title text, so stepping, hand-off, the picking rules and the status line all run.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <string>

#include "app/InFolder.h"
#include "app/KeyCommands.h"
#include "app/Program.h"
#include "app/Simulator.h"
#include "model/TempFile.h"
#include "model/VessikSpheres.h"
#include "view/Scene.h"
#include "view/Visualize.h"

namespace {

constexpr int frameLimit = 3000;  // a radius-30 blob settles in a few hundred frames

bool contains(const std::string& text, const char* part) {
    return text.find(part) != std::string::npos;
}

bool holds(ParticleList& list, const Particle* particle) {
    for (Particle* p = list.first(); p != nullptr; p = list.next()) {
        if (p == particle) return true;
    }
    return false;
}

struct FrameFixture : ::testing::Test {
    Simulator app;
    VessikSpheres* system = nullptr;

    void SetUp() override {
        handedOff = false;
        system = new VessikSpheres(defaultIsoValue);
        app.addSystem(system);
        system->addBlob(30.0);
        system->seedRandom(20240611);
        system->seedParticles();
        app.started = true;  // as after startUp, without a window
    }
    void TearDown() override { handedOff = false; }

    // Runs frames until the frame in which the system first became stable (not yet
    // handed off). False when it never settles.
    bool runUntilJustStable(double density = 2.0) {
        for (int i = 0; i < frameLimit; ++i) {
            app.runFrame(density);
            if (system->isStable() && !handedOff) return true;
        }
        return false;
    }
};

}  // namespace

TEST_F(FrameFixture, NoFrameBeforeStartUp) {
    app.started = false;
    app.setKeyState('F', true);
    const geo::Vertex before = system->particles.first()->position;
    app.runFrame(2.0);
    EXPECT_EQ(system->particles.first()->position, before);
    EXPECT_EQ(app.view->title, "");
    EXPECT_TRUE(app.keyState('F'));  // keys survive a frame that did not run
}

// While the window is minimised no frame runs, and the keys wait for one: a key held down
// acts once when the window is back, not on every idle pass in between.
TEST_F(FrameFixture, MinimisedWindowRunsNoFrameAndKeepsKeys) {
    double density = 2.0;
    app.setActive(false);
    app.setKeyState(vk::add, true);
    app.setKeyState(vk::insert, true);
    const geo::Vertex before = system->particles.first()->position;
    app.runFrame(2.0);
    for (int pass = 0; pass < 100; ++pass) ASSERT_TRUE(runIdlePass(app, density));
    EXPECT_EQ(system->particles.first()->position, before);
    EXPECT_TRUE(app.keyState(vk::add));
    EXPECT_EQ(density, 2.0);
    EXPECT_EQ(system->blobs.count(), 1);

    app.setActive(true);
    for (int pass = 0; pass < 3; ++pass) runIdlePass(app, density);
    EXPECT_NE(system->particles.first()->position, before);
    EXPECT_FALSE(app.keyState(vk::add));
    EXPECT_EQ(density, 2.05);
    EXPECT_EQ(system->blobs.count(), 2);
}

TEST_F(FrameFixture, FrameClearsKeysFrom32ButKeepsHeldCtrl) {
    for (int code = 0; code < Simulator::keyCount; ++code) app.setKeyState(code, true);
    app.runFrame(2.0);
    for (int code = 0; code < Simulator::keyCount; ++code) {
        EXPECT_EQ(app.keyState(code), code < 32) << "code " << code;
    }
}

// A key acts once per key-down message, whichever idle passes its messages fall between: a
// tap between two passes (a quick one, or any during a slow frame) acts once, as a held key
// does, and the keyboard's repeat steps a held key again.
TEST_F(FrameFixture, EachKeyDownActsOnce) {
    double density = 2.0;
    const auto tap = [&](std::uint16_t code) {
        app.setKeyState(code, true);
        app.setKeyState(code, false);
    };
    tap(vk::add);
    tap('B');
    tap(vk::insert);
    for (int pass = 0; pass < 3; ++pass) {
        ASSERT_TRUE(runIdlePass(app, density));
        EXPECT_EQ(density, 2.05) << "pass " << pass;
        EXPECT_TRUE(app.drawFlags[Simulator::DrawBlobs]) << "pass " << pass;
        EXPECT_EQ(system->blobs.count(), 2) << "pass " << pass;
    }
    app.setKeyState(vk::add, true);
    runIdlePass(app, density);
    runIdlePass(app, density);
    EXPECT_DOUBLE_EQ(density, 2.1);
    app.setKeyState(vk::add, true);  // the keyboard's repeat
    runIdlePass(app, density);
    EXPECT_DOUBLE_EQ(density, 2.15);
    tap(vk::escape);
    EXPECT_FALSE(runIdlePass(app, density));
}

TEST_F(FrameFixture, StatusGoesFromRunningThroughTriangulatingToFinished) {
    app.runFrame(2.0);
    EXPECT_TRUE(contains(app.view->title, "- Physics Running!")) << app.view->title;
    EXPECT_EQ(app.appliedDensity, 2.0);

    ASSERT_TRUE(runUntilJustStable());
    // Stable, but the hand-off that triangulates comes with the next frame.
    EXPECT_TRUE(contains(app.view->title, "- Triangulation in progress...")) << app.view->title;
    EXPECT_EQ(system->reconstruct.triangleCount(), 0);

    app.runFrame(2.0);
    EXPECT_TRUE(handedOff);
    const int triangles = system->reconstruct.triangleCount();
    EXPECT_GT(triangles, 0);
    EXPECT_EQ(app.view->title, "VessikSpheres - Density: 2.00 - Total Floaters: " +
                                   std::to_string(system->particles.size()) +
                                   " - Total Triangles: " + std::to_string(triangles) +
                                   " - System stopped");

    // Idle afterwards: no step, no second triangulation.
    const geo::Vertex before = system->particles.first()->position;
    app.runFrame(2.0);
    EXPECT_EQ(system->particles.first()->position, before);
    EXPECT_EQ(system->reconstruct.triangleCount(), triangles);
}

TEST_F(FrameFixture, DensityChangeStepsAStableSystemAndDropsItsMesh) {
    ASSERT_TRUE(runUntilJustStable());
    app.runFrame(2.0);
    ASSERT_GT(system->reconstruct.triangleCount(), 0);

    app.runFrame(2.05);
    EXPECT_EQ(app.appliedDensity, 2.05);
    EXPECT_FALSE(handedOff);
    EXPECT_EQ(system->reconstruct.triangleCount(), 0);
    EXPECT_TRUE(contains(app.view->title, "Density: 2.05")) << app.view->title;
}

// With the mesh modes off at the hand-off nothing is triangulated; turning one on later
// meshes the unchanged sample at once, instead of leaving "Triangulation in progress..."
// in the title until something makes the system step again.
TEST_F(FrameFixture, MeshModeTurnedOnAfterTheHandOffTriangulatesTheSample) {
    app.toggleDrawFlag(Simulator::DrawTriangles);
    app.toggleDrawFlag(Simulator::DrawEdges);
    ASSERT_TRUE(runUntilJustStable());
    EXPECT_TRUE(contains(app.view->title, "- Physics Stopped!")) << app.view->title;
    app.runFrame(2.0);
    EXPECT_TRUE(handedOff);
    EXPECT_EQ(system->reconstruct.triangleCount(), 0);

    app.toggleDrawFlag(Simulator::DrawTriangles);
    const geo::Vertex before = system->particles.first()->position;
    app.runFrame(2.0);
    EXPECT_EQ(system->particles.first()->position, before);  // no step was needed for it
    EXPECT_GT(system->reconstruct.triangleCount(), 0);
    EXPECT_TRUE(contains(app.view->title, "- System stopped")) << app.view->title;
}

// Insert on a settled system: the system steps again, the new blob is sampled, and the
// mesh that follows covers the new surface. Undoing it: the floaters on the merged surface
// lie where the restored blob's field is too flat to pull them back, and die; the sample
// must come back on the radius-30 sphere, not die out.
TEST_F(FrameFixture, InsertAndItsUndoOnASettledSystemResettleOnTheNewSurface) {
    double density = 2.0;
    const auto settle = [&] {
        for (int i = 0; i < frameLimit && !handedOff; ++i) app.runFrame(density);
        return handedOff;
    };
    ASSERT_TRUE(settle());
    ASSERT_GT(system->reconstruct.triangleCount(), 0);

    app.setKeyState(vk::insert, true);  // a radius-50 blob at the origin
    ASSERT_TRUE(applyKeyCommands(app, system, density));
    app.runFrame(density);
    EXPECT_EQ(system->reconstruct.triangleCount(), 0);  // stepped: the old mesh is gone
    ASSERT_TRUE(settle());
    EXPECT_GT(system->reconstruct.triangleCount(), 0);
    // The merged solid is a sphere of radius 53 (where e^(-r^2/900) + e^(-r^2/2500) = 1/e)
    // instead of 30: every floater has moved out onto it.
    for (Particle* p : system->particles.inOrder()) {
        EXPECT_LT(std::fabs(system->fieldValue(p->position)), 0.01);
        EXPECT_NEAR(p->position.length(), 53.0, 0.5);
    }

    app.setKeyState(Simulator::controlKey, true);
    app.setKeyState('Z', true);
    applyKeyCommands(app, system, density);
    app.setKeyState(Simulator::controlKey, false);
    app.runFrame(density);
    ASSERT_TRUE(settle());
    ASSERT_EQ(system->blobs.count(), 1);
    ASSERT_GT(system->particles.size(), 100);
    for (Particle* p : system->particles.inOrder()) EXPECT_NEAR(p->position.length(), 30.0, 0.5);
}

// A drag leaves its control particle behind when the button is released; the hand-off
// deletes it, and forgets whatever floater the mouse had picked since.
TEST_F(FrameFixture, HandOffReleasesLeftControlParticlesAndForgetsThePick) {
    ASSERT_TRUE(runUntilJustStable());
    app.picked = system->particles.first();
    app.pickedSystem = system;
    app.mouseButton(0, true);
    ASSERT_NE(app.picked, nullptr);
    ASSERT_EQ(app.picked->state, Particle::Control);
    app.mouseButton(0, false);
    EXPECT_EQ(app.picked, nullptr);
    ASSERT_EQ(system->controlParticles.size(), 1);

    app.picked = system->particles.at(1);  // hovered with Ctrl, not held
    app.runFrame(2.0);
    EXPECT_TRUE(handedOff);
    EXPECT_EQ(system->controlParticles.size(), 0);
    EXPECT_EQ(app.picked, nullptr);
}

// Floaters die and are removed while the sample settles; a picked one that goes must be
// forgotten before the frame draws it, and one that stays must stay picked.
TEST_F(FrameFixture, PickedNeverOutlivesItsFloater) {
    int forgotten = 0;
    int kept = 0;
    for (int i = 0; i < frameLimit && !handedOff; ++i) {
        if (app.picked == nullptr) {
            app.picked = system->particles.at(system->particles.size() / 2);
            app.pickedSystem = system;
        }
        Particle* before = app.picked;
        app.runFrame(2.0);
        if (app.picked == nullptr) {
            ++forgotten;
        } else {
            ASSERT_TRUE(holds(system->particles, app.picked)) << "frame " << i;
            EXPECT_EQ(app.picked, before);
            ++kept;
        }
    }
    EXPECT_GT(kept, 0);
    EXPECT_GT(forgotten, 0) << "no picked floater died; the case went untested";
}

TEST_F(FrameFixture, PickedFloaterRemovedWhileIdleIsForgotten) {
    ASSERT_TRUE(runUntilJustStable());
    app.runFrame(2.0);
    ASSERT_TRUE(handedOff);
    Particle* victim = system->particles.at(3);
    app.picked = victim;
    app.pickedSystem = system;
    system->grid.remove(victim);
    system->particles.remove(victim);
    app.runFrame(2.0);
    EXPECT_EQ(app.picked, nullptr);
}

// A settled system that the user pulls on keeps stepping while the button is held, so
// the held particle survives the whole drag; after the release it settles and is handed
// off again, which releases the particle.
TEST_F(FrameFixture, HeldControlParticleKeepsTheSystemSteppingUntilReleased) {
    ASSERT_TRUE(runUntilJustStable());
    app.runFrame(2.0);
    ASSERT_TRUE(handedOff);
    app.picked = system->particles.first();
    app.pickedSystem = system;
    app.mouseButton(0, true);
    Particle* held = app.picked;
    ASSERT_NE(held, nullptr);
    for (int i = 0; i < 20; ++i) {
        app.runFrame(2.0);
        EXPECT_FALSE(handedOff) << "frame " << i;
        ASSERT_EQ(app.picked, held);
        EXPECT_EQ(system->controlParticles.size(), 1);
    }
    app.mouseButton(0, false);
    EXPECT_EQ(app.picked, nullptr);
    for (int i = 0; i < frameLimit && !handedOff; ++i) app.runFrame(2.0);
    EXPECT_TRUE(handedOff);
    EXPECT_EQ(system->controlParticles.size(), 0);
}

// A system that can no longer be sampled says so once, not once per frame.
TEST_F(FrameFixture, SampleThatDiedOutIsReportedOnce) {
    system->grid.removeAll(system->particles);
    system->particles.clear();
    ::testing::internal::CaptureStderr();
    app.runFrame(2.0);
    app.runFrame(2.0);
    const std::string said = ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(said, "dazirudo: no sample: every floater died out at density 2.00\n");
}

// The mesh leaves with the model: at exit beside floaters.dat and blobs.dat, and at once
// with E, in the model's units (here a blob of radius 0.3, simulated 256 times larger).
TEST_F(FrameFixture, MeshIsWrittenAtExitAndByTheEKeyInTheModelsUnits) {
    VessikSpheres* small = new VessikSpheres(defaultIsoValue);
    small->addBlob(0.3);
    small->seedRandom(7);
    app.replaceModel(small);
    small->startSampling();
    ASSERT_GT(small->unitScale, 1.0);
    for (int i = 0; i < frameLimit && !handedOff; ++i) app.runFrame(2.0);
    const int triangles = small->reconstruct.triangleCount();
    ASSERT_GT(triangles, 0);

    TempFolder folder;
    InFolder in(folder.root());
    ::testing::internal::CaptureStderr();
    app.setKeyState('E', true);
    double density = 2.0;
    applyKeyCommands(app, small, density);
    const std::string said = ::testing::internal::GetCapturedStderr();
    const std::string path = std::filesystem::absolute("mesh.obj").string();
    EXPECT_EQ(said, "dazirudo: mesh written to " + path + " (" + std::to_string(triangles) +
                        " triangles)\n");
    std::filesystem::remove("mesh.obj");

    ASSERT_TRUE(app.shutDown());
    EXPECT_FALSE(app.writeFailed);
    EXPECT_TRUE(std::filesystem::exists("floaters.dat"));
    EXPECT_TRUE(std::filesystem::exists("blobs.dat"));
    std::ifstream mesh("mesh.obj");
    int vertices = 0, faces = 0;
    for (std::string line; std::getline(mesh, line);) {
        if (line.rfind("v ", 0) == 0) {
            double x, y, z;
            ASSERT_EQ(std::sscanf(line.c_str(), "v %lf %lf %lf", &x, &y, &z), 3);
            // On the surface of the lone blob: 0.3 from its centre, to the sample's accuracy.
            EXPECT_NEAR(std::sqrt(x * x + y * y + z * z), 0.3, 0.006);
            ++vertices;
        }
        if (line.rfind("f ", 0) == 0) ++faces;
    }
    EXPECT_GT(vertices, 0);
    EXPECT_EQ(faces, triangles);
}

// Before the mesh exists, E says why nothing was written, and the exit leaves a mesh.obj
// of an earlier run alone, saying so.
TEST_F(FrameFixture, NoMeshYetIsSaidAndNothingIsWritten) {
    TempFolder folder;
    InFolder in(folder.root());
    ::testing::internal::CaptureStderr();
    EXPECT_TRUE(app.writeMeshFile(nullptr, true));
    std::ofstream("mesh.obj") << "# an earlier model\n";
    EXPECT_TRUE(app.writeMeshFile());
    const std::string said = ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(said,
              "dazirudo: no mesh to write yet: the sample has not settled\n"
              "dazirudo: mesh.obj is left as it was: this model has no mesh\n");
    EXPECT_EQ(readWhole("mesh.obj", "rt"), "# an earlier model\n");
}

// The main loop waits for a window message only when a frame would change nothing.
TEST_F(FrameFixture, RestsOnlyWhenAFrameWouldChangeNothing) {
    EXPECT_FALSE(app.resting(2.0));  // settling
    ASSERT_TRUE(runUntilJustStable());
    EXPECT_FALSE(app.resting(2.0));  // the hand-off and its mesh are still to come
    app.runFrame(2.0);
    ASSERT_TRUE(handedOff);
    EXPECT_TRUE(app.resting(2.0));

    EXPECT_FALSE(app.resting(2.05));  // a density key changed the density
    app.setKeyState(Simulator::controlKey, true);
    EXPECT_FALSE(app.resting(2.0));  // Ctrl held: the picking view
    app.setKeyState(Simulator::controlKey, false);
    app.setKeyState('B', true);
    app.setKeyState('B', false);
    EXPECT_FALSE(app.resting(2.0));  // a tap not acted on yet
    app.keysActedOn();
    app.buttons[1] = true;
    EXPECT_FALSE(app.resting(2.0));
    app.buttons[1] = false;
    app.dropFile("model.dat");
    EXPECT_FALSE(app.resting(2.0));
    app.droppedFile.clear();
    EXPECT_TRUE(app.resting(2.0));

    // Revealed triangle by triangle, the mesh takes a frame per triangle.
    app.toggleDrawFlag(Simulator::DrawProgressive);
    progressCount = 1;
    EXPECT_FALSE(app.resting(2.0));
    progressCount = system->reconstruct.triangleCount() + 1;
    EXPECT_TRUE(app.resting(2.0));

    app.setActive(false);  // minimised: nothing runs until the window is back
    system->unsettle();
    EXPECT_TRUE(app.resting(2.0));
    app.setActive(true);
    EXPECT_FALSE(app.resting(2.0));

    // Every floater gone: steps change nothing until the model is changed.
    system->grid.removeAll(system->particles);
    system->particles.clear();
    ::testing::internal::CaptureStderr();
    app.runFrame(2.0);
    ::testing::internal::GetCapturedStderr();
    EXPECT_TRUE(app.resting(2.0));
}
