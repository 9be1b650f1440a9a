// Central-difference derivative: its step rule and exact results.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

#include "numeric/sderivative.hpp"

namespace {

using lumevaro::CBRT_EPS;
using lumevaro::sderivative;

TEST(Sderivative, DefaultStepIsTheCorrectlyRoundedCubeRootOfEpsilon) {
    EXPECT_EQ(CBRT_EPS, std::cbrt(std::numeric_limits<double>::epsilon()));
    EXPECT_EQ(CBRT_EPS, 6.0554544523933395e-06);
}

// Records where f is evaluated, in order.
struct Recorder {
    std::vector<double>* points;
    double (*f)(double);
    double operator()(double x) const {
        points->push_back(x);
        return f(x);
    }
};

TEST(Sderivative, StepGrowsWithTheMagnitudeOfThePoint) {
    const auto identity = [](double r) { return r; };
    const auto square = [](double r) { return r * r; };
    std::vector<double> points;

    EXPECT_EQ(sderivative(Recorder{&points, identity}, 0.0), 1.0);
    ASSERT_EQ(points.size(), 2u);
    EXPECT_EQ(points[0], 6.0554544523933395e-06);  // x + h first
    EXPECT_EQ(points[1], -6.0554544523933395e-06);

    points.clear();
    EXPECT_EQ(sderivative(Recorder{&points, square}, 1.0), 1.9999999999966884);
    ASSERT_EQ(points.size(), 2u);
    EXPECT_EQ(points[0], 1.2110908904786679e-05 + 1.0);
    EXPECT_EQ(points[1], 1.0 - 1.2110908904786679e-05);

    points.clear();
    EXPECT_EQ(sderivative(Recorder{&points, identity}, -3.0), 1.0000000000052196);
    EXPECT_EQ(sderivative(identity, 3.0), 1.0000000000052196);
    EXPECT_EQ(points[0], 2.4221817809573358e-05 + -3.0);

    EXPECT_EQ(sderivative(square, 0.0), 0.0);
}

TEST(Sderivative, GivenRelativeStep) {
    const auto cube = [](double r) { return r * r * r; };
    // h = (1 + 1) 0.25 = 0.5: ((1.5)^3 - (0.5)^3) / 1 = 3.25.
    EXPECT_EQ(sderivative(cube, 1.0, 0.25), 3.25);
}

TEST(Sderivative, NonFiniteValueOnEitherSideGivesNaN) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    EXPECT_TRUE(std::isnan(sderivative([nan](double r) { return r > 0.0 ? nan : r; }, 0.0)));
    EXPECT_TRUE(std::isnan(sderivative([nan](double r) { return r < 0.0 ? nan : r; }, 0.0)));
}

}  // namespace
