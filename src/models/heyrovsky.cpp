// Magnification of a thin, uniformly bright ring of the source by a
// point-mass lens, after Heyrovsky: the mean of the point-source
// magnification A_pt(x) = (x² + 2)/(x√(x² + 4)) over a ring of radius r whose
// centre lies at separation l from the lens,
//
//   A = (1/2π) ∫₀^{2π} A_pt(|l + r e^{iφ}|/η) dφ,
//
// all lengths in source radii, η the Einstein radius. In closed form, with
// δ = r − l,
//
//   A = 4 (2η² K(m) + δ² Π(n, m)) / (2π (l + r) √(δ² + 4η²)),
//   n = 4lr/(l + r)²,  m = 16η² lr/((l + r)²(δ² + 4η²)).
//
// As the lens approaches the ring n and m tend to 1 together; within
// EDGE_THRESHOLD of the ring the expansion to first order in δ replaces the
// elliptic form:
//
//   A = (1/2π) [ δη(2l² + η²)/(l²(l² + η²))
//              + (2η/l)(1 − δ/(2l)) ln(8ηl/(|δ|√(l² + η²))) + 4 arctan(l/η) ],
//
// infinite (logarithmically) with the lens on the ring.
//
// The operations below are written in the order and grouping that fix the
// rounding of the result.
#include <cmath>

#include "elliptic/legendre.hpp"
#include "models/constants.hpp"
#include "models/models.hpp"

namespace lumevaro {

// ring_values (models/disc_ring_lanes.inc) repeats this routine's operations
// off the ring band in the same order on SIMD lanes, and the bit-for-bit
// tests (tests/cpp/test_disc_ring_lanes.cpp) hold every lane to this
// routine's bits: change the two together.
Real heyrovsky_magnification(double l, double r, double re, double rstar) {
    using models::TWO_PI;

    const double eta = re / rstar;
    const double delta = r - l;
    const double eta2 = eta * eta;

    if (std::fabs(delta) < EDGE_THRESHOLD) {
        const double l2 = l * l;
        const double t = delta / (l + l);
        const double c = (eta + eta) / l;
        const double w = l2 + eta2;
        const double b = (1.0 - t) * c;
        const double log_term = std::log(((eta * 8.0) * l) / (std::fabs(delta) * std::sqrt(w)));
        const double t1 = delta * ((eta * ((l2 + l2) + eta2)) / (l2 * w));
        const double t2 = b * log_term;
        const double t3 = std::atan(l / eta) * 4.0;
        return (t1 + (t2 + t3)) / TWO_PI;
    }

    const double delta2 = delta * delta;
    const double sigma = l + r;
    const double w = delta2 + eta2 * 4.0;
    const double k = ((eta * 4.0) / sigma) * std::sqrt((l * r) / w);
    const double m = k * k;
    const Real kk = ellipk(m);
    if (!kk) return kk.failure();
    const double n = ((l * 4.0) * r) / (sigma * sigma);
    const Real p = ellippi(n, m);
    if (!p) return p.failure();
    return ((4.0 / (sigma * std::sqrt(w))) * ((eta2 + eta2) * kk.value() + delta2 * p.value())) /
           TWO_PI;
}

}  // namespace lumevaro
