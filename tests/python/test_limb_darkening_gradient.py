"""Derivatives of the limb-darkened magnification, and many bands in one call,
against the committed high-precision references
(tools/gen_limb_darkening_gradient_reference.py: differences of the
stacked-disc integral at 30 digits for the u and rho derivatives, exact
linear algebra on its basis integrals for the coefficients).

The accuracy metric scales each error by what a fitter compares it with:
|g - g_ref| / (|g_ref| + A/rho) for dA/du and dA/drho, whose natural size is
A/rho, and |g - g_ref| / (|g_ref| + A) for a coefficient's derivative.
"""

import csv
import math
from collections import defaultdict

import numpy as np
import pytest

import lumevaro
from conftest import DATA, LAWS, is_array, reference_tables, same_result


TOLERANCE = 1e-8
RHOS = [1e-4, 0.01, 0.1, 1.0, 10.0, 1e3]


def read_references():
    """{(law, coefficients, rho): [(l, a, da_du, da_drho, [da_dc ...]), ...]}"""
    groups = defaultdict(list)
    with open(DATA / "limb_darkening_gradient_reference.csv", newline="") as f:
        for row in csv.DictReader(f):
            key = (row["law"], tuple(float(c) for c in row["coefficients"].split()),
                   float(row["rho"]))
            groups[key].append((float.fromhex(row["l"]), float(row["a"]), float(row["da_du"]),
                                float(row["da_drho"]),
                                [float(d) for d in row["da_dcoefficients"].split()]))
    return groups


TABLES = reference_tables()
REFERENCES = read_references()


def gradient(law, coefficients, rho, separations, rtol=1e-10):
    """(a, da_du, da_drho, da_dcoefficients) and the value function's result."""
    if law.startswith("table:"):
        bl, bf = TABLES[law[len("table:"):]]
        return (lumevaro.tabulated_limb_darkened_magnification_gradient(
                    separations, 1.0, rho, list(bl), list(bf), rtol=rtol),
                lumevaro.tabulated_limb_darkened_magnification(separations, 1.0, rho, bl, bf, rtol=rtol))
    return (lumevaro.limb_darkened_magnification_gradient(
                separations, 1.0, rho, law, list(coefficients), rtol=rtol),
            lumevaro.limb_darkened_magnification(separations, 1.0, rho, law, list(coefficients), rtol=rtol))


def coefficient_count(law, coefficients):
    return len(TABLES[law[len("table:"):]][0]) if law.startswith("table:") else len(coefficients)


def check_shape(result, count, n):
    assert type(result) is tuple and len(result) == 4
    a, du, drho, dc = result
    for values in (a, du, drho):
        assert is_array(values, (n,))
    assert is_array(dc, (count, n))


@pytest.mark.parametrize("key", sorted(REFERENCES), ids=lambda k: f"{k[0]}-{k[1]}-{k[2]:g}")
@pytest.mark.parametrize("rtol", [1e-10, 1e-8, 1e-4, 1e-2])
def test_every_derivative_within_the_accuracy_asked(key, rtol):
    """Within 1e-8 at the default and tighter tiers, 2 rtol at looser ones."""
    law, coefficients, rho = key
    rows = REFERENCES[key]
    separations = [row[0] for row in rows]
    result, values = gradient(law, coefficients, rho, separations, rtol)
    check_shape(result, coefficient_count(law, coefficients), len(separations))
    a, du, drho, dc = result
    # The value beside the derivatives is the value function's, to the bit.
    assert same_result(a, values)
    tolerance = max(TOLERANCE, 2 * rtol)
    failures = []
    for i, (l, a_ref, du_ref, drho_ref, dc_ref) in enumerate(rows):
        assert abs(a[i] - a_ref) <= rtol * a_ref, (l, a[i], a_ref)
        checks = [("da_du", du[i], du_ref, a_ref / rho), ("da_drho", drho[i], drho_ref, a_ref / rho)]
        checks += [(f"da_dcoefficients[{k}]", dc[k][i], g_ref, a_ref)
                   for k, g_ref in enumerate(dc_ref)]
        for name, g, g_ref, scale in checks:
            error = abs(g - g_ref) / (abs(g_ref) + scale)
            if not error <= tolerance:
                failures.append(f"l = {l!r}: {name} {g!r} against {g_ref!r} ({error:.1e})")
    assert not failures, "\n".join(failures)


