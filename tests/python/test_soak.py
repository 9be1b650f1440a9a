"""Soak: every function and every error path, round after round for a fixed
time, with the process's memory and the interpreter's object counts flat.

After a warm-up that fills the interpreter's caches, the baseline is taken;
the rounds then run until the time is up, the last stretch under tracemalloc.
Measured: the native heap (glibc's mallinfo2, which sees every C++ vector and
string the module allocates), the resident set (/proc/self/statm), the blocks
of Python's own allocator, the number of objects the collector tracks, the
reference counts of every argument object and, on a debug interpreter, the
total reference count. A leak of one float per round
would show as thousands of blocks; of one vector per call, as megabytes.
"""

import ast
import ctypes
import gc
import math
import os
import subprocess
import sys
import sysconfig
import textwrap
import time
import tracemalloc
from dataclasses import dataclass

import pytest

import lumevaro
from conftest import LAWS, NUMPY_KEEPS_TOTAL_REFERENCES, REGISTRY, TABLE_BRIGHTNESS, TABLE_RADII

np = pytest.importorskip("numpy")

SOAK_SECONDS = 20.0
WARM_UP_SECONDS = 3.0
TRACED_SECONDS = 5.0
FREE_THREADED = bool(sysconfig.get_config_var("Py_GIL_DISABLED"))

# Allowed growth from the baseline to the end of the run.
HEAP_ALLOWANCE = 1 << 20
RESIDENT_ALLOWANCE = 8 << 20
BLOCK_ALLOWANCE = 250
OBJECT_ALLOWANCE = 100
REFERENCE_ALLOWANCE = 1000
TRACED_ALLOWANCE = 64 << 10


class MallInfo2(ctypes.Structure):
    _fields_ = [(name, ctypes.c_size_t) for name in (
        "arena", "ordblks", "smblks", "hblks", "hblkhd", "usmblks", "fsmblks", "uordblks",
        "fordblks", "keepcost")]


def native_heap_function():
    try:
        mallinfo2 = ctypes.CDLL(None).mallinfo2
    except (AttributeError, OSError):
        return None
    mallinfo2.restype = MallInfo2
    mallinfo2.argtypes = []
    return mallinfo2


MALLINFO2 = native_heap_function()
PAGE_SIZE = os.sysconf("SC_PAGE_SIZE")


@dataclass
class Sample:
    heap: int  # bytes in use from malloc, mapped chunks included; 0 if unknown
    resident: int
    blocks: int
    objects: int
    references: int  # 0 on a release interpreter

    @classmethod
    def take(cls):
        gc.collect()
        heap = 0
        if MALLINFO2 is not None:
            info = MALLINFO2()
            heap = info.uordblks + info.hblkhd
        with open("/proc/self/statm") as statm:
            resident = int(statm.read().split()[1]) * PAGE_SIZE
        references = sys.gettotalrefcount() if hasattr(sys, "gettotalrefcount") else 0
        return cls(heap, resident, sys.getallocatedblocks(), len(gc.get_objects()), references)


# Caller objects for the error paths. Every raise makes a fresh exception:
# raising one instance again and again would chain its tracebacks.
class Index:
    def __index__(self):
        return 3


class Float:
    def __float__(self):
        return 2.5


class ValueErrorFloat:
    def __float__(self):
        raise ValueError("from __float__")


class ChainedTypeError:
    def __float__(self):
        raise TypeError("inner") from KeyError("cause")


class UnprintableTypeError:
    class Text:
        def __str__(self):
            raise ValueError("no text")

    def __float__(self):
        raise TypeError(self.Text())


class FailingIndex:
    def __index__(self):
        raise OverflowError("from __index__")


class Sequence:
    """A caller's sequence: __len__ and __iter__ misbehave as asked."""

    def __init__(self, items, length=None, iterate=None):
        self.items, self.length, self.iterate = items, length, iterate

    def __len__(self):
        if self.length is not None:
            raise self.length("no length")
        return len(self.items)

    def __getitem__(self, index):
        raise AssertionError("conversion must iterate, not index")

    def __iter__(self):
        if self.iterate == "non-iterator":
            return list(self.items)
        if self.iterate is not None:
            raise self.iterate("no iterator")
        return self.generate()

    def generate(self):
        yield from self.items
        if self.length is LookupError:
            raise LookupError("halfway")


