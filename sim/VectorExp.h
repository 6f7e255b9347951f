// An exponential the compiler can vectorise: straight-line arithmetic with no call, no
// table and no branch (the selections become blends), so a loop of them runs two (SSE2) or
// four (AVX2) at a time. It is also the same on every platform: it uses only additions,
// multiplications and bit moves, each rounded as IEEE demands, where the C runtime's exp
// differs between systems in the last bit for some arguments.
//
// Accuracy: x = n ln 2 + r with n = round(x / ln 2) and |r| <= ln 2 / 2 (ln 2 in two parts,
// the first with 21 trailing zero bits, so n ln2Hi is exact for every n it meets); exp(r)
// by its Taylor series to degree 13, whose remainder is below r^14/14! < 4.3e-18 relative;
// the result scaled by 2^n through the exponent bits. Against std::exp the relative
// difference stays below 1e-15 (a few units in the last place) for every result of at least
// DBL_MIN, tested over the whole range in tests/sim. Below that (x < -708.4) the result is
// subnormal and rounded once, as std::exp's is, so the two differ by at most one step of
// the subnormal spacing (4.9e-324); below -745.2 it is 0. Above 709.78 it is infinity.
// NaN gives NaN.
#pragma once

#include <cmath>
#include <cstdint>
#include <cstring>

// Marks a function whose loops the compiler vectorises: on Linux with GCC it is built three
// times, for the x86-64 baseline (two doubles a step), AVX2 (four) and AVX-512 (eight), and
// the processor's best is chosen when the program starts. No build contracts a
// multiplication and an addition into one (the core builds with -ffp-contract=off), and
// every other operation is rounded as IEEE demands in every lane of every width, so all
// three compute the same bits. Elsewhere (Windows, whose compilers do not keep the stack
// aligned for AVX) only the baseline build exists; DAZIRUDO_NO_VECTOR_CLONES asks for
// that anywhere, to check that the builds agree.
#if defined(__GNUC__) && !defined(__clang__) && defined(__x86_64__) && defined(__linux__) && \
    !defined(DAZIRUDO_NO_VECTOR_CLONES)
#define DAZIRUDO_VECTOR_CLONES __attribute__((target_clones("avx512f", "avx2", "default")))
#else
#define DAZIRUDO_VECTOR_CLONES
#endif
// The widest of those vectors, in doubles: blocks are filled up to a multiple of it.
constexpr int vectorWidth = 8;

namespace vexp {

inline double exp(double x) {
#ifdef DAZIRUDO_REFERENCE_FIELD
    return std::exp(x);
#endif
    const double log2e = 1.4426950408889634;
    const double ln2Hi = 6.93147180369123816490e-01;  // 0x3fe62e42fee00000
    const double ln2Lo = 1.90821492927058770002e-10;  // ln 2 - ln2Hi
    // Adding 1.5 * 2^52 rounds to an integer and leaves it in the low bits of the result.
    const double shifter = 6755399441055744.0;
    const double n = (x * log2e + shifter) - shifter;
    const double r = (x - n * ln2Hi) - n * ln2Lo;

    // Estrin's scheme: the same series as Horner's, in pairs and pairs of pairs, so that
    // the chain of dependent operations is 7 long instead of 26 and several vectors of
    // exponentials are worked on at once.
    const double r2 = r * r;
    const double r4 = r2 * r2;
    const double r8 = r4 * r4;
    const double q0 = 1.0 + r;
    const double q1 = 1.0 / 2.0 + r * (1.0 / 6.0);
    const double q2 = 1.0 / 24.0 + r * (1.0 / 120.0);
    const double q3 = 1.0 / 720.0 + r * (1.0 / 5040.0);
    const double q4 = 1.0 / 40320.0 + r * (1.0 / 362880.0);
    const double q5 = 1.0 / 3628800.0 + r * (1.0 / 39916800.0);
    const double q6 = 1.0 / 479001600.0 + r * (1.0 / 6227020800.0);
    const double s0 = q0 + r2 * q1;
    const double s1 = q2 + r2 * q3;
    const double s2 = q4 + r2 * q5;
    const double p = (s0 + r4 * s1) + r8 * (s2 + r4 * q6);

    // 2^n as two normal factors 2^h 2^(n-h), h = n/2 rounded, so that n may reach the
    // subnormal and overflow ends of the range: the first product is exact, the second
    // rounds once, as a subnormal result must be rounded.
    const double half = (n * 0.5 + shifter) - shifter;
    const double rest = (n - half) + shifter;
    const double first = half + shifter;
    std::uint64_t firstBits, restBits;
    std::memcpy(&firstBits, &first, sizeof first);
    std::memcpy(&restBits, &rest, sizeof rest);
    // The low 12 bits of a shifted integer's bits are that integer modulo 4096; adding the
    // bias and shifting them into the exponent field gives the power of two.
    firstBits = (firstBits + 1023) << 52;
    restBits = (restBits + 1023) << 52;
    double firstScale, restScale;
    std::memcpy(&firstScale, &firstBits, sizeof firstScale);
    std::memcpy(&restScale, &restBits, sizeof restScale);
    const double result = p * firstScale * restScale;
    // Beyond these limits the work above ran out of range, and the answer is known. The
    // selections come last: a selection feeding the bit moves would keep the loop scalar.
    // A NaN fails both comparisons and stays NaN.
    return x < -746.0 ? 0.0 : (x > 710.0 ? HUGE_VAL : result);
}

}  // namespace vexp
