// Uniform-disc magnification: the closed values at the centre and on the
// limb, the limb band in source radii and the accuracy next to it, the
// point-source limit, and the failures.
#include <gtest/gtest.h>

#include <cmath>
#include <cstddef>
#include <vector>

#include "checks.hpp"
#include "models/models.hpp"

using namespace lumevaro;
using namespace checks;

namespace {

struct NearLimbCase {
    double rho;
    double l;
    double magnification;
};

// The closed uniform-disc formula evaluated with mpmath at 40 digits, for
// re = 1 and rstar = rho; written by tools/gen_model_reference.py (first table),
// regenerate with: python3 tools/gen_model_reference.py
constexpr NearLimbCase NEAR_LIMB[] = {
    {0.0001, 1.0, 12732.395489792944324},
    {0.0001, 0.999999, 12732.490314024384797},
    {0.0001, 1.000001, 12732.30066560415113},
    {0.0001, 0.9999901, 12733.189763382411094},
    {0.0001, 1.0000099, 12731.601219667159974},
    {0.0001, 0.9999899, 12733.204523331150199},
    {0.0001, 1.0000101, 12731.586459853295048},
    {0.0001, 0.99995, 12735.89150243416257},
    {0.0001, 1.00005, 12728.899552614471199},
    {0.0001, 0.9998, 12744.614820155015133},
    {0.0001, 1.0002, 12720.177190326452518},
    {0.001, 1.0, 1273.2399691482593554},
    {0.001, 0.999999, 1273.2494515710882761},
    {0.001, 1.000001, 1273.2304867296951627},
    {0.001, 0.9999901, 1273.3193965040862865},
    {0.001, 1.0000099, 1273.1605421388006818},
    {0.001, 0.9999899, 1273.320872498897172},
    {0.001, 1.0000101, 1273.1590661574772148},
    {0.001, 0.99995, 1273.5895703966250456},
    {0.001, 1.00005, 1272.8903754461685712},
    {0.001, 0.9998, 1274.4619021214442651},
    {0.001, 1.0002, 1272.0181392646386486},
    {0.01, 1.0, 127.32819852045305115},
    {0.01, 0.999999, 127.32914675958483526},
    {0.01, 1.000001, 127.32725028174774141},
    {0.01, 0.9999901, 127.33614122483984489},
    {0.01, 1.0000099, 127.32025585070323756},
    {0.01, 0.9999899, 127.33628882369071485},
    {0.01, 1.0000101, 127.32010825320111576},
    {0.01, 0.99995, 127.36315848773615272},
    {0.01, 1.00005, 127.29323930780137866},
    {0.01, 0.9998, 127.45039118758133183},
    {0.01, 1.0002, 127.20601616234420657},
    {0.1, 1.0, 12.774752244647633768},
    {0.1, 0.999999, 12.774847037206227097},
    {0.1, 1.000001, 12.774657452131703393},
    {0.1, 0.9999901, 12.775546204676604626},
    {0.1, 1.0000099, 12.773958288083882065},
    {0.1, 0.9999899, 12.775560958290804097},
    {0.1, 1.0000101, 12.773943534604619488},
    {0.1, 0.99995, 12.778246673665707645},
    {0.1, 1.00005, 12.771257891131503442},
    {0.1, 0.9998, 12.78696524075260655},
    {0.1, 1.0002, 12.762540280065414871},
    {1.0, 1.0, 1.6366197723675813431},
    {1.0, 0.999999, 1.6366290341551528336},
    {1.0, 1.000001, 1.636610510584323393},
    {1.0, 0.9999901, 1.6366970154365117813},
    {1.0, 1.0000099, 1.636542529649805675},
    {1.0, 0.9999899, 1.636698447304364001},
    {1.0, 1.0000101, 1.6365410977956361974},
    {1.0, 0.99995, 1.636958341912957138},
    {1.0, 1.00005, 1.6362812104905729401},
    {1.0, 0.9998, 1.6377975792642815073},
    {1.0, 1.0002, 1.6354420705139251592},
    {10.0, 1.0, 1.0095764320270399239},
    {10.0, 0.999999, 1.009577233365485036},
    {10.0, 1.000001, 1.0095756306889793321},
    {10.0, 0.9999901, 1.0095829204127854292},
    {10.0, 1.0000099, 1.0095699436718210862},
    {10.0, 0.9999899, 1.0095830386314195423},
    {10.0, 1.0000101, 1.0095698254543679542},
    {10.0, 0.99995, 1.0096040469090944614},
    {10.0, 1.00005, 1.0095488177947726362},
    {10.0, 0.9998, 1.0096692437485027401},
    {10.0, 1.0002, 1.0094836289370929938},
};

}  // namespace

TEST(WittMao, ListsKeepTheirLengthAndOrder) {
    EXPECT_TRUE(value_of(witt_mao_magnification({}, 1.0, 1.0)).empty());

    const std::vector<double> separations = {2.0, 0.0, 1.0, 0.5, 30.0};
    const std::vector<double> together = value_of(witt_mao_magnification(separations, 2.0, 0.7));
    ASSERT_EQ(together.size(), separations.size());
    for (std::size_t i = 0; i < separations.size(); ++i) {
        EXPECT_EQ(together[i], value_of(witt_mao_magnification({separations[i]}, 2.0, 0.7))[0]) << i;
    }
}

