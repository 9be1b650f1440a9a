// The disc and ring kernels over SIMD lanes (models/disc_ring_lanes.hpp): for
// every instruction set the processor has, each uniform-disc value, ring
// value and ring sum gets the bits (or the failure) of the one-by-one
// routine, over random and edge separations, radii and source sizes; ordinary light curves stay on the lanes; the list
// functions report the first failure in list order whichever set runs them;
// the quadrature taken a level at a time gives integrate's bits.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstring>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "checks.hpp"
#include "models/disc_ring_lanes.hpp"
#include "models/models.hpp"
#include "numeric/instruction_set.hpp"
#include "numeric/integrate.hpp"

using namespace lumevaro;
using checks::ForcedSet;
using checks::Inf;
using checks::NaN;
using checks::VECTOR_SETS;

namespace {

bool same_bits(double a, double b) { return std::memcmp(&a, &b, sizeof a) == 0; }

// Random separations over the light curve and over many decades, the limb
// band's edges, and every special value.
std::vector<double> separations() {
    std::mt19937_64 random(20261209);
    std::uniform_real_distribution<double> curve(0.0, 5.0), decades(-12.0, 12.0), unit(0.0, 1.0);
    std::vector<double> l;
    for (int i = 0; i < 3000; ++i) l.push_back(curve(random));
    for (int i = 0; i < 1000; ++i) l.push_back(std::pow(10.0, decades(random)));
    for (int i = 0; i < 500; ++i) l.push_back(1.0 + (unit(random) - 0.5) * 4e-5);
    for (double edge : {1e-5, 1.0000000000000002e-5, 0.9999999999999999e-5}) {
        l.push_back(1.0 + edge);
        l.push_back(1.0 - edge);
    }
    for (double special : {0.0, -0.0, 1.0, -1.0, NaN, -NaN, Inf, -Inf, 5e-324, 1e-300, 1e300,
                           1.7976931348623157e308, 2.0, 0.5, 1e-17}) {
        l.push_back(special);
    }
    std::shuffle(l.begin(), l.end(), random);
    return l;
}

constexpr double RHOS[] = {1e-4, 0.01, 0.05, 0.3, 1.0, 3.0, 1e4, 0.0, -0.2, NaN, Inf, 1e-300};

}  // namespace

TEST(WittMaoLanes, EveryLaneHasTheBitsOfTheOneByOneFormula) {
    const std::vector<double> l = separations();
    for (const InstructionSet set : VECTOR_SETS) {
        if (!instruction_set_supported(set)) continue;
        SCOPED_TRACE(std::string(instruction_set_name(set)));
        for (const double rho : RHOS) {
            const WittMaoDisc disc = witt_mao_disc(rho);
            std::vector<double> lanes = l;
            std::vector<std::size_t> left;
            witt_mao_lanes(set, lanes.data(), lanes.size(), disc, left);
            std::vector<bool> is_left(l.size(), false);
            for (const std::size_t i : left) is_left[i] = true;
            for (std::size_t i = 0; i < l.size(); ++i) {
                const Real reference = witt_mao_value(l[i], disc);
                if (is_left[i]) {
                    EXPECT_TRUE(same_bits(lanes[i], l[i])) << "a left separation was overwritten";
                    continue;
                }
                ASSERT_TRUE(reference) << "a lane computed a failing separation, l = " << l[i];
                EXPECT_TRUE(same_bits(lanes[i], reference.value()))
                    << "rho = " << rho << ", l = " << l[i] << ": " << lanes[i] << " against "
                    << reference.value();
            }
        }
    }
}

TEST(WittMaoLanes, OrdinaryLightCurvesStayOnTheLanes) {
    std::vector<double> l(4096);
    for (std::size_t i = 0; i < l.size(); ++i) l[i] = 0.05 + 4.95 * double(i) / double(l.size());
    for (const InstructionSet set : VECTOR_SETS) {
        if (!instruction_set_supported(set)) continue;
        for (const double rho : {0.001, 0.05, 1.0}) {
            std::vector<double> lanes = l;
            std::vector<std::size_t> left;
            witt_mao_lanes(set, lanes.data(), lanes.size(), witt_mao_disc(rho), left);
            EXPECT_LE(left.size(), 4u) << instruction_set_name(set) << ", rho = " << rho;
        }
    }
}

