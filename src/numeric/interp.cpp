// Piecewise-linear interpolation in slope-intercept form (see interp.hpp).
#include "numeric/interp.hpp"

#include <algorithm>
#include <cstddef>

namespace lumevaro {

namespace {

double outside_value(const OutsideMode& mode, double line_value, double end_value) noexcept {
    switch (mode.kind) {
    case OutsideMode::Kind::Extend:
        return line_value;
    case OutsideMode::Kind::EndValues:
        return end_value;
    case OutsideMode::Kind::Constant:
        break;
    }
    return mode.value;
}

}  // namespace

double interp(std::span<const double> x, std::span<const double> y, double xp,
              const OutsideMode& mode) noexcept {
    const std::size_t n = std::min(x.size(), y.size());
    if (n == 0) {
        return 0.0;
    }
    if (n == 1) {
        return y[0];
    }

    // p = number of leading abscissas strictly below xp (a NaN xp gives 0).
    std::size_t below = 0;
    while (below < x.size() && x[below] < xp) {
        ++below;
    }
    const std::size_t i = std::min(std::max<std::size_t>(below, 1) - 1, n - 2);

    // Only the selected interval's line is formed.
    const double slope = (y[i + 1] - y[i]) / (x[i + 1] - x[i]);
    const double intercept = y[i] - x[i] * slope;
    const double line_value = slope * xp + intercept;

    if (xp < x[0]) {
        return outside_value(mode, line_value, y[0]);
    }
    if (xp > x[n - 1]) {
        return outside_value(mode, line_value, y[n - 1]);
    }
    return line_value;
}

}  // namespace lumevaro
