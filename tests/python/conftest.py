"""Shared knowledge of the module's functions for the Python tests."""

import math

import pytest

import lumevaro

# The module's functions in registration order, with their parameters.
SIGNATURES = {
    "witt_mao_magnification": ("l", "re", "rstar"),
    "integrated_witt_mao_magnification": ("l", "re", "rstar"),
    "integrated_flux_map_witt_mao_magnification": ("l", "re", "rstar", "bl", "bf"),
    "heyrovsky_magnification": ("l", "r", "re", "rstar"),
    "integrated_heyrovsky_magnification": ("l", "re", "rstar"),
    "integrated_flux_map_heyrovsky_magnification": ("l", "re", "rstar", "bl", "bf"),
    "discrete_flux_map_heyrovsky_magnification": ("l", "re", "rstar", "bl", "bf"),
}

# The functions added after them, which check their arguments (ValueError)
# and carry full docstrings.
LIMB_DARKENED_SIGNATURES = {
    "limb_darkened_magnification": ("l", "re", "rstar", "law", "coefficients"),
    "tabulated_limb_darkened_magnification": ("l", "re", "rstar", "bl", "bf"),
    "limb_darkened_magnification_gradient": ("l", "re", "rstar", "law", "coefficients"),
    "tabulated_limb_darkened_magnification_gradient": ("l", "re", "rstar", "bl", "bf"),
    "limb_darkened_magnification_bands": ("l", "re", "rstar", "law", "bands"),
}
ALL_SIGNATURES = {**SIGNATURES, **LIMB_DARKENED_SIGNATURES}
LIST_FUNCTIONS = [name for name in SIGNATURES if name != "heyrovsky_magnification"]
FLUX_MAP_FUNCTIONS = [name for name in SIGNATURES if SIGNATURES[name][-1] == "bf"]

# A brightness table: radius fractions and limb-darkened brightnesses.
TABLE_RADII = [0.0, 0.5, 1.0]
TABLE_BRIGHTNESS = [1.0, 0.9, 0.4]


def valid_arguments(name, separations=(2.0, 3.5)):
    """Positional arguments for a successful call of the named function."""
    if name == "heyrovsky_magnification":
        return (2.0, 0.5, 1.0, 0.1)
    arguments = (list(separations), 1.0, 0.1)
    if name in FLUX_MAP_FUNCTIONS:
        arguments += (list(TABLE_RADII), list(TABLE_BRIGHTNESS))
    return arguments


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