def every_path(panic_exception):
    """(label, function, args, kwargs, expected exception or None)."""
    L = lumevaro
    wm = L.witt_mao_magnification
    table = (list(TABLE_RADII), list(TABLE_BRIGHTNESS))
    many = [0.01 * i for i in range(400)]  # a lost vector or list would be large
    some = many[::10]  # for the forms that integrate per separation
    few = [0.5, 2.0]

    class PanickingFloat:
        def __float__(self):
            raise panic_exception("from __float__")

    class PanickingLength(Sequence):
        def __len__(self):
            raise panic_exception("from __len__")

    paths = [
        ("witt_mao", wm, (many, 1.0, 0.1), {}, None),
        ("integrated witt_mao", L.integrated_witt_mao_magnification, (some, 1.0, 0.1), {}, None),
        ("flux-map witt_mao", L.integrated_flux_map_witt_mao_magnification,
         (some, 1.0, 0.1) + table, {}, None),
        ("ring", L.heyrovsky_magnification, (0.75, 0.5, 1.0, 0.1), {}, None),
        ("ring on the ring", L.heyrovsky_magnification, (0.5, 0.5, 1.0, 0.1), {}, None),
        ("integrated ring", L.integrated_heyrovsky_magnification, ([2.0], 1.0, 0.1), {}, None),
        ("flux-map ring", L.integrated_flux_map_heyrovsky_magnification,
         ([0.5], 1.0, 0.1) + table, {}, None),
        ("discrete rings", L.discrete_flux_map_heyrovsky_magnification,
         (many, 1.0, 0.1) + table, {}, None),
        ("empty", wm, ([], 1.0, 0.1), {}, None),
        ("keywords", wm, (), {"rstar": 0.1, "l": many, "re": 1.0}, None),
        ("tuple, range, numpy", L.integrated_flux_map_witt_mao_magnification,
         (tuple(some), np.float32(1.0), 0.1, range(2), np.ones(2)), {}, None),
        ("protocol numbers", wm, ([Index(), Float(), True, 10 ** 5], Index(), Float()), {}, None),
        ("length hint fails", wm, (Sequence(few, length=ValueError), 1.0, 0.1), {}, None),
        ("infinities and zeros", L.heyrovsky_magnification, (0.5, 0.5, -0.0, 5e-324),
         {}, None),
        # Binding.
        ("too many", wm, (few, 1.0, 0.1, 5.5), {}, TypeError),
        ("missing one", L.heyrovsky_magnification, (1.0, 1.0, 1.0), {}, TypeError),
        ("missing all", wm, (), {}, TypeError),
        ("multiple values", wm, (few, 1.0, 0.1), {"l": few}, TypeError),
        ("unexpected keyword", wm, (few, 1.0, 0.1), {"radius": 1.5}, TypeError),
        ("keyword without UTF-8", wm, (few, 1.0, 0.1), {"\udc80": 1.5}, TypeError),
        # Conversion.
        ("str", wm, ("abc", 1.0, 0.1), {}, TypeError),
        ("str table", L.discrete_flux_map_heyrovsky_magnification,
         (few, 1.0, 0.1, table[0], "abc"), {}, TypeError),
        ("set", wm, ({1.0, 2.0}, 1.0, 0.1), {}, TypeError),
        ("generator", wm, ((x for x in few), 1.0, 0.1), {}, TypeError),
        ("float for a list", wm, (0.5, 1.0, 0.1), {}, TypeError),
        ("list for a float", L.heyrovsky_magnification, (few, 0.5, 1.0, 0.1), {}, TypeError),
        ("0-d array", wm, (np.zeros(()), 1.0, 0.1), {}, TypeError),
        ("item type", wm, ([2.0, "x"], 1.0, 0.1), {}, TypeError),
        ("float type", wm, (few, 1.0, None), {}, TypeError),
        ("remapped with cause", wm, ([ChainedTypeError()], 1.0, 0.1), {}, TypeError),
        ("unprintable TypeError", wm, ([UnprintableTypeError()], 1.0, 0.1), {}, TypeError),
        ("non-iterator", wm, (Sequence(few, iterate="non-iterator"), 1.0, 0.1), {}, TypeError),
        ("overflow item", wm, ([2.0, 10 ** 400], 1.0, 0.1), {}, OverflowError),
        ("overflow float", L.heyrovsky_magnification, (2.0, 0.5, -(10 ** 400), 0.1), {},
         OverflowError),
        ("user ValueError", wm, ([2.0, ValueErrorFloat()], 1.0, 0.1), {}, ValueError),
        ("user __index__", wm, (few, FailingIndex(), 0.1), {}, OverflowError),
        ("__iter__ raises", wm, (Sequence(few, iterate=KeyError), 1.0, 0.1), {}, KeyError),
        ("__next__ raises", wm, (Sequence(few, length=LookupError), 1.0, 0.1), {}, LookupError),
        # Model failures.
        ("witt_mao fails", wm, ([2.0, math.nan], 1.0, 0.1), {}, RuntimeError),
        ("integrated witt_mao fails", L.integrated_witt_mao_magnification,
         ([math.nan], 1.0, 0.1), {}, RuntimeError),
        ("flux-map witt_mao fails", L.integrated_flux_map_witt_mao_magnification,
         ([math.nan], 1.0, 0.1) + table, {}, RuntimeError),
        ("ring fails", L.heyrovsky_magnification, (2.0, -0.5, 1.0, 0.1), {}, RuntimeError),
        ("discrete rings fail", L.discrete_flux_map_heyrovsky_magnification,
         ([math.nan], 1.0, 0.1) + table, {}, RuntimeError),
        # Internal failures.
        ("panic witt_mao table", L.integrated_flux_map_witt_mao_magnification,
         (few, 1.0, 0.1, [0.1, 0.2, 0.3], [1.0, 1.0]), {}, panic_exception),
        ("panic ring table", L.integrated_flux_map_heyrovsky_magnification,
         (few, 1.0, 0.1, [0.1], []), {}, panic_exception),
        ("panic discrete table", L.discrete_flux_map_heyrovsky_magnification,
         (few, 1.0, 0.1, [], [1.0]), {}, panic_exception),
        ("panic from __float__", wm, ([PanickingFloat()], 1.0, 0.1), {}, panic_exception),
        ("panic from __len__", wm, (PanickingLength(few), 1.0, 0.1), {}, panic_exception),
    ]
    # The functions that check their arguments: a result, and each way of
    # refusing, on lists long enough to be computed without the lock.
    for row in REGISTRY:
        if not row.checks_values:
            continue
        f, args = row.function, row.valid_arguments(some)
        # A radius: re, or the light curves' timescale tE.
        radius = row.parameters.index("re" if "re" in row.parameters else "tE")
        paths += [
            (row.name, f, args, {}, None),
            (row.name + " keywords", f, (), dict(zip(row.parameters, args)), None),
            (row.name + " bad separation", f, (some + [math.nan],) + args[1:], {}, ValueError),
            (row.name + " bad radius", f, args[:radius] + (0.0,) + args[radius + 1:], {}, ValueError),
            (row.name + " str", f, ("abc",) + args[1:], {}, TypeError),
            (row.name + " item type", f, ([2.0, "x"],) + args[1:], {}, TypeError),
            (row.name + " overflow item", f, ([2.0, 10 ** 400],) + args[1:], {}, OverflowError),
            # An array parameter reads an object whose length fails as one
            # value (numpy's rule), which is no number.
            (row.name + " __len__ raises", f, (Sequence(few, length=LookupError),) + args[1:],
             {}, TypeError if row.arrays else LookupError),
            (row.name + " too many", f, args + (1.0,), {}, TypeError),
        ]
    ld = L.limb_darkened_magnification
    paths += [("law " + law, ld, (some, 1.0, 0.1, law, list(c)), {}, None)
              for law, c in LAWS.items()]
    paths += [
        ("unknown law", ld, (few, 1.0, 0.1, "lineal", [0.6]), {}, ValueError),
        ("law not a str", ld, (few, 1.0, 0.1, None, [0.6]), {}, TypeError),
        ("wrong coefficient count", ld, (few, 1.0, 0.1, "quadratic", [0.6]), {}, ValueError),
        ("bad coefficient", ld, (few, 1.0, 0.1, "linear", [math.inf]), {}, ValueError),
        ("coefficient type", ld, (few, 1.0, 0.1, "linear", [ValueErrorFloat()]), {}, ValueError),
        ("unequal table", L.tabulated_limb_darkened_magnification,
         (some, 1.0, 0.1, [0.0, 0.5, 1.0], [1.0, 0.5]), {}, ValueError),
        ("unordered table", L.tabulated_limb_darkened_magnification,
         (some, 1.0, 0.1, [0.0, 0.6, 0.5, 1.0], [1.0, 0.8, 0.7, 0.5]), {}, ValueError),
    ]
    return paths


