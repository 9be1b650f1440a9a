"""The figures of the documentation
================================

Writes the three figures of the README and the guide into one folder
(``docs`` by default, which is why the documentation shows them rather than
running the script):

``magnification.png``
    Magnification against the lens-source separation l (source radii) for
    source radii rho = 0.01, 0.1 and 1 Einstein radii: a point source, the
    uniform disc (:func:`lumevaro.witt_mao_magnification`), a thin ring at
    the limb (:func:`lumevaro.heyrovsky_magnification` with r = 1) and a
    limb-darkened disc (ring magnifications summed with tanh-sinh weights
    2 pi r S(r) dr / N, one
    :func:`lumevaro.discrete_flux_map_heyrovsky_magnification` call per
    separation; linear law with coefficient 0.6). The lower row divides each
    by the point source.

    .. image:: /magnification.png
       :alt: Magnification against separation for three source sizes

``light_curve.png``
    The source-crossing light curve of the light-curve example
    (u0 = 0.001, tE = 20 days, rho = 0.01).

``limb_darkening.png``
    Source-crossing light curves for every limb-darkening law, beside the
    laws' profiles and their departure from the uniform disc.

    .. image:: /limb_darkening.png
       :alt: Source-crossing light curves for several limb-darkening laws

Usage::

    python make_figures.py [FOLDER]   (default: docs)
"""

# The gallery of the documentation shows this figure for the script, which it
# does not run.
# sphinx_gallery_thumbnail_path = "magnification.png"

from __future__ import annotations

import argparse
import math
import pathlib
from collections.abc import Sequence
from typing import Any, Literal

import matplotlib

matplotlib.use("Agg")
import matplotlib.pyplot as plt  # noqa: E402 - after choosing the backend
from matplotlib.ticker import FixedLocator, NullFormatter, ScalarFormatter  # noqa: E402

import lumevaro  # noqa: E402
from light_curve import (  # noqa: E402
    light_curve, light_curve_times, limb_darkened_magnification, plot, point_source_magnification)

SOURCE_RADII = (0.01, 0.1, 1.0)


def separations() -> list[float]:
    """l from 0.01 to 100 source radii, logarithmically, with extra points
    closing in on the limb l = 1 from both sides (the ring's logarithmic peak)."""
    spread = [10.0 ** (-2.0 + 4.0 * i / 400) for i in range(401)]
    near_limb = [1.0 + side * 10.0 ** (-k / 4.0) for side in (-1.0, 1.0) for k in range(4, 25)]
    return sorted(set(spread + near_limb) - {1.0})


def magnification_curves(l: Sequence[float], rho: float) -> dict[str, list[float]]:
    return {
        "point": [point_source_magnification(rho * x) for x in l],
        "disc": lumevaro.witt_mao_magnification(l, 1.0, rho),
        "ring": [lumevaro.heyrovsky_magnification(x, 1.0, 1.0, rho) for x in l],
        "limb": limb_darkened_magnification(l, rho),
    }


STYLES = {
    "point": dict(color="k", ls="--", lw=1.0, label="point source"),
    "disc": dict(color="C0", ls="-", lw=2.0, label="uniform disc (Witt\N{EN DASH}Mao)"),
    "limb": dict(color="C3", ls="-", lw=1.2, label="limb-darkened disc (linear law 0.6)"),
    "ring": dict(color="C2", ls=":", lw=1.5, label="thin ring at the limb, r = 1 (Heyrovsky)"),
}


def magnification_figure(path: pathlib.Path) -> None:
    l = separations()
    figure, axes = plt.subplots(2, len(SOURCE_RADII), figsize=(13.5, 7.5), sharex=True,
                                gridspec_kw={"height_ratios": [3, 2]})
    for column, rho in enumerate(SOURCE_RADII):
        curves = magnification_curves(l, rho)
        top, bottom = axes[0][column], axes[1][column]
        for name, style in STYLES.items():
            top.plot(l, curves[name], **style)
            bottom.plot(l, [a / p for a, p in zip(curves[name], curves["point"])],
                        **style)
        top.set_xscale("log")
        top.set_yscale("log")
        disc_peak = max(curves["disc"])
        top.set_ylim(0.9, 3.0 * disc_peak)
        if disc_peak < 10.0:  # less than a decade: plain numbers on the axis
            top.yaxis.set_major_locator(FixedLocator([1.0, 1.5, 2.0, 3.0, 5.0]))
            top.yaxis.set_major_formatter(ScalarFormatter())
            top.yaxis.set_minor_formatter(NullFormatter())
        top.set_title(f"source radius \N{GREEK SMALL LETTER RHO} = {rho:g} Einstein radii")
        bottom.set_ylim(0.0, 1.6)
        bottom.set_xlabel("separation l = u / \N{GREEK SMALL LETTER RHO}  [source radii]")
        for panel in (top, bottom):
            panel.axvline(1.0, color="grey", lw=0.8, ls="-", alpha=0.5)
            panel.grid(alpha=0.3)
        top.text(1.08, 1.3 * disc_peak, "limb", color="grey", fontsize=8)
    axes[0][0].set_ylabel("magnification A")
    axes[1][0].set_ylabel("A / A(point source)")
    axes[0][0].legend(loc="lower left", fontsize=8)
    figure.suptitle("Magnification of a finite source by a point lens, against the "
                    "separation of the lens from the source's centre")
    figure.tight_layout()
    figure.savefig(path, dpi=100)
    plt.close(figure)


