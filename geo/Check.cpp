#include "geo/Check.h"

#include <cstdio>
#include <cstdlib>

namespace geo {

void checkFailed(const char* file, int line, const char* condition, const std::string& message) {
    // One write of the whole line, so that lines of several threads do not interleave.
    std::fprintf(stderr, "%s:%d: check failed: %s: %s\n", file, line, condition, message.c_str());
    std::fflush(stderr);
    std::abort();
}

}  // namespace geo
