// Witt & Mao's uniform-disc magnification (ApJ 430, 505, 1994),
//
//   A = (1/π) [ σq/(2s²) E(m) − δ(8 + δσ)/(2s²q) K(m) + 2δ²(1 + s²)/(s²σq) Π(n, m) ],
//   δ = u − s, σ = u + s, q = √(4 + δ²), n = 4us/σ², m = 4n/q²,
//
// evaluated through the complements of n and m, which are formed from δ
// without cancellation:
//
//   1 − n = (δ/σ)²,   1 − m = δ² (1 + 4/σ²) / (4 + δ²).
//
// With kc = √(1 − m), the K and E terms are one Bulirsch integral,
// αK + βE = cel(kc, 1, α + β, α + βkc²), and the Π term another,
// γΠ = cel(kc, 1 − n, γ, γ). Both run the same Landen sequence of kc, so
// they are carried through one loop (see cel.cpp for the method); the
// quotients by p are taken as products with 1/p. Near the edge (δ → 0) K grows like ln(1/|δ|)
// and Π like 1/|δ|, but their coefficients vanish as δ and δ², so every term
// stays bounded and nothing cancels: the error stays at a few ulp down to
// |δ|/s ≈ 1e-300. (Forming 1 − m by subtraction instead loses all digits at
// |δ|/s ≈ 1e-8.) For u ≫ s the E and K terms cancel as (u/s)², the price of
// the closed form; the far-field series takes over there.
#include "models/limb_darkening/uniform_disc.hpp"

#include <cmath>

#include "models/constants.hpp"

namespace lumevaro::limb_darkening {

namespace {

constexpr double MEAN_AGREEMENT = 1e-9;
constexpr int MAX_STEPS = 64;

// (2/π)·[cel(kc, 1, a1, b1) + cel(kc, p2, a2, a2)], p2 > 0, the two integrals
// carried through one Landen loop.
double landen_pair(double kc, double a1, double b1, double p2, double a2) noexcept {
    kc = std::fabs(kc);
    double e = kc;
    double m = 1.0;
    double p1 = 1.0;
    p2 = std::sqrt(p2);
    double b2 = a2 / p2;
    for (int step = 0; step < MAX_STEPS; ++step) {
        const double inverse1 = 1.0 / p1;
        const double inverse2 = 1.0 / p2;
        const double f1 = a1;
        const double f2 = a2;
        a1 = a1 + b1 * inverse1;
        a2 = a2 + b2 * inverse2;
        const double g1 = e * inverse1;
        const double g2 = e * inverse2;
        b1 = b1 + f1 * g1;
        b2 = b2 + f2 * g2;
        b1 = b1 + b1;
        b2 = b2 + b2;
        p1 = g1 + p1;
        p2 = g2 + p2;
        const double previous = m;
        m = kc + m;
        if (std::fabs(previous - kc) <= previous * MEAN_AGREEMENT) break;
        kc = std::sqrt(e);
        kc = kc + kc;
        e = kc * m;
    }
    return (a1 * m + b1) / (m * (m + p1)) + (a2 * m + b2) / (m * (m + p2));
}

}  // namespace

double uniform_disc(double u, double s, double delta) noexcept {
    using models::HALF_PI, models::PI;
    if (delta == 0.0) return uniform_disc_on_edge(s);
    const double sigma = u + s;
    const double delta2 = delta * delta;
    const double q2 = 4.0 + delta2;
    const double q = std::sqrt(q2);
    const double s2 = s * s;
    const double kc2 = delta2 * (1.0 + 4.0 / (sigma * sigma)) / q2;
    const double kc = std::sqrt(kc2);
    const double ratio = delta / sigma;
    const double one_minus_n = ratio * ratio;
    // So close to the edge that the complements underflow (|δ| ≲ 1e-154 σ),
    // the disc differs from its edge value by about |δ| ln|δ|: nothing.
    if (kc2 == 0.0 || one_minus_n == 0.0) return uniform_disc_on_edge(s);

    const double c_e = (sigma * q) / (2.0 * s2);
    const double c_k = -(delta * (8.0 + delta * sigma)) / (2.0 * s2 * q);
    const double c_pi = (2.0 * delta2 * (1.0 + s2)) / (s2 * sigma * q);

    return (HALF_PI * landen_pair(kc, c_e + c_k, c_k + c_e * kc2, one_minus_n, c_pi)) / PI;
}

// On the edge the K and Π terms vanish and m = 1:
//   A = (1/π) [2/s + ((1 + s²)/s²)(π/2 + arcsin((s² − 1)/(s² + 1)))],
// where π/2 + arcsin((s² − 1)/(s² + 1)) = 2 arctan s. (Written with the
// arcsine, the sum cancels for small s and loses digits as 1/s.)
double uniform_disc_on_edge(double s) noexcept {
    using models::PI;
    const double s2 = s * s;
    return (2.0 / s + ((1.0 + s2) / s2) * (2.0 * std::atan(s))) / PI;
}

}  // namespace lumevaro::limb_darkening
