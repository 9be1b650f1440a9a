// The limb-darkened magnification's kernels and their identities: Bulirsch's
// integral against the Legendre integrals, the accurate uniform disc against
// the closed form and at the very edge, the far-field series against the
// disc, the laws' fluxes and moments, and the magnification's own identities
// (uniform law = disc, linear law = flux-weighted mix of the uniform and pure-μ
// profiles, scale invariance, table against law, continuity where the
// method changes).
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

#include "checks.hpp"
#include "elliptic/bulirsch.hpp"
#include "elliptic/legendre.hpp"
#include "models/limb_darkening.hpp"
#include "models/limb_darkening/far_field.hpp"
#include "models/limb_darkening/profile.hpp"
#include "models/limb_darkening/quadrature.hpp"
#include "models/limb_darkening/uniform_disc.hpp"
#include "numeric/instruction_set.hpp"

using namespace lumevaro;
using namespace lumevaro::limb_darkening;
using namespace checks;

namespace {

std::vector<double> magnify(const std::vector<double>& l, double rho, const char* law,
                            std::vector<double> coefficients) {
    Checked<Array> result = limb_darkened_magnification(l, 1.0, rho, law, std::move(coefficients));
    EXPECT_TRUE(result) << result.message();
    return result ? result.value().values() : std::vector<double>(l.size(), NaN);
}

std::vector<double> magnify_table(const std::vector<double>& l, double rho, std::vector<double> bl,
                                  std::vector<double> bf) {
    Checked<Array> result =
        tabulated_limb_darkened_magnification(l, 1.0, rho, std::move(bl), std::move(bf));
    EXPECT_TRUE(result) << result.message();
    return result ? result.value().values() : std::vector<double>(l.size(), NaN);
}

const std::vector<double> SEPARATIONS = {0.0,         1e-9,  1e-3,          0.3,   0.9, 1.0 - 1e-9,
                                         1.0 - 1e-15, 1.0,   1.0 + 1e-15,   1.001, 1.5, 2.4999999,
                                         2.5,         3.0,   10.0,          1e4};
const double RHOS[] = {1e-4, 0.01, 0.1, 1.0, 10.0, 1e3};

}  // namespace

TEST(Cel, GivesTheLegendreIntegrals) {
    for (const double m : {0.0, 0.1, 0.5, 0.9, 0.999999}) {
        const double kc = std::sqrt(1.0 - m);
        expect_rel(cel(kc, 1.0, 1.0, 1.0), value_of(ellipk(m)), 1e-15);
        expect_rel(cel(kc, 1.0, 1.0, kc * kc), value_of(ellipe(m)), 1e-15);
        for (const double n : {-3.0, 0.0, 0.3, 0.9}) {
            expect_rel(cel(kc, 1.0 - n, 1.0, 1.0), value_of(ellippi(n, m)), 2e-15);
        }
    }
    EXPECT_LE(ulps_between(cel(std::sqrt(0.5), 1.0, 1.0, 1.0), 1.8540746773013719), 1);
}

TEST(UniformDisc, AgreesWithTheClosedFormAwayFromTheEdge) {
    // Within a few hundredths of the edge the closed form itself loses
    // digits (to 7e-12 at l = 1.01, ρ = 1); it is the reference elsewhere.
    for (const double rho : RHOS) {
        for (const double l : {0.0, 0.2, 0.7, 1.5, 2.5}) {
            const Outcome<Magnifications> closed = witt_mao_magnification({l}, 1.0, rho);
            expect_rel(uniform_disc(l * rho, rho, (l - 1.0) * rho), value_of(closed)[0], 1e-14);
        }
    }
}

