#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <random>
#include <vector>

#include "model/BlobIndex.h"
#include "model/PlainBlobField.h"
#include "model/VessikSpheres.h"

namespace {

// Small blobs of mixed sizes in a box 80 across, seeded: most are filed in a few cells.
void scatterBlobs(VessikSpheres& system, int count) {
    std::mt19937 rng(17);
    std::uniform_real_distribution<double> u(-40.0, 40.0), r(0.5, 2.0);
    for (int i = 0; i < count; ++i) blobAt(system, r(rng), {u(rng), u(rng), u(rng)});
}

}  // namespace

// The sums over many models, points and seeds against the plain sum are the accuracy tool
// bench/BlobIndexAccuracy.cpp; here one model takes every path of the index. First 400
// small blobs, all filed in cells; then a giant that reaches too many cells and a blob
// beyond the range of cell keys, both looked at everywhere and merged with the filed ones.
// At every point the indexed sums are bit for bit the walk over every blob in list order
// with the same rule (a blob missing from a cell it reaches would show), and value,
// gradient and parameter gradient are within 1e-12 of the plain sum.
TEST(BlobIndex, SumsAreThoseOfEveryBlobAndWithinTheBoundOfThePlainSum) {
    VessikSpheres system(defaultIsoValue);
    scatterBlobs(system, 400);
    std::mt19937 rng(5);
    std::uniform_real_distribution<double> u(-40.0, 40.0);
    for (int phase = 0; phase < 2; ++phase) {
        SCOPED_TRACE(phase == 0 ? "filed blobs only" : "with blobs looked at everywhere");
        if (phase == 1) {
            blobAt(system, 200.0, {5, 0, 0});
            blobAt(system, 1.0, {1e9, 0, 0});
        }
        const BlobIndex& index = system.blobIndex();
        // The paths this phase is for: away from every filed blob, only those looked at
        // everywhere are candidates.
        ASSERT_EQ(index.candidateCount({500.0, 500.0, 0.0}), phase == 0 ? 0 : 2);
        const double reach = std::sqrt(index.cutoffExponent());
        std::vector<geo::Vertex> points;
        std::uniform_real_distribution<double> anywhere(-60.0, 60.0);
        for (int i = 0; i < 100; ++i)
            points.emplace_back(anywhere(rng), anywhere(rng), anywhere(rng));
        // Every cell size has a face at 0: whole numbers and zeros lie on cell borders.
        for (int i = 0; i < 40; ++i)
            points.emplace_back(std::round(u(rng)), std::round(u(rng)), 0.0);
        points.emplace_back(0.0, -0.0, 0.0);
        // Just at a blob's cut-off, where its filing in the cells is closest to the edge.
        for (int i = 0; i < 400; i += 40) {
            const VessikObj& blob = *system.blobs.at(i);
            points.push_back(blob.centre() +
                             geo::Vertex(0.6, -0.8, 0.0) * (blob.getRadius() * reach));
        }
        points.emplace_back(1e9 + 0.5, 0.0, 0.0);  // outside every cell's key
        points.emplace_back(500.0, 500.0, 0.0);    // in no cell
        for (const geo::Vertex& x : points) {
            geo::Vertex half, indexed;
            const double sum = sameRuleSum(system, x, half);
            EXPECT_EQ(index.sum(x, &indexed), sum) << x.x << " " << x.y << " " << x.z;
            EXPECT_EQ(indexed, half) << x.x << " " << x.y << " " << x.z;
            EXPECT_LE(index.candidateCount(x), index.size());

            const PlainBlobField plain = plainBlobField(system, x);
            EXPECT_NEAR(system.fieldValue(x), plain.value, 1e-12);
            const geo::Vertex g = system.fieldGradient(x);
            for (int a = 0; a < 3; ++a) EXPECT_NEAR(g[a], plain.gradient[a], 1e-12);
            const geo::DVector q = system.parameterGradient(x);
            ASSERT_EQ(q.length(), static_cast<int>(plain.parameters.size()));
            for (int k = 0; k < q.length(); ++k) ASSERT_NEAR(q[k], plain.parameters[k], 1e-12) << k;
        }
    }
}