def watched_objects(paths):
    """The objects a call borrows: arguments, list items, keywords, the
    caller classes and the exception classes. A reference the module kept
    would raise their counts round after round."""
    objects = [TypeError, RuntimeError, OverflowError, ValueError, KeyError, LookupError]
    for _, function, args, kwargs, expected in paths:
        objects += [function, *args, *kwargs, *kwargs.values()]
        objects += [type(a) for a in (*args, *kwargs.values())]
        objects += [x for a in (*args, *kwargs.values()) if type(a) is list for x in a]
        if expected is not None:
            objects.append(expected)
    # Small integers and interned constants are shared with the rest of the
    # interpreter, whose own use moves their counts.
    shared = (int, bool, type(None), str)
    return list({id(o): o for o in objects if type(o) not in shared}.values())


def total_references(objects):
    return sum(sys.getrefcount(o) for o in objects)


def one_round(paths):
    for label, function, args, kwargs, expected in paths:
        try:
            function(*args, **kwargs)
        except BaseException as caught:  # noqa: B036 - includes PanicException
            if expected is None or type(caught) is not expected:
                raise AssertionError(f"{label}: {type(caught).__name__}: {caught}") from caught
        else:
            assert expected is None, f"{label}: no {expected.__name__}"


@pytest.mark.soak
def test_soak_every_path_keeps_memory_flat(panic_exception, capfd, request):
    paths = every_path(panic_exception)
    start = time.monotonic()
    rounds = 0
    while time.monotonic() < start + WARM_UP_SECONDS:
        one_round(paths)
        rounds += 1
    capfd.readouterr()  # the panic paths write diagnostics
    watched = watched_objects(paths)
    baseline = Sample.take()
    references_before = total_references(watched)

    untraced_end = start + SOAK_SECONDS - TRACED_SECONDS
    while time.monotonic() < untraced_end:
        one_round(paths)
        rounds += 1
        if rounds % 200 == 0:
            capfd.readouterr()
    capfd.readouterr()

    tracemalloc.start()
    try:
        # Memory freed before tracing began is refilled under it: one round
        # settles it, or on a free-threaded build (which frees memory only
        # once every thread has passed a quiescent point, and refills
        # per-thread allocator pages as it goes: see test_references) the
        # first half of the traced time.
        settled = time.monotonic() + (TRACED_SECONDS / 2 if FREE_THREADED else 0.0)
        one_round(paths)
        while time.monotonic() < settled:
            one_round(paths)
            rounds += 1
        capfd.readouterr()
        gc.collect()
        traced_before = tracemalloc.get_traced_memory()[0]
        while time.monotonic() < start + SOAK_SECONDS:
            one_round(paths)
            rounds += 1
            if rounds % 200 == 0:
                capfd.readouterr()
        capfd.readouterr()
        gc.collect()
        traced_growth = tracemalloc.get_traced_memory()[0] - traced_before
    finally:
        tracemalloc.stop()
    final = Sample.take()
    reference_growth = total_references(watched) - references_before
    elapsed = time.monotonic() - start

    calls = rounds * len(paths)
    reporter = request.config.pluginmanager.get_plugin("terminalreporter")
    capture = request.config.pluginmanager.get_plugin("capturemanager")
    if reporter is not None and capture is not None:
        with capture.global_and_fixture_disabled():
            reporter.write_line(
                f"\nsoak: {rounds} rounds of {len(paths)} paths ({calls} calls) in "
                f"{elapsed:.1f} s; growth after warm-up: heap {final.heap - baseline.heap} B, "
                f"resident {final.resident - baseline.resident} B, "
                f"blocks {final.blocks - baseline.blocks}, "
                f"objects {final.objects - baseline.objects}, traced {traced_growth} B, "
                f"references to {len(watched)} arguments {reference_growth}, "
                f"total references {final.references - baseline.references}")

    # One object lost per round must exceed the allowances.
    assert rounds > 2 * BLOCK_ALLOWANCE, "too few rounds to tell a leak from noise"
    assert final.heap - baseline.heap < HEAP_ALLOWANCE
    assert final.resident - baseline.resident < RESIDENT_ALLOWANCE
    assert final.blocks - baseline.blocks < BLOCK_ALLOWANCE
    assert final.objects - baseline.objects < OBJECT_ALLOWANCE
    if NUMPY_KEEPS_TOTAL_REFERENCES:  # else numpy's uncounted references move it
        assert final.references - baseline.references < REFERENCE_ALLOWANCE
    assert reference_growth == 0
    assert traced_growth < TRACED_ALLOWANCE


