#!/usr/bin/env python3
"""High-precision reference values of the elliptic integrals.

Writes tests/cpp/elliptic_reference_values.inc, the grid that
tests/cpp/test_elliptic_accuracy.cpp measures the double-precision routines
against:

    python3 tools/gen_elliptic_reference.py [OUTPUT]

Needs only mpmath (pip install mpmath). The argument sets are drawn from a
seeded generator and built from random bits with exact operations (ldexp,
sums of powers of two), never through the platform's libm, so every run writes the same file
(given the same mpmath: the sets near zeros of RJ's principal value are
placed from roots that mpmath finds). Each argument is an exactly representable
double; mpmath evaluates the integral at that exact double with WORKING_DPS
significant digits, and every value is recomputed at CHECK_DPS digits: the two
must agree to far below double precision, or the script stops.

Each value v is written as a pair (value, residual): value is v rounded to the
nearest double and residual = v - value, also a double, so that a test can
measure an error much smaller than one unit in the last place of value.

Conventions, the same as the routines under test:
  K(m), E(m), PI(n, m): parameter m = k^2, characteristic n first; for these
      mpmath.ellipk / ellipe / ellippi use the same parameter convention, and
      PI is also checked against RF(0, 1-m, 1) + n RJ(0, 1-m, 1, 1-n)/3.
  RC(x, y), y < 0: the Cauchy principal value, computed as
      sqrt(x/(x-y)) RC(x-y, -y) and checked against mpmath.elliprc.
  RJ(x, y, z, p), p < 0: the Cauchy principal value, computed with Carlson's
      relation (x <= y <= z, p' = ((x+y-p) z - x y)/(z-p) > 0)
        RJ(x,y,z,p) = ((p'-z) RJ(x,y,z,p') - 3 RF(x,y,z)
                       + 3 sqrt(x y z/(x y - p p')) RC(x y - p p', -p p'))/(z-p)
      and checked against the real part of mpmath.elliprj (which returns a
      complex number whose real part is the principal value) for every eighth
      set, and against direct quadrature of the principal-value integral for
      a few.
"""

import math
import random
import sys
from pathlib import Path

import mpmath
from mpmath import mp, mpf

WORKING_DPS = 40
CHECK_DPS = 60
# Principal values of RJ whose cancellation factor (rj_cancellation) exceeds
# this go to a table of their own.
PRINCIPAL_VALUE_CANCELLATION_BOUND = 10
SEED = 20240611
ROOT = Path(__file__).resolve().parent.parent
DEFAULT_OUTPUT = ROOT / "tests" / "cpp" / "elliptic_reference_values.inc"

rng = random.Random(SEED)


def two(k):
    """2^k, exactly."""
    return math.ldexp(1.0, k)


# ---------------------------------------------------------------- arguments

def log_uniform(lo_exp=-33, hi_exp=33):
    """A double with a uniformly drawn binary exponent in [lo_exp, hi_exp)
    and a uniformly drawn 52-bit mantissa: about log-uniform over
    [2^lo_exp, 2^hi_exp); 2^±33 is about 1e±10."""
    mantissa = 1.0 + rng.getrandbits(52) / two(52)
    return math.ldexp(mantissa, rng.randrange(lo_exp, hi_exp))


def unit():
    """A double uniform in [0, 1) (53 random bits)."""
    return rng.random()


