"""Model failures (RuntimeError) and internal failures (PanicException)."""

import pytest

import lumevaro
from conftest import ALL_SIGNATURES, FLUX_MAP_FUNCTIONS, SIGNATURES, valid_arguments

NAN = float("nan")
CONVERGENCE_FAILURE = "elliprj: Fail to converge"
LENGTH_ASSERTION = "assertion `left == right` failed\n  left: 3\n right: 2"


def assert_model_failure(function, *args):
    with pytest.raises(RuntimeError) as caught:
        function(*args)
    error = caught.value
    assert type(error) is RuntimeError
    assert str(error) == CONVERGENCE_FAILURE
    assert error.args == (CONVERGENCE_FAILURE,)


def test_elliptic_failure_is_a_runtime_error_with_no_partial_result():
    wm = lumevaro.witt_mao_magnification
    assert_model_failure(wm, [NAN], 1.0, 0.1)
    assert_model_failure(wm, [2.0, 3.0, NAN], 1.0, 0.1)
    assert_model_failure(wm, [2.0], NAN, 0.1)
    assert_model_failure(lumevaro.integrated_witt_mao_magnification, [2.0, NAN], 1.0, 0.1)
    assert_model_failure(lumevaro.integrated_flux_map_witt_mao_magnification,
                         [NAN], 1.0, 0.1, [0.0, 1.0], [1.0, 1.0])
    # A negative ring radius away from the ring band.
    assert_model_failure(lumevaro.heyrovsky_magnification, 2.0, -0.5, 1.0, 0.1)


@pytest.mark.parametrize("name", FLUX_MAP_FUNCTIONS)
def test_unequal_table_lengths_raise_panic_exception(name, capfd):
    function = getattr(lumevaro, name)
    with pytest.raises(BaseException) as caught:
        function([1.0], 1.0, 0.1, [0.1, 0.2, 0.3], [1.0, 1.0])
    error = caught.value
    assert type(error).__name__ == "PanicException"
    assert type(error).__module__ == "pyo3_runtime"
    assert type(error).__bases__ == (BaseException,)
    assert not isinstance(error, Exception)
    assert str(error) == LENGTH_ASSERTION
    assert error.args == (LENGTH_ASSERTION,)
    diagnostic = capfd.readouterr().err
    assert name in diagnostic and LENGTH_ASSERTION in diagnostic
    # The module is unchanged and fully usable afterwards.
    assert function(*valid_arguments(name)) == function(*valid_arguments(name))
    assert lumevaro.__all__ == list(ALL_SIGNATURES)


def test_panic_exception_type_is_created_once(panic_exception):
    assert "BaseException" in panic_exception.__doc__
    for name in FLUX_MAP_FUNCTIONS:
        with pytest.raises(panic_exception):
            getattr(lumevaro, name)([1.0], 1.0, 0.1, [], [1.0])


def test_panic_exception_from_caller_code_is_raised_anew(panic_exception, capfd):
    original = panic_exception("raised by caller code")

    class Panicking:
        def __float__(self):
            raise original

    with pytest.raises(panic_exception) as caught:
        lumevaro.witt_mao_magnification([2.0, Panicking()], 1.0, 0.1)
    assert caught.value is not original
    assert caught.value.args == ("raised by caller code",)
    stderr = capfd.readouterr().err
    assert "raised by caller code" in stderr and "Traceback" in stderr and "__float__" in stderr

    class Unprintable:
        def __str__(self):
            raise ValueError("no text")

    class PanickingUnprintably:
        def __float__(self):
            raise panic_exception(Unprintable())

    with pytest.raises(panic_exception) as caught:
        lumevaro.witt_mao_magnification([1.0], PanickingUnprintably(), 0.1)
    assert caught.value.args == ("Unwrapped panic from Python code",)
