"""Time per returned value of each lumevaro function, through Python.

Runs in one process: every function at list lengths 1, 100 and 100000
(1, 10 and 100 for the slow profile-weighted forms), best of several repeats,
printed as a table. Given the C++ kernel benchmark (benchmarks/kernels.cpp),
it also runs that binary and prints the ratio Python / kernel, which is the
cost of the Python boundary (argument conversion, result list) on top of the
arithmetic.

    python benchmarks/bench.py [--kernels build/bench/kernels] [--quick]

Build the kernel benchmark with
    cmake -S . -B build/bench -G Ninja -DLUMEVARO_BENCHMARKS=ON && cmake --build build/bench

With --baseline DIR it instead prints the targets table: the workloads of
the speed targets timed on two builds side by side, the module in DIR (an
earlier build) and the one this interpreter imports (or the one in
--candidate DIR), each in a worker process of its own, the two workers taking
turns on every repeat so that both see the same machine load. Build the
previous main beside this one with

    git archive e06a5ce | tar -x -C build/e06a5ce/src    # after mkdir -p
    cmake -S build/e06a5ce/src -B build/e06a5ce/build -G Ninja -DLUMEVARO_MODULE=ON
    cmake --build build/e06a5ce/build
    python benchmarks/bench.py --baseline build/e06a5ce/build
"""

import argparse
import os
import subprocess
import sys
import time

RE, RSTAR = 1.0, 0.05
TABLE_RADII = [0.0, 0.25, 0.5, 0.75, 0.9, 1.0]
TABLE_BRIGHTNESS = [1.0, 0.98, 0.9, 0.75, 0.6, 0.4]


def separations(n):
    if n == 1:
        return [2.0]
    return [0.05 + 4.95 * i / (n - 1) for i in range(n)]


def best_ns_per_value(values, repeats, call):
    best = float("inf")
    for _ in range(repeats):
        start = time.perf_counter_ns()
        call()
        best = min(best, (time.perf_counter_ns() - start) / values)
    return best


def cases(quick):
    fast = [1, 100] if quick else [1, 100, 100_000]
    slow = [1, 10] if quick else [1, 10, 100]
    table = (TABLE_RADII, TABLE_BRIGHTNESS)
    for n in fast:
        yield "witt_mao_magnification", n, lambda l: lumevaro.witt_mao_magnification(l, RE, RSTAR)
    for n in fast:
        def ring(l):
            f = lumevaro.heyrovsky_magnification
            for li in l:
                f(li, 0.7, RE, RSTAR)
        yield "heyrovsky_magnification", n, ring
    for n in fast:
        yield ("discrete_flux_map_heyrovsky_magnification", n,
               lambda l: lumevaro.discrete_flux_map_heyrovsky_magnification(l, RE, RSTAR, *table))
    for n in slow:
        yield ("integrated_witt_mao_magnification", n,
               lambda l: lumevaro.integrated_witt_mao_magnification(l, RE, RSTAR))
        yield ("integrated_flux_map_witt_mao_magnification", n,
               lambda l: lumevaro.integrated_flux_map_witt_mao_magnification(l, RE, RSTAR, *table))
        yield ("integrated_heyrovsky_magnification", n,
               lambda l: lumevaro.integrated_heyrovsky_magnification(l, RE, RSTAR))
        yield ("integrated_flux_map_heyrovsky_magnification", n,
               lambda l: lumevaro.integrated_flux_map_heyrovsky_magnification(l, RE, RSTAR, *table))


def kernel_timings(binary, quick):
    out = subprocess.run([binary] + (["--quick"] if quick else []), check=True,
                         capture_output=True, text=True).stdout
    timings = {}
    for line in out.splitlines():
        name, n, ns = line.split()
        timings[(name, int(n))] = float(ns)
    return timings


# The targets: (label, unit, target or None, the earlier build's time when
# the target was set, workload name in the worker). A target is a speed-up
# over the earlier build as much as a time: a machine slower or busier on the
# day of a run slows both builds alike, so the table shows the speed-up the
# target asks for (earlier time / target) beside it.
TARGETS = [
    ("witt_mao_magnification, 100,000 separations, list", "ns", 100.0, 192.0, "disc_list"),
    ("witt_mao_magnification, 100,000 separations, numpy array", "ns", 100.0, 218.0, "disc_array"),
    ("witt_mao_magnification, one separation (a call)", "ns", None, None, "disc_one"),
    ("discrete_flux_map_heyrovsky_magnification, per ring", "ns", 70.0, 135.0, "ring_sum"),
    ("integrated_heyrovsky_magnification", "us", 100.0, 260.0, "integrated_ring"),
    ("integrated_flux_map_heyrovsky_magnification", "us", 100.0, 260.0, "integrated_ring_table"),
    ("two threads against one, 100,000 separations", "x", 1.8, None,
     ("one_thread", "two_threads")),
]

