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
// x is a double, or a vector of lanes that each take the same operations
// (the first step is written c[0]·x, the same product).
template <class T, std::size_t N>
[[gnu::always_inline]] inline T horner(T x, const std::array<double, N>& c) noexcept {
    static_assert(N >= 2);
    T r = c[0] * x + c[1];
    for (std::size_t k = 2; k < N; ++k) {
        r = r * x + c[k];
    }
    return r;
}

}  // namespace lumevaro::legendre
