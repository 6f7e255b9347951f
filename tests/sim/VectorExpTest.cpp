#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <random>
#include <vector>

#include "sim/VectorExp.h"

namespace {

// A loop the compiler vectorises, as the program's kernels are.
void expOfAll(const std::vector<double>& in, std::vector<double>& out) {
    const int n = static_cast<int>(in.size());
    const double* __restrict x = in.data();
    double* __restrict y = out.data();
    for (int i = 0; i < n; ++i) y[i] = vexp::exp(x[i]);
}

}  // namespace

// Within 1e-15 relative of std::exp wherever the result is a normal double (the promise
// is 1e-12), within one subnormal step below that, and 0 and infinity where std::exp
// gives them; the same in a vectorised loop as one by one.
TEST(VectorExp, FollowsTheRuntimeExponentialOverItsWholeRange) {
    std::vector<double> in;
    std::mt19937_64 rng(3);
    std::uniform_real_distribution<double> wide(-750.0, 712.0), pair(-60.0, 0.0);
    for (int i = 0; i < 200000; ++i) in.push_back(wide(rng));
    for (int i = 0; i < 200000; ++i) in.push_back(pair(rng));  // the pair and blob sums' range
    for (double x = -746.0; x <= -707.0; x += 0.013) in.push_back(x);  // into the subnormals
    for (double x = 709.0; x <= 710.5; x += 0.01) in.push_back(x);     // up to overflow
    for (double x : {0.0, -0.0, 1e-300, -1e-300, 1.0, -1.0, 0.5 * std::log(2.0),
                     -0.5 * std::log(2.0), -708.3964185322641, 709.782712893384, -745.13,
                     -745.14, -1e10, 1e10})
        in.push_back(x);
    std::vector<double> out(in.size());
    expOfAll(in, out);
    double worst = 0.0;
    for (std::size_t i = 0; i < in.size(); ++i) {
        const double expected = std::exp(in[i]);
        ASSERT_EQ(vexp::exp(in[i]), out[i]) << in[i];
        if (expected >= DBL_MIN && std::isfinite(expected)) {
            const double relative = std::fabs(out[i] - expected) / expected;
            worst = std::max(worst, relative);
            ASSERT_LE(relative, 1e-15) << in[i];
        } else if (std::isfinite(expected)) {
            ASSERT_LE(std::fabs(out[i] - expected), 4.95e-324) << in[i];
        } else {
            ASSERT_EQ(out[i], expected) << in[i];
        }
    }
    // About two units in the last place at worst (1.1e-16 each).
    EXPECT_LE(worst, 5e-16);
}

TEST(VectorExp, SpecialValues) {
    const double inf = std::numeric_limits<double>::infinity();
    EXPECT_TRUE(std::isnan(vexp::exp(std::nan(""))));
    EXPECT_EQ(vexp::exp(-inf), 0.0);
    EXPECT_EQ(vexp::exp(inf), inf);
    EXPECT_EQ(vexp::exp(0.0), 1.0);
    EXPECT_EQ(vexp::exp(-0.0), 1.0);
    EXPECT_EQ(vexp::exp(-800.0), 0.0);
}
