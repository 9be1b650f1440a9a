// The instruction sets the batch kernels are compiled for, and the one they
// run with: the widest the processor has, unless the environment variable
// LUMEVARO_SIMD names another ("scalar", "neon", "sse2", "avx2", "avx512";
// one the processor or the build lacks falls back to the widest it has).
// x86-64 builds with GCC or clang have SSE2, AVX2 and AVX-512 lanes, aarch64
// builds with GCC or clang NEON lanes, any other build only "scalar"
// (numeric/target_region.hpp). Every choice gives the same bits; the switch
// exists to compare them and to time them.
//
// This is the one place that reads the processor and the environment: every
// kernel with lanes (numeric/vector_lanes.hpp) asks active_instruction_set or
// instruction_set_up_to which of its lanes to run, and runs one by one under
// "scalar" or a set it has no lanes for.
#pragma once

#include <string_view>

namespace lumevaro {

// In order of width: a kernel narrowed to a set (instruction_set_up_to) runs
// on NEON as it would have.
enum class InstructionSet { scalar, neon, sse2, avx2, avx512 };

// True when the build has lanes for that set and the processor executes it
// (scalar always; SSE2 on every x86-64 build with lanes, NEON on every
// aarch64 one).
bool instruction_set_supported(InstructionSet set) noexcept;

// The set in use: read from the environment on first use, or as forced.
InstructionSet active_instruction_set() noexcept;

// The set for a kernel that runs no faster on wider lanes than on `widest`:
// the set in use, narrowed to `widest` unless the environment or
// force_instruction_set chose it, so that a chosen set runs every kernel.
InstructionSet instruction_set_up_to(InstructionSet widest) noexcept;

// Makes `set` the one in use, if supported (for tests and benchmarks); returns
// the set now in use.
InstructionSet force_instruction_set(InstructionSet set) noexcept;

std::string_view instruction_set_name(InstructionSet set) noexcept;

}  // namespace lumevaro
