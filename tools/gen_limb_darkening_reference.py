#!/usr/bin/env python3
"""High-precision reference magnifications of limb-darkened sources, for the
tests of limb_darkened_magnification and tabulated_limb_darkened_magnification.

What is computed. A source of radial surface brightness I (r the radius in
source radii, mu = sqrt(1 - r^2)) at separation l (source radii) from a point
lens, source radius rho in Einstein radii, u = l rho. Its magnification is the
flux-weighted mean of the point-source magnification over the disc; integrated
by parts in r, as a stack of uniform discs,

    F A(l) = I(mu=0) A_disc(u, rho) + int_0^1 (1 - mu^2) I_mu(mu) A_disc(u, rho sqrt(1 - mu^2)) dmu
           = I(mu=0) A_disc(u, rho) + int_0^(pi/2) cos^3(phi) I_mu(sin phi) A_disc(u, rho cos phi) dphi,
    F = int_0^1 I 2r dr,

with I_mu = dI/dmu and A_disc(u, s) the uniform disc of radius s Einstein radii
centred at u:

    A_disc = (1/pi) [ sigma q/(2 s^2) E - delta (8 + u^2 - s^2)/(2 s^2 q) K
                      + 2 delta^2 (1 + s^2)/(s^2 sigma q) Pi ],
    delta = u - s, sigma = u + s, q = sqrt(4 + delta^2),
    n = 4 u s/sigma^2, m = 4 n/(4 + delta^2),

where the complements are formed directly, 1 - n = (delta/sigma)^2 and
1 - m = delta^2 (1 + 4/sigma^2)/(4 + delta^2), and K = R_F(0, 1-m, 1),
E = K - (m/3) R_D(0, 1-m, 1), Pi = K + (n/3) R_J(0, 1-m, 1, 1-n) from mpmath's
Carlson integrals, so that nothing is lost where the disc edge meets the lens.
On delta = 0 the disc takes its limb value
(1/pi) [2/s + (1 + s^2)/s^2 (pi/2 + asin((s^2 - 1)/(s^2 + 1)))].

The integral is taken in mu (the form above with dmu). Every law is linear in
a few basis functions g of mu (mu, mu^2, mu^(1/2), mu^(3/2), mu ln mu, mu^alpha),
I = c0 + sum b_g g(mu), so for each (l, rho) the integral of each basis
function is taken once and every law is a dot product; the disc values are
cached by node and shared by all basis functions. The interval is split where
the disc edge meets the lens, mu_c = sqrt(1 - l^2) for l < 1 (A_disc has an
x ln x kink there), or at the scale sqrt(l^2 - 1) of the complex contact for
l > 1, and then geometrically by factors of 4 up to 1, so that every piece sees
its nearest singularity at a distance comparable to its length. The piece that
touches the limb is mapped by mu = b t^8, which removes the limb singularities
of the laws (I_mu ~ mu^(-1/2), mu^(alpha - 1), ln mu) that tanh-sinh nodes cut
short at working precision. Integrals by mpmath.quad (tanh-sinh).

Tabulated profiles, linear in r between rows (bl, bf): with the constant slope
I' on each piece,

    F A = I(r=1) A_disc(u, rho) - sum over pieces of I' int r^2 A_disc(u, rho r) dr,

taken in r, split at every row and at r = l, and geometrically towards the
contact as above; the piece integrals serve both tables.

Working precision: 32 significant digits plus twice the number of decimal
digits of l above 1 (the disc formula cancels like (u/s)^2 far from the
source); every reference is written with 30 significant digits, of which at
least 25 are correct.

Checks (run with --check; results as printed on the last run):
  * a direct double integral of the point-source magnification over the
    limb-darkened disc, in polar coordinates about the lens (no elliptic
    integral, no integration by parts), at 32 digits; relative differences:
      linear 0.6, rho 0.1, l 0.3 ............ 0 (all 32 digits equal)
      square-root (0.3, 0.4), rho 1, l 0.9 ... 1.5e-33
      power-2 (0.8, 0.2), rho 0.1, l 2 ....... 7.7e-34
      table:five, rho 1, l 0.9 ............... 3.1e-33
  * the same references with 20 more digits of working precision, every law
    and table at once; worst relative change:
      rho 0.01, l 1 - 1e-12 .................. 1.1e-30
      rho 0.01, l 1 + 1e-15 .................. 1.7e-34
      rho 10, l 1 - 1e-12 .................... 5.4e-28
      rho 10, l 1 + 1e-15 .................... 6.3e-33

Output: tests/data/limb_darkening_reference.csv with columns law,
coefficients (space-separated Python float literals, empty for the uniform law
and the tables), rho (Python float literal), l (float.hex, the exact double),
reference (30 significant digits). Tabulated profiles appear as law
"table:<name>"; their rows are in tests/data/limb_darkening_tables.csv
(columns table, bl, bf as float.hex).

Usage: python3 tools/gen_limb_darkening_reference.py [--check]
       [--rhos RHO ...] [--output FILE]   (a part of the grid, to run in pieces
       and join: the header once, then the rows in the order of RHOS)
(needs mpmath; gmpy2 makes it about three times faster; the full grid took
35 minutes in two processes, --rhos splitting it, on a busy 2-core machine).
"""
import argparse
import csv
import math
import pathlib
import sys
import time