def parameters_k_e():
    ms = [0.0, 0.5, 0.25, 0.75, 0.9, 0.99, 0.999]
    ms += [unit() for _ in range(110)]
    # m near 0
    ms += [two(-k) for k in range(1, 60, 3)]
    ms += [float(f"1e-{k}") for k in range(1, 21)]
    ms += [5e-324, 2.2250738585072014e-308]
    # m near 1: 1 - 2^-k for k up to 53 (1 - 2^-53 is the double just below 1)
    ms += [1.0 - two(-k) for k in range(1, 54)]
    # a few units in the last place below 1
    ms += [1.0 - j * two(-53) for j in range(2, 10)]
    ms += [float("0." + "9" * k) for k in range(1, 16)]  # 1 - 10^-k, rounded
    # dense near 1: 1 - t with t log-uniform in [2^-53, 2^-10)
    ms += [1.0 - math.ldexp(1.0 + rng.getrandbits(40) / two(40), rng.randrange(-53, -10))
           for _ in range(30)]
    ms = [m for m in ms if 0.0 <= m < 1.0]
    return sorted(set(ms))


def parameters_e_negative():
    ms = [-1.0, -0.5, -2.0, -3.0, -9.5, -1e-10, -1e-3]
    ms += [-10.0 * unit() for _ in range(40)]
    ms += [-log_uniform(-33, 4) for _ in range(20)]
    return sorted(set(m for m in ms if -10.0 <= m < 0.0))


def arguments_pi():
    pairs = []
    # n uniform on (-10, 0) and (0, 1), m uniform on [0, 1)
    for _ in range(80):
        pairs.append((-10.0 * unit(), unit()))
    for _ in range(80):
        pairs.append((unit(), unit()))
    # n near 1
    for n in [1 - 1e-6, 1 - 1e-9, 1 - 1e-12, 1 - two(-53), 1 - two(-40), 0.999, 0.9999999]:
        for m in [0.0, 0.3, unit(), 0.9, 1 - 1e-6]:
            pairs.append((n, m))
    # n near 0, both signs
    for k in [1, 3, 6, 10, 15, 20, 40, 100]:
        for sign in (1.0, -1.0):
            pairs.append((sign * float(f"1e-{k}"), unit()))
    # m near 0 and near 1, n of both signs
    for m in [0.0, 1e-12, 1e-6, 1 - 1e-6, 1 - 1e-12, 1 - two(-52), 1 - two(-53)]:
        for n in [-9.9, -1.0, -0.5, -1e-3, 0.25, 0.5, 0.9]:
            pairs.append((n, m))
    # large negative n
    for _ in range(10):
        pairs.append((-(1.0 + 9.0 * unit()), unit()))
    return [(n, m) for n, m in pairs if -10.0 < n < 1.0 and n != 0.0 and 0.0 <= m < 1.0]


def arguments_rf():
    sets = [(log_uniform(), log_uniform(), log_uniform()) for _ in range(200)]
    # one zero, in every position
    for _ in range(30):
        a, b = log_uniform(), log_uniform()
        sets.append(rng.choice([(0.0, a, b), (a, 0.0, b), (a, b, 0.0)]))
    # two equal arguments (closed forms through RC), with and without a zero
    for _ in range(15):
        a, b = log_uniform(), log_uniform()
        sets.append(rng.choice([(a, a, b), (a, b, a), (b, a, a)]))
    sets += [(0.0, 3.0, 3.0), (2.0, 2.0, 0.0), (5.0, 5.0, 5.0)]
    # nearly equal arguments
    for _ in range(10):
        a = log_uniform()
        sets.append((a, a * (1 + two(-30)), a * (1 + two(-29))))
    return sets


def arguments_rc():
    sets = []
    for _ in range(120):
        sets.append((log_uniform(), log_uniform()))
    for _ in range(80):  # principal value
        sets.append((log_uniform(), -log_uniform()))
    for _ in range(20):  # x = 0
        sets.append((0.0, log_uniform()))
    for _ in range(30):  # y/x near 1, on both sides (log1p and atan branches)
        x = log_uniform()
        sets.append((x, x * (0.5 + 1.5 * unit())))
    for _ in range(10):
        x = log_uniform()
        sets.append((x, x))
    return sets


