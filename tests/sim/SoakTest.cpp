// A long seeded run through the programs' own frame sequence on the figure model, driven
// by a random script of what a user does: density changes, drags of control particles and
// their release, blob inserts and deletes, and hand-offs that triangulate. At every
// checkpoint each invariant of the core must hold; run under the sanitizers, LeakSanitizer
// also checks that everything the run made was released.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <memory>
#include <random>
#include <string>

#include "model/VessikSpheres.h"
#include "sim/Stepping.h"

namespace {

// Peak resident set of this process in kB (Linux), or -1 where it cannot be read.
long peakResidentKb() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("VmHWM:", 0) == 0) return std::stol(line.substr(6));
    return -1;
}

void expectFiniteParticles(ParticleList& list, const char* which, int frame) {
    for (Particle* p = list.first(); p; p = list.next()) {
        ASSERT_TRUE(geo::isFinite(p->position) && geo::isFinite(p->velocity) &&
                    geo::isFinite(p->repulsionVelocity) && geo::isFinite(p->normal))
            << which << " with a non-finite vector at frame " << frame;
        ASSERT_TRUE(std::isfinite(p->radius) && std::isfinite(p->radiusRate) &&
                    std::isfinite(p->energy))
            << which << " with a non-finite scalar at frame " << frame;
    }
}

// The user's side of the run: what the interactive program would do, drawn at random.
class Script {
public:
    explicit Script(std::uint32_t seed) : random(seed) {}

    double uniform(double lo, double hi) {
        return std::uniform_real_distribution<>(lo, hi)(random);
    }
    bool chance(double p) { return uniform(0.0, 1.0) < p; }
    int below(int n) { return std::uniform_int_distribution<>(0, n - 1)(random); }
    geo::Vertex direction() {
        std::normal_distribution<> gauss;
        geo::Vertex d(gauss(random), gauss(random), gauss(random));
        const double length = d.length();
        return length > 0.0 ? d * (1.0 / length) : geo::Vertex(1.0, 0.0, 0.0);
    }

private:
    std::mt19937 random;
};

struct SoakFigures {
    int frames = 0, steps = 0, handOffs = 0, meshes = 0, densityChanges = 0, drags = 0,
        refusedDrags = 0, releases = 0, inserts = 0, deletes = 0, refusedDeletes = 0;
    int mostFloaters = 0, mostTriangles = 0;
};

}  // namespace

