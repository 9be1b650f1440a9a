"""A fit's model evaluation: a light curve and its Jacobian, against the path
a fitter took before the array functions.

The workload is a light curve shaped like a real event: 3,500 times, 3,150
of them spread over t0 +- 3 tE and 350 around the peak, u0 = 0.003,
rho = 0.005, linear law 0.6, so that 90 % of the points lie beyond three
source radii (l = 3) and 10 % within. Cases:

  * today's path, on the previous build: the list functions with the chain
    rule in numpy, as examples/fit_event.py did (times converted with
    tolist(), lists back to arrays, tau/u and u0/u guarded at u = 0);
  * light_curve_jacobian, light_curve, and light_curve_jacobian in 4 bands,
    on this build;
  * the value function on 100,000 far-field separations (l on [3, 100]) as a
    numpy array, against the same call in C++ (benchmarks/kernels.cpp, when
    --kernels gives the binary, run between the rounds): the difference is
    the array conversion's cost per element.

The two builds run in worker processes of their own that take turns on every
round, so that both see the same load; each case's time is the median of its
rounds, and each ratio the median over the rounds of the ratio within a
round (which a drift of the machine's speed from round to round leaves
alone). Prints a markdown table with per-point times and the speed targets.

    python benchmarks/light_curve.py [--previous DIR] [--kernels build/bench/kernels] [--rounds N]

--previous names a folder holding the previous build's module (default: the
parent of the commit that made the version 0.2.0, built under build/ by this
script with CMake). Run it alone on the machine.
"""

from __future__ import annotations

import argparse
import os
import pathlib
import platform
import statistics
import subprocess
import sys
import textwrap

ROOT = pathlib.Path(__file__).resolve().parents[1]
POINTS, NEAR = 3500, 350
T0, U0, TE, RHO, LAW, COEFFICIENTS = 0.0, 0.003, 1.0, 0.005, "linear", [0.6]
FAR_VALUES = 100_000
CALLS = 20  # calls a timing, per repeat

# Runs in each worker: reads a case name per line, answers the median and the
# least time of CALLS calls of it, in nanoseconds per call.
WORKER = textwrap.dedent(r"""
    import statistics, sys, time
    if sys.argv[1]:
        sys.path.insert(0, sys.argv[1])
    import numpy as np
    import lumevaro

    POINTS, NEAR, CALLS = int(sys.argv[2]), int(sys.argv[3]), int(sys.argv[4])
    T0, U0, TE, RHO = 0.0, 0.003, 1.0, 0.005
    # Within three source radii of the lens: |tau| < sqrt((3 rho)^2 - u0^2).
    peak = ((3 * RHO) ** 2 - U0 ** 2) ** 0.5 * TE
    rng = np.random.default_rng(5)
    times = np.sort(np.concatenate([rng.uniform(-3 * TE, 3 * TE, POINTS - NEAR),
                                    rng.uniform(-peak, peak, NEAR)]))
    far = np.linspace(3.0, 100.0, 100_000)

    def todays_path():
        tau = (times - T0) / TE
        u = np.hypot(U0, tau)
        a, da_du, da_drho, (da_dc,) = lumevaro.limb_darkened_magnification_gradient(
            (u / RHO).tolist(), 1.0, RHO, "linear", [0.6])
        slope = np.array(da_du)
        along = np.divide(tau, u, out=np.zeros_like(u), where=u > 0.0)
        across = np.divide(U0, u, out=np.ones_like(u), where=u > 0.0)
        columns = [-slope * along / TE, slope * across, -slope * along * tau / TE,
                   np.array(da_drho), np.array(da_dc)]
        return np.array(a), np.column_stack(columns)

    cases = {
        "today": todays_path,
        "jacobian": lambda: lumevaro.light_curve_jacobian(times, T0, U0, TE, RHO, "linear", [0.6]),
        "value": lambda: lumevaro.light_curve(times, T0, U0, TE, RHO, "linear", [0.6]),
        "jacobian 4 bands": lambda: lumevaro.light_curve_jacobian(
            times, T0, U0, TE, RHO, "linear", [[0.6], [0.5], [0.4], [0.3]]),
        "far field": lambda: lumevaro.limb_darkened_magnification(far, 1.0, 0.05, "linear", [0.6]),
    }
    print("ready", flush=True)
    for line in sys.stdin:
        call = cases[line.strip()]
        call()
        samples = []
        for _ in range(CALLS):
            start = time.perf_counter_ns()
            call()
            samples.append(time.perf_counter_ns() - start)
        print(statistics.median(samples), min(samples), flush=True)
""")


class Worker:
    def __init__(self, module_folder: str) -> None:
        self.process = subprocess.Popen(
            [sys.executable, "-c", WORKER, module_folder, str(POINTS), str(NEAR), str(CALLS)],
            stdin=subprocess.PIPE, stdout=subprocess.PIPE, text=True)
        assert self.process.stdout is not None and self.process.stdout.readline().strip() == "ready"

    def time(self, case: str) -> tuple[float, float]:
        """The median and the least time of a case's calls, in ns."""
        assert self.process.stdin is not None and self.process.stdout is not None
        self.process.stdin.write(case + "\n")
        self.process.stdin.flush()
        median, least = self.process.stdout.readline().split()
        return float(median), float(least)

    def close(self) -> None:
        if self.process.stdin is not None:
            self.process.stdin.close()
        self.process.wait()


