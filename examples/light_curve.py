"""Light curve of a source-crossing event
=======================================

A point lens passes in front of a resolved source star on a straight line
(Paczynski trajectory); this script computes and plots the magnification
through the crossing for a point source, a uniform disc and a limb-darkened
disc. The lens-source separation in Einstein radii is ::

    u(t) = sqrt(u0**2 + ((t - t0) / tE)**2)

and lumevaro measures separations in source radii, ``l = u / rho``, with
``rho`` the source radius in Einstein radii (``re = 1``, ``rstar = rho``
below). With ``u0 = 0.001 < rho = 0.01`` the lens crosses the source, where a
point source would be magnified a thousandfold.

The curves::

    point source    A = (u**2 + 2) / (u * sqrt(u**2 + 4))
    uniform disc    lumevaro.witt_mao_magnification
    limb-darkened   lumevaro.limb_darkened_magnification with the linear law
                    S(r) = 1 - 0.6 * (1 - sqrt(1 - r**2)): the flux-weighted
                    mean of the point-source magnification over the disc

The limb-darkened values at the table's times are checked against the same
mean assembled in Python from thin rings: the ring magnification
:func:`lumevaro.heyrovsky_magnification` averaged over the disc, ::

    A = int_0^1 2 pi r S(r) A_ring(l, r) dr / (0.8 pi)

by a tanh-sinh rule whose rings and weights go to
:func:`lumevaro.discrete_flux_map_heyrovsky_magnification`.

The module's profile-weighted functions ``integrated_*`` are not
limb-darkened magnifications, and the script shows it:
:func:`lumevaro.integrated_witt_mao_magnification` weights the whole-disc
value at every radius and so reproduces the uniform disc (plotted as markers
on it), and :func:`lumevaro.integrated_heyrovsky_magnification` is erratic for
separations inside the source (its range there is printed, not plotted).

Usage::

    python light_curve.py [--output light_curve.png] [--u0 U0] [--te TE] [--rho RHO]

A PNG is written only when matplotlib is installed.
"""

from __future__ import annotations

import argparse
import math
import os
from collections.abc import Callable, Sequence
from typing import Dict, List

import lumevaro

LIMB_DARKENING = 0.6
PROFILE_FLUX = math.pi * (1.0 - LIMB_DARKENING / 3.0)  # int_0^1 2 pi r S(r) dr
TABLE_TIMES = [0.0, 0.05, 0.1, 0.15, 0.19, 0.2, 0.21, 0.25, 0.3, 0.5, 1.0, 2.0, 5.0, 10.0, 20.0]

# The tanh-sinh rule: x = tanh((pi/2) sinh(t)) on t = k * STEP, |t| <= HALF_WIDTH.
STEP = 1.0 / 32.0
HALF_WIDTH = 3.2

# The three magnification curves and the separations, by name.
Curve = Dict[str, List[float]]


def point_source_magnification(u: float) -> float:
    return (u * u + 2.0) / (u * math.sqrt(u * u + 4.0))


def limb_darkening_profile(r: float) -> float:
    return 1.0 - LIMB_DARKENING * (1.0 - math.sqrt(max(0.0, 1.0 - r * r)))


def _unit_tanh_sinh_rule() -> list[tuple[int, float, float]]:
    """The rule on [-1, 1] as (side, distance from the nearer end, weight).

    Nodes are placed by their distance from the nearer end, 1 - tanh|s|,
    which keeps the ones crowding towards an end apart from it in floating
    point (tanh itself would round them onto the end).
    """
    rule = []
    steps = int(HALF_WIDTH / STEP)
    for k in range(-steps, steps + 1):
        s = 0.5 * math.pi * math.sinh(k * STEP)
        weight = STEP * 0.5 * math.pi * math.cosh(k * STEP) / math.cosh(s) ** 2
        from_end = 2.0 / (1.0 + math.exp(2.0 * abs(s)))
        rule.append(((k > 0) - (k < 0), from_end, weight))
    return rule


UNIT_RULE = _unit_tanh_sinh_rule()


def tanh_sinh_rule(a: float, b: float) -> tuple[list[float], list[float]]:
    """Nodes and weights of the tanh-sinh rule on [a, b].

    The nodes crowd towards both ends, which copes with the logarithmic
    singularity of the ring magnification at r = l and the square root of the
    limb-darkening law at r = 1. A node that rounds onto an end point (where
    the ring magnification is infinite) carries a negligible weight and is
    left out.
    """
    centre, half = 0.5 * (a + b), 0.5 * (b - a)
    nodes, weights = [], []
    for side, from_end, weight in UNIT_RULE:
        x = b - half * from_end if side > 0 else (a + half * from_end if side < 0 else centre)
        if a < x < b:
            nodes.append(x)
            weights.append(half * weight)
    return nodes, weights


