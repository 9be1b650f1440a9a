// Assertions shared by the tests of the elliptic integrals and the models.
#pragma once

#include <gtest/gtest.h>

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <limits>
#include <string_view>

#include "elliptic/outcome.hpp"
#include "models/list_outcome.hpp"
#include "numeric/instruction_set.hpp"

namespace checks {

inline constexpr double NaN = std::numeric_limits<double>::quiet_NaN();
inline constexpr double Inf = std::numeric_limits<double>::infinity();

// Opens a test that pins bits (or differences near 1e-14) of results that go
// through the C library's log, atan, asin, pow or exp: the values assume
// glibc's (the same on x86-64 and aarch64). Another library may round those
// otherwise in the last bit, so the test is skipped there, saying why.
#if defined(__GLIBC__)
#define LUMEVARO_ASSUMES_GLIBC_LIBM() static_cast<void>(0)
#else
#define LUMEVARO_ASSUMES_GLIBC_LIBM() \
    GTEST_SKIP() << "pins bits of glibc's log, atan, asin, pow or exp; this C library may round them otherwise"
#endif

// The value of an outcome that must have succeeded.
template <class T>
T value_of(const lumevaro::Outcome<T>& outcome) {
    EXPECT_TRUE(outcome) << "unexpected failure: " << outcome.message();
    return outcome.value();
}

template <class T>
::testing::AssertionResult fails_with(const lumevaro::Outcome<T>& outcome, std::string_view message) {
    if (outcome) return ::testing::AssertionFailure() << "returned a value";
    if (outcome.message() != message)
        return ::testing::AssertionFailure() << "failed with \"" << outcome.message() << '"';
    return ::testing::AssertionSuccess();
}

// A list routine's failure at l[index] = separation (NaN matching NaN).
inline ::testing::AssertionResult fails_at(const lumevaro::ListOutcome& outcome, std::size_t index,
                                           double separation) {
    if (outcome) return ::testing::AssertionFailure() << "returned a value";
    const lumevaro::SeparationFailure failure = outcome.separation_failure();
    const bool same_separation = failure.separation == separation ||
                                 (std::isnan(failure.separation) && std::isnan(separation));
    if (failure.index != index || !same_separation)
        return ::testing::AssertionFailure()
               << "failed at l[" << failure.index << "] = " << failure.separation;
    return ::testing::AssertionSuccess();
}

// The sets with vector lanes; those the build and the processor lack are
// skipped where they are tried.
inline constexpr lumevaro::InstructionSet VECTOR_SETS[] = {
    lumevaro::InstructionSet::neon, lumevaro::InstructionSet::sse2, lumevaro::InstructionSet::avx2,
    lumevaro::InstructionSet::avx512};

// Runs the kernels with `set` (if supported) for its lifetime, then with the
// set used before.
class ForcedSet {
public:
    explicit ForcedSet(lumevaro::InstructionSet set) : previous_(lumevaro::active_instruction_set()) {
        lumevaro::force_instruction_set(set);
    }
    ~ForcedSet() { lumevaro::force_instruction_set(previous_); }
    ForcedSet(const ForcedSet&) = delete;
    ForcedSet& operator=(const ForcedSet&) = delete;

private:
    lumevaro::InstructionSet previous_;
};

inline double relative_error(double got, double want) { return std::fabs(got - want) / std::fabs(want); }

inline void expect_rel(double got, double want, double tolerance) {
    EXPECT_LE(std::fabs(got - want), tolerance * std::fabs(want)) << "got " << got << ", want " << want;
}

// Distance in units in the last place between two finite positive doubles.
inline std::int64_t ulps_between(double a, double b) {
    std::int64_t ia = 0;
    std::int64_t ib = 0;
    std::memcpy(&ia, &a, sizeof a);
    std::memcpy(&ib, &b, sizeof b);
    return ia > ib ? ia - ib : ib - ia;
}

// A_pt(x) = (x² + 2)/(x√(x² + 4)), the magnification of a point source at x
// Einstein radii from the lens.
inline double point_source(double x) { return (x * x + 2.0) / (x * std::sqrt(x * x + 4.0)); }

}  // namespace checks
