// The uniform-disc magnification of one separation, and of many at once.
//
// WittMaoDisc holds everything that depends on the source radius ρ alone;
// witt_mao_value is the formula for one separation (witt_mao.cpp), the
// reference that witt_mao_lanes (disc_ring_lanes.hpp) reproduces over SIMD lanes.
#pragma once

#include "elliptic/outcome.hpp"

namespace lumevaro {

struct WittMaoDisc {
    double rho, rho2;
    double c1, c2, c3, c4, c5, c6, c7;
    // The limb band, EDGE_THRESHOLD source radii wide on each side, in
    // Einstein radii. A NaN ρ gives a NaN band that no δ lies within.
    double band;
};

WittMaoDisc witt_mao_disc(double rho) noexcept;

Real witt_mao_value(double l, const WittMaoDisc& disc) noexcept;

}  // namespace lumevaro
