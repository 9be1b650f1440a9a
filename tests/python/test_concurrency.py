"""Threads and interpreters.

Calls share no mutable state, and give the interpreter lock away while the
numbers of a long enough list are computed; so eight threads calling every
function at once, with caller code that gives the lock away in the middle of
a conversion and with every kind of failure in the mix, on short lists and on
long ones, must get what one thread gets, bit for bit. Another thread runs
while a long call computes. A second interpreter of the process cannot import
the module, and its attempt leaves the first interpreter's module as it was.
"""

import array
import importlib.util
import math
import random
import struct
import subprocess
import sys
import textwrap
import threading
import time

import pytest

import lumevaro
from conftest import ALL_LIST_FUNCTIONS, FUNCTIONS, REGISTRY

THREADS = 8
ROUNDS = 12
JOIN_TIMEOUT = 120.0


class YieldingFloat:
    """A number whose conversion lets other threads run."""

    def __init__(self, value):
        self.value = value

    def __float__(self):
        time.sleep(0)
        return self.value


class YieldingSequence:
    """A sequence that lets other threads run before every item."""

    def __init__(self, items):
        self.items = items

    def __len__(self):
        time.sleep(0)
        return len(self.items)

    def __getitem__(self, index):
        raise AssertionError("conversion must iterate, not index")

    def __iter__(self):
        for item in self.items:
            time.sleep(0)
            yield item


class YieldingTypeError:
    def __float__(self):
        time.sleep(0)
        raise TypeError("yielded, then refused") from KeyError("the cause")


def gil_enabled():
    check = getattr(sys, "_is_gil_enabled", None)
    return True if check is None else check()


def every_kind_of_call():
    """(label, function, args, kwargs): each function's success, and each
    kind of failure, some through caller code that yields the lock."""
    separations = [0.0, 0.5, 0.999995, 1.0, 2.0, 30.0]
    short = [0.5, 2.0]
    calls = []
    for row in REGISTRY:
        name, function = row.name, row.function
        if row.result == "float":
            calls.append((name, function, (0.75, 0.5, 1.0, 0.1), {}))
            calls.append((name + " on the ring", function, (0.5, 0.5, 1.0, 0.1), {}))
            calls.append((name + " yielding", function,
                          (YieldingFloat(2.0), 0.5, YieldingFloat(1.0), 0.1), {}))
            continue
        args = row.valid_arguments(short if row.integrates else separations)
        calls.append((name, function, args, {}))
        calls.append((name + " yielding", function, tuple(
            YieldingSequence([YieldingFloat(x) for x in a]) if p in row.sequences
            else YieldingFloat(a) if type(a) is float else a
            for p, a in zip(row.parameters, args)), {}))
        if row.checks_values:
            # Refused before computing, on a short list and on a long one
            # that would be computed without the lock.
            for label, l in (("bad separation", [2.0, -1.0]),
                             ("long bad separation", separations * 20 + [math.nan])):
                calls.append((f"{name} {label}", function, (l,) + args[1:], {}))
            calls.append((name + " bad rstar", function, args[:2] + (-0.1,) + args[3:], {}))
            calls.append((name + " long", function, (separations * 10,) + args[1:], {}))
    wm = lumevaro.witt_mao_magnification
    calls += [
        ("keywords", wm, (), {"rstar": 0.1, "l": separations, "re": 1.0}),
        ("missing", wm, (separations,), {}),
        ("str", wm, ("abc", 1.0, 0.1), {}),
        ("item type", wm, ([2.0, None], 1.0, 0.1), {}),
        ("remapped with cause", wm, ([2.0, YieldingTypeError()], 1.0, 0.1), {}),
        ("overflow", wm, ([2.0, 10 ** 400], 1.0, 0.1), {}),
        ("model failure", wm, ([2.0, math.nan], 1.0, 0.1), {}),
        ("panic", lumevaro.discrete_flux_map_heyrovsky_magnification,
         (short, 1.0, 0.1, [0.1, 0.2, 0.3], [1.0, 1.0]), {}),
        # Long enough to compute without the lock, ending in each outcome.
        ("long", wm, (separations * 50, 1.0, 0.1), {}),
        ("long model failure", wm, (separations * 20 + [-1.0] + separations, 1.0, 0.1), {}),
        ("long panic", lumevaro.discrete_flux_map_heyrovsky_magnification,
         (separations * 5, 1.0, 0.1, [0.1, 0.2, 0.3], [1.0, 1.0]), {}),
    ]
    return calls


