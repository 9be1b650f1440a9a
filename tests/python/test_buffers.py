"""Lists and arrays given as buffers of doubles.

A sequence parameter reads a memoryview, `array.array` or numpy array
holding one contiguous row of native doubles in one copy, and everything
else that iterates item by item. The two readings must be
indistinguishable: for every object, the call gives what it gives when the
same items arrive through plain iteration (a wrapper that exposes only
__len__ and __iter__), bit for bit, exception type, message and cause
included. Objects drawn: every IEEE double (NaN payloads, signed zeros,
infinities, subnormals) in float64 arrays of both byte orders, other dtypes
and type codes, strided views, subclasses that iterate or convert otherwise,
released memoryviews. (A numpy array of other than one dimension is refused
by its shape.)

An array parameter reads any buffer, dtype, byte order and strides as numpy
converts them to float64: the call gives what the contiguous float64 array
of the same values gives, shape included.
"""

import array
import struct

import pytest
from hypothesis import given
from hypothesis import strategies as st

import lumevaro
from conftest import ALL_LIST_FUNCTIONS, FUNCTIONS, examples, result_bits

np = pytest.importorskip("numpy")

# The slow profile-weighted ring forms take few values; the functions whose
# separations are an array take them as numpy reads arrays.
QUICK_FUNCTIONS = [name for name in ALL_LIST_FUNCTIONS
                   if not FUNCTIONS[name].integrates and not FUNCTIONS[name].arrays]
SLOW_FUNCTIONS = [name for name in ALL_LIST_FUNCTIONS if FUNCTIONS[name].integrates]
ARRAY_FUNCTIONS = [name for name in ALL_LIST_FUNCTIONS if FUNCTIONS[name].arrays]


class Items:
    """The object's items through iteration alone: the item-by-item path."""

    def __init__(self, source):
        self.source = source

    def __len__(self):
        return len(self.source)

    def __getitem__(self, index):
        raise AssertionError("conversion must iterate, not index")

    def __iter__(self):
        return iter(self.source)


def outcome(row, *args):
    try:
        result = row.function(*args)
    except BaseException as error:  # noqa: B036 - PanicException is a BaseException
        cause = error.__cause__
        return ("raised", type(error), str(error), type(cause), cause and str(cause))
    return (type(result), result_bits(result))


def other_sequences(name):
    """Positions of the sequence parameters besides the separations."""
    row = FUNCTIONS[name]
    return [i for i, p in enumerate(row.parameters) if p in row.sequences and i > 0]


def call_both_ways(name, values, position=0):
    """Outcomes of the named function given values at the list parameter at
    `position` (0: l, else a table column or the coefficients), as is and
    through iteration alone."""
    row = FUNCTIONS[name]
    args = list(row.valid_arguments([2.0, 0.5]))
    direct, iterated = list(args), list(args)
    direct[position], iterated[position] = values, Items(values)
    return outcome(row, *direct), outcome(row, *iterated)


doubles = st.floats(allow_nan=True, allow_infinity=True, allow_subnormal=True) | st.sampled_from(
    [struct.unpack("<d", struct.pack("<Q", bits))[0]
     for bits in (0x7FF8000000000001, 0xFFF0000000000001, 0x8000000000000000, 1)])
rows = st.lists(doubles, max_size=40)


def as_buffers(values):
    """Every buffer-bearing container of the same items."""
    a = np.array(values, dtype=np.float64)
    return [a, array.array("d", values), memoryview(array.array("d", values)), memoryview(a),
            a.astype(">f8"), a.astype(np.float32), np.array(values + values)[::2], a[::-1],
            array.array("f", values), memoryview(array.array("d", values)).cast("B")]


def as_arrays(values):
    """The same doubles in every layout an array function reads: byte
    orders, strides, buffers, and a second axis."""
    a = np.array(values, dtype=np.float64)
    doubled = np.repeat(a, 2)
    return [a.astype(">f8"), doubled[::2], memoryview(a), array.array("d", values),
            np.asfortranarray(np.stack([a, a])), np.stack([a, a]).T]


@given(name=st.sampled_from(QUICK_FUNCTIONS), values=rows, data=st.data())
@examples(200)
def test_any_buffer_gives_what_its_items_give(name, values, data):
    for container in as_buffers(values):
        direct, iterated = call_both_ways(name, container)
        assert direct == iterated, (name, type(container), values)
    if other_sequences(name):
        position = data.draw(st.sampled_from(other_sequences(name)))
        direct, iterated = call_both_ways(name, np.array(values), position)
        assert direct == iterated


@given(name=st.sampled_from(ARRAY_FUNCTIONS), values=rows)
@examples(100)
def test_any_array_layout_gives_what_its_float64_array_gives(name, values):
    row = FUNCTIONS[name]
    args = list(row.valid_arguments([2.0, 0.5]))
    for container in as_arrays(values):
        expected = np.array(container, dtype=np.float64)
        args[0] = container
        direct = outcome(row, *args)
        args[0] = expected
        assert direct == outcome(row, *args), (name, type(container), values)


@given(values=st.lists(st.floats(0.0, 3.0), min_size=1, max_size=6))
@examples(10)
def test_ring_forms_read_buffers_as_items(values):
    for name in SLOW_FUNCTIONS:
        direct, iterated = call_both_ways(name, np.array(values))
        assert direct == iterated


class ShiftedArray(np.ndarray):
    def __iter__(self):
        return (float(x) + 1.0 for x in np.asarray(self))


class ShiftedFloats(array.array):
    def __iter__(self):
        return (x + 1.0 for x in array.array("d", self))


class Loud:
    def __init__(self, value):
        self.value = value

    def __float__(self):
        return 99.0


def test_subclasses_keep_their_own_iteration():
    values = [2.0, 3.0]
    shifted = [3.0, 4.0]
    expected = lumevaro.witt_mao_magnification(shifted, 1.0, 0.1)
    for container in (np.array(values).view(ShiftedArray), ShiftedFloats("d", values)):
        assert lumevaro.witt_mao_magnification(container, 1.0, 0.1) == expected
    # A numpy array of objects converts each through its own __float__.
    objects = np.array([Loud(2.0), Loud(3.0)], dtype=object)
    assert lumevaro.witt_mao_magnification(objects, 1.0, 0.1) == \
        lumevaro.witt_mao_magnification([99.0, 99.0], 1.0, 0.1)


def test_other_shapes_and_dtypes_convert_as_their_items_do():
    cases = [memoryview(np.zeros((2, 2))), np.array(["2.0"]), np.array([1 + 2j])]
    for container in cases:
        direct, iterated = call_both_ways("witt_mao_magnification", container)
        assert direct == iterated


def test_a_released_memoryview_fails_as_its_iteration_does():
    # (Wrapped in a Python __iter__, iter() of it turns into a SystemError.)
    view = memoryview(array.array("d", [2.0]))
    view.release()
    with pytest.raises(ValueError, match="^operation forbidden on released memoryview object$"):
        lumevaro.witt_mao_magnification(view, 1.0, 0.1)


def test_a_buffer_changed_between_calls_is_read_afresh():
    a = np.array([2.0, 3.0])
    first = lumevaro.witt_mao_magnification(a, 1.0, 0.1)
    a[0] = 5.0
    assert lumevaro.witt_mao_magnification(a, 1.0, 0.1)[0] != first[0]