# Calls under a cap on the address space that rises from nothing to enough for
# the call: conversion, model and result then run out of memory at every
# stage in turn. Each call must end in its result, a MemoryError or the
# PanicException for an interpreter that cannot allocate, never in a crash.
SHORT_OF_MEMORY_SCRIPT = textwrap.dedent("""
    import array, gc, resource, sys
    import lumevaro

    def address_space():
        with open("/proc/self/statm") as statm:
            return int(statm.read().split()[0]) * resource.getpagesize()

    n = 200_000
    separations = array.array("d", [2.0]) * n
    calls = {
        "witt_mao_magnification": (separations, 1.0, 0.1),
        "discrete_flux_map_heyrovsky_magnification": (separations, 1.0, 0.1, [0.5], [1.0]),
    }
    calls = [(getattr(lumevaro, sys.argv[1]), calls[sys.argv[1]])]
    unlimited = (resource.RLIM_INFINITY, resource.RLIM_INFINITY)
    for function, args in calls:
        outcomes = set()
        for step in range(24):
            gc.collect()
            cap = address_space() + step * n * 48 // 16
            resource.setrlimit(resource.RLIMIT_AS, (cap, resource.RLIM_INFINITY))
            try:
                result = function(*args)
                outcome = "list" if type(result) is list and len(result) == n else "wrong"
                del result
            except BaseException as error:
                outcome = type(error).__name__ + ": " + str(error)
            resource.setrlimit(resource.RLIMIT_AS, unlimited)
            outcomes.add(outcome)
        print(function.__name__, sorted(outcomes))
    print(lumevaro.witt_mao_magnification([2.0], 1.0, 0.1) == [5.250130195889463])
""")


