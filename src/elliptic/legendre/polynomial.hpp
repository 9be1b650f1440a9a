// Horner evaluation shared by the polynomial approximations of K and E.
#pragma once

#include <array>
#include <cstddef>

namespace lumevaro::legendre {

inline constexpr double PI_2 = 1.5707963267948966;
inline constexpr double LN_4 = 1.3862943611198906;
inline constexpr double EPSILON = 2.220446049250313e-16;

// Coefficients from the highest power down to the constant term:
// r = c[0]; r ← r·x + c[k] for k = 1, 2, …
template <std::size_t N>
inline double horner(double x, const std::array<double, N>& c) noexcept {
    double r = c[0];
    for (std::size_t k = 1; k < N; ++k) {
        r = r * x + c[k];
    }
    return r;
}

}  // namespace lumevaro::legendre
