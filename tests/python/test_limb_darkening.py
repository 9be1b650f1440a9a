"""Limb-darkened magnification against the committed 30-digit references
(tools/gen_limb_darkening_reference.py) at every accuracy a caller may ask
for, and what a caller sees: results identical from call to call and thread
to thread, smooth across the places where the method changes, and an rtol
out of range refused by every function that takes it."""

import csv
import math
import threading
from collections import defaultdict

import numpy as np
import pytest

import lumevaro
from conftest import DATA, REGISTRY, reference_tables, same_result

# The accuracies asked for (None: the default, 1e-10) and, for each, the
# separation from which the far-field series serves it.
RTOLS = {1e-2: 1.2, 1e-3: 1.2, 1e-4: 1.2, 1e-6: 1.3, 1e-8: 1.5, None: 1.7, 1e-11: 2.0}


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


def compute(law, coefficients, rho, separations, rtol=None):
    accuracy = {} if rtol is None else {"rtol": rtol}
    if law.startswith("table:"):
        bl, bf = TABLES[law[len("table:"):]]
        return lumevaro.tabulated_limb_darkened_magnification(separations, 1.0, rho, bl, bf, **accuracy)
    return lumevaro.limb_darkened_magnification(separations, 1.0, rho, law, list(coefficients), **accuracy)


@pytest.mark.parametrize("key", sorted(REFERENCES), ids=lambda k: f"{k[0]}-{k[1]}-{k[2]:g}")
def test_every_reference_within_the_accuracy_asked(key):
    law, coefficients, rho = key
    separations, references = zip(*REFERENCES[key])
    for rtol in RTOLS:
        got = compute(law, coefficients, rho, list(separations), rtol)
        errors = [abs(g - r) / r for g, r in zip(got, references)]
        worst = max(range(len(errors)), key=errors.__getitem__)
        assert errors[worst] <= (rtol or 1e-10), \
            f"rtol {rtol}, l = {separations[worst]!r}: {got[worst]!r} against {references[worst]!r}"


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
    assert all(same_result(r, first) for r in results)
    assert same_result(lumevaro.limb_darkened_magnification(*args), first)


@pytest.mark.parametrize("rtol", RTOLS, ids=str)
def test_continuous_where_the_far_field_series_takes_over(rtol):
    """Where the quadrature hands over to the series the step between
    neighbouring doubles is below a tenth of the accuracy asked, and the
    slope does not jump."""
    switch = RTOLS[rtol]
    below = math.nextafter(switch, 0.0)
    grid = [below - 1e-9, below, switch, switch + 1e-9]
    for rho in [1e-3, 0.1, 30.0]:
        for law, coefficients in [("linear", [0.6]), ("power-2", [0.8, 0.2]), ("logarithmic", [0.6, 0.2])]:
            a = compute(law, coefficients, rho, grid, rtol)
            assert abs(a[2] - a[1]) <= 0.1 * (rtol or 1e-10) * a[1], (rho, law)
            assert abs((a[3] - a[2]) - (a[1] - a[0])) <= 0.1 * (rtol or 1e-10) * a[1], (rho, law)


def test_a_looser_accuracy_is_a_cheaper_rule_not_a_rounding():
    """Each accuracy has its own rule: the results differ from the default's,
    by less than the accuracy asked, and a value between two tiers takes the
    tighter one."""
    separations = [0.3, 0.9, 1.1, 2.0]
    default = lumevaro.limb_darkened_magnification(separations, 1.0, 0.1, "quadratic", [0.4, 0.25])
    for rtol in [1e-2, 1e-3, 1e-6]:
        loose = lumevaro.limb_darkened_magnification(separations, 1.0, 0.1, "quadratic", [0.4, 0.25],
                                                     rtol=rtol)
        assert not np.array_equal(loose, default)
        assert all(abs(x - y) <= rtol * y for x, y in zip(loose, default))
    between = lumevaro.limb_darkened_magnification(separations, 1.0, 0.1, "quadratic", [0.4, 0.25], rtol=5e-3)
    assert same_result(between, lumevaro.limb_darkened_magnification(separations, 1.0, 0.1, "quadratic",
                                                                     [0.4, 0.25], rtol=1e-3))
    assert same_result(lumevaro.limb_darkened_magnification(separations, 1.0, 0.1, "quadratic", [0.4, 0.25],
                                                            rtol=1e-10), default)