def fingerprint(function, args, kwargs):
    """The outcome of a call: the bits of its values, or the exception's class,
    arguments and cause."""
    try:
        result = function(*args, **kwargs)
    except BaseException as error:  # noqa: B036 - PanicException is a BaseException
        cause = error.__cause__
        return ("raised", type(error), error.args, type(cause), cause and cause.args)
    flatten = next((row.flatten for row in REGISTRY if row.function is function), list)
    values = flatten(result)
    return (type(result), tuple(struct.pack("<d", x) for x in values))


@pytest.fixture
def frequent_switches():
    interval = sys.getswitchinterval()
    sys.setswitchinterval(1e-6)
    yield
    sys.setswitchinterval(interval)


def test_threads_compute_what_one_thread_computes(frequent_switches, capfd):
    calls = every_kind_of_call()
    expected = [fingerprint(function, args, kwargs) for _, function, args, kwargs in calls]
    assert {e[0] for e in expected} >= {"raised", list, float}

    start = threading.Barrier(THREADS)
    mismatches = []
    completed = []

    def worker(seed):
        order = list(range(len(calls)))
        shuffle = random.Random(seed).shuffle
        start.wait()
        for _ in range(ROUNDS):
            shuffle(order)
            for i in order:
                label, function, args, kwargs = calls[i]
                got = fingerprint(function, args, kwargs)
                if got != expected[i]:
                    mismatches.append((seed, label, got, expected[i]))
        completed.append(seed)

    threads = [threading.Thread(target=worker, args=(seed,)) for seed in range(THREADS)]
    for thread in threads:
        thread.start()
    for thread in threads:
        thread.join(JOIN_TIMEOUT)
    assert not any(thread.is_alive() for thread in threads), "a thread did not finish"
    assert sorted(completed) == list(range(THREADS))
    assert mismatches == []
    capfd.readouterr()  # one panic diagnostic per panicking call


STRESS_SECONDS = 3.0


