"""The error contract of the gradient and band functions, by property.

Whatever floats and lists they are given, limb_darkened_magnification_gradient,
tabulated_limb_darkened_magnification_gradient and
limb_darkened_magnification_bands return a result of the documented shape, or
refuse with ValueError (a bad value) or TypeError (an argument of the wrong
kind); never another exception, never a crash. A result holds no NaN: values
finite, derivatives finite or a signed infinity on the limb. They accept and
refuse exactly what the value functions accept and refuse, and their values
are the value functions' to the bit (each band's within 1e-14).
"""

import math

import pytest
from hypothesis import given
from hypothesis import strategies as st

import lumevaro
import numpy as np

from conftest import LAWS, examples, is_array, same_result


# Doubles of every kind, weighted towards the ones a call takes.
doubles = st.one_of(
    st.floats(allow_nan=True, allow_infinity=True, allow_subnormal=True),
    st.sampled_from([0.0, -0.0, 1.0, 1 - 1e-6, 1 + 1e-6, 0.5, 2.5, 1e-50, 1e50, 1e300,
                     5e-324, math.inf, -math.inf, math.nan, -1.0, 1e6, 1.0000001e6]),
    st.floats(0.0, 5.0),
    st.floats(1e-4, 1e3),
)
# Now and then an object of the wrong kind where a number or a list goes.
wrong_kinds = st.sampled_from([None, "1.0", b"x", [1.0], {1.0: 2.0}, object(), 1j])


def maybe_wrong(strategy):
    return st.one_of(strategy, strategy, strategy, strategy, strategy, strategy, strategy,
                     strategy, strategy, wrong_kinds)


separations = maybe_wrong(st.lists(maybe_wrong(doubles), max_size=9))
numbers = maybe_wrong(doubles)
law_names = st.one_of(st.sampled_from(sorted(LAWS)), st.sampled_from(sorted(LAWS)),
                      st.sampled_from(sorted(LAWS)), st.sampled_from(["Linear", "", 1.0, None]))


@st.composite
def coefficient_lists(draw, law):
    count = len(LAWS.get(law, ())) if isinstance(law, str) else 0
    if draw(st.integers(0, 9)) == 0:
        count = draw(st.integers(0, 5))
    return draw(maybe_wrong(st.lists(maybe_wrong(doubles), min_size=count, max_size=count)))


@st.composite
def table_columns(draw):
    rows = draw(st.integers(0, 6))
    if draw(st.integers(0, 3)) > 0:
        # Mostly ascending from 0 to 1, as a table must be.
        inner = sorted(draw(st.lists(st.floats(0.0, 1.0), min_size=max(rows - 2, 0),
                                     max_size=max(rows - 2, 0))))
        bl = [0.0, *inner, 1.0][:max(rows, 2)]
    else:
        bl = draw(st.lists(doubles, min_size=rows, max_size=rows))
    size = len(bl) if draw(st.integers(0, 5)) > 0 else draw(st.integers(0, 6))
    bf = draw(st.lists(st.one_of(st.floats(0.0, 10.0), doubles), min_size=size, max_size=size))
    return draw(maybe_wrong(st.just(bl))), draw(maybe_wrong(st.just(bf)))


def outcome(function, *args):
    try:
        return "value", function(*args)
    except (ValueError, TypeError) as error:
        return "refused", (type(error), str(error))
    except BaseException as error:  # noqa: B036 - anything else breaks the contract
        raise AssertionError(f"{type(error).__name__}: {error}") from error


def check_values(values, shape, *, finite):
    assert is_array(values, shape), values
    assert not np.isnan(values).any(), values
    assert np.isfinite(values).all() or not finite, values


def check_gradient(result, shape, count):
    assert type(result) is tuple and len(result) == 4
    a, du, drho, dc = result
    check_values(a, shape, finite=True)
    check_values(du, shape, finite=False)
    check_values(drho, shape, finite=False)
    check_values(dc, (count, *shape), finite=False)


def agrees_with_the_value_function(gradient, value_function, args, counted):
    """The gradient's value is the value function's, to the bit, with one
    derivative list per item of args[counted], or both refuse the arguments
    alike."""
    kind, got = outcome(gradient, *args)
    value_kind, value = outcome(value_function, *args)
    assert kind == value_kind, (got, value)
    if kind == "value":
        check_gradient(got, value.shape, len(args[counted]))
        assert same_result(got[0], value)
    else:
        assert got == value


@given(l=separations, re=numbers, rstar=numbers, data=st.data())
@examples(300)
def test_law_gradient_gives_its_shape_or_the_value_function_s_refusal(l, re, rstar, data):
    law = data.draw(law_names)
    coefficients = data.draw(coefficient_lists(law))
    agrees_with_the_value_function(lumevaro.limb_darkened_magnification_gradient,
                                   lumevaro.limb_darkened_magnification, (l, re, rstar, law, coefficients),
                                   counted=4)


@given(l=separations, re=numbers, rstar=numbers, table=table_columns())
@examples(300)
def test_table_gradient_gives_its_shape_or_the_value_function_s_refusal(l, re, rstar, table):
    bl, bf = table
    agrees_with_the_value_function(lumevaro.tabulated_limb_darkened_magnification_gradient,
                                   lumevaro.tabulated_limb_darkened_magnification, (l, re, rstar, bl, bf),
                                   counted=4)


@given(l=separations, re=numbers, rstar=numbers, data=st.data())
@examples(300)
def test_bands_give_one_list_per_band_or_a_refusal(l, re, rstar, data):
    law = data.draw(law_names)
    bands = data.draw(maybe_wrong(st.lists(coefficient_lists(law), max_size=5)))
    kind, got = outcome(lumevaro.limb_darkened_magnification_bands, l, re, rstar, law, bands)
    if kind == "refused":
        # A refusal that does not name the bands is one the first band's
        # one-band call makes too.
        if "bands" not in got[1] and isinstance(bands, list) and bands:
            assert outcome(lumevaro.limb_darkened_magnification, l, re, rstar, law,
                           bands[0])[0] == "refused", got
        return
    shape = np.asarray(l, dtype=float).shape
    check_values(got, (len(bands), *shape), finite=True)
    for band, values in zip(bands, got):
        one = lumevaro.limb_darkened_magnification(l, re, rstar, law, band)
        assert same_result(values, one), (band, values, one)
