// Time of the advancing-front triangulation on evenly spread sphere samples with outward
// normals, with the indexed apex search and with the plain scan of every node.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <memory>
#include <vector>

#include "mesh/Reconstruct.h"

namespace {

// Fibonacci sphere of radius 30 (the default blob's size): nearly uniform spacing.
std::unique_ptr<Reconstruct> sphereSample(int count, bool referenceSearch) {
    auto mesh = std::make_unique<Reconstruct>();
    mesh->referenceSearch = referenceSearch;
    const double goldenAngle = 3.14159265358979323846 * (3.0 - std::sqrt(5.0));
    for (int i = 0; i < count; ++i) {
        const double y = 1.0 - 2.0 * (i + 0.5) / count;
        const double ring = std::sqrt(1.0 - y * y);
        const geo::Vertex normal(std::cos(goldenAngle * i) * ring, y,
                                 std::sin(goldenAngle * i) * ring);
        mesh->addNode(normal * 30.0, normal);
    }
    return mesh;
}

void triangulateSphere(benchmark::State& state, bool referenceSearch) {
    const int count = static_cast<int>(state.range(0));
    int triangles = 0;
    for (auto _ : state) {
        state.PauseTiming();
        std::unique_ptr<Reconstruct> mesh = sphereSample(count, referenceSearch);
        state.ResumeTiming();
        mesh->triangulate();
        triangles = mesh->triangleCount();
        state.PauseTiming();
        mesh.reset();
        state.ResumeTiming();
    }
    state.counters["triangles"] = triangles;
    state.SetComplexityN(count);
}

void BM_TriangulateIndexed(benchmark::State& state) {
    triangulateSphere(state, false);
}
void BM_TriangulateReference(benchmark::State& state) {
    triangulateSphere(state, true);
}

// On a shared machine the fastest of several repetitions (--benchmark_repetitions=N) is the
// figure least disturbed by other work.
double fastest(const std::vector<double>& times) {
    return *std::min_element(times.begin(), times.end());
}

}  // namespace

BENCHMARK(BM_TriangulateIndexed)
    ->Arg(1000)
    ->Arg(2000)
    ->Arg(5000)
    ->Arg(10000)
    ->Arg(25000)
    ->Arg(50000)
    ->Arg(100000)
    ->Arg(200000)
    ->ComputeStatistics("min", fastest)
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_TriangulateReference)
    ->Arg(1000)
    ->Arg(2000)
    ->Arg(5000)
    ->Arg(10000)
    ->ComputeStatistics("min", fastest)
    ->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
