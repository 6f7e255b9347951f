#include <gtest/gtest.h>

#include <cmath>

#include "geo/Vertex.h"

using geo::Vertex;

namespace {
const double kPi = 3.141592653589793;
}  // namespace

TEST(Vertex, ArithmeticIsComponentWise) {
    const Vertex a(1, 2, 3), b(4, -5, 6);
    EXPECT_EQ(a + b, Vertex(5, -3, 9));
    EXPECT_EQ(a - b, Vertex(-3, 7, -3));
    EXPECT_EQ(2.0 * a, a * 2.0);
    EXPECT_EQ(a * 2.0, Vertex(2, 4, 6));
    Vertex c = a;
    c += b;
    EXPECT_EQ(c, a + b);
    EXPECT_EQ(a.dot(b), 4 - 10 + 18);
    // Right-handed: x cross y is z, and a cross b is perpendicular to both.
    EXPECT_EQ(Vertex(1, 0, 0).cross(Vertex(0, 1, 0)), Vertex(0, 0, 1));
    EXPECT_EQ(a.cross(b), Vertex(2 * 6 - 3 * -5, 3 * 4 - 1 * 6, 1 * -5 - 2 * 4));
    EXPECT_EQ(a.cross(b).dot(a), 0.0);
}

TEST(Vertex, ComponentIndexBeyondOneReachesZ) {
    Vertex v(1, 2, 3);
    EXPECT_EQ(v[0], 1);
    EXPECT_EQ(v[1], 2);
    EXPECT_EQ(v[2], 3);
    EXPECT_EQ(v[3], 3);
    EXPECT_EQ(v[-1], 3);
    v[7] = 9;
    EXPECT_EQ(v.z, 9);
}

TEST(Vertex, ZeroVectorHasExactZeroLengthAndNormalisesToZero) {
    const Vertex zero;
    EXPECT_EQ(zero.length(), 0.0);
    EXPECT_EQ(zero.normalised(), zero);
    EXPECT_EQ(Vertex(1, 0, 0).angle(zero), 0.0);
    EXPECT_EQ(zero.angle(Vertex(0, 0, 1)), 0.0);
}

TEST(Vertex, LengthNormalisationAndAngle) {
    EXPECT_DOUBLE_EQ(Vertex(3, 4, 12).length(), 13.0);
    const Vertex n = Vertex(0, 0, -7).normalised();
    EXPECT_EQ(n, Vertex(0, 0, -1));
    EXPECT_DOUBLE_EQ(Vertex(1, 0, 0).angle(Vertex(0, 2, 0)), kPi / 2);
    EXPECT_DOUBLE_EQ(Vertex(1, 0, 0).angle(Vertex(-3, 0, 0)), kPi);
    // Parallel vectors whose cosine rounds past 1 must not give NaN.
    const Vertex v(0.1, 0.7, 0.3);
    EXPECT_FALSE(std::isnan(v.angle(v * 3.0)));
}

// libigl style: the same rules hold at extreme scales.
TEST(Vertex, NormalisationHoldsAtExtremeScales) {
    for (double s : {1.0, 1e8, 1e-8, 1e150, 1e-150}) {
        const Vertex n = Vertex(3 * s, 4 * s, 0).normalised();
        EXPECT_NEAR(n.x, 0.6, 1e-12) << "scale " << s;
        EXPECT_NEAR(n.y, 0.8, 1e-12) << "scale " << s;
    }
}
