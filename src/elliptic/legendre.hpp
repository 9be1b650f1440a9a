// Complete elliptic integrals in Legendre's form, parameter convention
// (m = k², the square of the modulus; n the characteristic).
#pragma once

#include "elliptic/outcome.hpp"

namespace lumevaro {

// K(m) = ∫₀^(π/2) (1 − m sin²θ)^(-1/2) dθ
Real ellipk(double m) noexcept;
// E(m) = ∫₀^(π/2) (1 − m sin²θ)^(1/2) dθ
Real ellipe(double m) noexcept;
// Π(n, m) = ∫₀^(π/2) (1 − n sin²θ)^(-1) (1 − m sin²θ)^(-1/2) dθ
Real ellippi(double n, double m) noexcept;

}  // namespace lumevaro
