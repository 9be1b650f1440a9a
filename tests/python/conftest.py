"""Shared knowledge of the module's functions for the Python tests."""

import csv
import math
import os
import pathlib
import struct
import sys
from dataclasses import dataclass
from typing import Callable

import pytest
from hypothesis import HealthCheck, Phase, settings

import lumevaro
import numpy as np

# Brightness laws with sample coefficients: a darkening that keeps every law
# non-negative across the disc. Every test that needs a law takes it from here.
LAWS = {
    "uniform": (),
    "linear": (0.6,),
    "quadratic": (0.4, 0.25),
    "square-root": (0.3, 0.4),
    "logarithmic": (0.6, 0.2),
    "power-2": (0.6, 0.6),
    "claret": (0.5, 0.2, 0.1, -0.05),
}
LAW_COUNTS = {law: len(coefficients) for law, coefficients in LAWS.items()}

# A brightness table: radius fractions and limb-darkened brightnesses.
TABLE_RADII = [0.0, 0.5, 1.0]
TABLE_BRIGHTNESS = [1.0, 0.9, 0.4]

DATA = pathlib.Path(__file__).resolve().parent.parent / "data"


def total_reference_count():
    """The interpreter's total reference count, which only a debug build
    keeps (sys.gettotalrefcount), or None."""
    count = getattr(sys, "gettotalrefcount", None)
    return count() if count is not None else None


def _numpy_keeps_total_references():
    """Whether numpy's own reference counting moves the debug interpreter's
    total, as the module's does. numpy's wheels are release builds: the
    references they take and drop inside numpy are not counted, so the total
    drifts by a few per array made and freed, with no leak anywhere. On such
    a pair the total says nothing about the calls that make arrays."""
    before = total_reference_count()
    if before is None:
        return False
    for _ in range(100):
        np.asarray([1.0, 2.0]).reshape(2, 1)
    return abs(total_reference_count() - before) < 50


NUMPY_KEEPS_TOTAL_REFERENCES = _numpy_keeps_total_references()


def reference_tables():
    """{name: (bl, bf)}: the tables of the high-precision references, which
    name them "table:<name>"."""
    tables = {}
    with open(DATA / "limb_darkening_tables.csv", newline="") as f:
        for row in csv.DictReader(f):
            bl, bf = tables.setdefault(row["table"], ([], []))
            bl.append(float.fromhex(row["bl"]))
            bf.append(float.fromhex(row["bf"]))
    return tables


def flat_floats(result):
    """Every float of a result as one list of Python floats, in order: a
    float; a list; a numpy array, in C order; a list or tuple of those, one
    after the other."""
    if isinstance(result, np.ndarray):
        return result.ravel().tolist()
    if isinstance(result, (list, tuple)):
        values = []
        for part in result:
            values.extend(flat_floats(part) if isinstance(part, (list, tuple, np.ndarray)) else [part])
        return values
    return [result]


def _floats(result):
    return flat_floats(result)


def result_bits(result):
    """A record of a result that is equal for equal results, bit for bit:
    its type, every array's shape and dtype, and every value's bits."""
    if isinstance(result, np.ndarray):
        return ("ndarray", result.shape, str(result.dtype), result.tobytes())
    if isinstance(result, (list, tuple)):
        return (type(result).__name__, tuple(result_bits(part) for part in result))
    if isinstance(result, float):
        return ("float", struct.pack("<d", result))
    return (type(result).__name__, repr(result))


def is_array(values, shape):
    """A numpy float64 array of that shape."""
    return type(values) is np.ndarray and values.dtype == np.float64 and values.shape == tuple(shape)


def same_result(a, b):
    """Two results equal bit for bit (NaN included), type and shape too."""
    return result_bits(a) == result_bits(b)