# Runs in each worker process: reads a workload name per line, answers with
# one timing (per value, in the unit of its row; seconds for the threads).
WORKER = r"""
import sys, threading, time
sys.path.insert(0, sys.argv[1])  # the benchmarks folder: bench's own helpers
from bench import RE, RSTAR, TABLE_RADII, TABLE_BRIGHTNESS, best_ns_per_value, separations
import lumevaro
try:
    import numpy
except ImportError:
    numpy = None
TABLE = (TABLE_RADII, TABLE_BRIGHTNESS)
LONG = separations(100_000)
ARRAY = numpy.array(LONG) if numpy is not None else None
SHORT = separations(20)
SUMS = separations(20_000)
def per_value(call, values, repeats):
    return best_ns_per_value(values, repeats, call)
def work(calls):
    for _ in range(calls):
        lumevaro.witt_mao_magnification(LONG, RE, RSTAR)
def one_thread():
    start = time.perf_counter()
    work(4)
    return time.perf_counter() - start
def two_threads():
    pair = [threading.Thread(target=work, args=(2,)) for _ in range(2)]
    start = time.perf_counter()
    for t in pair: t.start()
    for t in pair: t.join()
    return time.perf_counter() - start
wm = lumevaro.witt_mao_magnification
WORKLOADS = {
    "disc_list": lambda: per_value(lambda: wm(LONG, RE, RSTAR), len(LONG), 2),
    "disc_array": lambda: (per_value(lambda: wm(ARRAY, RE, RSTAR), len(LONG), 2)
                           if ARRAY is not None else float("nan")),
    "disc_one": lambda: per_value(lambda: [wm([2.0], RE, RSTAR) for _ in range(10_000)], 10_000, 3),
    "ring_sum": lambda: per_value(
        lambda: lumevaro.discrete_flux_map_heyrovsky_magnification(SUMS, RE, RSTAR, *TABLE),
        len(SUMS) * len(TABLE[0]), 2),
    "integrated_ring": lambda: per_value(
        lambda: lumevaro.integrated_heyrovsky_magnification(SHORT, RE, RSTAR), len(SHORT), 2) / 1e3,
    "integrated_ring_table": lambda: per_value(
        lambda: lumevaro.integrated_flux_map_heyrovsky_magnification(SHORT, RE, RSTAR, *TABLE),
        len(SHORT), 2) / 1e3,
    "one_thread": one_thread,
    "two_threads": two_threads,
}
print(lumevaro.__file__, flush=True)
for line in sys.stdin:
    print(WORKLOADS[line.strip()](), flush=True)
"""


class Worker:
    """A Python process that imports the lumevaro found first in `path` (or
    the installed one) and times workloads on request."""

    def __init__(self, path):
        env = dict(os.environ)
        if path:
            env["PYTHONPATH"] = os.path.abspath(path) + os.pathsep + env.get("PYTHONPATH", "")
        self.process = subprocess.Popen([sys.executable, "-c", WORKER, os.path.dirname(os.path.abspath(__file__))],
                                        env=env, text=True,
                                        stdin=subprocess.PIPE, stdout=subprocess.PIPE)
        self.module = self.process.stdout.readline().strip()

    def time(self, workload):
        self.process.stdin.write(workload + "\n")
        self.process.stdin.flush()
        return float(self.process.stdout.readline())

    def close(self):
        self.process.stdin.close()
        self.process.wait()


def targets_table(baseline, candidate, repeats):
    before, after = Worker(baseline), Worker(candidate)
    print(f"before: {before.module}\nafter:  {after.module}\n")
    print(f"| workload | before | after | speed-up | target |\n|---|---|---|---|---|")
    try:
        for label, unit, target, then, workload in TARGETS:
            if unit == "x":
                # Throughput ratio: the best time of four calls in one thread
                # over the best time of two calls in each of two threads.
                alone, together = workload
                best = {"before": [float("inf")] * 2, "after": [float("inf")] * 2}
                for _ in range(repeats):
                    for name, worker in (("before", before), ("after", after)):
                        best[name][0] = min(best[name][0], worker.time(alone))
                        best[name][1] = min(best[name][1], worker.time(together))
                b = best["before"][0] / best["before"][1]
                a = best["after"][0] / best["after"][1]
                row = f"| {label} | {b:.2f}x | {a:.2f}x | | >= {target}x |"
            else:
                times = {"before": [], "after": []}
                for _ in range(repeats):  # the two builds take turns
                    times["before"].append(before.time(workload))
                    times["after"].append(after.time(workload))
                b, a = min(times["before"]), min(times["after"])
                if target:
                    goal = f"<= {target:g} {unit} (from {then:g}: >= {then / target:.2f}x)"
                else:
                    goal = "at most 10 % slower"
                row = f"| {label} | {b:.1f} {unit} | {a:.1f} {unit} | {b / a:.2f}x | {goal} |"
            print(row)
            sys.stdout.flush()
    finally:
        before.close()
        after.close()


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--kernels", help="path of the built C++ kernel benchmark")
    parser.add_argument("--quick", action="store_true", help="short lists, few repeats")
    parser.add_argument("--baseline", metavar="DIR",
                        help="print the targets table against the module built in DIR")
    parser.add_argument("--repeats", type=int, metavar="N",
                        help="turns per workload (default 7, 3 with --quick)")
    parser.add_argument("--candidate", metavar="DIR",
                        help="with --baseline: the module to compare (default: the installed one)")
    args = parser.parse_args()
    repeats = args.repeats or (3 if args.quick else 7)
    if args.baseline:
        targets_table(args.baseline, args.candidate, repeats)
        return

    global lumevaro
    import lumevaro

    kernels = kernel_timings(args.kernels, args.quick) if args.kernels else {}
    header = f"{'function':44} {'length':>7} {'ns/value':>12}"
    if kernels:
        header += f" {'kernel ns':>12} {'ratio':>7}"
    print(header)
    for name, n, call in cases(args.quick):
        l = separations(n)
        ns = best_ns_per_value(n, repeats, lambda: call(l))
        row = f"{name:44} {n:>7} {ns:>12.1f}"
        if (name, n) in kernels:
            k = kernels[(name, n)]
            row += f" {k:>12.1f} {ns / k:>7.2f}"
        print(row)
        sys.stdout.flush()


if __name__ == "__main__":
    main()
