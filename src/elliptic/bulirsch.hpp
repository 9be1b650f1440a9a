// Bulirsch's general complete elliptic integral.
#pragma once

namespace lumevaro {

// cel(kc, p, a, b) = ∫₀^{π/2} (a cos²θ + b sin²θ) / ((cos²θ + p sin²θ) √(cos²θ + kc² sin²θ)) dθ
// for kc ≠ 0 and p > 0. K(m) = cel(kc, 1, 1, 1), E(m) = cel(kc, 1, 1, kc²) and
// Π(n, m) = cel(kc, 1 − n, 1, 1), with kc = √(1 − m): the complements enter
// directly, so nothing is lost when m and n approach 1.
double cel(double kc, double p, double a, double b) noexcept;

}  // namespace lumevaro