TEST(WittMaoLanes, TheListReportsItsFirstFailureWhicheverSetRunsIt) {
    std::vector<double> l = separations();
    l.resize(997);  // not a whole number of groups
    for (double& x : l) {
        if (!std::isfinite(x) || x < 0.0) x = 2.0;
    }
    for (const std::size_t bad : {std::size_t{0}, std::size_t{5}, std::size_t{996}}) {
        std::vector<double> failing = l;
        failing[bad] = NaN;
        failing[bad + (bad < 990 ? 3 : -7)] = -1.0;
        Outcome<Magnifications> scalar = Failure{"unset"};
        {
            ForcedSet forced(InstructionSet::scalar);
            scalar = witt_mao_magnification(failing, 1.0, 0.05);
            ASSERT_FALSE(scalar);
            EXPECT_TRUE(witt_mao_magnification(l, 1.0, 0.05));
        }
        for (const InstructionSet set : VECTOR_SETS) {
            if (!instruction_set_supported(set)) continue;
            ForcedSet forced(set);
            const Outcome<Magnifications> vector = witt_mao_magnification(failing, 1.0, 0.05);
            ASSERT_FALSE(vector);
            EXPECT_EQ(vector.message(), scalar.message());
            const Outcome<Magnifications> whole = witt_mao_magnification(l, 1.0, 0.05);
            ASSERT_TRUE(whole);
            ForcedSet back(InstructionSet::scalar);
            const Outcome<Magnifications> reference = witt_mao_magnification(l, 1.0, 0.05);
            for (std::size_t i = 0; i < l.size(); ++i) {
                ASSERT_TRUE(same_bits(whole.value()[i], reference.value()[i])) << i;
            }
        }
    }
}

TEST(InstructionSet, ForcingAnUnsupportedSetKeepsTheCurrentOne) {
    const InstructionSet before = active_instruction_set();
    for (const InstructionSet set : VECTOR_SETS) {
        const InstructionSet now = force_instruction_set(set);
        EXPECT_EQ(now == set, instruction_set_supported(set));
    }
    force_instruction_set(before);
    EXPECT_EQ(active_instruction_set(), before);
}

TEST(InstructionSet, AForcedSetRunsEvenTheKernelsThatPreferNarrowerLanes) {
    const InstructionSet before = active_instruction_set();
    for (const InstructionSet set : VECTOR_SETS) {
        if (force_instruction_set(set) == set) {
            EXPECT_EQ(instruction_set_up_to(InstructionSet::sse2), set);
        }
    }
    force_instruction_set(before);
}

namespace {

// Ring radii: the band around the lens, both sides of the limb, negative
// radii (the central difference at small x) and special values.
std::vector<double> ring_radii(double l) {
    std::mt19937_64 random(7);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    std::vector<double> r;
    for (int i = 0; i < 600; ++i) r.push_back(unit(random) * 1.2);
    for (int i = 0; i < 200; ++i) r.push_back(l + (unit(random) - 0.5) * 4e-5);
    for (int i = 0; i < 50; ++i) r.push_back(-unit(random) * 1e-4);
    for (double special : {0.0, -0.0, NaN, Inf, -Inf, 5e-324, 1e300, l, l + 1e-5, l - 1e-5}) {
        r.push_back(special);
    }
    std::shuffle(r.begin(), r.end(), random);
    return r;
}

}  // namespace

TEST(RingLanes, EveryRingHasTheBitsOfTheOneByOneRoutine) {
    for (const InstructionSet set : VECTOR_SETS) {
        if (!instruction_set_supported(set)) continue;
        SCOPED_TRACE(std::string(instruction_set_name(set)));
        for (const double l : {0.0, 1e-6, 0.3, 0.999, 1.0, 2.5, 40.0, -0.5, NaN}) {
            for (const double rstar : {1e-3, 0.05, 1.0, 0.0}) {
                const std::vector<double> r = ring_radii(l);
                std::vector<double> out(r.size());
                ring_lanes(set, l, r.data(), r.size(), 1.0, rstar, out.data());
                for (std::size_t i = 0; i < r.size(); ++i) {
                    const Real ring = heyrovsky_magnification(l, r[i], 1.0, rstar);
                    if (!ring) {
                        EXPECT_TRUE(std::isnan(out[i])) << "l = " << l << ", r = " << r[i];
                        continue;
                    }
                    EXPECT_TRUE(same_bits(out[i], ring.value()))
                        << "l = " << l << ", r = " << r[i] << ", rstar = " << rstar << ": "
                        << out[i] << " against " << ring.value();
                }
            }
        }
    }
}

