#!/usr/bin/env python3
"""High-precision references for the derivatives of limb-darkened
magnifications, for the tests of limb_darkened_magnification_gradient and
tabulated_limb_darkened_magnification_gradient.

The magnification A(l, rho) is the stacked-disc integral of
tools/gen_limb_darkening_reference.py (imported from there: the uniform disc
from Carlson's integrals, the laws as sums of basis functions of mu, the
tables as piecewise-linear profiles in r, the same breakpoints and mpmath
quadrature). Nothing here comes from the module's kernels.

What is written for each case (law or table, rho, l):

  * a = A;
  * da_du = dA/du at fixed rho (u = l rho), a fourth-order central difference
    in l, [A(l - 2h) - 8 A(l - h) + 8 A(l + h) - A(l + 2h)] / (12 h rho), with
    h = STEP min(1, |l - 1|) max(1, l): every stencil point stays on the side
    of the limb l = 1 where l is, at a distance from it that the step divides
    into at least 1/STEP parts, so that the logarithmic growth of the
    derivatives there is resolved (the error of the stencil is of order
    STEP^4). At l = 0 the derivative is 0 by symmetry and written as 0.
  * da_drho = dA/drho at fixed u, the same stencil in rho, rho_k = rho (1 + k eta),
    l_k = u / rho_k, eta = STEP min(1, |l - 1|) (so l moves by at most as much
    as in the first stencil; at l = 0 only rho moves).
  * da_dcoefficients: for a law I = c0 + sum_g b_g g(mu) whose c0 and b_g are
    affine in the coefficients, A = N(c)/F(c) with N and F affine in c, and
    dA/dc_k = (N_k - A F_k)/F exactly, N_k and F_k being the coefficient of c_k
    in N and F, formed from the basis integrals at the case's (l, rho) (no
    differences). Power-2's exponent alpha is the one exception: a
    fourth-order central difference in alpha with step STEP alpha, each point
    a new basis integral mu^alpha at the same (l, rho) (the disc values at the
    nodes are shared). For a table, A = N(bf)/F(bf) with N and F linear in bf,
    so dA/dbf_j = (N_j - A F_j)/F, N_j and F_j being N and F of the j-th unit
    vector: the derivative with respect to the caller's bf[j], in the caller's
    units. A does not change when bf is scaled, so sum_j bf_j dA/dbf_j = 0;
    the script asserts it for every case.

Working precision: DIGITS significant digits plus twice the number of decimal
digits of l above 1, as the value references; STEP = 1e-4. The values lose
a few digits to the quadrature (about 25 of 30 are correct), and a difference
divides their error by eta min(1, |l - 1|) >= 1e-10, so the derivatives keep
about 14 correct digits relative to the scale of the accuracy tests
(|g| + A/rho for the u and rho derivatives, |g| + A for the coefficients).
They are written with 20 significant digits, a with 25.

Checks (run with --check; results as printed on the last run): the written
references of every law against the same computed with a step twice as
large (16 times the stencil error) and 10 more digits of working precision,
on both sides of the limb, where the steps are smallest and the derivatives
grow; the worst change of any value or derivative of any law, relative to
the tests' scale (|g| + A/rho, |g| + A):
  rho 0.01, l 1 + 1e-6 ...... 5.5e-17
  rho 0.01, l 1 - 1e-6 ...... 8.0e-17
  rho 0.1, l 1 - 1e-6 ....... 8.5e-17
  rho 1e-4, l 1 + 1e-6 ...... 6.5e-17
so at least 15 digits of each derivative are correct on that scale, and the
accuracy tests' 1e-8 measures the module alone. The tables' integrals are
those of the value references, whose check found 20 more digits to change
them by at most 5e-28 relative next to the limb; divided by the smallest
step, 1e-10, that is below 1e-17. As a cross-check with nothing shared,
central differences of the module's own values (steps 1e-4 of the above,
about 6 digits) agree with every derivative to 4e-5 on the tests' scale.

Cases: every law of the value references (LAWS), 42 (rho, l) each: rho
0.01 and 1 at l 0, 0.5, 1 - 1e-3, 1 -/+ 1e-6, 2, 3 (the module's far-field
series starts at 2.5), 100 and 1e4; rho 1e-4, 0.1, 10 and 1e3 at l 0, 0.5,
1 -/+ 1e-6, 3 and 1e4. Both tables of the value references (TABLES) at rho
0.01, l 1 + 1e-6 and rho 1, l 1 - 1e-6: a table case costs about six law
cases, its integrals being split at every row.

Output: tests/data/limb_darkening_gradient_reference.csv with columns law,
coefficients (space-separated Python float literals, as in the value
references; empty for the uniform law and the tables, whose rows are in
tests/data/limb_darkening_tables.csv), rho (Python float literal), l
(float.hex), a, da_du, da_drho, da_dcoefficients (space-separated: one per
coefficient, power-2's alpha included, or one per row of the table).

Usage: python3 tools/gen_limb_darkening_gradient_reference.py [--check]
       [--part K N] [--done PART ...] [--output FILE]   (the K-th of N parts
       of equal cost, to run in N processes, leaving out the cases of parts
       already written)
       python3 tools/gen_limb_darkening_gradient_reference.py --join PART ...
       (the parts joined into the output in the order of the cases)
(needs mpmath, and gmpy2 to be fast: the 42 cases took 108 minutes summed
over the cases, in two processes at nice 19 on a 2-core machine busy with
other builds, about 45 minutes of wall time; the check 15 minutes).
"""
import argparse
import csv
import pathlib
import sys
import time

