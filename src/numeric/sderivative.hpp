// First derivative of a scalar function by a symmetric (central) difference,
//
//     f'(x) ~ (f(x + h) - f(x - h)) / (2h),    h = (|x| + 1) s,
//
// with the relative step s = cbrt(eps) by default: the central difference has
// truncation error O(h^2) and rounding error O(eps / h), balanced at
// h ~ eps^(1/3). The step grows with |x| and is s itself at x = 0. f is
// evaluated exactly twice, at x + h first; f(x) is never evaluated.
#pragma once

#include <cmath>
#include <optional>

namespace lumevaro {

// The cube root of the machine epsilon 2^-52, correctly rounded (the value of
// std::cbrt(2^-52); pow(2^-52, 1/3) gives 6.055454452393343e-06 instead).
inline constexpr double CBRT_EPS = 6.0554544523933395e-06;

template <class F>
double sderivative(const F& f, double x, std::optional<double> relative_step = std::nullopt) {
    const double s = relative_step.value_or(CBRT_EPS);
    const double h = (std::fabs(x) + 1.0) * s;
    const double f_plus = f(h + x);
    const double f_minus = f(x - h);
    return (f_plus - f_minus) / (h + h);
}

}  // namespace lumevaro
