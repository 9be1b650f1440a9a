"""The cost of lumevaro.jax in a sampler's inner loop: the gradient of a
Gaussian log-likelihood of a 1,000-point light curve in (t0, u0, tE, rho,
coefficient), under jax.jit(jax.grad(...)), against the same work in numpy.

The event: u0 = 0.02, rho = 0.05, linear law 0.6, 1,000 times over
t0 +- 2 tE with a quarter of them on the source's crossing, and a synthetic
data set with 1 % errors. Cases, all in this process:

  * numpy: lumevaro.light_curve_jacobian, then the log-likelihood's gradient
    (the Jacobian's transpose times the weighted residuals) in numpy;
  * jax, FFI: jax.jit(jax.grad(loglike)) with lumevaro.jax on the XLA FFI
    custom calls (when the module was built with them);
  * jax, callback: the same on jax.pure_callback into the numpy functions;
  * the same two under jax.jit(jax.value_and_grad(loglike)), for reference.

The cases take turns within every round; each time is the median of its
rounds, and each ratio the median over the rounds of the ratio within a
round. Prints a markdown table and the speed targets.

    python benchmarks/jax_gradient.py [--rounds N]

Needs JAX, and lumevaro installed with LUMEVARO_JAX=1 for the FFI case. Run
it alone on the machine.
"""

from __future__ import annotations

import argparse
import platform
import statistics
import time
from collections.abc import Callable
from typing import Any

import jax

jax.config.update("jax_enable_x64", True)

import jax.numpy as jnp  # noqa: E402
import numpy as np  # noqa: E402

import lumevaro  # noqa: E402
import lumevaro.jax as lj  # noqa: E402

POINTS = 1000
T0, U0, TE, RHO, A = 0.0, 0.02, 1.0, 0.05, 0.6
CALLS = 50  # calls a timing


def event() -> tuple[np.ndarray, np.ndarray, np.ndarray]:
    crossing = np.sqrt(RHO ** 2 - U0 ** 2) * TE
    t = np.sort(np.concatenate([np.linspace(T0 - 2 * TE, T0 + 2 * TE, POINTS * 3 // 4),
                                np.linspace(T0 - crossing, T0 + crossing, POINTS // 4)]))
    truth = lumevaro.light_curve(t, T0, U0, TE, RHO, "linear", [A])
    sigma = np.full_like(t, 0.01)
    y = truth + sigma * np.random.default_rng(1).standard_normal(t.shape)
    return t, y, sigma


def numpy_gradient(t: np.ndarray, y: np.ndarray, sigma: np.ndarray) -> Callable[[np.ndarray], Any]:
    weights = 1.0 / sigma ** 2

    def gradient(theta: np.ndarray) -> np.ndarray:
        a, jacobian = lumevaro.light_curve_jacobian(t, theta[0], theta[1], theta[2], theta[3], "linear",
                                                    theta[4:])
        return jacobian.T @ ((y - a) * weights)

    return gradient


def jax_loglike(t: np.ndarray, y: np.ndarray, sigma: np.ndarray) -> Callable[[jax.Array], jax.Array]:
    tj, yj, weights = jnp.asarray(t), jnp.asarray(y), jnp.asarray(1.0 / sigma ** 2)

    def loglike(theta: jax.Array) -> jax.Array:
        a = lj.light_curve(tj, theta[0], theta[1], theta[2], theta[3], "linear", theta[4:])
        return -0.5 * jnp.sum((yj - a) ** 2 * weights)

    return loglike


def timed(function: Callable[[], Any]) -> float:
    """The median time of CALLS calls, in µs."""
    samples = []
    for _ in range(CALLS):
        start = time.perf_counter_ns()
        function()
        samples.append(time.perf_counter_ns() - start)
    return statistics.median(samples) / 1e3


def main(argv: list[str] | None = None) -> None:
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--rounds", type=int, default=15)
    options = parser.parse_args(argv)

    t, y, sigma = event()
    theta = np.array([T0, U0, TE, RHO, A])
    theta_j = jnp.asarray(theta)
    plain = numpy_gradient(t, y, sigma)
    loglike = jax_loglike(t, y, sigma)

    backends = ["ffi", "callback"] if lj.BACKEND == "ffi" else ["callback"]
    cases: dict[str, Callable[[], Any]] = {"numpy": lambda: plain(theta)}
    built = lj.BACKEND
    for backend in backends:
        # Each backend traced and compiled apart; the jitted functions keep
        # the calls they were traced with.
        lj.BACKEND = backend
        grad = jax.jit(jax.grad(loglike))
        both = jax.jit(jax.value_and_grad(loglike))
        np.testing.assert_allclose(np.asarray(grad(theta_j)), plain(theta), rtol=1e-12, atol=1e-9)
        both(theta_j)
        cases[f"jit(grad), {backend}"] = lambda grad=grad: grad(theta_j).block_until_ready()
        cases[f"jit(value_and_grad), {backend}"] = lambda both=both: jax.block_until_ready(both(theta_j))
    lj.BACKEND = built

    times: dict[str, list[float]] = {case: [] for case in cases}
    for _ in range(options.rounds):
        for case, function in cases.items():
            times[case].append(timed(function))

    def ratio(case: str) -> float:
        return statistics.median(a / b for a, b in zip(times[case], times["numpy"]))

    print(f"{POINTS} points; median of {options.rounds} rounds of {CALLS} calls; "
          f"jax {jax.__version__}, numpy {np.__version__}, Python {platform.python_version()}, "
          f"{platform.machine()}")
    print()
    print("| case | time | ÷ numpy |")
    print("|---|---:|---:|")
    for case in cases:
        print(f"| {case} | {statistics.median(times[case]):.0f} µs | {ratio(case):.2f} |")
    print()
    goal = "jit(grad), ffi" if "jit(grad), ffi" in cases else "jit(grad), callback"
    print(f"{goal} ÷ numpy: {ratio(goal):.2f} (target ≤ 1.5, aim ≤ 1.1)")


if __name__ == "__main__":
    main()
