// Regions of a source file compiled for a wider instruction set than the
// rest: every function defined between BEGIN and END may use it, and must be
// called only after a run-time check that the processor has it
// (instruction_set_supported). GCC's target pragmas, or clang's attribute
// pragma to the same effect.
#pragma once

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
