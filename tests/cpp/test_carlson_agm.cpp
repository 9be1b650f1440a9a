// The AGM iterations of RF (one zero argument) and RD (x = 0) over the whole
// exponent range. Their loops have no step limit: they end by the relative
// test |a − b| < 2.7ε·|a|, which must hold for every finite argument pair.
//
// Scaling the arguments by 4^k scales every iterate by exactly 2^k (square
// roots, products, sums and halvings of doubles commute with powers of two
// while nothing underflows or overflows), so the step count and the bits of
// the result follow the scaling law exactly: RF(λx, λy, 0) = RF(x, y, 0)/√λ
// and RD(0, λy, λz) = RD(0, y, z)/λ^(3/2).
//
// Below about 1e-308 the product b·a of the iteration is subnormal and keeps
// only a few significant bits; the geometric mean then stalls on a rounded
// value and the arithmetic mean closes the gap by halves, so the loop needs
// about 50 steps instead of 5 (exhaustively for both arguments below 3000
// subnormal units, and for 3·10⁷ random pairs below 2⁻¹⁰⁰⁰, 50 steps was the
// most, at RF(2⁻¹⁰⁷⁴, 2⁻¹⁰⁷³, 0)). It ends all the same, with a value that has
// lost most of its precision.
#include <gtest/gtest.h>

#include <cmath>
#include <utility>

#include "elliptic/carlson.hpp"

using namespace lumevaro;

namespace {

constexpr std::pair<double, double> PAIRS[] = {{1.0, 2.0}, {1.0, 3.0}, {0.3, 7.0}, {1.0, 1e6}};

}  // namespace

TEST(CarlsonAgm, ScalesExactlyAcrossTheExponentRange) {
    for (const auto& [x, y] : PAIRS) {
        const double rf = elliprf(x, y, 0.0).value();
        const double rd = elliprd(0.0, x, y).value();
        for (int k = -250; k <= 250; k += 10) {
            const double lambda = std::ldexp(1.0, 2 * k);
            // every position of the zero argument reaches the same AGM
            EXPECT_EQ(elliprf(lambda * x, lambda * y, 0.0).value(), std::ldexp(rf, -k))
                << "RF(" << x << ", " << y << ", 0) scaled by 4^" << k;
            EXPECT_EQ(elliprf(0.0, lambda * x, lambda * y).value(), std::ldexp(rf, -k));
            EXPECT_EQ(elliprf(lambda * y, 0.0, lambda * x).value(), std::ldexp(rf, -k));
            if (std::abs(k) <= 100) {  // (y − z)·z stays a normal double
                EXPECT_EQ(elliprd(0.0, lambda * x, lambda * y).value(), std::ldexp(rd, -3 * k))
                    << "RD(0, " << x << ", " << y << ") scaled by 4^" << k;
            }
        }
    }
}

TEST(CarlsonAgm, EndsWhenSubnormalProductsSlowItDown) {
    const double unit = std::ldexp(1.0, -1074);  // the least subnormal
    constexpr std::pair<double, double> MULTIPLES[] = {{1, 2}, {1, 3}, {5, 7}, {1, 1e6}, {2, 3}};
    for (const auto& [x, y] : MULTIPLES) {
        const Real rf = elliprf(unit * x, unit * y, 0.0);
        ASSERT_TRUE(rf) << rf.message();
        // 2^537·RF(x, y, 0), to the precision the subnormal products leave
        EXPECT_NEAR(std::ldexp(rf.value(), -537) / elliprf(x, y, 0.0).value(), 1.0, 0.25)
            << "RF(" << x << "·2^-1074, " << y << "·2^-1074, 0)";
        // RD's true value, about 2^1611, overflows; its closing formula meets
        // 0·∞ on the way, and what matters here is that the loop ended.
        EXPECT_TRUE(elliprd(0.0, unit * x, unit * y));
    }
    // The widest pair, √max and √unit, ends in 13 steps (RD's correction sum
    // overflows there, so only the end is checked).
    EXPECT_GT(elliprf(1.7976931348623157e308, unit, 0.0).value(), 0.0);
    EXPECT_TRUE(elliprd(0.0, 1.7976931348623157e308, unit));
}