TEST(UniformDisc, StaysExactAtTheEdgeWhereTheClosedFormGivesUp) {
    // 40-digit values of the uniform disc near the limb (tools/gen_model_reference.py).
    struct Case {
        double rho, l, magnification;
    };
    constexpr Case CASES[] = {
        {0.0001, 0.999999, 12732.490314024384797},
        {0.0001, 1.000001, 12732.30066560415113},
        {0.0001, 0.9999901, 12733.189763382411094},
        {0.0001, 1.0000099, 12731.601219667159974},
    };
    for (const Case& c : CASES) {
        expect_rel(uniform_disc(c.l * c.rho, c.rho, (c.l - 1.0) * c.rho), c.magnification, 2e-15);
    }
    // Approaching the edge the disc tends to its edge value, the δ ln δ
    // correction shrinking by a little over 1e3 per 1e3 in δ, down to
    // complements that underflow.
    for (const double rho : RHOS) {
        const double edge = uniform_disc_on_edge(rho);
        double previous = INFINITY;
        for (const double delta : {1e-6, 1e-9, 1e-12, 1e-15, 1e-100, 1e-300}) {
            const double inside = uniform_disc(rho - delta * rho, rho, -delta * rho);
            const double outside = uniform_disc(rho + delta * rho, rho, delta * rho);
            EXPECT_TRUE(std::isfinite(inside) && std::isfinite(outside));
            const double gap = std::fmax(relative_error(inside, edge), relative_error(outside, edge));
            EXPECT_LT(gap, std::fmax(2e-3 * previous, 1e-15)) << rho << " " << delta;
            previous = gap;
        }
    }
}

TEST(UniformDisc, EverySetsLanesGiveTheBitsOfOneByOne) {
    // Random discs of every size, near and on the edge, under every
    // instruction set the processor has (AVX2 and wider run the disc lanes)
    // and one by one.
    std::vector<double> u, s, delta;
    std::uint64_t state = 12345;
    auto uniform01 = [&] {
        state = state * 6364136223846793005ULL + 1442695040888963407ULL;
        return static_cast<double>(state >> 11) * 0x1p-53;
    };
    for (int i = 0; i < 4003; ++i) {
        const double size = std::pow(10.0, 8.0 * (2.0 * uniform01() - 1.0));
        double fraction = (2.0 * uniform01() - 1.0) * std::pow(10.0, -16.0 * uniform01());
        if (i % 97 == 0) fraction = 0.0;
        if (i % 89 == 0) fraction = 1e-300;
        const double d = fraction * size;
        const double centre = std::fmax(size + d, 0.0);
        u.push_back(centre);
        s.push_back(size);
        delta.push_back(centre - size);
    }
    auto bits = [](const DiscGradient& g) { return std::array<double, 3>{g.value, g.d_u, g.d_s}; };
    std::vector<double> single(u.size());
    std::vector<DiscGradient> single_gradients(u.size());
    std::vector<double> law;
    {
        ForcedSet scalar(InstructionSet::scalar);
        uniform_discs(u, s, delta, single);
        uniform_disc_gradients(u, s, delta, single_gradients);
        law = magnify(SEPARATIONS, 0.1, "claret", {0.5, 0.2, 0.1, -0.05});
    }
    for (std::size_t i = 0; i < u.size(); ++i) {
        EXPECT_EQ(single[i], uniform_disc(u[i], s[i], delta[i]));
        // The gradient's value is the disc's.
        EXPECT_EQ(single_gradients[i].value, single[i]);
        EXPECT_EQ(bits(single_gradients[i]), bits(uniform_disc_gradient(u[i], s[i], delta[i])));
    }
    for (const InstructionSet set : VECTOR_SETS) {
        if (!instruction_set_supported(set)) continue;
        SCOPED_TRACE(std::string(instruction_set_name(set)));
        ForcedSet forced(set);
        std::vector<double> lanes(u.size());
        std::vector<DiscGradient> lane_gradients(u.size());
        uniform_discs(u, s, delta, lanes);
        uniform_disc_gradients(u, s, delta, lane_gradients);
        for (std::size_t i = 0; i < u.size(); ++i) {
            EXPECT_EQ(lanes[i], single[i]) << u[i] << " " << s[i];
            EXPECT_EQ(bits(lane_gradients[i]), bits(single_gradients[i])) << u[i] << " " << s[i];
        }
        EXPECT_EQ(magnify(SEPARATIONS, 0.1, "claret", {0.5, 0.2, 0.1, -0.05}), law);
    }
}

TEST(FarField, MatchesTheDiscWhereBothHold) {
    std::array<double, FAR_FIELD_TERMS> uniform{};
    for (int k = 0; k < FAR_FIELD_TERMS; ++k) uniform[k] = 1.0 / (k + 1);
    for (const double rho : RHOS) {
        for (const double l : {2.5, 2.7, 3.0}) {
            expect_rel(far_field_magnification(l, rho, uniform), uniform_disc(l * rho, rho, (l - 1.0) * rho),
                       1e-14);
        }
        // Far out the series is the point source, exactly where the closed form cancels.
        expect_rel(far_field_magnification(1e6, rho, uniform), point_source(1e6 * rho), 1e-15);
    }
}

