// Profile-weighted magnification: the built-in profile and its flux, the
// Witt–Mao weighting as a profile-only factor, the ring weighting against its
// value by parts, and the absence of failures in the ring weighting.
#include <gtest/gtest.h>

#include <cmath>
#include <cstddef>
#include <vector>

#include "checks.hpp"
#include "models/integrated.hpp"
#include "models/models.hpp"

using namespace lumevaro;
using namespace checks;

namespace {

constexpr auto limb_darkened = [](double r) { return builtin_profile(r); };
constexpr auto uniform = [](double) { return 1.0; };

}  // namespace

TEST(BuiltinProfile, LinearLimbDarkeningAndItsQuadratureFlux) {
    EXPECT_EQ(builtin_profile(0.0), 1.0);
    EXPECT_EQ(builtin_profile(1.0), 1.0 - 0.6);
    EXPECT_EQ(profile_flux(limb_darkened), BUILTIN_PROFILE_FLUX);
    // The exact flux π(1 − 0.6/3) differs from the quadrature's in the 14th digit.
    EXPECT_LT(relative_error(BUILTIN_PROFILE_FLUX, 0.8 * 3.141592653589793), 2e-14);
}

TEST(IntegratedWittMao, IsTheUniformDiscTimesAProfileFactor) {
    EXPECT_TRUE(value_of(integrated_witt_mao_magnification({}, 1.0, 1.0)).empty());

    // The uniform-disc value is used at every radius, so only the derivative
    // step below x = h lifts the result, by the same factor for every element.
    const std::vector<double> separations = {0.0, 0.5, 1.0, 1.0 + 1e-6, 2.0, 40.0};
    for (const double rho : {0.01, 1.0, 10.0}) {
        const std::vector<double> plain = value_of(witt_mao_magnification(separations, 1.0, rho));
        const std::vector<double> weighted = value_of(integrated_witt_mao_magnification(separations, 1.0, rho));
        ASSERT_EQ(weighted.size(), plain.size());
        const double factor = weighted[0] / plain[0];
        EXPECT_GT(factor, 1.0);
        EXPECT_LT(factor - 1.0, 1e-11);
        for (std::size_t i = 0; i < plain.size(); ++i) {
            EXPECT_LT(relative_error(weighted[i] / plain[i], factor), 1e-15) << "rho " << rho << ", l " << separations[i];
        }
    }
}

TEST(IntegratedWittMao, PassesTheUniformDiscFailureOn) {
    const auto plain = witt_mao_magnification({0.5, NaN}, 1.0, 1.0);
    const auto weighted = integrated_witt_mao_magnification({0.5, NaN}, 1.0, 1.0);
    ASSERT_FALSE(plain);
    EXPECT_TRUE(fails_with(weighted, plain.message()));
}

TEST(IntegratedHeyrovsky, MatchesTheWeightingIntegratedByParts) {
    EXPECT_TRUE(integrated_heyrovsky_magnification({}, 1.0, 1.0).empty());

    // (1/N)[π S(1) g(1) − ∫₀¹ π x² g(x) S′(x) dx] for the ring magnification g
    // at l = 2, by mpmath (tools/gen_model_reference.py, fourth item). The
    // quadrature drops the nodes below the derivative step, where g(x − h)
    // fails, which costs about πh²g(0)/N ≈ 4e-11.
    const double weighted = integrated_heyrovsky_magnification({2.0}, 1.0, 1.0)[0];
    EXPECT_LT(relative_error(weighted, 1.0912298697326148), 1e-10);
}

TEST(IntegratedHeyrovsky, TheWeightingAsTheQuadratureGivesItWithGlibc) {
    LUMEVARO_ASSUMES_GLIBC_LIBM();
    const double weighted = integrated_heyrovsky_magnification({2.0}, 1.0, 1.0)[0];
    EXPECT_LT(relative_error(weighted, 1.0912298696894533), 1e-14);
}

TEST(IntegratedHeyrovsky, UniformProfileGivesTheRingAtTheLimb) {
    // With S ≡ 1 the integrand π d/dx[x² g(x)] integrates to π g(1), and the
    // flux is π: the weighting of a uniform profile returns the outermost ring.
    for (const double eta : {0.5, 1.0, 4.0}) {
        for (const double l : {1.5, 2.0, 5.0}) {
            const double weighted =
                _integrated_heyrovsky_magnification({l}, eta, 1.0, uniform, profile_flux(uniform))[0];
            EXPECT_LT(relative_error(weighted, value_of(heyrovsky_magnification(l, 1.0, eta, 1.0))), 1e-9)
                << "eta " << eta << ", l " << l;
        }
    }
}

TEST(IntegratedHeyrovsky, NeverFails) {
    // Inside the source, on the limb, at the centre and for a NaN separation the
    // non-finite ring magnifications drop out of the quadrature.
    for (const double a : integrated_heyrovsky_magnification({0.5, 1.0, 0.0, NaN, -1.0}, 1.0, 1.0)) {
        EXPECT_TRUE(std::isfinite(a)) << a;
    }
}
