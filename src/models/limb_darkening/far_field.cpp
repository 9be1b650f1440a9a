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
// Terms are taken until (1/l²)^k falls below the truncation asked (1e-17 for
// full accuracy).
#include "models/limb_darkening/far_field.hpp"

#include <algorithm>
#include <array>
#include <cmath>

namespace lumevaro::limb_darkening {

namespace {
constexpr int COEFFICIENTS = 2 * FAR_FIELD_TERMS + 2;
// 1/j, rounded once.
constexpr std::array<double, COEFFICIENTS + 1> RECIPROCALS = [] {
    std::array<double, COEFFICIENTS + 1> r{};
    for (int j = 1; j <= COEFFICIENTS; ++j) r[j] = 1.0 / j;
    return r;
}();

// The terms a separation takes: (1/l²)^k above the truncation.
int term_count(double x, double truncation) {
    int terms = 1;
    for (double power = x; power > truncation && terms < FAR_FIELD_TERMS; power *= x) ++terms;
    return terms;
}

// Separations whose series are formed side by side.
constexpr std::size_t GROUP = 8;
}  // namespace

FarFieldSeries far_field_series(double l, double rho, double truncation) noexcept {
    // Only the first `terms` entries, and the coefficients the steps use, are
    // read: nothing is cleared.
    FarFieldSeries series;
    const double x = 1.0 / (l * l);
    const int terms = term_count(x, truncation);
    series.terms = terms;

    const double u = l * rho;
    const double c = 4.0 / (u * u);
    const double a0 = 1.0 + c;
    const double a1 = 2.0 + c;

    // Taylor coefficients of H, then of G = H'. After k steps of Λ the first
    // used − 2k coefficients are exact, of which value and slope take two.
    // The quotient by 2(1 + c)(j + 1) is a product with its reciprocal, formed
    // beside the recurrence rather than in its chain of dependent operations.
    const int used = 2 * terms + 1;
    const double half_inverse = 0.5 / a0;
    std::array<double, COEFFICIENTS> h;
    h[0] = std::sqrt(a0);
    h[1] = a1 * h[0] * half_inverse;
    for (int j = 1; j + 1 <= used; ++j) {
        h[j + 1] = (a1 * (1.0 - 2.0 * j) * h[j] + (4.0 - 2.0 * j) * h[j - 1]) * (half_inverse * RECIPROCALS[j + 1]);
    }
    std::array<double, COEFFICIENTS> g;
    for (int j = 0; j < used; ++j) g[j] = (j + 1) * h[j + 1];

    series.power[0] = 1.0;
    series.value[0] = g[0];
    series.slope[0] = g[1];
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
        series.power[k] = power;
        series.value[k] = g[0];
        series.slope[k] = g[1];
    }
    return series;
}

void far_field_series(std::span<const double> l, std::span<const double> rho, double truncation,
                      std::span<FarFieldSeries> series) noexcept {
    // The steps of far_field_series above, each taken for a group of
    // separations before the next (a loop over the group the compiler runs
    // in lanes and the processor overlaps, where one separation's steps form
    // one chain of dependent operations); each separation's own coefficients
    // are the same bits, and those beyond its own count go unused.
    for (std::size_t first = 0; first < l.size(); first += GROUP) {
        const std::size_t n = std::min(GROUP, l.size() - first);
        std::array<double, GROUP> x{}, a1{}, half_inverse{};
        std::array<int, GROUP> terms{};
        int most = 1;
        for (std::size_t i = 0; i < n; ++i) {
            const double li = l[first + i];
            x[i] = 1.0 / (li * li);
            terms[i] = term_count(x[i], truncation);
            most = std::max(most, terms[i]);
        }
        std::array<std::array<double, GROUP>, COEFFICIENTS> h, g;
        h[0].fill(1.0);  // the lanes past the last separation compute on ones, unused
        for (std::size_t i = 0; i < n; ++i) {
            const double u = l[first + i] * rho[rho.size() == 1 ? 0 : first + i];
            const double c = 4.0 / (u * u);
            const double a0 = 1.0 + c;
            a1[i] = 2.0 + c;
            half_inverse[i] = 0.5 / a0;
            h[0][i] = std::sqrt(a0);
        }
        for (std::size_t i = 0; i < GROUP; ++i) h[1][i] = a1[i] * h[0][i] * half_inverse[i];
        const int used = 2 * most + 1;
        for (int j = 1; j + 1 <= used; ++j) {
            const double odd = 1.0 - 2.0 * j;
            const double even = 4.0 - 2.0 * j;
            for (std::size_t i = 0; i < GROUP; ++i) {
                h[j + 1][i] = (a1[i] * odd * h[j][i] + even * h[j - 1][i]) * (half_inverse[i] * RECIPROCALS[j + 1]);
            }
        }
        for (int j = 0; j < used; ++j) {
            for (std::size_t i = 0; i < GROUP; ++i) g[j][i] = (j + 1) * h[j + 1][i];
        }
        std::array<double, GROUP> power;
        power.fill(1.0);
        for (std::size_t i = 0; i < n; ++i) {
            FarFieldSeries& out = series[first + i];
            out.terms = terms[i];
            out.power[0] = 1.0;
            out.value[0] = g[0][i];
            out.slope[0] = g[1][i];
        }
        int length = used;
        for (int k = 1; k < most; ++k) {
            const double scale = 1.0 / (static_cast<double>(k) * k);
            for (int j = 0; j + 2 < length; ++j) {
                for (std::size_t i = 0; i < GROUP; ++i) {
                    g[j][i] = (j + 1) * ((j + 1) * g[j + 1][i] + (j + 2) * g[j + 2][i]) * scale;
                }
            }
            length -= 2;
            for (std::size_t i = 0; i < n; ++i) {
                if (k >= terms[i]) continue;
                power[i] *= x[i];
                FarFieldSeries& out = series[first + i];
                out.power[k] = power[i];
                out.value[k] = g[0][i];
                out.slope[k] = g[1][i];
            }
        }
    }
}

double far_field_sum(const FarFieldSeries& series, std::span<const double> moments) noexcept {
    double sum = moments[0] * series.value[0];
    for (int k = 1; k < series.terms; ++k) sum = sum + series.power[k] * moments[k] * series.value[k];
    return sum;
}

FarFieldSlopes far_field_slopes(const FarFieldSeries& series, double l, double rho,
                                std::span<const double> moments) noexcept {
    double along = 0.0;
    double across = 0.0;
    for (int k = series.terms - 1; k >= 0; --k) {
        along += series.power[k] * moments[k] * series.slope[k];
        across += (2.0 * k) * series.power[k] * moments[k] * series.value[k];
    }
    return FarFieldSlopes{(2.0 / (l * rho)) * along, across / rho};
}

double far_field_magnification(double l, double rho, std::span<const double> moments,
                               double truncation) noexcept {
    return far_field_sum(far_field_series(l, rho, truncation), moments);
}

}  // namespace lumevaro::limb_darkening
