// Tabulated-profile flux maps: the table check and its message, empty and
// one-row tables, a table with a dark core, and the discrete ring sum as a
// quadrature of the uniform disc.
#include <gtest/gtest.h>

#include <cmath>
#include <cstddef>
#include <string>
#include <vector>

#include "checks.hpp"
#include "models/internal_failure.hpp"
#include "models/models.hpp"

using namespace lumevaro;
using namespace checks;

namespace {

// The message of a call that must throw InternalFailure, or "" if it does not.
template <class Call>
std::string internal_failure_of(const Call& call) {
    try {
        call();
    } catch (const InternalFailure& failure) {
        return failure.message();
    }
    return "";
}

double ring(double l, double r) { return value_of(heyrovsky_magnification(l, r, 1.0, 1.0)); }

}  // namespace

TEST(FluxMap, TablesOfUnequalLengthFailBeforeAnythingElse) {
    // A NaN separation would fail each of them, were anything computed.
    const std::vector<double> l = {NaN};
    const std::vector<double> bl = {0.0, 1.0};
    const std::vector<double> bf = {1.0, 1.0, 1.0};
    const std::string two_three = "assertion `left == right` failed\n  left: 2\n right: 3";
    EXPECT_EQ(internal_failure_of([&] { (void)integrated_flux_map_witt_mao_magnification(l, 1.0, 1.0, bl, bf); }),
              two_three);
    EXPECT_EQ(internal_failure_of([&] { (void)integrated_flux_map_heyrovsky_magnification(l, 1.0, 1.0, bl, bf); }),
              two_three);
    EXPECT_EQ(internal_failure_of([&] { (void)discrete_flux_map_heyrovsky_magnification(l, 1.0, 1.0, bl, bf); }),
              two_three);
    EXPECT_EQ(internal_failure_of([] {
                  (void)discrete_flux_map_heyrovsky_magnification({}, 1.0, 1.0, std::vector<double>(12, 0.5), {});
              }),
              "assertion `left == right` failed\n  left: 12\n right: 0");
}

TEST(FluxMap, EmptySeparationsGiveEmptyLists) {
    EXPECT_TRUE(value_of(integrated_flux_map_witt_mao_magnification({}, 1.0, 1.0, {0.0}, {1.0})).empty());
    EXPECT_TRUE(integrated_flux_map_heyrovsky_magnification({}, 1.0, 1.0, {0.0}, {1.0}).empty());
    EXPECT_TRUE(value_of(discrete_flux_map_heyrovsky_magnification({}, 1.0, 1.0, {0.0}, {1.0})).empty());
}

TEST(FluxMap, EmptyTable) {
    // Zero flux: 0/0 for the integrated forms; no rings for the discrete one.
    for (const double a : value_of(integrated_flux_map_witt_mao_magnification({0.5, 2.0}, 1.0, 1.0, {}, {}))) {
        EXPECT_TRUE(std::isnan(a));
    }
    for (const double a : integrated_flux_map_heyrovsky_magnification({0.5, 2.0}, 1.0, 1.0, {}, {})) {
        EXPECT_TRUE(std::isnan(a));
    }
    EXPECT_EQ(value_of(discrete_flux_map_heyrovsky_magnification({0.5, 2.0}, 1.0, 1.0, {}, {})),
              (std::vector<double>{0.0, 0.0}));
    EXPECT_TRUE(fails_with(integrated_flux_map_witt_mao_magnification({NaN}, 1.0, 1.0, {}, {}),
                           "elliprj: Fail to converge"));
}

