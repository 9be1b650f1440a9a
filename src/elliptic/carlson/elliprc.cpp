// RC(x, y) = 1/2 ∫₀^∞ (t + x)^(-1/2) (t + y)^(-1) dt = RF(x, y, y),
// the degenerate case of Carlson's integral of the first kind, for x ≥ 0 and
// y ≠ 0; for y < 0 its Cauchy principal value, through
//   RC(x, y) = √(x/(x − y)) · RC(x − y, −y).
// Computed in closed form (Carlson 1995, eq. 2.12–2.13): an arctangent when
// y > x, a logarithm when y < x.
#include <cmath>

#include "elliptic/carlson.hpp"
#include "elliptic/carlson/duplication.hpp"

namespace lumevaro {

Real elliprc(double x, double y) noexcept {
    using carlson::PI_2;
    if (x < 0.0) {
        return Failure{"elliprc: x must be non-negative."};
    }
    if (y == 0.0) {
        return Failure{"elliprc: y must be non-zero."};
    }
    double prefix = 1.0;
    if (y < 0.0) {
        prefix = std::sqrt(x / (x - y));
        x = x - y;
        y = -y;
    }
    if (x == 0.0) {
        return prefix * PI_2 / std::sqrt(y);
    }
    if (x == y) {
        return prefix / std::sqrt(x);
    }
    if (y > x) {
        return prefix * std::atan(std::sqrt((y - x) / x)) / std::sqrt(y - x);
    }
    if (y / x > 0.5) {
        // atanh(s)/√(x − y), written with log1p for small s.
        const double s = std::sqrt((x - y) / x);
        return prefix * (std::log1p(s) - std::log1p(-s)) / (2.0 * std::sqrt(x - y));
    }
    return prefix * std::log((std::sqrt(x) + std::sqrt(x - y)) / std::sqrt(y)) / std::sqrt(x - y);
}

}  // namespace lumevaro
