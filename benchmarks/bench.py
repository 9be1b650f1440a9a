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
"""

import argparse
import subprocess
import sys
import time

import lumevaro

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


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--kernels", help="path of the built C++ kernel benchmark")
    parser.add_argument("--quick", action="store_true", help="short lists, few repeats")
    args = parser.parse_args()
    repeats = 3 if args.quick else 7

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
