// Definite integral of f over a finite interval [a, b] by tanh-sinh
// (double-exponential) quadrature.
//
// The substitution x = c t + d maps [-1, 1] onto [a, b] (c the half-width, d
// the midpoint), and t = tanh((pi/2) sinh u) turns the integral over t into
// one over the whole real line whose integrand decays double-exponentially;
// the trapezoidal rule in u then converges very fast. The nodes and weights
// of seven trapezoidal levels (steps 1, 1/2, ..., 1/64, u up to 3) are fixed
// in tanh_sinh_nodes.hpp. Each level halves the step: the previous sum is
// halved and the new nodes are added. The change D between successive sums
// estimates the error; once the logarithms of successive changes show
// quadratic convergence (ratio between 1.9 and 2.1) the error is taken as D^2.
// The iteration stops when that estimate falls below tolerance / (4 c), when D
// vanishes, or after the last level (at most 385 evaluations).
//
// A non-finite value of f counts as zero at its node, so an integrand that is
// singular at an end point, or NaN where it cannot be computed, does not spoil
// the sum; f is never evaluated at a or b themselves.
//
// The operations are in a fixed order (halving as a multiplication by 0.5,
// each pair's term as w (G(x) + G(-x)), the sum accumulated from 0 in table
// order, the scaling by c last), with no fused multiply-add, so that results
// are reproducible to the last bit.
#pragma once

#include <cmath>
#include <cstddef>
#include <cstdint>

#include "numeric/tanh_sinh_nodes.hpp"

namespace lumevaro {

struct QuadratureResult {
    double error_estimate;  // estimated absolute error of `integral`
    double integral;
    std::uint32_t evaluations;  // 1 for the centre plus 2 per table pair used
};

namespace detail {
inline constexpr double TANH_SINH_PI = 3.141592653589793;
inline constexpr double TANH_SINH_LARGEST = 1.7976931348623157e308;  // largest finite double
}  // namespace detail

// The integral of f over [a, b] to an absolute error of `tolerance`, as far as
// the table allows. F is any callable taking and returning a double; it is
// bound at compile time and may be inlined.
template <class F>
QuadratureResult integrate(const F& f, double a, double b, double tolerance) {
    const double c = (b - a) * 0.5;
    const double d = (a + b) * 0.5;
    const double epsilon = (tolerance * 0.25) / c;

    // The integrand on [-1, 1]; non-finite values count as zero.
    const auto g = [&f, c, d](double t) -> double {
        const double scaled = c * t;
        const double value = f(scaled + d);
        return std::isfinite(value) ? value : 0.0;
    };

    // The centre node has weight pi/2; doubled because the first level halves it.
    double sum = g(0.0) * detail::TANH_SINH_PI;
    std::uint32_t evaluations = 1;
    double change = detail::TANH_SINH_LARGEST;
    double error = detail::TANH_SINH_LARGEST;

    for (const auto level : TANH_SINH_NODES) {
        const double previous_change = change;

        double level_sum = 0.0;
        for (const TanhSinhPair& node : level) {
            const double right = g(node.abscissa);
            const double left = g(-node.abscissa);
            level_sum = level_sum + node.weight * (right + left);
        }
        evaluations += 2 * static_cast<std::uint32_t>(level.size());

        const double half = 0.5 * sum;
        const double difference = half - level_sum;
        change = std::fabs(difference);
        sum = half + level_sum;

        // Levels 0 and 1 give too little history for a convergence test.
        if (evaluations <= 13) {
            continue;
        }
        if (difference == 0.0) {
            error = 0.0;
            break;
        }
        const double ratio = std::log(change) / std::log(previous_change);
        error = (1.9 < ratio && ratio < 2.1) ? difference * difference : change;
        if (error < epsilon) {
            break;
        }
    }

    return QuadratureResult{error * c, sum * c, evaluations};
}

// integrate() with the integrand evaluated a level at a time, so that the
// nodes of a level can be computed together: f_many(xs, count, values) writes
// f(xs[k]) to values[k]; it is called with the centre, then with each level's
// nodes, each pair's right one (t > 0) before its left one. The nodes, the
// sums in their order and the stopping test are integrate's, so for the same
// f the result has the same bits. (integrate keeps its own loop: for a cheap
// integrand, evaluating pair by pair is some 5 % faster than through arrays.)
template <class FMany>
QuadratureResult integrate_by_levels(const FMany& f_many, double a, double b, double tolerance) {
    const double c = (b - a) * 0.5;
    const double d = (a + b) * 0.5;
    const double epsilon = (tolerance * 0.25) / c;
    const auto finite_or_zero = [](double value) { return std::isfinite(value) ? value : 0.0; };

    // Nodes x = c·t + d of one level, as integrate forms them, and f there.
    constexpr std::size_t most_pairs = [] {
        std::size_t most = 1;
        for (const auto level : TANH_SINH_NODES) most = level.size() > most ? level.size() : most;
        return most;
    }();
    double x[2 * most_pairs];
    double value[2 * most_pairs];

    x[0] = c * 0.0 + d;
    f_many(x, 1, value);
    double sum = finite_or_zero(value[0]) * detail::TANH_SINH_PI;
    std::uint32_t evaluations = 1;
    double change = detail::TANH_SINH_LARGEST;
    double error = detail::TANH_SINH_LARGEST;

    for (const auto level : TANH_SINH_NODES) {
        const double previous_change = change;

        std::size_t count = 0;
        for (const TanhSinhPair& node : level) {
            x[count++] = c * node.abscissa + d;
            x[count++] = c * -node.abscissa + d;
        }
        f_many(x, count, value);
        double level_sum = 0.0;
        for (std::size_t k = 0; k < count; k += 2) {
            const double right = finite_or_zero(value[k]);
            const double left = finite_or_zero(value[k + 1]);
            level_sum = level_sum + level[k / 2].weight * (right + left);
        }
        evaluations += 2 * static_cast<std::uint32_t>(level.size());

        const double half = 0.5 * sum;
        const double difference = half - level_sum;
        change = std::fabs(difference);
        sum = half + level_sum;

        if (evaluations <= 13) {
            continue;
        }
        if (difference == 0.0) {
            error = 0.0;
            break;
        }
        const double ratio = std::log(change) / std::log(previous_change);
        error = (1.9 < ratio && ratio < 2.1) ? difference * difference : change;
        if (error < epsilon) {
            break;
        }
    }

    return QuadratureResult{error * c, sum * c, evaluations};
}

}  // namespace lumevaro
