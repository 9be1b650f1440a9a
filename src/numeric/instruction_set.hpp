// The instruction sets the batch kernels are compiled for, and the one they
// run with: the widest the processor has, unless the environment variable
// LUMEVARO_SIMD names another ("scalar", "sse2", "avx2", "avx512"; one the
// processor lacks falls back to the widest it has). Every choice gives the
// same bits; the switch exists to compare them and to time them.
#pragma once

#include <string_view>

namespace lumevaro {

enum class InstructionSet { scalar, sse2, avx2, avx512 };

// True when the processor executes that set (scalar and SSE2 always, on x86-64).
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
