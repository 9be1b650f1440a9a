"""Every success and error path, called thousands of times, leaks nothing.

For each path the test holds on to the argument objects (and to the classes
and exception instances involved), calls the path repeatedly and checks that
their reference counts and the interpreter's traced memory come back flat, and
on a debug interpreter the total reference count too.
"""

import gc
import sys
import sysconfig
import tracemalloc

import pytest

import lumevaro
from conftest import (ALL_SIGNATURES, FUNCTIONS, NUMPY_KEEPS_TOTAL_REFERENCES, REGISTRY,
                      ReportedSequence, total_reference_count, two_items, valid_arguments)

CALLS = 3000
# One leaked float per call would be 24 bytes per call.
MEMORY_ALLOWANCE = 4096
# On a debug interpreter, growth of the total reference count over the calls:
# one reference kept per call would be hundreds at least.
TOTAL_REFERENCE_ALLOWANCE = 50
# Calls made under tracing before the measured ones. A free-threaded build
# frees an object's memory only once every thread has passed a quiescent
# point, and refills per-thread allocator pages as it goes: there the traced
# memory climbs by tens of kilobytes, by how much depending on what ran
# before, and then stays flat however many calls follow (6 KB over the first
# 3,000 calls of a path on its own, 48 B over the next 100,000). So it
# settles over as many calls as are measured (None) rather than 50.
SETTLING_CALLS = None if sysconfig.get_config_var("Py_GIL_DISABLED") else 50


def total_references(function=None):
    """The interpreter's total reference count on a debug build, or None; also
    None for a function that takes numpy arrays when numpy's own references
    escape the count (see conftest)."""
    row = FUNCTIONS.get(getattr(function, "__name__", ""))
    if row is not None and row.arrays and not NUMPY_KEEPS_TOTAL_REFERENCES:
        return None
    return total_reference_count()


class Index:
    def __index__(self):
        return 3


# Each raise makes a new exception: raising one instance again and again
# would chain its tracebacks and hold every frame.
class ValueErrorFloat:
    def __float__(self):
        raise ValueError("from __float__")


class ChainedTypeErrorFloat:
    def __init__(self):
        self.cause = KeyError("cause")

    def __float__(self):
        raise TypeError("inner") from self.cause


def failing_next():
    yield 2.0
    raise LookupError("halfway")


def success_paths():
    paths = []
    for name in ALL_SIGNATURES:
        arguments = valid_arguments(name, separations=(2.5,))
        paths.append((name, getattr(lumevaro, name), arguments, {}, None))
    separations = [2.0, 3.0, Index(), 10 ** 5]
    paths.append(("keywords and protocol numbers", lumevaro.witt_mao_magnification, (),
                  {"l": separations, "rstar": 0.123456, "re": 1.234567}, None))
    paths.append(("length hint fails", lumevaro.witt_mao_magnification,
                  (ReportedSequence(two_items, ValueError), 1.5, 0.25), {}, None))
    return paths


def error_paths():
    wm = lumevaro.witt_mao_magnification
    separations = [2.0, 3.0]
    table = ([0.1, 0.2, 0.3], [1.0, 1.0])
    return [
        ("too many", wm, (separations, 1.0, 0.1, 5.5), {}, TypeError),
        ("missing", wm, (separations,), {}, TypeError),
        ("multiple values", wm, (separations, 1.0, 0.1), {"l": separations}, TypeError),
        ("unexpected keyword", wm, (separations, 1.0, 0.1), {"radius": 1.5}, TypeError),
        ("str", wm, ("abc", 1.0, 0.1), {}, TypeError),
        ("set", wm, ({1.0, 2.0}, 1.0, 0.1), {}, TypeError),
        ("item type", wm, ([2.0, "x"], 1.0, 0.1), {}, TypeError),
        ("float type", wm, (separations, 1.0, None), {}, TypeError),
        ("overflow", wm, ([2.0, 10 ** 400], 1.0, 0.1), {}, OverflowError),
        ("user ValueError", wm, ([2.0, ValueErrorFloat()], 1.0, 0.1), {}, ValueError),
        ("remapped with cause", wm, ([ChainedTypeErrorFloat()], 1.0, 0.1), {}, TypeError),
        ("iteration", wm, (ReportedSequence(failing_next), 1.0, 0.1), {}, LookupError),
        ("model failure", wm, ([2.0, float("nan")], 1.0, 0.1), {}, RuntimeError),
        ("panic", lumevaro.discrete_flux_map_heyrovsky_magnification,
         (separations, 1.0, 0.1) + table, {}, BaseException),
    ] + [
        # The functions that check their arguments, refusing a value.
        (f"{row.name} {label}", row.function, args, {}, ValueError)
        for row in REGISTRY if row.checks_values
        for label, args in (
            ("bad separation", ([2.0, float("nan")],) + row.valid_arguments()[1:]),
            ("bad radius", replaced(row.valid_arguments(), radius_index(row), float("nan"))))
    ]