def test_short_of_memory_a_call_raises_and_the_module_stays_usable():
    resource = pytest.importorskip("resource")
    with open("/proc/self/maps") as maps:
        if "libasan" in maps.read():
            pytest.skip("AddressSanitizer aborts when its allocator is refused memory")
    if resource.getrlimit(resource.RLIMIT_AS)[0] != resource.RLIM_INFINITY:
        pytest.skip("the address space is capped already")
    # A process for each function: an allocator that keeps the memory a
    # first function freed mapped (free-threaded CPython's does) would serve
    # the second from it, under any cap.
    for name in ("witt_mao_magnification", "discrete_flux_map_heyrovsky_magnification"):
        result = subprocess.run([sys.executable, "-c", SHORT_OF_MEMORY_SCRIPT, name],
                                capture_output=True, text=True, timeout=120)
        assert result.returncode == 0, result.stderr
        assert "uncaught panic" not in result.stderr
        line, usable = result.stdout.splitlines()
        allowed = {"list", "MemoryError: ", "PanicException: Python API call failed"}
        assert line.split(" ", 1)[0] == name
        outcomes = set(ast.literal_eval(line.split(" ", 1)[1]))
        assert outcomes <= allowed, line
        assert "list" in outcomes and len(outcomes) > 1, line  # the cap did bite
        assert usable == "True"
