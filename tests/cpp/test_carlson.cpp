// Carlson's symmetric integrals: published values (Carlson 1995, table of
// test values), closed forms of coinciding arguments, identities between the
// routines, and every failure with its precedence.
#include <gtest/gtest.h>

#include <cmath>
#include <math.h>
#include <cstdint>
#include <cstring>
#include <limits>
#include <string_view>

#include "checks.hpp"
#include "elliptic/carlson.hpp"
#include "elliptic/carlson/duplication.hpp"
#include "numeric/min_max.hpp"

using namespace lumevaro;
using checks::expect_rel;
using checks::fails_with;
using checks::value_of;

namespace {

using checks::Inf;
using checks::NaN;
constexpr double PI = 3.141592653589793;

constexpr std::string_view RF_DOMAIN =
    "elliprf: x, y, and z must be non-negative, and at most one can be zero.";
constexpr std::string_view RF_NO_CONVERGENCE = "elliprf: Failed to converge.";
constexpr std::string_view RD_XY = "elliprd: x and y must be non-negative, and at most one can be zero.";
constexpr std::string_view RD_Z = "elliprd: z must be positive";
constexpr std::string_view RD_NO_CONVERGENCE = "elliprd: Failed to converge.";
constexpr std::string_view RJ_DOMAIN =
    "elliprj: x, y, and z must be non-negative, and at most one can be zero.";
constexpr std::string_view RJ_ZERO_P = "elliprj: p must be non-zero";
constexpr std::string_view RJ_NO_CONVERGENCE = "elliprj: Fail to converge";

}  // namespace

TEST(Elliprc, PublishedValues) {
    expect_rel(value_of(elliprc(0.0, 0.25)), PI, 1e-15);
    expect_rel(value_of(elliprc(2.25, 2.0)), std::log(2.0), 1e-15);
    expect_rel(value_of(elliprc(0.25, -2.0)), std::log(2.0) / 3.0, 1e-15);
}

TEST(Elliprc, ClosedFormsAndPrincipalValue) {
    EXPECT_EQ(value_of(elliprc(4.0, 4.0)), 0.5);
    EXPECT_EQ(value_of(elliprc(0.0, -3.0)), 0.0);
    // The arctangent (y > x) and the two logarithmic branches meet RF(x, y, y).
    // (mpmath.elliprc at 30 digits)
    expect_rel(value_of(elliprc(1.0, 3.0)), 0.67551085885603996, 2e-16);
    expect_rel(value_of(elliprc(1.0, 0.75)), 1.0986122886681097, 4e-16);
    expect_rel(value_of(elliprc(1.0, 0.01)), 3.0083021498548186, 2e-16);
}

TEST(Elliprc, Failures) {
    EXPECT_TRUE(fails_with(elliprc(1.0, 0.0), "elliprc: y must be non-zero."));
    EXPECT_TRUE(fails_with(elliprc(-1.0, 0.0), "elliprc: x must be non-negative."));
    EXPECT_TRUE(std::isnan(value_of(elliprc(NaN, 1.0))));
    EXPECT_TRUE(std::isnan(value_of(elliprc(1.0, NaN))));
}

TEST(Elliprf, PublishedValues) {
    expect_rel(value_of(elliprf(1.0, 2.0, 0.0)), 1.3110287771461, 1e-13);
    expect_rel(value_of(elliprf(2.0, 3.0, 4.0)), 0.58408284167715, 1e-13);
    expect_rel(value_of(elliprf(0.5, 1.0, 0.0)), 1.8540746773013719, 1e-15);
}

