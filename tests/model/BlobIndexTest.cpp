#include <gtest/gtest.h>

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <functional>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "model/BlobIndex.h"
#include "model/VessikSpheres.h"

namespace {

// The field as the plain walk over every blob computes it, with the C runtime's exp and
// nothing left out: what the index must stay within 1e-12 of.
struct PlainField {
    double value = 0.0;
    geo::Vertex gradient;
    std::vector<double> parameters;
};

PlainField plainField(VessikSpheres& system, const geo::Vertex& x) {
    PlainField plain;
    double sum = 0.0;
    geo::Vertex half;
    for (int i = 0; i < system.blobs.count(); ++i) {
        const VessikObj& blob = *system.blobs.at(i);
        const geo::Vertex d = x - blob.centre();
        const double r2 = blob.radiusPower(2);
        const double f = std::exp(-d.dot(d) / r2);
        sum += f;
        if (f != 0.0) half += d * (f / r2);
        const geo::Vertex g = f == 0.0 ? geo::Vertex() : d * (f * -2.0 / r2);
        plain.parameters.insert(plain.parameters.end(), {g.x, g.y, g.z});
    }
    plain.value = system.isoValue - sum;
    plain.gradient = 2.0 * half;
    return plain;
}

VessikObj* blobAt(VessikSpheres& system, double radius, const geo::Vertex& centre) {
    VessikObj* blob = system.addBlob(radius);
    blob->centre() = centre;
    return blob;
}

// Models whose blobs spread very differently over the cells.
struct Model {
    const char* name;
    std::function<void(VessikSpheres&)> build;
};

const Model models[] = {
    {"figure",
     [](VessikSpheres& s) {
         ASSERT_TRUE(s.readBlobFile(DAZIRUDO_EXAMPLES_DIR "/figure.dat"));
     }},
    // Many small blobs of mixed sizes, some tiny: a steep gradient bound.
    {"cloud",
     [](VessikSpheres& s) {
         std::mt19937 rng(17);
         std::uniform_real_distribution<double> u(-60.0, 60.0), r(0.05, 4.0);
         for (int i = 0; i < 3000; ++i) blobAt(s, r(rng), {u(rng), u(rng), u(rng)});
     }},
    // A few blobs far larger than the rest reach every cell.
    {"giants",
     [](VessikSpheres& s) {
         std::mt19937 rng(19);
         std::uniform_real_distribution<double> u(-40.0, 40.0);
         for (int i = 0; i < 400; ++i) blobAt(s, 1.0, {u(rng), u(rng), u(rng)});
         blobAt(s, 200.0, {0, 0, 0});
         blobAt(s, 90.0, {30, -20, 10});
     }},
    // One blob far out: the cells cannot span the model densely.
    {"outlier",
     [](VessikSpheres& s) {
         for (int i = 0; i < 50; ++i) blobAt(s, 2.0, {1.5 * i, 0, 0});
         blobAt(s, 3.0, {1e7, -1e7, 5e6});
     }},
};

}  // namespace

// Value, gradient and parameter gradient stay within 1e-12 of the plain sum over every
// blob, at points on, inside and far outside each model.
TEST(BlobIndex, EveryResultIsWithinTheBoundOfThePlainSum) {
    for (const Model& model : models) {
        VessikSpheres system(defaultIsoValue);
        model.build(system);
        std::mt19937 rng(5);
        std::vector<geo::Vertex> points;
        for (int i = 0; i < 300; ++i) {
            std::uniform_real_distribution<double> u(-120.0, 120.0);
            points.emplace_back(u(rng), u(rng), u(rng));
        }
        // Near the blobs themselves, where most terms count.
        for (int i = 0; i < system.blobs.count() && i < 300; i += 7) {
            const VessikObj& blob = *system.blobs.at(i);
            points.push_back(blob.centre() + geo::Vertex(0.3, -0.7, 0.9) * blob.getRadius());
        }
        points.emplace_back(1e7 + 2.0, -1e7, 5e6);
        for (const geo::Vertex& x : points) {
            const PlainField plain = plainField(system, x);
            EXPECT_NEAR(system.fieldValue(x), plain.value, 1e-12) << model.name;
            const geo::Vertex g = system.fieldGradient(x);
            for (int a = 0; a < 3; ++a) EXPECT_NEAR(g[a], plain.gradient[a], 1e-12) << model.name;
            const geo::DVector q = system.parameterGradient(x);
            ASSERT_EQ(q.length(), static_cast<int>(plain.parameters.size()));
            for (int k = 0; k < q.length(); ++k)
                ASSERT_NEAR(q[k], plain.parameters[k], 1e-12) << model.name << " entry " << k;
        }
    }
}

