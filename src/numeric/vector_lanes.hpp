// The SIMD lanes every batch kernel is written over. For each instruction set
// the build has lanes for (numeric/target_region.hpp), a namespace
// vector_lanes::<set> holding
//   W          the lanes per group,
//   V, M       a vector of W doubles and its mask (each lane all ones or all
//              zeros), GCC's and clang's generic vector types,
//   vsqrt      the set's correctly rounded square root,
//   lane_bits  bit i set for lane i of a mask,
// and the generic helpers of vector_lanes.inc, written once over those. A
// kernel compiled for a set opens its namespace (using namespace
// vector_lanes::avx2) inside the same target region, and runs only when the
// dispatch (numeric/instruction_set.hpp) chose that set or a wider one.
//
// Every function here is always inlined into the kernel that calls it and is
// defined, for a wider set, only inside that set's target region, so nothing
// compiled for AVX2 or AVX-512 is reached on a processor without it. The
// vector arguments never cross a call, so their ABI does not matter.
#pragma once

#include "numeric/target_region.hpp"

#if defined(LUMEVARO_X86_LANES) || defined(LUMEVARO_NEON_LANES)
#include <bit>
#endif
#if defined(LUMEVARO_X86_LANES)
#include <immintrin.h>
#endif
#if defined(LUMEVARO_NEON_LANES)
#include <arm_neon.h>
#endif

#if defined(__GNUC__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wpsabi"
#endif

namespace lumevaro::vector_lanes {

#if defined(LUMEVARO_X86_LANES)
namespace sse2 {
constexpr int W = 2;
typedef double V __attribute__((vector_size(16)));
typedef long long M __attribute__((vector_size(16)));
[[gnu::always_inline]] inline V vsqrt(V x) {
    return reinterpret_cast<V>(_mm_sqrt_pd(reinterpret_cast<__m128d>(x)));
}
[[gnu::always_inline]] inline unsigned lane_bits(M mask) {
    return static_cast<unsigned>(_mm_movemask_pd(reinterpret_cast<__m128d>(mask)));
}
#include "numeric/vector_lanes.inc"
}  // namespace sse2

LUMEVARO_TARGET_AVX2_BEGIN
namespace avx2 {
constexpr int W = 4;
typedef double V __attribute__((vector_size(32)));
typedef long long M __attribute__((vector_size(32)));
[[gnu::always_inline]] inline V vsqrt(V x) {
    return reinterpret_cast<V>(_mm256_sqrt_pd(reinterpret_cast<__m256d>(x)));
}
[[gnu::always_inline]] inline unsigned lane_bits(M mask) {
    return static_cast<unsigned>(_mm256_movemask_pd(reinterpret_cast<__m256d>(mask)));
}
#include "numeric/vector_lanes.inc"
}  // namespace avx2
LUMEVARO_TARGET_END

LUMEVARO_TARGET_AVX512_BEGIN
namespace avx512 {
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
#include "numeric/vector_lanes.inc"
}  // namespace avx512
LUMEVARO_TARGET_END
#endif

#if defined(LUMEVARO_NEON_LANES)
namespace neon {
constexpr int W = 2;
typedef double V __attribute__((vector_size(16)));
typedef long long M __attribute__((vector_size(16)));
[[gnu::always_inline]] inline V vsqrt(V x) {
    return reinterpret_cast<V>(vsqrtq_f64(reinterpret_cast<float64x2_t>(x)));
}
[[gnu::always_inline]] inline unsigned lane_bits(M mask) {
    return static_cast<unsigned>(mask[0] & 1) | static_cast<unsigned>(mask[1] & 1) << 1;
}
#include "numeric/vector_lanes.inc"
}  // namespace neon
#endif

}  // namespace lumevaro::vector_lanes

#if defined(__GNUC__)
#pragma GCC diagnostic pop
#endif
