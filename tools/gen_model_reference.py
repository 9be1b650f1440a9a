#!/usr/bin/env python3
"""Reference magnifications for the tests of the uniform-disc model, computed
with mpmath at 40 significant digits and printed as literals to paste.

Two tables, both for re = 1 and rstar = rho (so that rho is exactly the double
given), and the separation l as the double given; mpmath takes those doubles
exactly.

1. Near the limb (tests/cpp/test_witt_mao.cpp): the closed uniform-disc
   formula

     A = (1/pi) [ (u + rho) s/(2 rho^2) E(m) - delta (8 + u^2 - rho^2)/(2 rho^2 s) K(m)
                  + 2 delta^2 (1 + rho^2)/(rho^2 (u + rho) s) Pi(n, m) ],
     u = rho l, delta = u - rho, s = sqrt(4 + delta^2),
     n = 4 u rho/(u + rho)^2, m = 4 n/(4 + delta^2),

   with mpmath's ellipk(m), ellipe(m) and ellippi(n, m), which take the
   parameter m = k^2 and the characteristic n in that order (checked below
   against their defining integrals), for rho in {1e-4, ..., 10} and
   |l - 1| from 1e-6 to 2e-4 on both sides of the limb.

2. Over the disc (tests/python/test_physics.py): the mean of the point-source
   magnification A_pt(x) = (x^2 + 2)/(x sqrt(x^2 + 4)) over the uniform disc of
   radius rho centred at distance u from the lens, in polar coordinates about
   the lens,

     A = 1/(pi rho^2) * integral over phi of integral over the chord of
         x A_pt(x) dx,

   where x A_pt(x) = (x^2 + 2)/sqrt(x^2 + 4) has the antiderivative
   (x/2) sqrt(x^2 + 4), so the radial integral is taken exactly and the angle
   by mpmath.quad. No elliptic integral enters; the printed check column
   compares with the closed formula. A few values are also confirmed by a
   fully numerical double integral.

3. Next to a thin ring (tests/cpp/test_heyrovsky.cpp): the mean of A_pt over a
   ring of radius r = l + delta (the double given) whose centre lies at l from
   the lens, lengths in source radii, Einstein radius eta (re = eta,
   rstar = 1), by mpmath.quad over the angle with breakpoints where the ring
   passes the lens; delta just inside and just outside 1e-5 on both sides.

4. The limb-darkened weighting of the ring magnification for l = 2,
   re = rstar = 1 (tests/cpp/test_integrated.cpp): with S the built-in profile
   and g(x) the ring mean above, the weighted integral
   (1/N) int_0^1 pi S(x) d/dx[x^2 g(x)] dx, integrated by parts into
   (1/N) [pi S(1) g(1) - int_0^1 pi x^2 g(x) S'(x) dx], N = 2.5132741228717936.

Usage: python3 tools/gen_model_reference.py   (needs mpmath)
"""
import mpmath
from mpmath import mp, mpf

mp.dps = 40

NEAR_LIMB_RHOS = [1e-4, 1e-3, 1e-2, 0.1, 1.0, 10.0]
NEAR_LIMB_OFFSETS = [0.0, 1e-6, 9.9e-6, 1.01e-5, 5e-5, 2e-4]

DISC_RHOS = [0.01, 0.1, 1.0]
DISC_SEPARATIONS = [0.0, 0.3, 0.9, 0.99, 1.0, 1.01, 1.1, 2.0, 10.0, 100.0]

RING_ETAS = [0.1, 1.0, 10.0]
RING_SEPARATIONS = [0.5, 2.0]
RING_OFFSETS = [-1.01e-5, -9.9e-6, 9.9e-6, 1.01e-5]
BUILTIN_PROFILE_FLUX = 2.5132741228717936


def check_conventions():
    """mpmath's complete integrals against their definitions, parameter m."""
    n, m = mpf("0.7"), mpf("0.4")
    definitions = {
        "K": (mpmath.ellipk(m), lambda t: 1 / mpmath.sqrt(1 - m * mpmath.sin(t) ** 2)),
        "E": (mpmath.ellipe(m), lambda t: mpmath.sqrt(1 - m * mpmath.sin(t) ** 2)),
        "Pi": (mpmath.ellippi(n, m),
               lambda t: 1 / ((1 - n * mpmath.sin(t) ** 2) * mpmath.sqrt(1 - m * mpmath.sin(t) ** 2))),
    }
    for name, (value, integrand) in definitions.items():
        direct = mpmath.quad(integrand, [0, mpmath.pi / 2])
        assert abs(value / direct - 1) < mpf(10) ** -35, name


def closed_form(l, rho):
    rho, l = mpf(rho), mpf(l)
    u = rho * l
    delta = u - rho
    if delta == 0:
        return (2 / rho + (1 + rho**2) / rho**2
                * (mpmath.pi / 2 + mpmath.asin((rho**2 - 1) / (rho**2 + 1)))) / mpmath.pi
    s = mpmath.sqrt(4 + delta**2)
    n = 4 * u * rho / (u + rho) ** 2
    m = 4 * n / (4 + delta**2)
    return (
        (u + rho) * s / (2 * rho**2) * mpmath.ellipe(m)
        - delta * (8 + u**2 - rho**2) / (2 * rho**2 * s) * mpmath.ellipk(m)
        + 2 * delta**2 * (1 + rho**2) / (rho**2 * (u + rho) * s) * mpmath.ellippi(n, m)
    ) / mpmath.pi


