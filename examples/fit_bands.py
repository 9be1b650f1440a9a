"""Fitting an event seen in two bands at once
==========================================

A lens crosses a giant source (``u0 < rho``) and two cameras record it at the
same times, in the I band and in the V band. The star is darker at the limb
in V than in I, so the two light curves differ across the source crossing::

    F_b(t) = Fs_b * A(t; t0, u0, tE, rho, a_b) + Fb_b,    b = I, V,

with ``A`` the magnification of a source with the linear limb-darkening law
``I(r) = 1 - a_b (1 - sqrt(1 - r**2))``. One call of
:func:`lumevaro.light_curve_jacobian` with one row of coefficients per band
gives both light curves and their Jacobians, sharing every disc of the
quadrature between the bands. The script draws synthetic photometry (a point
every 4 hours over four Einstein times, denser around the peak, errors of 1 %
of the baseline) and fits the ten parameters, t0, u0, tE, rho, a_I, a_V and
each band's source and blend fluxes, with ``scipy.optimize.least_squares`` and
the exact Jacobian; the errors come from the Jacobian at the optimum. It
prints the fit beside the truth.

Usage::

    python fit_bands.py [--seed N]
"""

from __future__ import annotations

import argparse
import math
from collections.abc import Sequence
from typing import NamedTuple

import numpy as np
from numpy.typing import NDArray
from scipy.optimize import least_squares  # type: ignore[import-untyped, unused-ignore]

import lumevaro
from fit_event import seed_number

Array = NDArray[np.float64]

NAMES = ("t0", "u0", "tE", "rho", "a_I", "a_V", "Fs_I", "Fb_I", "Fs_V", "Fb_V")
BANDS = ("I", "V")


class Truth(NamedTuple):
    t0: float  # time of closest approach [days]
    u0: float  # impact parameter [Einstein radii]
    te: float  # Einstein time [days]
    rho: float  # source radius [Einstein radii]
    limb_darkening: tuple[float, float]  # linear coefficient in I and in V
    source_flux: tuple[float, float]
    blend_flux: tuple[float, float]


TRUTH = Truth(t0=3401.2, u0=0.01, te=18.0, rho=0.03, limb_darkening=(0.5, 0.75),
              source_flux=(1.0, 0.6), blend_flux=(0.3, 0.1))


def parameters(truth: Truth) -> Array:
    """The ten fitted parameters in the order of NAMES."""
    (a_i, a_v), (fs_i, fs_v), (fb_i, fb_v) = truth[4:]
    return np.array([truth.t0, truth.u0, truth.te, truth.rho, a_i, a_v, fs_i, fb_i, fs_v, fb_v])


def model(times: Array, p: Array) -> tuple[Array, Array]:
    """Both bands' fluxes, shape (2, times), and their Jacobian (2, times, 10)."""
    t0, u0, te, rho, a_i, a_v = p[:6]
    a, shape = lumevaro.light_curve_jacobian(times, t0, u0, te, rho, "linear", [[a_i], [a_v]])
    fs, fb = p[[6, 8]], p[[7, 9]]
    flux: Array = fs[:, None] * a + fb[:, None]
    jacobian = np.zeros((2, times.size, len(NAMES)))
    for band in range(2):
        jacobian[band, :, :4] = fs[band] * shape[band, :, :4]   # t0, u0, tE, rho
        jacobian[band, :, 4 + band] = fs[band] * shape[band, :, 4]  # the band's own a
        jacobian[band, :, 6 + 2 * band] = a[band]                 # its source flux
        jacobian[band, :, 7 + 2 * band] = 1.0                     # its blend flux
    return flux, jacobian


def simulate(truth: Truth, seed: int) -> tuple[Array, Array, Array]:
    """Times, fluxes (2, times) and their errors, reproducible from the seed."""
    survey = np.arange(truth.t0 - 2.0 * truth.te, truth.t0 + 2.0 * truth.te, 1.0 / 6.0)
    crossing = 2.0 * truth.te * truth.rho
    follow_up = np.linspace(truth.t0 - crossing, truth.t0 + crossing, 120)
    times = np.sort(np.concatenate([survey, follow_up]))
    flux, _ = model(times, parameters(truth))
    baseline = np.array(truth.source_flux) + np.array(truth.blend_flux)
    sigma = 0.01 * np.sqrt(flux * baseline[:, None])
    noisy: Array = flux + sigma * np.random.default_rng(seed).standard_normal(flux.shape)
    return times, noisy, sigma


def first_guess(truth: Array) -> Array:
    """A start some way off in every parameter: 7 minutes in t0, a third in
    u0, a tenth in tE, 15 % in rho, 20 % in the limb darkening."""
    off: Array = truth * np.array([1.0, 1.3, 0.9, 1.15, 0.8, 0.9, 1.05, 0.9, 0.95, 1.2])
    off[0] += 0.005
    return off


def fit(times: Array, flux: Array, sigma: Array, start: Array) -> tuple[Array, Array, float]:
    """The best parameters, their errors and the chi-square."""
    def residuals(p: Array) -> Array:
        values: Array = ((model(times, p)[0] - flux) / sigma).ravel()
        return values

    def jacobian(p: Array) -> Array:
        scaled: Array = (model(times, p)[1] / sigma[:, :, None]).reshape(-1, len(NAMES))
        return scaled

    scale = [0.01, 1e-3, 0.1, 1e-3, 0.01, 0.01, 0.01, 0.01, 0.01, 0.01]
    best = least_squares(residuals, start, jac=jacobian, x_scale=scale, xtol=1e-12, ftol=1e-12)
    j: Array = best.jac
    errors = np.sqrt(np.diag(np.linalg.inv(j.T @ j)))
    return best.x, errors, float(np.sum(best.fun ** 2))


def main(argv: Sequence[str] | None = None) -> None:
    parser = argparse.ArgumentParser(description=(__doc__ or "").partition("\n")[0])
    parser.add_argument("--seed", type=seed_number, default=1,
                        help="seed of the synthetic noise, 0 or more (default: %(default)s)")
    options = parser.parse_args(argv)

    times, flux, sigma = simulate(TRUTH, options.seed)
    truth = parameters(TRUTH)
    best, errors, chi2 = fit(times, flux, sigma, first_guess(truth))
    dof = flux.size - len(NAMES)
    print(f"{times.size} epochs in each of the bands {' and '.join(BANDS)} (seed {options.seed})\n")
    print(f"{'parameter':>9} {'truth':>12} {'fit':>12} {'error':>9} {'pull':>6}")
    for name, true, value, error in zip(NAMES, truth, best, errors):
        decimals = max(0, 1 - math.floor(math.log10(error)))
        print(f"{name:>9} {true:12.{decimals}f} {value:12.{decimals}f} {error:9.2g} "
              f"{(value - true) / error:6.2f}")
    print(f"\nchi2 = {chi2:.1f} for {dof} degrees of freedom "
          f"(expected {dof} +/- {math.sqrt(2.0 * dof):.0f})")


if __name__ == "__main__":
    main()
