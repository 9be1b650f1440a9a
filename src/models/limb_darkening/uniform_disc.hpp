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
double uniform_disc(double u, double s, double delta) noexcept;

// uniform_disc for many discs: four at a time on AVX2 lanes where the
// instruction set in use (numeric/instruction_set.hpp) is AVX2 or wider, the
// same bits as one call each.
void uniform_discs(std::span<const double> u, std::span<const double> s, std::span<const double> delta,
                   std::span<double> discs) noexcept;

// For the tests: false makes uniform_discs take the discs one by one, true
// lets it choose the lanes again.
void use_disc_lanes(bool enabled) noexcept;

// The same with the lens on the disc's edge (u = s).
double uniform_disc_on_edge(double s) noexcept;

}  // namespace lumevaro::limb_darkening
