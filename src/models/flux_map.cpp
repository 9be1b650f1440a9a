// Profile-weighted magnifications with a brightness profile tabulated by the
// caller: radii bl (fractions of the source radius) and brightnesses bf.
//
// The integrated forms read the profile by linear interpolation in the table,
// dark outside [bl₀, bl_last], and normalise by its flux ∫₀¹ 2πx S(x) dx as
// the radial quadrature gives it. The discrete form treats every row as a
// thin ring and returns Σⱼ A_ring(l, blⱼ)·bfⱼ, with no further weighting: the
// caller's bf carries the ring weights and the normalisation.
#include <cstddef>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "models/disc_ring_lanes.hpp"
#include "models/integrated.hpp"
#include "models/internal_failure.hpp"
#include "models/models.hpp"
#include "numeric/interp.hpp"

namespace lumevaro {

namespace {

constexpr OutsideMode DARK_OUTSIDE = OutsideMode::constant(0.0);

// S(r) interpolated in the table (borrowed, not copied).
auto tabulated_profile(std::span<const double> bl, std::span<const double> bf) {
    return [bl, bf](double r) { return interp(bl, bf, r, DARK_OUTSIDE); };
}

// A radius and a brightness per row: a table whose two columns differ in
// length is a fault of the caller that no result can represent.
void assert_same_length(std::size_t left, std::size_t right) {
    if (left == right) return;
    std::string message = "assertion `left ";
    message += "==";
    message += " right` failed\n  left: ";
    message += std::to_string(left);
    message += "\n right: ";
    message += std::to_string(right);
    throw InternalFailure(std::move(message));
}

}  // namespace

ListOutcome integrated_flux_map_witt_mao_magnification(
    Separations l, double re, double rstar, std::vector<double> bl, std::vector<double> bf) {
    assert_same_length(bl.size(), bf.size());
    const auto profile = tabulated_profile(bl, bf);
    const double flux = profile_flux(profile);
    return _integrated_witt_mao_magnification(std::move(l), re, rstar, profile, flux);
}

Magnifications integrated_flux_map_heyrovsky_magnification(
    Separations l, double re, double rstar, std::vector<double> bl, std::vector<double> bf) {
    assert_same_length(bl.size(), bf.size());
    const auto profile = tabulated_profile(bl, bf);
    const double flux = profile_flux(profile);
    return _integrated_heyrovsky_magnification(std::move(l), re, rstar, profile, flux);
}

ListOutcome discrete_flux_map_heyrovsky_magnification(
    Separations l, double re, double rstar, std::vector<double> bl, std::vector<double> bf) {
    assert_same_length(bl.size(), bf.size());
    Magnifications magnifications = std::move(l);
    // Σⱼ A_ring(l, blⱼ)·bfⱼ over one separation, written over it (which is
    // left as it was when a ring fails).
    const auto ring_sum = [&](double& element) -> Real {
        const double separation = element;
        double sum = 0.0;
        for (std::size_t j = 0; j < bl.size(); ++j) {
            const Real ring = heyrovsky_magnification(separation, bl[j], re, rstar);
            if (!ring) return ring.failure();
            sum = sum + ring.value() * bf[j];
        }
        element = sum;
        return sum;
    };
    const InstructionSet set = active_instruction_set();
    if (set == InstructionSet::scalar || magnifications.size() < lane_count(set)) {
        for (std::size_t i = 0; i < magnifications.size(); ++i) {
            const Real sum = ring_sum(magnifications[i]);
            if (!sum) return SeparationFailure{sum.failure(), i, magnifications[i]};
        }
        return magnifications;
    }
    // Groups of separations on SIMD lanes first; the separations they leave
    // (a failing ring, the tail) one by one in list order, which finds the
    // first failure of the list, as the lanes never report one.
    std::vector<std::size_t> left;
    ring_sum_lanes(set, magnifications.data(), magnifications.size(), re, rstar, bl.data(),
                   bf.data(), bl.size(), left);
    for (const std::size_t i : left) {
        const Real sum = ring_sum(magnifications[i]);
        if (!sum) return SeparationFailure{sum.failure(), i, magnifications[i]};
    }
    return magnifications;
}

}  // namespace lumevaro
