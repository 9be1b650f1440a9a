#!/usr/bin/env python3
"""Measures the accuracy dial of the installed lumevaro: for every rtol a
caller may ask for (each tier of the quadrature), the worst relative error

  * against the committed 30-digit references (tests/data), laws and tables;
  * against the tightest tier (rtol = 1e-11, itself within 3e-12 of the
    references), over a denser set than the references cover: every law,
    tables of several shapes (a bright limb, a dark limb, a ring, a step,
    random tables), rho from 1e-4 to 1e12, l from 0 to 2.5 with 1 ± 1e-9 …
    1e-3 and the table rows ± 1e-6, 1e-3.

The tiers' rules (src/models/limb_darkening/quadrature.cpp) come from
tools/tune_accuracy_tiers.cpp for the laws; this script is the check of the
whole function, tables included, and the figures quoted in the README come
from it.

Usage: python3 tools/measure_accuracy_dial.py  (from the repository root,
with lumevaro installed)
"""
import csv
import pathlib
import random

import lumevaro

DATA = pathlib.Path(__file__).resolve().parent.parent / "tests" / "data"
RTOLS = [1e-2, 1e-3, 1e-4, 1e-6, 1e-8, 1e-10]
TIGHTEST = 1e-11

LAWS = {"linear 0.6": ("linear", [0.6]), "linear 1": ("linear", [1.0]),
        "quadratic": ("quadratic", [0.4, 0.25]), "square-root": ("square-root", [0.3, 0.4]),
        "logarithmic": ("logarithmic", [0.6, 0.2]), "power-2": ("power-2", [0.6, 0.6]),
        "power-2 alpha 0.05": ("power-2", [0.5, 0.05]), "power-2 alpha 0": ("power-2", [0.3, 0.0]),
        "power-2 alpha 3": ("power-2", [0.5, 3.0]), "power-2 alpha 1.05": ("power-2", [-1.0, 1.05]),
        "power-2 alpha 1.5": ("power-2", [0.6, 1.5]), "power-2 alpha 6": ("power-2", [0.5, 6.0]),
        "power-2 alpha 10, limb-bright": ("power-2", [-1.0, 10.0]),
        "claret": ("claret", [0.5, 0.2, 0.1, -0.05]),
        # Each law's terms alone, up to the weight that keeps I >= 0 (the
        # error of a mix is bounded by its terms'); the limb-bright log term
        # is the worst conditioned.
        "quadratic term": ("quadratic", [0.0, 1.0]), "square-root term": ("square-root", [0.0, 1.0]),
        "log term": ("logarithmic", [0.0, 2.7]), "log term, limb-bright": ("logarithmic", [0.0, -2.7]),
        "log term -2.125": ("logarithmic", [0.0, -2.125]),
        "claret 1": ("claret", [1.0, 0.0, 0.0, 0.0]), "claret 3": ("claret", [0.0, 0.0, 1.0, 0.0]),
        "claret 4": ("claret", [0.0, 0.0, 0.0, 1.0])}


def tables():
    rng = random.Random(3)
    out = {"bright limb": ([0, 0.3, 0.6, 0.9, 0.95, 1.0], [1, 0.9, 0.8, 0.5, 0.4, 1e3]),
           "five": ([0, 0.2, 0.5, 0.8, 0.95, 1.0], [1, 0.97, 0.85, 0.6, 0.4, 0.25]),
           "dark limb": ([0, 0.5, 1.0], [1, 0.7, 0.0]),
           "ring": ([0, 0.5, 0.6, 1.0], [0, 0, 1, 0]),
           "step": ([0, 0.999, 1.0], [1, 1, 0])}
    for k in range(6):
        n = rng.randint(2, 30)
        bl = [0.0] + sorted(rng.random() for _ in range(n - 2)) + [1.0]
        out[f"random {k}"] = (bl, [rng.random() * 10 ** rng.uniform(-3, 3) for _ in bl])
    return out


def separations(rows=()):
    grid = {0.0, 1e-5, 0.01, 1.0}
    grid.update(i * 0.02 for i in range(1, 126))
    grid.update(1 + s * d for s in (-1, 1) for d in (1e-9, 1e-6, 1e-3))
    grid.update(r + d for r in rows for d in (-1e-3, -1e-6, 1e-6, 1e-3) if 0 < r + d)
    return sorted(grid)


def compute(source, rho, ls, rtol):
    if isinstance(source[0], str):
        law, coefficients = source
        return lumevaro.limb_darkened_magnification(ls, 1.0, rho, law, coefficients, rtol=rtol)
    bl, bf = source
    return lumevaro.tabulated_limb_darkened_magnification(ls, 1.0, rho, bl, bf, rtol=rtol)


def against_tightest(sources, rtol):
    worst = (0.0, "")
    for name, source in sources.items():
        ls = separations(() if isinstance(source[0], str) else source[0])
        for rho in (1e-4, 1e-2, 0.1, 1.0, 10.0, 1e3, 1e6, 1e12):
            got = compute(source, rho, ls, rtol)
            tight = compute(source, rho, ls, TIGHTEST)
            for l, a, b in zip(ls, got, tight):
                error = abs(a / b - 1.0)
                if error > worst[0]:
                    worst = (error, f"{name}, rho = {rho:g}, l = {l!r}")
    return worst


def against_references(rtol):
    reference_tables = {}
    with open(DATA / "limb_darkening_tables.csv", newline="") as f:
        for row in csv.DictReader(f):
            bl, bf = reference_tables.setdefault("table:" + row["table"], ([], []))
            bl.append(float.fromhex(row["bl"]))
            bf.append(float.fromhex(row["bf"]))
    groups = {}
    with open(DATA / "limb_darkening_reference.csv", newline="") as f:
        for row in csv.DictReader(f):
            key = (row["law"], row["coefficients"], float(row["rho"]))
            groups.setdefault(key, []).append((float.fromhex(row["l"]), float(row["reference"])))
    worst = (0.0, "")
    for (law, coefficients, rho), rows in groups.items():
        source = reference_tables[law] if law in reference_tables else (
            law, [float(c) for c in coefficients.split()])
        got = compute(source, rho, [l for l, _ in rows], rtol)
        for (l, reference), a in zip(rows, got):
            error = abs(a / reference - 1.0)
            if error > worst[0]:
                worst = (error, f"{law} {coefficients}, rho = {rho:g}, l = {l!r}")
    return worst


def main():
    print("| rtol | references | laws, against rtol = 1e-11 | tables, against rtol = 1e-11 |")
    print("|---|---|---|---|")
    for rtol in RTOLS:
        cells = [against_references(rtol), against_tightest(LAWS, rtol), against_tightest(tables(), rtol)]
        print(f"| {rtol:g} | " + " | ".join(f"{e:.1e} ({where})" for e, where in cells) + " |")
    print(f"| {TIGHTEST:g} | {against_references(TIGHTEST)[0]:.1e} | | |")


if __name__ == "__main__":
    main()