import mpmath
from mpmath import mpf

sys.path.insert(0, str(pathlib.Path(__file__).resolve().parent))
import gen_limb_darkening_reference as values  # noqa: E402

ROOT = values.ROOT
OUTPUT_FILE = ROOT / "tests" / "data" / "limb_darkening_gradient_reference.csv"

DIGITS = 30
STEP = mpf("1e-4")
A_DIGITS = 25
DERIVATIVE_DIGITS = 20

LAWS = values.LAWS
TABLES = values.TABLES
TABLE_ROWS = sorted({x for bl, _ in TABLES.values() for x in bl})

MAIN_SEPARATIONS = [0.0, 0.5, 1 - 1e-3, 1 - 1e-6, 1 + 1e-6, 2.0, 3.0, 100.0, 1e4]
THIN_SEPARATIONS = [0.0, 0.5, 1 - 1e-6, 1 + 1e-6, 3.0, 1e4]
GRID = {
    1e-4: THIN_SEPARATIONS,
    0.01: MAIN_SEPARATIONS,
    0.1: THIN_SEPARATIONS,
    1.0: MAIN_SEPARATIONS,
    10.0: THIN_SEPARATIONS,
    1e3: THIN_SEPARATIONS,
}
# The tables: both sides of the limb.
TABLE_CASES = {(0.01, 1 + 1e-6), (1.0, 1 - 1e-6)}
CASES = [(rho, l) for rho, separations in GRID.items() for l in separations]

STENCIL = ((-2, 1), (-1, -8), (1, 8), (2, -1))  # (offset, weight) / 12


