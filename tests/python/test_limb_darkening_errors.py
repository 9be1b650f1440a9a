"""The error contract of the two limb-darkened functions, by property.

A bad value anywhere (a separation, `re`, `rstar`, a coefficient, a table row)
gives a ValueError whose message names the argument, with the index of a
list item; an unknown law or a wrong number of coefficients is a ValueError
too. Good input never crashes and never comes back as a silent NaN: with a
profile that is nowhere negative every value is finite and at least 1, the
magnification of no lens, since the point-source magnification is at least 1
everywhere on the disc. The same call made twice gives the same bits.
"""

import math
import re as regex

import pytest
from hypothesis import assume, given
from hypothesis import strategies as st

import lumevaro
from conftest import LAW_COUNTS, is_array, same_result
from conftest import examples as example_count

pytestmark = pytest.mark.skipif(
    not hasattr(lumevaro, "limb_darkened_magnification"),
    reason="the module has no limb-darkened functions")

examples = example_count(100)


def law_call(l, re=1.0, rstar=0.1, law="linear", coefficients=(0.6,)):
    return lumevaro.limb_darkened_magnification(list(l), re, rstar, law, list(coefficients))


def table_call(l, bl, bf, re=1.0, rstar=0.1):
    return lumevaro.tabulated_limb_darkened_magnification(list(l), re, rstar, list(bl), list(bf))


def assert_names(error, argument, index=None):
    """The message names the argument, as `argument[index]` for a list item."""
    text = str(error.value)
    if index is None:
        assert regex.search(rf"\b{regex.escape(argument)}\b", text), text
    else:
        indices = [index] if isinstance(index, int) else index
        assert any(f"{argument}[{i}]" in text for i in indices), text


# Strategies ---------------------------------------------------------------

separations = st.floats(0.0, 1e6)
ratios = st.floats(1e-4, 1e4)  # rho = rstar / re
bad_numbers = st.sampled_from([math.nan, math.inf, -math.inf])
finite = st.floats(allow_nan=False, allow_infinity=False)
moderate = st.floats(-5.0, 5.0)


@st.composite
def dark_limb_laws(draw):
    """A law with coefficients that keep the brightness non-negative: the
    darkening terms are non-negative and sum to at most 1."""
    law = draw(st.sampled_from(sorted(LAW_COUNTS)))
    if law == "uniform":
        return law, []
    if law == "power-2":
        return law, [draw(st.floats(0.0, 1.0)), draw(st.floats(0.05, 4.0))]
    weights = draw(st.lists(st.floats(0.0, 1.0), min_size=LAW_COUNTS[law],
                            max_size=LAW_COUNTS[law]))
    total = sum(weights)
    return law, [w / total if total > 1.0 else w for w in weights]


@st.composite
def tables(draw, min_rows=2, max_rows=30):
    """A valid table: radii from exactly 0 to exactly 1, strictly ascending;
    brightnesses non-negative and not all zero."""
    # Rows at least 1e-6 source radii wide, as the function asks (2e-6 apart).
    inner = draw(st.lists(st.integers(1, 499_999), min_size=min_rows - 2,
                          max_size=max_rows - 2, unique=True))
    bl = [0.0] + [i * 2e-6 for i in sorted(inner)] + [1.0]
    brightness = st.one_of(st.just(0.0), st.floats(1e-3, 10.0))
    bf = draw(st.lists(brightness, min_size=len(bl), max_size=len(bl)))
    assume(any(b > 0.0 for b in bf))
    return bl, bf


# Good input ---------------------------------------------------------------

@examples
@given(st.lists(separations, max_size=8), ratios, dark_limb_laws())
def test_good_input_gives_finite_values_of_at_least_one(l, rho, law):
    values = law_call(l, rstar=rho, law=law[0], coefficients=law[1])
    assert is_array(values, (len(l),))
    assert all(math.isfinite(v) and v >= 1.0 - 1e-9 for v in values), (l, rho, law, values)
    assert same_result(law_call(l, rstar=rho, law=law[0], coefficients=law[1]), values)


@examples
@given(st.lists(separations, max_size=8), ratios, tables())
def test_good_tables_give_finite_values_of_at_least_one(l, rho, table):
    values = table_call(l, *table, rstar=rho)
    assert is_array(values, (len(l),))
    assert all(math.isfinite(v) and v >= 1.0 - 1e-9 for v in values), (l, rho, table, values)
    assert same_result(table_call(l, *table, rstar=rho), values)


@examples
@given(st.lists(separations, min_size=1, max_size=4), st.sampled_from(sorted(LAW_COUNTS)),
       st.data())
