// Magnification of a uniformly bright circular source by a point-mass lens
// (Witt & Mao 1994, ApJ 430, 505), in closed form through the complete
// elliptic integrals K(m), E(m) and Π(n, m).
//
// With ρ the source radius and u the lens–source separation, both in Einstein
// radii, δ = u − ρ the distance of the lens from the limb,
//
//   A = (1/π) [ (u + ρ)√(4 + δ²)/(2ρ²) E(m)
//             − δ(8 + u² − ρ²)/(2ρ²√(4 + δ²)) K(m)
//             + 2δ²(1 + ρ²)/(ρ²(u + ρ)√(4 + δ²)) Π(n, m) ],
//   n = 4uρ/(u + ρ)²,  m = 4n/(4 + δ²).
//
// On the limb itself (δ = 0) the K and Π terms vanish and m = 1, and the
// magnification takes the closed value
//
//   A = (1/π) [ 2/ρ + ((1 + ρ²)/ρ²)(π/2 + arcsin((ρ² − 1)/(ρ² + 1))) ].
//
// Near the limb n and m tend to 1 together: 1 − n = (l − 1)²/(l + 1)², with
// l = u/ρ the separation in source radii. The Π term stays of the order of A
// and inherits the rounding of n as a relative error of about ε/(l − 1)²,
// which depends on l alone, not on ρ. So within EDGE_THRESHOLD source radii of
// the limb, |δ| ≤ EDGE_THRESHOLD·|ρ|, the limb value stands in for the
// magnification, which changes by less than 1e-4 relative across that band;
// just outside it the general formula is good to a few parts in 10⁶.
//
// The operations below are written in the order and grouping that fix the
// rounding of the result.
#include <cmath>
#include <cstddef>
#include <utility>
#include <vector>

#include "elliptic/legendre.hpp"
#include "models/constants.hpp"
#include "models/disc_ring_lanes.hpp"
#include "models/models.hpp"
#include "models/witt_mao.hpp"

namespace lumevaro {

WittMaoDisc witt_mao_disc(double rho) noexcept {
    const double rho2 = rho * rho;
    const double c3 = rho2 + 1.0;
    const double c5 = rho2 + (-1.0);
    return WittMaoDisc{
        .rho = rho,
        .rho2 = rho2,
        .c1 = 2.0 / rho,
        .c2 = rho * 4.0,
        .c3 = c3,
        .c4 = rho2 + rho2,
        .c5 = c5,
        .c6 = c3 / rho2,
        .c7 = c5 / c3,
        .band = EDGE_THRESHOLD * std::fabs(rho),
    };
}

// witt_mao_group (models/disc_ring_lanes.inc) repeats this routine's
// operations off the limb band in the same order on SIMD lanes, and the
// bit-for-bit tests (tests/cpp/test_disc_ring_lanes.cpp) hold every lane to
// this routine's bits: change the two together.
Real witt_mao_value(double li, const WittMaoDisc& disc) noexcept {
    using models::HALF_PI, models::PI, models::TWO_PI;
    const double rho = disc.rho, rho2 = disc.rho2;

    const double u = rho * li;
    const double delta = u - rho;

    if (std::fabs(delta) <= disc.band) {
        return (disc.c1 + disc.c6 * (std::asin(disc.c7) + HALF_PI)) / PI;
    }

    const double delta2 = delta * delta;
    const double sigma = rho + u;
    const double s = std::sqrt(delta2 + 4.0);
    const double n = (disc.c2 * u) / (sigma * sigma);
    // m = 4n/(4 + δ²), formed as the square of the modulus k.
    const double k = std::sqrt(n * 4.0) / s;
    const double m = k * k;

    const Real e = ellipe(m);
    if (!e) return e.failure();
    const Real kk = ellipk(m);
    if (!kk) return kk.failure();
    const Real p = ellippi(n, m);
    if (!p) return p.failure();

    const double term_e = ((sigma * s) / disc.c4) * e.value();
    const double term_k = ((delta * ((u * u - rho2) * 0.5 + 4.0)) / (rho2 * s)) * kk.value();
    const double term_p = ((disc.c3 * (delta2 + delta2)) / ((rho2 * sigma) * s)) * p.value();
    const double h = (term_e - term_k) + term_p;
    // h/π, as two separately rounded quotients.
    return (h + PI) / TWO_PI + (h - PI) / TWO_PI;
}

ListOutcome witt_mao_magnification(Separations l, double re, double rstar) {
    const WittMaoDisc disc = witt_mao_disc(rstar / re);
    // The results replace the separations in place.
    Magnifications magnifications = std::move(l);
    // Bound by the divider and square root, which take as long per lane on
    // AVX-512 as on AVX2, the disc runs about 8 % slower on eight lanes than
    // on four (the lanes left to one-by-one code are more often waited for).
    const InstructionSet set = instruction_set_up_to(InstructionSet::avx2);
    if (magnifications.size() < lane_count(set) || set == InstructionSet::scalar) {
        for (std::size_t i = 0; i < magnifications.size(); ++i) {
            const Real a = witt_mao_value(magnifications[i], disc);
            if (!a) return SeparationFailure{a.failure(), i, magnifications[i]};
            magnifications[i] = a.value();
        }
        return magnifications;
    }
    // The lanes never fail, so the first failure among the separations left
    // to the one-by-one formula is the first in the list.
    std::vector<std::size_t> left;
    witt_mao_lanes(set, magnifications.data(), magnifications.size(), disc, left);
    for (const std::size_t i : left) {
        const Real a = witt_mao_value(magnifications[i], disc);
        if (!a) return SeparationFailure{a.failure(), i, magnifications[i]};
        magnifications[i] = a.value();
    }
    return magnifications;
}

}  // namespace lumevaro
