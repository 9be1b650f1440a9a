"""Array arguments and results of the limb-darkened functions: any shape and
real dtype in, float64 arrays of that shape out, each element the value the
one-element call gives, and bad elements named by their index in the
caller's shape."""

import math

import numpy as np
import pytest

import lumevaro
from conftest import FUNCTIONS, REGISTRY, is_array, same_result

ARRAY_ROWS = [row for row in REGISTRY if row.arrays]
GRID = np.array([[0.0, 0.3, 0.99], [1.0, 1.7, 4.0]])


def call(row, first, **keywords):
    args = list(row.valid_arguments([2.0]))
    args[0] = first
    return row.function(*args, **keywords)


def parts(row, result):
    return result if row.result == "arrays" else (result,)


def leading(row):
    """The axes a result has before the separations' (bands)."""
    args = row.valid_arguments([2.0])
    named = dict(zip(row.parameters, args))
    if "bands" in named:
        return (len(named["bands"]),)
    if np.ndim(named.get("coefficients", [])) == 2:
        return (len(named["coefficients"]),)
    return ()


@pytest.mark.parametrize("row", ARRAY_ROWS, ids=str)
@pytest.mark.parametrize("layout", ["2-d", "0-d", "transposed", "strided", "float32", "int", "nested list",
                                    "big-endian", "bool", "empty"])
def test_any_shape_and_dtype_gives_the_elementwise_values(row, layout):
    """A result has the input's shape, and holds the values the same
    separations give as one flat list, to the bit (which the property tests
    check element by element)."""
    source = {
        "2-d": GRID,
        "0-d": np.float64(0.7),
        "transposed": GRID.T,
        "strided": np.linspace(0.0, 3.0, 12)[::3],
        "float32": GRID.astype(np.float32),
        "int": np.array([[0, 1], [2, 5]], dtype=np.int16),
        "nested list": GRID.tolist(),
        "big-endian": GRID.astype(">f8"),
        "bool": np.array([True, False]),
        "empty": np.zeros((3, 0)),
    }[layout]
    values = np.asarray(source, dtype=np.float64)
    result = call(row, source)
    flat = call(row, values.ravel().tolist())
    for part in parts(row, result):
        assert type(part) is np.ndarray and part.dtype == np.float64
        assert part.flags.c_contiguous and part.flags.writeable
    assert parts(row, result)[0].shape == leading(row) + values.shape
    for whole, one in zip(parts(row, result), parts(row, flat)):
        assert same_result(whole.reshape(one.shape), one), row.name


@pytest.mark.parametrize("row", ARRAY_ROWS, ids=str)
def test_a_bad_element_is_named_by_its_index_in_the_shape(row):
    grid = GRID.copy()
    grid[1, 2] = math.nan
    with pytest.raises(ValueError, match=rf"^{row.parameters[0]}\[1, 2\] must be"):
        call(row, grid)
    with pytest.raises(ValueError, match=rf"^{row.parameters[0]} must be"):
        call(row, math.inf)
    cube = np.zeros((2, 3, 4))
    cube[1, 0, 3] = math.nan
    with pytest.raises(ValueError, match=rf"^{row.parameters[0]}\[1, 0, 3\] must be"):
        call(row, cube)


@pytest.mark.parametrize("row", ARRAY_ROWS, ids=str)
@pytest.mark.parametrize("value, message", [
    ("0.5", "must be a real number or an array of real numbers, got 'str'"),
    (b"05", "must be a real number or an array of real numbers, got 'bytes'"),
    ([0.5, 1j], "must be real, got complex numbers"),
    (np.array(["0.5"]), "must be real numbers, got an array of dtype <U3"),
    (np.array([1], dtype="datetime64[s]"), "must be real numbers, got an array of dtype datetime64[s]"),
    ([0.5, None], "[1] must be a real number, got 'NoneType'"),
    ({0.5}, "must be a real number or an array of real numbers, got 'set'"),
    (None, "must be a real number or an array of real numbers, got 'NoneType'"),
])
def test_what_is_no_array_of_real_numbers_is_a_type_error_naming_the_argument(row, value, message):
    name = row.parameters[0]
    with pytest.raises(TypeError) as error:
        call(row, value)
    expected = f"argument '{name}': " + (name + message if message.startswith("[") else message)
    assert str(error.value) == expected


