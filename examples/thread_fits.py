"""Fitting many events at once, one fit per thread
===============================================

Each event is a synthetic light curve of the kind of the single-event fit
(a limb-darkened source crossed by a point lens, each event with its own t0,
u0 and rho and its own noise), fitted for t0, u0, tE, rho, the linear
limb-darkening coefficient and the source and blend fluxes by
``scipy.optimize.least_squares`` with the exact Jacobian of
:func:`lumevaro.light_curve_jacobian`. The fits run one after the other, then
in a ``concurrent.futures.ThreadPoolExecutor``: the results are the same to
the bit, and the script prints both times.

lumevaro's calls share nothing between threads and never wait for one
another. On free-threaded CPython (3.13t, 3.14t) with the GIL off, the
threads run every line of the fit in parallel, SciPy's and numpy's included;
with the GIL, they run lumevaro's computation in parallel (it gives the GIL
away while it computes) and take turns for the rest.

Usage::

    python thread_fits.py [--events N] [--threads N]
"""

from __future__ import annotations

import argparse
import os
import sys
import time
from collections.abc import Sequence
from concurrent.futures import ThreadPoolExecutor

import numpy as np
from numpy.typing import NDArray
from scipy.optimize import least_squares  # type: ignore[import-untyped, unused-ignore]

import lumevaro
from fit_event import TRUTH, Event, Photometry, first_guess, simulate

Array = NDArray[np.float64]


def event(k: int) -> Event:
    """The k-th synthetic event: t0, u0 and rho vary from event to event."""
    return TRUTH._replace(t0=TRUTH.t0 + 3.0 * k, u0=TRUTH.u0 * (1.0 + 0.1 * (k % 5)),
                          rho=TRUTH.rho * (1.0 + 0.05 * (k % 7)))


def fit(data: Photometry) -> Array:
    """Best t0, u0, tE, rho, a, Fs, Fb of one event (least squares, exact Jacobian)."""
    def residuals(p: Array) -> Array:
        a = lumevaro.light_curve(data.times, p[0], p[1], p[2], p[3], "linear", p[4:5])
        result: Array = (p[5] * a + p[6] - data.flux) / data.sigma
        return result

    def jacobian(p: Array) -> Array:
        a, columns = lumevaro.light_curve_jacobian(data.times, p[0], p[1], p[2], p[3], "linear", p[4:5])
        full: Array = np.column_stack([p[5] * columns, a, np.ones_like(a)]) / data.sigma[:, None]
        return full

    start = [*first_guess(data), 1.0, 0.0]
    solution = least_squares(residuals, start, jac=jacobian,
                             bounds=([-np.inf, 0.0, 0.1, 1e-4, -0.5, 0.0, -np.inf],
                                     [np.inf, 1.0, 1e3, 1.0, 1.5, np.inf, np.inf]),
                             x_scale=[0.01, 1e-3, 1.0, 1e-3, 0.1, 0.01, 0.01])
    best: Array = solution.x
    return best


def gil_state() -> str:
    check = getattr(sys, "_is_gil_enabled", None)
    return "with the GIL" if check is None or check() else "free-threaded, GIL off"


def main(argv: Sequence[str] | None = None) -> None:
    parser = argparse.ArgumentParser(description=(__doc__ or "").partition("\n")[0])
    parser.add_argument("--events", type=int, default=8, help="events to fit (default: %(default)s)")
    parser.add_argument("--threads", type=int, default=os.cpu_count() or 2,
                        help="threads of the pool (default: the processors, %(default)s)")
    options = parser.parse_args(argv)
    if options.events < 1 or options.threads < 1:
        parser.error("--events and --threads must be at least 1")

    events = [event(k) for k in range(options.events)]
    datasets = [simulate(e, seed=k + 1) for k, e in enumerate(events)]

    start = time.perf_counter()
    serial = [fit(data) for data in datasets]
    serial_time = time.perf_counter() - start
    start = time.perf_counter()
    with ThreadPoolExecutor(max_workers=options.threads) as pool:
        threaded = list(pool.map(fit, datasets))
    threaded_time = time.perf_counter() - start

    print(f"{options.events} events, {options.threads} threads, Python {sys.version.split()[0]} "
          f"({gil_state()})\n")
    print("event      true rho    fitted rho    true a   fitted a")
    for k, (truth, best) in enumerate(zip(events, threaded)):
        print(f"{k:5d}  {truth.rho:10.5f}  {best[3]:12.5f}  {truth.limb_darkening:8.3f}  {best[4]:9.3f}")
    same = all(np.array_equal(a, b) for a, b in zip(serial, threaded))
    print(f"\none after the other: {serial_time:.2f} s; in threads: {threaded_time:.2f} s "
          f"({serial_time / threaded_time:.2f}x); the same results bit for bit: {same}")


if __name__ == "__main__":
    main()