TEST(Elliprf, CoincidingArguments) {
    EXPECT_EQ(value_of(elliprf(4.0, 4.0, 4.0)), 0.5);
    EXPECT_EQ(value_of(elliprf(1.0, 1.0, 0.0)), PI / 2.0);
    EXPECT_EQ(value_of(elliprf(0.0, 1.0, 1.0)), PI / 2.0);
    EXPECT_EQ(value_of(elliprf(2.0, 2.0, 5.0)), value_of(elliprc(5.0, 2.0)));
    EXPECT_EQ(value_of(elliprf(2.0, 5.0, 2.0)), value_of(elliprc(5.0, 2.0)));
    EXPECT_EQ(value_of(elliprf(5.0, 2.0, 2.0)), value_of(elliprc(5.0, 2.0)));
}

TEST(Elliprf, SymmetricInItsArguments) {
    const double v = value_of(elliprf(1e-3, 1.0, 1e3));
    expect_rel(value_of(elliprf(1e3, 1e-3, 1.0)), v, 4e-16);
    expect_rel(value_of(elliprf(1.0, 1e3, 1e-3)), v, 4e-16);
    const double w = value_of(elliprf(0.0, 2.0, 7.0));
    EXPECT_EQ(value_of(elliprf(2.0, 0.0, 7.0)), value_of(elliprf(2.0, 7.0, 0.0)));
    expect_rel(value_of(elliprf(7.0, 2.0, 0.0)), w, 4e-16);
}

TEST(Elliprf, Failures) {
    EXPECT_TRUE(fails_with(elliprf(0.0, 0.0, 1.0), RF_DOMAIN));
    EXPECT_TRUE(fails_with(elliprf(0.0, 0.0, 0.0), RF_DOMAIN));
    EXPECT_TRUE(fails_with(elliprf(0.0, 1.0, 0.0), RF_DOMAIN));
    EXPECT_TRUE(fails_with(elliprf(-1.0, 1.0, 1.0), RF_DOMAIN));
    EXPECT_TRUE(fails_with(elliprf(1.0, 2.0, Inf), RF_NO_CONVERGENCE));
    EXPECT_TRUE(fails_with(elliprf(NaN, 1.0, 2.0), RF_NO_CONVERGENCE));
    EXPECT_EQ(value_of(elliprf(0.0, 1.0, Inf)), 0.0);
}

TEST(Elliprf, StepCap) {
    // Eleven duplication steps cover a spread of 1e400 but not 1e600.
    EXPECT_TRUE(fails_with(elliprf(1e-300, 1.0, 1e300), RF_NO_CONVERGENCE));
    EXPECT_TRUE(elliprf(1e-200, 1.0, 1e200));
    // Nearly equal arguments converge too (mpmath.elliprf at 30 digits).
    expect_rel(value_of(elliprf(1.0, 1.0 + 1e-7, 1.0 + 2e-7)), 0.99999995000000475, 2e-16);
}

TEST(Elliprd, PublishedValues) {
    expect_rel(value_of(elliprd(0.0, 2.0, 1.0)), 1.7972103521034, 1e-13);
    expect_rel(value_of(elliprd(2.0, 3.0, 4.0)), 0.16510527294261, 1e-13);
}

TEST(Elliprd, ClosedForms) {
    EXPECT_EQ(value_of(elliprd(2.0, 2.0, 2.0)), 1.0 / (std::sqrt(2.0) * 2.0));
    expect_rel(value_of(elliprd(0.0, 3.0, 3.0)), 3.0 * PI / (4.0 * std::pow(3.0, 1.5)), 2e-16);
    // x = z exchanges x and y: RD is symmetric in its first two arguments.
    EXPECT_EQ(value_of(elliprd(3.0, 5.0, 3.0)), value_of(elliprd(5.0, 3.0, 3.0)));
}

TEST(Elliprd, Failures) {
    EXPECT_TRUE(fails_with(elliprd(1.0, 1.0, 0.0), RD_Z));
    EXPECT_TRUE(fails_with(elliprd(1.0, 1.0, -1.0), RD_Z));
    EXPECT_TRUE(fails_with(elliprd(0.0, 0.0, 1.0), RD_XY));
    EXPECT_TRUE(fails_with(elliprd(-1.0, 1.0, 0.0), RD_XY));
    EXPECT_TRUE(fails_with(elliprd(1.0, 2.0, NaN), RD_NO_CONVERGENCE));
    EXPECT_TRUE(fails_with(elliprd(1.0, 2.0, Inf), RD_NO_CONVERGENCE));
}