import mpmath
from mpmath import mp, mpf

ROOT = pathlib.Path(__file__).resolve().parent.parent
REFERENCE_FILE = ROOT / "tests" / "data" / "limb_darkening_reference.csv"
TABLES_FILE = ROOT / "tests" / "data" / "limb_darkening_tables.csv"

BASE_DIGITS = 32
OUTPUT_DIGITS = 30

RHOS = [1e-4, 1e-2, 0.1, 1.0, 10.0, 1e3]
SEPARATIONS = [
    0.0, 0.3, 0.9,
    1 - 1e-3, 1 - 1e-6, 1 - 1e-9, 1 - 1e-12, 1 - 1e-15, 1 - 2**-53,
    1.0,
    1 + 1e-15, 1 + 1e-12, 1 + 1e-9, 1 + 1e-6, 1 + 1e-3,
    1.1, 2.0, 3.0, 10.0, 100.0, 1e4,
]
# For the extreme source sizes the grid keeps the centre, the limb band and the
# far field.
THIN_SEPARATIONS = [
    0.0, 0.3, 1 - 1e-6, 1 - 1e-12, 1 - 2**-53, 1.0, 1 + 1e-15, 1 + 1e-9,
    1 + 1e-3, 2.0, 100.0, 1e4,
]
THIN_RHOS = {1e-4, 1e3}

LAWS = [
    ("uniform", ()),
    ("linear", (0.6,)),
    ("linear", (1.0,)),
    ("quadratic", (0.4, 0.25)),
    ("square-root", (0.3, 0.4)),
    ("logarithmic", (0.6, 0.2)),
    ("power-2", (0.6, 0.6)),
    ("power-2", (0.8, 0.2)),
    ("claret", (0.5, 0.2, 0.1, -0.05)),
]


def quadratic_law(mu_value, u1=0.4, u2=0.25):
    return 1 - u1 * (1 - mu_value) - u2 * (1 - mu_value) ** 2


def _twenty_rows():
    bl = [i / 19 for i in range(20)]
    bl[-1] = 1.0
    bf = [quadratic_law(math.sqrt(1 - r * r)) for r in bl]
    return bl, bf


TABLES = {
    # A profile with a flat centre, a steep drop and a bright rim left at the limb.
    "five": ([0.0, 0.3, 0.6, 0.85, 1.0], [1.0, 0.95, 0.8, 0.6, 0.3]),
    # The quadratic law (0.4, 0.25) sampled at 20 equally spaced radii.
    "quadratic20": _twenty_rows(),
}


# --- the uniform disc -------------------------------------------------------

def disc(u, s):
    """Magnification of a uniform disc of radius s centred at u (Einstein radii)."""
    if s == 0:
        return (u * u + 2) / (u * mpmath.sqrt(u * u + 4)) if u else mpmath.inf
    delta = u - s
    sigma = u + s
    if delta == 0:
        s2 = s * s
        return (2 / s + (1 + s2) / s2 * (mpmath.pi / 2 + mpmath.asin((s2 - 1) / (s2 + 1)))) / mpmath.pi
    one_minus_n = (delta / sigma) ** 2
    n = 4 * u * s / sigma**2
    one_minus_m = delta**2 * (1 + 4 / sigma**2) / (4 + delta**2)
    m = 1 - one_minus_m
    k = mpmath.elliprf(0, one_minus_m, 1)
    e = k - m / 3 * mpmath.elliprd(0, one_minus_m, 1)
    p = k + n / 3 * mpmath.elliprj(0, one_minus_m, 1, one_minus_n)
    q = mpmath.sqrt(4 + delta**2)
    s2 = s * s
    return (sigma * q / (2 * s2) * e
            - delta * (8 + u * u - s2) / (2 * s2 * q) * k
            + 2 * delta**2 * (1 + s2) / (s2 * sigma * q) * p) / mpmath.pi


