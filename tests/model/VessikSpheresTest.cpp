#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>

#include "model/VessikSpheres.h"

namespace {

// Values computed by hand are exact to a few ulps; 1e-12 leaves room for exp's rounding.
constexpr double tight = 1e-12;

geo::Vertex randomPoint(std::mt19937& rng, double extent) {
    std::uniform_real_distribution<double> u(-extent, extent);
    return {u(rng), u(rng), u(rng)};
}

VessikObj* blobAt(VessikSpheres& system, double radius, const geo::Vertex& centre) {
    VessikObj* blob = system.addBlob(radius);
    blob->centre() = centre;
    return blob;
}

}  // namespace

TEST(VessikObj, KindGivesItsDefiningPointsAtTheOrigin) {
    VessikObj sphere(1, 5.0), capsule(2, 5.0), none(0, 5.0), other(7, 5.0);
    EXPECT_EQ(sphere.pointCount(), 1);
    EXPECT_EQ(capsule.pointCount(), 2);
    EXPECT_EQ(none.pointCount(), 0);
    EXPECT_EQ(other.pointCount(), 0);
    EXPECT_EQ(*capsule.point(1), geo::Vertex(0, 0, 0));
}

TEST(VessikObj, RadiusPowerMultipliesFromOne) {
    VessikObj blob(1, 3.0);
    EXPECT_EQ(blob.radiusPower(0), 1.0);
    EXPECT_EQ(blob.radiusPower(1), 3.0);
    EXPECT_EQ(blob.radiusPower(2), 9.0);
    EXPECT_EQ(blob.radiusPower(3), 27.0);
}

// The radius gate keeps 1/R^2 finite: a subnormal R^2 would make the gradient infinite.
TEST(VessikObj, UsableRadiusNeedsANormalFiniteSquare) {
    EXPECT_TRUE(VessikObj::usableRadius(30.0));
    EXPECT_TRUE(VessikObj::usableRadius(1.5e-154));  // R^2 = 2.25e-308, just normal
    EXPECT_FALSE(VessikObj::usableRadius(1e-154));   // R^2 = 1e-308, subnormal
    EXPECT_FALSE(VessikObj::usableRadius(0.0));
    EXPECT_FALSE(VessikObj::usableRadius(-30.0));
    EXPECT_FALSE(VessikObj::usableRadius(1e200));  // R^2 overflows
    EXPECT_FALSE(VessikObj::usableRadius(std::numeric_limits<double>::infinity()));
    EXPECT_FALSE(VessikObj::usableRadius(std::nan("")));
}

TEST(VessikSpheres, LoneBlobFieldValues) {
    VessikSpheres system(defaultIsoValue);
    system.addBlob(30.0);
    EXPECT_NEAR(system.fieldValue({0, 0, 0}), -0.6321205588285577, tight);    // T - 1
    EXPECT_NEAR(system.fieldValue({27, 0, 0}), -0.07697862505149877, tight);  // T - e^-0.81
    EXPECT_NEAR(system.fieldValue({0, 0, -27}), -0.07697862505149877, tight);
    // The surface of a lone blob is the sphere of its radius, in every direction.
    std::mt19937 rng(7);
    for (int i = 0; i < 50; ++i) {
        const geo::Vertex dir = randomPoint(rng, 1.0).normalised();
        EXPECT_NEAR(system.fieldValue(30.0 * dir), 0.0, 1e-15);
    }
    // Far away the field tends to T.
    EXPECT_NEAR(system.fieldValue({1000, 0, 0}), defaultIsoValue, tight);
}

TEST(VessikSpheres, LoneBlobGradientPointsOutwardOnTheSphere) {
    VessikSpheres system(defaultIsoValue);
    system.addBlob(30.0);
    std::mt19937 rng(11);
    for (int i = 0; i < 50; ++i) {
        const geo::Vertex dir = randomPoint(rng, 1.0).normalised();
        const geo::Vertex g = system.fieldGradient(30.0 * dir);
        EXPECT_NEAR(g.length(), 0.024525296078096157, tight);  // 2 / (e * 30)
        EXPECT_NEAR(g.normalised().dot(dir), 1.0, tight);
    }
    EXPECT_EQ(system.fieldGradient({0, 0, 0}), geo::Vertex(0, 0, 0));
}

