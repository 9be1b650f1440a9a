// Pieces shared by the duplication algorithms of RF, RD and RJ
// (B. C. Carlson, "Numerical computation of real or complex elliptic
// integrals", Numerical Algorithms 10, 1995).
#pragma once

#include "elliptic/outcome.hpp"
#include "numeric/target_region.hpp"

namespace lumevaro::carlson {

inline constexpr double PI = 3.141592653589793;
inline constexpr double PI_2 = 1.5707963267948966;
inline constexpr double THREE_PI = 9.42477796076938;

// 2.7·ε: relative stopping threshold of the AGM iterations (RF and RD with a
// zero argument).
inline constexpr double AGM_TOLERANCE = 5.995204332975846e-16;

// Stopping scales of the duplication loops: (3ε)^(-1/8) for RF, (ε/4)^(-1/8)
// for RD (used with a further factor 1.2), (ε/5)^(-1/8) for RJ.
inline constexpr double RF_STOP_SCALE = 78.8959690786408;
inline constexpr double RD_STOP_SCALE = 107.63474115247546;
inline constexpr double RD_STOP_FACTOR = 1.2;
inline constexpr double RJ_STOP_SCALE = 110.67925377307274;

// Most duplication steps before a routine reports that it failed to converge.
inline constexpr int RF_MAX_STEPS = 11;
inline constexpr int RD_MAX_STEPS = 50;
inline constexpr int RJ_MAX_STEPS = 100;

#include "elliptic/carlson/closing_series.inc"

// RJ's starting quantities: the mean A0 = (x + y + z + 2p)/5, the product
// δ = (p − x)(p − y)(p − z) and the stopping scale Q.
struct RjStart {
    double A0;
    double delta;
    double Q;
};
RjStart rj_start(double x, double y, double z, double p) noexcept;

// RC(1, 1 + E) of one duplication step of RJ, E = δ_k/D², formed without
// cancellation from the step's square roots where 1 + E is small.
Real rj_rc_term(double E, double rp, double rx, double ry, double rz, double pn,
                double D) noexcept;

// RJ's duplication loop and closing series from those quantities, with no
// test ahead of the loop: every step runs until convergence, a failing RC or
// the step cap.
Real rj_duplication(double x, double y, double z, double p, const RjStart& start) noexcept;

}  // namespace lumevaro::carlson
