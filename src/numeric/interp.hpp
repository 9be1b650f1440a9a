// Piecewise-linear interpolation of a tabulated function y(x) at one point,
// with a chosen rule for points outside the table.
//
// The interval is found by a linear scan for the leading run of abscissas
// strictly below the query point; the value is that interval's line, written
// as slope m = (y1 - y0) / (x1 - x0) and intercept c = y0 - x0 m, evaluated as
// m xp + c. At a table abscissa this can differ from the tabulated ordinate in
// the last bits. The abscissas need not be sorted and are not checked.
#pragma once

#include <span>

namespace lumevaro {

// What interp returns for a query point outside [x[0], x[n-1]].
struct OutsideMode {
    enum class Kind : unsigned char {
        Extend = 0,     // the end interval's line, extended
        EndValues = 1,  // y[0] below the table, y[n-1] above it
        Constant = 2,   // the stored value
    };

    Kind kind;
    double value;  // used by Constant only

    static constexpr OutsideMode extend() noexcept { return {Kind::Extend, 0.0}; }
    static constexpr OutsideMode end_values() noexcept { return {Kind::EndValues, 0.0}; }
    static constexpr OutsideMode constant(double v) noexcept { return {Kind::Constant, v}; }
};

// The interpolated value at xp of the table given by the first
// n = min(x.size(), y.size()) points: 0 for an empty table, y[0] for a single
// point, otherwise the selected interval's line or the outside rule.
double interp(std::span<const double> x, std::span<const double> y, double xp,
              const OutsideMode& mode) noexcept;

}  // namespace lumevaro
