// Accuracy of the elliptic integrals against high-precision references.
//
// Each routine is evaluated over a grid of exactly representable arguments
// whose integrals mpmath computed to 40 digits (elliptic_reference_values.inc,
// written by tools/gen_elliptic_reference.py). A reference is carried as the
// nearest double plus a residual, so the relative error measured here is the
// routine's own, not blurred by the half-ulp rounding of the reference.
// Every test prints its worst relative error and the arguments where it
// occurs, and asserts it against the routine's accuracy target.

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstddef>
#include <cstdio>
#include <iterator>
#include <span>
#include <sstream>
#include <string>
#include <tuple>

#include "elliptic/carlson.hpp"
#include "elliptic/legendre.hpp"

namespace {

template <int N>
struct ReferenceCase {
    double args[N];
    double value;
    double residual;
};

#include "elliptic_reference_values.inc"

template <int N>
struct WorstCase {
    double relative_error = 0.0;
    ReferenceCase<N> at{};
    double computed = 0.0;
};

template <int N>
std::string describe(const ReferenceCase<N>& c) {
    std::ostringstream out;
    out.precision(17);
    out << '(';
    for (int i = 0; i < N; ++i) out << (i ? ", " : "") << c.args[i];
    out << ')';
    return out.str();
}

// |computed − exact| / |exact|, with exact = value + residual. computed −
// value is exact whenever the two are within a factor of two of each other.
template <int N>
double relative_error(double computed, const ReferenceCase<N>& c) {
    return std::fabs((computed - c.value) - c.residual) / std::fabs(c.value + c.residual);
}

// The worst relative error of routine over cases, each error divided by
// allowance(i) for the i-th case; printed with its arguments and recorded as
// a test property.
template <int N, class Routine, class Allowance>
WorstCase<N> measure(const char* name, std::span<const ReferenceCase<N>> cases, Routine routine,
                     Allowance allowance) {
    WorstCase<N> worst;
    for (std::size_t i = 0; i < cases.size(); ++i) {
        const ReferenceCase<N>& c = cases[i];
        const lumevaro::Real outcome = std::apply(routine, std::to_array(c.args));
        if (!outcome) {
            ADD_FAILURE() << name << describe(c) << " failed: " << outcome.message();
            continue;
        }
        const double error = relative_error(*outcome, c) / allowance(i);
        // A NaN error is the worst of all.
        if (!(error <= worst.relative_error)) {
            worst.relative_error = error;
            worst.at = c;
            worst.computed = *outcome;
        }
    }
    std::printf("[ accuracy ] %-26s %4zu sets, worst %.3e at %s: computed %.17g, exact %.17g\n", name,
                cases.size(), worst.relative_error, describe(worst.at).c_str(), worst.computed,
                worst.at.value + worst.at.residual);
    std::ostringstream property;
    property.precision(3);
    property << std::scientific << worst.relative_error << " at " << describe(worst.at);
    ::testing::Test::RecordProperty(name, property.str());
    return worst;
}

template <int N, std::size_t Size, class Routine>
WorstCase<N> measure(const char* name, const ReferenceCase<N> (&cases)[Size], Routine routine) {
    return measure<N>(name, std::span<const ReferenceCase<N>>(cases, Size), routine,
                      [](std::size_t) { return 1.0; });
}

// ---------------------------------------------------------------- Legendre

// The polynomial approximations of K and E are good to a few ulps on
// [0, 1), including the logarithmic end within ulps of m = 1.
TEST(EllipticAccuracy, CompleteFirstKindOnUnitInterval) {
    const auto worst = measure("ellipk", ELLIPK_REFERENCE, lumevaro::ellipk);
    EXPECT_LE(worst.relative_error, 2e-15);
}

TEST(EllipticAccuracy, CompleteSecondKindOnUnitInterval) {
    const auto worst = measure("ellipe", ELLIPE_REFERENCE, lumevaro::ellipe);
    EXPECT_LE(worst.relative_error, 2e-15);
}

// Negative m goes through E(m) = √(1 − m)·E(m/(m − 1)): one more rounding
// in the transformed parameter and the factor.
TEST(EllipticAccuracy, CompleteSecondKindNegativeParameter) {
    const auto worst = measure("ellipe(m<0)", ELLIPE_NEGATIVE_PARAMETER_REFERENCE, lumevaro::ellipe);
    EXPECT_LT(worst.relative_error, 1e-14);
}

TEST(EllipticAccuracy, CompleteThirdKind) {
    const auto worst = measure("ellippi", ELLIPPI_REFERENCE, lumevaro::ellippi);
    EXPECT_LT(worst.relative_error, 1e-14);
}

// ----------------------------------------------------------------- Carlson

TEST(EllipticAccuracy, CarlsonFirstKind) {
    const auto worst = measure("elliprf", ELLIPRF_REFERENCE, lumevaro::elliprf);
    EXPECT_LT(worst.relative_error, 1e-14);
}

TEST(EllipticAccuracy, CarlsonDegenerateIncludingPrincipalValue) {
    const auto worst = measure("elliprc", ELLIPRC_REFERENCE, lumevaro::elliprc);
    EXPECT_LT(worst.relative_error, 1e-14);
}

TEST(EllipticAccuracy, CarlsonSecondKind) {
    const auto worst = measure("elliprd", ELLIPRD_REFERENCE, lumevaro::elliprd);
    EXPECT_LT(worst.relative_error, 1e-14);
}

TEST(EllipticAccuracy, CarlsonThirdKind) {
    const auto worst = measure("elliprj", ELLIPRJ_REFERENCE, lumevaro::elliprj);
    EXPECT_LT(worst.relative_error, 1e-14);
}

// Two of x, y, z equal to v and p more than a factor 1.2 away from v: RJ is
// 3·(RC(x, v) − RC(x, p))/(p − v) in closed form. For x ≫ v, p the two RC
// are close, ln(4x/v)/(2√x) against a difference of about ln(p/v)/(2√x), so
// the difference loses a factor ln(4x/v)/ln(1.2) in relative accuracy: up
// to about 500 for x/v ≤ 1e20. Measured: about 5e-14 at worst, at
// x/v ≈ 4e15 and p/v ≈ 1.24 (over 2000 random sets as well as this grid).
TEST(EllipticAccuracy, CarlsonThirdKindDifferenceOfRC) {
    const auto worst = measure("elliprj(RC difference)", ELLIPRJ_RC_DIFFERENCE_REFERENCE, lumevaro::elliprj);
    EXPECT_LT(worst.relative_error, 1e-13);
}

// Principal value for p < 0, where the three terms of Carlson's relation do
// not cancel much (their magnitudes add up to at most ten times the result)
// and the two smaller of x, y, z differ.
TEST(EllipticAccuracy, CarlsonThirdKindPrincipalValue) {
    const auto worst = measure("elliprj(p<0)", ELLIPRJ_PRINCIPAL_VALUE_REFERENCE, lumevaro::elliprj);
    EXPECT_LT(worst.relative_error, 1e-14);
}

// Near a zero of the principal value the terms of the relation cancel, and
// the relative error grows with the cancellation factor (unbounded at the
// zero): what stays small is the error relative to the terms, i.e. the
// relative error divided by the factor.
TEST(EllipticAccuracy, CarlsonThirdKindPrincipalValueNearZero) {
    static_assert(std::size(ELLIPRJ_PRINCIPAL_VALUE_CANCELLING_REFERENCE) ==
                  std::size(ELLIPRJ_PRINCIPAL_VALUE_CANCELLATION));
    const auto worst = measure<4>("elliprj(p<0)/cancellation",
                                  std::span(ELLIPRJ_PRINCIPAL_VALUE_CANCELLING_REFERENCE), lumevaro::elliprj,
                                  [](std::size_t i) { return ELLIPRJ_PRINCIPAL_VALUE_CANCELLATION[i]; });
    EXPECT_LT(worst.relative_error, 1e-15);
}

// With the two smaller of x, y, z equal, the RJ(x, x, z, p') inside the
// relation may take the RC-difference closed form (p'/x beyond 1.2), and its
// loss multiplies the relation's own cancellation. Measured, relative error
// over cancellation factor: up to about 4e-15 over 1500 random sets, where
// the plain relative error reached 1.7e-13 (cancellation factor 63) and
// 1e-14 with a factor below 10; the bound follows the RC difference's.
TEST(EllipticAccuracy, CarlsonThirdKindPrincipalValueEqualPair) {
    static_assert(std::size(ELLIPRJ_PRINCIPAL_VALUE_EQUAL_PAIR_REFERENCE) ==
                  std::size(ELLIPRJ_PRINCIPAL_VALUE_EQUAL_PAIR_CANCELLATION));
    const auto worst = measure<4>("elliprj(p<0,x=y)/cancellation",
                                  std::span(ELLIPRJ_PRINCIPAL_VALUE_EQUAL_PAIR_REFERENCE), lumevaro::elliprj,
                                  [](std::size_t i) { return ELLIPRJ_PRINCIPAL_VALUE_EQUAL_PAIR_CANCELLATION[i]; });
    EXPECT_LT(worst.relative_error, 1e-13);
}

}  // namespace
