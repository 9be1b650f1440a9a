// Derivatives of the limb-darkened magnification and many bands at once: the
// value beside them is the value function's to the bit, the bands are each
// the one-band call's, and the derivatives agree with differences of the
// values (Richardson-extrapolated central differences, good to about 1e-9
// away from the limb; the 1e-8 accuracy against high-precision references is
// the Python suite's). On the limb the derivatives are signed infinities.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <limits>
#include <string>
#include <vector>

#include "checks.hpp"
#include "models/limb_darkening.hpp"
#include "models/limb_darkening/far_field.hpp"
#include "models/limb_darkening/uniform_disc.hpp"

using namespace lumevaro;
using namespace lumevaro::limb_darkening;
using namespace checks;

namespace {

struct LawCase {
    const char* law;
    std::vector<double> coefficients;
};

const std::vector<LawCase> LAWS = {
    {"uniform", {}},
    {"linear", {0.6}},
    {"linear", {1.0}},
    {"quadratic", {0.4, 0.25}},
    {"square-root", {0.3, 0.4}},
    {"logarithmic", {0.6, 0.2}},
    {"power-2", {0.6, 0.6}},
    {"power-2", {0.8, 1.7}},
    {"power-2", {0.7, 0.0}},
    {"claret", {0.5, 0.2, 0.1, -0.05}},
};
const std::vector<double> TABLE_RADII = {0.0, 0.3, 0.6, 0.85, 1.0};
const std::vector<double> TABLE_BRIGHTNESS = {2.0, 1.9, 1.6, 1.2, 0.6};

const std::vector<double> SEPARATIONS = {0.0, 1e-3, 0.3, 0.9, 1.0 - 1e-6, 1.0 + 1e-6, 1.4, 2.4999999, 2.5, 3.0, 50.0};
const double RHOS[] = {1e-3, 0.1, 1.0, 30.0};

std::vector<double> values(const std::vector<double>& l, double rho, const LawCase& c,
                           std::vector<double> coefficients) {
    Checked<Array> result = limb_darkened_magnification(l, 1.0, rho, c.law, std::move(coefficients));
    EXPECT_TRUE(result) << result.message();
    return result ? result.value().values() : std::vector<double>(l.size(), NaN);
}

MagnificationGradient gradient(const std::vector<double>& l, double rho, const LawCase& c) {
    Checked<MagnificationGradient> result = limb_darkened_magnification_gradient(l, 1.0, rho, c.law, c.coefficients);
    EXPECT_TRUE(result) << result.message();
    return result ? result.value() : MagnificationGradient{};
}

// f'(x) by central differences of step h and h/2, extrapolated.
double derivative(const std::function<double(double)>& f, double x, double h) {
    const double coarse = (f(x + h) - f(x - h)) / (2.0 * h);
    const double fine = (f(x + h / 2) - f(x - h / 2)) / h;
    return (4.0 * fine - coarse) / 3.0;
}

}  // namespace

TEST(DiscGradient, MatchesDifferencesOfTheDisc) {
    for (const double s : {1e-3, 0.1, 1.0, 30.0}) {
        for (const double ratio : {0.01, 0.5, 0.99, 1.01, 2.0, 40.0, 2000.0}) {
            const double u = ratio * s;
            const DiscGradient g = uniform_disc_gradient(u, s, u - s);
            const double h = 1e-4 * std::fabs(u - s);
            const double d_u = derivative([&](double x) { return uniform_disc(x, s, x - s); }, u, h);
            const double d_s = derivative([&](double x) { return uniform_disc(u, x, u - x); }, s, h);
            const double scale = g.value / std::fmin(u, s);
            EXPECT_NEAR(g.d_u, d_u, 1e-8 * (std::fabs(d_u) + scale)) << u << " " << s;
            EXPECT_NEAR(g.d_s, d_s, 1e-8 * (std::fabs(d_s) + scale)) << u << " " << s;
        }
        // On the edge: infinite, with the signs of −ln|δ| and +ln|δ|; at the lens, no slope in u.
        const DiscGradient edge = uniform_disc_gradient(s, s, 0.0);
        EXPECT_EQ(edge.d_u, -std::numeric_limits<double>::infinity());
        EXPECT_EQ(edge.d_s, std::numeric_limits<double>::infinity());
        EXPECT_EQ(uniform_disc_gradient(0.0, s, -s).d_u, 0.0);
    }
}