def arguments_rd():
    sets = [(log_uniform(), log_uniform(), log_uniform()) for _ in range(200)]
    for _ in range(20):  # x = 0: the AGM path; y = 0: duplication
        a, b = log_uniform(), log_uniform()
        sets.append(rng.choice([(0.0, a, b), (a, 0.0, b)]))
    for _ in range(15):  # coinciding arguments
        a, b = log_uniform(), log_uniform()
        sets.append(rng.choice([(a, b, b), (b, a, b), (a, a, b), (0.0, b, b)]))
    sets += [(2.0, 2.0, 2.0), (0.0, 2.0, 1.0), (2.0, 3.0, 4.0)]
    return sets


def takes_rc_difference(x, y, z, p):
    """True where RJ has two equal arguments among x, y, z (not three) whose
    value v is far from p, max(p, v)/min(p, v) > 1.2: there RJ is
    3 (RC(x, v) - RC(x, p))/(p - v) in closed form."""
    if x == y == z or not (x == y or y == z):
        return False
    v = y
    return p > 0 and max(p, v) / min(p, v) > 1.2


def arguments_rj():
    sets = [(log_uniform(), log_uniform(), log_uniform(), log_uniform()) for _ in range(200)]
    for _ in range(25):  # one zero among x, y, z
        a, b, p = log_uniform(), log_uniform(), log_uniform()
        sets.append(rng.choice([(0.0, a, b, p), (a, 0.0, b, p), (a, b, 0.0, p)]))
    for _ in range(25):  # y = z, p within a factor 1.2 of y: the duplication
        x, y = log_uniform(), log_uniform()
        sets.append((x, y, y, y * (1.0 + 0.2 * unit()) if unit() < 0.5 else y / (1.0 + 0.2 * unit())))
    for _ in range(10):  # z = p, x = y = z
        a, b = log_uniform(), log_uniform()
        sets.append(rng.choice([(a, b, b, b), (a, a, a, b)]))
    sets += [(0.0, 1.0, 2.0, 3.0), (2.0, 3.0, 4.0, 5.0), (2.0, 2.0, 2.0, 2.0)]
    return [args for args in sets if not takes_rc_difference(*args)]


def arguments_rj_rc_difference():
    sets = []
    for _ in range(60):  # p just outside the factor 1.2, x anywhere
        x, y = log_uniform(), log_uniform()
        ratio = 1.2 + 0.3 * unit()
        sets.append((x, y, y, y * ratio if unit() < 0.5 else y / ratio))
    for _ in range(20):  # p anywhere
        x, y = log_uniform(), log_uniform()
        sets.append((x, y, y, log_uniform()))
    for _ in range(20):  # x = y, swapped to y = z by the routine
        x, z = log_uniform(), log_uniform()
        sets.append((x, x, z, x * (1.2 + 0.3 * unit()) if unit() < 0.5 else log_uniform()))
    return [args for args in sets if takes_rc_difference(*args)]


def arguments_rj_principal_value():
    sets = [(log_uniform(), log_uniform(), log_uniform(), -log_uniform()) for _ in range(180)]
    for _ in range(25):
        a, b, p = log_uniform(), log_uniform(), -log_uniform()
        sets.append(rng.choice([(0.0, a, b, p), (a, 0.0, b, p), (a, b, 0.0, p)]))
    for _ in range(15):  # the two larger arguments equal
        a, b, p = log_uniform(), log_uniform(), -log_uniform()
        small, large = min(a, b), max(a, b)
        sets.append(rng.choice([(small, large, large, p), (large, small, large, p)]))
    sets += [(2.0, 3.0, 4.0, -0.5), (2.0, 3.0, 4.0, -5.0)]
    return sets


def smaller_two_equal(x, y, z, p):
    """For p < 0: the two smaller of x, y, z are equal. Then the RJ with
    p' > 0 inside Carlson's relation has x = y and may take the closed form
    through a difference of two RC (takes_rc_difference)."""
    x, y, z = sorted((x, y, z))
    return x == y