class Point(values.Point):
    """The value references' integrals at one (l, rho), the basis integrals
    kept so that each law, and each coefficient's part, reuses them."""

    def __init__(self, l, rho, tables):
        super().__init__(l, rho)
        self.basis_cache = {}
        self.pieces = self.r_piece_integrals(TABLE_ROWS) if tables else None

    def basis_integral(self, g):
        value = self.basis_cache.get(g)
        if value is None:
            value = super().basis_integral(g)
            self.basis_cache[g] = value
        return value

    def law_parts(self, law, coefficients):
        """(F A, F) of the law, affine in the coefficients but power-2's alpha."""
        c0, basis = values.law_basis(law, coefficients)
        flux = c0 + sum(b * values.basis_flux(g) for g, b in basis.items())
        weighted = c0 * self.edge + sum(b * self.basis_integral(g) for g, b in basis.items())
        return weighted, flux

    def value(self, law, coefficients):
        if law.startswith("table:"):
            bl, bf = TABLES[law[6:]]
            weighted, flux = self.table_parts(bl, bf, self.pieces)
        else:
            weighted, flux = self.law_parts(law, coefficients)
        return weighted / flux

    def coefficient_derivatives(self, law, coefficients):
        if law.startswith("table:"):
            bl, bf = TABLES[law[6:]]
            weighted, flux = self.table_parts(bl, bf, self.pieces)
            a = weighted / flux
            out = []
            for j in range(len(bf)):
                unit = [mpf(0)] * len(bf)
                unit[j] = mpf(1)
                n_j, f_j = self.table_parts(bl, unit, self.pieces)
                out.append((n_j - a * f_j) / flux)
            scale = sum(abs(bf[j] * d) for j, d in enumerate(out)) + abs(a)
            assert abs(sum(bf[j] * d for j, d in enumerate(out))) <= scale * mpf(10) ** (-DIGITS + 5), law
            return out
        c = [mpf(x) for x in coefficients]
        weighted, flux = self.law_parts(law, c)
        a = weighted / flux
        out = []
        for k in range(len(c)):
            if law == "power-2" and k == 1:
                h = STEP * c[1]
                total = mpf(0)
                for offset, weight in STENCIL:
                    n, f = self.law_parts(law, [c[0], c[1] + offset * h])
                    total += weight * n / f
                out.append(total / (12 * h))
                continue
            shifted = list(c)
            shifted[k] += 1
            n1, f1 = self.law_parts(law, shifted)
            out.append(((n1 - weighted) - a * (f1 - flux)) / flux)
        return out


def all_laws():
    return [(law, coefficients) for law, coefficients in LAWS] + [("table:" + name, ()) for name in TABLES]


def case_references(rho, l, extra_digits=0, step=STEP, tables=None):
    """[(law, coefficients, a, da_du, da_drho, [da_dc ...])] at one (rho, l)."""
    if tables is None:
        tables = (rho, l) in TABLE_CASES
    laws = [x for x in all_laws() if tables or not x[0].startswith("table:")]
    with mpmath.workdps(values.working_digits(l) + DIGITS - values.BASE_DIGITS + extra_digits):
        l_, rho_ = mpf(l), mpf(rho)
        u = l_ * rho_
        centre = Point(l_, rho_, tables)
        a = [centre.value(*x) for x in laws]
        dc = [centre.coefficient_derivatives(*x) for x in laws]
        scale = step * min(1, abs(l_ - 1))
        if l == 0:
            du = [mpf(0)] * len(laws)
        else:
            h = scale * max(1, l_)
            du = [mpf(0)] * len(laws)
            for offset, weight in STENCIL:
                point = Point(l_ + offset * h, rho_, tables)
                for i, x in enumerate(laws):
                    du[i] += weight * point.value(*x)
            du = [d / (12 * h * rho_) for d in du]
        drho = [mpf(0)] * len(laws)
        for offset, weight in STENCIL:
            rho_k = rho_ * (1 + offset * scale)
            point = Point(u / rho_k, rho_k, tables)
            for i, x in enumerate(laws):
                drho[i] += weight * point.value(*x)
        drho = [d / (12 * scale * rho_) for d in drho]
        return [(law, coefficients, a[i], du[i], drho[i], dc[i])
                for i, (law, coefficients) in enumerate(laws)]


def text(x, digits):
    return mpmath.nstr(x, digits, strip_zeros=False) if x else "0"


def rows_of_case(rho, l):
    out = []
    for law, coefficients, a, du, drho, dc in case_references(rho, l):
        out.append([law, " ".join(repr(c) for c in coefficients), repr(rho), float.hex(l),
                    text(a, A_DIGITS), text(du, DERIVATIVE_DIGITS), text(drho, DERIVATIVE_DIGITS),
                    " ".join(text(d, DERIVATIVE_DIGITS) for d in dc)])
    return out


HEADER = ["law", "coefficients", "rho", "l", "a", "da_du", "da_drho", "da_dcoefficients"]


def read_written(path):
    """{(rho, l): [(law, coefficients, a, da_du, da_drho, [da_dc ...])]} of a written file."""
    out = {}
    if not path.exists():
        return out
    with open(path, newline="") as f:
        for row in csv.DictReader(f):
            out.setdefault((float(row["rho"]), float.fromhex(row["l"])), []).append(
                (row["law"], tuple(float(c) for c in row["coefficients"].split()),
                 mpf(row["a"]), mpf(row["da_du"]), mpf(row["da_drho"]),
                 [mpf(d) for d in row["da_dcoefficients"].split()]))
    return out


