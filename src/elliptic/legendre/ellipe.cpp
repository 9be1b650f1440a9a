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
#include "elliptic/legendre/polynomial.hpp"

namespace lumevaro {

// Source: the coefficients of P and Q are those of ellpe in the Cephes Math
// Library by Stephen L. Moshier (as SciPy's special functions carry it).
namespace legendre::detail {
constexpr std::array<double, 11> ellpe_P{
    0.0001535525773010133, 0.0025088849216360204, 0.008687868165658896, 0.010735094905607619,
    0.007773954925167871,  0.007583952894135147,  0.011568843681057412, 0.021831799601555724,
    0.05680519456178606,   0.44314718056099084,   1.0};
constexpr std::array<double, 10> ellpe_Q{
    3.2795489857648585e-05, 0.0010096279267935672, 0.006506094899769275, 0.016886216399331133,
    0.026176974245449364,   0.03348339048882249,   0.04271809265189315,  0.0585936634471101,
    0.09374999971976443,    0.2499999999998883};
}  // namespace legendre::detail

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
    const double mc = 1.0 - m;
    return c * (horner(mc, detail::ellpe_P) - std::log(mc) * (mc * horner(mc, detail::ellpe_Q)));
}

}  // namespace lumevaro
