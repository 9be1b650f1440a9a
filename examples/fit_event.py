"""Fitting a finite-source event to noisy photometry
=================================================

A lens crosses the source (``u0 < rho``), and a telescope records the flux ::

    F(t) = Fs * A(u(t) / rho) + Fb,    u(t) = sqrt(u0**2 + ((t - t0) / tE)**2),

with ``A`` the magnification of a limb-darkened source with the linear law
``I(r) = 1 - a (1 - sqrt(1 - r**2))``, :func:`lumevaro.light_curve`, ``Fs``
the source flux and ``Fb`` the flux of unresolved stars blended with it. The
script draws synthetic data from known parameters (a survey point every 6
hours over five Einstein times, denser follow-up around the peak, Gaussian
errors of 1 % of the baseline flux growing with the square root of the flux)
and fits them with ``scipy.optimize.least_squares``:

1. a first guess read off the light curve (time, height and width of the
   peak);
2. the five shape parameters t0, u0, tE, rho and the limb-darkening
   coefficient a, with Fs and Fb solved by linear least squares at every
   step, since the flux is linear in them;
3. all seven parameters together from there, whose Jacobian at the optimum
   gives the covariance and so the errors. This step takes the exact
   Jacobian in (t0, u0, tE, rho, a) from :func:`lumevaro.light_curve_jacobian`
   and is run a second time with finite differences, to show how many
   evaluations of the model that saves.

It prints the recovered parameters beside the truth, with their errors and
pulls (fit - truth) / error, and the chi-square of the best point-source
model for comparison: a point source cannot produce the flat, rounded top of
a source crossing.

Usage::

    python fit_event.py [--seed N]
"""

from __future__ import annotations

import argparse
import math
from collections.abc import Callable, Sequence
from typing import NamedTuple

import numpy as np
from numpy.typing import NDArray
from scipy.optimize import least_squares  # type: ignore[import-untyped, unused-ignore]

import lumevaro

Array = NDArray[np.float64]

NAMES = ("t0", "u0", "tE", "rho", "a", "Fs", "Fb")
UNITS = ("d", "", "d", "", "", "", "")


class Event(NamedTuple):
    """Parameters of a point-lens event with a limb-darkened finite source."""

    t0: float  # time of closest approach [days]
    u0: float  # impact parameter [Einstein radii]
    te: float  # Einstein time [days]
    rho: float  # source radius [Einstein radii]
    limb_darkening: float  # linear limb-darkening coefficient a
    source_flux: float
    blend_flux: float


TRUTH = Event(t0=7512.3, u0=0.004, te=24.0, rho=0.012, limb_darkening=0.6, source_flux=1.0,
              blend_flux=0.25)


class Photometry(NamedTuple):
    times: Array
    flux: Array
    sigma: Array


class Fit(NamedTuple):
    event: Event
    errors: Event  # one standard deviation per parameter
    chi2: float
    dof: int
    exact_calls: int  # model evaluations of the last step with the exact Jacobian
    difference_calls: int  # the same step with finite differences


def magnification(times: Array, t0: float, u0: float, te: float, rho: float,
                  limb_darkening: float) -> Array:
    """Magnification of the limb-darkened source along the lens's straight path."""
    MODEL_CALLS.calls += 1
    return lumevaro.light_curve(times, t0, u0, te, rho, "linear", [limb_darkening])


class Counted:
    """A model function that counts how often it is called."""

    def __init__(self) -> None:
        self.calls = 0


MODEL_CALLS = Counted()


def magnification_jacobian(times: Array, t0: float, u0: float, te: float, rho: float,
                           limb_darkening: float) -> tuple[Array, Array]:
    """The magnification and its derivatives in (t0, u0, tE, rho, a), one column each."""
    MODEL_CALLS.calls += 1
    return lumevaro.light_curve_jacobian(times, t0, u0, te, rho, "linear", [limb_darkening])


def point_source_magnification(times: Array, t0: float, u0: float, te: float) -> Array:
    u: Array = np.hypot(u0, (times - t0) / te)
    # Annotated: older numpy (2.2 and before) types this arithmetic as Any.
    magnification: Array = (u * u + 2.0) / (u * np.sqrt(u * u + 4.0))
    return magnification


def simulate(event: Event, seed: int) -> Photometry:
    """Synthetic photometry of the event, reproducible from the seed."""
    survey = np.arange(event.t0 - 2.5 * event.te, event.t0 + 2.5 * event.te, 0.25)
    crossing = 2.0 * event.te * event.rho  # time to move two source radii
    follow_up = np.linspace(event.t0 - crossing, event.t0 + crossing, 150)
    times = np.sort(np.concatenate([survey, follow_up]))
    model = event.source_flux * magnification(times, *event[:5]) + event.blend_flux
    sigma = 0.01 * np.sqrt(model * (event.source_flux + event.blend_flux))
    flux = model + sigma * np.random.default_rng(seed).standard_normal(times.size)
    return Photometry(times, flux, sigma)


def linear_fluxes(a: Array, data: Photometry) -> tuple[float, float]:
    """Fs and Fb minimising chi-square for the magnifications a."""
    design = np.column_stack([a, np.ones_like(a)]) / data.sigma[:, None]
    (fs, fb), *_ = np.linalg.lstsq(design, data.flux / data.sigma, rcond=None)
    return float(fs), float(fb)


def profile_residuals(a_of: Callable[[Array], Array],
                      data: Photometry) -> Callable[[Array], Array]:
    """Normalised residuals over the shape parameters, the fluxes solved linearly."""
    def residuals(shape: Array) -> Array:
        a = a_of(shape)
        fs, fb = linear_fluxes(a, data)
        return (fs * a + fb - data.flux) / data.sigma
    return residuals