TEST(Soak, ScriptedFramesOnTheFigureKeepEveryInvariant) {
    const long peakBefore = peakResidentKb();
    const int frames = 3000;
    const int checkEvery = 50;

    geo::QList systems;
    auto owner = std::make_unique<VessikSpheres>(defaultIsoValue);  // freed also on a failure
    VessikSpheres* system = owner.get();
    systems.append(system);
    system->seedRandom(20240607);
    ASSERT_TRUE(system->readBlobFile(DAZIRUDO_EXAMPLES_DIR "/figure.dat"));
    system->seedParticles();

    Script script(77);
    SoakFigures figures;
    double density = 2.0, appliedDensity = 2.0;
    bool forceStep = false, handedOff = false;
    Particle* held = nullptr;  // the control particle the scripted mouse drags, if any
    geo::Vertex dragDirection;
    int dragFramesLeft = 0;

    for (int frame = 1; frame <= frames; ++frame) {
        // Keypad plus and minus, held for a while: a new density within 1.0 .. 3.0.
        if (script.chance(0.004)) {
            density = script.uniform(1.0, 3.0);
            ++figures.densityChanges;
        }
        // Ctrl and the left button on a floater: a copy in state 2 becomes a control
        // particle; refused once the list holds one per parameter.
        if (!held && system->particles.size() > 0 && script.chance(0.01)) {
            Particle* copy =
                new Particle(*system->particles.at(script.below(system->particles.size())));
            copy->state = Particle::Control;
            if (system->addControlParticle(copy)) {
                held = copy;
                dragDirection = script.direction();
                dragFramesLeft = 10 + script.below(60);
                ++figures.drags;
            } else {
                delete copy;
                ++figures.refusedDrags;
            }
        }
        // The drag: a small move each frame, mostly one way, and the held button forces a
        // step even on a stable system.
        if (held) {
            const geo::Vertex move = (dragDirection + script.direction() * 0.3) * 0.15;
            held->repulsionVelocity = move;
            held->position += move;
            forceStep = true;
            // The button goes up; the particle stays until released or handed off.
            if (--dragFramesLeft == 0) held = nullptr;
        }
        if (script.chance(0.003)) {
            system->releaseControlParticles();
            held = nullptr;
            ++figures.releases;
        }
        // Insert and Delete keys.
        if (script.chance(0.002)) {
            system->addBlob(50.0)->centre() = geo::Vertex(0.0, 0.0, 0.0);
            ++figures.inserts;
        }
        if (script.chance(0.002)) {
            if (system->removeBlob(system->blobs.first()))
                ++figures.deletes;
            else
                ++figures.refusedDeletes;
        }

        const FrameOutcome outcome =
            runSystems(systems, density, true, appliedDensity, forceStep, handedOff);
        figures.steps += outcome.stepped;
        if (outcome.handedOff > 0) {
            held = nullptr;  // the hand-off deleted every control particle
            ++figures.handOffs;
            if (system->reconstruct.triangleCount() > 0) {
                ++figures.meshes;
                EXPECT_EQ(system->reconstruct.consistencyFault(), "") << "frame " << frame;
            }
        }
        figures.mostFloaters = std::max(figures.mostFloaters, system->particles.size());
        figures.mostTriangles =
            std::max(figures.mostTriangles, system->reconstruct.triangleCount());
        figures.frames = frame;

        if (frame % checkEvery == 0 || frame == frames) {
            SCOPED_TRACE("frame " + std::to_string(frame));
            ASSERT_EQ(system->invariantFault(), "");
            expectFiniteParticles(system->particles, "a floater", frame);
            expectFiniteParticles(system->controlParticles, "a control particle", frame);
            ASSERT_GE(system->blobs.count(), 1);
            for (int i = 0; i < system->blobs.count(); ++i) {
                VessikObj* blob = system->blobs.at(i);
                ASSERT_TRUE(geo::isFinite(blob->centre())) << "blob " << i;
                ASSERT_TRUE(VessikObj::usableRadius(blob->getRadius())) << "blob " << i;
            }
            // Removals after the last advance leave the stable count as it was, so it may
            // exceed the floaters left; invariantFault checks it is never negative.
            ASSERT_TRUE(std::isfinite(system->lengthScale) && system->lengthScale > 0.0);
            ASSERT_FALSE(system->floaterCeilingReached);
        }
        if (::testing::Test::HasFatalFailure()) break;
    }

    // The script did exercise every kind of event.
    EXPECT_GT(figures.steps, 1000);
    EXPECT_GT(figures.meshes, 3);
    EXPECT_GT(figures.densityChanges, 3);
    EXPECT_GT(figures.drags, 10);
    EXPECT_GT(figures.releases, 2);
    EXPECT_GT(figures.inserts, 1);
    EXPECT_GT(figures.deletes, 1);

    owner.reset();
    const long peakAfter = peakResidentKb();
    std::printf(
        "soak: %d frames, %d steps, %d hand-offs (%d meshes, up to %d triangles), up to %d "
        "floaters; %d density changes, %d drags (%d refused), %d releases, %d inserts, %d "
        "deletes (%d refused); peak RSS %ld kB before, %ld kB after\n",
        figures.frames, figures.steps, figures.handOffs, figures.meshes, figures.mostTriangles,
        figures.mostFloaters, figures.densityChanges, figures.drags, figures.refusedDrags,
        figures.releases, figures.inserts, figures.deletes, figures.refusedDeletes, peakBefore,
        peakAfter);
    ::testing::Test::RecordProperty("peak_rss_kb_before", std::to_string(peakBefore));
    ::testing::Test::RecordProperty("peak_rss_kb_after", std::to_string(peakAfter));
}

// Insert on a settled sample: a radius-50 blob at the origin swallows the whole sphere, so
// every floater is off the new surface at once. They must be carried over to it, not all
// removed (nothing could ever seed the surface again).
TEST(ModelChange, InsertOnASettledSampleCarriesTheFloatersOver) {
    geo::QList systems;
    auto owner = std::make_unique<VessikSpheres>(defaultIsoValue);
    VessikSpheres* system = owner.get();
    systems.append(system);
    system->seedRandom(11);
    system->addBlob(30.0);
    system->seedParticles();
    double appliedDensity = 2.0;
    bool forceStep = false, handedOff = false;
    auto untilHandedOff = [&](int maxSteps) {
        int steps = 0;
        handedOff = false;
        while (!handedOff && steps < maxSteps)
            steps += runSystems(systems, 2.0, false, appliedDensity, forceStep, handedOff).stepped;
        return handedOff;
    };
    ASSERT_TRUE(untilHandedOff(5000));
    ASSERT_FALSE(system->settling);

    system->addBlob(50.0);  // at the origin, as the Insert key puts it
    EXPECT_TRUE(system->settling);
    // The floaters still count as stable, so nothing steps until something forces it: a
    // density change or a drag.
    forceStep = true;
    ASSERT_TRUE(untilHandedOff(5000));
    EXPECT_GE(system->particles.size(), 12);
    EXPECT_TRUE(system->grid.holdsExactly(system->particles));
    // On the new surface: F = T - exp(-d^2/900) - exp(-d^2/2500) = 0 at d = 53.07, well
    // outside the old sphere of radius 30.
    for (Particle* p = system->particles.first(); p; p = system->particles.next()) {
        ASSERT_LE(std::fabs(system->fieldValue(p->position)), 0.01);
        ASSERT_NEAR(p->position.length(), 53.07, 0.6);  // |grad F| is 0.019 there
    }
}
