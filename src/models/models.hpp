// The magnification models behind the seven module functions.
//
// Separations l and ring radii are in units of the source radius; re (the
// Einstein radius) and rstar (the source radius) share one arbitrary length
// unit, and only their ratio enters. List-valued routines take their vectors
// by value and return a new vector of the length and order of l, or the first
// elliptic failure they met and the separation they met it at (never partial
// values).
#pragma once

#include <vector>

#include "elliptic/outcome.hpp"
#include "models/list_outcome.hpp"

namespace lumevaro {

using Separations = std::vector<double>;
using Magnifications = std::vector<double>;

// Below this distance of the lens from the source's edge (uniform disc) or
// from the ring (thin ring) the closed edge formula replaces the elliptic one.
inline constexpr double EDGE_THRESHOLD = 1e-5;

// Uniform disc (Witt & Mao 1994).
ListOutcome witt_mao_magnification(Separations l, double re, double rstar);

// Thin uniform ring of radius r (Heyrovsky): the mean of the point-source
// magnification over the ring.
Real heyrovsky_magnification(double l, double r, double re, double rstar);

// Linear limb darkening with coefficient 0.6, and its flux ∫₀¹ 2πr·S(r) dr as
// the quadrature returns it.
double builtin_profile(double r) noexcept;
inline constexpr double BUILTIN_PROFILE_FLUX = 2.5132741228717936;

// Both models weighted over the source radius by the built-in profile.
ListOutcome integrated_witt_mao_magnification(Separations l, double re, double rstar);
Magnifications integrated_heyrovsky_magnification(Separations l, double re, double rstar);

// Brightness profile tabulated by the caller as radii bl and brightnesses bf.
// Each throws InternalFailure when bl and bf differ in length.
ListOutcome integrated_flux_map_witt_mao_magnification(
    Separations l, double re, double rstar, std::vector<double> bl, std::vector<double> bf);
Magnifications integrated_flux_map_heyrovsky_magnification(
    Separations l, double re, double rstar, std::vector<double> bl, std::vector<double> bf);
ListOutcome discrete_flux_map_heyrovsky_magnification(
    Separations l, double re, double rstar, std::vector<double> bl, std::vector<double> bf);

}  // namespace lumevaro