TEST(Profiles, FluxesAndMomentsInClosedForm) {
    struct Case {
        Law law;
        std::vector<double> c;
        double flux;
    };
    const Case cases[] = {
        {Law::uniform, {}, 1.0},
        {Law::linear, {0.6}, 1.0 - 0.6 / 3.0},
        {Law::quadratic, {0.4, 0.25}, 1.0 - 0.4 / 3.0 - 0.25 / 6.0},
        {Law::square_root, {0.3, 0.4}, 1.0 - 0.3 / 3.0 - 0.4 / 5.0},
        {Law::logarithmic, {0.6, 0.2}, 1.0 - 0.6 / 3.0 + 2.0 * 0.2 / 9.0},
        {Law::power_2, {0.6, 0.6}, 1.0 - 0.6 * 0.6 / 2.6},
        {Law::claret, {0.5, 0.2, 0.1, -0.05}, 1.0 - 0.5 / 5.0 - 0.2 * 2.0 / 6.0 - 0.1 * 3.0 / 7.0 + 0.05 * 4.0 / 8.0},
    };
    for (const Case& c : cases) {
        const RadialProfile profile(c.law, c.c);
        expect_rel(profile.flux(), c.flux, 4e-16);
        expect_rel(profile.intensity(1.0), 1.0, 4e-16);
        // Moments against a fine midpoint sum in r (the integrands are smooth
        // in μ; in r they have a √(1 − r) edge, resolved by the substitution r = 1 − s²).
        std::array<double, 4> moments{};
        profile.normalised_moments(moments);
        EXPECT_EQ(moments[0], 1.0);
        for (int k = 1; k < 4; ++k) {
            const int n = 200000;
            double sum = 0.0;
            for (int i = 0; i < n; ++i) {
                const double s = (i + 0.5) / n;
                const double r = 1.0 - s * s;
                const double mu = std::sqrt((1.0 - r) * (1.0 + r));
                sum += profile.intensity(mu) * 2.0 * std::pow(r, 2 * k + 1) * 2.0 * s / n;
            }
            expect_rel(moments[k], sum / profile.flux(), 1e-9);
        }
    }
}

TEST(LimbDarkened, UniformLawIsTheUniformDisc) {
    // The disc's closed form up to where the far-field series takes over,
    // then the series, within the accuracy asked, out to l = 3.
    const double series_start = limb_darkening::method_for(DEFAULT_RTOL).far_field_start;
    for (const double rho : RHOS) {
        for (const double l : SEPARATIONS) {
            if (l > 3.0) continue;
            expect_rel(magnify({l}, rho, "uniform", {})[0], uniform_disc(l * rho, rho, (l - 1.0) * rho),
                       l < series_start ? 4e-15 : DEFAULT_RTOL);
        }
    }
}

TEST(LimbDarkened, LinearLawIsTheFluxWeightedMixOfUniformAndPureMu) {
    // I = 1 − u(1 − μ) = (1 − u)·1 + u·μ; fluxes 1 and 2/3 (power-2 with c = α = 1 is I = μ).
    const double u = 0.6;
    for (const double rho : RHOS) {
        const auto linear = magnify(SEPARATIONS, rho, "linear", {u});
        const auto uniform = magnify(SEPARATIONS, rho, "uniform", {});
        const auto pure_mu = magnify(SEPARATIONS, rho, "power-2", {1.0, 1.0});
        for (std::size_t i = 0; i < SEPARATIONS.size(); ++i) {
            const double mix = ((1.0 - u) * uniform[i] + u * (2.0 / 3.0) * pure_mu[i]) / (1.0 - u / 3.0);
            expect_rel(linear[i], mix, 1e-11);
        }
    }
}

TEST(LimbDarkened, FarOutItIsThePointSource) {
    for (const double rho : RHOS) {
        const double l = 1e4;
        expect_rel(magnify({l}, rho, "claret", {0.5, 0.2, 0.1, -0.05})[0], point_source(l * rho), 1e-9);
    }
}

