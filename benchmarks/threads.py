"""Two Python threads against two processes: how close calls made from two
threads come to the scaling of two processes, in one run.

For each workload (a call with 1000 separations, or 100000), the same number
of calls is timed
  * in one thread (2n calls),
  * in two threads of one process (n calls each),
  * in two processes (n calls each; each worker times its own loop after a
    barrier, the span from the first start to the last end is taken),
and the scaling is the one-thread time over the two-way time. The rounds
alternate the three, and the median of each is printed with the range.

The module gives the interpreter lock away while it computes, so threads
contend only for what runs under the lock: converting the arguments and
building the result lists (some 30 ns per separation), the same in every
function. A function that computes long per separation (the limb-darkened
ones, about 1 µs) hides it; witt_mao_magnification, about 0.1 µs per
separation, does not. On free-threaded CPython with the GIL off
(PYTHON_GIL=0, or -X gil=0) nothing is serialised: two threads should
scale as two processes do, the conversions included.

Every workload is held to two threads at least TARGET_THREADS (1.85) times
as fast as one, with the GIL or without.

numpy's OpenBLAS starts a pool of worker threads when numpy is imported,
which spin while they wait for work: on a two-core machine they take cycles
from the threads measured (18 % of the samples of a witt_mao loop here).
lumevaro calls no BLAS, so the benchmark asks OpenBLAS (and OpenMP) for one
thread before numpy is imported, unless the environment says otherwise.

    python benchmarks/threads.py [--rounds N] [--quick]

Run it alone on the machine (two idle cores at least).
"""

from __future__ import annotations

import argparse
import multiprocessing
import os
import platform
import random
import statistics
import sys
import sysconfig
import threading
import time
from collections.abc import Callable

for _variable in ("OPENBLAS_NUM_THREADS", "OMP_NUM_THREADS"):
    os.environ.setdefault(_variable, "1")

import numpy as np  # noqa: E402  (after the thread counts are set)

import lumevaro  # noqa: E402

RNG = random.Random(1)
SHORT = [RNG.uniform(0.0, 3.0) for _ in range(1000)]
LONG = [RNG.uniform(0.0, 3.0) for _ in range(100000)]
TIMES = np.linspace(-0.3, 0.3, 1000)

WORKLOADS: dict[str, Callable[[], object]] = {
    "limb_darkened_magnification, 1000 separations":
        lambda: lumevaro.limb_darkened_magnification(SHORT, 1.0, 0.1, "linear", [0.6]),
    "limb_darkened_magnification rtol=1e-3, 1000 separations":
        lambda: lumevaro.limb_darkened_magnification(SHORT, 1.0, 0.1, "linear", [0.6], rtol=1e-3),
    "limb_darkened_magnification_gradient, 1000 separations":
        lambda: lumevaro.limb_darkened_magnification_gradient(SHORT, 1.0, 0.1, "quadratic", [0.4, 0.25]),
    "light_curve_jacobian, 1000 times":
        lambda: lumevaro.light_curve_jacobian(TIMES, 0.0, 0.05, 1.0, 0.1, "linear", [0.6]),
    "light_curve, 1000 times":
        lambda: lumevaro.light_curve(TIMES, 0.0, 0.05, 1.0, 0.1, "linear", [0.6]),
    "witt_mao_magnification, 1000 separations":
        lambda: lumevaro.witt_mao_magnification(SHORT, 1.0, 0.1),
    "witt_mao_magnification, 100000 separations":
        lambda: lumevaro.witt_mao_magnification(LONG, 1.0, 0.1),
}
# Two threads over one, every workload.
TARGET_THREADS = 1.85


def gil_enabled() -> bool:
    check = getattr(sys, "_is_gil_enabled", None)
    return True if check is None else bool(check())


def loop(name: str, calls: int) -> None:
    call = WORKLOADS[name]
    for _ in range(calls):
        call()


def one_thread(name: str, calls: int) -> float:
    start = time.perf_counter()
    loop(name, 2 * calls)
    return time.perf_counter() - start


def two_threads(name: str, calls: int) -> float:
    pair = [threading.Thread(target=loop, args=(name, calls)) for _ in range(2)]
    start = time.perf_counter()
    for thread in pair:
        thread.start()
    for thread in pair:
        thread.join()
    return time.perf_counter() - start


def worker(name: str, calls: int, barrier, spans) -> None:
    barrier.wait()
    start = time.perf_counter()
    loop(name, calls)
    spans.put((start, time.perf_counter()))


def two_processes(name: str, calls: int) -> float:
    # perf_counter is the system's monotonic clock: the workers' times compare.
    barrier = multiprocessing.Barrier(2)
    spans = multiprocessing.Queue()
    pair = [multiprocessing.Process(target=worker, args=(name, calls, barrier, spans)) for _ in range(2)]
    for process in pair:
        process.start()
    times = [spans.get() for _ in pair]
    for process in pair:
        process.join()
    return max(end for _, end in times) - min(start for start, _ in times)


def calls_for(name: str, seconds: float) -> int:
    start = time.perf_counter()
    WORKLOADS[name]()
    return max(1, round(seconds / (time.perf_counter() - start)))


def main() -> None:
    parser = argparse.ArgumentParser(description=(__doc__ or "").splitlines()[0])
    parser.add_argument("--rounds", type=int, default=7)
    parser.add_argument("--quick", action="store_true", help="3 rounds of shorter loops")
    options = parser.parse_args()
    rounds = 3 if options.quick else options.rounds
    seconds = 0.1 if options.quick else 0.4
    multiprocessing.set_start_method("fork")

    free_threaded = bool(sysconfig.get_config_var("Py_GIL_DISABLED"))
    gil = gil_enabled()
    build = f"free-threaded, GIL {'on' if gil else 'off'}" if free_threaded else "with the GIL"
    print(f"Python {platform.python_version()} ({build}). Scaling of two threads and of two processes "
          f"over one thread, median (range) of {rounds} alternating rounds; about {2 * seconds:g} s "
          f"of calls per measurement.\n")
    print(f"| workload | two threads | two processes | threads / processes | two threads ≥ {TARGET_THREADS:g} |")
    print("|---|---|---|---|---|")
    for name in WORKLOADS:
        calls = calls_for(name, seconds)
        threads, processes = [], []
        for _ in range(rounds):
            alone = one_thread(name, calls)
            threads.append(alone / two_threads(name, calls))
            processes.append(alone / two_processes(name, calls))
        t, p = statistics.median(threads), statistics.median(processes)
        verdict = "met" if t >= TARGET_THREADS else "MISSED"
        print(f"| {name} | {t:.2f} ({min(threads):.2f}-{max(threads):.2f}) | "
              f"{p:.2f} ({min(processes):.2f}-{max(processes):.2f}) | {t / p:.2f} | {verdict} |")


if __name__ == "__main__":
    main()
