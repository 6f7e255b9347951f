#include "geo/OutOfMemory.h"

#include <cstdio>
#include <cstdlib>
#include <new>

namespace {

const char* programName = "dazirudo";
void (*cleanupHook)() = nullptr;

}  // namespace

void endProgramWhenOutOfMemory(const char* program) {
    programName = program;
    std::set_new_handler(outOfMemory);
}

void outOfMemory() {
    if (cleanupHook) cleanupHook();
    // Unbuffered and without formatting, so the line needs no memory of its own.
    std::fputs(programName, stderr);
    std::fputs(": out of memory\n", stderr);
    // No exit handlers and no destructors: they would work on state the failed
    // allocation left half made.
    std::_Exit(outOfMemoryStatus);
}

void setOutOfMemoryCleanup(void (*cleanup)()) {
    cleanupHook = cleanup;
}