// The combined and sparse forms give exactly what the separate and dense ones give.
TEST(BlobIndex, CombinedAndSparseFormsAgreeBitForBit) {
    VessikSpheres system(defaultIsoValue);
    scatterBlobs(system, 400);
    std::mt19937 rng(9);
    std::uniform_real_distribution<double> u(-70.0, 70.0);
    geo::DVector v(system.parameterCount());
    for (int k = 0; k < v.length(); ++k) v[k] = u(rng);
    for (int trial = 0; trial < 100; ++trial) {
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

// A model of one to three blobs skips the cells and looks at every blob: the sums are
// still the walk with the cut-off rule, bit for bit, at the blobs, just either side of
// the first one's cut-off and far away.
TEST(BlobIndex, AFewBlobsAreSummedWithoutCells) {
    VessikSpheres system(defaultIsoValue);
    for (int count = 1; count <= 3; ++count) {
        blobAt(system, 5.0 + 5.0 * count, {12.0 * count, -3.0 * count, 0.5});
        const double reach = 10.0 * std::sqrt(system.blobIndex().cutoffExponent());
        for (const geo::Vertex& x : {geo::Vertex(0.0, -0.0, 0.0), geo::Vertex(20, -5, 3),
                                     geo::Vertex(12 + reach * 0.999999, -3, 0.5),
                                     geo::Vertex(12 + reach * 1.000001, -3, 0.5),
                                     geo::Vertex(1e6, 0, 0)}) {
            geo::Vertex half, indexed;
            EXPECT_EQ(system.blobIndex().sum(x, &indexed), sameRuleSum(system, x, half)) << count;
            EXPECT_EQ(indexed, half) << count << " " << x.x;
        }
    }
}

// Points that are no numbers give what the plain sum gives: NaN stays NaN, and a point at
// infinity is beyond every blob. A model without blobs has nothing to sum anywhere.
TEST(BlobIndex, NothingToSumGivesThePlainAnswers) {
    VessikSpheres empty(defaultIsoValue);
    EXPECT_EQ(empty.fieldValue({1, 2, 3}), defaultIsoValue);
    EXPECT_EQ(empty.fieldGradient({0, 0, 0}), geo::Vertex());
    EXPECT_EQ(empty.parameterGradient({0, 0, 0}).length(), 0);
    EXPECT_EQ(empty.blobIndex().candidateCount({0, 0, 0}), 0);

    VessikSpheres system(defaultIsoValue);
    ASSERT_TRUE(system.readBlobFile(DAZIRUDO_EXAMPLES_DIR "/figure.dat"));
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
        for (int i = 0; i < c.blobs; ++i)
            blobAt(system, i == 0 ? c.smallest : 40.0, {1.0 * i, 0, 0});
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
        const PlainBlobField plain = plainBlobField(system, x);
        EXPECT_EQ(system.fieldValue(x), defaultIsoValue) << c.blobs << " " << c.radius;
        EXPECT_EQ(system.fieldGradient(x), geo::Vertex()) << c.blobs << " " << c.radius;
        EXPECT_NEAR(plain.value, defaultIsoValue, 1e-12) << c.blobs << " " << c.radius;
        EXPECT_LE(plain.gradient.length(), 1e-12) << c.blobs << " " << c.radius;
        double largest = 0.0;
        for (double q : plain.parameters) largest = std::max(largest, std::fabs(q));
        EXPECT_LE(largest, 1e-12) << c.blobs << " " << c.radius;
        const double leftOut = std::max(defaultIsoValue - plain.value, plain.gradient.length());
        EXPECT_GT(leftOut, 0.25e-12) << c.blobs << " " << c.radius;
    }
}

// Every change to the model reaches the index, however it was made (a blob handing out a
// writable point counts as changed); reading, or writing a centre back unchanged, leaves
// the version, and with it every floater's saved field.
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

    // Touched but not changed: the same version. Reading through a const blob does not
    // even count as a change of the list.
    const geo::Vertex same = b->centre();
    b->centre() = same;
    const std::uint64_t changes = system.blobs.changes();
    static_cast<const VessikObj*>(a)->centre();
    a->getRadius();
    EXPECT_EQ(system.blobs.changes(), changes);
    EXPECT_EQ(system.fieldVersion(), version);
    EXPECT_EQ(system.fieldValue(x), last);

    // A blob outside any list counts nowhere and does not fail.
    VessikObj alone(1, 2.0);
    alone.centre() = geo::Vertex(1, 2, 3);
    alone.scale(2.0);
    EXPECT_EQ(alone.centre(), geo::Vertex(2, 4, 6));
}