# --- the laws as sums of basis functions --------------------------------------
# A basis function is ("pow", p) for mu^p or ("mulog",) for mu ln mu.

def law_basis(law, coefficients):
    """(c0, {basis: b}) with I(mu) = c0 + sum b g(mu); coefficients exact doubles."""
    c = [mpf(x) for x in coefficients]
    half = mpf(1) / 2
    if law == "uniform":
        return mpf(1), {}
    if law == "linear":
        (u,) = c
        return 1 - u, {("pow", mpf(1)): u}
    if law == "quadratic":
        u1, u2 = c
        return 1 - u1 - u2, {("pow", mpf(1)): u1 + 2 * u2, ("pow", mpf(2)): -u2}
    if law == "square-root":
        cc, d = c
        return 1 - cc - d, {("pow", mpf(1)): cc, ("pow", half): d}
    if law == "logarithmic":
        e, f = c
        return 1 - e, {("pow", mpf(1)): e, ("mulog",): -f}
    if law == "power-2":
        cc, alpha = c
        return 1 - cc, {("pow", alpha): cc}
    if law == "claret":
        return 1 - sum(c), {("pow", mpf(k) / 2): c[k - 1] for k in range(1, 5)}
    raise ValueError(law)


def basis_value(g, mu):
    if g[0] == "pow":
        return mu ** g[1]
    return mu * mpmath.log(mu) if mu else mpf(0)


def basis_derivative(g, mu):
    if g[0] == "pow":
        return g[1] * mu ** (g[1] - 1)
    return mpmath.log(mu) + 1


def basis_flux(g):
    """int_0^1 g(mu) 2 mu dmu."""
    if g[0] == "pow":
        return 2 / (g[1] + 2)
    return mpf(-2) / 9


def minimum_brightness(law, coefficients, samples=2000):
    c0, basis = law_basis(law, coefficients)
    worst = mpf(1)
    for i in range(samples + 1):
        mu = mpf(i) / samples
        worst = min(worst, c0 + sum(b * basis_value(g, mu) for g, b in basis.items()))
    return worst


# --- breakpoints --------------------------------------------------------------

def geometric_up(start, end):
    """start, 4 start, 16 start, ... below end."""
    points = []
    x = start
    while x < end:
        points.append(x)
        x *= 4
    return points


def mu_breakpoints(l):
    """Pieces of [0, 1] in mu: the contact and a geometric grading away from it."""
    if l < 1:
        scale = mpmath.sqrt(1 - l * l)
    else:
        scale = mpmath.sqrt(l * l - 1)
    inner = geometric_up(scale, mpf(1)) if 0 < scale < 1 else []
    if not inner:
        inner = [mpf(1) / 2]
    return [mpf(0)] + inner + [mpf(1)]


def r_breakpoints(l, rows):
    """Pieces of [0, 1] in r: every table row, the contact r = l, and a
    geometric grading on both sides of the contact (or of r = 1 for l > 1)."""
    points = {mpf(x) for x in rows} | {mpf(0), mpf(1)}
    if 0 < l < 1:
        points.add(l)
        d = 1 - l
        x = d
        while x < 1:
            if l - x > 0:
                points.add(l - x)
            if l + x < 1:
                points.add(l + x)
            x *= 4
    elif l > 1:
        x = l - 1
        while x < 1:
            points.add(1 - x)
            x *= 4
    return sorted(points)


# --- the integrals ------------------------------------------------------------

