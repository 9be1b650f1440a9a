"""Every law's value and gradient, on this build and a previous one, side by
side: so that a law that slows down (or a gradient that grows against its
value) shows in the next run.

Workload: 1000 separations l uniform on [0, 3] (seeded) as a numpy array,
rho = 0.1, each law with the benchmark's coefficients (limb_darkening.py),
the tabulated form with 10 and 100 rows, at the default rtol; and the
linear law at rtol 1e-6 and 1e-3. The times are per value, through Python.

The two builds run in worker processes of their own that take turns on every
round, each case of a round timed in both before the next case, so that both
see the same load. Each time is the median over the rounds of the least of
five calls; each ratio (this build against the previous, a gradient against
its value, a law against the linear law) is the median over the rounds of
the ratio within a round, which a drift of the machine's speed between
rounds leaves alone.

    python benchmarks/laws.py [--previous DIR | --commit REF] [--rounds N]

--previous names a folder holding the previous build's module (the package
folder lumevaro/ inside it); --commit builds one from a commit of this
repository under build/previous-<commit> with CMake (default: BASELINE, the
main before the near-source work). Prints a markdown table and the gradient
target (every law's gradient at most 1.4 times its value). Run it alone on
the machine.
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
BASELINE = "7c224a7"
GRADIENT_LIMIT = 1.4

LAWS = [
    ("uniform", []),
    ("linear", [0.6]),
    ("quadratic", [0.4, 0.25]),
    ("square-root", [0.3, 0.4]),
    ("logarithmic", [0.6, 0.2]),
    ("power-2", [0.6, 0.6]),
    ("claret", [0.5, 0.2, 0.1, -0.05]),
]
TABLE_ROWS = (10, 100)
DIAL = (1e-6, 1e-3)

# Runs in each worker: reads "kind name rtol" per line (kind value or
# gradient; name a law or table10, table100), answers the least time of
# five calls in ns per value.
WORKER = textwrap.dedent(r"""
    import sys, time
    if sys.argv[1]:
        sys.path.insert(0, sys.argv[1])
    import numpy as np
    import lumevaro

    laws = dict(eval(sys.argv[2]))
    l = np.random.default_rng(1).uniform(0.0, 3.0, 1000)

    def table(rows):
        bl = np.linspace(0.0, 1.0, rows)
        bl[-1] = 1.0
        return bl, 1.0 - 0.6 * (1.0 - np.sqrt(np.maximum(0.0, 1.0 - bl * bl)))

    tables = {f"table{rows}": table(rows) for rows in (10, 100)}

    def call(kind, name, rtol):
        gradient = kind == "gradient"
        if name in tables:
            f = (lumevaro.tabulated_limb_darkened_magnification_gradient if gradient
                 else lumevaro.tabulated_limb_darkened_magnification)
            return lambda: f(l, 1.0, 0.1, *tables[name], rtol=rtol)
        f = lumevaro.limb_darkened_magnification_gradient if gradient else lumevaro.limb_darkened_magnification
        return lambda: f(l, 1.0, 0.1, name, laws[name], rtol=rtol)

    print("ready", flush=True)
    for line in sys.stdin:
        kind, name, rtol = line.split()
        f = call(kind, name, float(rtol))
        f()
        best = float("inf")
        for _ in range(5):
            start = time.perf_counter_ns()
            f()
            best = min(best, time.perf_counter_ns() - start)
        print(best / l.size, flush=True)