TEST(Elliprj, PublishedValues) {
    expect_rel(value_of(elliprj(0.0, 1.0, 2.0, 3.0)), 0.77688623778582, 1e-13);
    expect_rel(value_of(elliprj(2.0, 3.0, 4.0, 5.0)), 0.14297579667157, 1e-13);
    expect_rel(value_of(elliprj(2.0, 3.0, 4.0, -0.5)), 0.24723819703052, 1e-13);
    expect_rel(value_of(elliprj(2.0, 3.0, 4.0, -5.0)), -0.12711230042964, 1e-13);
}

TEST(Elliprj, ClosedFormsAndIdentities) {
    EXPECT_EQ(value_of(elliprj(2.0, 2.0, 2.0, 2.0)), value_of(elliprd(2.0, 2.0, 2.0)));
    EXPECT_EQ(value_of(elliprj(1.0, 2.0, 3.0, 3.0)), value_of(elliprd(1.0, 2.0, 3.0)));
    EXPECT_EQ(value_of(elliprj(1.0, 3.0, 3.0, 3.0)), value_of(elliprd(1.0, 3.0, 3.0)));
    // RJ(x, x, x, p) = 3 (RC(x, p) − 1/√x) / (x − p)
    expect_rel(value_of(elliprj(2.0, 2.0, 2.0, 5.0)),
               3.0 / (2.0 - 5.0) * (value_of(elliprc(2.0, 5.0)) - 1.0 / std::sqrt(2.0)), 1e-16);
    // Close to x the closed form would cancel; the duplication takes over
    // there and continues it (mpmath.elliprj at 30 digits).
    expect_rel(value_of(elliprj(1.0, 1.0, 1.0, 1.0 - std::ldexp(1.0, -53))), 1.0000000000000001, 2e-16);
    expect_rel(value_of(elliprj(2.0, 2.0, 2.0, 2.0 * (1.0 + 1e-10))), 0.35355339057206056, 4e-16);
    expect_rel(value_of(elliprj(2.0, 2.0, 2.0, 2.4)), 0.31637710714069905, 4e-16);
    expect_rel(value_of(elliprj(2.0, 2.0, 2.0, 1.7)), 0.38923614690436253, 1e-15);
    EXPECT_TRUE(std::isnan(value_of(elliprj(2.0, 2.0, 2.0, NaN))));  // NaN p: the closed form
    // Permuting x, y, z changes nothing but rounding.
    const double v = value_of(elliprj(0.5, 2.0, 7.0, 1.5));
    expect_rel(value_of(elliprj(7.0, 0.5, 2.0, 1.5)), v, 1e-15);
    expect_rel(value_of(elliprj(2.0, 7.0, 0.5, 1.5)), v, 1e-15);
}

TEST(Elliprj, TwoRcFormMeetsTheDuplicationAtTheRatioThreshold) {
    // y = z and max(p, y)/min(p, y) just above 1.2 uses 3(RC(x, y) − RC(x, p))/(p − y),
    // just below it the duplication; both sides must continue each other.
    const double x = 0.3, y = 1.0;
    const auto two_rc = [&](double p) {
        return 3.0 * (value_of(elliprc(x, y)) - value_of(elliprc(x, p))) / (p - y);
    };
    const double above = 1.2 * (1.0 + 1e-12), below = 1.2 * (1.0 - 1e-12);
    EXPECT_EQ(value_of(elliprj(x, y, y, above)), (3.0 / (above - y)) * (value_of(elliprc(x, y)) - value_of(elliprc(x, above))));
    expect_rel(value_of(elliprj(x, y, y, below)), two_rc(below), 1e-14);
    expect_rel(value_of(elliprj(x, y, y, above)), value_of(elliprj(x, y, y, below)), 1e-11);
}

