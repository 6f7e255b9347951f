// The two tiers of geo/Check.h: CHECK aborts in every build with the place, the condition
// and the message; DCHECK does the same only where the build turns it on, and otherwise
// does not even evaluate its condition.
#include <gtest/gtest.h>

#include <string>

#include "geo/Check.h"

namespace {

std::string noFault() {
    return "";
}
std::string aFault() {
    return "a chain in a loop";
}

}  // namespace

TEST(CheckDeathTest, FailedCheckSaysWhereWhatAndWhyThenAborts) {
    const int count = 3;
    CHECK(count == 3, "never shown");
    CHECK_NO_FAULT(noFault());
    EXPECT_DEATH_IF_SUPPORTED(CHECK(count == 4, "the grid lost a floater"),
                              "CheckTest.cpp:.*: check failed: count == 4: the grid lost a "
                              "floater");
    EXPECT_DEATH_IF_SUPPORTED(CHECK_NO_FAULT(aFault()),
                              "check failed: aFault\\(\\): a chain in a loop");
}

TEST(CheckDeathTest, DcheckRunsExactlyWhenTheBuildTurnsItOn) {
    int evaluated = 0;
    DCHECK(++evaluated > 0, "counts its evaluations");
    EXPECT_EQ(evaluated, geo::dchecksOn ? 1 : 0);
    if (geo::dchecksOn) {
        EXPECT_DEATH_IF_SUPPORTED(DCHECK(evaluated == 0, "on"), "check failed: evaluated == 0: on");
        EXPECT_DEATH_IF_SUPPORTED(DCHECK_NO_FAULT(aFault()), "a chain in a loop");
    } else {
        DCHECK(evaluated == 1, "off");
        DCHECK_NO_FAULT(aFault());
    }
}