// Whether a blob counts depends on the point and the blob alone: the indexed sums are bit
// for bit the walk over every blob in list order with the same rule, whatever cells hold
// the blobs. A blob missing from a cell it reaches would show here.
TEST(BlobIndex, SumsAreThoseOfEveryBlobWithTheSameRule) {
    for (const Model& model : models) {
        VessikSpheres system(defaultIsoValue);
        model.build(system);
        const BlobIndex& index = system.blobIndex();
        std::mt19937 rng(7);
        std::uniform_real_distribution<double> u(-80.0, 80.0);
        for (int trial = 0; trial < 400; ++trial) {
            // Whole and half numbers hit cell faces of many cell sizes.
            geo::Vertex x(u(rng), u(rng), u(rng));
            if (trial % 3 == 0) x = geo::Vertex(std::round(x.x), std::round(x.y), 0.5 * trial);
            double sum = 0.0;
            geo::Vertex half;
            for (int i = 0; i < index.size(); ++i) {
                const double f = index.contribution(x, i);
                sum += f;
                if (f == 0.0) continue;
                const VessikObj& blob = *system.blobs.at(i);
                half += (x - blob.centre()) * (f / blob.radiusPower(2));
            }
            geo::Vertex indexed;
            EXPECT_EQ(index.sum(x, &indexed), sum) << model.name;
            EXPECT_EQ(indexed, half) << model.name;
            EXPECT_LE(index.candidateCount(x), index.size());
        }
    }
}

// The combined and sparse forms give exactly what the separate and dense ones give.
TEST(BlobIndex, CombinedAndSparseFormsAgreeBitForBit) {
    VessikSpheres system(defaultIsoValue);
    models[1].build(system);
    std::mt19937 rng(9);
    std::uniform_real_distribution<double> u(-70.0, 70.0);
    geo::DVector v(system.parameterCount());
    for (int k = 0; k < v.length(); ++k) v[k] = u(rng);
    for (int trial = 0; trial < 200; ++trial) {
        const geo::Vertex x(u(rng), u(rng), u(rng));
        double value;
        geo::Vertex gradient;
        system.fieldAndGradient(x, value, gradient);
        EXPECT_EQ(value, system.fieldValue(x));
        EXPECT_EQ(gradient, system.fieldGradient(x));
        EXPECT_EQ(system.parameterGradientDot(x, v), system.parameterGradient(x).dot(v));
    }
    // A shorter vector counts only its own entries, as DVector::dot does.
    geo::DVector shorter(5);
    for (int k = 0; k < 5; ++k) shorter[k] = 1.0 + k;
    const geo::Vertex near = system.blobs.first()->centre();
    EXPECT_EQ(system.parameterGradientDot(near, shorter),
              system.parameterGradient(near).dot(shorter));
}

// Points that are no numbers give what the plain sum gives: NaN stays NaN, and a point at
// infinity is beyond every blob.
TEST(BlobIndex, PointsThatAreNoNumbersGiveThePlainAnswers) {
    VessikSpheres system(defaultIsoValue);
    models[0].build(system);
    const double inf = std::numeric_limits<double>::infinity();
    EXPECT_TRUE(std::isnan(system.fieldValue({std::nan(""), 0, 0})));
    EXPECT_TRUE(std::isnan(system.fieldGradient({0, std::nan(""), 0}).y));
    EXPECT_EQ(system.fieldValue({inf, 0, 0}), defaultIsoValue);
    EXPECT_EQ(system.fieldGradient({0, -inf, 0}), geo::Vertex());
    EXPECT_EQ(system.fieldValue({1e300, 1e300, 1e300}), defaultIsoValue);
}

// L is the smallest exponent (to within its step) at which N e^-L max(1, 2 sqrt(L) / Rmin)
// is at most 0.5e-12.
TEST(BlobIndex, CutoffIsTheSmallestThatKeepsTheBound) {
    const auto bound = [](double n, double rMin, double l) {
        return n * std::exp(-l) * std::max(1.0, 2.0 * std::sqrt(l) / rMin);
    };
    struct Case {
        int blobs;
        double smallest;
    };
    for (const Case c : {Case{1, 30.0}, Case{20, 3.5}, Case{10000, 1.0}, Case{5, 1e-3}}) {
        VessikSpheres system(defaultIsoValue);
        for (int i = 0; i < c.blobs; ++i) blobAt(system, i == 0 ? c.smallest : 40.0, {1.0 * i, 0, 0});
        const double l = system.blobIndex().cutoffExponent();
        EXPECT_LE(bound(c.blobs, c.smallest, l), 0.5e-12) << c.blobs;
        EXPECT_GT(bound(c.blobs, c.smallest, l - 1e-3), 0.5e-12) << c.blobs;
    }
}