def test_eight_threads_for_seconds_on_shared_and_private_inputs_beside_mutated_inputs():
    """Every function from eight threads for a few seconds, each call on the
    inputs all threads share or on the thread's own copies, while another
    thread swaps the contents of a list and of an array.array that the
    threads are reading: every outcome bit for bit one thread's, and a read
    of a mutated input one of its states, whole. Without the GIL this is
    what catches a torn read, a stale pointer or a shared cache."""
    calls = [(label, function, args, kwargs) for label, function, args, kwargs in every_kind_of_call()
             if "yielding" not in label]  # their slow conversions would only dilute the run
    expected = [fingerprint(function, args, kwargs) for _, function, args, kwargs in calls]
    wm = lumevaro.witt_mao_magnification
    states = [[0.25 * (i + 1) for i in range(40)], [3.0 + 0.5 * i for i in range(70)]]
    outcomes = [fingerprint(wm, (state, 1.0, 0.1), {}) for state in states]
    shared_list = list(states[0])
    shared_buffer = array.array("d", states[0])
    # array.array takes its own lock while it changes only from 3.14 on: on
    # a free-threaded 3.13 a resize races with any reader of the array (a
    # race inside array itself), so there only the list is mutated.
    mutated = [shared_list, shared_buffer]
    if not gil_enabled() and sys.version_info < (3, 14):
        mutated = [shared_list]
    stop = threading.Event()
    start = threading.Barrier(THREADS + 1)
    mismatches, completed, swaps = [], [], []

    def mutator():
        start.wait()
        count = 0
        while not stop.is_set():
            state = states[count % 2]
            shared_list[:] = state
            if mutated[-1] is shared_buffer:
                try:
                    shared_buffer[:] = array.array("d", state)
                except BufferError:  # a reader holds the export: it cannot be resized
                    pass
            count += 1
        swaps.append(count)

    def worker(seed):
        rng = random.Random(seed)
        private = [(f, tuple(list(a) if type(a) is list else a for a in args), dict(kwargs))
                   for _, f, args, kwargs in calls]
        start.wait()
        end = time.monotonic() + STRESS_SECONDS
        while time.monotonic() < end:
            i = rng.randrange(len(calls))
            function, args, kwargs = private[i] if rng.random() < 0.5 else calls[i][1:]
            got = fingerprint(function, args, kwargs)
            if got != expected[i]:
                mismatches.append((seed, calls[i][0], got, expected[i]))
            for sequence in mutated:
                got = fingerprint(wm, (sequence, 1.0, 0.1), {})
                if got not in outcomes:
                    mismatches.append((seed, type(sequence).__name__, got))
        completed.append(seed)

    threads = [threading.Thread(target=worker, args=(seed,)) for seed in range(THREADS)]
    changer = threading.Thread(target=mutator)
    for thread in [*threads, changer]:
        thread.start()
    for thread in threads:
        thread.join(JOIN_TIMEOUT + STRESS_SECONDS)
    stop.set()
    changer.join(JOIN_TIMEOUT)
    assert not any(thread.is_alive() for thread in [*threads, changer]), "a thread did not finish"
    assert sorted(completed) == list(range(THREADS))
    assert [m[:2] for m in mismatches[:20]] == []
    assert swaps and swaps[0] > 10, "the inputs were hardly changed"


