"""Limb-darkened magnification against the committed 30-digit references
(tools/gen_limb_darkening_reference.py), and what a caller sees: results
identical from call to call and thread to thread, smooth across the places
where the method changes."""

import csv
import math
import threading
from collections import defaultdict

import pytest

import lumevaro
from conftest import DATA, reference_tables


def read_references():
    """{(law, coefficients or table name, rho): [(l, reference), ...]}"""
    groups = defaultdict(list)
    with open(DATA / "limb_darkening_reference.csv", newline="") as f:
        for row in csv.DictReader(f):
            coefficients = tuple(float(c) for c in row["coefficients"].split())
            key = (row["law"], coefficients, float(row["rho"]))
            groups[key].append((float.fromhex(row["l"]), float(row["reference"])))
    return groups


REFERENCES = read_references()
TABLES = reference_tables()


def compute(law, coefficients, rho, separations):
    if law.startswith("table:"):
        bl, bf = TABLES[law[len("table:"):]]
        return lumevaro.tabulated_limb_darkened_magnification(separations, 1.0, rho, bl, bf)
    return lumevaro.limb_darkened_magnification(separations, 1.0, rho, law, list(coefficients))


@pytest.mark.parametrize("key", sorted(REFERENCES), ids=lambda k: f"{k[0]}-{k[1]}-{k[2]:g}")
def test_every_reference_within_1e_10(key):
    law, coefficients, rho = key
    separations, references = zip(*REFERENCES[key])
    got = compute(law, coefficients, rho, list(separations))
    errors = [abs(g - r) / r for g, r in zip(got, references)]
    worst = max(range(len(errors)), key=errors.__getitem__)
    assert errors[worst] <= 1e-10, f"l = {separations[worst]!r}: {got[worst]!r} against {references[worst]!r}"


def test_uniform_law_is_exact_at_the_limb():
    for (law, _, rho), rows in REFERENCES.items():
        if law != "uniform":
            continue
        for l, reference in rows:
            if 0.0 < abs(l - 1.0) <= 1.1e-12:
                got = lumevaro.limb_darkened_magnification([l], 1.0, rho, "uniform", [])[0]
                assert abs(got - reference) <= 1e-13 * reference, (rho, l)


def test_the_references_cover_what_they_must():
    rhos = {rho for _, _, rho in REFERENCES}
    assert min(rhos) <= 1e-4 and max(rhos) >= 1e3
    laws = {law for law, _, _ in REFERENCES}
    assert {"uniform", "linear", "quadratic", "square-root", "logarithmic", "power-2", "claret"} <= laws
    separations = {l for rows in REFERENCES.values() for l, _ in rows}
    assert {0.0, 1.0, math.nextafter(1.0, 0.0), 1e4} <= separations


def test_same_bits_every_call_and_every_thread():
    separations = [i * 0.003 for i in range(1000)]
    args = (separations, 1.0, 0.05, "claret", [0.5, 0.2, 0.1, -0.05])
    first = lumevaro.limb_darkened_magnification(*args)
    results = [None] * 4

    def work(i):
        results[i] = lumevaro.limb_darkened_magnification(*args)

    threads = [threading.Thread(target=work, args=(i,)) for i in range(4)]
    for thread in threads:
        thread.start()
    for thread in threads:
        thread.join()
    assert all(r == first for r in results)
    assert lumevaro.limb_darkened_magnification(*args) == first


@pytest.mark.parametrize("rho", [1e-3, 0.1, 30.0])
def test_continuous_where_the_far_field_series_takes_over(rho):
    """At l = 2.5 the quadrature hands over to the series: the step between
    neighbouring doubles there is far below 1e-10, as it is on either side."""
    below = math.nextafter(2.5, 0.0)
    grid = [below - 1e-9, below, 2.5, 2.5 + 1e-9]
    for law, coefficients in [("linear", [0.6]), ("power-2", [0.8, 0.2]), ("logarithmic", [0.6, 0.2])]:
        a = lumevaro.limb_darkened_magnification(grid, 1.0, rho, law, coefficients)
        assert abs(a[2] - a[1]) <= 1e-11 * a[1]
        assert abs((a[3] - a[2]) - (a[1] - a[0])) <= 1e-11 * a[1]