def arguments_rj_principal_value_equal_pair():
    sets = []
    for _ in range(50):
        a, b, p = log_uniform(), log_uniform(), -log_uniform()
        small, large = min(a, b), max(a, b)
        sets.append(rng.choice([(small, small, large, p), (small, large, small, p)]))
    for _ in range(10):
        a, p = log_uniform(), -log_uniform()
        sets.append((a, a, a, p))
    return [args for args in sets if smaller_two_equal(*args)]


def arguments_rj_near_zero():
    """Sets near a zero of the principal value: for x, y, z > 0 it runs from
    +inf at p = 0- to negative values for large |p| and crosses zero once
    between. The root p0 is found in mpmath; p is p0 moved by a relative
    1e-3, 1e-6, 1e-9 and 1e-12, rounded to a double."""
    sets = []
    for _ in range(8):
        x, y, z = log_uniform(-20, 20), log_uniform(-20, 20), log_uniform(-20, 20)
        with mp.workdps(WORKING_DPS):
            f = lambda p: rj_reference(x, y, z, p)
            exponents = range(-90, 90)
            grid = [-mpmath.ldexp(1, k) for k in exponents]
            values = [f(p) for p in grid]
            bracket = next((grid[i], grid[i + 1]) for i in range(len(grid) - 1)
                           if values[i] > 0 > values[i + 1])
            root = mpmath.findroot(f, bracket, solver="anderson")
        for shift in ("1e-3", "1e-6", "1e-9", "1e-12"):
            sign = rng.choice((-1, 1))
            sets.append((x, y, z, float(root * (1 + sign * mpf(shift)))))
    return sets


# --------------------------------------------------------------- references

def rc_reference(x, y):
    x, y = mpf(x), mpf(y)
    if y < 0:
        return mpmath.sqrt(x / (x - y)) * mpmath.elliprc(x - y, -y)
    return mpmath.elliprc(x, y)


def rj_reference(x, y, z, p):
    x, y, z, p = (mpf(v) for v in (x, y, z, p))
    if p > 0:
        return mpmath.elliprj(x, y, z, p)
    x, y, z = sorted((x, y, z))
    q = ((x + y - p) * z - x * y) / (z - p)
    assert q > 0
    s = x * y - p * q
    return ((q - z) * mpmath.elliprj(x, y, z, q) - 3 * mpmath.elliprf(x, y, z)
            + 3 * mpmath.sqrt(x * y * z / s) * mpmath.elliprc(s, -p * q)) / (z - p)


def rj_cancellation(x, y, z, p):
    """For p < 0: the sum of the magnitudes of the three terms of Carlson's
    relation over the magnitude of their sum. A routine that evaluates the
    relation in double precision loses about this factor in relative
    accuracy; it is infinite at a zero of the principal value."""
    x, y, z, p = (mpf(v) for v in (x, y, z, p))
    x, y, z = sorted((x, y, z))
    q = ((x + y - p) * z - x * y) / (z - p)
    s = x * y - p * q
    terms = [(q - z) * mpmath.elliprj(x, y, z, q), -3 * mpmath.elliprf(x, y, z),
             3 * mpmath.sqrt(x * y * z / s) * mpmath.elliprc(s, -p * q)]
    return sum(abs(t) for t in terms) / abs(sum(terms))


def pi_reference(n, m):
    return mpmath.ellippi(mpf(n), mpf(m))


def pi_carlson(n, m):
    n, m = mpf(n), mpf(m)
    return mpmath.elliprf(0, 1 - m, 1) + n * mpmath.elliprj(0, 1 - m, 1, 1 - n) / 3


def principal_value_quad(integrand_at, pole, factor):
    """factor * PV of the integral over [0, inf) of g(t)/(t - pole), pole > 0,
    by subtracting g(pole) on the interval symmetric about the pole."""
    g0 = integrand_at(pole)
    near = mpmath.quad(lambda t: (integrand_at(t) - g0) / (t - pole), [0, pole, 2 * pole])
    far = mpmath.quad(lambda t: integrand_at(t) / (t - pole), [2 * pole, mpmath.inf])
    return factor * (near + far)


