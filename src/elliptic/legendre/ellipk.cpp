// K(m) = ∫₀^(π/2) (1 − m sin²θ)^(-1/2) dθ, the complete elliptic integral of
// the first kind with parameter m = k².
//
// Method: the Cephes approximation in the complementary parameter mc = 1 − m,
//   K(m) ≈ P(mc) − ln(mc)·Q(mc),  P, Q of degree 10,
// which reproduces the logarithmic singularity K ~ ln 4 − ½ ln mc at m → 1
// (used alone when mc < ε, i.e. m = 1 − 2^-53). Relative error about 1e-16 on
// [0, 1). For m < 0 the coefficients would be used outside the interval they
// were fitted on, so the argument is first brought into (0, 1) by
//   K(m) = K(m/(m − 1)) / √(1 − m),  1 − m/(m − 1) = 1/(1 − m).
#include <array>
#include <cmath>
#include <limits>

#include "elliptic/legendre.hpp"
#include "elliptic/legendre/cephes_tables.hpp"
#include "elliptic/legendre/polynomial.hpp"

namespace lumevaro {

namespace {
// K as a function of the complementary parameter mc = 1 − m > 0. The disc and
// ring lanes (models/disc_ring_lanes.inc) repeat its polynomial form in the
// same order; the bit-for-bit tests (tests/cpp/test_disc_ring_lanes.cpp)
// guard it.
double ellipk_of_complement(double mc) noexcept {
    using namespace legendre;
    if (mc < EPSILON) {
        return std::log(mc) * (-0.5) + LN_4;
    }
    return horner(mc, detail::ellipk_P) - std::log(mc) * horner(mc, detail::ellipk_Q);
}
}  // namespace

Real ellipk(double m) noexcept {
    using namespace legendre;
    if (m > 1.0) {
        return Failure{"ellipk: m must be less than 1."};
    }
    if (m == 1.0) {
        return std::numeric_limits<double>::infinity();
    }
    if (m == 0.0) {
        return PI_2;
    }
    if (m < 0.0) {
        // The reduced parameter m/(m − 1) has the complement 1/(1 − m), taken
        // directly so that it keeps its precision as m → −∞.
        const double s = 1.0 - m;
        return ellipk_of_complement(1.0 / s) / std::sqrt(s);
    }
    return ellipk_of_complement(1.0 - m);
}

}  // namespace lumevaro
