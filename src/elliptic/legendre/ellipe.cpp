// E(m) = ∫₀^(π/2) (1 − m sin²θ)^(1/2) dθ, the complete elliptic integral of
// the second kind with parameter m = k².
//
// Method: the Cephes approximation in mc = 1 − m,
//   E(m) ≈ P(mc) − ln(mc)·mc·Q(mc),  P of degree 10, Q of degree 9,
// relative error about 1e-16 on [0, 1]. A negative parameter is first brought
// into (0, 1] by E(m) = √(1 − m)·E(m/(m − 1)).
#include <array>
#include <cmath>

#include "elliptic/legendre.hpp"
#include "elliptic/legendre/cephes_tables.hpp"
#include "elliptic/legendre/polynomial.hpp"

namespace lumevaro {

Real ellipe(double m) noexcept {
    using namespace legendre;
    if (m > 1.0) {
        return Failure{"ellipe: m must be less than 1."};
    }
    if (m == 1.0) {
        return 1.0;
    }
    if (m == 0.0) {
        return PI_2;
    }
    double c = 1.0;
    while (m < 0.0) {  // one pass for every finite m; −∞ leaves with a NaN m
        c = c * std::sqrt(1.0 - m);
        m = m / (m - 1.0);
    }
    if (m == 1.0) {
        // m ≤ −2^53 reduces to exactly 1, where E = 1 (the polynomial form
        // would give 0·ln 0).
        return c;
    }
    // The disc and ring lanes (models/disc_ring_lanes.inc) repeat this form
    // in the same order, with c = 1; the bit-for-bit tests
    // (tests/cpp/test_disc_ring_lanes.cpp) guard it.
    const double mc = 1.0 - m;
    return c * (horner(mc, detail::ellpe_P) - std::log(mc) * (mc * horner(mc, detail::ellpe_Q)));
}

}  // namespace lumevaro
