// Piecewise-linear interpolation: interval selection, the three outside rules,
// degenerate and inconsistent tables.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

#include "numeric/interp.hpp"

namespace {

using lumevaro::interp;
using lumevaro::OutsideMode;

const std::vector<double> kX{0.0, 1.0, 2.0};
const std::vector<double> kY{0.0, 10.0, 40.0};
const double kNaN = std::numeric_limits<double>::quiet_NaN();

TEST(Interp, InsideUsesTheIntervalEndingAtOrAfterThePoint) {
    const auto zero = OutsideMode::constant(0.0);
    EXPECT_EQ(interp(kX, kY, 1.5, zero), 25.0);
    EXPECT_EQ(interp(kX, kY, 0.5, zero), 5.0);
    EXPECT_EQ(interp(kX, kY, 1.0, zero), 10.0);  // x[0] < 1 <= x[1]: interval 0
    // The end abscissas are inside: the line value, never the outside one.
    EXPECT_EQ(interp(kX, kY, 0.0, OutsideMode::constant(-7.0)), 0.0);
    EXPECT_EQ(interp(kX, kY, 2.0, OutsideMode::constant(-7.0)), 40.0);
}

TEST(Interp, OutsideRules) {
    EXPECT_EQ(interp(kX, kY, -1.0, OutsideMode::constant(0.0)), 0.0);
    EXPECT_EQ(interp(kX, kY, 3.0, OutsideMode::constant(0.0)), 0.0);
    EXPECT_EQ(interp(kX, kY, 3.0, OutsideMode::constant(4.5)), 4.5);
    EXPECT_EQ(interp(kX, kY, -1.0, OutsideMode::end_values()), 0.0);
    EXPECT_EQ(interp(kX, kY, 3.0, OutsideMode::end_values()), 40.0);
    EXPECT_EQ(interp(kX, kY, -1.0, OutsideMode::extend()), -10.0);
    EXPECT_EQ(interp(kX, kY, 3.0, OutsideMode::extend()), 70.0);
}

// At a table abscissa the line m x + c is returned, not the stored ordinate.
TEST(Interp, SlopeInterceptFormDecidesTheLastBits) {
    const std::vector<double> x{0.1, 0.7};
    const std::vector<double> y{0.3, 2.1};
    // m = 3, c = -5.551115123125783e-17: m 0.7 + c falls one ulp below 2.1.
    const double value = interp(x, y, 0.7, OutsideMode::constant(0.0));
    EXPECT_EQ(value, 2.0999999999999996);
    EXPECT_NE(value, 2.1);
}

TEST(Interp, DegenerateTables) {
    const std::vector<double> empty;
    const std::vector<double> one_x{2.0};
    const std::vector<double> one_y{3.5};
    EXPECT_EQ(interp(empty, empty, 1.0, OutsideMode::constant(9.0)), 0.0);
    EXPECT_EQ(interp(kX, empty, 1.0, OutsideMode::constant(9.0)), 0.0);
    for (const double xp : {-5.0, 2.0, 5.0, kNaN}) {
        EXPECT_EQ(interp(one_x, one_y, xp, OutsideMode::constant(9.0)), 3.5) << xp;
        EXPECT_EQ(interp(one_x, one_y, xp, OutsideMode::extend()), 3.5) << xp;
    }
}

TEST(Interp, NaNQueryGivesNaNWhateverTheMode) {
    EXPECT_TRUE(std::isnan(interp(kX, kY, kNaN, OutsideMode::constant(0.0))));
    EXPECT_TRUE(std::isnan(interp(kX, kY, kNaN, OutsideMode::end_values())));
}

TEST(Interp, UnequalLengthsUseTheCommonPrefix) {
    const std::vector<double> long_x{0.0, 1.0, 2.0, 3.0, 4.0};
    const std::vector<double> long_y{0.0, 10.0, 40.0, -100.0};
    for (const double xp : {-1.0, 0.5, 1.5, 2.0, 2.5, 3.5, 10.0}) {
        for (const OutsideMode mode :
             {OutsideMode::extend(), OutsideMode::end_values(), OutsideMode::constant(0.0)}) {
            EXPECT_EQ(interp(long_x, kY, xp, mode), interp(kX, kY, xp, mode)) << xp;
            EXPECT_EQ(interp(kX, long_y, xp, mode), interp(kX, kY, xp, mode)) << xp;
        }
    }
}

TEST(Interp, RepeatedAbscissas) {
    const std::vector<double> x{1.0, 1.0, 2.0};
    const std::vector<double> y{0.0, 5.0, 6.0};
    // The zero-width interval is selected at x[0] and gives NaN there.
    EXPECT_TRUE(std::isnan(interp(x, y, 1.0, OutsideMode::constant(0.0))));
    EXPECT_EQ(interp(x, y, 1.5, OutsideMode::constant(0.0)), 5.5);
    // Outside with a constant, it never reaches the caller.
    EXPECT_EQ(interp(x, y, 0.5, OutsideMode::constant(0.0)), 0.0);
}

TEST(Interp, UnsortedAbscissasUseTheLeadingRunBelowThePoint) {
    const std::vector<double> x{0.0, 3.0, 1.0, 4.0};
    const std::vector<double> y{0.0, 3.0, 5.0, 8.0};
    // Only x[0] < 2: interval 0, the line through (0, 0) and (3, 3).
    EXPECT_EQ(interp(x, y, 2.0, OutsideMode::constant(-1.0)), 2.0);
    // 3.5 passes x[0..2]: interval 2, through (1, 5) and (4, 8).
    EXPECT_EQ(interp(x, y, 3.5, OutsideMode::constant(-1.0)), 7.5);
}

}  // namespace
