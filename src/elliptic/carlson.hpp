// Carlson's symmetric elliptic integrals RF, RC, RD and RJ (Carlson 1995,
// "Numerical computation of real or complex elliptic integrals").
// Each returns the value or one static failure message.
#pragma once

#include "elliptic/outcome.hpp"

namespace lumevaro {

// RF(x, y, z) = 1/2 ∫₀^∞ [(t + x)(t + y)(t + z)]^(-1/2) dt
Real elliprf(double x, double y, double z) noexcept;
// RC(x, y) = 1/2 ∫₀^∞ (t + x)^(-1/2) (t + y)^(-1) dt, principal value for y < 0
Real elliprc(double x, double y) noexcept;
// RD(x, y, z) = 3/2 ∫₀^∞ [(t + x)(t + y)]^(-1/2) (t + z)^(-3/2) dt
Real elliprd(double x, double y, double z) noexcept;
// RJ(x, y, z, p) = 3/2 ∫₀^∞ [(t + x)(t + y)(t + z)]^(-1/2) (t + p)^(-1) dt,
// principal value for p < 0
Real elliprj(double x, double y, double z, double p) noexcept;
// RJ's duplication, for arguments that passed elliprj's checks and p > 0 (or NaN).
Real _elliprj(double x, double y, double z, double p) noexcept;

}  // namespace lumevaro
