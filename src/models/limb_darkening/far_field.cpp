// Far from the lens, a source's magnification is an even power series in its
// radius. The mean of a smooth function f of the plane over a circle of
// radius a is Σ_k (a²/4)^k Δ^k f / (k!)² at the centre (the mean-value
// expansion), so for a radially symmetric source of normalised moments
// M_k = ⟨r^{2k}⟩ (r in source radii, flux-weighted) and radius ρ,
//
//   A = Σ_k (ρ²/4)^k M_k Δ^k A_pt(u) / (k!)²,   u = lρ,
//
// with A_pt(x) = (x² + 2)/(x√(x² + 4)) the point-source magnification. The
// series converges for l > 1, as (1/l²)^k.
//
// Evaluation. With t = x², A_pt = dh/dt for h = √(t² + 4t), and the radial
// Laplacian is Δ = 4 (d/dt) t (d/dt). Scaling t = u²(1 + y) makes every
// quantity of order one:
//
//   A = Σ_k (1/l²)^k M_k (Λ^k G)(0) / (k!)²,   Λ = (d/dy)(1 + y)(d/dy),
//   G = H',  H(y) = √P(y),  P(y) = (1 + y)² + c(1 + y),  c = 4/u².
//
// The Taylor coefficients of H at 0 follow from 2PH' = P'H, a three-term
// recurrence (forward-stable: the other solution decays like (1 + c)^(−j)):
//
//   2(1 + c)(j + 1) H_{j+1} = (2 + c)(1 − 2j) H_j + (4 − 2j) H_{j−1},
//
// and Λ acts on coefficients as g_j ← (j + 1)((j + 1) g_{j+1} + (j + 2) g_{j+2}).
// Terms are taken until (1/l²)^k falls below 1e-17.
#include "models/limb_darkening/far_field.hpp"

#include <array>
#include <cmath>

namespace lumevaro::limb_darkening {

namespace {
constexpr int COEFFICIENTS = 2 * FAR_FIELD_TERMS + 2;
constexpr double TRUNCATION = 1e-17;
}  // namespace

double far_field_magnification(double l, double rho, std::span<const double> moments) noexcept {
    const double x = 1.0 / (l * l);
    int terms = 1;
    for (double power = x; power > TRUNCATION && terms < FAR_FIELD_TERMS; power *= x) ++terms;

    const double u = l * rho;
    const double c = 4.0 / (u * u);
    const double a0 = 1.0 + c;
    const double a1 = 2.0 + c;

    // Taylor coefficients of H, then of G = H'.
    const int used = 2 * terms + 1;
    std::array<double, COEFFICIENTS> h{};
    h[0] = std::sqrt(a0);
    h[1] = a1 * h[0] / (2.0 * a0);
    for (int j = 1; j + 1 <= used; ++j) {
        h[j + 1] = (a1 * (1.0 - 2.0 * j) * h[j] + (4.0 - 2.0 * j) * h[j - 1]) / (2.0 * a0 * (j + 1));
    }
    std::array<double, COEFFICIENTS> g{};
    for (int j = 0; j < used; ++j) g[j] = (j + 1) * h[j + 1];

    double sum = moments[0] * g[0];
    double power = 1.0;
    int length = used;
    for (int k = 1; k < terms; ++k) {
        // g ← Λg/k²
        const double scale = 1.0 / (static_cast<double>(k) * k);
        for (int j = 0; j + 2 < length; ++j) {
            g[j] = (j + 1) * ((j + 1) * g[j + 1] + (j + 2) * g[j + 2]) * scale;
        }
        length -= 2;
        power *= x;
        sum = sum + power * moments[k] * g[0];
    }
    return sum;
}

}  // namespace lumevaro::limb_darkening
