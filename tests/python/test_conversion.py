"""Conversion of arguments to doubles and vectors, and of results to Python."""

import array
import math
import sys

import pytest

import lumevaro
from conftest import ALL_LIST_FUNCTIONS, FUNCTIONS, ReportedSequence, same_values, two_items

np = pytest.importorskip("numpy")

wm = lumevaro.witt_mao_magnification
SEPARATIONS = [0.0, 0.5, 2.0, 3.0]


def raised(function, *args):
    with pytest.raises(BaseException) as caught:
        function(*args)
    return caught.value


@pytest.mark.parametrize("name", ALL_LIST_FUNCTIONS)
def test_list_results(name):
    row = FUNCTIONS[name]
    result = row.function(*row.valid_arguments())
    empty = row.function(*row.valid_arguments(separations=()))
    if row.result == "list":
        assert type(result) is list and len(result) == 2
        assert type(empty) is list and empty == []
    values = row.flatten(result)
    assert values and len(values) % 2 == 0 and all(type(x) is float for x in values)
    assert row.flatten(empty) == []


def test_heyrovsky_takes_floats_and_returns_a_float():
    result = lumevaro.heyrovsky_magnification(2.0, 0.5, 1.0, 0.1)
    assert type(result) is float
    assert lumevaro.heyrovsky_magnification(2, 0.5, True, 0.1) == (
        lumevaro.heyrovsky_magnification(2.0, 0.5, 1.0, 0.1))


@pytest.mark.parametrize("sequence", [
    tuple(SEPARATIONS),
    [0, 0.5, 2, 3],
    range(0, 4),
    array.array("d", SEPARATIONS),
    np.array(SEPARATIONS),
    np.array(SEPARATIONS, dtype=np.float32),
    np.array([0, 1, 2, 3], dtype=np.int64),
    np.array([0, 1, 2, 3], dtype=np.int32),
    np.array([False, True]),
], ids=["tuple", "ints", "range", "array", "float64", "float32", "int64", "int32", "bool"])
def test_any_sequence_of_numbers_is_accepted(sequence):
    expected = wm([float(x) for x in sequence], 1.0, 0.1)
    assert same_values(wm(sequence, 1.0, 0.1), expected)


def test_table_sequences_are_converted_like_lists():
    function = lumevaro.integrated_flux_map_witt_mao_magnification
    expected = function([2.0], 1.0, 0.1, [0.0, 0.5, 1.0], [1.0, 1.0, 1.0])
    assert function((2,), np.float64(1.0), 0.1, range(0, 3), np.ones(3) * 2 - 1) == expected


def test_numbers_by_protocol():
    class Index:
        def __index__(self):
            return 2

    class MinusOne:
        def __float__(self):
            return -1.0  # a legitimate -1.0, not an error signal

    assert wm([Index()], 1.0, 0.1) == wm([2.0], 1.0, 0.1)
    assert same_values(wm([2.0], MinusOne(), 0.1), wm([2.0], -1.0, 0.1))
    assert wm([2.0], np.float32(1.0), 0.1) == wm([2.0], 1.0, 0.1)


def test_str_is_refused_as_a_sequence():
    error = raised(wm, "abc", 1.0, 0.1)
    assert type(error) is TypeError
    assert str(error) == "argument 'l': Can't extract `str` to `Vec`"
    error = raised(lumevaro.discrete_flux_map_heyrovsky_magnification,
                   [1.0], 1.0, 0.1, [1.0], "a")
    assert str(error) == "argument 'bf': Can't extract `str` to `Vec`"


def test_non_sequences_are_refused_with_their_type_name():
    def generator():
        yield 1.0

    class Local:
        pass

    for value, type_name in [(0.5, "float"), ({1.0}, "set"), (generator(), "generator"),
                             ({0: 1.0}, "dict"), (None, "NoneType"),
                             (Local(), Local.__qualname__)]:
        error = raised(wm, value, 1.0, 0.1)
        assert type(error) is TypeError
        assert str(error) == (
            f"argument 'l': '{type_name}' object cannot be converted to 'Sequence'")
    assert "test_non_sequences_are_refused_with_their_type_name.<locals>.Local" in str(
        raised(wm, Local(), 1.0, 0.1))


def test_a_list_is_not_a_float():
    error = raised(lumevaro.heyrovsky_magnification, [1.0], 0.5, 1.0, 0.1)
    assert type(error) is TypeError
    assert str(error).startswith("argument 'l': ")
    assert str(raised(wm, [1.0], 1.0, None)).startswith("argument 'rstar': ")


def test_parameters_are_converted_in_declaration_order():
    function = lumevaro.integrated_flux_map_heyrovsky_magnification
    assert str(raised(function, "l", None, None, "bl", "bf")).startswith("argument 'l': ")
    assert str(raised(function, [1.0], 1.0, 0.1, "bl", None)).startswith("argument 'bl': ")
    # A conversion error comes before the table-length check.
    assert str(raised(function, [1.0], 1.0, 0.1, [1.0, 2.0], [None])).startswith(
        "argument 'bf': ")