def tanh_sinh(f: Callable[[float], float], a: float, b: float) -> float:
    """Integral of f over [a, b] by the tanh-sinh rule."""
    nodes, weights = tanh_sinh_rule(a, b)
    return sum(w * f(x) for x, w in zip(nodes, weights))


def limb_darkened_rings(l: float) -> tuple[list[float], list[float]]:
    """Ring radii and weights 2 pi r S(r) w / N of the limb-darkened disc.

    The rule runs over [0, 1] in two pieces split at the lens's separation l
    when the lens is inside the source, so that the logarithmic singularity of
    the ring magnification at r = l sits at an end of a piece.
    """
    pieces = [(0.0, l), (l, 1.0)] if 0.0 < l < 1.0 else [(0.0, 1.0)]
    radii: list[float] = []
    weights: list[float] = []
    for a, b in pieces:
        nodes, node_weights = tanh_sinh_rule(a, b)
        radii += nodes
        weights += [2.0 * math.pi * r * limb_darkening_profile(r) * w / PROFILE_FLUX
                     for r, w in zip(nodes, node_weights)]
    return radii, weights


def ring_sum_magnification(l: float, rho: float) -> float:
    """The limb-darkened magnification at separation l (source radii) as a sum
    of thin rings, independently of the native function."""
    radii, weights = limb_darkened_rings(l)
    return lumevaro.discrete_flux_map_heyrovsky_magnification([l], 1.0, rho, radii, weights)[0]


def limb_darkened_magnification(l: Sequence[float], rho: float) -> list[float]:
    """Magnification of the limb-darkened source at each separation (source radii)."""
    values: list[float] = lumevaro.limb_darkened_magnification(l, 1.0, rho, "linear", [LIMB_DARKENING]).tolist()
    return values


def light_curve(times: Sequence[float], u0: float, te: float, rho: float) -> Curve:
    """Separations and the three magnification curves at times t - t0."""
    u = [math.hypot(u0, t / te) for t in times]
    l = [x / rho for x in u]
    return {
        "u": u,
        "l": l,
        "point": [point_source_magnification(x) for x in u],
        "disc": lumevaro.witt_mao_magnification(l, 1.0, rho),
        "limb": limb_darkened_magnification(l, rho),
    }


def print_table(times: Sequence[float], curve: Curve) -> None:
    print(f"{'t - t0 [d]':>10} {'u':>9} {'l = u/rho':>9} {'point':>10} "
          f"{'uniform':>10} {'limb-dark':>10}")
    for i, t in enumerate(times):
        print(f"{t:10.3f} {curve['u'][i]:9.5f} {curve['l'][i]:9.3f} {curve['point'][i]:10.3f} "
              f"{curve['disc'][i]:10.3f} {curve['limb'][i]:10.3f}")


def check_against_ring_sum(curve: Curve, rho: float) -> None:
    """Reports how far the native limb-darkened values are from the ring sum."""
    worst = max(abs(a / ring_sum_magnification(x, rho) - 1.0)
                for x, a in zip(curve["l"], curve["limb"]))
    print(f"\nlimb_darkened_magnification against the sum of rings assembled in Python: "
          f"largest relative difference {worst:.1e}")


def check_profile_weighted_functions(curve: Curve, rho: float) -> None:
    """Reports how the module's profile-weighted functions compare."""
    l = curve["l"]
    integrated = lumevaro.integrated_witt_mao_magnification(l, 1.0, rho)
    worst = max(abs(a / b - 1.0) for a, b in zip(integrated, curve["disc"]))
    print(f"\nintegrated_witt_mao_magnification (not a limb-darkened magnification): largest "
          f"relative difference from the uniform disc {worst:.1e}: it weights the whole-disc "
          f"value at every radius.")
    inside = [i for i, x in enumerate(l) if x < 1.0]
    if inside:
        ring_weighted = lumevaro.integrated_heyrovsky_magnification(
            [l[i] for i in inside], 1.0, rho)
        disc = [curve["disc"][i] for i in inside]
        print(f"integrated_heyrovsky_magnification inside the source (l < 1): from "
              f"{min(ring_weighted):.1f} to {max(ring_weighted):.1f} over {len(inside)} "
              f"separations, where the uniform disc gives {min(disc):.1f} to {max(disc):.1f}; "
              f"too erratic to plot.")


def light_curve_times(te: float, rho: float) -> tuple[list[float], float]:
    """Times t - t0 of the plotted curve and the half-width of its peak window.

    Two Einstein times either side, and finely the time the lens takes to
    move two source radii either side of the peak.
    """
    span, peak_window = 2.0 * te, 2.0 * te * rho
    times = sorted({round(-span + 2.0 * span * i / 400, 9) for i in range(401)} |
                   {round(-peak_window + 2.0 * peak_window * i / 400, 9) for i in range(401)})
    return times, peak_window


