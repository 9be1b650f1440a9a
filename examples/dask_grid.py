"""Light curves on a Dask cluster
==============================

A grid of light curves computed in parallel on a Dask distributed cluster.
Each event of the grid (impact parameter u0 by source radius rho, Einstein
time 20 days) is one light curve of the uniform-disc magnification over four
Einstein times, and each light curve is one task: the module function
:func:`lumevaro.witt_mao_magnification` itself, called on a worker with the
separations ``l = u / rho``, ``re = 1`` and ``rstar = rho``.

The module's functions pickle by reference (module and name, some fifty
bytes), not by value: a worker imports lumevaro and looks the function up, so
every worker needs lumevaro installed, and runs the same compiled code. The
results therefore equal the serial ones bit for bit, which the script checks.
The separations go to the workers, and the light curves come back, as
``array('d')``: Dask serialises a Python list element by element, which for
lists of floats costs far more than the computation.

Why worker processes with one thread each: a lumevaro call on a long list
gives the interpreter lock (GIL) away while it computes, so threads of one
process do compute in parallel, but the conversion of the arguments and of
the result still takes turns; processes share nothing, and scale to many
machines.

By default the script starts a ``LocalCluster`` of worker processes bound to
127.0.0.1 (no dashboard). Given ``--scheduler``, it connects to a running
cluster instead, for instance one started on many machines with
``dask scheduler`` and ``dask worker tcp://host:8786 --nthreads 1``::

    python dask_grid.py                                # local: 2 processes
    python dask_grid.py --scheduler tcp://host:8786    # an existing cluster

It prints the peak magnification over the grid (the finite source caps the
peak near 2 / rho once u0 < rho), how the tasks spread over the workers and
the wall times, and exits with status 1 if any result differs from the serial
computation. It needs Dask (``pip install distributed``), which the
documentation's build does not, so the page shows the script without its
output.
"""

from __future__ import annotations

import argparse
import logging
import math
import pickle
import sys
import time
from array import array
from collections import Counter
from collections.abc import Iterator, Sequence
from contextlib import contextmanager
from functools import partial

from distributed import Client, LocalCluster

import lumevaro

EINSTEIN_TIME = 20.0  # days
IMPACT_PARAMETERS = [1e-4 * 10.0 ** (i / 2.0) for i in range(7)]  # 1e-4 to 0.1
SOURCE_RADII = [1e-3 * 10.0 ** (i / 2.0) for i in range(5)]  # 1e-3 to 0.1
POINTS = 4001  # per light curve, one of them at t0


def times(points: int = POINTS) -> list[float]:
    """t - t0 over two Einstein times either side of the peak, t0 included."""
    half = points // 2
    return [2.0 * EINSTEIN_TIME * (i - half) / half for i in range(points)]


def grid() -> list[tuple[float, float]]:
    """The (u0, rho) of every event, rho varying fastest."""
    return [(u0, rho) for u0 in IMPACT_PARAMETERS for rho in SOURCE_RADII]


def separations(u0: float, rho: float, t: Sequence[float]) -> list[float]:
    """Lens-source separations in source radii along the straight path."""
    return [math.hypot(u0, ti / EINSTEIN_TIME) / rho for ti in t]


def check_pickling() -> int:
    """Every module function pickles to a reference that loads as itself.

    Returns the size of the pickle of witt_mao_magnification in bytes.
    """
    for name in lumevaro.__all__:
        function = getattr(lumevaro, name)
        if pickle.loads(pickle.dumps(function)) is not function:
            raise SystemExit(f"lumevaro.{name} does not pickle by reference")
    return len(pickle.dumps(lumevaro.witt_mao_magnification))


def compute_serial(events: Sequence[tuple[float, float]], t: Sequence[float]) -> list[list[float]]:
    return [lumevaro.witt_mao_magnification(separations(u0, rho, t), 1.0, rho)
            for u0, rho in events]


def compute_on_cluster(client: Client, events: Sequence[tuple[float, float]],
                       t: Sequence[float]) -> tuple[list[array[float]], Counter[str]]:
    """The light curves, one task each, and the number of tasks per worker.

    The separations travel as array('d'), and each light curve comes back
    packed into one by a second task on the worker that computed it: Dask
    serialises a list element by element, some 16 microseconds per float,
    where an array goes as one block of bytes.
    """
    curves = client.map(lumevaro.witt_mao_magnification,
                        [array("d", separations(u0, rho, t)) for u0, rho in events],
                        [1.0] * len(events),
                        [rho for _, rho in events])
    packed = client.map(partial(array, "d"), curves)
    results: list[array[float]] = client.gather(packed)  # type: ignore[no-untyped-call, unused-ignore]
    placement = client.who_has(curves)  # type: ignore[no-untyped-call, unused-ignore]
    per_worker = Counter(holders[0] for holders in placement.values() if holders)
    return results, per_worker


