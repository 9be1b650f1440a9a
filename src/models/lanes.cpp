// The lane kernels for each instruction set: lanes.inc compiled three times,
// for SSE2 (2 lanes), AVX2 (4) and AVX-512 (8), each in its own namespace
// and target region (numeric/target_region.hpp), with the set's square root
// and mask to bits, and chosen at run time. Nothing in the regions is shared
// with the rest of the program, so no function compiled for a wider set can
// be called on a processor without it.
// The vector arguments of the always-inlined templates (Horner, the closing
// series) never cross a call, so their ABI does not matter.
#pragma GCC diagnostic ignored "-Wpsabi"

#include <immintrin.h>

#include <cmath>
#include <cstddef>
#include <cstring>
#include <limits>
#include <vector>

#include "elliptic/carlson/duplication.hpp"
#include "elliptic/legendre/cephes_tables.hpp"
#include "elliptic/legendre/polynomial.hpp"
#include "models/constants.hpp"
#include "models/lanes.hpp"
#include "models/models.hpp"
#include "numeric/target_region.hpp"

namespace lumevaro {

namespace lanes_sse2 {
constexpr int W = 2;
typedef double V __attribute__((vector_size(16)));
typedef long long M __attribute__((vector_size(16)));
[[gnu::always_inline]] inline V vsqrt(V x) {
    return reinterpret_cast<V>(_mm_sqrt_pd(reinterpret_cast<__m128d>(x)));
}
// Bit i set for lane i of a mask (lanes all ones or all zeros).
[[gnu::always_inline]] inline unsigned lane_bits(M mask) {
    return static_cast<unsigned>(_mm_movemask_pd(reinterpret_cast<__m128d>(mask)));
}
#include "elliptic/carlson/closing_series.inc"
#include "elliptic/legendre/horner.inc"
#include "models/lanes.inc"
}  // namespace lanes_sse2

LUMEVARO_TARGET_AVX2_BEGIN
namespace lanes_avx2 {
constexpr int W = 4;
typedef double V __attribute__((vector_size(32)));
typedef long long M __attribute__((vector_size(32)));
[[gnu::always_inline]] inline V vsqrt(V x) {
    return reinterpret_cast<V>(_mm256_sqrt_pd(reinterpret_cast<__m256d>(x)));
}
[[gnu::always_inline]] inline unsigned lane_bits(M mask) {
    return static_cast<unsigned>(_mm256_movemask_pd(reinterpret_cast<__m256d>(mask)));
}
#include "elliptic/carlson/closing_series.inc"
#include "elliptic/legendre/horner.inc"
#include "models/lanes.inc"
}  // namespace lanes_avx2
LUMEVARO_TARGET_END

LUMEVARO_TARGET_AVX512_BEGIN
namespace lanes_avx512 {
constexpr int W = 8;
typedef double V __attribute__((vector_size(64)));
typedef long long M __attribute__((vector_size(64)));
// (The masked form, all lanes set, spares GCC 12's warning about the
// unmasked intrinsic's undefined pass-through operand.)
[[gnu::always_inline]] inline V vsqrt(V x) {
    const __m512d v = reinterpret_cast<__m512d>(x);
    return reinterpret_cast<V>(_mm512_mask_sqrt_pd(v, 0xFF, v));
}
[[gnu::always_inline]] inline unsigned lane_bits(M mask) {
    const __m512i m = reinterpret_cast<__m512i>(mask);
    return static_cast<unsigned>(_mm512_test_epi64_mask(m, m));
}
#include "elliptic/carlson/closing_series.inc"
#include "elliptic/legendre/horner.inc"
#include "models/lanes.inc"
}  // namespace lanes_avx512
LUMEVARO_TARGET_END

void witt_mao_lanes(InstructionSet set, double* magnifications, std::size_t count,
                    const WittMaoDisc& disc, std::vector<std::size_t>& left) {
    switch (set) {
        case InstructionSet::sse2:
            return lanes_sse2::witt_mao_run(magnifications, count, disc, left);
        case InstructionSet::avx2:
            return lanes_avx2::witt_mao_run(magnifications, count, disc, left);
        case InstructionSet::avx512:
            return lanes_avx512::witt_mao_run(magnifications, count, disc, left);
        case InstructionSet::scalar:
            break;
    }
    for (std::size_t i = 0; i < count; ++i) left.push_back(i);
}

void ring_sum_lanes(InstructionSet set, double* sums, std::size_t count, double re, double rstar,
                    const double* bl, const double* bf, std::size_t rings,
                    std::vector<std::size_t>& left) {
    switch (set) {
        case InstructionSet::sse2:
            return lanes_sse2::ring_sum_run(sums, count, re, rstar, bl, bf, rings, left);
        case InstructionSet::avx2:
            return lanes_avx2::ring_sum_run(sums, count, re, rstar, bl, bf, rings, left);
        case InstructionSet::avx512:
            return lanes_avx512::ring_sum_run(sums, count, re, rstar, bl, bf, rings, left);
        case InstructionSet::scalar:
            break;
    }
    for (std::size_t i = 0; i < count; ++i) left.push_back(i);
}

void ring_lanes(InstructionSet set, double l, const double* r, std::size_t count, double re,
                double rstar, double* out) {
    switch (set) {
        case InstructionSet::sse2:
            return lanes_sse2::ring_run(l, r, count, re, rstar, out);
        case InstructionSet::avx2:
            return lanes_avx2::ring_run(l, r, count, re, rstar, out);
        case InstructionSet::avx512:
            return lanes_avx512::ring_run(l, r, count, re, rstar, out);
        case InstructionSet::scalar:
            break;
    }
    for (std::size_t i = 0; i < count; ++i) {
        const Real ring = heyrovsky_magnification(l, r[i], re, rstar);
        out[i] = ring ? ring.value() : std::numeric_limits<double>::quiet_NaN();
    }
}

std::size_t certified_lanes(InstructionSet set, bool power, const double* x, double* out,
                            std::size_t count) {
    switch (set) {
        case InstructionSet::sse2:
            return power ? lanes_sse2::certified_run<true>(x, out, count)
                         : lanes_sse2::certified_run<false>(x, out, count);
        case InstructionSet::avx2:
            return power ? lanes_avx2::certified_run<true>(x, out, count)
                         : lanes_avx2::certified_run<false>(x, out, count);
        case InstructionSet::avx512:
            return power ? lanes_avx512::certified_run<true>(x, out, count)
                         : lanes_avx512::certified_run<false>(x, out, count);
        case InstructionSet::scalar:
            break;
    }
    for (std::size_t i = 0; i < count; ++i) out[i] = power ? std::pow(x[i], -1.5) : std::atan(x[i]);
    return 0;
}

std::size_t lane_count(InstructionSet set) noexcept {
    switch (set) {
        case InstructionSet::sse2: return lanes_sse2::W;
        case InstructionSet::avx2: return lanes_avx2::W;
        case InstructionSet::avx512: return lanes_avx512::W;
        case InstructionSet::scalar: break;
    }
    return 1;
}

}  // namespace lumevaro