TEST(Elliprj, Failures) {
    EXPECT_TRUE(fails_with(elliprj(1.0, 1.0, 1.0, 0.0), RJ_ZERO_P));
    EXPECT_TRUE(fails_with(elliprj(0.0, 0.0, 1.0, 1.0), RJ_DOMAIN));
    EXPECT_TRUE(fails_with(elliprj(0.0, 0.0, 1.0, 0.0), RJ_DOMAIN));  // arguments before p
    EXPECT_TRUE(fails_with(elliprj(-1.0, 1.0, 1.0, 1.0), RJ_DOMAIN));
    EXPECT_TRUE(fails_with(elliprj(1.0, 2.0, 3.0, NaN), RJ_NO_CONVERGENCE));
    EXPECT_TRUE(fails_with(elliprj(1.0, 2.0, Inf, 3.0), RJ_NO_CONVERGENCE));
    EXPECT_TRUE(fails_with(elliprj(NaN, 2.0, 3.0, 4.0), RJ_NO_CONVERGENCE));
}

// RJ gives up before its duplication loop when the stopping scale Q and the
// product δ are both NaN. On every side of that condition the outcome is the
// loop's own, to the bit or to the message: checked over all 4-tuples of
// special and ordinary values, including those where only one of Q, δ is NaN
// (an infinite argument) and negative p, which elliprj never passes on.
TEST(Elliprj, GivingUpBeforeTheLoopChangesNoOutcome) {
    constexpr double TINY = 5e-324;  // the least subnormal
    const double values[] = {NaN, -NaN, Inf, -Inf, 0.0, -0.0, TINY, 1e-300,
                             0.5, 1.0,  2.0, 1e300, -1.0, -2.5};
    int skipped = 0, looped = 0, only_one_nan = 0;
    for (double x : values)
        for (double y : values)
            for (double z : values)
                for (double p : values) {
                    const carlson::RjStart start = carlson::rj_start(x, y, z, p);
                    const Real full = carlson::rj_duplication(x, y, z, p, start);
                    const Real quick = _elliprj(x, y, z, p);
                    const bool gives_up = std::isnan(start.Q) && std::isnan(start.delta);
                    if (gives_up) {
                        ++skipped;
                        EXPECT_TRUE(fails_with(full, RJ_NO_CONVERGENCE)) << x << ' ' << y << ' ' << z << ' ' << p;
                    } else {
                        ++looped;
                        only_one_nan += std::isnan(start.Q) || std::isnan(start.delta);
                    }
                    ASSERT_EQ(bool(full), bool(quick)) << x << ' ' << y << ' ' << z << ' ' << p;
                    if (full) {
                        EXPECT_EQ(std::memcmp(&full.value(), &quick.value(), sizeof(double)), 0)
                            << x << ' ' << y << ' ' << z << ' ' << p;
                    } else {
                        EXPECT_EQ(full.message(), quick.message());
                    }
                }
    EXPECT_GT(skipped, 0);
    EXPECT_GT(looped, 0);
    EXPECT_GT(only_one_nan, 0);
}

// The case that motivated the test: a ring of negative radius (the radial
// derivative's lower point near x = 0) reaches RJ with NaN arguments.
TEST(Elliprj, NaNArgumentsFailAsTheStepCapDoes) {
    EXPECT_TRUE(fails_with(elliprj(0.0, NaN, 1.0, NaN), RJ_NO_CONVERGENCE));
    // One step inside the condition: Q infinite, δ NaN, still the loop's cap.
    EXPECT_TRUE(fails_with(elliprj(Inf, 1.0, 2.0, Inf), RJ_NO_CONVERGENCE));
}