def radial_antiderivative(x):
    """Antiderivative of x A_pt(x) = (x^2 + 2)/sqrt(x^2 + 4)."""
    return x / 2 * mpmath.sqrt(x**2 + 4)


def disc_mean(l, rho):
    """Mean point-source magnification over the disc, by the angle about the lens."""
    rho, l = mpf(rho), mpf(l)
    u = rho * l
    if u < rho:
        # The lens inside the disc: every ray leaves it once.
        def chord(phi):
            outer = u * mpmath.cos(phi) + mpmath.sqrt(rho**2 - (u * mpmath.sin(phi)) ** 2)
            return radial_antiderivative(outer)
        half = mpmath.quad(chord, [0, mpmath.pi / 2, mpmath.pi])
    elif u == rho:
        # On the limb: the rays of the half plane towards the centre cross the
        # disc on a chord of length 2 rho cos(phi).
        half = mpmath.quad(lambda phi: radial_antiderivative(2 * rho * mpmath.cos(phi)),
                           [0, mpmath.pi / 2])
    else:
        # Outside: the rays within the tangent angle cross it between two points.
        tangent = mpmath.asin(rho / u)

        def chord(phi):
            middle = u * mpmath.cos(phi)
            # Clamped: at the tangent the rounding of asin may leave it just negative.
            half_chord = mpmath.sqrt(max(rho**2 - (u * mpmath.sin(phi)) ** 2, 0))
            return radial_antiderivative(middle + half_chord) - radial_antiderivative(middle - half_chord)
        half = mpmath.quad(chord, [0, tangent])
    return 2 * half / (mpmath.pi * rho**2)


def disc_mean_numerical(l, rho):
    """The same mean as a plain double integral over the disc about its centre
    (lower precision), to confirm the radial antiderivative."""
    rho, l = mpf(rho), mpf(l)
    u = rho * l

    def a_pt(x):
        # The lens itself, where a node may round onto it, has measure zero.
        return point_source(x) if x != 0 else 0

    def ring(radius):
        return mpmath.quad(
            lambda phi: a_pt(mpmath.sqrt(u**2 + radius**2 + 2 * u * radius * mpmath.cos(phi))) * radius,
            [0, mpmath.pi])
    # The ring of radius u passes through the lens.
    return 2 * mpmath.quad(ring, sorted({mpf(0), min(u, rho), rho})) / (mpmath.pi * rho**2)


def point_source(x):
    return (x**2 + 2) / (x * mpmath.sqrt(x**2 + 4))


def ring_mean(l, r, eta):
    """Mean of the point-source magnification over the ring, by the angle."""
    l, r, eta = mpf(l), mpf(r), mpf(eta)
    distance = abs(r - l)
    # The ring passes closest to the lens at phi = pi.
    points = sorted({mpf(0), mpmath.pi - min(mpf("0.5"), 1000 * distance),
                     mpmath.pi - min(mpf("0.5"), 10 * distance), mpmath.pi})
    def magnification(phi):
        return point_source(mpmath.sqrt(l**2 + r**2 + 2 * l * r * mpmath.cos(phi)) / eta)
    return mpmath.quad(magnification, points) / mpmath.pi


def weighted_ring_magnification(l):
    """Item 4: the built-in profile's weighting of the ring magnification."""
    def profile(x):
        return 1 + (1 - mpmath.sqrt(1 - x**2)) * mpf("-0.6")

    def profile_slope(x):
        return mpf("-0.6") * x / mpmath.sqrt(1 - x**2)

    def g(x):
        return ring_mean(l, x, 1)
    boundary = mpmath.pi * profile(mpf(1)) * g(mpf(1))
    interior = mpmath.quad(lambda x: mpmath.pi * x**2 * g(x) * profile_slope(x), [0, 1])
    return (boundary - interior) / mpf(BUILTIN_PROFILE_FLUX)


def literal(value):
    return repr(float(value))


def main():
    check_conventions()

    print("// Near-limb references: {rho, l, A}")
    for rho in NEAR_LIMB_RHOS:
        for offset in NEAR_LIMB_OFFSETS:
            for l in sorted({1.0 - offset, 1.0 + offset}):
                print(f"    {{{literal(rho)}, {literal(l)}, {mpmath.nstr(closed_form(l, rho), 20)}}},")

    print()
    print("# Disc references: (rho, l, A); last column: relative difference from the closed form")
    for rho in DISC_RHOS:
        for l in DISC_SEPARATIONS:
            mean = disc_mean(l, rho)
            check = abs(mean / closed_form(l, rho) - 1)
            print(f"    ({literal(rho)}, {literal(l)}, {mpmath.nstr(mean, 20)}),  # {mpmath.nstr(check, 3)}")

    print()
    print("// Ring references: {eta, l, r, A}")
    for eta in RING_ETAS:
        for l in RING_SEPARATIONS:
            for offset in RING_OFFSETS:
                r = l + offset
                print(f"    {{{literal(eta)}, {literal(l)}, {literal(r)}, {mpmath.nstr(ring_mean(l, r, eta), 20)}}},")

    mp.dps = 20
    print()
    print(f"// Weighted ring magnification, l = 2: {mpmath.nstr(weighted_ring_magnification(2.0), 17)}")
    for rho, l in [(0.1, 0.5), (1.0, 2.0)]:
        numerical = disc_mean_numerical(l, rho)
        mp.dps = 40
        difference = abs(numerical / disc_mean(l, rho) - 1)
        mp.dps = 20
        print(f"# double integral at rho={rho}, l={l}: relative difference {mpmath.nstr(difference, 3)}")


if __name__ == "__main__":
    main()