@dataclass(frozen=True)
class Function:
    """One function of the module as the shared tests see it.

    arguments(separations) gives positional arguments of a successful call
    with the separations as `l` (a function of one separation takes the first,
    or a fixed point when none is given). result is "float" for one float,
    "list" for one float per separation, "lists" for a tuple or list of lists
    of them; flatten(result) gives every float of a result as one list, the
    lists of one float per separation one after the other (so a tuple
    (a, da_du, da_drho, [da_dc0, ...]) flattens to a + da_du + da_drho +
    da_dc0 + ...). checks_values: a bad number (NaN, negative
    radius, ...) is a ValueError naming the argument, checked before anything
    is computed; the seven first functions compute whatever they are given
    and report a table of unequal columns as PanicException. integrates: a
    quadrature per separation, slow on long lists.
    """

    name: str
    parameters: tuple
    arguments: Callable
    result: str = "list"
    checks_values: bool = False
    integrates: bool = False
    flatten: Callable = _floats
    # The parameters taking a sequence of floats, each converted alike.
    sequences: tuple = ("l", "bl", "bf")
    # Parameters the property tests' model of conversion does not cover
    # (a sequence of sequences, say): they take the argument builder's value.
    fixed: tuple = ()
    # Optional keyword-only parameters after `parameters`, with their defaults.
    keyword_only: tuple = ()
    # The parameters taking real numbers of any shape (array-likes).
    arrays: tuple = ()

    @property
    def function(self):
        return getattr(lumevaro, self.name)

    @property
    def takes_table(self):
        return self.parameters[-1] == "bf"

    @property
    def takes_list(self):
        return self.result != "float"

    @property
    def gives_arrays(self):
        return self.result in ("array", "arrays")

    def valid_arguments(self, separations=(2.0, 3.5)):
        return self.arguments(list(separations))

    def columns(self, result, n):
        """The floats of a result for each of its n separations, in order."""
        values = self.flatten(result)
        if n == 0:
            return []
        k = len(values) // n
        return [tuple(values[j * n + i] for j in range(k)) for i in range(n)]

    def __str__(self):
        return self.name


def _lens(separations):
    return (separations, 1.0, 0.1)


def _table(separations):
    return (separations, 1.0, 0.1, list(TABLE_RADII), list(TABLE_BRIGHTNESS))


def _ring(separations):
    return (separations[0] if separations else 2.0, 0.5, 1.0, 0.1)


def _law(law):
    return lambda separations: (separations, 1.0, 0.1, law, list(LAWS[law]))


def _bands(separations):
    return (separations, 1.0, 0.1, "linear", [[0.6], [0.4], [0.2]])


def _light_curve(times):
    return (times, 0.5, 0.05, 2.0, 0.1, "quadratic", [0.4, 0.25])


def _jacobian_floats(result):
    """a, then the Jacobian parameter by parameter (its last axis first)."""
    a, jacobian = result
    return [*a.ravel().tolist(), *np.moveaxis(jacobian, -1, 0).ravel().tolist()]


# The limb-darkened functions' accuracy dial, and the light curves' radii
# of a table profile.
RTOL = (("rtol", 1e-10),)
LIGHT_CURVE_KEYWORDS = (("rtol", 1e-10), ("radii", None))
EVENT = ("t", "t0", "u0", "tE", "rho")

# Every function of the module, in registration order. A new function needs
# a row here, and the shared tests (binding, conversion, buffers, threads,
# leaks, instruction sets, properties) call it.
REGISTRY = [
    Function("witt_mao_magnification", ("l", "re", "rstar"), _lens),
    Function("integrated_witt_mao_magnification", ("l", "re", "rstar"), _lens),
    Function("integrated_flux_map_witt_mao_magnification", ("l", "re", "rstar", "bl", "bf"),
             _table),
    Function("heyrovsky_magnification", ("l", "r", "re", "rstar"), _ring, result="float",
             flatten=lambda result: [result], sequences=()),
    Function("integrated_heyrovsky_magnification", ("l", "re", "rstar"), _lens, integrates=True),
    Function("integrated_flux_map_heyrovsky_magnification", ("l", "re", "rstar", "bl", "bf"),
             _table, integrates=True),
    Function("discrete_flux_map_heyrovsky_magnification", ("l", "re", "rstar", "bl", "bf"),
             _table),
    Function("limb_darkened_magnification", ("l", "re", "rstar", "law", "coefficients"),
             _law("linear"), result="array", checks_values=True, sequences=("coefficients",),
             keyword_only=RTOL, arrays=("l",)),
    Function("tabulated_limb_darkened_magnification", ("l", "re", "rstar", "bl", "bf"),
             _table, result="array", checks_values=True, sequences=("bl", "bf"), keyword_only=RTOL,
             arrays=("l",)),
    Function("limb_darkened_magnification_gradient", ("l", "re", "rstar", "law", "coefficients"),
             _law("quadratic"), result="arrays", checks_values=True, sequences=("coefficients",),
             keyword_only=RTOL, arrays=("l",)),
    Function("tabulated_limb_darkened_magnification_gradient", ("l", "re", "rstar", "bl", "bf"),
             _table, result="arrays", checks_values=True, sequences=("bl", "bf"),
             keyword_only=RTOL, arrays=("l",)),
    Function("limb_darkened_magnification_bands", ("l", "re", "rstar", "law", "bands"),
             _bands, result="array", checks_values=True, sequences=(), fixed=("bands",),
             keyword_only=RTOL, arrays=("l",)),
    Function("limb_darkened_magnification_bands_gradient", ("l", "re", "rstar", "law", "bands"),
             _bands, result="arrays", checks_values=True, sequences=(), fixed=("bands",),
             keyword_only=RTOL, arrays=("l",)),
    Function("light_curve", ("t", "t0", "u0", "tE", "rho", "law", "coefficients"),
             _light_curve, result="array", checks_values=True, sequences=(),
             keyword_only=LIGHT_CURVE_KEYWORDS, arrays=EVENT + ("coefficients",)),
    Function("light_curve_jacobian", ("t", "t0", "u0", "tE", "rho", "law", "coefficients"),
             _light_curve, result="arrays", checks_values=True, flatten=_jacobian_floats,
             sequences=(), keyword_only=LIGHT_CURVE_KEYWORDS, arrays=EVENT + ("coefficients",)),
]
FUNCTIONS = {row.name: row for row in REGISTRY}

