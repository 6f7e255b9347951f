// How far the blob index's sums stray from the plain sum over every blob with the C
// runtime's exp, over models whose blobs spread very differently over the cells, many
// points and several seeds. Per model: the largest differences of field value, gradient
// and parameter gradient (the index promises 1e-12), the points where the indexed sum is
// not bit for bit the walk over every blob with the index's own rule (there must be none),
// and the blobs a query looks at on average against the model's count.
//
//   BlobIndexAccuracy [POINTS [SEEDS]]     POINTS a model and seed (2000), SEEDS (3)
//
// Exit status 1 when a difference passes the bound or a sum differs from the walk.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "model/BlobIndex.h"
#include "model/VessikSpheres.h"
#include "tests/model/PlainBlobField.h"

namespace {

constexpr double bound = 1e-12;

struct Model {
    const char* name;
    std::function<void(VessikSpheres&, std::mt19937&)> build;
};

void scatter(VessikSpheres& s, std::mt19937& rng, int count, double half, double rMin,
             double rMax) {
    std::uniform_real_distribution<double> u(-half, half), r(rMin, rMax);
    for (int i = 0; i < count; ++i) blobAt(s, r(rng), {u(rng), u(rng), u(rng)});
}

const Model models[] = {
    {"figure",
     [](VessikSpheres& s, std::mt19937&) { s.readBlobFile(DAZIRUDO_EXAMPLES_DIR "/figure.dat"); }},
    // Many small blobs of mixed sizes, some tiny: a steep gradient bound.
    {"cloud-300", [](VessikSpheres& s, std::mt19937& rng) { scatter(s, rng, 300, 60, 0.05, 4); }},
    {"cloud-3000", [](VessikSpheres& s, std::mt19937& rng) { scatter(s, rng, 3000, 60, 0.05, 4); }},
    {"cloud-30000",
     [](VessikSpheres& s, std::mt19937& rng) { scatter(s, rng, 30000, 120, 0.05, 4); }},
    // A few blobs far larger than the rest reach every cell.
    {"giants",
     [](VessikSpheres& s, std::mt19937& rng) {
         scatter(s, rng, 400, 40, 1, 1);
         blobAt(s, 200.0, {0, 0, 0});
         blobAt(s, 90.0, {30, -20, 10});
     }},
    // One blob far out: the cells cannot span the model densely.
    {"outlier",
     [](VessikSpheres& s, std::mt19937&) {
         for (int i = 0; i < 50; ++i) blobAt(s, 2.0, {1.5 * i, 0, 0});
         blobAt(s, 3.0, {1e7, -1e7, 5e6});
     }},
    // One blob beyond the range of cell keys.
    {"beyond-keys",
     [](VessikSpheres& s, std::mt19937& rng) {
         scatter(s, rng, 200, 30, 0.5, 2);
         blobAt(s, 1.0, {1e9, 0, 0});
     }},
};

struct Result {
    int blobs = 0;
    long points = 0;
    double value = 0.0, gradient = 0.0, parameters = 0.0;
    long mismatches = 0;
    double candidates = 0.0;
};

void measure(VessikSpheres& system, std::mt19937& rng, int pointCount, Result& result) {
    const BlobIndex& index = system.blobIndex();
    const double reach = std::sqrt(index.cutoffExponent());
    std::uniform_real_distribution<double> box(-120.0, 120.0), unit(-1.0, 1.0), share(0.0, 1.1);
    std::uniform_int_distribution<int> pick(0, std::max(0, system.blobs.count() - 1));
    for (int i = 0; i < pointCount; ++i) {
        geo::Vertex x(box(rng), box(rng), box(rng));
        if (i % 3 == 1 && system.blobs.count() > 0) {
            // Near a blob, out to a little past its cut-off, where most terms count.
            const VessikObj& blob = *system.blobs.at(pick(rng));
            geo::Vertex d(unit(rng), unit(rng), unit(rng));
            if (d.length() == 0.0) d = geo::Vertex(1, 0, 0);
            x = blob.centre() + d * (blob.getRadius() * reach * share(rng) / d.length());
        } else if (i % 3 == 2) {
            // Whole and half numbers hit cell faces of many cell sizes.
            x = geo::Vertex(std::round(x.x), std::round(x.y), 0.5 * std::round(x.z));
        }
        geo::Vertex half, indexed;
        const double sum = sameRuleSum(system, x, half);
        if (index.sum(x, &indexed) != sum || !(indexed == half)) ++result.mismatches;
        result.candidates += index.candidateCount(x);

        const PlainBlobField plain = plainBlobField(system, x);
        result.value = std::max(result.value, std::fabs(system.fieldValue(x) - plain.value));
        result.gradient =
            std::max(result.gradient, (system.fieldGradient(x) - plain.gradient).length());
        const geo::DVector q = system.parameterGradient(x);
        for (int k = 0; k < q.length(); ++k)
            result.parameters = std::max(result.parameters, std::fabs(q[k] - plain.parameters[k]));
        ++result.points;
    }
}

}  // namespace

int main(int argc, char** argv) {
    const int pointCount = argc > 1 ? std::atoi(argv[1]) : 2000;
    const int seeds = argc > 2 ? std::atoi(argv[2]) : 3;
    if (pointCount < 1 || seeds < 1) {
        std::fprintf(stderr, "usage: %s [POINTS [SEEDS]]\n", argv[0]);
        return 2;
    }
    std::printf("%-12s %6s %7s %11s %11s %11s %10s %10s\n", "model", "blobs", "points", "max|dF|",
                "max|dgrad|", "max|dq|", "mismatches", "looked at");
    double largest = 0.0;
    long mismatches = 0;
    for (const Model& model : models) {
        Result result;
        for (int seed = 1; seed <= seeds; ++seed) {
            std::mt19937 rng(static_cast<unsigned>(seed));
            VessikSpheres system(defaultIsoValue);
            model.build(system, rng);
            result.blobs = system.blobs.count();
            measure(system, rng, pointCount, result);
        }
        std::printf("%-12s %6d %7ld %11.3g %11.3g %11.3g %10ld %9.1f%%\n", model.name, result.blobs,
                    result.points, result.value, result.gradient, result.parameters,
                    result.mismatches, 100.0 * result.candidates / result.points / result.blobs);
        largest = std::max({largest, result.value, result.gradient, result.parameters});
        mismatches += result.mismatches;
    }
    const bool ok = largest <= bound && mismatches == 0;
    std::printf("largest difference %.3g (bound %.0e), %ld sums not those of the walk: %s\n",
                largest, bound, mismatches, ok ? "ok" : "BROKEN");
    return ok ? 0 : 1;
}
