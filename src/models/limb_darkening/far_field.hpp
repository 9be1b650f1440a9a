// The magnification of a radially symmetric source far from the lens, as a
// series about the point source.
#pragma once

#include <array>
#include <span>

namespace lumevaro::limb_darkening {

// Terms the series may take: enough for l ≥ FAR_FIELD_START at full
// accuracy.
inline constexpr int FAR_FIELD_TERMS = 24;
// From here on (separation in source radii) the series is used at full
// accuracy; its truncation error is below 1e-17 relative with at most
// FAR_FIELD_TERMS terms. Looser accuracies start it sooner (quadrature.hpp).
inline constexpr double FAR_FIELD_START = 2.5;
// The series stops once (1/l²)^k falls below this: full accuracy.
inline constexpr double FULL_TRUNCATION = 1e-17;

// Magnification at separation l (source radii, l ≥ FAR_FIELD_START) of a
// source of radius rho (Einstein radii) whose normalised radial moments are
// moments[k] = ∫₀¹ I(r) r^{2k} 2r dr / ∫₀¹ I(r) 2r dr, k < FAR_FIELD_TERMS.
double far_field_magnification(double l, double rho, std::span<const double> moments,
                               double truncation = FULL_TRUNCATION) noexcept;

// The series at one separation, apart from the moments: A = Σ_k power[k]
// M_k value[k], and its derivatives
//
//   ∂A/∂u at fixed ρ = (2/u) Σ_k power[k] M_k slope[k],
//   ∂A/∂ρ at fixed u = (1/ρ) Σ_k 2k power[k] M_k value[k],
//
// value[k] = (Λ^k G)(0)/(k!)² and slope[k] = (Λ^k G)'(0)/(k!)², G(y) the
// point source at u√(1 + y) (far_field.cpp): the series of A in y about the
// separation is the series of its u-derivative too. One expansion serves
// any number of profiles (bands) and their coefficient derivatives, which
// enter only through the moments.
struct FarFieldSeries {
    int terms;
    std::array<double, FAR_FIELD_TERMS> power;
    std::array<double, FAR_FIELD_TERMS> value;
    std::array<double, FAR_FIELD_TERMS> slope;
};

// The terms stop once (1/l²)^k falls below `truncation`, or at FAR_FIELD_TERMS.
FarFieldSeries far_field_series(double l, double rho, double truncation = FULL_TRUNCATION) noexcept;

// far_field_series for several separations l[i] at once, of a source of
// radius rho[i] (or rho[0] for all, given one): series[i], to the bit.
void far_field_series(std::span<const double> l, std::span<const double> rho, double truncation,
                      std::span<FarFieldSeries> series) noexcept;

// Σ_k power[k] M_k value[k], summed as far_field_magnification sums it (the
// same bits).
double far_field_sum(const FarFieldSeries& series, std::span<const double> moments) noexcept;

// The two geometric derivatives for given moments.
struct FarFieldSlopes {
    double d_u;
    double d_rho;
};
FarFieldSlopes far_field_slopes(const FarFieldSeries& series, double l, double rho,
                                std::span<const double> moments) noexcept;

}  // namespace lumevaro::limb_darkening
