// Memory running out ends the program with one line and a status of its own, whether the
// allocation throws (the handler) or returns null (the lists' nothrow allocations).
#include <gtest/gtest.h>

#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <new>

#include "geo/OutOfMemory.h"

namespace {

// Where a test's allocation goes, so that the compiler cannot leave it out.
void* volatile allocationSink = nullptr;
constexpr std::size_t tooMuch = static_cast<std::size_t>(-1) / 4;

}  // namespace

#if defined(__SANITIZE_ADDRESS__)
TEST(OutOfMemory, SkippedUnderAddressSanitizer) {
    GTEST_SKIP() << "AddressSanitizer ends a failed allocation itself";
}
#else
TEST(OutOfMemory, FailedAllocationEndsWithItsOwnStatusAndOneLine) {
    EXPECT_EXIT(
        {
            endProgramWhenOutOfMemory("program");
            allocationSink = ::operator new(tooMuch);
        },
        ::testing::ExitedWithCode(outOfMemoryStatus), "^program: out of memory\n$");
    // The nothrow form reaches the same handler rather than returning null.
    EXPECT_EXIT(
        {
            endProgramWhenOutOfMemory("program");
            allocationSink = ::operator new(tooMuch, std::nothrow);
            if (!allocationSink) std::exit(1);
        },
        ::testing::ExitedWithCode(outOfMemoryStatus), "^program: out of memory\n$");
}

TEST(OutOfMemory, CleanupRunsFirst) {
    EXPECT_EXIT(
        {
            setOutOfMemoryCleanup([] { std::fputs("cleaned\n", stderr); });
            outOfMemory();
        },
        ::testing::ExitedWithCode(outOfMemoryStatus), "^cleaned\ndazirudo: out of memory\n$");
}
#endif