""")


class Worker:
    def __init__(self, module_folder: str) -> None:
        self.process = subprocess.Popen([sys.executable, "-c", WORKER, module_folder, repr(LAWS)],
                                        stdin=subprocess.PIPE, stdout=subprocess.PIPE, text=True)
        assert self.process.stdout is not None and self.process.stdout.readline().strip() == "ready"

    def time(self, case: str) -> float:
        assert self.process.stdin is not None and self.process.stdout is not None
        self.process.stdin.write(case + "\n")
        self.process.stdin.flush()
        return float(self.process.stdout.readline())

    def close(self) -> None:
        if self.process.stdin is not None:
            self.process.stdin.close()
        self.process.wait()


def git(*arguments: str) -> str:
    return subprocess.run(["git", *arguments], cwd=ROOT, check=True, capture_output=True,
                          text=True).stdout.strip()


def previous_build(reference: str) -> str:
    """The module of a commit, built once under build/previous-<commit>."""
    commit = git("rev-parse", "--short", reference)
    folder = ROOT / "build" / f"previous-{commit}"
    if not list((folder / "build").glob("lumevaro/_lumevaro*")):
        (folder / "src").mkdir(parents=True, exist_ok=True)
        archive = subprocess.run(["git", "archive", commit], cwd=ROOT, check=True, capture_output=True)
        subprocess.run(["tar", "-x", "-C", str(folder / "src")], input=archive.stdout, check=True)
        subprocess.run(["cmake", "-S", str(folder / "src"), "-B", str(folder / "build"), "-G", "Ninja",
                        "-DLUMEVARO_MODULE=ON", "-DCMAKE_BUILD_TYPE=Release",
                        f"-DPython_EXECUTABLE={sys.executable}"], check=True, capture_output=True)
        subprocess.run(["cmake", "--build", str(folder / "build")], check=True, capture_output=True)
    return str(folder / "build")


def cases() -> list[str]:
    names = [law for law, _ in LAWS] + [f"table{rows}" for rows in TABLE_ROWS]
    out = [f"{kind} {name} 1e-10" for name in names for kind in ("value", "gradient")]
    return out + [f"{kind} linear {rtol:g}" for rtol in DIAL for kind in ("value", "gradient")]


def processor() -> str:
    try:
        with open("/proc/cpuinfo") as cpuinfo:
            return next(line.split(":", 1)[1].strip() for line in cpuinfo if line.startswith("model name"))
    except (OSError, StopIteration):
        return platform.processor() or platform.machine()


def main(argv: list[str] | None = None) -> None:
    parser = argparse.ArgumentParser(description=(__doc__ or "").partition("\n")[0])
    parser.add_argument("--previous", help="folder of the previous build's module")
    parser.add_argument("--commit", default=BASELINE, help="commit to build as the previous build")
    parser.add_argument("--rounds", type=int, default=9, help="rounds, each case once a round in each build")
    options = parser.parse_args(argv)

    builds = {"previous": Worker(options.previous or previous_build(options.commit)), "this": Worker("")}
    times: dict[tuple[str, str], list[float]] = {}
    try:
        for _ in range(options.rounds):
            for case in cases():
                for name, worker in builds.items():
                    times.setdefault((name, case), []).append(worker.time(case))
    finally:
        for worker in builds.values():
            worker.close()

    def median(build: str, case: str) -> float:
        return statistics.median(times[(build, case)])

    def ratio(a: tuple[str, str], b: tuple[str, str]) -> float:
        return statistics.median(x / y for x, y in zip(times[a], times[b]))

    print(f"ns per value, 1000 separations on [0, 3], rho = 0.1; median of {options.rounds} rounds; "
          f"Python {platform.python_version()}, {processor()}, {os.cpu_count()} cores\n")
    print("| law | rtol | value, previous | value | this / previous | gradient, previous | gradient "
          "| this / previous | gradient / value | value / linear's |")
    print("|---|---|---|---|---|---|---|---|---|---|")
    worst = 0.0
    rows = [(law, 1e-10) for law, _ in LAWS] + [(f"table{rows}", 1e-10) for rows in TABLE_ROWS]
    rows += [("linear", rtol) for rtol in DIAL]
    for name, rtol in rows:
        value, gradient = f"value {name} {rtol:g}", f"gradient {name} {rtol:g}"
        over_value = ratio(("this", gradient), ("this", value))
        if rtol == 1e-10 and name != "uniform":
            worst = max(worst, over_value)
        label = f"table, {name[5:]} rows" if name.startswith("table") else name
        print(f"| {label} | {rtol:g} | {median('previous', value):.0f} | {median('this', value):.0f} "
              f"| {ratio(('this', value), ('previous', value)):.2f} | {median('previous', gradient):.0f} "
              f"| {median('this', gradient):.0f} | {ratio(('this', gradient), ('previous', gradient)):.2f} "
              f"| {over_value:.2f} | {ratio(('this', value), ('this', 'value linear 1e-10')):.2f} |")
    verdict = "met" if worst <= GRADIENT_LIMIT else "MISSED"
    print(f"\nThe largest gradient / value of a law or table at the default rtol: {worst:.2f} "
          f"(at most {GRADIENT_LIMIT}: {verdict})")


if __name__ == "__main__":
    main()