def relative_difference(a, b):
    return abs(a - b) / max(abs(a), abs(b))


def evaluate(name, function, argument_sets, cross_check=None, cross_check_every=1,
             tolerance=mpf(10) ** -25):
    """References at WORKING_DPS, each recomputed at CHECK_DPS; optionally
    compared with an independent formula at WORKING_DPS for every
    cross_check_every-th set."""
    rows = []
    for index, args in enumerate(argument_sets):
        with mp.workdps(WORKING_DPS):
            value = function(*args)
            if cross_check is not None and index % cross_check_every == 0:
                other = cross_check(*args)
                if relative_difference(value, other) > tolerance:
                    raise SystemExit(f"{name}{args}: {value} disagrees with {other}")
        with mp.workdps(CHECK_DPS):
            check = function(*args)
        if relative_difference(value, check) > tolerance:
            raise SystemExit(f"{name}{args}: {value} at {WORKING_DPS} digits, "
                             f"{check} at {CHECK_DPS}")
        if not mpmath.isfinite(value) or value == 0:
            raise SystemExit(f"{name}{args}: reference {value} is not a finite non-zero number")
        rows.append((args, value))
    return rows


def spot_checks():
    """Quadrature of the defining principal-value integrals at a few points,
    confirming the conventions used above."""
    with mp.workdps(WORKING_DPS):
        for x, y, z, p in [(2.0, 3.0, 4.0, -5.0), (0.25, 7.0, 30.0, -0.125), (0.0, 1.5, 2.0, -3.0)]:
            g = lambda t: 1 / mpmath.sqrt((t + x) * (t + y) * (t + z))
            by_quad = principal_value_quad(g, mpf(-p), mpf(3) / 2)
            if relative_difference(by_quad, rj_reference(x, y, z, p)) > mpf(10) ** -20:
                raise SystemExit(f"RJ principal value at {(x, y, z, p)}: quadrature {by_quad}")
        for x, y in [(0.25, -2.0), (3.0, -0.5)]:
            by_quad = principal_value_quad(lambda t: 1 / mpmath.sqrt(t + x), mpf(-y), mpf(1) / 2)
            if relative_difference(by_quad, rc_reference(x, y)) > mpf(10) ** -15:
                raise SystemExit(f"RC principal value at {(x, y)}: quadrature {by_quad}")
        for n, m in [(-0.5, 0.5), (0.5, 0.3), (-7.0, 0.9)]:
            n_, m_ = mpf(n), mpf(m)
            by_quad = mpmath.quad(lambda t: 1 / ((1 - n_ * mpmath.sin(t) ** 2)
                                                 * mpmath.sqrt(1 - m_ * mpmath.sin(t) ** 2)),
                                  [0, mpmath.pi / 2])
            if relative_difference(by_quad, pi_reference(n, m)) > mpf(10) ** -25:
                raise SystemExit(f"PI at {(n, m)}: quadrature {by_quad}")


def rj_mpmath_real_part(x, y, z, p):
    value = mpmath.elliprj(x, y, z, p)
    return mpmath.re(value)


# ------------------------------------------------------------------- output

def literal(x):
    text = repr(float(x))
    if text in ("inf", "-inf", "nan"):
        raise ValueError(x)
    return text


def split(value):
    with mp.workdps(WORKING_DPS):
        nearest = float(value)
        residual = float(value - mpf(nearest))
    return nearest, residual


def table(name, arity, rows, description):
    lines = [f"// {description}",
             f"constexpr ReferenceCase<{arity}> {name}[] = {{"]
    for args, value in rows:
        nearest, residual = split(value)
        arg_text = ", ".join(literal(a) for a in args)
        lines.append(f"    {{{{{arg_text}}}, {nearest:.17g}, {residual:.17g}}},")
    lines.append("};")
    return "\n".join(lines)


