// One full simulation step (setDensity, solve, forces, advance, population, grid) on
// stable samples: the sphere model (radius 30) at about 1k, 10k and 100k floaters, the
// figure model (20 blobs) at about 2k and 8k, and on settling samples of models of many
// small blobs (10,000 and 100,000). Every benchmark reports the nanoseconds per
// floater-step (wall-clock, since the step runs on several threads), the processor time of
// all threads per floater-step, and the thread count;
// DAZIRUDO_THREADS chooses it, every hardware thread by default.
//
// A fresh run at a low density settles very slowly, so a large sample is made as a user
// would make it: settle at density 1.0, then lower the density by a factor 0.8 (the last
// step lands on the target) each time the system is stable, as repeated keypad-minus
// presses do. Right after a density change the splits keep the stable share high for a
// few steps, so each level runs at least `minStepsPerLevel` steps before the stability
// test counts. Below density 0.7 the share tends to hover just under 90 %: a level that
// does not reach it within `maxStepsPerLevel` steps (`maxStepsLastLevel` for the target
// density) is left after that many, and the sample is then reported as not stable. Each
// sample is made once per run of the benchmark, from a seeded run, so it is the same
// sample every time; making the 100k one takes minutes.
//
// Every iteration steps the sample itself, as the interactive program steps its system:
// a copy would put the floaters in fresh, list-ordered memory and hide how scattered a
// real run's floaters are. A stable sample stays near its size, and the per-floater
// counter divides by the floaters actually stepped.
//
// Built with -DDAZIRUDO_BENCH_BASELINE the file also compiles against a core from before
// the thread pool and the working scale, so that both can be measured side by side on the
// same samples, e.g. with the baseline's headers and library (one command line):
//   g++ -std=c++17 -O2 -g -DNDEBUG -DDAZIRUDO_BENCH_BASELINE
//       -DDAZIRUDO_EXAMPLES_DIR='"examples"' -I BASE bench/StepBench.cpp
//       BASE/build/libdazirudo_core.a -lbenchmark -lpthread
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <initializer_list>
#include <map>
#include <memory>
#include <string>
#include <tuple>

#include "model/VessikSpheres.h"
#include "sim/Stepping.h"

