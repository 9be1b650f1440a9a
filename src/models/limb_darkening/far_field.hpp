// The magnification of a radially symmetric source far from the lens, as a
// series about the point source.
#pragma once

#include <span>

namespace lumevaro::limb_darkening {

// Terms the series may take: enough for l ≥ FAR_FIELD_START.
inline constexpr int FAR_FIELD_TERMS = 24;
// From here on (separation in source radii) the series is used; its
// truncation error is below 1e-17 relative with at most FAR_FIELD_TERMS terms.
inline constexpr double FAR_FIELD_START = 2.5;

// Magnification at separation l (source radii, l ≥ FAR_FIELD_START) of a
// source of radius rho (Einstein radii) whose normalised radial moments are
// moments[k] = ∫₀¹ I(r) r^{2k} 2r dr / ∫₀¹ I(r) 2r dr, k < FAR_FIELD_TERMS.
double far_field_magnification(double l, double rho, std::span<const double> moments) noexcept;

}  // namespace lumevaro::limb_darkening
