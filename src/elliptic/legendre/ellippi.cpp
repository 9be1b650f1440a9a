// Π(n, m) = ∫₀^(π/2) (1 − n sin²θ)^(-1) (1 − m sin²θ)^(-1/2) dθ, the complete
// elliptic integral of the third kind, characteristic n, parameter m = k².
//
// Method: through Carlson's integrals,
//   Π(n, m) = RF(0, 1 − m, 1) + (n/3)·RJ(0, 1 − m, 1, 1 − n)       (n < 1),
// and for n < 0 through the characteristic N = (m − n)/(1 − n) in (m, 1):
//   Π(n, m) = m K(m)/(m − n) − n (1 − m) Π(N, m) / ((1 − n)(m − n)).
// At m = n < 0 that relation divides by zero; there Π(n, n) = E(n)/(1 − n).
#include <cmath>

#include "elliptic/carlson.hpp"
#include "elliptic/legendre.hpp"
#include "elliptic/legendre/polynomial.hpp"

namespace lumevaro {

Real ellippi(double n, double m) noexcept {
    if (m >= 1.0) {
        return Failure{"ellippi: m must be less than 1."};
    }
    if (n > 1.0) {
        return Failure{"ellippi: n must be less than 1."};
    }
    if (n == 0.0) {
        if (m == 0.0) {
            return legendre::PI_2;
        }
        return ellipk(m);
    }
    if (n < 0.0) {
        if (m == n) {
            const Real e = ellipe(n);
            if (!e) {
                return e;
            }
            return e.value() / (1.0 - n);
        }
        const Real F = elliprf(0.0, 1.0 - m, 1.0);
        if (!F) {
            return F;
        }
        const Real J = elliprj(0.0, 1.0 - m, 1.0, (1.0 - m) / (1.0 - n));
        if (!J) {
            return J;
        }
        const Real K = ellipk(m);
        if (!K) {
            return K;
        }
        return K.value() * m / (m - n)
               - (1.0 - m) * (n * (F.value() + ((m - n) / (1.0 - n)) * J.value() / 3.0) / (1.0 - n))
                     / (m - n);
    }
    // The disc and ring lanes (models/disc_ring_lanes.inc) repeat this case's
    // operations, RF's and RJ's included, in the same order for 0 < n < 1;
    // the bit-for-bit tests (tests/cpp/test_disc_ring_lanes.cpp) guard it.
    const Real F = elliprf(0.0, 1.0 - m, 1.0);
    if (!F) {
        return F;
    }
    const Real J = elliprj(0.0, 1.0 - m, 1.0, 1.0 - n);
    if (!J) {
        return J;
    }
    return F.value() + (J.value() * n) / 3.0;
}

}  // namespace lumevaro
