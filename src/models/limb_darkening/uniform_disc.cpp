// Witt & Mao's uniform-disc magnification (ApJ 430, 505, 1994),
//
//   A = (1/π) [ σq/(2s²) E(m) − δ(8 + δσ)/(2s²q) K(m) + 2δ²(1 + s²)/(s²σq) Π(n, m) ],
//   δ = u − s, σ = u + s, q = √(4 + δ²), n = 4us/σ², m = 4n/q²,
//
// evaluated through the complements of n and m, which are formed from δ
// without cancellation:
//
//   1 − n = (δ/σ)²,   1 − m = δ² (1 + 4/σ²) / (4 + δ²).
//
// With kc = √(1 − m), the K and E terms are one Bulirsch integral,
// αK + βE = cel(kc, 1, α + β, α + βkc²), and the Π term another,
// γΠ = cel(kc, 1 − n, γ, γ). Both run the same Landen sequence of kc, so
// they are carried through one loop (see cel.cpp for the method); the
// quotients by p are taken as products with 1/p. Near the edge (δ → 0) K grows like ln(1/|δ|)
// and Π like 1/|δ|, but their coefficients vanish as δ and δ², so every term
// stays bounded and nothing cancels: the error stays at a few ulp down to
// |δ|/s ≈ 1e-300. (Forming 1 − m by subtraction instead loses all digits at
// |δ|/s ≈ 1e-8.) For u ≫ s the E and K terms cancel as (u/s)², the price of
// the closed form; the far-field series takes over there.
#include "models/limb_darkening/uniform_disc.hpp"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstddef>
#include <cstring>
#include <limits>

#include "models/constants.hpp"
#include "models/limb_darkening/far_field.hpp"
#include "numeric/instruction_set.hpp"
#include "numeric/target_region.hpp"
#include "numeric/vector_lanes.hpp"