namespace {

double from_bits(std::uint64_t bits) {
    double v;
    std::memcpy(&v, &bits, sizeof v);
    return v;
}

std::uint64_t bits_of(double v) {
    std::uint64_t bits;
    std::memcpy(&bits, &v, sizeof v);
    return bits;
}

}  // namespace

// The rules of the inline minimum and maximum, the same bits on every
// compiler and processor: the cases where the IEEE comparison alone does not
// decide (signed zeros, NaNs quiet and signalling, of either sign).
TEST(MinMax, InlineMinimumAndMaximumFollowTheirRules) {
    constexpr std::uint64_t PLUS_ZERO = 0, MINUS_ZERO = 0x8000000000000000, ONE = 0x3ff0000000000000;
    constexpr std::uint64_t QUIET = 0x7ff8000000000001, MINUS_QUIET = 0xfff8000000000002;
    constexpr std::uint64_t SIGNALLING = 0x7ff0000000000003, SIGNALLING_QUIETED = 0x7ff8000000000003;
    struct Case {
        std::uint64_t x, y, min, max;
    };
    const Case cases[] = {
        {PLUS_ZERO, MINUS_ZERO, MINUS_ZERO, MINUS_ZERO},  // equal: the second
        {MINUS_ZERO, PLUS_ZERO, PLUS_ZERO, PLUS_ZERO},
        {ONE, PLUS_ZERO, PLUS_ZERO, ONE},
        {QUIET, ONE, ONE, ONE},  // one quiet NaN: the other operand
        {ONE, MINUS_QUIET, ONE, ONE},
        {SIGNALLING, ONE, SIGNALLING_QUIETED, SIGNALLING_QUIETED},  // one signalling NaN: it, quieted
        {ONE, SIGNALLING, SIGNALLING_QUIETED, SIGNALLING_QUIETED},
        {QUIET, MINUS_QUIET, QUIET, QUIET},  // both NaN: the first, quieted
        {SIGNALLING, QUIET, SIGNALLING_QUIETED, SIGNALLING_QUIETED},
        {QUIET, SIGNALLING, QUIET, QUIET},
    };
    for (const Case& c : cases) {
        const double x = from_bits(c.x), y = from_bits(c.y);
        EXPECT_EQ(bits_of(nan_ignoring_min(x, y)), c.min) << std::hex << c.x << " " << c.y;
        EXPECT_EQ(bits_of(nan_ignoring_max(x, y)), c.max) << std::hex << c.x << " " << c.y;
    }
}

// Those rules are glibc's fmin and fmax on x86-64, called for real: through a
// pointer, which neither GCC (which would take the call as commutative and
// might swap its operands) nor clang (which expands it inline) can see
// through. Another library or processor has rules of its own.
TEST(MinMax, InlineMinimumAndMaximumHaveTheLibrarysBits) {
#if !(defined(__GLIBC__) && defined(__x86_64__))
    GTEST_SKIP() << "the inline rules are those of glibc's fmin and fmax on x86-64";
#endif
    double (*volatile library_min)(double, double) = ::fmin;
    double (*volatile library_max)(double, double) = ::fmax;
    // Every pair of signed zeros, numbers, infinities and quiet and
    // signalling NaNs of both signs and distinct payloads.
    const double values[] = {0.0, -0.0, 1.0, -1.0, 0.5, 5e-324, -5e-324, Inf, -Inf,
                             from_bits(0x7ff8000000000001), from_bits(0xfff8000000000002),
                             from_bits(0x7ff0000000000003), from_bits(0xfff0000000000004)};
    for (const double x : values) {
        for (const double y : values) {
            EXPECT_EQ(bits_of(library_min(x, y)), bits_of(nan_ignoring_min(x, y))) << std::hexfloat << x << " " << y;
            EXPECT_EQ(bits_of(library_max(x, y)), bits_of(nan_ignoring_max(x, y))) << std::hexfloat << x << " " << y;
        }
    }
}
