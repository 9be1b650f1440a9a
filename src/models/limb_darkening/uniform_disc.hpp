// The uniform-disc magnification in a form that stays accurate where the
// disc's edge meets the lens, for the limb-darkened models' quadrature.
#pragma once

#include <span>

namespace lumevaro::limb_darkening {

// Magnification of a uniformly bright disc of radius s at separation u from
// the lens (both in Einstein radii), with delta = u − s supplied by the
// caller to full relative accuracy (it is never formed here by subtraction).
// Relative error within a few ulp wherever u ≤ 3s; further out the closed
// form cancels as (u/s)², to 1e-10 at u = 1000s, beyond which the series
// about the point source (far_field.hpp) takes over.
//
// `agreement` sets where the Landen loop stops (the relative agreement of its
// means): the default gives the integrals to rounding; a looser one, ε, to
// about ε²/16 relative, for a caller that needs less (limb_darkening::Method).
inline constexpr double FULL_AGREEMENT = 1e-9;
double uniform_disc(double u, double s, double delta, double agreement = FULL_AGREEMENT) noexcept;

// uniform_disc for many discs: eight at a time on AVX-512 lanes, four on
// AVX2's, as the instruction set in use (numeric/instruction_set.hpp)
// allows, the same bits as one call each; one by one under any other set.
void uniform_discs(std::span<const double> u, std::span<const double> s, std::span<const double> delta,
                   std::span<double> discs, double agreement = FULL_AGREEMENT) noexcept;

// The disc with its derivatives in u at fixed s and in s at fixed u; value
// is uniform_disc's, to the bit. Differentiating the closed form (DLMF
// 19.4) leaves the same K, E and Π, with new coefficients:
//
//   π ∂A/∂u = [σq E − (δ²σ² + 4(u² + s²))/(σq) K] / (s² u),
//   π ∂A/∂s = [(δ²σ² + 8u²)/(σq) K − σq E − 4δ²/(σq) Π] / s³,
//
// all three carried through one Landen loop. Both grow like ln(1/|δ|) at the
// edge (∂A/∂u → −∞, ∂A/∂s → +∞ there, returned exactly on it); at u = 0,
// ∂A/∂u is 0. For u > 1000s they come from the far-field series, as the
// value does. Accuracy: the value's; the derivatives within about 1e-12 of
// their scale A/s (u ≤ 3s) or A/u.
struct DiscGradient {
    double value;
    double d_u;
    double d_s;
};
DiscGradient uniform_disc_gradient(double u, double s, double delta, double agreement = FULL_AGREEMENT) noexcept;

// uniform_disc_gradient for many discs, with the lanes of uniform_discs.
void uniform_disc_gradients(std::span<const double> u, std::span<const double> s, std::span<const double> delta,
                            std::span<DiscGradient> discs, double agreement = FULL_AGREEMENT) noexcept;

// The same with the lens on the disc's edge (u = s).
double uniform_disc_on_edge(double s) noexcept;

}  // namespace lumevaro::limb_darkening
