// RJ(x, y, z, p) = 3/2 ∫₀^∞ [(t + x)(t + y)(t + z)]^(-1/2) (t + p)^(-1) dt,
// Carlson's symmetric integral of the third kind, for x, y, z ≥ 0 with at most
// one of them zero and p ≠ 0; for p < 0 its Cauchy principal value.
//
// Method (Carlson 1995, sections 2 and 4):
// - coinciding arguments reduce to RC and RD in closed form;
// - p < 0 maps to p′ = ((x + y − p)z − xy)/(z − p) > 0 (with x ≤ y ≤ z) by
//   (z − p) RJ(x, y, z, p) = (p′ − z) RJ(x, y, z, p′) − 3RF(x, y, z)
//                            + 3 √(xyz/(xy − p p′)) RC(xy − p p′, −p p′);
// - otherwise `_elliprj` applies the duplication theorem
//   RJ = 6 Σ_k 4^(-k) RC(1, 1 + δ_k/D_k²)/D_k + 4^(-n) RJ(x_n, y_n, z_n, p_n),
//   D_k = (√p + √x)(√p + √y)(√p + √z), δ_k = (p − x)(p − y)(p − z)/64^k,
//   closed by the fifth-order series about A = (x + y + z + 2p)/5, at most
//   100 steps.
#include <cmath>
#include <utility>

#include "elliptic/carlson.hpp"
#include "numeric/min_max.hpp"
#include "elliptic/carlson/duplication.hpp"