TEST(RingLanes, RingSumsMatchAndReportTheFirstFailure) {
    std::vector<double> l = separations();
    l.resize(1001);
    const std::vector<double> bl{0.0, 0.2, 0.55, 0.8, 1.0}, bf{1.0, 0.9, 0.7, 0.5, 0.2};
    Outcome<Magnifications> reference = Failure{"unset"};
    {
        ForcedSet forced(InstructionSet::scalar);
        reference = discrete_flux_map_heyrovsky_magnification(l, 1.0, 0.05, bl, bf);
    }
    ASSERT_FALSE(reference);  // the list holds NaN and negative separations
    std::vector<double> finite = l;
    for (double& x : finite) {
        if (!std::isfinite(x) || x < 0.0) x = 2.0;
    }
    Outcome<Magnifications> finite_reference = Failure{"unset"};
    {
        ForcedSet forced(InstructionSet::scalar);
        finite_reference = discrete_flux_map_heyrovsky_magnification(finite, 1.0, 0.05, bl, bf);
    }
    ASSERT_TRUE(finite_reference);
    for (const InstructionSet set : VECTOR_SETS) {
        if (!instruction_set_supported(set)) continue;
        ForcedSet forced(set);
        const Outcome<Magnifications> failing =
            discrete_flux_map_heyrovsky_magnification(l, 1.0, 0.05, bl, bf);
        ASSERT_FALSE(failing);
        EXPECT_EQ(failing.message(), reference.message());
        const Outcome<Magnifications> sums =
            discrete_flux_map_heyrovsky_magnification(finite, 1.0, 0.05, bl, bf);
        ASSERT_TRUE(sums);
        for (std::size_t i = 0; i < finite.size(); ++i) {
            ASSERT_TRUE(same_bits(sums.value()[i], finite_reference.value()[i])) << finite[i];
        }
    }
}

TEST(IntegrateByLevels, GivesIntegratesBitsAtTheSameNodes) {
    const auto cases = {std::pair{0.0, 1.0}, std::pair{-2.0, 3.5}, std::pair{1e-3, 2e-3}};
    const auto integrands = {+[](double x) { return std::exp(-x * x); },
                             +[](double x) { return 1.0 / std::sqrt(std::fabs(x)); },
                             +[](double x) { return std::log(x) * x; },  // NaN below 0
                             +[](double) { return 1.0; }};
    for (const auto f : integrands) {
        for (const auto& [a, b] : cases) {
            std::vector<double> nodes, batched_nodes;
            const auto counted = [&](double x) {
                nodes.push_back(x);
                return f(x);
            };
            const auto many = [&](const double* xs, std::size_t count, double* values) {
                for (std::size_t k = 0; k < count; ++k) {
                    batched_nodes.push_back(xs[k]);
                    values[k] = f(xs[k]);
                }
            };
            const QuadratureResult one = integrate(counted, a, b, 1e-12);
            const QuadratureResult levels = integrate_by_levels(many, a, b, 1e-12);
            EXPECT_TRUE(same_bits(one.integral, levels.integral));
            EXPECT_TRUE(same_bits(one.error_estimate, levels.error_estimate));
            EXPECT_EQ(one.evaluations, levels.evaluations);
            EXPECT_EQ(nodes, batched_nodes);  // the same nodes in the same order
        }
    }
}

TEST(IntegrateByLevels, TakesTheCentreThenOneWholeLevelPerCall) {
    std::vector<std::size_t> counts;
    std::vector<double> first_nodes;
    const auto many = [&](const double* xs, std::size_t count, double* values) {
        counts.push_back(count);
        first_nodes.push_back(xs[0]);
        for (std::size_t k = 0; k < count; ++k) values[k] = std::exp(-xs[k]) / (xs[k] + 0.1);
    };
    const QuadratureResult result = integrate_by_levels(many, 0.0, 2.0, 1e-300);  // every level
    const std::vector<std::size_t> levels{1, 6, 6, 12, 24, 48, 96, 192};
    EXPECT_EQ(counts, levels);
    EXPECT_EQ(result.evaluations, 385u);
    EXPECT_EQ(first_nodes[0], 1.0);  // the centre of [0, 2]
    for (std::size_t level = 1; level < counts.size(); ++level) {
        EXPECT_GT(first_nodes[level], 1.0);  // a right node first
    }
}

