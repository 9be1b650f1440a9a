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
#include <type_traits>

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
// Four discs at once on AVX2 lanes, eight on AVX-512's (numeric/
// vector_lanes.hpp): lane by lane the same IEEE operations in the same order
// as uniform_disc (no fused multiply-add: the build forbids contraction),
// through the same Landen loop compiled for the lanes, so every lane gives
// uniform_disc's bits. Lanes on the edge, or whose complements underflow, go
// one by one. Only where the build has the x86 lanes. (The loop's time is
// the latency of its square roots and divisions: on a processor that splits
// AVX-512 into two halves, eight lanes still take a third less time a disc
// than four.)
#if defined(LUMEVARO_X86_LANES)
LUMEVARO_TARGET_AVX2_BEGIN
namespace {
namespace avx2 {
using namespace vector_lanes::avx2;

#include "models/limb_darkening/disc_lanes.inc"

}  // namespace avx2
}  // namespace
LUMEVARO_TARGET_END

// The same on AVX-512's eight lanes.
LUMEVARO_TARGET_AVX512_BEGIN
namespace {
namespace avx512 {
using namespace vector_lanes::avx512;

#include "models/limb_darkening/disc_lanes.inc"

}  // namespace avx512
}  // namespace
LUMEVARO_TARGET_END

namespace {
// The lanes the dispatch (numeric/instruction_set.hpp) runs the discs on,
// so that LUMEVARO_SIMD and force_instruction_set govern them as they govern
// every other kernel: AVX-512's eight, AVX2's four, or none (one by one).
// Outside the vector regions: it runs on every processor, before any of
// their code.
enum class DiscLanes { none, avx2, avx512 };
DiscLanes disc_lanes() noexcept {
    const InstructionSet set = active_instruction_set();
    return set >= InstructionSet::avx512 ? DiscLanes::avx512
           : set >= InstructionSet::avx2 ? DiscLanes::avx2
                                         : DiscLanes::none;
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
               std::span<Result> out, double agreement, [[maybe_unused]] std::size_t w,
               [[maybe_unused]] Group group, One one) {
    std::size_t i = 0;
    if constexpr (!std::is_same_v<Group, std::nullptr_t>) {
        for (; w != 0 && i + w <= out.size(); i += w) group(&u[i], &s[i], &delta[i], &out[i], agreement);
        if (w != 0 && out.size() - i >= 2) {
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
    for (; i < out.size(); ++i) out[i] = one(u[i], s[i], delta[i], agreement);
}

}  // namespace

void uniform_discs(std::span<const double> u, std::span<const double> s, std::span<const double> delta,
                   std::span<double> discs, double agreement) noexcept {
#if defined(LUMEVARO_X86_LANES)
    static_assert(avx2::W <= 8 && avx512::W <= 8);  // by_groups' padding
    switch (disc_lanes()) {
        case DiscLanes::avx512: return by_groups(u, s, delta, discs, agreement, avx512::W, avx512::disc_group, uniform_disc);
        case DiscLanes::avx2: return by_groups(u, s, delta, discs, agreement, avx2::W, avx2::disc_group, uniform_disc);
        case DiscLanes::none: break;
    }
#endif
    by_groups(u, s, delta, discs, agreement, 0, nullptr, uniform_disc);
}

void uniform_disc_gradients(std::span<const double> u, std::span<const double> s, std::span<const double> delta,
                            std::span<DiscGradient> discs, double agreement) noexcept {
#if defined(LUMEVARO_X86_LANES)
    switch (disc_lanes()) {
        case DiscLanes::avx512:
            return by_groups(u, s, delta, discs, agreement, avx512::W, avx512::disc_gradient_group,
                             uniform_disc_gradient);
        case DiscLanes::avx2:
            return by_groups(u, s, delta, discs, agreement, avx2::W, avx2::disc_gradient_group, uniform_disc_gradient);
        case DiscLanes::none: break;
    }
#endif
    by_groups(u, s, delta, discs, agreement, 0, nullptr, uniform_disc_gradient);
}

}  // namespace lumevaro::limb_darkening
