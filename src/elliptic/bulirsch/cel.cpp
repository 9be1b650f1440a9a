// cel(kc, p, a, b), Bulirsch's general complete elliptic integral (Bulirsch
// 1969, "Numerical calculation of elliptic integrals and elliptic functions
// III", Numer. Math. 13, 305), for p > 0:
//
//   cel = ∫₀^{π/2} (a cos²θ + b sin²θ) / ((cos²θ + p sin²θ) √(cos²θ + kc² sin²θ)) dθ.
//
// Method: Landen's (Gauss's) transformation in Bulirsch's form. Each step
// replaces kc by 2√kc'·... and doubles the integrand's period, carrying a, b
// and p along, so that the arithmetic–geometric mean of 1 and |kc| converges
// quadratically; the closing value is (π/2)(a·m + b)/(m(m + p)) with m the
// mean. The loop stops once the two means agree to 1e-9 relative, after which
// one more (already computed) step leaves an error below 1e-18. For
// |kc| ≥ 1e-300 that takes at most 13 steps; the cap of 64 only guards
// against a NaN argument.
//
// Measured against 40-digit values (|kc| from 1e-20 to 1e3, p from 1e-30 to
// 1e3): within 6 ulp of the sum of its two terms' magnitudes.
#include <cmath>

#include "elliptic/bulirsch.hpp"

namespace lumevaro {

namespace {
constexpr double HALF_PI = 1.5707963267948966;
constexpr double MEAN_AGREEMENT = 1e-9;
constexpr int MAX_STEPS = 64;
}  // namespace

double cel(double kc, double p, double a, double b) noexcept {
    kc = std::fabs(kc);
    double e = kc;
    double m = 1.0;
    p = std::sqrt(p);
    b = b / p;
    for (int step = 0; step < MAX_STEPS; ++step) {
        const double f = a;
        a = a + b / p;
        double g = e / p;
        b = b + f * g;
        b = b + b;
        p = g + p;
        g = m;
        m = kc + m;
        if (std::fabs(g - kc) <= g * MEAN_AGREEMENT) break;
        kc = std::sqrt(e);
        kc = kc + kc;
        e = kc * m;
    }
    return HALF_PI * (a * m + b) / (m * (m + p));
}

}  // namespace lumevaro
