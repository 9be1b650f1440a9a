// Magnification weighted over the source radius by a radial brightness
// profile S (0 at the centre, 1 at the limb).
//
// With g(x) a magnification as a function of the radius fraction x, the
// weighted magnification is
//
//   (1/N) ∫₀¹ π S(x) d/dx[x² g(x)] dx,   N = ∫₀¹ 2πx S(x) dx,
//
// integrated by the tanh-sinh quadrature of integrate.hpp and with the
// derivative g′ taken by the central difference of sderivative.hpp. The
// integrand is written out as
//
//   F(x) = ((x·2π)·(g(x) + (x·0.5)·D(x)))·S(x),  D(x) = g′(x) for x ≥ 0, else 0,
//
// in that grouping, which fixes the rounding. Non-finite values of F (a ring
// magnification that fails or is infinite) count as zero in the quadrature.
//
// Two magnification functions are weighted this way: the ring magnification
// of radius x (Heyrovsky), and the uniform-disc magnification of the whole
// source (Witt–Mao), taken as the same value at every x ≥ 0 and 0 below.
// Near x = 0 the derivative step reaches below zero, so the difference
// quotient of that step function is A/(2h) there; this lifts the Witt–Mao
// result above A by a factor that depends only on the profile (1 + 6.6e-12
// for the built-in one).
#pragma once

#include <cmath>
#include <cstddef>
#include <limits>
#include <utility>
#include <vector>

#include "elliptic/outcome.hpp"
#include "models/constants.hpp"
#include "models/disc_ring_lanes.hpp"
#include "models/models.hpp"
#include "numeric/integrate.hpp"
#include "numeric/sderivative.hpp"

namespace lumevaro {

// Requested absolute error of every radial integral; in practice the
// quadrature runs all its levels.
inline constexpr double RADIAL_TOLERANCE = 1e-16;

// F(x) above, for the magnification g and the profile S.
template <class Magnification, class Profile>
double ring_integrand(const Magnification& g, const Profile& profile, double x) {
    using models::TWO_PI;
    const double derivative = x < 0.0 ? 0.0 : sderivative(g, x);
    return ((x * TWO_PI) * (g(x) + (x * 0.5) * derivative)) * profile(x);
}

// ∫₀¹ F(x) dx as the quadrature returns it.
template <class Magnification, class Profile>
double radial_integral(const Magnification& g, const Profile& profile) {
    const auto integrand = [&g, &profile](double x) { return ring_integrand(g, profile, x); };
    return integrate(integrand, 0.0, 1.0, RADIAL_TOLERANCE).integral;
}

// The flux N = ∫₀¹ 2πx S(x) dx of a profile, as the quadrature returns it.
template <class Profile>
double profile_flux(const Profile& profile) {
    using models::TWO_PI;
    const auto integrand = [&profile](double x) { return (x * TWO_PI) * profile(x); };
    return integrate(integrand, 0.0, 1.0, RADIAL_TOLERANCE).integral;
}

// The uniform-disc magnification of each separation, weighted by the profile
// and divided by norm; fails as witt_mao_magnification does, before anything
// is integrated.
template <class Profile>
ListOutcome _integrated_witt_mao_magnification(Separations l, double re, double rstar,
                                               const Profile& profile, double norm) {
    ListOutcome uniform = witt_mao_magnification(std::move(l), re, rstar);
    if (!uniform) return uniform.separation_failure();
    Magnifications magnifications = std::move(uniform).value();
    for (double& magnification : magnifications) {
        const double a = magnification;
        const auto g = [a](double y) { return y < 0.0 ? 0.0 : a; };
        magnification = radial_integral(g, profile) / norm;
    }
    return magnifications;
}

// ∫₀¹ F(x) dx for g the ring magnification at one separation, as
// radial_integral returns it: the quadrature takes a level of nodes at a
// time, and the three ring radii of each node (x, x + h, x − h of the
// central difference) are evaluated together on SIMD lanes; F is then formed
// node by node as ring_integrand forms it. A ring magnification that fails
// counts as NaN.
template <class Profile>
double radial_ring_integral(double separation, double re, double rstar, const Profile& profile,
                            InstructionSet set) {
    using models::TWO_PI;
    std::vector<double> radii, rings;
    const auto integrand_at = [&](const double* xs, std::size_t count, double* values) {
        radii.clear();
        for (std::size_t k = 0; k < count; ++k) {
            const double x = xs[k];
            const double h = (std::fabs(x) + 1.0) * CBRT_EPS;  // sderivative's step
            radii.push_back(x);
            radii.push_back(h + x);
            radii.push_back(x - h);
        }
        rings.resize(radii.size());
        ring_lanes(set, separation, radii.data(), radii.size(), re, rstar, rings.data());
        for (std::size_t k = 0; k < count; ++k) {
            const double x = xs[k];
            const double h = (std::fabs(x) + 1.0) * CBRT_EPS;
            const double g = rings[3 * k];
            const double derivative = x < 0.0 ? 0.0 : (rings[3 * k + 1] - rings[3 * k + 2]) / (h + h);
            values[k] = ((x * TWO_PI) * (g + (x * 0.5) * derivative)) * profile(x);
        }
    };
    return integrate_by_levels(integrand_at, 0.0, 1.0, RADIAL_TOLERANCE).integral;
}

// The ring magnification of each separation, weighted by the profile and
// divided by norm. A ring magnification that fails counts as NaN (and so as
// zero in the quadrature); the routine itself never fails.
template <class Profile>
Magnifications _integrated_heyrovsky_magnification(Separations l, double re, double rstar,
                                                   const Profile& profile, double norm) {
    Magnifications magnifications = std::move(l);
    const InstructionSet set = active_instruction_set();
    for (double& element : magnifications) {
        element = radial_ring_integral(element, re, rstar, profile, set) / norm;
    }
    return magnifications;
}

}  // namespace lumevaro
