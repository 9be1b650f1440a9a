// Where the batch kernels' vector lanes exist, and the regions of a source
// file compiled for a wider instruction set than the rest.
//
// LUMEVARO_X86_LANES: x86-64 with GCC or clang, whose vector extensions,
// target pragmas and intrinsics the SSE2, AVX2 and AVX-512 lanes are written
// in. LUMEVARO_NEON_LANES: aarch64 with GCC or clang, where the same generic
// vector code runs on NEON's two doubles. Anywhere else (MSVC, other
// processors) only the one-by-one path is compiled, chosen by the same
// dispatch (numeric/instruction_set.hpp).
//
// Every function defined between a BEGIN and END may use that set, and must
// be called only after a run-time check that the processor has it
// (instruction_set_supported): GCC's target pragmas, or clang's attribute
// pragma to the same effect. They exist only with LUMEVARO_X86_LANES.
#pragma once

// LUMEVARO_NO_LANES builds the one-by-one path alone, as on those platforms.
#if defined(LUMEVARO_NO_LANES)
#elif defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#define LUMEVARO_X86_LANES 1
#elif defined(__aarch64__) && (defined(__GNUC__) || defined(__clang__))
#define LUMEVARO_NEON_LANES 1
#endif

#if defined(LUMEVARO_X86_LANES)
#if defined(__clang__)
#define LUMEVARO_TARGET_AVX2_BEGIN \
    _Pragma("clang attribute push(__attribute__((target(\"avx2\"))), apply_to = function)")
#define LUMEVARO_TARGET_AVX512_BEGIN \
    _Pragma("clang attribute push(__attribute__((target(\"avx512f\"))), apply_to = function)")
#define LUMEVARO_TARGET_END _Pragma("clang attribute pop")
#else
#define LUMEVARO_TARGET_AVX2_BEGIN _Pragma("GCC push_options") _Pragma("GCC target(\"avx2\")")
#define LUMEVARO_TARGET_AVX512_BEGIN _Pragma("GCC push_options") _Pragma("GCC target(\"avx512f\")")
#define LUMEVARO_TARGET_END _Pragma("GCC pop_options")
#endif
#endif

// A small function the optimiser must inline (GCC and clang; MSVC's own
// spelling; elsewhere a plain inline).
#if defined(__GNUC__) || defined(__clang__)
#define LUMEVARO_ALWAYS_INLINE [[gnu::always_inline]] inline
#define LUMEVARO_NOINLINE [[gnu::noinline]] inline
#elif defined(_MSC_VER)
#define LUMEVARO_ALWAYS_INLINE __forceinline
#define LUMEVARO_NOINLINE __declspec(noinline) inline
#else
#define LUMEVARO_ALWAYS_INLINE inline
#define LUMEVARO_NOINLINE inline
#endif
