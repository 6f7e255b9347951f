// Two tiers of run-time checks. CHECK is always on: for cheap conditions whose failure means
// the program's own data is corrupted, so that going on would only spread the damage. DCHECK
// is on in debug and sanitizer builds (DAZIRUDO_DCHECK, set by the build) and compiled out
// elsewhere, so it may cost what it likes: the validators of the grid, the particle lists
// and the mesh run that way after every step and every triangulation.
// A failure prints "file:line: check failed: condition: message" on standard error and
// aborts; the message says what went wrong and where to look.
#pragma once

#include <string>

namespace geo {

[[noreturn]] void checkFailed(const char* file, int line, const char* condition,
                              const std::string& message);

// Whether DCHECK runs in this build.
#if defined(DAZIRUDO_DCHECK) && DAZIRUDO_DCHECK
constexpr bool dchecksOn = true;
#else
constexpr bool dchecksOn = false;
#endif

}  // namespace geo

#define CHECK(condition, message)                                                      \
    do {                                                                               \
        if (!(condition)) ::geo::checkFailed(__FILE__, __LINE__, #condition, message); \
    } while (false)

// `fault` is an expression that yields a std::string: what is wrong, or "" when all is well
// (the form every validator answers in).
#define CHECK_NO_FAULT(fault)                                                                  \
    do {                                                                                       \
        const std::string checkFault_ = (fault);                                               \
        if (!checkFault_.empty()) ::geo::checkFailed(__FILE__, __LINE__, #fault, checkFault_); \
    } while (false)

#if defined(DAZIRUDO_DCHECK) && DAZIRUDO_DCHECK
#define DCHECK(condition, message) CHECK(condition, message)
#define DCHECK_NO_FAULT(fault) CHECK_NO_FAULT(fault)
#else
// Compiled, so that it cannot rot, but never run: the optimiser drops it.
#define DCHECK(condition, message) \
    do {                           \
        if (false) {               \
            (void)(condition);     \
            (void)(message);       \
        }                          \
    } while (false)
#define DCHECK_NO_FAULT(fault) \
    do {                       \
        if (false) {           \
            (void)(fault);     \
        }                      \
    } while (false)
#endif
