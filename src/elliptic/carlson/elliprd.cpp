// RD(x, y, z) = 3/2 ∫₀^∞ [(t + x)(t + y)]^(-1/2) (t + z)^(-3/2) dt = RJ(x, y, z, z),
// Carlson's symmetric integral of the second kind, for x, y ≥ 0 with at most
// one of them zero, and z > 0.
//
// Method (Carlson 1995, section 2): closed forms for coinciding arguments;
// for x = 0 an AGM iteration with a correction sum; otherwise the duplication
// theorem
//   RD(x, y, z) = 3 Σ_k 4^(-k) / (√z_k (z_k + λ_k)) + 4^(-n) RD(x_n, y_n, z_n)
// and a fifth-order Taylor series (the closing series shared with RJ) about
// the mean A = (x + y + 3z)/5. The stopping scale uses the signed deviations
// A0 − x, A0 − y, A0 − z with a further factor 1.2; at most 50 steps.
#include <cmath>
#include <utility>

#include "elliptic/carlson.hpp"
#include "numeric/min_max.hpp"
#include "elliptic/carlson/duplication.hpp"

namespace lumevaro {

Real elliprd(double x, double y, double z) noexcept {
    using namespace carlson;
    if (nan_ignoring_min(x, y) < 0.0 || x + y == 0.0) {
        return Failure{"elliprd: x and y must be non-negative, and at most one can be zero."};
    }
    if (z <= 0.0) {
        return Failure{"elliprd: z must be positive"};
    }

    if (x == z) {
        std::swap(x, y);
    }
    if (y == z) {
        if (x == y) {
            return 1.0 / (std::sqrt(x) * x);
        }
        if (x == 0.0) {
            return THREE_PI / (4.0 * y * std::sqrt(y));
        }
    }

    if (x == 0.0) {
        // RD(0, y, z) through the AGM of √y and √z with the correction sum
        // s = Σ 2^k (a_k − b_k)²; a NaN ends the loop.
        const double x0 = std::sqrt(y);
        const double y0 = std::sqrt(z);
        double a = x0, b = y0;
        double s = 0.0, w = 0.25;
        while (std::fabs(a - b) >= AGM_TOLERANCE * std::fabs(a)) {
            const double t = std::sqrt(b * a);
            a = (b + a) * 0.5;
            b = t;
            w = 2.0 * w;
            s = s + w * (a - b) * (a - b);
        }
        const double R = PI / (a + b);
        const double P = (x0 + 3.0 * y0) / (4.0 * z * (x0 + y0));
        return 3.0 * R * (P - s / ((y - z) * z));
    }

    const double A0 = (x + y + 3.0 * z) / 5.0;
    double Q = RD_STOP_FACTOR * RD_STOP_SCALE *
               nan_ignoring_max(nan_ignoring_max(A0 - x, A0 - y), A0 - z);
    double A = A0;
    double xn = x, yn = y, zn = z;
    double phi = 1.0;
    double S = 0.0;
    bool converged = false;
    for (int step = 0; step < RD_MAX_STEPS; ++step) {
        const double rx = std::sqrt(xn), ry = std::sqrt(yn), rz = std::sqrt(zn);
        const double lambda = rx * ry + rx * rz + ry * rz;
        S = S + phi / (rz * (zn + lambda));
        A = (A + lambda) / 4.0;
        Q = Q / 4.0;
        phi = phi / 4.0;
        if (Q < A) {
            converged = true;
            break;
        }
        xn = (xn + lambda) / 4.0;
        yn = (yn + lambda) / 4.0;
        zn = (zn + lambda) / 4.0;
    }
    if (!converged) {
        return Failure{"elliprd: Failed to converge."};
    }

    const double X = phi * (A0 - x) / A;
    const double Y = phi * (A0 - y) / A;
    const double Z = -(X + Y) / 3.0;
    const double E2 = X * Y - 6.0 * Z * Z;
    const double E3 = (3.0 * X * Y - 8.0 * Z * Z) * Z;
    const double E4 = 3.0 * (X * Y - Z * Z) * Z * Z;
    const double E5 = X * Y * Z * Z * Z;
    return phi * std::pow(A, -1.5) * closing_series(E2, E3, E4, E5) + 3.0 * S;
}

}  // namespace lumevaro