class Point:
    """All integrals at one (l, rho), disc values cached by abscissa."""

    def __init__(self, l, rho):
        self.l = l
        self.rho = rho
        self.u = l * rho
        self.cache = {}
        self.pieces_mu = mu_breakpoints(l)
        self.edge = disc(self.u, rho)

    def disc_at_radius(self, r):
        value = self.cache.get(r)
        if value is None:
            value = disc(self.u, self.rho * r)
            self.cache[r] = value
        return value

    def basis_integral(self, g):
        """int_0^1 (1 - mu^2) g'(mu) A_disc(u, rho sqrt(1 - mu^2)) dmu."""
        def in_mu(mu):
            r = mpmath.sqrt(1 - mu * mu)
            return r * r * basis_derivative(g, mu) * self.disc_at_radius(r)
        total = mpf(0)
        a0, b0 = self.pieces_mu[0], self.pieces_mu[1]
        # mu = b0 t^8 on the piece at the limb: mu^(-0.8) dmu becomes t^0.6 dt.
        total += mpmath.quad(lambda t: in_mu(b0 * t**8) * 8 * b0 * t**7, [0, 1])
        for a, b in zip(self.pieces_mu[1:-1], self.pieces_mu[2:]):
            total += mpmath.quad(in_mu, [a, b])
        return total

    def law(self, law, coefficients):
        c0, basis = law_basis(law, coefficients)
        flux = c0 + sum(b * basis_flux(g) for g, b in basis.items())
        weighted = c0 * self.edge + sum(b * self.basis_integral(g) for g, b in basis.items())
        return weighted / flux

    def r_piece_integrals(self, rows):
        """{(a, b): int_a^b r^2 A_disc(u, rho r) dr} over the pieces."""
        points = r_breakpoints(self.l, rows)
        return {(a, b): mpmath.quad(lambda r: r * r * self.disc_at_radius(r), [a, b])
                for a, b in zip(points, points[1:])}

    def table(self, bl, bf, pieces):
        weighted, flux = self.table_parts(bl, bf, pieces)
        return weighted / flux

    def table_parts(self, bl, bf, pieces):
        """(F A, F) of the table: both linear in bf."""
        bl = [mpf(x) for x in bl]
        bf = [mpf(x) for x in bf]
        flux = mpf(0)
        weighted = bf[-1] * self.edge
        for i in range(len(bl) - 1):
            r0, r1 = bl[i], bl[i + 1]
            slope = (bf[i + 1] - bf[i]) / (r1 - r0)
            a = bf[i] - slope * r0
            flux += a * (r1**2 - r0**2) + 2 * slope / 3 * (r1**3 - r0**3)
            for (p, q), value in pieces.items():
                if r0 <= p and q <= r1:
                    weighted -= slope * value
        return weighted, flux


def working_digits(l):
    return BASE_DIGITS + 2 * max(0, math.ceil(math.log10(max(l, 1.0))))


def point_references(l, rho, extra_digits=0):
    """[(law, coefficients, value)] for every law and table at one (l, rho)."""
    with mpmath.workdps(working_digits(l) + extra_digits):
        point = Point(mpf(l), mpf(rho))
        out = [(law, coefficients, point.law(law, coefficients)) for law, coefficients in LAWS]
        rows = sorted({x for bl, _ in TABLES.values() for x in bl})
        pieces = point.r_piece_integrals(rows)
        for name, (bl, bf) in TABLES.items():
            out.append(("table:" + name, (), point.table(bl, bf, pieces)))
        return out


# --- independent check: the double integral over the disc ----------------------

def brightness_function(law, coefficients):
    if law.startswith("table:"):
        bl, bf = TABLES[law[6:]]
        bl = [mpf(x) for x in bl]
        bf = [mpf(x) for x in bf]

        def profile(r):
            for i in range(len(bl) - 1):
                if r <= bl[i + 1]:
                    return bf[i] + (bf[i + 1] - bf[i]) * (r - bl[i]) / (bl[i + 1] - bl[i])
            return bf[-1]
        breaks = bl
        return profile, breaks
    c0, basis = law_basis(law, coefficients)

    def profile(r):
        mu = mpmath.sqrt(max(1 - r * r, 0))
        return c0 + sum(b * basis_value(g, mu) for g, b in basis.items())
    return profile, []