TEST(FluxMap, OneRowTableIsAUniformSource) {
    // The one brightness holds at every radius, whatever its radius, and
    // cancels against the flux.
    const std::vector<double> l = {0.0, 0.5, 1.0, 2.0, 7.0};
    const std::vector<double> disc = value_of(witt_mao_magnification(l, 1.0, 0.4));
    const std::vector<double> mapped =
        value_of(integrated_flux_map_witt_mao_magnification(l, 1.0, 0.4, {0.3}, {2.5}));
    ASSERT_EQ(mapped.size(), disc.size());
    for (std::size_t i = 0; i < l.size(); ++i) EXPECT_LT(relative_error(mapped[i], disc[i]), 1e-11) << l[i];

    // A uniform source weights the rings into the outermost one (π d/dx[x² g]
    // integrates to π g(1)).
    for (const double li : {1.5, 2.0, 5.0}) {
        const double weighted = integrated_flux_map_heyrovsky_magnification({li}, 1.0, 1.0, {0.3}, {2.5})[0];
        EXPECT_LT(relative_error(weighted, ring(li, 1.0)), 1e-9) << li;
    }

    const std::vector<double> rings = value_of(discrete_flux_map_heyrovsky_magnification(l, 1.0, 1.0, {0.3}, {2.5}));
    for (std::size_t i = 0; i < l.size(); ++i) EXPECT_EQ(rings[i], ring(l[i], 0.3) * 2.5) << l[i];
}

TEST(FluxMap, TableStartingAwayFromTheCentreLeavesADarkCore) {
    // S = 1 on [0.5, 1] and 0 inside: by parts the weighting gives
    // (g(1) − g(0.5)/4)/(3/4), up to the quadrature's error at the jump.
    for (const double li : {1.5, 2.0}) {
        const double weighted = integrated_flux_map_heyrovsky_magnification({li}, 1.0, 1.0, {0.5, 1.0}, {1.0, 1.0})[0];
        const double annulus = (ring(li, 1.0) - 0.25 * ring(li, 0.5)) / 0.75;
        EXPECT_LT(relative_error(weighted, annulus), 1e-3) << li;
        EXPECT_GT(relative_error(weighted, ring(li, 1.0)), 5e-3) << li;  // not a uniform source
    }
}

TEST(FluxMap, DiscreteRingsAddUpToTheUniformDisc) {
    // Midpoint rule over 400 rings, weights 2r dr: the disc's mean of the ring
    // magnifications, away from the lens's own ring.
    constexpr int rings = 400;
    std::vector<double> bl;
    std::vector<double> bf;
    for (int j = 0; j < rings; ++j) {
        bl.push_back((j + 0.5) / rings);
        bf.push_back(2.0 * bl.back() / rings);
    }
    const std::vector<double> l = {0.0, 2.0, 10.0};
    const std::vector<double> summed = value_of(discrete_flux_map_heyrovsky_magnification(l, 1.0, 1.0, bl, bf));
    const std::vector<double> disc = value_of(witt_mao_magnification(l, 1.0, 1.0));
    for (std::size_t i = 0; i < l.size(); ++i) EXPECT_LT(relative_error(summed[i], disc[i]), 1e-6) << l[i];
}

TEST(FluxMap, DiscreteSumStopsAtTheFirstFailingRing) {
    EXPECT_TRUE(fails_with(discrete_flux_map_heyrovsky_magnification({2.0, 3.0}, 1.0, 1.0, {0.5, -0.5}, {1.0, 1.0}),
                           "elliprj: Fail to converge"));
    EXPECT_TRUE(fails_with(discrete_flux_map_heyrovsky_magnification({2.0, NaN}, 1.0, 1.0, {0.5}, {1.0}),
                           "elliprj: Fail to converge"));
}

TEST(FluxMap, FailuresNameTheFirstSeparationThatFailed) {
    // Whichever ring fails, the note is about the separation.
    EXPECT_TRUE(fails_at(discrete_flux_map_heyrovsky_magnification({2.0, 3.0}, 1.0, 1.0, {0.5, -0.5}, {1.0, 1.0}),
                         0, 2.0));
    EXPECT_TRUE(fails_at(discrete_flux_map_heyrovsky_magnification({2.0, 3.0, NaN, -1.0}, 1.0, 1.0, {0.5}, {1.0}),
                         2, NaN));
    EXPECT_TRUE(fails_at(integrated_flux_map_witt_mao_magnification({2.0, -4.0}, 1.0, 1.0, {0.0, 1.0}, {1.0, 1.0}),
                         1, -4.0));
    EXPECT_TRUE(fails_at(integrated_witt_mao_magnification({0.5, 0.7, NaN}, 1.0, 1.0), 2, NaN));
}
