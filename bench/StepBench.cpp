// One full simulation step (solve, forces, advance, population, grid) on stable samples
// of the sphere model at about 1k, 10k and 100k floaters; finer samples come from lower
// densities. The sample is made once per size, then every iteration steps a fresh copy
// of the same state so that all iterations do the same work.
#include <benchmark/benchmark.h>

#include <map>
#include <memory>

#include "model/VessikSpheres.h"
#include "sim/Stepping.h"

namespace {

// Densities that give stable sphere samples of roughly 1k, 10k and 100k floaters.
double densityFor(int thousands) {
    switch (thousands) {
        case 1: return 1.8;
        case 10: return 0.56;
        default: return 0.178;
    }
}

struct Sample {
    std::unique_ptr<VessikSpheres> system;
    double density;
};

std::unique_ptr<VessikSpheres> settle(double density) {
    auto system = std::make_unique<VessikSpheres>(defaultIsoValue);
    system->seedRandom(1);
    system->addBlob(30.0);
    system->seedParticles();
    geo::QList systems;
    systems.append(system.get());
    double applied = density;
    bool forceStep = false, handedOff = false;
    for (int steps = 0; !handedOff && steps < 100000;)
        steps += runSystems(systems, density, false, applied, forceStep, handedOff).stepped;
    return system;
}

// Copies the floaters (position, radius and the rest) into a fresh system on the same model.
std::unique_ptr<VessikSpheres> copyOf(VessikSpheres& source) {
    auto copy = std::make_unique<VessikSpheres>(defaultIsoValue);
    copy->seedRandom(2);
    copy->addBlob(30.0);
    copy->lengthScale = source.lengthScale;
    copy->settling = source.settling;
    copy->grid.interactionRange = source.grid.interactionRange;
    copy->grid.rebuild(source.grid.getLevel(), source.grid.domainSize());
    for (Particle* p = source.particles.first(); p; p = source.particles.next()) {
        Particle* q = new Particle(*p);
        copy->particles.append(q);
        copy->grid.insert(q);
    }
    return copy;
}

Sample& sampleOf(int thousands) {
    static std::map<int, Sample> samples;
    Sample& sample = samples[thousands];
    if (!sample.system) {
        sample.density = densityFor(thousands);
        sample.system = settle(sample.density);
    }
    return sample;
}

void BM_SimulationStep(benchmark::State& state) {
    Sample& sample = sampleOf(static_cast<int>(state.range(0)));
    const int floaters = sample.system->particles.size();
    for (auto _ : state) {
        state.PauseTiming();
        auto system = copyOf(*sample.system);
        state.ResumeTiming();
        stepSystem(*system, sample.density);
        benchmark::DoNotOptimize(system->stableCount);
        state.PauseTiming();
        system.reset();
        state.ResumeTiming();
    }
    state.counters["floaters"] = floaters;
    state.counters["ns_per_floater"] = benchmark::Counter(
        static_cast<double>(floaters) * state.iterations(),
        benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

}  // namespace

BENCHMARK(BM_SimulationStep)->Arg(1)->Arg(10)->Arg(100)->Unit(benchmark::kMillisecond);
BENCHMARK_MAIN();