def light_curve_figure(path: pathlib.Path, u0: float = 0.001, te: float = 20.0,
                       rho: float = 0.01) -> None:
    times, peak_window = light_curve_times(te, rho)
    plot(str(path), times, light_curve(times, u0, te, rho), u0, te, rho, peak_window)
    plt.close("all")  # the light-curve example leaves its figure open


Law = Literal["uniform", "linear", "quadratic", "square-root", "logarithmic", "power-2", "claret"]

# Laws with typical coefficients (in the published conventions) for the figure.
LAWS: list[tuple[Law, list[float], str]] = [
    ("uniform", [], "uniform disc"),
    ("linear", [0.6], "linear u = 0.6"),
    ("quadratic", [0.4, 0.25], "quadratic (0.4, 0.25)"),
    ("square-root", [0.3, 0.4], "square-root (0.3, 0.4)"),
    ("logarithmic", [0.6, 0.2], "logarithmic (0.6, 0.2)"),
    ("power-2", [0.6, 0.6], "power-2 (0.6, 0.6)"),
    ("claret", [0.5, 0.2, 0.1, -0.05], "Claret (0.5, 0.2, 0.1, \N{MINUS SIGN}0.05)"),
]


def brightness(law: str, c: Sequence[float], r: float) -> float:
    """The law's surface brightness at radius r (source radii), 1 at the centre."""
    mu = math.sqrt(max(0.0, 1.0 - r * r))
    if law == "uniform":
        return 1.0
    if law == "linear":
        return 1.0 - c[0] * (1.0 - mu)
    if law == "quadratic":
        return 1.0 - c[0] * (1.0 - mu) - c[1] * (1.0 - mu) ** 2
    if law == "square-root":
        return 1.0 - c[0] * (1.0 - mu) - c[1] * (1.0 - math.sqrt(mu))
    if law == "logarithmic":
        return 1.0 - c[0] * (1.0 - mu) - c[1] * (mu * math.log(mu) if mu > 0.0 else 0.0)
    if law == "power-2":
        return 1.0 - c[0] * (1.0 - math.pow(mu, c[1]))
    return 1.0 - sum(a * (1.0 - math.pow(mu, k / 2.0)) for k, a in enumerate(c, start=1))


def limb_darkening_figure(path: pathlib.Path, u0: float = 0.001, te: float = 20.0,
                          rho: float = 0.01) -> None:
    window = 1.5 * te * rho  # the lens moves 1.5 source radii either side of the peak
    times = [-window + 2.0 * window * i / 1000 for i in range(1001)]
    l = [math.hypot(u0, t / te) / rho for t in times]
    curves = {law: lumevaro.limb_darkened_magnification(l, 1.0, rho, law, c)
              for law, c, _ in LAWS}
    figure, (profiles, crossing, departure) = plt.subplots(
        1, 3, figsize=(15, 4.6), gridspec_kw={"width_ratios": [2, 3, 3]})
    radii = [i / 400 for i in range(401)]
    for index, (law, c, label) in enumerate(LAWS):
        style: dict[str, Any] = dict(color="k" if law == "uniform" else f"C{index - 1}",
                                     lw=2.0 if law == "uniform" else 1.2, label=label)
        profiles.plot(radii, [brightness(law, c, r) for r in radii], **style)
        crossing.plot(times, curves[law], **style)
        departure.plot(times, [a / d - 1.0 for a, d in zip(curves[law], curves["uniform"])],
                       **style)
    profiles.set_xlabel("radius r  [source radii]")
    profiles.set_ylabel("surface brightness I(r) / I(0)")
    profiles.set_title("the laws")
    crossing.set_xlabel("t − t0  [days]")
    crossing.set_ylabel("magnification")
    crossing.set_title(f"source crossing: u0 = {u0}, tE = {te} d, "
                       f"ρ = {rho}")
    departure.set_xlabel("t − t0  [days]")
    departure.set_ylabel("A / A(uniform disc) − 1")
    departure.set_title("departure from the uniform disc")
    edge = te * math.sqrt(max(rho * rho - u0 * u0, 0.0))
    for panel in (crossing, departure):
        for t in (-edge, edge):
            panel.axvline(t, color="grey", lw=0.8, ls=":")
    for panel in (profiles, crossing, departure):
        panel.grid(alpha=0.3)
    profiles.legend(loc="lower left", fontsize=8)
    figure.tight_layout()
    figure.savefig(path, dpi=100)
    plt.close(figure)


def main(argv: Sequence[str] | None = None) -> None:
    parser = argparse.ArgumentParser(description=(__doc__ or "").partition("\n")[0])
    parser.add_argument("folder", nargs="?", default="docs",
                        help="where to write the PNGs, made if missing (default: %(default)s)")
    folder = pathlib.Path(parser.parse_args(argv).folder)
    if folder.exists() and not folder.is_dir():
        parser.error(f"argument folder: {folder} is not a folder")
    folder.mkdir(parents=True, exist_ok=True)
    magnification_figure(folder / "magnification.png")
    print(f"written {folder / 'magnification.png'}")
    light_curve_figure(folder / "light_curve.png")
    limb_darkening_figure(folder / "limb_darkening.png")
    print(f"written {folder / 'limb_darkening.png'}")


if __name__ == "__main__":
    main()