def git(*arguments: str) -> str:
    return subprocess.run(["git", *arguments], cwd=ROOT, check=True, capture_output=True,
                          text=True).stdout.strip()


def previous_build() -> str:
    """The module of the commit before the array functions, built once."""
    introduced = git("log", "--format=%H", "-1", "-S", 'version = "0.2.0"', "--", "pyproject.toml")
    commit = git("rev-parse", "--short", introduced + "^")
    folder = ROOT / "build" / f"previous-{commit}"
    if not list((folder / "build").glob("lumevaro*.so")):
        (folder / "src").mkdir(parents=True, exist_ok=True)
        archive = subprocess.run(["git", "archive", commit], cwd=ROOT, check=True, capture_output=True)
        subprocess.run(["tar", "-x", "-C", str(folder / "src")], input=archive.stdout, check=True)
        subprocess.run(["cmake", "-S", str(folder / "src"), "-B", str(folder / "build"), "-G", "Ninja",
                        "-DLUMEVARO_MODULE=ON", f"-DPython_EXECUTABLE={sys.executable}"],
                       check=True, capture_output=True)
        subprocess.run(["cmake", "--build", str(folder / "build")], check=True, capture_output=True)
    return str(folder / "build")


def kernel_far_field(binary: str) -> float | None:
    out = subprocess.run([binary, "--far"], check=True, capture_output=True, text=True).stdout
    for line in out.splitlines():
        name, n, ns = line.split()
        if name == "limb_darkened_magnification_far" and int(n) == FAR_VALUES:
            return float(ns)
    return None


def main(argv: list[str] | None = None) -> None:
    parser = argparse.ArgumentParser(description=(__doc__ or "").splitlines()[0])
    parser.add_argument("--previous", help="folder of the previous build's module")
    parser.add_argument("--kernels", help="the C++ kernel benchmark (benchmarks/kernels.cpp)")
    parser.add_argument("--rounds", type=int, default=15, help="rounds, each case once a round")
    options = parser.parse_args(argv)

    previous = Worker(options.previous or previous_build())
    current = Worker("")
    times: dict[str, list[float]] = {}
    least_far: list[float] = []
    kernels: list[float] = []
    try:
        for _ in range(options.rounds):
            times.setdefault("today", []).append(previous.time("today")[0])
            for case in ("jacobian", "value", "jacobian 4 bands", "far field"):
                median_time, least = current.time(case)
                times.setdefault(case, []).append(median_time)
                if case == "far field":
                    least_far.append(least)
            if options.kernels:
                kernel_time = kernel_far_field(options.kernels)
                if kernel_time is not None:
                    kernels.append(kernel_time)
    finally:
        previous.close()
        current.close()
    median = {case: statistics.median(samples) for case, samples in times.items()}
    kernel = statistics.median(kernels) if kernels else None

    def ratio(numerator: str, denominator: str) -> float:
        return statistics.median(a / b for a, b in zip(times[numerator], times[denominator]))

    processor = platform.processor() or platform.machine()
    try:
        with open("/proc/cpuinfo") as cpuinfo:
            processor = next(line.split(":", 1)[1].strip() for line in cpuinfo
                             if line.startswith("model name"))
    except (OSError, StopIteration):
        pass
    print(f"{POINTS} points, {NEAR} within l = 3; median of {options.rounds} rounds of {CALLS} calls; "
          f"Python {platform.python_version()}, {processor}, {os.cpu_count()} cores\n")
    print("| case | per call | per point |")
    print("|---|---|---|")
    labels = {"today": "today's path: lists and a numpy chain rule (previous build)",
              "jacobian": "light_curve_jacobian", "value": "light_curve",
              "jacobian 4 bands": "light_curve_jacobian, 4 bands"}
    for case, label in labels.items():
        print(f"| {label} | {median[case] / 1e3:.0f} µs | {median[case] / POINTS:.0f} ns |")
    far = median["far field"] / FAR_VALUES
    print(f"| limb_darkened_magnification, far field, ndarray of {FAR_VALUES:,} | "
          f"{median['far field'] / 1e3:.0f} µs | {far:.1f} ns |")
    if kernel is not None:
        print(f"| the same in C++ (best of 7, median over the rounds) | | {kernel:.1f} ns |")

    print("\n| target | measured | limit | met |")
    print("|---|---|---|---|")
    rows = [
        ("light_curve_jacobian / today's path", ratio("jacobian", "today"), 0.5, "aim 0.35"),
        ("light_curve_jacobian / light_curve", ratio("jacobian", "value"), 1.7, ""),
        ("4 bands / 1 band, light_curve_jacobian", ratio("jacobian 4 bands", "jacobian"), 1.6, ""),
    ]
    for label, ratio, limit, aim in rows:
        note = f" ({aim})" if aim else ""
        print(f"| {label} | {ratio:.2f} | <= {limit}{note} | {'yes' if ratio <= limit else 'NO'} |")
    if kernel is not None:
        # Least against least: the C++ benchmark reports its best repeat.
        overhead = statistics.median(least_far) / FAR_VALUES - kernel
        print(f"| array conversion per far-field element | {overhead:.1f} ns | <= 5 ns | "
              f"{'yes' if overhead <= 5.0 else 'NO'} |")


if __name__ == "__main__":
    main()