def radius_index(row):
    """The source radius: rstar, or the light curves' rho."""
    return row.parameters.index("rstar" if "rstar" in row.parameters else "rho")


def replaced(arguments, index, value):
    return arguments[:index] + (value,) + arguments[index + 1:]


def watched_objects(args, kwargs, expected):
    objects = [*args, *kwargs.values(), *kwargs.keys(), TypeError, RuntimeError]
    for argument in [*args, *kwargs.values()]:
        if isinstance(argument, list):
            objects.extend(argument)
        objects.extend(vars(argument).values() if hasattr(argument, "__dict__") else ())
    if expected is not None:
        objects.append(expected)
    # Small integers, and before 3.12 (which made them immortal) None, True
    # and False, are shared by the whole interpreter; their counts move.
    return [o for o in objects if type(o) not in (int, bool, type(None))]


def call_repeatedly(function, args, kwargs, expected, calls):
    for _ in range(calls):
        try:
            function(*args, **kwargs)
        except BaseException as caught:  # noqa: B036 - includes PanicException
            if expected is None or not isinstance(caught, expected):
                raise
        else:
            assert expected is None


@pytest.mark.parametrize("label, function, args, kwargs, expected",
                         success_paths() + error_paths(),
                         ids=lambda value: value if isinstance(value, str) else "")
def test_path_leaks_nothing(label, function, args, kwargs, expected, capfd):
    calls = CALLS // 10 if label.startswith("integrated") else CALLS
    call_repeatedly(function, args, kwargs, expected, 50)  # settle caches
    gc.collect()
    objects = watched_objects(args, kwargs, expected)
    references_before = [sys.getrefcount(o) for o in objects]
    total_before = total_references(function)
    tracemalloc.start()
    try:
        # Memory the interpreter's free lists and caches held before tracing
        # began is refilled under tracing: a few calls settle it again.
        call_repeatedly(function, args, kwargs, expected, SETTLING_CALLS or calls)
        gc.collect()
        memory_before = tracemalloc.get_traced_memory()[0]
        call_repeatedly(function, args, kwargs, expected, calls)
        gc.collect()
        memory_after = tracemalloc.get_traced_memory()[0]
    finally:
        tracemalloc.stop()
    total_after = total_references(function)
    references_after = [sys.getrefcount(o) for o in objects]
    assert references_after == references_before
    assert memory_after - memory_before < MEMORY_ALLOWANCE
    if total_before is not None:
        assert abs(total_after - total_before) < TOTAL_REFERENCE_ALLOWANCE
    capfd.readouterr()  # the panic path writes one diagnostic per call


def test_resumed_panic_leaks_nothing(panic_exception, capfd):
    class Panicking:
        def __float__(self):
            raise panic_exception("from __float__")

    argument = Panicking()
    objects = [argument, panic_exception]
    call_repeatedly(lumevaro.witt_mao_magnification, ([argument], 1.0, 0.1), {},
                    panic_exception, 20)
    gc.collect()
    references_before = [sys.getrefcount(o) for o in objects]
    total_before = total_references()
    call_repeatedly(lumevaro.witt_mao_magnification, ([argument], 1.0, 0.1), {},
                    panic_exception, 300)
    gc.collect()
    assert [sys.getrefcount(o) for o in objects] == references_before
    if total_before is not None:
        assert abs(total_references() - total_before) < TOTAL_REFERENCE_ALLOWANCE
    capfd.readouterr()
