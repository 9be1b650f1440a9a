// Horner evaluation shared by the polynomial approximations of K and E.
#pragma once

#include <array>
#include <cstddef>

#include "numeric/target_region.hpp"

namespace lumevaro::legendre {

inline constexpr double PI_2 = 1.5707963267948966;
inline constexpr double LN_4 = 1.3862943611198906;
inline constexpr double EPSILON = 2.220446049250313e-16;

#include "elliptic/legendre/horner.inc"

}  // namespace lumevaro::legendre