def test_item_type_errors_carry_the_interpreter_message():
    # math.fabs converts its argument the same way, with the same message.
    interpreter_message = str(raised(math.fabs, "x"))
    error = raised(wm, [1.0, "x"], 1.0, 0.1)
    assert type(error) is TypeError
    assert str(error) == "argument 'l': " + interpreter_message
    assert str(raised(wm, [1.0], "x", 0.1)) == "argument 're': " + interpreter_message


def test_other_errors_pass_unchanged():
    overflow = raised(wm, [1.0, 10 ** 400], 1.0, 0.1)
    assert type(overflow) is OverflowError
    assert str(overflow) == "int too large to convert to float"
    assert type(raised(wm, [1.0], 10 ** 400, 0.1)) is OverflowError

    mine = ValueError("from __float__")

    class Bad:
        def __float__(self):
            raise mine

    assert raised(wm, [Bad()], 1.0, 0.1) is mine
    assert raised(wm, [1.0], 1.0, Bad()) is mine

    class TypeErrorSubclass(TypeError):
        pass

    subclass_error = TypeErrorSubclass("not remapped")

    class BadSubclass:
        def __float__(self):
            raise subclass_error

    assert raised(wm, [BadSubclass()], 1.0, 0.1) is subclass_error


def test_remapped_type_error_keeps_the_cause():
    cause = KeyError("the cause")

    class Chained:
        def __float__(self):
            raise TypeError("inner message") from cause

    error = raised(wm, [Chained()], 1.0, 0.1)
    assert type(error) is TypeError
    assert str(error) == "argument 'l': inner message"
    assert error.__cause__ is cause

    error = raised(wm, [1.0, "x"], 1.0, 0.1)
    assert error.__cause__ is None


def test_iteration_errors():
    def no_iterator():
        raise TypeError("no iterator today")

    error = raised(wm, ReportedSequence(no_iterator), 1.0, 0.1)
    assert type(error) is TypeError
    assert str(error) == "argument 'l': no iterator today"

    stop = LookupError("stopped halfway")

    def failing_next():
        yield 2.0
        raise stop

    assert raised(wm, ReportedSequence(failing_next), 1.0, 0.1) is stop


def test_reported_length_is_only_a_hint():
    expected = wm([2.0, 3.0], 1.0, 0.1)
    for length in (0, 1, 1000, 2 ** 40, sys.maxsize, ValueError):
        assert wm(ReportedSequence(two_items, length), 1.0, 0.1) == expected


@pytest.mark.parametrize("shape", [(), (2, 2), (3, 1), (0, 2), (1, 2, 1)])
def test_numpy_arrays_of_other_than_one_dimension_are_refused_by_their_shape(shape):
    # Iterating them would give rows (or fail), not separations.
    error = raised(wm, np.ones(shape), 1.0, 0.1)
    assert type(error) is TypeError
    assert str(error) == f"l must be one-dimensional, got an array of shape {shape}"
    table = lumevaro.integrated_flux_map_witt_mao_magnification
    assert str(raised(table, [1.0], 1.0, 0.1, [0.0, 1.0], np.ones(shape))) == (
        f"bf must be one-dimensional, got an array of shape {shape}")
    # So are the array functions' lists (their separations take any shape).
    assert str(raised(lumevaro.limb_darkened_magnification, [1.0], 1.0, 0.1, "linear",
                      np.ones(shape))) == (
        f"coefficients must be one-dimensional, got an array of shape {shape}")


def test_a_list_changed_by_its_items_converts_as_its_iterator_reads_it():
    # A list's items are read as list iteration reads them: the length looked
    # at again before every item, so an item's __float__ that shortens or
    # lengthens the list changes what follows, in an exact list as in a
    # subclass (which converts through its iterator).
    class Changing:
        def __init__(self, change, value):
            self.change, self.value = change, value

        def __float__(self):
            self.change()
            return self.value

    class Subclass(list):
        pass

    for kind in (list, Subclass):
        shrinking = kind([0.5, 0.0, 3.0, 4.0])
        shrinking[1] = Changing(lambda: shrinking.pop(), 2.0)
        assert same_values(wm(shrinking, 1.0, 0.1), wm([0.5, 2.0, 3.0], 1.0, 0.1))

        growing = kind([0.5, 0.0])
        growing[1] = Changing(lambda: growing.append(7.0), 2.0)
        assert same_values(wm(growing, 1.0, 0.1), wm([0.5, 2.0, 7.0], 1.0, 0.1))

        # The item converting is held even when the list lets go of it.
        dropping = kind([0.5, 0.0])
        dropping[1] = Changing(lambda: dropping.clear(), 2.0)
        assert same_values(wm(dropping, 1.0, 0.1), wm([0.5, 2.0], 1.0, 0.1))
