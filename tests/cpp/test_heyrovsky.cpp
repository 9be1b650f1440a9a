// Ring magnification: the ring around the lens and the small ring far from it
// against the point source, both sides of the ring band against quadrature,
// the lens on the ring, and the failures.
#include <gtest/gtest.h>

#include <cmath>

#include "checks.hpp"
#include "models/models.hpp"

using namespace lumevaro;
using namespace checks;

namespace {

struct RingCase {
    double eta;
    double l;
    double r;
    double magnification;
};

// The mean of the point-source magnification over the ring by mpmath.quad at
// 40 digits, for re = eta and rstar = 1; written by tools/gen_model_reference.py
// (third table), regenerate with: python3 tools/gen_model_reference.py
constexpr RingCase NEXT_TO_THE_RING[] = {
    {0.1, 0.5, 0.4999899, 1.5911880113370406795},
    {0.1, 0.5, 0.4999901, 1.5924611874839590135},
    {0.1, 0.5, 0.5000099, 1.5924494412168444074},
    {0.1, 0.5, 0.5000101, 1.5911760534918956035},
    {0.1, 2.0, 1.9999899, 1.1477000966207531846},
    {0.1, 2.0, 1.9999901, 1.148018410507409242},
    {0.1, 2.0, 2.0000099, 1.1480176777530909079},
    {0.1, 2.0, 2.0000101, 1.1476993506704715792},
    {1.0, 0.5, 0.4999899, 8.4297766929717836755},
    {1.0, 0.5, 0.4999901, 8.4425081647542786334},
    {1.0, 0.5, 0.5000099, 8.4423619749369394834},
    {1.0, 0.5, 0.5000101, 8.4296278070277618558},
    {1.0, 2.0, 1.9999899, 2.8487890083556927237},
    {1.0, 2.0, 1.9999901, 2.8519721283282549908},
    {1.0, 2.0, 2.0000099, 2.8519629180853130422},
    {1.0, 2.0, 2.0000101, 2.8487796281187801239},
    {10.0, 0.5, 0.4999899, 82.08025903847882958},
    {10.0, 0.5, 0.4999901, 82.207573364417484532},
    {10.0, 0.5, 0.5000099, 82.206072664106748237},
    {10.0, 0.5, 0.5000101, 82.078730593019705095},
    {10.0, 2.0, 1.9999899, 22.814773712980008743},
    {10.0, 2.0, 1.9999901, 22.84660478964181243},
    {10.0, 2.0, 2.0000099, 22.846500502464407122},
    {10.0, 2.0, 2.0000101, 22.81466747970637202},
};

double ring(double l, double r, double re, double rstar) { return value_of(heyrovsky_magnification(l, r, re, rstar)); }

}  // namespace

TEST(Heyrovsky, LensOnTheRingIsInfinite) {
    for (const double l : {1e-3, 0.5, 1.0, 3.0}) {
        EXPECT_EQ(ring(l, l, 1.0, 1.0), Inf) << l;
        EXPECT_EQ(ring(l, l, 0.2, 7.0), Inf) << l;
    }
}

TEST(Heyrovsky, RingCentredOnTheLensIsThePointSourceAtItsRadius) {
    // Every point of the ring is r/η from the lens (n = m = 0); by symmetry a
    // ring of radius 0 at l is the point source at l/η.
    for (const double eta : {0.1, 1.0, 10.0}) {
        for (const double x : {1e-5, 0.3, 1.0, 4.0}) {
            const double expected = point_source(x / eta);
            EXPECT_LT(relative_error(ring(0.0, x, eta, 1.0), expected), 4e-16) << eta << ' ' << x;
            EXPECT_LT(relative_error(ring(x, 0.0, eta, 1.0), expected), 4e-16) << eta << ' ' << x;
        }
    }
}

TEST(Heyrovsky, SmallRingFarAwayIsThePointSource) {
    // The spread of A_pt over a ring of radius r at l is of order (r/l)².
    EXPECT_LT(relative_error(ring(5.0, 1e-3, 1.0, 1.0), point_source(5.0)), 1e-7);
    EXPECT_LT(relative_error(ring(50.0, 1e-2, 3.0, 1.0), point_source(50.0 / 3.0)), 1e-7);
}

TEST(Heyrovsky, BothSidesOfTheRingBandAgreeWithQuadrature) {
    // Inside the band the expansion in δ is good to about 1e-10; just outside
    // it the elliptic form loses about ε/δ² to rounding.
    for (const RingCase& c : NEXT_TO_THE_RING) {
        EXPECT_LT(relative_error(ring(c.l, c.r, c.eta, 1.0), c.magnification), 1e-5)
            << "eta " << c.eta << ", l " << c.l << ", r " << c.r;
    }
}

TEST(Heyrovsky, TinyRingAroundTheLensIsNotFinite) {
    // l = 0 and r < 1e-5 take the ring expansion, which divides by l.
    EXPECT_FALSE(std::isfinite(ring(0.0, 5e-6, 1.0, 1.0)));
}

TEST(Heyrovsky, NegativeProductOrNaNFails) {
    constexpr auto no_convergence = "elliprj: Fail to converge";
    EXPECT_TRUE(fails_with(heyrovsky_magnification(0.5, -0.5, 1.0, 1.0), no_convergence));
    EXPECT_TRUE(fails_with(heyrovsky_magnification(-2.0, 0.5, 1.0, 1.0), no_convergence));
    EXPECT_TRUE(fails_with(heyrovsky_magnification(NaN, 0.5, 1.0, 1.0), no_convergence));
    EXPECT_TRUE(fails_with(heyrovsky_magnification(2.0, 0.5, NaN, 1.0), no_convergence));
}