namespace {

// Arguments of the lanes' arctangent (x² ≤ 2^-10 on the lanes) and power
// x^(-3/2): log-uniform over and beyond the ranges the lanes take, the
// ranges' ends, special values, and arguments where glibc's value is not the
// correctly rounded one (found against 113-bit references): there the lanes
// must not certify their own, correctly rounded, value.
std::vector<double> elementary_arguments(bool power) {
    std::mt19937_64 random(power ? 15 : 51);
    std::uniform_real_distribution<double> octaves(power ? -520.0 : -520.0, power ? 520.0 : -2.0);
    std::uniform_real_distribution<double> near(power ? -6.0 : -31.0, power ? 4.0 : -5.0);
    std::vector<double> x;
    for (int i = 0; i < 20000; ++i) x.push_back(std::exp2(octaves(random)));
    for (int i = 0; i < 200000; ++i) x.push_back(std::exp2(near(random)));
    const std::vector<double> misrounded =
        power ? std::vector<double>{0x1.bdcd26c7d5a2ap+2, 0x1.b51fd3b3ca3b9p+0, 0x1.652fdcaca73f7p-3,
                                    0x1.a90d47744a271p+1, 0x1.efcee5c9eded4p-6, 0x1.9b8080cd35c5dp-1,
                                    0x1.2776fffdfab26p+0, 0x1.12c646f162914p-5, 0x1.1208b29419c55p+1,
                                    0x1.3005b061dc908p-2, 0x1.2edf1e11a53b3p-6, 0x1.57ff76ab45b3ep-3}
              : std::vector<double>{0x1.a9bf5b0f442dap-8, 0x1.6f4d749e66834p-6, 0x1.a907e123c7c85p-6,
                                    0x1.c74d4a02f835fp-6, 0x1.54247eb966a7dp-6, 0x1.c346d3c396cp-7,
                                    0x1.a1e4094bc7ddfp-7, 0x1.ced53c8f18dedp-6, 0x1.b2cb0aed06f66p-6,
                                    0x1.d3e67dc01c5dcp-6, 0x1.9dbda8d85b58bp-6, 0x1.85a9e3e3186efp-6};
    for (int copy = 0; copy < 8; ++copy) x.insert(x.end(), misrounded.begin(), misrounded.end());
    for (double edge : {0x1p-500, 0x1p500, 0x1p-5, 0x1p-500 * (1 - 0x1p-53), 0x1p500 * (1 + 0x1p-52),
                        0x1p-5 * (1 + 0x1p-52), 1.0, 0.0, -0.0, -1.0, NaN, Inf, -Inf, 5e-324,
                        2.2250738585072014e-308, 1.7976931348623157e308}) {
        x.push_back(edge);
    }
    std::shuffle(x.begin(), x.end(), random);
    return x;
}

}  // namespace

TEST(CertifiedLanes, ArctangentAndPowerHaveTheLibrarysBitsOnEveryLane) {
    for (const bool power : {false, true}) {
        const std::vector<double> x = elementary_arguments(power);
        for (const InstructionSet set : VECTOR_SETS) {
            if (!instruction_set_supported(set)) continue;
            std::vector<double> out(x.size());
            const std::size_t certified =
                certified_lanes(set, power, x.data(), out.data(), x.size());
            std::size_t mismatches = 0;
            for (std::size_t i = 0; i < x.size(); ++i) {
                const double library = power ? std::pow(x[i], -1.5) : std::atan(x[i]);
                if (!same_bits(out[i], library) && mismatches++ < 5) {
                    ADD_FAILURE() << instruction_set_name(set) << (power ? " pow(" : " atan(")
                                  << std::hexfloat << x[i] << ") = " << out[i] << " against "
                                  << library;
                }
            }
            EXPECT_EQ(mismatches, 0u);
            // Nearly every argument in range is certified (else the lanes
            // would only add work): atan leaves about 3 %, pow about 12 %.
            EXPECT_GT(certified, x.size() * (power ? 8 : 7) / 10) << instruction_set_name(set);
        }
    }
}
