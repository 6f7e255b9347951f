#include <gtest/gtest.h>

#include "view/StatusLine.h"

namespace {

StatusInput running(double density, int floaters, int stableFloaters) {
    StatusInput input;
    input.density = density;
    input.floaters = floaters;
    input.stableFloaters = stableFloaters;
    input.meshMode = true;
    return input;
}

}  // namespace

TEST(StatusLine, RunningFormatWithTwoBlanksAndPercentSign) {
    // 50 / 57 * 100 = 87.719..., printed with two decimals.
    EXPECT_EQ(statusLine(running(2.0, 57, 50)),
              "VessikSpheres - Density: 2.00 - Total Floaters: 57 - Stable Floaters: 50  "
              "(87.72%) - Physics Running!");
}

TEST(StatusLine, DensityRaisedThreeTimesPrintsRounded) {
    // 2.0 + 0.05 + 0.05 + 0.05 is the double 2.1499999999999995, whose two-decimal
    // rounding is still 2.15.
    double density = 2.0;
    for (int i = 0; i < 3; ++i) density += 0.05;
    ASSERT_EQ(density, 2.1499999999999995);
    EXPECT_EQ(statusLine(running(density, 10, 1)),
              "VessikSpheres - Density: 2.15 - Total Floaters: 10 - Stable Floaters: 1  "
              "(10.00%) - Physics Running!");
}

TEST(StatusLine, NoFloatersGivesZeroPercentNotADivisionByZero) {
    EXPECT_EQ(statusLine(running(2.0, 0, 0)),
              "VessikSpheres - Density: 2.00 - Total Floaters: 0 - Stable Floaters: 0  "
              "(0.00%) - Physics Running!");
}

TEST(StatusLine, StableWithMeshModesOffSaysStopped) {
    StatusInput input = running(2.0, 100, 95);
    input.stable = true;
    input.meshMode = false;
    input.triangles = 0;
    EXPECT_EQ(chooseStatusFormat(input), StatusFormat::Running);
    EXPECT_EQ(statusLine(input),
              "VessikSpheres - Density: 2.00 - Total Floaters: 100 - Stable Floaters: 95  "
              "(95.00%) - Physics Stopped!");
}

TEST(StatusLine, StableWithoutTrianglesIsTriangulating) {
    StatusInput input = running(1.95, 3, 3);
    input.stable = true;
    EXPECT_EQ(chooseStatusFormat(input), StatusFormat::Triangulating);
    EXPECT_EQ(statusLine(input),
              "VessikSpheres - Density: 1.95 - Total Floaters: 3 - Stable Floaters: 3  "
              "(100.00%) - Triangulation in progress...");
}

TEST(StatusLine, FinishedFormatShowsTrianglesAndNoStableCount) {
    StatusInput input = running(2.0, 803, 712);
    input.stable = true;
    input.triangles = 1602;
    EXPECT_EQ(chooseStatusFormat(input), StatusFormat::Finished);
    EXPECT_EQ(statusLine(input),
              "VessikSpheres - Density: 2.00 - Total Floaters: 803 - Total Triangles: 1602 - "
              "System stopped");
}

TEST(StatusLine, MovingSystemIsRunningWhateverTheMesh) {
    // A mesh left from before is irrelevant while the system moves.
    StatusInput input = running(2.0, 10, 2);
    input.triangles = 7;
    EXPECT_EQ(chooseStatusFormat(input), StatusFormat::Running);
}

TEST(StatusLine, HugeNumbersStayWithinTheBuffer) {
    StatusInput input = running(1e300, 2147483647, 2147483647);
    const std::string text = statusLine(input);
    EXPECT_LE(text.size(), 255u);
    EXPECT_EQ(text.rfind("VessikSpheres - Density: 1000000", 0), 0u);
}
