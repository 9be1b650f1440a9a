// The uniform-disc magnification of one separation, and of many at once.
//
// WittMaoDisc holds everything that depends on the source radius ρ alone;
// witt_mao_value is the formula for one separation (witt_mao.cpp), the
// reference; witt_mao_lanes evaluates the same operations over SIMD lanes for
// the separations whose every step takes the common path (no limb band, no
// rare branch of K, E, Π, RF or RJ, no failure), and leaves the others to
// witt_mao_value, so that every value has the reference's bits.
#pragma once

#include <cstddef>
#include <vector>

#include "elliptic/outcome.hpp"
#include "numeric/instruction_set.hpp"

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

// Overwrites magnifications[i] (holding the separation on entry) with its
// magnification for every lane it computes, and appends, in increasing
// order, the index of every separation it leaves to witt_mao_value. Whole
// groups of the set's lane count only: the rest of the list is left too.
// With InstructionSet::scalar it leaves everything.
void witt_mao_lanes(InstructionSet set, double* magnifications, std::size_t count,
                    const WittMaoDisc& disc, std::vector<std::size_t>& left);

// Lanes per group for each set (1 for scalar).
std::size_t witt_mao_lane_count(InstructionSet set) noexcept;

}  // namespace lumevaro
