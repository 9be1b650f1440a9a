// RF(x, y, z) = 1/2 ∫₀^∞ [(t + x)(t + y)(t + z)]^(-1/2) dt,
// Carlson's symmetric integral of the first kind, for x, y, z ≥ 0 with at
// most one of them zero.
//
// Method (Carlson 1995, section 2): coinciding arguments reduce to RC; one
// zero argument is the complete case RF(0, y, z) = π/(2·AGM(√y, √z));
// otherwise the duplication theorem
//   RF(x, y, z) = RF((x + λ)/4, (y + λ)/4, (z + λ)/4),  λ = √x√y + √x√z + √y√z
// drives the arguments towards their mean A, and a fifth-order Taylor series
// in the scaled deviations X, Y, Z = −X − Y finishes:
//   RF = [1 + E3(1/14 + 3E3/104) + E2(E2/24 − 1/10 − 3E3/44 − 5E2²/208 + E2E3/16)] / √A
// with E2 = XY − Z², E3 = XYZ. The loop stops when the scaled spread, which
// includes |A0| itself, falls below |A|, and gives up after 11 steps.
#include <cmath>
#include <utility>

#include "elliptic/carlson.hpp"
#include "numeric/min_max.hpp"
#include "elliptic/carlson/duplication.hpp"

namespace lumevaro {

namespace {
constexpr Failure RF_DOMAIN{
    "elliprf: x, y, and z must be non-negative, and at most one can be zero."};
constexpr Failure RF_NO_CONVERGENCE{"elliprf: Failed to converge."};
}  // namespace

Real elliprf(double x, double y, double z) noexcept {
    using namespace carlson;
    // The minimum ignores a NaN operand (as fmin, IEEE minNum), so a NaN
    // argument does not by itself trip these checks.
    if (nan_ignoring_min(nan_ignoring_min(x, y), z) < 0.0) {
        return RF_DOMAIN;
    }
    if (nan_ignoring_min(nan_ignoring_min(y + z, x + y), x + z) == 0.0) {
        return RF_DOMAIN;
    }

    if (x == y) {
        if (x == z) {
            return 1.0 / std::sqrt(x);
        }
        if (z == 0.0) {
            return PI / (2.0 * std::sqrt(x));
        }
        return elliprc(z, x);
    }
    if (x == z) {
        if (y == 0.0) {
            return PI / (2.0 * std::sqrt(x));
        }
        return elliprc(y, x);
    }
    if (y == z) {
        if (x == 0.0) {
            return PI / (2.0 * std::sqrt(y));
        }
        return elliprc(x, y);
    }

    // Distinct arguments: move a zero into z.
    if (x == 0.0) {
        std::swap(x, z);
    } else if (y == 0.0) {
        std::swap(y, z);
    }

    if (z == 0.0) {
        // Complete integral: RF(x, y, 0) = π / (2·AGM(√x, √y)); a NaN ends the loop.
        // The disc and ring lanes (models/disc_ring_lanes.inc) repeat this
        // loop in the same order for RF(0, y, 1); the bit-for-bit tests
        // (tests/cpp/test_disc_ring_lanes.cpp) guard it.
        double a = std::sqrt(x);
        double b = std::sqrt(y);
        while (std::fabs(a - b) >= AGM_TOLERANCE * std::fabs(a)) {
            const double t = std::sqrt(b * a);
            a = (b + a) * 0.5;
            b = t;
        }
        return PI / (a + b);
    }

    const double A0 = (x + y + z) / 3.0;
    double Q = RF_STOP_SCALE *
               nan_ignoring_max(nan_ignoring_max(nan_ignoring_max(std::fabs(A0), std::fabs(A0 - x)),
                                                 std::fabs(A0 - y)),
                                std::fabs(A0 - z));
    double A = A0;
    double xn = x, yn = y, zn = z;
    double f = 1.0;
    bool converged = false;
    for (int step = 0; step < RF_MAX_STEPS; ++step) {
        const double sx = std::sqrt(xn), sy = std::sqrt(yn), sz = std::sqrt(zn);
        const double lambda = sx * sy + sx * sz + sy * sz;
        A = (A + lambda) / 4.0;
        xn = (xn + lambda) / 4.0;
        yn = (yn + lambda) / 4.0;
        zn = (zn + lambda) / 4.0;
        Q = Q / 4.0;
        f = 4.0 * f;
        if (Q < std::fabs(A)) {
            converged = true;
            break;
        }
    }
    if (!converged) {
        return RF_NO_CONVERGENCE;
    }

    const double X = (A0 - x) / (A * f);
    const double Y = (A0 - y) / (A * f);
    const double Z = -X - Y;
    const double E2 = X * Y - Z * Z;
    const double E3 = X * Y * Z;
    return (1.0 + E3 * (0.07142857142857142 + 3.0 * E3 / 104.0)
            + E2 * (E2 / 24.0 - 0.1 - 3.0 * E3 / 44.0 - 5.0 * E2 * E2 / 208.0 + E2 * E3 * 0.0625))
           / std::sqrt(A);
}

}  // namespace lumevaro