TEST(LimbDarkened, SmoothWhereTheMethodChanges) {
    // Near field / far field where the series takes over, and the separations
    // taken as 0.
    const double series_start = limb_darkening::method_for(DEFAULT_RTOL).far_field_start;
    for (const double rho : RHOS) {
        const double below = std::nextafter(series_start, 0.0);
        const auto at_switch = magnify({below, series_start}, rho, "quadratic", {0.4, 0.25});
        expect_rel(at_switch[0], at_switch[1], 1e-12);
        const double tiny = SMALLEST_SEPARATION;
        const auto at_zero = magnify({0.0, tiny, 2.0 * tiny}, rho, "square-root", {0.3, 0.4});
        expect_rel(at_zero[1], at_zero[0], 1e-12);
        expect_rel(at_zero[2], at_zero[0], 1e-12);
    }
}

TEST(Tabulated, ShapeNotScaleMatters) {
    const std::vector<double> bl = {0.0, 0.2, 0.5, 0.8, 0.95, 1.0};
    const std::vector<double> bf = {1.0, 0.97, 0.85, 0.6, 0.4, 0.25};
    std::vector<double> scaled = bf;
    for (double& f : scaled) f *= 1e-7;
    for (const double rho : {0.01, 1.0}) {
        const auto a = magnify_table(SEPARATIONS, rho, bl, bf);
        const auto b = magnify_table(SEPARATIONS, rho, bl, scaled);
        for (std::size_t i = 0; i < a.size(); ++i) expect_rel(b[i], a[i], 4e-15);
    }
}

TEST(Tabulated, AFlatTableIsTheUniformLawAndAFineOneTheLaw) {
    for (const double rho : {1e-3, 0.1, 10.0}) {
        const auto flat = magnify_table(SEPARATIONS, rho, {0.0, 0.3, 1.0}, {2.0, 2.0, 2.0});
        const auto uniform = magnify(SEPARATIONS, rho, "uniform", {});
        for (std::size_t i = 0; i < flat.size(); ++i) expect_rel(flat[i], uniform[i], 1e-11);

        // The quadratic law sampled in r at 400 rows: the linear interpolation
        // errs by O(h²) except in the last row, where I has a √(1 − r) edge.
        std::vector<double> bl, bf;
        const RadialProfile quadratic(Law::quadratic, std::vector<double>{0.4, 0.25});
        for (int j = 0; j <= 400; ++j) {
            const double r = j / 400.0;
            bl.push_back(r);
            bf.push_back(quadratic.intensity(std::sqrt((1.0 - r) * (1.0 + r))));
        }
        const auto table = magnify_table(SEPARATIONS, rho, bl, bf);
        const auto law = magnify(SEPARATIONS, rho, "quadratic", {0.4, 0.25});
        for (std::size_t i = 0; i < table.size(); ++i) expect_rel(table[i], law[i], 2e-4);
    }
}

TEST(Arguments, EveryBadValueIsNamed) {
    auto message = [](Checked<Array> result) { return result ? std::string() : result.message(); };
    EXPECT_EQ(message(limb_darkened_magnification({0.5, -1.0}, 1.0, 0.1, "linear", {0.6})),
              "l[1] must be a finite separation of at least 0 source radii, got -1.0");
    EXPECT_EQ(message(limb_darkened_magnification({0.5}, 1.0, 0.1, "quadratic", {0.6})),
              "the 'quadratic' law takes 2 coefficients (u1, u2), got 1");
    EXPECT_EQ(message(limb_darkened_magnification({0.5}, 1.0, 0.1, "power-2", {0.6, -1.0})),
              "coefficients[1], the power-2 exponent alpha, must be 0 or lie between 0.05 and 10, got -1.0");
    EXPECT_EQ(message(limb_darkened_magnification({0.5}, 1.0, 0.1, "linear", {3.0})),
              "coefficients give the source no net flux (the integral of I(r) 2r dr over the disc is 0.0)");
    EXPECT_EQ(message(limb_darkened_magnification({0.5}, 1e60, 1e-60, "uniform", {})),
              "rstar/re, the source radius in Einstein radii, must lie between 1e-50 and 1e50, got 1e-120");
    EXPECT_EQ(message(tabulated_limb_darkened_magnification({0.5}, 1.0, 0.1, {0.0, 1.0}, {1.0, NaN})),
              "bf[1] must be finite and at least 0, got nan");
}
