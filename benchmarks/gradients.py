"""Cost of the exact derivatives and of many bands, beside the value alone.

Cases (re = 1, rstar = rho = 0.1, 1000 separations a call, l uniform on
[0, 3], or on [2.5, 100] for the far field):
  * limb_darkened_magnification_gradient against limb_darkened_magnification,
    for each law, and the tabulated pair with 10 rows;
  * limb_darkened_magnification_bands with 1, 4 and 32 bands against one
    call of limb_darkened_magnification, for the linear and quadratic laws.

Every call of a case is timed once per round, cases alternating, rounds
repeated; the median per case is taken, and each ratio is formed from the
medians of one run. Prints a markdown table.

    python benchmarks/gradients.py [--rounds N]

Run it alone on the machine.
"""

from __future__ import annotations

import argparse
import platform
import random
import statistics
import time
from collections.abc import Callable, Sequence

import lumevaro

VALUES = 1000
RHO = 0.1

LAWS: list[tuple[str, list[float]]] = [
    ("linear", [0.6]),
    ("quadratic", [0.4, 0.25]),
    ("square-root", [0.3, 0.4]),
    ("logarithmic", [0.6, 0.2]),
    ("power-2", [0.6, 0.6]),
    ("claret", [0.5, 0.2, 0.1, -0.05]),
]


def separations(low: float, high: float) -> list[float]:
    rnd = random.Random(7)
    return [rnd.uniform(low, high) for _ in range(VALUES)]


def table(rows: int) -> tuple[list[float], list[float]]:
    bl = [i / (rows - 1) for i in range(rows)]
    return bl, [1.0 - 0.6 * (1.0 - (1.0 - r * r) ** 0.5) for r in bl]


def bands(law: str, count: int) -> list[list[float]]:
    base = dict(LAWS)[law]
    return [[c * (1.0 - 0.01 * b) for c in base] for b in range(count)]


def main(argv: Sequence[str] | None = None) -> None:
    parser = argparse.ArgumentParser(description=(__doc__ or "").splitlines()[0])
    parser.add_argument("--rounds", type=int, default=15, help="timing rounds (median taken)")
    options = parser.parse_args(argv)

    near = separations(0.0, 3.0)
    far = separations(2.5, 100.0)
    bl, bf = table(10)
    m = lumevaro
    # name -> (baseline call, candidate call)
    pairs: dict[str, tuple[Callable[[], object], Callable[[], object]]] = {}
    for law, c in LAWS:
        pairs[f"gradient, {law}"] = (
            lambda law=law, c=c: m.limb_darkened_magnification(near, 1.0, RHO, law, c),
            lambda law=law, c=c: m.limb_darkened_magnification_gradient(near, 1.0, RHO, law, c))
    pairs["gradient, linear, far (l in [2.5, 100])"] = (
        lambda: m.limb_darkened_magnification(far, 1.0, RHO, "linear", [0.6]),
        lambda: m.limb_darkened_magnification_gradient(far, 1.0, RHO, "linear", [0.6]))
    pairs["gradient, table of 10 rows"] = (
        lambda: m.tabulated_limb_darkened_magnification(near, 1.0, RHO, bl, bf),
        lambda: m.tabulated_limb_darkened_magnification_gradient(near, 1.0, RHO, bl, bf))
    for law in ("linear", "quadratic"):
        for count in (1, 4, 32):
            chosen = bands(law, count)
            pairs[f"{count} bands, {law}"] = (
                lambda law=law, c=chosen[0]: m.limb_darkened_magnification(near, 1.0, RHO, law, c),
                lambda law=law, chosen=chosen: m.limb_darkened_magnification_bands(near, 1.0, RHO, law, chosen))

    times: dict[tuple[str, int], list[float]] = {(name, i): [] for name in pairs for i in range(2)}
    for _ in range(options.rounds):
        for name, calls in pairs.items():
            for i, call in enumerate(calls):
                start = time.perf_counter()
                call()
                times[(name, i)].append(time.perf_counter() - start)

    print(f"Machine: {platform.processor() or platform.machine()}, Python {platform.python_version()}, "
          f"{options.rounds} rounds, median per value\n")
    print("| case | one value alone | with it | ratio |")
    print("|---|---|---|---|")
    for name in pairs:
        base = statistics.median(times[(name, 0)]) / VALUES * 1e9
        with_it = statistics.median(times[(name, 1)]) / VALUES * 1e9
        print(f"| {name} | {base:.0f} ns | {with_it:.0f} ns | {with_it / base:.2f}x |")


if __name__ == "__main__":
    main()
