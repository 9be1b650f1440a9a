// Arrays of any shape (names of elements, broadcasting) and the light curves
// built on them: the value is the magnification at u/ρ to the bit, the
// Jacobian the gradient through the chain rule, and where a ratio of the
// chain rule is 0 its term is 0 even on the limb, where the slope is infinite.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

#include "checks.hpp"
#include "models/array.hpp"
#include "models/light_curve.hpp"
#include "models/limb_darkening.hpp"

using namespace lumevaro;
using namespace checks;

namespace {

constexpr double INF = std::numeric_limits<double>::infinity();

Array scalar(double value) { return Array(Shape{}, {value}); }

LightCurveJacobian jacobian(const std::vector<double>& t, double t0, double u0, double tE, double rho,
                            const char* law, std::vector<double> coefficients, TableRadii radii = {}) {
    Checked<LightCurveJacobian> result = light_curve_jacobian(t, scalar(t0), scalar(u0), scalar(tE), scalar(rho),
                                                              law, std::move(coefficients), {}, std::move(radii));
    EXPECT_TRUE(result) << result.message();
    return result ? std::move(result).value() : LightCurveJacobian{};
}

}  // namespace

TEST(Array, NamesAnElementByItsIndexInTheShape) {
    EXPECT_EQ(element_name("l", Shape{2, 3}, 5), "l[1, 2]");
    EXPECT_EQ(element_name("l", Shape{4}, 3), "l[3]");
    EXPECT_EQ(element_name("l", Shape{}, 0), "l");
    EXPECT_EQ(element_name("t", Shape{2, 3, 4}, 23), "t[1, 2, 3]");
    EXPECT_EQ(shape_text(Shape{3, 4}), "(3, 4)");
    EXPECT_EQ(shape_text(Shape{5}), "(5,)");
    EXPECT_EQ(shape_text(Shape{}), "()");
}

TEST(Array, BroadcastsAsNumpyDoes) {
    const std::vector<Shape> shapes{{2, 1}, {3}, {}};
    EXPECT_EQ(broadcast_shapes(shapes), (Shape{2, 3}));
    EXPECT_FALSE(broadcast_shapes(std::vector<Shape>{{2}, {3}}));
    EXPECT_EQ(broadcast_shapes(std::vector<Shape>{{0}, {1}}), (Shape{0}));
    // Walking (2, 3): the first operand moves down the rows, the second along
    // them, the third not at all.
    BroadcastWalk walk(Shape{2, 3}, shapes);
    std::vector<std::size_t> rows, columns, fixed;
    for (int p = 0; p < 6; ++p, walk.next()) {
        rows.push_back(walk.at(0));
        columns.push_back(walk.at(1));
        fixed.push_back(walk.at(2));
    }
    EXPECT_EQ(rows, (std::vector<std::size_t>{0, 0, 0, 1, 1, 1}));
    EXPECT_EQ(columns, (std::vector<std::size_t>{0, 1, 2, 0, 1, 2}));
    EXPECT_EQ(fixed, (std::vector<std::size_t>(6, 0)));
}

TEST(LightCurve, IsTheMagnificationAtUOverRhoWithTheChainRulesDerivatives) {
    const std::vector<double> t{-2.0, -0.3, 0.0, 0.01, 0.2, 5.0};
    const double t0 = 0.1, u0 = -0.04, tE = 1.5, rho = 0.06;
    std::vector<double> l, tau, u;
    for (const double ti : t) {
        tau.push_back((ti - t0) / tE);
        u.push_back(std::sqrt(u0 * u0 + tau.back() * tau.back()));
        l.push_back(u.back() / rho);
    }
    const Checked<MagnificationGradient> gradient =
        limb_darkened_magnification_gradient(l, 1.0, rho, "quadratic", {0.4, 0.25});
    ASSERT_TRUE(gradient);
    const MagnificationGradient& g = gradient.value();
    const LightCurveJacobian j = jacobian(t, t0, u0, tE, rho, "quadratic", {0.4, 0.25});
    EXPECT_EQ(j.a, g.a);
    ASSERT_EQ(j.jacobian.shape(), (Shape{t.size(), 6}));
    for (std::size_t i = 0; i < t.size(); ++i) {
        const double* row = j.jacobian.data() + i * 6;
        expect_rel(row[0], -g.d_u[i] * (tau[i] / u[i]) / tE, 1e-15);
        expect_rel(row[1], g.d_u[i] * (u0 / u[i]), 1e-15);
        expect_rel(row[2], -g.d_u[i] * (tau[i] / u[i]) * tau[i] / tE, 1e-15);
        EXPECT_EQ(row[3], g.d_rho[i]);
        EXPECT_EQ(row[4], g.d_coefficients.slice(0)[i]);
        EXPECT_EQ(row[5], g.d_coefficients.slice(1)[i]);
    }
}

TEST(LightCurve, ZeroRatiosGiveZeroTermsAtTheLensAndOnTheLimb) {
    // At the lens (u = 0) and, at closest approach, on the limb (u = u0 = ρ):
    // t0 and tE move u only to second order.
    for (const double u0 : {0.0, 0.05}) {
        const LightCurveJacobian j = jacobian({0.0}, 0.0, u0, 1.0, 0.05, "linear", {0.6});
        EXPECT_EQ(j.jacobian[0], 0.0);
        EXPECT_EQ(j.jacobian[2], 0.0);
        if (u0 == 0.0) {
            EXPECT_EQ(j.jacobian[1], 0.0);
            EXPECT_TRUE(std::isfinite(j.jacobian[3]));
        } else {
            EXPECT_EQ(j.jacobian[1], -INF);
            EXPECT_EQ(j.jacobian[3], INF);
        }
    }
    // Crossing the limb with u0 = 0: dA/du0 is 0 by symmetry.
    const LightCurveJacobian j = jacobian({0.05}, 0.0, 0.0, 1.0, 0.05, "linear", {0.6});
    EXPECT_EQ(j.jacobian[1], 0.0);
    EXPECT_EQ(j.jacobian[0], INF);
    EXPECT_EQ(j.jacobian[2], INF);
}

TEST(LightCurve, BandsAndTablesAreEachTheirOwnCurve) {
    const std::vector<double> t{-1.0, 0.0, 0.02, 0.5};
    const std::vector<double> radii{0.0, 0.4, 1.0};
    const LightCurveJacobian one = jacobian(t, 0.0, 0.01, 1.0, 0.03, "table", {1.0, 0.9, 0.5}, {radii});
    Checked<LightCurveJacobian> two =
        light_curve_jacobian(t, scalar(0.0), scalar(0.01), scalar(1.0), scalar(0.03), "table",
                             Array(Shape{2, 3}, {1.0, 0.9, 0.5, 2.0, 1.0, 0.1}), {}, {radii});
    ASSERT_TRUE(two) << two.message();
    EXPECT_EQ(two.value().a.row(0), one.a.values());
    EXPECT_EQ(two.value().jacobian.row(0), one.jacobian.values());
}