def direct_double_integral(law, coefficients, l, rho):
    """Mean point-source magnification over the disc, weighted by I, as a
    double integral in polar coordinates (d, theta) about the lens."""
    l, rho = mpf(l), mpf(rho)
    profile, breaks = brightness_function(law, coefficients)

    def radial(d):
        # d A_pt(rho d) = (rho^2 d^2 + 2)/(rho sqrt(rho^2 d^2 + 4)).
        x2 = (rho * d) ** 2
        return (x2 + 2) / (rho * mpmath.sqrt(x2 + 4))

    def along_ray(theta, d0, d1):
        c = mpmath.cos(theta)
        # Split where the ray crosses a table row or passes nearest the centre.
        cuts = {d0, d1}
        nearest = -l * c
        if d0 < nearest < d1:
            cuts.add(nearest)
        for rb in breaks:
            disc2 = rb * rb - (l * mpmath.sin(theta)) ** 2
            if disc2 > 0:
                for d in (nearest - mpmath.sqrt(disc2), nearest + mpmath.sqrt(disc2)):
                    if d0 < d < d1:
                        cuts.add(d)
        cuts = sorted(cuts)
        f = lambda d: profile(mpmath.sqrt(max(l * l + 2 * l * d * c + d * d, 0))) * radial(d)
        return mpmath.quad(f, cuts)

    if l < 1:
        def outer(theta):
            d1 = -l * mpmath.cos(theta) + mpmath.sqrt(1 - (l * mpmath.sin(theta)) ** 2)
            return along_ray(theta, mpf(0), d1)
        # Rays tangent to a row's circle bound pieces too.
        tangents = [mpmath.asin(mpf(rb) / l) for rb in breaks if 0 < rb < l]
        cuts = sorted({mpf(0), mpmath.pi / 2, mpmath.pi} | set(tangents)
                      | {mpmath.pi - t for t in tangents})
        total = 2 * mpmath.quad(outer, cuts)
    else:
        tangent = mpmath.asin(1 / l)

        def outer(psi):
            theta = mpmath.pi - psi
            middle = l * mpmath.cos(psi)
            half_chord = mpmath.sqrt(max(1 - (l * mpmath.sin(psi)) ** 2, 0))
            return along_ray(theta, middle - half_chord, middle + half_chord)
        total = 2 * mpmath.quad(outer, [0, tangent])
    # The flux: int int I dA = pi F.
    flux = 2 * mpmath.pi * mpmath.quad(lambda r: profile(r) * r, [mpf(0)] + [mpf(b) for b in breaks[1:-1]] + [mpf(1)])
    return total / flux


def check_double_integrals():
    cases = [
        ("linear", (0.6,), 0.3, 0.1),
        ("square-root", (0.3, 0.4), 0.9, 1.0),
        ("power-2", (0.8, 0.2), 2.0, 0.1),
        ("table:five", (), 0.9, 1.0),
    ]
    for law, coefficients, l, rho in cases:
        t = time.time()
        with mpmath.workdps(BASE_DIGITS):
            reference = dict(((a, b), v) for a, b, v in point_references(l, rho))[(law, coefficients)]
            direct = direct_double_integral(law, coefficients, l, rho)
            print(f"{law} {coefficients} rho {rho} l {l}: relative difference "
                  f"{mpmath.nstr(abs(direct / reference - 1), 3)} ({time.time() - t:.0f} s)", flush=True)


def check_precision():
    for rho in (0.01, 10.0):
        for l in (1 - 1e-12, 1 + 1e-15):
            base = point_references(l, rho)
            finer = point_references(l, rho, extra_digits=20)
            with mpmath.workdps(BASE_DIGITS + 30):
                worst = max(abs(a[2] / b[2] - 1) for a, b in zip(base, finer))
            print(f"rho {rho} l {l!r}: 20 more digits change it by {mpmath.nstr(worst, 3)}", flush=True)


def run_checks():
    check_double_integrals()
    check_precision()


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--check", action="store_true", help="run the independent checks instead")
    parser.add_argument("--rhos", type=float, nargs="*", help="only these rho (for a partial run)")
    parser.add_argument("--output", type=pathlib.Path, default=REFERENCE_FILE)
    args = parser.parse_args()
    if args.check:
        run_checks()
        return
    for law, coefficients in LAWS:
        with mpmath.workdps(BASE_DIGITS):
            assert minimum_brightness(law, coefficients) >= 0, (law, coefficients)
    args.output.parent.mkdir(parents=True, exist_ok=True)
    TABLES_FILE.parent.mkdir(parents=True, exist_ok=True)
    with open(TABLES_FILE, "w", newline="") as f:
        w = csv.writer(f, lineterminator="\n")
        w.writerow(["table", "bl", "bf"])
        for name, (bl, bf) in TABLES.items():
            for r, b in zip(bl, bf):
                w.writerow([name, float.hex(r), float.hex(b)])
    rhos = args.rhos or RHOS
    with open(args.output, "w", newline="") as f:
        w = csv.writer(f, lineterminator="\n")
        w.writerow(["law", "coefficients", "rho", "l", "reference"])
        for rho in rhos:
            for l in (THIN_SEPARATIONS if rho in THIN_RHOS else SEPARATIONS):
                t = time.time()
                for law, coefficients, value in point_references(l, rho):
                    w.writerow([law, " ".join(repr(c) for c in coefficients), repr(rho),
                                float.hex(l), mpmath.nstr(value, OUTPUT_DIGITS, strip_zeros=False)])
                f.flush()
                print(f"rho {rho} l {l!r}: {time.time() - t:.1f} s", file=sys.stderr, flush=True)


if __name__ == "__main__":
    main()
