// Tanh-sinh quadrature: the node table against its formulas, and the engine's
// results, stopping rule and evaluation points on known integrands.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <limits>
#include <string>

#include "numeric/integrate.hpp"

namespace {

using lumevaro::integrate;
using lumevaro::QuadratureResult;
using lumevaro::TANH_SINH_NODES;

// Distance in units in the last place between two finite doubles of one sign.
std::int64_t ulps_between(double a, double b) {
    std::int64_t ia = 0;
    std::int64_t ib = 0;
    std::memcpy(&ia, &a, sizeof a);
    std::memcpy(&ib, &b, sizeof b);
    return ia > ib ? ia - ib : ib - ia;
}

std::string with_significant_digits(double value, int digits) {
    char text[64];
    std::snprintf(text, sizeof text, "%.*e", digits - 1, value);
    return text;
}

// ---------------------------------------------------------------------------
// Node table

TEST(TanhSinhNodes, LevelSizesDoubleFromLevelOne) {
    const std::size_t expected[] = {3, 3, 6, 12, 24, 48, 96};
    ASSERT_EQ(TANH_SINH_NODES.size(), 7u);
    for (std::size_t level = 0; level < 7; ++level) {
        EXPECT_EQ(TANH_SINH_NODES[level].size(), expected[level]) << "level " << level;
    }
}

TEST(TanhSinhNodes, TellingRowsAreExact) {
    const auto& level0 = TANH_SINH_NODES[0];
    EXPECT_EQ(level0[0].weight, 0.23002239451478868);
    EXPECT_EQ(level0[0].abscissa, 0.9513679640727469);
    EXPECT_EQ(level0[1].weight, 0.00026620051375271693);
    EXPECT_EQ(level0[1].abscissa, 0.9999774771924616);
    EXPECT_EQ(level0[2].weight, 1.3581784274539091e-12);
    EXPECT_EQ(level0[2].abscissa, 0.999999999999957);

    const auto& level6 = TANH_SINH_NODES[6];
    EXPECT_EQ(level6.front().weight, 0.024531906707493643);
    EXPECT_EQ(level6.front().abscissa, 0.02453976357464916);
    EXPECT_EQ(level6.back().weight, 3.411862828005251e-14);
    EXPECT_EQ(level6.back().abscissa, 0.9999999999999298);
}

// Every entry against x = tanh((pi/2) sinh t), w = h (pi/2) cosh t / cosh^2((pi/2) sinh t)
// in extended precision: the stored double is the nearest one, so it may differ
// from the rounded extended value by at most one ulp.
TEST(TanhSinhNodes, EveryEntryMatchesItsFormulaWithinOneUlp) {
    if (std::numeric_limits<long double>::digits <= std::numeric_limits<double>::digits) {
        GTEST_SKIP() << "long double is double here (MSVC, Apple): no extended precision to check against";
    }
    const long double half_pi = 1.570796326794896619231321691639751442L;
    for (std::size_t level = 0; level < TANH_SINH_NODES.size(); ++level) {
        const long double h = std::ldexp(1.0L, -static_cast<int>(level));
        const auto& pairs = TANH_SINH_NODES[level];
        for (std::size_t j = 0; j < pairs.size(); ++j) {
            const long double t = level == 0 ? static_cast<long double>(j + 1)
                                             : static_cast<long double>(2 * j + 1) * h;
            const long double u = half_pi * std::sinh(t);
            const long double abscissa = std::tanh(u);
            const long double weight = h * half_pi * std::cosh(t) / (std::cosh(u) * std::cosh(u));
            EXPECT_LE(ulps_between(pairs[j].abscissa, static_cast<double>(abscissa)), 1)
                << "abscissa, level " << level << " pair " << j;
            EXPECT_LE(ulps_between(pairs[j].weight, static_cast<double>(weight)), 1)
                << "weight, level " << level << " pair " << j;
        }
    }
}

// ---------------------------------------------------------------------------
// Engine on [0, 1]

TEST(Integrate, ConstantAtTheCallersToleranceUsesEveryLevel) {
    const QuadratureResult result = integrate([](double) { return 1.0; }, 0.0, 1.0, 1e-16);
    // The truncation of the table at t = 3 leaves the sum 3.3e-14 short of 1.
    EXPECT_EQ(result.integral, 0.9999999999999669);
    EXPECT_EQ(with_significant_digits(result.error_estimate, 14), "8.1601392309949e-15");
    EXPECT_EQ(result.evaluations, 385u);
}

TEST(Integrate, StopsAtTheFirstLevelThatMeetsTheTolerance) {
    const QuadratureResult constant = integrate([](double) { return 1.0; }, 0.0, 1.0, 1e-3);
    EXPECT_EQ(constant.integral, 1.0000000000000366);
    EXPECT_EQ(constant.evaluations, 25u);  // after level 2

    const QuadratureResult square = integrate([](double x) { return x * x; }, 0.0, 1.0, 1e-6);
    EXPECT_EQ(square.integral, 0.3333333333333319);
    EXPECT_EQ(square.evaluations, 49u);  // after level 3
}

// The limb-darkened disc: 2 pi r S(r) with S(r) = 1 + (1 - sqrt(1 - r^2)) (-0.6);
// exactly 2 pi (1 - 0.6/3) = 0.8 (2 pi) in exact arithmetic.
TEST(Integrate, LimbDarkenedDiscFlux) {
    const auto profile = [](double r) { return 1.0 + (1.0 - std::sqrt(1.0 - r * r)) * -0.6; };
    const auto integrand = [&profile](double x) { return (x * 6.283185307179586) * profile(x); };
    const QuadratureResult result = integrate(integrand, 0.0, 1.0, 1e-16);
    EXPECT_EQ(result.integral, 2.5132741228717936);
    EXPECT_EQ(result.evaluations, 385u);
}

TEST(Integrate, MapsAGeneralInterval) {
    const QuadratureResult result =
        integrate([](double x) { return std::exp(x); }, -1.0, 2.0, 1e-12);
    const double exact = std::exp(2.0) - std::exp(-1.0);
    EXPECT_NEAR(result.integral, exact, 1e-13 * exact);
    EXPECT_LT(result.evaluations, 385u);
}

TEST(Integrate, EvaluatesStrictlyInsideTheIntervalFromTheCentreOutwards) {
    std::uint32_t calls = 0;
    double first = -1.0;
    double second = -1.0;
    double third = -1.0;
    double lowest = std::numeric_limits<double>::infinity();
    double highest = -std::numeric_limits<double>::infinity();
    const auto recorder = [&](double x) {
        ++calls;
        if (calls == 1) first = x;
        if (calls == 2) second = x;
        if (calls == 3) third = x;
        lowest = std::fmin(lowest, x);
        highest = std::fmax(highest, x);
        return 1.0;
    };
    const QuadratureResult result = integrate(recorder, 0.0, 1.0, 1e-16);
    EXPECT_EQ(calls, result.evaluations);
    EXPECT_EQ(first, 0.5);
    EXPECT_GT(second, 0.5);  // +x before -x
    EXPECT_LT(third, 0.5);
    EXPECT_EQ(lowest, 2.148281552649678e-14);
    EXPECT_EQ(highest, 0.9999999999999785);
}

// ---------------------------------------------------------------------------
// Non-finite values and degenerate intervals

TEST(Integrate, NonFiniteValuesCountAsZero) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    for (const double value : {nan, inf, -inf}) {
        const QuadratureResult result = integrate([value](double) { return value; }, 0.0, 1.0, 1e-16);
        EXPECT_EQ(result.integral, 0.0) << value;
        EXPECT_EQ(result.error_estimate, 0.0) << value;
        EXPECT_EQ(result.evaluations, 25u) << value;  // D = 0 at level 2
    }
}

TEST(Integrate, EmptyIntervalGivesZero) {
    double evaluated_at = 0.0;
    bool elsewhere = false;
    const auto recorder = [&](double x) {
        if (x != 0.25) elsewhere = true;
        evaluated_at = x;
        return 7.0;
    };
    const QuadratureResult result = integrate(recorder, 0.25, 0.25, 1e-16);
    EXPECT_EQ(result.integral, 0.0);
    EXPECT_EQ(result.error_estimate, 0.0);
    EXPECT_EQ(result.evaluations, 25u);
    EXPECT_FALSE(elsewhere);
    EXPECT_EQ(evaluated_at, 0.25);
}

TEST(Integrate, OverflowingSumsRunToTheEndAndComeBackNonFinite) {
    const QuadratureResult result = integrate([](double) { return 1e308; }, 0.0, 1.0, 1e-16);
    EXPECT_FALSE(std::isfinite(result.integral));
    EXPECT_EQ(result.evaluations, 385u);
}

}  // namespace