namespace lumevaro::limb_darkening {

namespace {

// Beyond this ratio u/s the closed form's cancellation, ε(u/s)², would pass 1e-10.
constexpr double SMALL_DISC = 1e3;

// ⟨r^{2k}⟩ of a uniform disc: 1/(k + 1).
constexpr std::array<double, FAR_FIELD_TERMS> UNIFORM_DISC_MOMENTS = [] {
    std::array<double, FAR_FIELD_TERMS> moments{};
    for (int k = 0; k < FAR_FIELD_TERMS; ++k) moments[k] = 1.0 / (k + 1);
    return moments;
}();
constexpr int MAX_STEPS = 64;

// What the Landen loop needs of its number type, for a double: its live
// flag is a bool.
LUMEVARO_ALWAYS_INLINE double root(double x) { return std::sqrt(x); }
LUMEVARO_ALWAYS_INLINE double magnitude(double x) { return std::fabs(x); }
LUMEVARO_ALWAYS_INLINE bool still_live(bool live, bool converged) { return live && !converged; }
LUMEVARO_ALWAYS_INLINE bool any_live(bool live) { return live; }

#include "models/limb_darkening/disc_kernel.inc"

// A disc the closed form does not take: on the edge, with complements
// that underflow (|δ| ≲ 1e-154 σ, where the disc differs from its edge value
// by about |δ| ln|δ|: nothing), or far smaller than its distance, where the
// closed form would cancel as (u/s)² and the series about the point source
// needs two or three terms. Its value, and the series for the derivatives.
// The AVX2 disc lanes below (avx2::group) repeat these checks in the same
// order, then run the same closed_form (disc_kernel.inc) compiled for the
// lanes; the bit-for-bit test UniformDisc.EverySetsLanesGiveTheBitsOfOneByOne
// (tests/cpp/test_limb_darkening.cpp) guards both.
bool special_disc(double u, double s, double delta) {
    if (delta == 0.0 || u > SMALL_DISC * s) return true;
    const double sigma = u + s;
    const double delta2 = delta * delta;
    const double kc2 = delta2 * (1.0 + 4.0 / (sigma * sigma)) / (4.0 + delta2);
    const double ratio = delta / sigma;
    return kc2 == 0.0 || ratio * ratio == 0.0;
}

DiscGradient special_disc_gradient(double u, double s) {
    if (u > SMALL_DISC * s) {
        const FarFieldSeries series = far_field_series(u / s, s);
        const FarFieldSlopes slopes = far_field_slopes(series, u / s, s, UNIFORM_DISC_MOMENTS);
        return DiscGradient{far_field_sum(series, UNIFORM_DISC_MOMENTS), slopes.d_u, slopes.d_rho};
    }
    constexpr double INFINITE = std::numeric_limits<double>::infinity();
    return DiscGradient{uniform_disc_on_edge(s), -INFINITE, INFINITE};
}

}  // namespace

double uniform_disc(double u, double s, double delta, double agreement) noexcept {
    if (special_disc(u, s, delta)) return special_disc_gradient(u, s).value;
    return closed_form<false>(u, s, delta, true, 1.0, agreement)[0];
}

DiscGradient uniform_disc_gradient(double u, double s, double delta, double agreement) noexcept {
    if (special_disc(u, s, delta)) return special_disc_gradient(u, s);
    const std::array<double, 3> terms = closed_form<true>(u, s, delta, true, 1.0, agreement);
    return DiscGradient{terms[0], u == 0.0 ? 0.0 : terms[1], terms[2]};
}

// On the edge the K and Π terms vanish and m = 1:
//   A = (1/π) [2/s + ((1 + s²)/s²)(π/2 + arcsin((s² − 1)/(s² + 1)))],
// where π/2 + arcsin((s² − 1)/(s² + 1)) = 2 arctan s. (Written with the
// arcsine, the sum cancels for small s and loses digits as 1/s.)
double uniform_disc_on_edge(double s) noexcept {
    using models::PI;
    const double s2 = s * s;
    return (2.0 / s + ((1.0 + s2) / s2) * (2.0 * std::atan(s))) / PI;
}

// ---------------------------------------------------------------------------
// Four discs at once on AVX2 lanes (numeric/vector_lanes.hpp): lane by lane
// the same IEEE operations in the same order as uniform_disc (no fused
// multiply-add: the build forbids contraction), through the same Landen loop
// compiled for the lanes, so every lane gives uniform_disc's bits. Lanes on
// the edge, or whose complements underflow, go one by one. Only where the
// build has the x86 lanes.
#if defined(LUMEVARO_X86_LANES)
LUMEVARO_TARGET_AVX2_BEGIN
namespace {
namespace avx2 {
using namespace vector_lanes::avx2;

// What the Landen loop needs of the lanes; a lane is live while its mask is
// all ones.
[[gnu::always_inline]] inline V root(V x) { return vsqrt(x); }
[[gnu::always_inline]] inline V magnitude(V x) { return vabs(x); }
[[gnu::always_inline]] inline M still_live(M live, M converged) { return live & ~converged; }
[[gnu::always_inline]] inline bool any_live(M live) { return any(live); }

#include "models/limb_darkening/disc_kernel.inc"

// Lanes on the edge, whose complements underflow or far from the disc go
// one by one (the checks are special_disc's, on the lanes).
template <bool Gradient, class Result, class OneByOne>
void group(const double* u, const double* s, const double* delta, Result* out, double agreement,
           OneByOne&& one_by_one) {
    V U, S, D;
    std::memcpy(&U, u, sizeof U);
    std::memcpy(&S, s, sizeof S);
    std::memcpy(&D, delta, sizeof D);
    const V sigma = U + S;
    const V delta2 = D * D;
    const V kc2 = delta2 * (1.0 + 4.0 / (sigma * sigma)) / (4.0 + delta2);
    const V ratio = D / sigma;
    const M special = (D == 0.0) | (kc2 == 0.0) | (ratio * ratio == 0.0) | (U > SMALL_DISC * S);
    if (any(special)) {
        for (int i = 0; i < W; ++i) out[i] = one_by_one(u[i], s[i], delta[i], agreement);
        return;
    }
    const auto terms = closed_form<Gradient>(U, S, D, ~M{}, splat(1.0), agreement);
    if constexpr (Gradient) {
        for (int i = 0; i < W; ++i) out[i] = DiscGradient{terms[0][i], u[i] == 0.0 ? 0.0 : terms[1][i], terms[2][i]};
    } else {
        std::memcpy(out, &terms[0], sizeof terms[0]);
    }
}

void disc_group(const double* u, const double* s, const double* delta, double* discs, double agreement) {
    group<false>(u, s, delta, discs, agreement, uniform_disc);
}

void disc_gradient_group(const double* u, const double* s, const double* delta, DiscGradient* discs,
                         double agreement) {
    group<true>(u, s, delta, discs, agreement, uniform_disc_gradient);
}

}  // namespace avx2
}  // namespace
LUMEVARO_TARGET_END

namespace {
// Discs per group: AVX2's 4 when the dispatch (numeric/instruction_set.hpp)
// runs AVX2 or wider, so that LUMEVARO_SIMD and force_instruction_set govern
// the discs as they govern every other kernel (AVX-512 runs the AVX2 lanes:
// there is no wider disc kernel); else 0, one by one. Outside the AVX2
// region: it runs on every processor, before any AVX2 code.
std::size_t disc_lanes() noexcept {
    return active_instruction_set() >= InstructionSet::avx2 ? avx2::W : 0;
}
}  // namespace
#endif

namespace {

// The discs of a batch by groups of lanes, when the dispatch runs them: a
// tail of two or more is padded with copies of its last disc and run as a
// group too (each lane's bits are the one-by-one routine's, so the padding
// changes nothing but the time); the rest one by one.
template <class Result, class Group, class One>
void by_groups(std::span<const double> u, std::span<const double> s, std::span<const double> delta,
               std::span<Result> out, double agreement, [[maybe_unused]] Group group, One one) {
    std::size_t i = 0;
#if defined(LUMEVARO_X86_LANES)
    if (const std::size_t w = disc_lanes(); w != 0) {
        for (; i + w <= out.size(); i += w) group(&u[i], &s[i], &delta[i], &out[i], agreement);
        if (out.size() - i >= 2) {
            constexpr std::size_t MOST = 8;
            std::array<double, MOST> pu{}, ps{}, pdelta{};
            std::array<Result, MOST> results{};
            for (std::size_t j = 0; j < w; ++j) {
                const std::size_t k = std::min(i + j, out.size() - 1);
                pu[j] = u[k];
                ps[j] = s[k];
                pdelta[j] = delta[k];
            }
            group(pu.data(), ps.data(), pdelta.data(), results.data(), agreement);
            for (; i < out.size(); ++i) out[i] = results[i % w];
        }
    }
#endif
    for (; i < out.size(); ++i) out[i] = one(u[i], s[i], delta[i], agreement);
}

}  // namespace

void uniform_discs(std::span<const double> u, std::span<const double> s, std::span<const double> delta,
                   std::span<double> discs, double agreement) noexcept {
#if defined(LUMEVARO_X86_LANES)
    static_assert(avx2::W <= 8);  // by_groups' padding
    by_groups(u, s, delta, discs, agreement, avx2::disc_group, uniform_disc);
#else
    by_groups(u, s, delta, discs, agreement, nullptr, uniform_disc);
#endif
}

void uniform_disc_gradients(std::span<const double> u, std::span<const double> s, std::span<const double> delta,
                            std::span<DiscGradient> discs, double agreement) noexcept {
#if defined(LUMEVARO_X86_LANES)
    by_groups(u, s, delta, discs, agreement, avx2::disc_gradient_group, uniform_disc_gradient);
#else
    by_groups(u, s, delta, discs, agreement, nullptr, uniform_disc_gradient);
#endif
}

}  // namespace lumevaro::limb_darkening