# Profiles beyond the laws' usual coefficients: a term alone at the largest
# weight that keeps I >= 0 (the limb-bright log term leaves the source a
# flux of 0.4), power-2's bright cores, and power-2 between α = 1 and 2,
# whose μ^(α-1) has an infinite slope at the limb.
HARD_PROFILES = [("logarithmic", [0.0, -2.7]), ("logarithmic", [0.0, 2.7]), ("square-root", [0.0, 1.0]),
                 ("claret", [0.0, 0.0, 0.0, 1.0]), ("power-2", [0.5, 10.0]), ("power-2", [-1.0, 6.0]),
                 ("power-2", [-1.0, 1.05]), ("power-2", [0.6, 1.5])]


@pytest.mark.parametrize("law, coefficients", HARD_PROFILES, ids=str)
def test_hard_profiles_within_the_accuracy_asked(law, coefficients):
    """Against the tightest accuracy: a badly conditioned profile or a bright
    core takes a tighter rule, so the promise holds for them too."""
    separations = [0.0, 1e-5, 0.01, 0.2, 0.5, 0.9, 0.999, 1.0, 1.001, 1.1, 1.25, 1.6, 2.2, 5.0]
    for rho in [1e-3, 0.1, 10.0, 1e3, 1e8]:
        tight = lumevaro.limb_darkened_magnification(separations, 1.0, rho, law, coefficients, rtol=1e-11)
        for rtol in [1e-2, 1e-3, 1e-6, 1e-8, 1e-10]:
            got = lumevaro.limb_darkened_magnification(separations, 1.0, rho, law, coefficients, rtol=rtol)
            worst = max(abs(a / b - 1.0) for a, b in zip(got, tight))
            assert worst <= rtol, (rho, rtol, worst)


def test_bands_of_unlike_conditioning_are_each_their_own_call():
    separations = [0.0, 0.3, 0.99, 1.0, 1.1, 1.5, 3.0]
    bands = [[0.6, 0.2], [0.0, -2.7], [0.3, 0.0]]
    for rtol in [1e-3, 1e-6, 1e-10]:
        result = lumevaro.limb_darkened_magnification_bands(separations, 1.0, 0.1, "logarithmic", bands,
                                                            rtol=rtol)
        assert same_result(result, np.array([
            lumevaro.limb_darkened_magnification(separations, 1.0, 0.1, "logarithmic", band, rtol=rtol)
            for band in bands]))


ACCURATE = [row for row in REGISTRY if row.keyword_only]


@pytest.mark.parametrize("row", ACCURATE, ids=str)
@pytest.mark.parametrize("rtol", [0.0, -1e-3, 9.9e-12, 0.011, 1.0, math.nan, math.inf, -math.inf])
def test_an_accuracy_out_of_range_is_refused_by_name(row, rtol):
    with pytest.raises(ValueError, match=r"^rtol, the relative accuracy asked for, must lie between 1e-11 "
                                         r"and 0\.01, got "):
        row.function(*row.valid_arguments(), rtol=rtol)


@pytest.mark.parametrize("row", ACCURATE, ids=str)
def test_rtol_is_keyword_only_and_checked_after_the_other_arguments(row):
    arguments = row.valid_arguments()
    with pytest.raises(TypeError, match="positional arguments but"):
        row.function(*arguments, 1e-3)
    with pytest.raises(TypeError, match="argument 'rtol'"):
        row.function(*arguments, rtol="1e-3")
    # A radius (re, or the light curves' timescale tE) out of range.
    bad = list(arguments)
    radius = "re" if "re" in row.parameters else "tE"
    bad[row.parameters.index(radius)] = -1.0
    with pytest.raises(ValueError, match=f"^{radius}[ ,]"):
        row.function(*bad, rtol=math.nan)
    for rtol in [1e-11, 1e-2, 1e-10]:
        assert row.function(*arguments, rtol=rtol) is not None