def test_objects_convert_by_the_number_protocol():
    class Separation:
        def __init__(self, value):
            self.value = value

        def __float__(self):
            return self.value

    ld = lumevaro.limb_darkened_magnification
    objects = np.array([[Separation(0.5), 2], [np.float32(1.5), 3.0]], dtype=object)
    assert same_result(ld(objects, 1.0, 0.1, "linear", [0.6]),
                       ld([[0.5, 2.0], [1.5, 3.0]], 1.0, 0.1, "linear", [0.6]))
    mine = ValueError("from __float__")

    class Failing:
        def __float__(self):
            raise mine

    with pytest.raises(ValueError) as error:
        ld([1.0, Failing()], 1.0, 0.1, "linear", [0.6])
    assert error.value is mine
    with pytest.raises(OverflowError):
        ld([1.0, 10 ** 400], 1.0, 0.1, "linear", [0.6])


def test_results_own_their_memory_and_outlive_the_call():
    a = lumevaro.limb_darkened_magnification(np.arange(4.0), 1.0, 0.1, "linear", [0.6])
    b = lumevaro.limb_darkened_magnification(np.arange(4.0), 1.0, 0.1, "linear", [0.6])
    assert not np.shares_memory(a, b)
    a[0] = -1.0  # writeable, and the caller's
    assert b[0] != -1.0
    view = a[1:]
    del a
    assert np.array_equal(view, b[1:])


def test_the_input_is_not_changed_and_read_afresh():
    l = np.array([0.5, 2.0])
    first = lumevaro.limb_darkened_magnification(l, 1.0, 0.1, "linear", [0.6])
    assert l.tolist() == [0.5, 2.0]
    l[0] = 3.0
    assert lumevaro.limb_darkened_magnification(l, 1.0, 0.1, "linear", [0.6])[0] != first[0]


def test_bands_and_derivatives_lead_with_their_own_axes():
    shape = GRID.shape
    a, du, drho, dc = lumevaro.limb_darkened_magnification_gradient(GRID, 1.0, 0.1, "claret",
                                                                     [0.5, 0.2, 0.1, -0.05])
    assert is_array(a, shape) and is_array(du, shape) and is_array(drho, shape)
    assert is_array(dc, (4, *shape))
    bands = [[0.6], [0.3], [0.0]]
    assert is_array(lumevaro.limb_darkened_magnification_bands(GRID, 1.0, 0.1, "linear", bands),
                    (3, *shape))
    a, du, drho, dc = lumevaro.limb_darkened_magnification_bands_gradient(GRID, 1.0, 0.1, "linear", bands)
    assert is_array(a, (3, *shape)) and is_array(du, (3, *shape)) and is_array(drho, (3, *shape))
    assert is_array(dc, (3, 1, *shape))
    a, da_dbf = lumevaro.tabulated_limb_darkened_magnification_gradient(
        GRID, 1.0, 0.1, [0.0, 0.5, 1.0], [1.0, 0.8, 0.3])[::3]
    assert is_array(da_dbf, (3, *shape))
    a, jacobian = lumevaro.light_curve_jacobian(GRID, 0.5, 0.1, 2.0, 0.1, "linear", [[0.6], [0.2]])
    assert is_array(a, (2, *shape)) and is_array(jacobian, (2, *shape, 5))


def test_the_seven_functions_still_return_lists():
    for name in list(FUNCTIONS)[:7]:
        row = FUNCTIONS[name]
        result = row.function(*row.valid_arguments())
        assert type(result) is (float if row.result == "float" else list)
