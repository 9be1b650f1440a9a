// The lane kernels for each instruction set: lanes.inc compiled once per set
// the build has lanes for (numeric/target_region.hpp), each in its own
// namespace, with the set's square root and mask to bits, and chosen at run
// time. On x86-64: SSE2 (2 lanes), AVX2 (4) and AVX-512 (8), the wider two in
// their target regions; nothing in the regions is shared with the rest of the
// program, so no function compiled for a wider set can be called on a
// processor without it. On aarch64: NEON (2 lanes), the same generic vector
// code. Elsewhere no lanes: every function below takes its one-by-one path.
// The vector arguments of the always-inlined templates (Horner, the closing
// series) never cross a call, so their ABI does not matter.
#if defined(__GNUC__)
#pragma GCC diagnostic ignored "-Wpsabi"
#endif

#include <cmath>
#include <cstddef>
#include <cstring>
#include <limits>
#include <vector>

#include "models/lanes.hpp"
#include "models/models.hpp"
#include "numeric/target_region.hpp"

#if defined(LUMEVARO_X86_LANES) || defined(LUMEVARO_NEON_LANES)
#include <bit>

#include "elliptic/carlson/duplication.hpp"
#include "elliptic/legendre/cephes_tables.hpp"
#include "elliptic/legendre/polynomial.hpp"
#include "models/constants.hpp"
#endif
#if defined(LUMEVARO_X86_LANES)
#include <immintrin.h>
#endif
#if defined(LUMEVARO_NEON_LANES)
#include <arm_neon.h>
#endif

namespace lumevaro {

#if defined(LUMEVARO_X86_LANES)
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

// The cases of a switch over the set that run `call` in the set's namespace.
#define LUMEVARO_LANE_CASES(call)                                    \
    case InstructionSet::sse2: return lanes_sse2::call;              \
    case InstructionSet::avx2: return lanes_avx2::call;              \
    case InstructionSet::avx512: return lanes_avx512::call;
#endif

#if defined(LUMEVARO_NEON_LANES)
namespace lanes_neon {
constexpr int W = 2;
typedef double V __attribute__((vector_size(16)));
typedef long long M __attribute__((vector_size(16)));
[[gnu::always_inline]] inline V vsqrt(V x) {
    return reinterpret_cast<V>(vsqrtq_f64(reinterpret_cast<float64x2_t>(x)));
}
// Bit i set for lane i of a mask (lanes all ones or all zeros).
[[gnu::always_inline]] inline unsigned lane_bits(M mask) {
    return static_cast<unsigned>(mask[0] & 1) | static_cast<unsigned>(mask[1] & 1) << 1;
}
#include "elliptic/carlson/closing_series.inc"
#include "elliptic/legendre/horner.inc"
#include "models/lanes.inc"
}  // namespace lanes_neon

#define LUMEVARO_LANE_CASES(call) \
    case InstructionSet::neon: return lanes_neon::call;
#endif

#if !defined(LUMEVARO_LANE_CASES)
#define LUMEVARO_LANE_CASES(call) \
    case InstructionSet::scalar: break;
#endif

// (Without lanes some parameters go unused.)
void witt_mao_lanes(InstructionSet set, [[maybe_unused]] double* magnifications, std::size_t count,
                    [[maybe_unused]] const WittMaoDisc& disc, std::vector<std::size_t>& left) {
    switch (set) {
        LUMEVARO_LANE_CASES(witt_mao_run(magnifications, count, disc, left))
        default: break;
    }
    for (std::size_t i = 0; i < count; ++i) left.push_back(i);
}

void ring_sum_lanes(InstructionSet set, [[maybe_unused]] double* sums, std::size_t count,
                    [[maybe_unused]] double re, [[maybe_unused]] double rstar,
                    [[maybe_unused]] const double* bl, [[maybe_unused]] const double* bf,
                    [[maybe_unused]] std::size_t rings, std::vector<std::size_t>& left) {
    switch (set) {
        LUMEVARO_LANE_CASES(ring_sum_run(sums, count, re, rstar, bl, bf, rings, left))
        default: break;
    }
    for (std::size_t i = 0; i < count; ++i) left.push_back(i);
}

void ring_lanes(InstructionSet set, double l, const double* r, std::size_t count, double re,
                double rstar, double* out) {
    switch (set) {
        LUMEVARO_LANE_CASES(ring_run(l, r, count, re, rstar, out))
        default: break;
    }
    for (std::size_t i = 0; i < count; ++i) {
        const Real ring = heyrovsky_magnification(l, r[i], re, rstar);
        out[i] = ring ? ring.value() : std::numeric_limits<double>::quiet_NaN();
    }
}

std::size_t certified_lanes(InstructionSet set, bool power, const double* x, double* out,
                            std::size_t count) {
    switch (set) {
        LUMEVARO_LANE_CASES(certified_run_of(power, x, out, count))
        default: break;
    }
    for (std::size_t i = 0; i < count; ++i) out[i] = power ? std::pow(x[i], -1.5) : std::atan(x[i]);
    return 0;
}

std::size_t lane_count(InstructionSet set) noexcept {
    switch (set) {
        LUMEVARO_LANE_CASES(W)
        default: break;
    }
    return 1;
}

}  // namespace lumevaro
