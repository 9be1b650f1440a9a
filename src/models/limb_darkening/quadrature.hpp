// The limb-darkened magnification of a profile given as a law in μ: the
// quadrature near the lens, the far-field series beyond.
#pragma once

#include <span>
#include <vector>

#include "models/limb_darkening/profile.hpp"

namespace lumevaro::limb_darkening {

// A(l) for separation l ≥ 0 (source radii) and source radius rho > 0
// (Einstein radii); moments as RadialProfile::normalised_moments gives them,
// FAR_FIELD_TERMS of them.
double profile_magnification(double l, double rho, const RadialProfile& profile,
                             std::span<const double> moments) noexcept;

// A brightness profile tabulated at radii 0 = r₀ < r₁ < … < r_n = 1 and
// linear in r between them, with what the magnification needs of it.
struct BrightnessTable {
    std::vector<double> radii;
    std::vector<double> brightness;
    std::vector<double> slopes;   // dI/dr on each of the n rows
    double flux;                  // ∫₀¹ I(r) 2r dr
    std::vector<double> moments;  // ∫₀¹ I r^{2k} 2r dr / flux, FAR_FIELD_TERMS of them
};

// A(l) of a tabulated profile; the cost grows with the number of rows.
double table_magnification(double l, double rho, const BrightnessTable& table);

// Separations below this are taken as 0: the magnification differs from its
// value at l = 0 by less than 1e-13 relative there (it is even in l, with a
// term l² ln l).
inline constexpr double SMALLEST_SEPARATION = 1e-7;

}  // namespace lumevaro::limb_darkening