// The worst case of the cut-off: every blob just beyond it from x, all on the same side, so
// that everything left out adds up. Large blobs make the value's error the larger, small
// ones the gradient's; either way the plain sum is within 1e-12, and the left-out part is
// close to the bound (a cut-off derived for fewer blobs than there are would fail here).
TEST(BlobIndex, EverythingLeftOutAtOnceStaysWithinTheBound) {
    struct Case {
        int blobs;
        double radius;
    };
    for (const Case c : {Case{2000, 40.0}, Case{2000, 0.05}, Case{1, 0.05}}) {
        VessikSpheres system(defaultIsoValue);
        for (int i = 0; i < c.blobs; ++i) blobAt(system, c.radius, {0, 0, 0});
        // The cut-off depends on the count and the smallest radius alone, not on where the
        // blobs are: move them all to just past it from x.
        const double l = system.blobIndex().cutoffExponent();
        const geo::Vertex x(3.0, -1.0, 2.0);
        const geo::Vertex direction = geo::Vertex(1, 2, 2) * (1.0 / 3.0);
        for (int i = 0; i < c.blobs; ++i)
            system.blobs.at(i)->centre() = x + direction * (c.radius * std::sqrt(l) * (1 + 1e-9));
        ASSERT_EQ(system.blobIndex().cutoffExponent(), l);
        const PlainField plain = plainField(system, x);
        EXPECT_EQ(system.fieldValue(x), defaultIsoValue) << c.blobs << " " << c.radius;
        EXPECT_EQ(system.fieldGradient(x), geo::Vertex()) << c.blobs << " " << c.radius;
        EXPECT_NEAR(plain.value, defaultIsoValue, 1e-12) << c.blobs << " " << c.radius;
        EXPECT_LE(plain.gradient.length(), 1e-12) << c.blobs << " " << c.radius;
        double largest = 0.0;
        for (double q : plain.parameters) largest = std::max(largest, std::fabs(q));
        EXPECT_LE(largest, 1e-12) << c.blobs << " " << c.radius;
        const double leftOut =
            std::max(defaultIsoValue - plain.value, plain.gradient.length());
        EXPECT_GT(leftOut, 0.25e-12) << c.blobs << " " << c.radius;
    }
}

// Every change to the model reaches the index, however it was made; reading, or writing
// a centre back unchanged, leaves the version, and with it every floater's saved field.
TEST(BlobIndex, NoChangeToTheModelGoesUnseen) {
    VessikSpheres system(defaultIsoValue);
    VessikObj* a = blobAt(system, 10.0, {0, 0, 0});
    VessikObj* b = blobAt(system, 10.0, {30, 0, 0});
    const geo::Vertex x(12, 3, 0);
    double last = system.fieldValue(x);
    std::uint64_t version = system.fieldVersion();
    const auto expectChanged = [&](const char* how) {
        const double now = system.fieldValue(x);
        EXPECT_NE(now, last) << how;
        EXPECT_NE(system.fieldVersion(), version) << how;
        last = now;
        version = system.fieldVersion();
    };
    geo::Vertex& centre = a->centre();
    centre = geo::Vertex(2, 0, 0);
    expectChanged("centre");
    *b->point(0) = geo::Vertex(25, 1, 0);
    expectChanged("point");
    a->scale(0.5);
    expectChanged("scale");
    VessikObj* c = blobAt(system, 5.0, {12, 0, 0});
    expectChanged("add");
    EXPECT_TRUE(system.removeBlob(c));
    expectChanged("remove");

    // Touched but not changed: the same version.
    const geo::Vertex same = b->centre();
    b->centre() = same;
    static_cast<const VessikObj*>(a)->centre();
    EXPECT_EQ(system.fieldVersion(), version);
    EXPECT_EQ(system.fieldValue(x), last);
}

// The list counts what may have changed it; reading through a const blob counts nothing.
TEST(VessikList, CountsEveryWayToChangeAPoint) {
    VessikList list(1);
    const std::uint64_t start = list.changes();
    VessikObj* blob = list.add(3.0);
    EXPECT_GT(list.changes(), start);
    std::uint64_t seen = list.changes();
    for (const std::function<void()>& touch : std::vector<std::function<void()>>{
             [&] { blob->centre(); }, [&] { blob->point(0); }, [&] { blob->scale(2.0); },
             [&] { list.add(1.0); }, [&] { list.remove(list.at(1)); }}) {
        touch();
        EXPECT_GT(list.changes(), seen);
        seen = list.changes();
    }
    static_cast<const VessikObj*>(blob)->centre();
    blob->getRadius();
    EXPECT_EQ(list.changes(), seen);
    // A blob outside any list counts nowhere and does not fail.
    VessikObj alone(1, 2.0);
    alone.centre() = geo::Vertex(1, 2, 3);
    alone.scale(2.0);
    EXPECT_EQ(alone.centre(), geo::Vertex(2, 4, 6));
}