def cancellation_table(name, factors):
    return ("// The cancellation factor of each set of the table above, in its order.\n"
            f"constexpr double {name}[] = {{\n"
            + "".join(f"    {float(c):.3e},\n" for c in factors) + "};")


HEADER = """\
// Reference values of the elliptic integrals for test_elliptic_accuracy.cpp.
//
// GENERATED by tools/gen_elliptic_reference.py; do not edit by hand.
// Each value was computed with mpmath at {dps} significant digits (and
// confirmed at {check} digits) at the exact double arguments listed, from a
// seeded generator (seed {seed}). To regenerate, from the repository root:
//     python3 tools/gen_elliptic_reference.py
// The output is the same on every run (given the same mpmath version).
//
// Each row is {{{{arguments}}, value, residual}}: value is the exact integral
// rounded to the nearest double, and residual, the exact integral minus value,
// rounded to a double. The including file defines
//     template <int N> struct ReferenceCase {{ double args[N]; double value; double residual; }};
// Parameter conventions: K(m), E(m) and PI(n, m) take the parameter m = k^2,
// PI the characteristic n first; RC for y < 0 and RJ for p < 0 are Cauchy
// principal values. For p < 0 the cancellation factor of a set is
// (|t1| + |t2| + |t3|)/|t1 + t2 + t3| for the three terms of Carlson's relation
//     RJ(x,y,z,p) = (t1 + t2 + t3)/(z - p), x <= y <= z,
//     p' = ((x+y-p) z - x y)/(z-p), t1 = (p'-z) RJ(x,y,z,p'), t2 = -3 RF(x,y,z),
//     t3 = 3 sqrt(x y z/(x y - p p')) RC(x y - p p', -p p');
// sets where it exceeds {bound} stand in a table of their own, with it, and so
// do the sets whose two smaller arguments are equal.
"""