# The cases of the check: both sides of the limb, where the derivatives
# grow and the steps are smallest.
CHECK_CASES = [(0.01, 1 + 1e-6), (0.01, 1 - 1e-6), (0.1, 1 - 1e-6), (1e-4, 1 + 1e-6)]


def run_check(paths, part):
    """The written references of the laws against the same computed with a
    step twice as large and 10 more digits."""
    written = {}
    for path in paths:
        written.update(read_written(path))
    k, n = part
    with mpmath.workdps(50):
        for rho, l in CHECK_CASES[k::n]:
            t = time.time()
            other = case_references(rho, l, extra_digits=10, step=2 * STEP, tables=False)
            base = [row for row in written.get((rho, l)) or case_references(rho, l, tables=False)
                    if not row[0].startswith("table:")]
            worst = mpf(0)
            for (law, _, a, du, drho, dc), (law2, _, a2, du2, drho2, dc2) in zip(base, other):
                assert law == law2
                worst = max(worst, abs(a - a2) / a2)
                for g, g2 in ((du, du2), (drho, drho2)):
                    worst = max(worst, abs(g - g2) / (abs(g2) + a2 / rho))
                for g, g2 in zip(dc, dc2):
                    worst = max(worst, abs(g - g2) / (abs(g2) + a2))
            print(f"rho {rho} l {l!r}: worst change {mpmath.nstr(worst, 2)} "
                  f"({time.time() - t:.0f} s)", flush=True)


def split(cases, n):
    """The cases in n parts of about equal cost (a table case costs about six
    law cases)."""
    parts = [[] for _ in range(n)]
    costs = [0] * n
    # The tables first, then the separations in the order of their interest,
    # each at every rho: a run stopped early still covers every rho.
    order = [1 - 1e-6, 1 + 1e-6, 3.0, 0.0, 0.5, 2.0, 1e4, 1 - 1e-3, 100.0]
    for case in sorted(cases, key=lambda c: (c not in TABLE_CASES, order.index(c[1]))):
        i = costs.index(min(costs))
        parts[i].append(case)
        costs[i] += 6 if case in TABLE_CASES else 1
    return parts


def join(parts, output):
    rows = {}
    for part in parts:
        with open(part, newline="") as f:
            for row in csv.DictReader(f):
                rows.setdefault((float(row["rho"]), float.fromhex(row["l"])), []).append(row)
    with open(output, "w", newline="") as f:
        w = csv.writer(f, lineterminator="\n")
        w.writerow(HEADER)
        for case in CASES:
            for row in rows.pop(case):
                w.writerow([row[k] for k in HEADER])
    assert not rows, sorted(rows)


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--check", action="store_true", help="run the checks instead")
    parser.add_argument("--part", type=int, nargs=2, metavar=("K", "N"), default=(0, 1))
    parser.add_argument("--join", type=pathlib.Path, nargs="+", metavar="PART")
    parser.add_argument("--output", type=pathlib.Path, default=OUTPUT_FILE)
    parser.add_argument("--done", type=pathlib.Path, nargs="+", default=[], metavar="PART",
                        help="leave out the cases these parts have")
    args = parser.parse_args()
    if args.check:
        run_check(args.done or [args.output], args.part)
        return
    if args.join:
        join(args.join, args.output)
        return
    k, n = args.part
    started = time.time()
    done = {case for part in args.done for case in read_written(part)}
    with open(args.output, "w", newline="") as f:
        w = csv.writer(f, lineterminator="\n")
        w.writerow(HEADER)
        for rho, l in split([case for case in CASES if case not in done], n)[k]:
            t = time.time()
            w.writerows(rows_of_case(rho, l))
            f.flush()
            print(f"rho {rho} l {l!r}: {time.time() - t:.1f} s", file=sys.stderr, flush=True)
    print(f"part {k}/{n}: {time.time() - started:.0f} s", file=sys.stderr, flush=True)


if __name__ == "__main__":
    main()
