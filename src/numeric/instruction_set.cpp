// Run-time choice of the batch kernels' instruction set.
#include "numeric/instruction_set.hpp"

#include <atomic>
#include <cstdlib>
#include <iterator>

#include "numeric/target_region.hpp"

namespace lumevaro {

namespace {

constexpr InstructionSet ALL[] = {InstructionSet::scalar, InstructionSet::neon, InstructionSet::sse2,
                                  InstructionSet::avx2, InstructionSet::avx512};

InstructionSet widest_supported() noexcept {
    for (auto set = std::end(ALL); set != std::begin(ALL);) {
        --set;
        if (instruction_set_supported(*set)) return *set;
    }
    return InstructionSet::scalar;
}

// True once the set in use was named in the environment or forced.
std::atomic<bool> chosen{false};

InstructionSet from_environment() noexcept {
    const char* requested = std::getenv("LUMEVARO_SIMD");
    if (requested != nullptr) {
        for (const InstructionSet set : ALL) {
            if (instruction_set_name(set) == requested && instruction_set_supported(set)) {
                chosen.store(true, std::memory_order_relaxed);
                return set;
            }
        }
    }
    return widest_supported();
}

// -1 until first use; then the InstructionSet value. Threads share it with
// no lock, with or without Python's GIL: a value is one atomic word, racing
// first calls choose the same set from the same environment, and a set
// forced meanwhile (by the tests) changes only how fast the kernels run, as
// every set gives the same bits.
std::atomic<int> active{-1};

}  // namespace

bool instruction_set_supported(InstructionSet set) noexcept {
    switch (set) {
        case InstructionSet::scalar:
            return true;
#if defined(LUMEVARO_X86_LANES)
        case InstructionSet::sse2:
            return true;
        case InstructionSet::avx2:
            return __builtin_cpu_supports("avx2");
        case InstructionSet::avx512:
            return __builtin_cpu_supports("avx512f");
        case InstructionSet::neon:
            return false;
#elif defined(LUMEVARO_NEON_LANES)
        case InstructionSet::neon:
            return true;
        case InstructionSet::sse2:
        case InstructionSet::avx2:
        case InstructionSet::avx512:
            return false;
#else
        case InstructionSet::neon:
        case InstructionSet::sse2:
        case InstructionSet::avx2:
        case InstructionSet::avx512:
            return false;
#endif
    }
    return false;
}

InstructionSet active_instruction_set() noexcept {
    int set = active.load(std::memory_order_relaxed);
    if (set < 0) {
        // Racing first calls all read the same environment.
        set = static_cast<int>(from_environment());
        active.store(set, std::memory_order_relaxed);
    }
    return static_cast<InstructionSet>(set);
}

InstructionSet instruction_set_up_to(InstructionSet widest) noexcept {
    const InstructionSet set = active_instruction_set();
    if (chosen.load(std::memory_order_relaxed) || set <= widest) return set;
    return widest;
}

InstructionSet force_instruction_set(InstructionSet set) noexcept {
    if (instruction_set_supported(set)) {
        chosen.store(true, std::memory_order_relaxed);
        active.store(static_cast<int>(set), std::memory_order_relaxed);
    }
    return active_instruction_set();
}

std::string_view instruction_set_name(InstructionSet set) noexcept {
    switch (set) {
        case InstructionSet::scalar: return "scalar";
        case InstructionSet::neon: return "neon";
        case InstructionSet::sse2: return "sse2";
        case InstructionSet::avx2: return "avx2";
        case InstructionSet::avx512: return "avx512";
    }
    return "";
}

}  // namespace lumevaro