def first_guess(data: Photometry) -> tuple[float, float, float, float, float]:
    """t0, u0, tE, rho read off the light curve, taking the blend as zero, and
    a middling limb-darkening coefficient.

    The peak of a source crossing is about 2 / rho; tE is about the time from
    the peak to where the magnification has fallen to 1.34 (u = 1).
    """
    baseline = float(np.percentile(data.flux, 5.0))
    peak = int(np.argmax(data.flux))
    t0 = float(data.times[peak])
    rho = 2.0 / (data.flux[peak] / baseline)
    above = data.times[data.flux > 1.34 * baseline]
    te = 0.5 * float(above.max() - above.min())
    return t0, 0.5 * rho, te, rho, 0.5


def fit(data: Photometry) -> Fit:
    t0, u0, te, rho, a = first_guess(data)
    # Shape first: t0, u0, tE, rho, a, with u0 >= 0 (the sign of u0 does not
    # enter u), rho within the range of a plausible source and a within
    # [-0.5, 1.5] (beyond 1 the limb is negative: the law is computed as
    # written, and the fit may step there).
    shape = least_squares(
        profile_residuals(lambda p: magnification(data.times, *p), data),
        [t0, u0, te, rho, a],
        bounds=([-np.inf, 0.0, 0.1, 1e-4, -0.5], [np.inf, 1.0, 1e3, 1.0, 1.5]),
        x_scale=[0.01, 1e-3, 1.0, 1e-3, 0.1])
    fs, fb = linear_fluxes(magnification(data.times, *shape.x), data)

    def residuals(p: Array) -> Array:
        fs, fb = float(p[5]), float(p[6])
        return (fs * magnification(data.times, *p[:5]) + fb - data.flux) / data.sigma

    def jacobian_of(p: Array) -> Array:
        fs = float(p[5])
        a, shape_columns = magnification_jacobian(data.times, *p[:5])
        columns: Array = np.column_stack([fs * shape_columns, a, np.ones_like(a)])
        scaled: Array = columns / data.sigma[:, None]
        return scaled

    start = [*shape.x, fs, fb]
    scale = [0.01, 1e-3, 1.0, 1e-3, 0.1, 0.01, 0.01]
    MODEL_CALLS.calls = 0
    full = least_squares(residuals, start, jac=jacobian_of, x_scale=scale)
    exact_calls = MODEL_CALLS.calls
    MODEL_CALLS.calls = 0
    least_squares(residuals, start, jac="3-point", x_scale=scale)
    difference_calls = MODEL_CALLS.calls
    jacobian: Array = full.jac
    covariance = np.linalg.inv(jacobian.T @ jacobian)
    errors = np.sqrt(np.diag(covariance))
    chi2 = float(np.sum(full.fun ** 2))
    return Fit(Event(*(float(x) for x in full.x)), Event(*(float(e) for e in errors)),
               chi2, data.times.size - len(NAMES), exact_calls, difference_calls)


def point_source_chi2(data: Photometry, start: Sequence[float]) -> float:
    """Chi-square of the best point-source model, from the shape start (t0, u0, tE)."""
    best = least_squares(
        profile_residuals(lambda p: point_source_magnification(data.times, *p), data),
        list(start), bounds=([-np.inf, 1e-6, 0.1], [np.inf, 1.0, 1e3]),
        x_scale=[0.01, 1e-3, 1.0])
    return float(np.sum(best.fun ** 2))


def print_fit(result: Fit, truth: Event) -> None:
    """The fit beside the truth, each value to the second significant digit of its error."""
    print(f"{'parameter':>9} {'truth':>14} {'fit':>14} {'error':>9} {'pull':>6}")
    for name, unit, true, value, error in zip(NAMES, UNITS, truth, result.event, result.errors):
        label = f"{name} [{unit}]" if unit else name
        decimals = max(0, 1 - math.floor(math.log10(error)))
        print(f"{label:>9} {true:14.{decimals}f} {value:14.{decimals}f} {error:9.2g} "
              f"{(value - true) / error:6.2f}")
    print(f"\nchi2 = {result.chi2:.1f} for {result.dof} degrees of freedom "
          f"(expected {result.dof} +/- {math.sqrt(2.0 * result.dof):.0f})")
    print(f"last step: {result.exact_calls} model evaluations with the exact Jacobian, "
          f"{result.difference_calls} with finite differences "
          f"({result.difference_calls - result.exact_calls} saved)")


def seed_number(text: str) -> int:
    """argparse's type check of --seed: numpy's generators take a whole
    number from 0 up."""
    try:
        value = int(text)
    except ValueError:
        raise argparse.ArgumentTypeError(f"not a whole number: {text!r}") from None
    if value < 0:
        raise argparse.ArgumentTypeError(f"must be 0 or more, not {text}")
    return value


def main(argv: Sequence[str] | None = None) -> None:
    parser = argparse.ArgumentParser(description=(__doc__ or "").partition("\n")[0])
    parser.add_argument("--seed", type=seed_number, default=1,
                        help="seed of the synthetic noise, 0 or more (default: %(default)s)")
    options = parser.parse_args(argv)

    data = simulate(TRUTH, options.seed)
    near_peak = np.abs(data.times - TRUTH.t0) <= 2.0 * TRUTH.te * TRUTH.rho
    print(f"{data.times.size} synthetic points, {np.count_nonzero(near_peak)} of them within "
          f"two source radii of the peak (seed {options.seed})\n")
    result = fit(data)
    print_fit(result, TRUTH)
    chi2 = point_source_chi2(data, result.event[:3])
    print(f"best point-source model: chi2 = {chi2:.0f}, worse by {chi2 - result.chi2:.0f}")


if __name__ == "__main__":
    main()