def main():
    output = Path(sys.argv[1]) if len(sys.argv) > 1 else DEFAULT_OUTPUT
    spot_checks()
    # Arguments are drawn in one fixed order, before any evaluation.
    k_e = parameters_k_e()
    e_negative = parameters_e_negative()
    pi_args = arguments_pi()
    rf_args = arguments_rf()
    rc_args = arguments_rc()
    rd_args = arguments_rd()
    rj_args = arguments_rj()
    rj_rc_difference_args = arguments_rj_rc_difference()
    rj_pv_args = arguments_rj_principal_value()
    rj_near_zero_args = arguments_rj_near_zero()
    rj_pv_equal_pair_args = arguments_rj_principal_value_equal_pair()

    with_args = lambda f: (lambda *a: f(*(mpf(v) for v in a)))
    parts = [HEADER.format(dps=WORKING_DPS, check=CHECK_DPS, seed=SEED,
                           bound=PRINCIPAL_VALUE_CANCELLATION_BOUND)]
    parts.append(table("ELLIPK_REFERENCE", 1, evaluate("K", with_args(mpmath.ellipk), [(m,) for m in k_e]),
                       "K(m), m in [0, 1): uniform, near 0, and 1 - 2^-k, a few ulps below 1"))
    parts.append(table("ELLIPE_REFERENCE", 1, evaluate("E", with_args(mpmath.ellipe), [(m,) for m in k_e]),
                       "E(m), m in [0, 1): the parameters of K"))
    parts.append(table("ELLIPE_NEGATIVE_PARAMETER_REFERENCE", 1,
                       evaluate("E", with_args(mpmath.ellipe), [(m,) for m in e_negative]),
                       "E(m), m in [-10, 0)"))
    parts.append(table("ELLIPPI_REFERENCE", 2, evaluate("PI", pi_reference, pi_args, cross_check=pi_carlson),
                       "PI(n, m), n in (-10, 1), m in [0, 1)"))
    parts.append(table("ELLIPRF_REFERENCE", 3, evaluate("RF", with_args(mpmath.elliprf), rf_args),
                       "RF(x, y, z), arguments about log-uniform in [1e-10, 1e10], at most one zero"))
    parts.append(table("ELLIPRC_REFERENCE", 2,
                       evaluate("RC", rc_reference, rc_args,
                                cross_check=lambda x, y: mpmath.re(mpmath.elliprc(x, y))),
                       "RC(x, y), y of both signs (principal value for y < 0)"))
    parts.append(table("ELLIPRD_REFERENCE", 3, evaluate("RD", with_args(mpmath.elliprd), rd_args),
                       "RD(x, y, z), z > 0"))
    parts.append(table("ELLIPRJ_REFERENCE", 4, evaluate("RJ", rj_reference, rj_args),
                       "RJ(x, y, z, p), p > 0, except the sets below"))
    parts.append(table("ELLIPRJ_RC_DIFFERENCE_REFERENCE", 4,
                       evaluate("RJ", rj_reference, rj_rc_difference_args),
                       "RJ(x, y, z, p), p > 0, two of x, y, z equal to v and max(p, v)/min(p, v) > 1.2"))
    pv_rows = evaluate("RJ", rj_reference, rj_pv_args, cross_check=rj_mpmath_real_part,
                       # mpmath's complex RJ is slow here, and good to about
                       # 1e-26 only
                       cross_check_every=8, tolerance=mpf(10) ** -22)
    pv_rows += evaluate("RJ", rj_reference, rj_near_zero_args)
    pv_rows = [row for row in pv_rows if not smaller_two_equal(*row[0])]
    with mp.workdps(WORKING_DPS):
        cancellations = [rj_cancellation(*args) for args, _ in pv_rows]
    plain = [row for row, c in zip(pv_rows, cancellations) if c <= PRINCIPAL_VALUE_CANCELLATION_BOUND]
    cancelling = [(row, c) for row, c in zip(pv_rows, cancellations)
                  if c > PRINCIPAL_VALUE_CANCELLATION_BOUND]
    parts.append(table("ELLIPRJ_PRINCIPAL_VALUE_REFERENCE", 4, plain,
                       f"RJ(x, y, z, p), p < 0 (principal value), the two smaller of x, y, z "
                       f"distinct, cancellation factor at most {PRINCIPAL_VALUE_CANCELLATION_BOUND}"))
    parts.append(table("ELLIPRJ_PRINCIPAL_VALUE_CANCELLING_REFERENCE", 4, [row for row, _ in cancelling],
                       f"RJ(x, y, z, p), p < 0 (principal value), the two smaller of x, y, z "
                       f"distinct, cancellation factor above {PRINCIPAL_VALUE_CANCELLATION_BOUND}, "
                       f"down to near a zero"))
    parts.append(cancellation_table("ELLIPRJ_PRINCIPAL_VALUE_CANCELLATION", [c for _, c in cancelling]))
    equal_pair_rows = evaluate("RJ", rj_reference, rj_pv_equal_pair_args)
    with mp.workdps(WORKING_DPS):
        equal_pair_cancellations = [rj_cancellation(*args) for args, _ in equal_pair_rows]
    parts.append(table("ELLIPRJ_PRINCIPAL_VALUE_EQUAL_PAIR_REFERENCE", 4, equal_pair_rows,
                       "RJ(x, y, z, p), p < 0 (principal value), the two smaller of x, y, z equal"))
    parts.append(cancellation_table("ELLIPRJ_PRINCIPAL_VALUE_EQUAL_PAIR_CANCELLATION",
                                    equal_pair_cancellations))
    output.write_text("\n\n".join(parts) + "\n")
    print(f"wrote {output}")


if __name__ == "__main__":
    main()