def same_bits(a: Sequence[float], b: Sequence[float]) -> bool:
    """The two sequences hold the same doubles bit for bit."""
    return array("d", a).tobytes() == array("d", b).tobytes()


def print_peaks(events: Sequence[tuple[float, float]], curves: Sequence[Sequence[float]]) -> None:
    """Peak magnification (at t = t0) of every event, u0 down, rho across."""
    peak = {event: max(curve) for event, curve in zip(events, curves)}
    print("peak magnification, uniform disc (rows u0, columns rho):")
    print(f"{'u0':>8}" + "".join(f"{rho:>10.2g}" for rho in SOURCE_RADII))
    for u0 in IMPACT_PARAMETERS:
        print(f"{u0:>8.2g}" + "".join(f"{peak[(u0, rho)]:>10.1f}" for rho in SOURCE_RADII))
    print(f"{'2/rho':>8}" + "".join(f"{2.0 / rho:>10.1f}" for rho in SOURCE_RADII))


@contextmanager
def connect(scheduler: str | None, workers: int) -> Iterator[Client]:
    """A client of the given scheduler, or of a new local cluster of worker
    processes with one thread each, listening on 127.0.0.1 only."""
    if scheduler:
        with Client(scheduler) as client:  # type: ignore[no-untyped-call, unused-ignore]
            yield client
        return
    with LocalCluster(n_workers=workers, threads_per_worker=1,  # type: ignore[no-untyped-call, unused-ignore]
                      processes=True, host="127.0.0.1", dashboard_address=None,
                      silence_logs=logging.ERROR) as cluster, \
            Client(cluster) as client:  # type: ignore[no-untyped-call, unused-ignore]
        yield client


MAX_WORKERS = 256


def worker_count(text: str) -> int:
    """argparse's type check of --workers: at least one process."""
    try:
        value = int(text)
    except ValueError:
        raise argparse.ArgumentTypeError(f"not a whole number: {text!r}") from None
    if not 1 <= value <= MAX_WORKERS:
        raise argparse.ArgumentTypeError(f"must lie from 1 to {MAX_WORKERS}, not {text}")
    return value


def scheduler_address(text: str) -> str:
    """argparse's type check of --scheduler: host:port, with or without a
    protocol (tcp://host:8786); whether it answers is known only on connecting."""
    location = text.split("://", 1)[-1]
    host, _, port = location.rpartition(":")
    if not (host and port.isdigit() and 0 < int(port) < 65536):
        raise argparse.ArgumentTypeError(f"not an address host:port, e.g. tcp://host:8786: "
                                         f"{text!r}")
    return text


def main(argv: Sequence[str] | None = None) -> int:
    parser = argparse.ArgumentParser(description=(__doc__ or "").partition("\n")[0])
    parser.add_argument("--scheduler", type=scheduler_address,
                        help="address of a running scheduler, e.g. tcp://host:8786 "
                             "(default: none, start a local cluster)")
    parser.add_argument("--workers", type=worker_count, default=2,
                        help="worker processes of the local cluster (default: %(default)s)")
    options = parser.parse_args(argv)

    size = check_pickling()
    print(f"lumevaro.witt_mao_magnification pickles by reference in {size} bytes; "
          f"all {len(lumevaro.__all__)} functions load back as themselves")

    events, t = grid(), times()
    start = time.perf_counter()
    serial = compute_serial(events, t)
    serial_seconds = time.perf_counter() - start

    with connect(options.scheduler, options.workers) as client:
        start = time.perf_counter()
        parallel, per_worker = compute_on_cluster(client, events, t)
        cluster_seconds = time.perf_counter() - start

    print(f"{len(events)} light curves of {len(t)} points: serial {serial_seconds:.2f} s, "
          f"on the cluster {cluster_seconds:.2f} s (tasks per worker: "
          f"{', '.join(str(n) for n in sorted(per_worker.values(), reverse=True))})")
    print_peaks(events, serial)
    differing = [event for event, a, b in zip(events, serial, parallel) if not same_bits(a, b)]
    if differing:
        print(f"{len(differing)} light curves differ from the serial ones, first at "
              f"(u0, rho) = {differing[0]}")
        return 1
    print("the cluster's light curves equal the serial ones bit for bit")
    return 0


if __name__ == "__main__":
    sys.exit(main())