def test_the_references_cover_what_they_must():
    laws = {law for law, _, _ in REFERENCES}
    assert set(LAWS) | {"table:" + name for name in TABLES} <= laws
    rhos = {rho for _, _, rho in REFERENCES}
    assert set(RHOS) <= rhos
    separations = {row[0] for rows in REFERENCES.values() for row in rows}
    assert {0.0, 1 - 1e-6, 1 + 1e-6, 2.0, 3.0, 1e4} <= separations


@pytest.mark.parametrize("name", sorted(TABLES))
def test_scaling_a_table_changes_nothing(name):
    # A is invariant under bf -> s bf: the derivatives along bf sum to zero.
    bl, bf = TABLES[name]
    separations = [0.0, 0.5, 1 - 1e-6, 1 + 1e-6, 2.0, 3.0]
    for rho in RHOS:
        a, _, _, dbf = lumevaro.tabulated_limb_darkened_magnification_gradient(
            separations, 1.0, rho, bl, bf)
        for i in range(len(separations)):
            terms = [b * d[i] for b, d in zip(bf, dbf)]
            assert abs(math.fsum(terms)) <= 1e-10 * (sum(map(abs, terms)) + a[i]), (rho, i)


def every_law_and_table():
    calls = [(law, coefficients) for law, coefficients in LAWS.items()]
    return calls + [("table:" + name, ()) for name in TABLES]


@pytest.mark.parametrize("law, coefficients", every_law_and_table())
def test_da_du_is_zero_at_the_centre(law, coefficients):
    for rho in RHOS:
        (a, du, drho, dc), _ = gradient(law, coefficients, rho, [0.0, 0.0])
        assert du.tolist() == [0.0, 0.0], (rho, du)
        assert all(math.isfinite(x) for x in (*a, *drho, *(d for ds in dc for d in ds)))


@pytest.mark.parametrize("law, coefficients", every_law_and_table())
def test_at_the_limb_derivatives_are_finite_or_signed_infinities(law, coefficients):
    separations = [math.nextafter(1.0, 0.0), 1.0, math.nextafter(1.0, 2.0)]
    for rho in RHOS:
        result, values = gradient(law, coefficients, rho, separations)
        check_shape(result, coefficient_count(law, coefficients), len(separations))
        a, du, drho, dc = result
        assert same_result(a, values) and all(math.isfinite(x) for x in a)
        for x in (*du, *drho, *(d for ds in dc for d in ds)):
            assert not math.isnan(x), (rho, result)


# Bands -----------------------------------------------------------------------

def bands_of(law):
    """Several coefficient sets of the law around its sample."""
    sample = list(LAWS[law])
    return [sample, [0.5 * c for c in sample], [c + 0.01 for c in sample], [0.0] * len(sample)]


@pytest.mark.parametrize("law", sorted(LAWS))
def test_each_band_is_the_one_band_call(law):
    separations = [0.0, 0.3, 0.999999, 1.0, 1.000001, 2.0, 2.6, 10.0, 1e4]
    for rho, rtol in [(rho, 1e-10) for rho in RHOS] + [(0.1, 1e-3), (10.0, 1e-6)]:
        bands = bands_of(law)
        result = lumevaro.limb_darkened_magnification_bands(separations, 1.0, rho, law, bands, rtol=rtol)
        assert is_array(result, (len(bands), len(separations)))
        for band, values in zip(bands, result):
            one = lumevaro.limb_darkened_magnification(separations, 1.0, rho, law, band, rtol=rtol)
            assert same_result(values, one), (rho, band)


@pytest.mark.parametrize("law", sorted(LAWS))
def test_each_band_gradient_is_the_one_band_gradient_to_the_bit(law):
    separations = np.array([[0.0, 0.3, 0.999999, 1.0], [1.000001, 2.0, 2.6, 1e4]])
    bands = bands_of(law)
    if law == "power-2":
        bands[1][1] = 1.5  # other exponents take other nodes
        bands[2][1] = 0.0
    for rho, rtol in [(rho, 1e-10) for rho in RHOS] + [(0.1, 1e-3), (10.0, 1e-6)]:
        a, du, drho, dc = lumevaro.limb_darkened_magnification_bands_gradient(separations, 1.0, rho, law,
                                                                               bands, rtol=rtol)
        assert dc.shape == (len(bands), len(LAWS[law]), *separations.shape)
        for b, band in enumerate(bands):
            one = lumevaro.limb_darkened_magnification_gradient(separations, 1.0, rho, law, band, rtol=rtol)
            for whole, single in zip((a, du, drho, dc), one):
                assert same_result(whole[b], single), (rho, rtol, band)


