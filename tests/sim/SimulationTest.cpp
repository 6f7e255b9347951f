// Whole runs through the same step sequence the programs use.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>

#include "model/VessikSpheres.h"
#include "sim/FloaterFile.h"
#include "sim/Stepping.h"

namespace {

const char* const kExamples[] = {"sphere", "two-blobs", "chain", "ring", "figure"};

std::string examplePath(const std::string& name) {
    return std::string(DAZIRUDO_EXAMPLES_DIR) + "/" + name + ".dat";
}

struct SampleRun {
    geo::QList systems;
    VessikSpheres* system = new VessikSpheres(defaultIsoValue);
    double appliedDensity;
    bool forceStep = false, handedOff = false;
    int steps = 0;

    SampleRun(double density, std::uint32_t seed) : appliedDensity(density) {
        systems.append(system);
        system->seedRandom(seed);
    }
    ~SampleRun() { delete system; }

    // Frames as the programs run them, without triangulating at the hand-off.
    bool untilHandedOff(double density, int maxSteps) {
        while (!handedOff && steps < maxSteps)
            steps += runSystems(systems, density, false, appliedDensity, forceStep, handedOff)
                         .stepped;
        return handedOff;
    }
    double largestAbsField() {
        double largest = 0.0;
        for (Particle* p = system->particles.first(); p; p = system->particles.next())
            largest = std::max(largest, std::fabs(system->fieldValue(p->position)));
        return largest;
    }
};

std::string slurp(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

}  // namespace

class ExampleRun : public ::testing::TestWithParam<std::tuple<const char*, double>> {};

// Every example settles at the usual densities, with every floater on its surface.
TEST_P(ExampleRun, ReachesAStableSampleOnTheSurface) {
    const auto [name, density] = GetParam();
    SampleRun run(density, 1);
    ASSERT_TRUE(run.system->readBlobFile(examplePath(name).c_str()));
    run.system->seedParticles();
    ASSERT_TRUE(run.untilHandedOff(density, 20000)) << name << " did not settle";
    EXPECT_TRUE(run.system->isStable());
    EXPECT_GE(run.system->particles.size(), 6 * run.system->blobs.count());
    EXPECT_LE(run.largestAbsField(), 0.01);
    EXPECT_TRUE(run.system->grid.holdsExactly(run.system->particles));
}

INSTANTIATE_TEST_SUITE_P(
    Examples, ExampleRun,
    ::testing::Combine(::testing::ValuesIn(kExamples), ::testing::Values(2.0, 1.0)),
    [](const auto& info) {
        std::string name = std::get<0>(info.param);
        for (char& c : name)
            if (c == '-') c = '_';
        return name + (std::get<1>(info.param) == 2.0 ? "_density2" : "_density1");
    });

// The system's own generator makes a seeded run repeat exactly, file bytes included.
TEST(Simulation, SameSeedGivesIdenticalFloaterFiles) {
    std::string texts[2];
    for (int i = 0; i < 2; ++i) {
        SampleRun run(2.0, 12345);
        ASSERT_TRUE(run.system->readBlobFile(examplePath("two-blobs").c_str()));
        run.system->seedParticles();
        ASSERT_TRUE(run.untilHandedOff(2.0, 20000));
        const std::string path = ::testing::TempDir() + "floaters-repeat.dat";
        ASSERT_TRUE(writeFloaterFile(run.systems, path.c_str()));
        texts[i] = slurp(path);
        std::remove(path.c_str());
    }
    EXPECT_GT(texts[0].size(), 100u);
    EXPECT_EQ(texts[0], texts[1]);
}

// What a drag does: a held control particle moves outward step by step; the blob follows
// it, the particle stays on the surface, and the floaters follow the surface.
TEST(Simulation, DraggedControlParticlePullsTheSurface) {
    SampleRun run(2.0, 3);
    run.system->addBlob(30.0);
    run.system->seedParticles();
    ASSERT_TRUE(run.untilHandedOff(2.0, 20000));

    // Without a control particle, forced steps leave the model where it is.
    for (int i = 0; i < 20; ++i) {
        run.forceStep = true;
        run.handedOff = false;
        run.untilHandedOff(2.0, run.steps + 1);
    }
    EXPECT_EQ(run.system->blobs.first()->centre(), geo::Vertex(0, 0, 0));

    Particle* held = new Particle(*run.system->particles.first());
    held->state = Particle::Control;
    ASSERT_NE(run.system->addControlParticle(held), nullptr);
    const geo::Vertex direction = held->normal;
    const geo::Vertex start = held->position;
    const double perStep = 0.1;
    for (int i = 0; i < 150; ++i) {
        const geo::Vertex move = i < 100 ? direction * perStep : geo::Vertex();
        held->repulsionVelocity = move;
        held->position += move;
        stepSystem(*run.system, 2.0);
        run.system->discardMesh();
    }
    const geo::Vertex centre = run.system->blobs.first()->centre();
    // The centre moved about as far as the particle, in its direction.
    EXPECT_GT(centre.dot(direction), 8.0);
    EXPECT_LT(centre.dot(direction), 11.0);
    EXPECT_LT(std::fabs(run.system->fieldValue(held->position)), 0.005);
    EXPECT_NEAR((held->position - start).length(), 10.0, 1e-9);

    // Let the floaters settle on the moved surface; the control particle goes at hand-off.
    run.handedOff = false;
    ASSERT_TRUE(run.untilHandedOff(2.0, run.steps + 20000));
    EXPECT_EQ(run.system->controlParticles.size(), 0);
    EXPECT_LE(run.largestAbsField(), 0.01);
    geo::Vertex mean;
    for (Particle* p = run.system->particles.first(); p; p = run.system->particles.next())
        mean += p->position;
    mean = mean * (1.0 / run.system->particles.size());
    EXPECT_GT(mean.dot(direction), 7.0);
}