def test_any_finite_coefficients_are_used_as_written(l, law, data):
    # A brightness negative somewhere is the caller's business: the call
    # returns one float per separation. Only a source of no net flux is refused.
    coefficients = data.draw(st.lists(moderate, min_size=LAW_COUNTS[law],
                                      max_size=LAW_COUNTS[law]))
    if law == "power-2":
        coefficients[1] = abs(coefficients[1]) + 0.05
    try:
        values = law_call(l, law=law, coefficients=coefficients)
    except ValueError as error:
        assert "flux" in str(error), str(error)
        return
    assert is_array(values, (len(l),))


def test_a_faint_table_is_as_good_as_a_bright_one():
    bl, bf = [0.0, 0.5, 1.0], [1.0, 0.8, 0.3]
    faint = table_call([0.0, 0.5, 1.0, 3.0], bl, [b * 1e-300 for b in bf])
    assert all(math.isfinite(v) and v >= 1.0 - 1e-9 for v in faint), faint


def test_empty_separations_give_an_empty_array():
    assert is_array(law_call([], law="uniform", coefficients=[]), (0,))
    assert is_array(table_call([], [0.0, 1.0], [1.0, 0.5]), (0,))


# Bad separations, re, rstar -------------------------------------------------

@examples
@given(st.lists(separations, min_size=1, max_size=6), st.data(),
       st.one_of(bad_numbers, st.floats(max_value=-5e-324)))
def test_a_bad_separation_is_named_with_its_index(l, data, bad):
    index = data.draw(st.integers(0, len(l) - 1))
    l[index] = bad
    with pytest.raises(ValueError) as error:
        law_call(l)
    assert_names(error, "l", index)
    with pytest.raises(ValueError) as error:
        table_call(l, [0.0, 1.0], [1.0, 0.4])
    assert_names(error, "l", index)


@examples
@given(st.sampled_from(["re", "rstar"]),
       st.one_of(bad_numbers, st.floats(max_value=0.0), st.just(-0.0)))
def test_a_bad_einstein_or_source_radius_is_named(name, bad):
    arguments = {"re": 1.0, "rstar": 0.1, name: bad}
    with pytest.raises(ValueError) as error:
        law_call([0.5], **arguments)
    assert_names(error, name)
    with pytest.raises(ValueError) as error:
        table_call([0.5], [0.0, 1.0], [1.0, 0.4], **arguments)
    assert_names(error, name)


# Laws and coefficients ----------------------------------------------------

@examples
@given(st.sampled_from([k for k, n in LAW_COUNTS.items() if n]), st.data(), bad_numbers)
def test_a_non_finite_coefficient_is_named_with_its_index(law, data, bad):
    coefficients = [0.1] * LAW_COUNTS[law]
    index = data.draw(st.integers(0, len(coefficients) - 1))
    coefficients[index] = bad
    with pytest.raises(ValueError) as error:
        law_call([0.5], law=law, coefficients=coefficients)
    assert_names(error, "coefficients", index)


@examples
@given(st.sampled_from(sorted(LAW_COUNTS)), st.integers(0, 6))
def test_a_wrong_count_names_the_law_and_its_count(law, count):
    assume(count != LAW_COUNTS[law])
    with pytest.raises(ValueError) as error:
        law_call([0.5], law=law, coefficients=[0.1] * count)
    text = str(error.value)
    count = str(LAW_COUNTS[law]) if LAW_COUNTS[law] else "no"
    assert law in text and count in text, text


@examples
@given(st.text(st.characters(blacklist_categories=("Cs",)), max_size=12))
def test_an_unknown_law_lists_the_laws(name):
    assume(name not in LAW_COUNTS)
    with pytest.raises(ValueError) as error:
        law_call([0.5], law=name, coefficients=[])
    assert all(law in str(error.value) for law in LAW_COUNTS), str(error.value)


@pytest.mark.parametrize("law", ["Linear", "linear ", "linear\x00", "linear\x00x", "square_root", "sqrt", "power2", ""])
def test_law_names_are_exact(law):
    with pytest.raises(ValueError):
        law_call([0.5], law=law, coefficients=[0.6])


@pytest.mark.parametrize("law", [None, 1.0, b"linear", ["linear"]])
def test_a_law_that_is_not_a_str_is_a_type_error(law):
    with pytest.raises(TypeError, match=r"^argument 'law': "):
        law_call([0.5], law=law, coefficients=[0.6])


# Tables -------------------------------------------------------------------

