// The circle constants of the magnification formulas, as the doubles nearest
// to π, π/2 and 2π.
#pragma once

namespace lumevaro::models {

inline constexpr double PI = 3.141592653589793;
inline constexpr double HALF_PI = 1.5707963267948966;
inline constexpr double TWO_PI = 6.283185307179586;

}  // namespace lumevaro::models