def plot(path: str, times: Sequence[float], curve: Curve, u0: float, te: float, rho: float,
         peak_window: float) -> bool:
    """Writes the two-panel plot to path; False when matplotlib is missing."""
    try:
        import matplotlib
    except ImportError:
        print("\nmatplotlib is not installed: no plot written.")
        return False
    matplotlib.use("Agg")
    import matplotlib.pyplot as plt

    # Half the time the lens spends inside the source (0 if it misses it).
    crossing = te * math.sqrt(max(rho * rho - u0 * u0, 0.0))
    figure, (whole, peak) = plt.subplots(1, 2, figsize=(12, 5))
    for axes, window in ((whole, max(times)), (peak, peak_window)):
        shown = [i for i, t in enumerate(times) if abs(t) <= window]
        t = [times[i] for i in shown]
        axes.plot(t, [curve["point"][i] for i in shown], "k--", lw=1, label="point source")
        axes.plot(t, [curve["disc"][i] for i in shown], "C0-", lw=2,
                  label="uniform disc (witt_mao_magnification)")
        axes.plot(t, [curve["limb"][i] for i in shown], "C3-", lw=1.5,
                  label="limb-darkened, linear law 0.6 (limb_darkened_magnification)")
        axes.set_xlabel("t - t0 [days]")
        axes.set_ylabel("magnification")
        axes.grid(alpha=0.3)
    # The module's limb-darkened Witt-Mao weighting, at every tenth time
    # around the peak: it lies on the uniform disc.
    marked = [i for i, t in enumerate(times) if abs(t) <= peak_window][::10]
    integrated = lumevaro.integrated_witt_mao_magnification(
        [curve["l"][i] for i in marked], 1.0, rho)
    peak.plot([times[i] for i in marked], integrated, "o", ms=4, mfc="none", mec="C2",
              label="integrated_witt_mao_magnification")
    whole.set_yscale("log")
    whole.set_title(f"u0 = {u0}, tE = {te} d, rho = {rho}")
    peak.set_title("source crossing" if crossing > 0.0 else "peak")
    if crossing > 0.0:
        for edge in (-crossing, crossing):
            peak.axvline(edge, color="grey", lw=0.8, ls=":",
                         label="lens on the source limb" if edge > 0 else None)
    peak.set_ylim(0.0, 1.1 * max(curve["limb"] + curve["disc"]))
    peak.legend(loc="lower center", fontsize=8)
    figure.tight_layout()
    figure.savefig(path, dpi=110)
    # The figure stays open for whoever shows it: the documentation's gallery,
    # which runs this script, takes its figures from pyplot.
    print(f"\nplot written to {path}")
    return True


def number_in(low: float, high: float, low_included: bool) -> Callable[[str], float]:
    """argparse's type check of an option: a number from low to high.

    A zero impact parameter puts the lens on the point source's singularity, a
    zero source radius divides every separation by zero and a zero Einstein
    time stops the lens. Far beyond the ranges below the separations overflow
    or underflow and the plot has nothing to show.
    """
    def parse(text: str) -> float:
        try:
            value = float(text)
        except ValueError:
            raise argparse.ArgumentTypeError(f"not a number: {text!r}") from None
        above_low = value >= low if low_included else value > low
        if not (above_low and value <= high):
            interval = f"{'[' if low_included else '('}{low:g}, {high:g}]"
            raise argparse.ArgumentTypeError(f"must lie in {interval}, not {text}")
        return value
    return parse


def main(argv: Sequence[str] | None = None) -> None:
    parser = argparse.ArgumentParser(description=(__doc__ or "").partition("\n")[0])
    parser.add_argument("--output", default="light_curve.png",
                        help="PNG file of the plot (default: %(default)s)")
    parser.add_argument("--u0", type=number_in(0.0, 100.0, False), default=0.001,
                        help="impact parameter, in (0, 100] [Einstein radii] "
                             "(default: %(default)s)")
    parser.add_argument("--te", type=number_in(0.0, 1e6, False), default=20.0,
                        help="Einstein time, in (0, 1e6] [days] (default: %(default)s)")
    parser.add_argument("--rho", type=number_in(1e-6, 100.0, True), default=0.01,
                        help="source radius, in [1e-6, 100] [Einstein radii] "
                             "(default: %(default)s)")
    options = parser.parse_args(argv)
    folder = os.path.dirname(os.path.abspath(options.output))
    if not os.path.isdir(folder):
        parser.error(f"argument --output: no folder {folder} to write {options.output} in")

    table = light_curve(TABLE_TIMES, options.u0, options.te, options.rho)
    print_table(TABLE_TIMES, table)
    check_against_ring_sum(table, options.rho)

    times, peak_window = light_curve_times(options.te, options.rho)
    curve = light_curve(times, options.u0, options.te, options.rho)
    check_profile_weighted_functions(curve, options.rho)
    plot(options.output, times, curve, options.u0, options.te, options.rho, peak_window)


if __name__ == "__main__":
    main()