namespace lumevaro {

namespace {
constexpr Failure RJ_DOMAIN{
    "elliprj: x, y, and z must be non-negative, and at most one can be zero."};
constexpr Failure RJ_ZERO_P{"elliprj: p must be non-zero"};
constexpr Failure RJ_NO_CONVERGENCE{"elliprj: Fail to converge"};
}  // namespace

Real elliprj(double x, double y, double z, double p) noexcept {
    if (nan_ignoring_min(nan_ignoring_min(x, y), z) < 0.0) {
        return RJ_DOMAIN;
    }
    if (nan_ignoring_min(nan_ignoring_min(y + z, x + y), x + z) == 0.0) {
        return RJ_DOMAIN;
    }
    if (p == 0.0) {
        return RJ_ZERO_P;
    }

    if (x == y) {
        if (x == z) {
            if (x == p) {
                return 1.0 / (std::sqrt(x) * x);
            }
            // RJ(x, x, x, p) = 3 (RC(x, p) − 1/√x) / (x − p) cancels as ε·x/|x − p|:
            // for p within a factor 1.2 of x (as for y = z below) the
            // duplication is used instead.
            if (!(p > 0.0 && nan_ignoring_max(p, x) / nan_ignoring_min(p, x) <= 1.2)) {
                const Real rc = elliprc(x, p);
                if (!rc) {
                    return rc;
                }
                return (3.0 / (x - p)) * (rc.value() - 1.0 / std::sqrt(x));
            }
        } else {
            std::swap(x, z);  // now y = z
        }
    }
    if (y == z) {
        if (y == p) {
            return elliprd(x, y, y);
        }
        if (nan_ignoring_max(p, y) / nan_ignoring_min(p, y) > 1.2) {
            // RJ(x, y, y, p) = 3 (RC(x, y) − RC(x, p)) / (p − y)
            const Real rc_y = elliprc(x, y);
            if (!rc_y) {
                return rc_y;
            }
            const Real rc_p = elliprc(x, p);
            if (!rc_p) {
                return rc_p;
            }
            return (3.0 / (p - y)) * (rc_y.value() - rc_p.value());
        }
    }
    if (z == p) {
        return elliprd(x, y, z);
    }

    if (p < 0.0) {
        // Principal value: order the arguments so that x ≤ y ≤ z (compare and
        // exchange, well defined even with a NaN among them).
        if (y < x) std::swap(x, y);
        if (z < y) std::swap(y, z);
        if (y < x) std::swap(x, y);
        const double pp = ((x + y - p) * z - x * y) / (z - p);
        const Real J = elliprj(x, y, z, pp);
        if (!J) {
            return J;
        }
        const Real F = elliprf(x, y, z);
        if (!F) {
            return F;
        }
        const Real C = elliprc(x * y - p * pp, -p * pp);
        if (!C) {
            return C;
        }
        return ((pp - z) * J.value() - 3.0 * F.value()
                + 3.0 * std::sqrt(x * y * z / (x * y - p * pp)) * C.value())
               / (z - p);
    }

    return _elliprj(x, y, z, p);
}

Real _elliprj(double x, double y, double z, double p) noexcept {
    const carlson::RjStart start = carlson::rj_start(x, y, z, p);
    // A NaN stopping scale Q never lets φ·Q < A hold, so the loop can only
    // end at its step cap or at a failing RC; with a NaN δ every step's E is
    // NaN, which takes none of the RC branches. Both NaN: the outcome is the
    // cap's failure, known before the first step. (A ring of negative radius
    // in the radial derivative arrives here with NaN arguments.)
    if (std::isnan(start.Q) && std::isnan(start.delta)) {
        return RJ_NO_CONVERGENCE;
    }
    return carlson::rj_duplication(x, y, z, p, start);
}

namespace carlson {

// The disc and ring lanes (models/disc_ring_lanes.inc) repeat rj_start's and
// rj_duplication's operations in the same order for RJ(0, y, 1, p), and
// rj_rc_term's for E > 0 (other E call it lane by lane); the bit-for-bit
// tests (tests/cpp/test_disc_ring_lanes.cpp) guard them.
RjStart rj_start(double x, double y, double z, double p) noexcept {
    const double A0 = (x + y + z + 2.0 * p) / 5.0;
    const double delta = (p - x) * (p - y) * (p - z);
    const double Q =
        RJ_STOP_SCALE *
        nan_ignoring_max(nan_ignoring_max(nan_ignoring_max(std::fabs(A0 - x), std::fabs(A0 - y)),
                                          std::fabs(A0 - z)),
                         std::fabs(A0 - p));
    return RjStart{A0, delta, Q};
}

Real rj_rc_term(double E, double rp, double rx, double ry, double rz, double pn,
                double D) noexcept {
    double rc_term;
    if (-1.5 < E && E < -0.5) {
        // 1 + E is formed without cancellation as b.
        const double b = 2.0 * rp * (pn + rx * (ry + rz) + ry * rz) / D;
        const Real rc = elliprc(1.0, b);
        if (!rc) {
            return rc;
        }
        rc_term = rc.value();
    } else if (E < -1.0) {
        const Real rc = elliprc(-E, -1.0 - E);
        if (!rc) {
            return rc;
        }
        rc_term = std::sqrt(-1.0 / E) * rc.value();
    } else if (E == 0.0) {
        rc_term = 1.0;
    } else if (E > 0.0) {
        rc_term = std::atan(std::sqrt(E)) / std::sqrt(E);
    } else if (E > -0.5) {
        const double s = std::sqrt(-E);
        rc_term = (std::log1p(s) - std::log1p(-s)) / (2.0 * s);
    } else {
        const double s = std::sqrt(-E);
        rc_term = std::log((1.0 + s) / std::sqrt(1.0 + E)) / s;
    }
    return rc_term;
}

Real rj_duplication(double x, double y, double z, double p, const RjStart& start) noexcept {
    const double A0 = start.A0;
    double delta = start.delta;
    const double Q = start.Q;
    double A = A0;
    double xn = x, yn = y, zn = z, pn = p;
    double phi = 1.0;
    double S = 0.0;
    bool converged = false;
    for (int step = 0; step < RJ_MAX_STEPS; ++step) {
        const double rx = std::sqrt(xn), ry = std::sqrt(yn), rz = std::sqrt(zn), rp = std::sqrt(pn);
        const double D = (rp + rx) * (rp + ry) * (rp + rz);
        const double E = delta / (D * D);

        // This step's term (φ/D)·RC(1, 1 + E).
        const Real rc_term = rj_rc_term(E, rp, rx, ry, rz, pn, D);
        if (!rc_term) {
            return rc_term;
        }
        S = S + (phi / D) * rc_term.value();

        const double lambda = rx * ry + rx * rz + ry * rz;
        A = (A + lambda) / 4.0;
        phi = phi / 4.0;
        if (phi * Q < A) {
            converged = true;
            break;
        }
        xn = (xn + lambda) / 4.0;
        yn = (yn + lambda) / 4.0;
        zn = (zn + lambda) / 4.0;
        pn = (pn + lambda) / 4.0;
        delta = delta / 64.0;
    }
    if (!converged) {
        return RJ_NO_CONVERGENCE;
    }

    const double X = phi * (A0 - x) / A;
    const double Y = phi * (A0 - y) / A;
    const double Z = phi * (A0 - z) / A;
    const double P = (-X - Y - Z) / 2.0;
    const double E2 = X * Y + X * Z + Y * Z - 3.0 * P * P;
    const double E3 = X * Y * Z + 2.0 * E2 * P + 4.0 * P * P * P;
    const double E4 = (2.0 * X * Y * Z + E2 * P + 3.0 * P * P * P) * P;
    const double E5 = X * Y * Z * P * P;
    return phi * std::pow(A, -1.5) * closing_series(E2, E3, E4, E5) + 6.0 * S;
}

}  // namespace carlson

}  // namespace lumevaro
