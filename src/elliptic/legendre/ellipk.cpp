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
#include "elliptic/legendre/polynomial.hpp"

namespace lumevaro {

// Source: the coefficients of P and Q are those of ellpk in the Cephes Math
// Library by Stephen L. Moshier (as SciPy's special functions carry it).
namespace legendre::detail {
constexpr std::array<double, 11> ellipk_P{
    0.00013798286460627325, 0.002280257240058756, 0.007974040132204152, 0.00985821379021226,
    0.006874896874499499,   0.006189010336376876, 0.008790782739527438, 0.014938044891680526,
    0.0308851465246712,     0.09657359028116902,  1.3862943611198906};
constexpr std::array<double, 11> ellipk_Q{
    2.940789550485985e-05, 0.0009141847238659173, 0.005940583037531678, 0.01548505166497624,
    0.023908960271592488,  0.030120471522760404,  0.037377431417382326, 0.04882803475709983,
    0.07031249969639575,   0.12499999999987083,   0.5};
}  // namespace legendre::detail

namespace {
// K as a function of the complementary parameter mc = 1 − m > 0.
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
