// The uniform disc and the thin ring of the seven first functions (witt_mao_*,
// the Heyrovský ring and its flux-map sums) over SIMD lanes: many
// separations (or ring radii) at once, each with the bits of the one-by-one
// routine (witt_mao_value, heyrovsky_magnification). A lane is computed on the vector path when every
// step of its value takes the common path of K, E, Π, RF and RJ (no limb or
// ring band, no rare branch, no failure); any other is left to, or computed
// by, the one-by-one routine. Whole groups of the set's lane count only; with
// InstructionSet::scalar nothing runs on lanes. (The limb-darkened models'
// disc has lanes of its own: limb_darkening/uniform_disc.cpp.)
#pragma once

#include <cstddef>
#include <vector>

#include "models/witt_mao.hpp"
#include "numeric/instruction_set.hpp"

namespace lumevaro {

// Lanes per group for each set (1 for scalar).
std::size_t lane_count(InstructionSet set) noexcept;

// Overwrites magnifications[i] (holding the separation on entry) with its
// uniform-disc magnification for every lane it computes, and appends, in
// increasing order, the index of every separation it leaves to
// witt_mao_value, the list's tail included.
void witt_mao_lanes(InstructionSet set, double* magnifications, std::size_t count,
                    const WittMaoDisc& disc, std::vector<std::size_t>& left);

// Overwrites sums[i] (holding the separation on entry) with
// Σⱼ A_ring(sums[i], bl[j])·bf[j], summed in j order, and appends the index of
// every separation it leaves (one of its rings failed, or the tail).
void ring_sum_lanes(InstructionSet set, double* sums, std::size_t count, double re, double rstar,
                    const double* bl, const double* bf, std::size_t rings,
                    std::vector<std::size_t>& left);

// out[i] = heyrovsky_magnification(l, r[i], re, rstar), NaN where it fails.
void ring_lanes(InstructionSet set, double l, const double* r, std::size_t count, double re,
                double rstar, double* out);

// For the tests of the lanes' certified elementary functions: out[i] =
// pow(x[i], -1.5) (power) or atan(x[i]), with the library's bits on every
// lane, certified on the lanes or computed by the library; returns how many
// the lanes certified.
std::size_t certified_lanes(InstructionSet set, bool power, const double* x, double* out,
                            std::size_t count);

}  // namespace lumevaro