TEST(VessikSpheres, NoBlobsGiveTheIsoValueEverywhere) {
    VessikSpheres system(defaultIsoValue);
    EXPECT_EQ(system.fieldValue({3, -4, 5}), defaultIsoValue);
    EXPECT_EQ(system.fieldGradient({3, -4, 5}), geo::Vertex(0, 0, 0));
    EXPECT_EQ(system.parameterGradient({3, -4, 5}).length(), 0);
    EXPECT_EQ(system.baseParameterVelocity().length(), 0);
    EXPECT_EQ(system.parameterCount(), 0);
}

TEST(VessikSpheres, TwoBlobsMergeIntoOneSolid) {
    VessikSpheres system(defaultIsoValue);
    blobAt(system, 30.0, {-20, 0, 0});
    blobAt(system, 30.0, {20, 0, 0});
    EXPECT_NEAR(system.fieldValue({0, 0, 0}), -0.9144813356884669, tight);  // T - 2 e^(-4/9)
    // The whole segment between the centres is inside: one solid, no waist that splits it.
    for (double x = -20.0; x <= 20.0; x += 0.5) EXPECT_LT(system.fieldValue({x, 0, 0}), 0.0);
}

// The analytic gradient must agree with the field it claims to differentiate.
TEST(VessikSpheres, GradientsMatchFiniteDifferences) {
    VessikSpheres system(defaultIsoValue);
    blobAt(system, 30.0, {-20, 0, 0});
    blobAt(system, 12.0, {10, 15, -4});
    VessikObj* third = blobAt(system, 45.0, {0, -30, 25});
    std::mt19937 rng(3);
    const double h = 1e-5;
    // Central differences of a smooth field: error ~h^2 times the third derivative, far
    // below 1e-8 at these scales.
    for (int i = 0; i < 40; ++i) {
        const geo::Vertex x = randomPoint(rng, 50.0);
        const geo::Vertex g = system.fieldGradient(x);
        const geo::Vertex b = system.blobGradient(x, third);
        for (int axis = 0; axis < 3; ++axis) {
            geo::Vertex step;
            step[axis] = h;
            const double byX =
                (system.fieldValue(x + step) - system.fieldValue(x - step)) / (2 * h);
            EXPECT_NEAR(g[axis], byX, 1e-8);
            const geo::Vertex centre = third->centre();
            third->centre() = centre + step;
            const double up = system.fieldValue(x);
            third->centre() = centre - step;
            const double down = system.fieldValue(x);
            third->centre() = centre;
            EXPECT_NEAR(b[axis], (up - down) / (2 * h), 1e-8);
        }
    }
}

// Moving every centre by the same offset moves the field with it, so dF/dq summed over the
// blocks is -grad F; and block i is blob i's own gradient, in list order.
TEST(VessikSpheres, ParameterGradientBlocksAreBlobGradients) {
    VessikSpheres system(defaultIsoValue);
    VessikObj* blobs[3] = {blobAt(system, 30.0, {-20, 0, 0}), blobAt(system, 8.0, {5, 5, 5}),
                           blobAt(system, 20.0, {0, 30, -10})};
    EXPECT_EQ(system.parameterCount(), 9);
    std::mt19937 rng(5);
    for (int i = 0; i < 40; ++i) {
        const geo::Vertex x = randomPoint(rng, 40.0);
        const geo::DVector q = system.parameterGradient(x);
        ASSERT_EQ(q.length(), 9);
        geo::Vertex sum;
        for (int b = 0; b < 3; ++b) {
            const geo::Vertex expected = system.blobGradient(x, blobs[b]);
            const geo::Vertex block(q[3 * b], q[3 * b + 1], q[3 * b + 2]);
            EXPECT_EQ(block, expected);
            sum += block;
        }
        const geo::Vertex g = system.fieldGradient(x);
        for (int axis = 0; axis < 3; ++axis) EXPECT_NEAR(sum[axis], -g[axis], 1e-15);
    }
    const geo::DVector zero = system.baseParameterVelocity();
    ASSERT_EQ(zero.length(), 9);
    for (int i = 0; i < 9; ++i) EXPECT_EQ(zero[i], 0.0);
}

