// Complete Legendre integrals: published values, closed forms, the two
// reductions for negative parameters, and every failure with its precedence.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string_view>

#include "checks.hpp"
#include "elliptic/carlson.hpp"
#include "elliptic/legendre.hpp"

using namespace lumevaro;
using checks::expect_rel;
using checks::fails_with;
using checks::value_of;

namespace {

using checks::Inf;
using checks::NaN;
constexpr double PI = 3.141592653589793;
constexpr double PI_2 = 1.5707963267948966;

}  // namespace

TEST(Ellipk, ExactValues) {
    EXPECT_EQ(value_of(ellipk(0.0)), PI_2);
    EXPECT_EQ(value_of(ellipk(1.0)), Inf);
    expect_rel(value_of(ellipk(1.0 - std::ldexp(1.0, -52))), 1.3862943611198906 + 26.0 * std::log(2.0), 1e-15);
    EXPECT_TRUE(std::isnan(value_of(ellipk(NaN))));
}

TEST(Ellipk, BitsThroughGlibcsLogarithm) {
    LUMEVARO_ASSUMES_GLIBC_LIBM();
    EXPECT_EQ(value_of(ellipk(0.5)), 1.8540746773013719);
    // Below 1, only 1 − 2^-53 has mc < ε and takes the bare logarithm ln 4 + 26.5 ln 2.
    EXPECT_EQ(value_of(ellipk(1.0 - std::ldexp(1.0, -53))), 19.75469464595844);
}

TEST(Ellipk, NegativeParameterIsReducedIntoTheFittedInterval) {
    // K(−m) = K(m/(1 + m))/√(1 + m); reference values from mpmath.ellipk at 30 digits.
    expect_rel(value_of(ellipk(-3.0)), 1.0782578237498216, 3e-16);
    expect_rel(value_of(ellipk(-1.0)), 1.3110287771460600, 3e-16);
    expect_rel(value_of(ellipk(-1e-10)), 1.5707963267556267, 3e-16);
    // Far out the reduced parameter is within rounding of 1; its complement
    // 1/(1 − m) keeps the precision.
    expect_rel(value_of(ellipk(-1e10)), 0.00012899219825792639, 4e-16);
    expect_rel(value_of(ellipk(-1e300)), 3.4677405831022673e-148, 4e-16);
}

TEST(Ellipe, ExactValues) {
    EXPECT_EQ(value_of(ellipe(0.0)), PI_2);
    EXPECT_EQ(value_of(ellipe(1.0)), 1.0);
    EXPECT_TRUE(std::isnan(value_of(ellipe(NaN))));
    EXPECT_TRUE(std::isnan(value_of(ellipe(-Inf))));  // the reduction loop ends on a NaN parameter
    // From m ≤ −2^53 on, m/(m − 1) rounds to 1 and E = √(1 − m) (mpmath.ellipe).
    expect_rel(value_of(ellipe(-1e16)), 100000000.00000010, 2e-15);
    expect_rel(value_of(ellipe(-1e300)), 1e150, 2e-16);
}

TEST(Ellipe, BitsThroughGlibcsLogarithm) {
    LUMEVARO_ASSUMES_GLIBC_LIBM();
    EXPECT_EQ(value_of(ellipe(0.5)), 1.3506438810476755);
    EXPECT_EQ(value_of(ellipe(-1.0)), 1.9100988945138562);  // √2·E(1/2)
}

TEST(Legendre, ParameterAboveOneFails) {
    EXPECT_TRUE(fails_with(ellipk(1.5), "ellipk: m must be less than 1."));
    EXPECT_TRUE(fails_with(ellipe(1.5), "ellipe: m must be less than 1."));
    EXPECT_TRUE(fails_with(ellipk(Inf), "ellipk: m must be less than 1."));
}

TEST(Ellippi, ExactValues) {
    EXPECT_EQ(value_of(ellippi(0.0, 0.0)), PI_2);
    EXPECT_EQ(value_of(ellippi(0.0, 0.3)), value_of(ellipk(0.3)));
    EXPECT_EQ(value_of(ellippi(0.0, -2.0)), value_of(ellipk(-2.0)));
    // Π(n, 0) = π/(2√(1 − n)) on both sides of n = 0.
    expect_rel(value_of(ellippi(0.75, 0.0)), PI, 2e-16);
    expect_rel(value_of(ellippi(-1.0, 0.0)), PI / (2.0 * std::sqrt(2.0)), 2e-16);
}

TEST(Ellippi, NegativeCharacteristic) {
    // Direct quadrature of the defining integral (mpmath.quad, 30 digits).
    expect_rel(value_of(ellippi(-0.5, 0.5)), 1.4878469926687984, 2e-16);
    // At m = n the transformation would divide by zero; Π(n, n) = E(n)/(1 − n).
    // (mpmath.ellippi at 30 digits)
    expect_rel(value_of(ellippi(-0.5, -0.5)), 1.1678475171298786, 4e-16);
    expect_rel(value_of(ellippi(-3.0, -3.0)), 0.60552801378422976, 4e-16);
    // Near m = n the transformation cancels as ε/|m − n|, but continues into that point.
    expect_rel(value_of(ellippi(-0.5, -0.5 + 1e-4)), value_of(ellippi(-0.5, -0.5)), 1e-4);
}

TEST(Ellippi, AgreesWithCarlsonForm) {
    // Π(n, m) = RF(0, 1 − m, 1) + n/3·RJ(0, 1 − m, 1, 1 − n) for 0 < n < 1.
    const double n = 0.3, m = 0.6;
    const double direct = value_of(elliprf(0.0, 0.4, 1.0)) + value_of(elliprj(0.0, 0.4, 1.0, 0.7)) * n / 3.0;
    expect_rel(value_of(ellippi(n, m)), direct, 2e-16);
}

TEST(Ellippi, Failures) {
    // m is tested first, for every n.
    for (double n : {-2.0, 0.0, 0.5, 1.0, 2.0}) {
        EXPECT_TRUE(fails_with(ellippi(n, 1.0), "ellippi: m must be less than 1.")) << n;
    }
    EXPECT_TRUE(fails_with(ellippi(2.0, 0.5), "ellippi: n must be less than 1."));
    EXPECT_TRUE(fails_with(ellippi(1.0, 0.5), "elliprj: p must be non-zero"));
    EXPECT_TRUE(fails_with(ellippi(0.5, NaN), "elliprj: Fail to converge"));
    EXPECT_TRUE(fails_with(ellippi(NaN, 0.5), "elliprj: Fail to converge"));
}