TEST(WittMao, LensAtTheCentre) {
    // n = m = 0: A = √(1 + 4/ρ²).
    EXPECT_EQ(value_of(witt_mao_magnification({0.0}, 1.0, 1.0))[0], std::sqrt(5.0));
    for (const double rho : {1e-3, 0.01, 0.3, 3.0, 10.0}) {
        const double a = value_of(witt_mao_magnification({0.0}, 1.0, rho))[0];
        EXPECT_LE(ulps_between(a, std::sqrt(1.0 + 4.0 / (rho * rho))), 4) << "rho " << rho;
    }
}

TEST(WittMao, LensOnTheLimb) {
    // (2 + π)/π = 1 + 2/π, whose nearest double is 1.6366197723675813.
    EXPECT_LE(ulps_between(value_of(witt_mao_magnification({1.0}, 1.0, 1.0))[0], 1.6366197723675813), 1);
    // Scale invariance: only rstar/re enters.
    EXPECT_EQ(value_of(witt_mao_magnification({1.0}, 3.0, 3.0))[0],
              value_of(witt_mao_magnification({1.0}, 1.0, 1.0))[0]);
}

TEST(WittMao, LimbBandIsMeasuredInSourceRadii) {
    for (const double rho : {1e-4, 0.1, 1.0, 10.0}) {
        const double limb = value_of(witt_mao_magnification({1.0}, 1.0, rho))[0];
        const std::vector<double> inside =
            value_of(witt_mao_magnification({1.0 - 9.9e-6, 1.0 - 1e-6, 1.0 + 1e-6, 1.0 + 9.9e-6}, 1.0, rho));
        for (const double a : inside) EXPECT_EQ(a, limb) << "rho " << rho;
        const std::vector<double> outside =
            value_of(witt_mao_magnification({1.0 - 1.01e-5, 1.0 + 1.01e-5}, 1.0, rho));
        for (const double a : outside) {
            EXPECT_NE(a, limb) << "rho " << rho;
            EXPECT_LT(relative_error(a, limb), 1e-4) << "rho " << rho;
        }
    }
    // A small source is not flattened out to the limb value over many source
    // radii: at ρ = 1e-4, 5 % of a source radius is only 5e-6 Einstein radii.
    const double limb = value_of(witt_mao_magnification({1.0}, 1.0, 1e-4))[0];
    for (const double a : value_of(witt_mao_magnification({0.95, 1.05}, 1.0, 1e-4))) {
        EXPECT_GT(relative_error(a, limb), 0.05);
    }
}

TEST(WittMao, AccurateNextToTheLimb) {
    // Inside the band the limb value stands in for the magnification; just
    // outside it the general formula loses about ε/(l − 1)² to rounding.
    for (const NearLimbCase& c : NEAR_LIMB) {
        const double a = value_of(witt_mao_magnification({c.l}, 1.0, c.rho))[0];
        const bool in_band = std::fabs(c.l - 1.0) < 1e-5;
        EXPECT_LT(relative_error(a, c.magnification), in_band ? 1e-4 : 1e-5)
            << "rho " << c.rho << ", l " << c.l;
    }
}

TEST(WittMao, FarFromTheSourceApproachesThePointSource) {
    // ρ = 1e-3 at u = 1 and u = 10 Einstein radii: the finite-source
    // correction is of order ρ², here about 1e-7 at u = 1.
    for (const double u : {1.0, 10.0}) {
        const double a = value_of(witt_mao_magnification({u / 1e-3}, 1.0, 1e-3))[0];
        EXPECT_LT(relative_error(a, point_source(u)), 1e-6) << "u " << u;
    }
}

TEST(WittMao, ZeroSourceRadiusGivesNaN) {
    for (const double a : value_of(witt_mao_magnification({0.0, 0.5, 1.0, 2.0}, 1.0, 0.0))) {
        EXPECT_TRUE(std::isnan(a));
    }
}

TEST(WittMao, FailureOfAnyElementEndsTheCall) {
    constexpr auto no_convergence = "elliprj: Fail to converge";
    EXPECT_TRUE(fails_with(witt_mao_magnification({NaN}, 1.0, 1.0), no_convergence));
    EXPECT_TRUE(fails_with(witt_mao_magnification({0.5, 2.0, NaN}, 1.0, 1.0), no_convergence));
    EXPECT_TRUE(fails_with(witt_mao_magnification({0.5, 2.0}, NaN, 1.0), no_convergence));
    EXPECT_TRUE(fails_with(witt_mao_magnification({0.5, 2.0}, 1.0, NaN), no_convergence));
}

TEST(WittMao, FailureNamesTheFirstSeparationThatFailed) {
    EXPECT_TRUE(fails_at(witt_mao_magnification({NaN}, 1.0, 1.0), 0, NaN));
    EXPECT_TRUE(fails_at(witt_mao_magnification({0.5, 1.0, 2.0, -3.0, NaN}, 1.0, 1.0), 3, -3.0));
    // Parameters that fail every separation fail at the first; the limb value
    // (l = 1) needs no elliptic integral and so cannot fail.
    EXPECT_TRUE(fails_at(witt_mao_magnification({0.5, 2.0}, NaN, 1.0), 0, 0.5));
    EXPECT_TRUE(fails_at(witt_mao_magnification({1.0, Inf}, 1.0, 1.0), 1, Inf));
}