TEST(VessikSpheres, InsertAppendsABlobAtTheOrigin) {
    VessikSpheres system(defaultIsoValue);
    VessikObj* first = blobAt(system, 30.0, {1, 2, 3});
    VessikObj* added = system.addBlob(50.0);
    ASSERT_NE(added, nullptr);
    EXPECT_EQ(system.blobs.count(), 2);
    EXPECT_EQ(system.blobs.at(0), first);
    EXPECT_EQ(system.blobs.at(1), added);
    EXPECT_EQ(added->centre(), geo::Vertex(0, 0, 0));
    EXPECT_EQ(added->getRadius(), 50.0);
    EXPECT_EQ(system.parameterCount(), 6);
}

// addBlob is the one door into the model, so a radius the field cannot use stops there.
TEST(VessikSpheres, AddBlobRefusesUnusableRadii) {
    VessikSpheres system(defaultIsoValue);
    for (double r :
         {0.0, -30.0, 1e-200, 1e200, std::nan(""), std::numeric_limits<double>::infinity()})
        EXPECT_EQ(system.addBlob(r), nullptr) << r;
    EXPECT_EQ(system.blobs.count(), 0);
    // The smallest accepted radius still gives a finite field and gradient at its centre.
    system.addBlob(1.5e-154);
    EXPECT_TRUE(std::isfinite(system.fieldValue({0, 0, 0})));
    const geo::Vertex g = system.fieldGradient({0, 0, 0});
    EXPECT_TRUE(std::isfinite(g.x) && std::isfinite(g.y) && std::isfinite(g.z));
    EXPECT_TRUE(std::isfinite(system.fieldGradient({1e-154, 0, 0}).x));
}

TEST(VessikSpheres, RemoveBlobKeepsTheOnlyBlob) {
    VessikSpheres system(defaultIsoValue);
    VessikObj* only = system.addBlob(30.0);
    EXPECT_FALSE(system.removeBlob(only));
    EXPECT_EQ(system.blobs.count(), 1);
    EXPECT_EQ(system.blobs.first(), only);
}

TEST(VessikSpheres, RemoveBlobTakesTheGivenBlobAndKeepsTheOrder) {
    VessikSpheres system(defaultIsoValue);
    VessikObj* a = system.addBlob(10.0);
    VessikObj* b = system.addBlob(20.0);
    VessikObj* c = system.addBlob(30.0);
    EXPECT_TRUE(system.removeBlob(a));
    ASSERT_EQ(system.blobs.count(), 2);
    EXPECT_EQ(system.blobs.at(0), b);
    EXPECT_EQ(system.blobs.at(1), c);
    EXPECT_EQ(system.parameterCount(), 6);
}

TEST(VessikSpheres, RemoveBlobOfAnotherSystemChangesNothing) {
    VessikSpheres system(defaultIsoValue), other(defaultIsoValue);
    system.addBlob(10.0);
    system.addBlob(20.0);
    VessikObj* stranger = other.addBlob(30.0);
    EXPECT_FALSE(system.removeBlob(stranger));
    EXPECT_EQ(system.blobs.count(), 2);
    EXPECT_EQ(other.blobs.count(), 1);
}

TEST(VessikList, RemoveOnEmptyListIsFalse) {
    VessikList list(1);
    VessikObj stranger(1, 3.0);
    EXPECT_FALSE(list.remove(&stranger));
    VessikObj* blob = list.add(4.0);
    EXPECT_EQ(blob->pointCount(), 1);
    EXPECT_TRUE(list.remove(blob));
    EXPECT_EQ(list.count(), 0);
}