TEST(Gradient, ValueIsTheValueFunctionsAndDerivativesItsDifferences) {
    for (const double rho : RHOS) {
        for (const LawCase& c : LAWS) {
            SCOPED_TRACE(std::string(c.law) + " rho " + std::to_string(rho));
            const MagnificationGradient g = gradient(SEPARATIONS, rho, c);
            EXPECT_EQ(g.a, values(SEPARATIONS, rho, c, c.coefficients));
            ASSERT_EQ(g.d_coefficients.shape()[0], c.coefficients.size());
            for (std::size_t i = 0; i < SEPARATIONS.size(); ++i) {
                const double l = SEPARATIONS[i];
                const double a = g.a[i];
                // Differences of values good to 1e-11 lose the slope within 1e-3
                // of the limb; the references check it there.
                const bool near_limb = std::fabs(l - 1.0) < 1e-3;
                const double h = 1e-4;
                auto at = [&](double li, double rhoi, std::vector<double> coefficients) {
                    return values({li}, rhoi, c, std::move(coefficients))[0];
                };
                if (l > 0.0 && l != 2.5 && !near_limb) {
                    // u = lρ at fixed ρ; ρ at fixed u moves l to u/ρ.
                    const double d_u = derivative([&](double x) { return at(x / rho, rho, c.coefficients); },
                                                  l * rho, h * l * rho);
                    EXPECT_NEAR(g.d_u[i], d_u, 1e-7 * (std::fabs(d_u) + a / rho)) << "l " << l;
                }
                if (l != 2.5 && !near_limb) {
                    const double d_rho = derivative(
                        [&](double x) { return at(l * rho / x, x, c.coefficients); }, rho, h * rho);
                    EXPECT_NEAR(g.d_rho[i], d_rho, 1e-7 * (std::fabs(d_rho) + a / rho)) << "l " << l;
                }
                for (std::size_t k = 0; k < c.coefficients.size(); ++k) {
                    const double step = k == 1 && std::string(c.law) == "power-2" && c.coefficients[1] == 0.0
                                            ? 0.0 : 1e-4;
                    if (step == 0.0) continue;  // α = 0 has no left neighbour
                    const double d_c = derivative(
                        [&](double x) {
                            std::vector<double> moved = c.coefficients;
                            moved[k] = x;
                            return at(l, rho, moved);
                        },
                        c.coefficients[k], step);
                    EXPECT_NEAR(g.d_coefficients.slice(k)[i], d_c, 1e-7 * (std::fabs(d_c) + a)) << "l " << l << " c" << k;
                }
            }
            EXPECT_EQ(g.d_u[0], 0.0);
        }
    }
}

TEST(Gradient, PowerTwoExponentAtZeroIsTheLimitFromAbove) {
    const LawCase zero{"power-2", {0.7, 0.0}};
    for (const double l : {0.0, 0.5, 0.99, 1.2, 3.0}) {
        const MagnificationGradient g = gradient({l}, 0.1, zero);
        auto at = [&](double alpha) { return values({l}, 0.1, zero, {0.7, alpha})[0]; };
        // One-sided: A(α) is smooth in α ≥ 0; the smallest exponent taken is 0.05.
        const double h = 0.05;
        const double one_sided = (-3.0 * at(0.0) + 4.0 * at(h) - at(2.0 * h)) / (2.0 * h);
        EXPECT_NEAR(g.d_coefficients.slice(1)[0], one_sided, 2e-2 * std::fabs(one_sided) + 1e-3) << l;
        EXPECT_TRUE(std::isfinite(g.d_coefficients.slice(1)[0]));
    }
}

TEST(Gradient, OnTheLimbDerivativesAreSignedInfinitiesOrFinite) {
    const double inf = std::numeric_limits<double>::infinity();
    for (const double rho : RHOS) {
        for (const LawCase& c : LAWS) {
            const MagnificationGradient g = gradient({1.0}, rho, c);
            const bool dark_limb = std::string(c.law) == "linear" && c.coefficients[0] == 1.0;
            if (dark_limb) {
                EXPECT_TRUE(std::isfinite(g.d_u[0]) && std::isfinite(g.d_rho[0])) << c.law;
            } else {
                EXPECT_EQ(g.d_u[0], -inf) << c.law;
                EXPECT_EQ(g.d_rho[0], inf) << c.law;
            }
            for (const double d : g.d_coefficients) EXPECT_TRUE(std::isfinite(d)) << c.law;
        }
    }
}