namespace {

// The benchmark's second argument, when above 0, sets the thread count of the system it
// steps, so that one sample is measured on one thread and on several in one run; 0 leaves
// the default.
void setThreads(ImplicitSurface& system, const benchmark::State& state) {
#ifdef DAZIRUDO_BENCH_BASELINE
    (void)system;
    (void)state;
#else
    if (state.range(1) > 0) system.threads = static_cast<int>(state.range(1));
#endif
}

int threadsOf(ImplicitSurface& system) {
#ifdef DAZIRUDO_BENCH_BASELINE
    (void)system;
    return 1;
#else
    return system.threadCount();
#endif
}

// Seeds the floaters, as a run starts.
void startRun(ImplicitSurface& system) {
#ifdef DAZIRUDO_BENCH_BASELINE
    system.seedParticles();  // the core from before the working scale
#else
    system.startSampling();
#endif
}

constexpr int minStepsPerLevel = 200;
constexpr int maxStepsPerLevel = 1000;
constexpr int maxStepsLastLevel = 3000;

enum class Model { Sphere, Figure, Rings, Shell };

const char* nameOf(Model model) {
    static const char* const names[] = {"sphere", "figure", "rings", "shell"};
    return names[static_cast<int>(model)];
}

struct Sample {
    std::unique_ptr<VessikSpheres> system;
    double density = 0.0;
    bool stable = false;
};

// Steps at least `minSteps` times and then until the system is stable, or until
// `maxSteps` steps; the number of steps taken.
int settle(VessikSpheres& system, double density, int minSteps, int maxSteps) {
    int steps = 0;
    do {
        stepSystem(system, density);
        system.discardMesh();
        ++steps;
    } while ((steps < minSteps || !system.isStable()) && steps < maxSteps);
    return steps;
}

// `count` blobs of radius 1, in rings of 100 blobs 1.2 radii apart (a ring of radius 19),
// the rings on a square grid 50 apart: a model of many small blobs in which each point is
// near a dozen of them.
void addRings(VessikSpheres& system, int count) {
    const int perRing = 100;
    const int rings = count / perRing;
    const int side = static_cast<int>(std::ceil(std::sqrt(static_cast<double>(rings))));
    const double ringRadius = 1.2 * perRing / (2.0 * 3.141592653589793);
    for (int r = 0; r < rings; ++r) {
        const double cx = 50.0 * (r % side), cy = 50.0 * (r / side);
        for (int i = 0; i < perRing; ++i) {
            const double angle = 2.0 * 3.141592653589793 * i / perRing;
            system.addBlob(1.0)->centre() = geo::Vertex(
                cx + ringRadius * std::cos(angle), cy + ringRadius * std::sin(angle),
                0.3 * std::sin(3.0 * angle));
        }
    }
}

// `count` blobs of radius 1 on a sphere, about one radius apart (a Fibonacci spiral): a
// closed sheet in which each point is near a hundred blobs.
void addShell(VessikSpheres& system, int count) {
    const double radius = std::sqrt(count / (4.0 * 3.141592653589793));
    const double golden = 3.141592653589793 * (3.0 - std::sqrt(5.0));
    for (int i = 0; i < count; ++i) {
        const double y = 1.0 - 2.0 * (i + 0.5) / count;
        const double ring = std::sqrt(1.0 - y * y);
        system.addBlob(1.0)->centre() =
            geo::Vertex(std::cos(golden * i) * ring, y, std::sin(golden * i) * ring) * radius;
    }
}

// Density of the sample with about `floaters` floaters: about 3000 / d^2 floaters on the
// sphere (somewhat more at the lowest densities: 1.75 gives 1016, 0.58 about 9k, 0.18
// about 110k) and 1960 / d^2 on the figure. The many-blob models are stepped at a fixed
// density for a given number of steps while they settle.
double targetDensity(Model model, int floaters) {
    if (model == Model::Sphere) return floaters <= 1000 ? 1.75 : (floaters <= 10000 ? 0.58 : 0.18);
    if (model == Model::Figure) return std::sqrt(1960.0 / floaters);
    return model == Model::Rings ? 0.1 : 1.0;
}

Sample makeSample(Model model, int size) {
    Sample sample;
    sample.system = std::make_unique<VessikSpheres>(defaultIsoValue);
    VessikSpheres& system = *sample.system;
    system.seedRandom(1);
    switch (model) {
        case Model::Sphere:
            system.addBlob(30.0);
            break;
        case Model::Figure:
            // An empty model would be measured without a word: better no figure at all.
            if (!system.readBlobFile(DAZIRUDO_EXAMPLES_DIR "/figure.dat") ||
                system.blobs.count() == 0) {
                std::fprintf(stderr, "cannot read " DAZIRUDO_EXAMPLES_DIR "/figure.dat\n");
                std::exit(1);
            }
            break;
        case Model::Rings:
            addRings(system, size);
            break;
        case Model::Shell:
            addShell(system, size);
            break;
    }
    startRun(system);
    const double target = targetDensity(model, size);
    const std::clock_t start = std::clock();
    if (model == Model::Rings || model == Model::Shell) {
        // Far from stable, but past the first big moves from the seeds onto the surface.
        settle(system, target, 20, 20);
        std::fprintf(stderr, "sample %s %d: density %.4f, 20 steps, %d floaters, %.0f s CPU\n",
                     nameOf(model), size, target, system.particles.size(),
                     static_cast<double>(std::clock() - start) / CLOCKS_PER_SEC);
        sample.density = target;
        return sample;
    }
    // Above density 1.0 a fresh run settles quickly: start there directly.
    double density = target > 1.0 ? target : 1.0;
    for (;;) {
        const int steps = settle(system, density, minStepsPerLevel,
                                 density == target ? maxStepsLastLevel : maxStepsPerLevel);
        std::fprintf(stderr,
                     "sample %s %d: density %.4f, %d steps, %d floaters, %d stable, %.0f s CPU\n",
                     nameOf(model), size, density, steps, system.particles.size(),
                     system.stableCount,
                     static_cast<double>(std::clock() - start) / CLOCKS_PER_SEC);
        if (density == target) break;
        density = density * 0.8 > target ? density * 0.8 : target;
    }
    sample.density = target;
    sample.stable = system.isStable();
    return sample;
}

Sample& sampleOf(Model model, int size) {
    static std::map<std::tuple<Model, int>, Sample> samples;
    auto found = samples.find({model, size});
    if (found == samples.end())
        found = samples.emplace(std::make_tuple(model, size), makeSample(model, size)).first;
    return found->second;
}

void stepBench(benchmark::State& state, Model model) {
    Sample& sample = sampleOf(model, static_cast<int>(state.range(0)));
    VessikSpheres& system = *sample.system;
    setThreads(system, state);
    double stepped = 0.0;
    const std::clock_t start = std::clock();
    for (auto _ : state) {
        stepped += system.particles.size();
        stepSystem(system, sample.density);
        system.discardMesh();
        benchmark::DoNotOptimize(system.stableCount);
    }
    const double cpuSeconds = static_cast<double>(std::clock() - start) / CLOCKS_PER_SEC;
    state.counters["floaters"] = stepped / static_cast<double>(state.iterations());
    state.counters["blobs"] = system.blobs.count();
    state.counters["sample_stable"] = sample.stable ? 1.0 : 0.0;
    state.counters["threads"] = threadsOf(system);
    // Seconds per floater-step (wall-clock, as the benchmark runs UseRealTime), shown in ns.
    state.counters["ns_per_floater"] = benchmark::Counter(
        stepped * 1e-9, benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
    // The processor time of every thread of the process per floater-step: on a machine that
    // others share, the work itself, which the wall clock hides behind their load.
    state.counters["cpu_ns_per_floater"] = stepped > 0.0 ? cpuSeconds * 1e9 / stepped : 0.0;
}

void BM_SimulationStep(benchmark::State& state) { stepBench(state, Model::Sphere); }
void BM_FigureStep(benchmark::State& state) { stepBench(state, Model::Figure); }
void BM_RingsStep(benchmark::State& state) { stepBench(state, Model::Rings); }
void BM_ShellStep(benchmark::State& state) { stepBench(state, Model::Shell); }

// From the model to its first step: seeding six floaters per blob and one step of them.
void BM_SeedAndStep(benchmark::State& state) {
    const int blobs = static_cast<int>(state.range(0));
    double floaters = 0.0;
    int threads = 1;
    for (auto _ : state) {
        state.PauseTiming();
        auto system = std::make_unique<VessikSpheres>(defaultIsoValue);
        system->seedRandom(1);
        addShell(*system, blobs);
        state.ResumeTiming();
        startRun(*system);
        stepSystem(*system, 0.1);
        floaters += system->particles.size();
        threads = threadsOf(*system);
        state.PauseTiming();
        system.reset();
        state.ResumeTiming();
    }
    state.counters["floaters"] = floaters / static_cast<double>(state.iterations());
    state.counters["threads"] = threads;
}

}  // namespace

// Each size with the default thread count, then with one and with two.
void sizesAndThreads(benchmark::internal::Benchmark* bench, std::initializer_list<int> sizes) {
    bench->ArgNames({"size", "threads"});
    for (int size : sizes)
        for (int threads : {0, 1, 2}) bench->Args({size, threads});
    bench->MinTime(3.0)->UseRealTime()->Unit(benchmark::kMillisecond);
}

BENCHMARK(BM_SimulationStep)->Apply([](auto* b) { sizesAndThreads(b, {1000, 10000, 100000}); });
BENCHMARK(BM_FigureStep)->Apply([](auto* b) { sizesAndThreads(b, {2000, 8000}); });
BENCHMARK(BM_RingsStep)->Apply([](auto* b) { sizesAndThreads(b, {10000}); });
BENCHMARK(BM_ShellStep)->Apply([](auto* b) { sizesAndThreads(b, {10000}); });
BENCHMARK(BM_SeedAndStep)->Arg(100000)->Iterations(1)->UseRealTime()->Unit(
    benchmark::kMillisecond);
BENCHMARK_MAIN();