# Views of the registry by what the tests ask.
ALL_SIGNATURES = {row.name: row.parameters for row in REGISTRY}
# The seven first functions, whose behaviour on any input (no value checks,
# PanicException for unequal table columns) is frozen.
SIGNATURES = {row.name: row.parameters for row in REGISTRY if not row.checks_values}
# The functions that check their arguments (ValueError) and carry docstrings.
LIMB_DARKENED_SIGNATURES = {row.name: row.parameters for row in REGISTRY if row.checks_values}
LIST_FUNCTIONS = [name for name in SIGNATURES if FUNCTIONS[name].takes_list]
FLUX_MAP_FUNCTIONS = [name for name in SIGNATURES if FUNCTIONS[name].takes_table]
ALL_LIST_FUNCTIONS = [row.name for row in REGISTRY if row.takes_list]


def valid_arguments(name, separations=(2.0, 3.5)):
    """Positional arguments for a successful call of the named function."""
    return FUNCTIONS[name].valid_arguments(separations)


# The Hypothesis set-up of every property test: deterministic (derandomized,
# no example database) unless LUMEVARO_HYPOTHESIS_PROFILE=explore asks for
# fresh examples (twenty times as many); "quick" runs a quarter of them.
settings.register_profile(
    "lumevaro-ci", derandomize=True, database=None, deadline=None, print_blob=True,
    suppress_health_check=[HealthCheck.too_slow, HealthCheck.data_too_large,
                           HealthCheck.filter_too_much])
settings.register_profile("lumevaro-explore", settings.get_profile("lumevaro-ci"),
                          derandomize=False)
settings.register_profile("lumevaro-quick", settings.get_profile("lumevaro-ci"))
PROFILE_NAME = "lumevaro-" + os.environ.get("LUMEVARO_HYPOTHESIS_PROFILE", "ci")
PROFILE = settings.get_profile(PROFILE_NAME)
EXAMPLE_SCALE = {"lumevaro-explore": 20.0, "lumevaro-quick": 0.25}.get(PROFILE_NAME, 1.0)


def examples(count, explain=True):
    """Settings for a property test of `count` examples under the profile."""
    phases = [phase for phase in Phase if explain or phase.name != "explain"]
    return settings(PROFILE, max_examples=max(1, round(count * EXAMPLE_SCALE)), phases=phases)


class ReportedSequence:
    """A caller's sequence: reports `length` (or raises it, given an exception
    class) and yields what the generator function `items` yields."""

    def __init__(self, items, length=0):
        self.items, self.length = items, length

    def __len__(self):
        if isinstance(self.length, type):
            raise self.length("no length")
        return self.length

    def __getitem__(self, index):
        raise AssertionError("conversion must iterate, not index")

    def __iter__(self):
        return self.items()


def two_items():
    yield 2.0
    yield 3.0


def same_values(a, b):
    """Element-wise equality of two float lists, NaN equal to NaN."""
    return len(a) == len(b) and all(
        x == y or (math.isnan(x) and math.isnan(y)) for x, y in zip(a, b)
    )


@pytest.fixture(scope="session")
def panic_exception():
    """The PanicException type, caught from an unequal-length table."""
    try:
        lumevaro.discrete_flux_map_heyrovsky_magnification([2.0], 1.0, 0.1, [0.5], [])
    except BaseException as caught:  # noqa: B036 - PanicException is a BaseException
        return type(caught)
    pytest.fail("an unequal-length table did not raise")


def pytest_configure(config):
    config.addinivalue_line(
        "markers", "soak: calls every function and error path for a fixed time (about 20 s) "
                   "and checks that memory and object counts stay flat")