TEST(Tabulated, GradientValueIsTheValueFunctionsAndBrightnessDerivativesItsDifferences) {
    for (const double rho : RHOS) {
        Checked<MagnificationGradient> result =
            tabulated_limb_darkened_magnification_gradient(SEPARATIONS, 1.0, rho, TABLE_RADII, TABLE_BRIGHTNESS);
        ASSERT_TRUE(result) << result.message();
        const MagnificationGradient& g = result.value();
        auto at = [&](const std::vector<double>& l, double rhoi, const std::vector<double>& bf) {
            return tabulated_limb_darkened_magnification(l, 1.0, rhoi, TABLE_RADII, bf).value().values();
        };
        EXPECT_EQ(g.a, at(SEPARATIONS, rho, TABLE_BRIGHTNESS));
        ASSERT_EQ(g.d_coefficients.shape()[0], TABLE_BRIGHTNESS.size());
        for (std::size_t i = 0; i < SEPARATIONS.size(); ++i) {
            const double l = SEPARATIONS[i];
            if (l == 2.5) continue;
            double scaled = 0.0;
            for (std::size_t j = 0; j < TABLE_BRIGHTNESS.size(); ++j) {
                const double d = derivative(
                    [&](double x) {
                        std::vector<double> bf = TABLE_BRIGHTNESS;
                        bf[j] = x;
                        return at({l}, rho, bf)[0];
                    },
                    TABLE_BRIGHTNESS[j], 1e-4);
                EXPECT_NEAR(g.d_coefficients.slice(j)[i], d, 1e-7 * (std::fabs(d) + g.a[i])) << l << " bf" << j;
                scaled += TABLE_BRIGHTNESS[j] * g.d_coefficients.slice(j)[i];
            }
            // A does not change when the brightness is scaled.
            EXPECT_NEAR(scaled, 0.0, 1e-9 * g.a[i]) << l;
            if (l > 0.0 && std::fabs(l - 1.0) >= 1e-3) {
                const double h = 1e-4 * l * rho;
                const double d_u = derivative([&](double x) { return at({x / rho}, rho, TABLE_BRIGHTNESS)[0]; },
                                              l * rho, h);
                EXPECT_NEAR(g.d_u[i], d_u, 1e-7 * (std::fabs(d_u) + g.a[i] / rho)) << l;
            }
        }
    }
}

TEST(Bands, EachIsTheOneBandCallToTheBit) {
    const std::vector<std::vector<double>> linear = {{0.6}, {0.0}, {1.0}, {0.3}, {-0.2}};
    const std::vector<std::vector<double>> power = {{0.6, 0.6}, {0.5, 0.6}, {0.6, 1.5}, {0.6, 0.0}, {0.2, 0.3}};
    const std::vector<std::vector<double>> claret = {{0.5, 0.2, 0.1, -0.05}, {0.1, 0.2, 0.3, 0.1}};
    for (const double rho : RHOS) {
        for (const auto& [law, bands] : {std::pair{"linear", linear}, std::pair{"power-2", power},
                                         std::pair{"claret", claret}}) {
            Checked<Array> result =
                limb_darkened_magnification_bands(SEPARATIONS, 1.0, rho, law, bands);
            ASSERT_TRUE(result) << result.message();
            ASSERT_EQ(result.value().shape(), (Shape{bands.size(), SEPARATIONS.size()}));
            for (std::size_t b = 0; b < bands.size(); ++b) {
                EXPECT_EQ(result.value().row(b), values(SEPARATIONS, rho, LawCase{law, {}}, bands[b])) << law << " " << b;
            }
        }
    }
    Checked<Array> bad =
        limb_darkened_magnification_bands({0.5}, 1.0, 0.1, "quadratic", {{0.4, 0.2}, {0.1, 0.1}, {0.3, NaN}});
    ASSERT_FALSE(bad);
    EXPECT_EQ(bad.message(), "bands[2][1] must be a finite number between -1e6 and 1e6, got nan");
    Checked<Array> short_band =
        limb_darkened_magnification_bands({0.5}, 1.0, 0.1, "quadratic", {{0.4, 0.2}, {0.1}});
    ASSERT_FALSE(short_band);
    EXPECT_EQ(short_band.message(), "bands[1]: the 'quadratic' law takes 2 coefficients (u1, u2), got 1");
}