def test_the_bands_gradient_refuses_what_the_bands_refuse():
    for bands in ([[0.4, 0.2], [0.3, math.nan]], [[0.4, 0.2], [0.3]]):
        messages = []
        for function in (lumevaro.limb_darkened_magnification_bands,
                         lumevaro.limb_darkened_magnification_bands_gradient):
            with pytest.raises(ValueError) as error:
                function([0.5], 1.0, 0.1, "quadratic", bands)
            messages.append(str(error.value))
        assert messages[0] == messages[1] and "bands[1]" in messages[0]


@pytest.mark.parametrize("law", [law for law, c in LAWS.items() if len(c) >= 2])
def test_a_bad_coefficient_is_named_with_its_band_and_index(law):
    bands = bands_of(law)
    bands[2][1] = math.nan
    with pytest.raises(ValueError) as error:
        lumevaro.limb_darkened_magnification_bands([0.5], 1.0, 0.1, law, bands)
    assert "bands[2][1]" in str(error.value), str(error.value)
    bands = bands_of(law)
    bands[2] = bands[2] + [0.1]
    with pytest.raises(ValueError) as error:
        lumevaro.limb_darkened_magnification_bands([0.5], 1.0, 0.1, law, bands)
    assert "bands[2]" in str(error.value), str(error.value)


# The same refusals as the value functions ----------------------------------

LAW_REFUSALS = [
    ([0.5, math.nan], 1.0, 0.1, "linear", [0.6]),
    ([0.5, -1.0], 1.0, 0.1, "linear", [0.6]),
    ([0.5], 0.0, 0.1, "linear", [0.6]),
    ([0.5], 1.0, -0.1, "linear", [0.6]),
    ([0.5], 1.0, math.inf, "linear", [0.6]),
    ([0.5], 1.0, 0.1, "lineal", [0.6]),
    ([0.5], 1.0, 0.1, "quadratic", [0.6]),
    ([0.5], 1.0, 0.1, "claret", [0.1, 0.1, math.inf, 0.1]),
    ([0.5], 1.0, 0.1, "linear", [1e300]),
]
TABLE_REFUSALS = [
    ([0.5, math.nan], 1.0, 0.1, [0.0, 1.0], [1.0, 0.5]),
    ([0.5], 1.0, 0.0, [0.0, 1.0], [1.0, 0.5]),
    ([0.5], 1.0, 0.1, [0.0, 0.5, 1.0], [1.0, 0.5]),
    ([0.5], 1.0, 0.1, [0.0, 0.6, 0.5, 1.0], [1.0, 0.8, 0.7, 0.5]),
    ([0.5], 1.0, 0.1, [0.0, 1.0], [0.0, 0.0]),
    ([0.5], 1.0, 0.1, [0.0, 1.0], [1.0, -0.5]),
    ([0.5], 1.0, 0.1, [0.1, 1.0], [1.0, 0.5]),
]


def refusal(function, args):
    with pytest.raises(ValueError) as error:
        function(*args)
    return str(error.value)


@pytest.mark.parametrize("args", LAW_REFUSALS)
def test_law_refusals_are_the_value_function_s(args):
    expected = refusal(lumevaro.limb_darkened_magnification, args)
    assert refusal(lumevaro.limb_darkened_magnification_gradient, args) == expected
    # The bands name a coefficient by band and index.
    l, re, rstar, law, coefficients = args
    bands = [list(LAWS.get(law, coefficients)), coefficients]
    got = refusal(lumevaro.limb_darkened_magnification_bands, (l, re, rstar, law, bands))
    if "coefficients[" in expected:
        assert got == expected.replace("coefficients[", "bands[1]["), got
    elif "coefficients" in expected:
        assert "bands[1]" in got and law in got, got
    else:
        assert got == expected


@pytest.mark.parametrize("args", TABLE_REFUSALS)
def test_table_refusals_are_the_value_function_s(args):
    expected = refusal(lumevaro.tabulated_limb_darkened_magnification, args)
    assert refusal(lumevaro.tabulated_limb_darkened_magnification_gradient, args) == expected