@examples
@given(tables(min_rows=3), st.data())
def test_a_bad_radius_row_is_named(table, data):
    bl, bf = table
    index = data.draw(st.integers(0, len(bl) - 1))
    change = data.draw(st.sampled_from(["non-finite", "repeat", "descend", "end"]))
    if change == "non-finite":
        bl[index] = data.draw(bad_numbers)
        named = [index]
    elif change == "end":
        index = data.draw(st.sampled_from([0, len(bl) - 1]))
        bl[index] = data.draw(st.sampled_from([-0.1, 1e-300, 0.5])) if index == 0 else \
            data.draw(st.sampled_from([1.0 - 2**-53, 1.0 + 2**-52, 2.0]))
        # Moving an end may also break the order next to it.
        named = [index, 1] if index == 0 else [index, index - 1]
    else:
        index = max(index, 1)
        bl[index] = bl[index - 1] if change == "repeat" else bl[index - 1] - 0.01
        named = [index, index - 1]
    with pytest.raises(ValueError) as error:
        table_call([0.5], bl, bf)
    assert_names(error, "bl", named)


@examples
@given(tables(), st.data(), st.one_of(bad_numbers, st.floats(max_value=-5e-324)))
def test_a_bad_brightness_row_is_named(table, data, bad):
    bl, bf = table
    index = data.draw(st.integers(0, len(bf) - 1))
    bf[index] = bad
    with pytest.raises(ValueError) as error:
        table_call([0.5], bl, bf)
    assert_names(error, "bf", index)


@examples
@given(tables())
def test_an_all_dark_table_is_refused(table):
    bl, bf = table
    with pytest.raises(ValueError) as error:
        table_call([0.5], bl, [0.0] * len(bf))
    assert_names(error, "bf")


@examples
@given(tables(), st.integers(-3, 3))
def test_tables_of_unequal_lengths_are_refused(table, extra):
    assume(extra != 0)
    bl, bf = table
    bf = bf + [1.0] * extra if extra > 0 else bf[:extra]
    with pytest.raises(ValueError) as error:
        table_call([0.5], bl, bf)
    text = str(error.value)
    assert "bl" in text or "bf" in text, text


@pytest.mark.parametrize("bl, bf", [([], []), ([0.0], [1.0]), ([1.0], [1.0])])
def test_a_table_without_both_ends_is_refused(bl, bf):
    with pytest.raises(ValueError) as error:
        table_call([0.5], bl, bf)
    assert "bl" in str(error.value)


@examples
@given(st.lists(separations, min_size=1, max_size=4), finite, finite, finite)
def test_arbitrary_finite_numbers_never_crash(l, re, rstar, coefficient):
    # Whatever the numbers, the call returns floats or refuses with ValueError.
    for call in (lambda: law_call(l, re, rstar, "linear", [coefficient]),
                 lambda: table_call(l, [0.0, 1.0], [1.0, abs(coefficient)], re, rstar)):
        try:
            values = call()
        except ValueError:
            continue
        assert is_array(values, (len(l),))


def repr_cases():
    """Doubles whose repr() takes every form: both notations and the switch
    between them (1e-05 and 0.0001, 1e+16 and 1000000000000000.0), one to
    seventeen digits, powers of two (whose rounding interval is lopsided),
    subnormals, the extremes, signed zeros, infinities and NaN, and random
    bit patterns."""
    import random
    import struct
    rnd = random.Random(17)
    values = [0.0, -0.0, math.inf, -math.inf, math.nan, 5e-324, 2.2250738585072014e-308,
              1.7976931348623157e308, 1e16, 1e-5, 1e-4, 9.999999999999999e-5, 1e15, 1e17,
              9999999999999998.0, 123456789012345678.0, 0.1, 0.3, 2.0 / 3.0, 1 / 3, 100.0,
              1.5, 1234.5678, 5e-5, 0.00012345, 1e22, 1e23, 9007199254740993.0]
    values += [10.0 ** k for k in range(-30, 31)]
    values += [2.0 ** k for k in range(-1074, 1024, 7)]
    values += [rnd.uniform(0, 10) ** rnd.uniform(-20, 20) for _ in range(1500)]
    while len(values) < 6000:
        x = struct.unpack("<d", struct.pack("<Q", rnd.getrandbits(64)))[0]
        if math.isfinite(x):
            values.append(x)
    return values


def test_numbers_in_messages_read_as_repr_writes_them():
    # An Einstein radius that is not positive and finite is quoted in the
    # message as Python's repr() gives it, whatever its size and digits.
    mismatches = []
    for value in repr_cases():
        bad = -abs(value) if math.isfinite(value) and value != 0.0 else value
        with pytest.raises(ValueError) as error:
            law_call([1.0], re=bad)
        quoted = str(error.value).rsplit("got ", 1)[1]
        if quoted != repr(bad):
            mismatches.append((repr(bad), quoted))
    assert mismatches == []