def long_call(name):
    """A call of the named function that computes for at least 0.05 s."""
    row = FUNCTIONS[name]
    separations = [0.05 + 0.01 * i for i in range(400)]
    count = 8
    while True:
        args = row.valid_arguments((separations * (count // 400 + 1))[:count])
        start = time.perf_counter()
        row.function(*args)
        if time.perf_counter() - start > 0.05 or count > 10 ** 7:
            return lambda: row.function(*args)
        count *= 4


@pytest.mark.parametrize("name", ALL_LIST_FUNCTIONS)
def test_another_thread_runs_while_a_long_call_computes(name):
    # With the lock held throughout the call, the counting thread would stand
    # still for all of it.
    call = long_call(name)
    call_done = threading.Event()
    gaps = []

    def count():
        last = time.perf_counter()
        while not call_done.is_set():
            now = time.perf_counter()
            gaps.append(now - last)
            last = now

    counter = threading.Thread(target=count)
    counter.start()
    time.sleep(0.01)
    start = time.perf_counter()
    call()
    duration = time.perf_counter() - start
    call_done.set()
    counter.join(JOIN_TIMEOUT)
    assert duration > 0.02, "the call was too short to tell"
    assert max(gaps) < 0.5 * duration


FIRST_PANIC_SCRIPT = textwrap.dedent("""
    import sys, threading
    import lumevaro
    start = threading.Barrier(8)
    caught = []
    def first_panic():
        start.wait()
        try:
            lumevaro.discrete_flux_map_heyrovsky_magnification([1.0], 1.0, 0.1, [0.5], [])
        except BaseException as error:
            caught.append(type(error))
    threads = [threading.Thread(target=first_panic) for _ in range(8)]
    for thread in threads: thread.start()
    for thread in threads: thread.join()
    print(len(caught), len(set(caught)), caught[0].__module__, caught[0].__name__)
""")


def test_first_panics_of_a_process_in_eight_threads_share_one_type():
    result = subprocess.run([sys.executable, "-c", FIRST_PANIC_SCRIPT],
                            capture_output=True, text=True, timeout=60)
    assert result.returncode == 0, result.stderr
    assert result.stdout.split() == ["8", "1", "pyo3_runtime", "PanicException"]


# The interpreter's private sub-interpreter module: _xxsubinterpreters up to
# 3.12 (there the legacy kind, which shares the lock, still loads single-phase
# modules), _interpreters from 3.13 on (its "legacy" configuration).
SUBINTERPRETER_SCRIPT = textwrap.dedent("""
    import os, sys
    try:
        import _interpreters as interpreters
        create = lambda: interpreters.create("legacy")
    except ImportError:
        import _xxsubinterpreters as interpreters
        create = (interpreters.create if sys.version_info < (3, 12)
                  else lambda: interpreters.create(isolated=False))
    import lumevaro

    def everything():
        return [
            lumevaro.witt_mao_magnification([0.5, 2.0], 1.0, 0.1),
            lumevaro.integrated_witt_mao_magnification([0.5, 2.0], 1.0, 0.1),
            lumevaro.integrated_flux_map_witt_mao_magnification([2.0], 1.0, 0.1, [0, 1], [1, 1]),
            lumevaro.heyrovsky_magnification(0.75, 0.5, 1.0, 0.1),
            lumevaro.integrated_heyrovsky_magnification([2.0], 1.0, 0.1),
            lumevaro.integrated_flux_map_heyrovsky_magnification([2.0], 1.0, 0.1, [0, 1], [1, 1]),
            lumevaro.discrete_flux_map_heyrovsky_magnification([2.0], 1.0, 0.1, [0.5], [1]),
            lumevaro.limb_darkened_magnification([0.5, 2.0], 1.0, 0.1, "quadratic", [0.4, 0.25]),
            lumevaro.tabulated_limb_darkened_magnification([0.5, 2.0], 1.0, 0.1, [0, 1], [1, 0.5]),
        ]

    before = everything()
    functions = [getattr(lumevaro, name) for name in lumevaro.__all__]
    read_end, write_end = os.pipe()
    for attempt in range(2):
        interpreter = create()
        interpreters.run_string(interpreter, f'''
    import os, sys
    sys.path[:0] = {sys.path!r}
    try:
        import lumevaro
        outcome = "imported"
    except ImportError as error:
        outcome = "ImportError: " + str(error)
    os.write({write_end}, outcome.encode() + b"\\\\n")
    ''')
        interpreters.destroy(interpreter)
    os.close(write_end)
    with os.fdopen(read_end) as outcomes:
        print(outcomes.read(), end="")
    import importlib
    del sys.modules["lumevaro"]
    again = importlib.import_module("lumevaro")
    print(again._lumevaro is lumevaro._lumevaro, [getattr(again, name) for name in again.__all__] == functions)
    print(all(repr(a) == repr(b) for a, b in zip(everything(), before)))
""")


def test_import_in_a_second_interpreter_fails_and_leaves_the_module_working():
    if not any(importlib.util.find_spec(name)
               for name in ("_interpreters", "_xxsubinterpreters")):
        pytest.skip("this interpreter has no sub-interpreter module")
    result = subprocess.run([sys.executable, "-c", SUBINTERPRETER_SCRIPT],
                            capture_output=True, text=True, timeout=60)
    assert result.returncode == 0, result.stderr
    first, second, reimport, unchanged = result.stdout.splitlines()
    prefix = "ImportError: PyO3 modules do not yet support subinterpreters, see http"
    # A free-threaded CPython refuses a single-phase module in another
    # interpreter itself, before the module's own check.
    refused_by_cpython = "ImportError: module lumevaro._lumevaro does not support loading in subinterpreters"
    assert (first.startswith(prefix) or (not gil_enabled() and first == refused_by_cpython))
    assert second == first
    assert reimport == "True True"
    assert unchanged == "True"
