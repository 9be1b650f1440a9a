"""lumevaro.jax: the light curves and magnifications under jit, grad, jacfwd,
jacrev and vmap, on both ways into lumevaro (XLA FFI where the build has it,
pure_callback always): the values are the numpy functions' to the bit, the
derivatives their Jacobians', batches one native call each, bad values NaN
or raised as asked, float32 refused. Skipped where JAX is not installed."""

import ast
import importlib.util
import inspect
import math
import pathlib

import numpy as np
import pytest

jax = pytest.importorskip("jax")
jax.config.update("jax_enable_x64", True)
import jax.numpy as jnp  # noqa: E402
from jax.test_util import check_grads  # noqa: E402

import lumevaro  # noqa: E402
import lumevaro.jax as lj  # noqa: E402
from conftest import LAWS, TABLE_BRIGHTNESS, TABLE_RADII, same_result  # noqa: E402

ROOT = pathlib.Path(__file__).resolve().parents[2]
BACKENDS = ["ffi", "callback"] if lj.BACKEND == "ffi" else ["callback"]
T = np.linspace(-0.3, 0.3, 41)
EVENT = (0.02, 0.04, 1.3, 0.07)  # t0, u0, tE, rho: across the source


@pytest.fixture(params=BACKENDS, autouse=True)
def backend(request, monkeypatch):
    monkeypatch.setattr(lj, "BACKEND", request.param)
    return request.param


def test_the_package_does_not_import_jax_itself():
    import subprocess
    import sys
    script = "import sys, lumevaro; print('jax' in sys.modules)"
    assert subprocess.run([sys.executable, "-c", script], capture_output=True, text=True,
                          check=True).stdout.strip() == "False"


@pytest.mark.parametrize("law, coefficients", [(law, list(c)) for law, c in LAWS.items()])
def test_values_are_the_numpy_functions_to_the_bit_under_jit(law, coefficients):
    expected = lumevaro.light_curve(T, *EVENT, law, coefficients)
    curve = jax.jit(lambda t, c: lj.light_curve(t, *EVENT, law, c))
    assert same_result(np.asarray(curve(jnp.asarray(T), jnp.asarray(coefficients))), expected)
    l = np.array([[0.0, 0.5, 0.999], [1.0, 1.7, 5.0]])
    m = jax.jit(lambda l: lj.limb_darkened_magnification(l, 1.0, 0.1, law, coefficients))(l)
    assert same_result(np.asarray(m), lumevaro.limb_darkened_magnification(l, 1.0, 0.1, law, coefficients))


def test_tables_and_bands():
    table = dict(radii=TABLE_RADII)
    bands = [TABLE_BRIGHTNESS, [b * 0.5 + 0.1 for b in TABLE_BRIGHTNESS]]
    got = lj.light_curve(T, *EVENT, "table", jnp.asarray(bands), **table)
    assert same_result(np.asarray(got), lumevaro.light_curve(T, *EVENT, "table", bands, **table))
    laws = [[0.6], [0.3]]
    got = lj.limb_darkened_magnification(jnp.asarray([0.3, 2.0]), 1.0, 0.1, "linear", laws)
    assert same_result(np.asarray(got), lumevaro.limb_darkened_magnification_bands([0.3, 2.0], 1.0, 0.1,
                                                                                   "linear", laws))


def test_the_jacobian_is_light_curve_jacobians():
    law, c = "quadratic", [0.4, 0.25]
    a, jacobian = lumevaro.light_curve_jacobian(T, *EVENT, law, c)
    parameters = jnp.asarray([*EVENT, *c])
    f = lambda p: lj.light_curve(jnp.asarray(T), p[0], p[1], p[2], p[3], law, p[4:])  # noqa: E731
    for transform in (jax.jacfwd, jax.jacrev):
        got = np.asarray(jax.jit(transform(f))(parameters))
        assert np.allclose(got, jacobian, rtol=1e-13, atol=1e-13 * np.abs(jacobian).max())
    # dA/dt = -dA/dt0, point by point.
    slope = jax.vmap(jax.grad(lambda t: lj.light_curve(t, *EVENT, law, c)))(jnp.asarray(T))
    assert np.allclose(np.asarray(slope), -jacobian[:, 0], rtol=1e-13, atol=0.0)


@pytest.mark.parametrize("mode", ["fwd", "rev"])
def test_check_grads_against_differences(mode):
    # Away from the limb crossing, where the slope has a log singularity.
    t = jnp.asarray([-0.25, -0.2, 0.15, 0.3])
    check_grads(lambda t0, u0, tE, rho, c: lj.light_curve(t, t0, u0, tE, rho, "power-2", c),
                (0.02, 0.04, 1.3, 0.07, jnp.asarray([0.6, 0.7])), order=1, modes=(mode,), eps=1e-6,
                atol=1e-5, rtol=1e-5)
    l = jnp.asarray([0.3, 0.8, 1.5, 4.0])
    check_grads(lambda l, re, rstar, c: lj.limb_darkened_magnification(l, re, rstar, "claret", c),
                (l, 1.2, 0.1, jnp.asarray([0.5, 0.2, 0.1, -0.05])), order=1, modes=(mode,), eps=1e-6,
                atol=1e-5, rtol=1e-5)


def test_vmap_over_parameters_and_coefficients_is_each_call():
    rhos = jnp.asarray([0.05, 0.07, 0.2])
    coefficients = jnp.asarray([[0.6], [0.3], [0.0]])
    f = jax.jit(jax.vmap(lambda rho, c, t0: lj.light_curve(jnp.asarray(T), t0, 0.04, 1.3, rho, "linear", c)))
    got = np.asarray(f(rhos, coefficients, jnp.asarray([0.0, 0.01, 0.02])))
    for i in range(3):
        one = lumevaro.light_curve(T, [0.0, 0.01, 0.02][i], 0.04, 1.3, float(rhos[i]), "linear",
                                   np.asarray(coefficients[i]))
        assert same_result(got[i], one)
    # And gradients of a batch: one row per parameter set.
    g = jax.vmap(jax.grad(lambda rho: jnp.sum(lj.light_curve(jnp.asarray(T), 0.0, 0.04, 1.3, rho, "linear",
                                                              [0.6]))))(rhos)
    for i in range(3):
        _, jacobian = lumevaro.light_curve_jacobian(T, 0.0, 0.04, 1.3, float(rhos[i]), "linear", [0.6])
        assert math.isclose(float(g[i]), jacobian[:, 3].sum(), rel_tol=1e-12)
    # A vmapped magnification over rstar and the coefficients.
    m = jax.vmap(lambda rstar, c: lj.limb_darkened_magnification(jnp.asarray([0.5, 3.0]), 1.0, rstar, "linear",
                                                                 c))(rhos, coefficients)
    for i in range(3):
        one = lumevaro.limb_darkened_magnification([0.5, 3.0], 1.0, float(rhos[i]), "linear",
                                                   np.asarray(coefficients[i]))
        assert same_result(np.asarray(m[i]), one)


def test_a_batch_is_one_native_call():
    if lj.BACKEND != "ffi":
        pytest.skip("the FFI path")
    f = jax.vmap(lambda rho: lj.light_curve(jnp.asarray(T), 0.0, 0.04, 1.3, rho, "linear", [0.6]))
    text = str(jax.make_jaxpr(f)(jnp.asarray([0.05, 0.07])))
    assert text.count("ffi_call") == 1


def test_bad_values_give_nan_or_raise():
    t = jnp.asarray([0.0, math.nan, 0.2])
    a = lj.light_curve(t, *EVENT, "linear", [0.6])
    assert np.isnan(np.asarray(a)).tolist() == [False, True, False]
    assert np.isnan(np.asarray(lj.light_curve(t, 0.0, 0.04, -1.0, 0.07, "linear", [0.6]))).all()
    assert np.isnan(np.asarray(lj.light_curve(T, *EVENT, "linear", [2e6]))).all()
    gradient = jax.grad(lambda t0: jnp.sum(lj.light_curve(t, t0, 0.04, 1.3, 0.07, "linear", [0.6])))(0.0)
    assert math.isnan(float(gradient))  # a sampler rejects the step
    with pytest.raises(Exception, match=r"t\[1\] must be a finite time, got nan"):
        np.asarray(lj.light_curve(t, *EVENT, "linear", [0.6], errors="raise"))
    with pytest.raises(Exception, match="bands|coefficients"):
        jax.block_until_ready(jax.jit(lambda c: lj.light_curve(jnp.asarray(T), *EVENT, "linear", c,
                                                               errors="raise"))(jnp.asarray([2e6])))
    with pytest.raises(ValueError, match="errors must be 'nan' or 'raise'"):
        lj.light_curve(T, *EVENT, "linear", [0.6], errors="ignore")
    with pytest.raises(ValueError, match="rtol, the relative accuracy asked for"):
        lj.light_curve(T, *EVENT, "linear", [0.6], rtol=0.5)


def test_float32_is_refused_at_trace_time():
    jax.config.update("jax_enable_x64", False)
    try:
        with pytest.raises(RuntimeError, match="jax_enable_x64"):
            lj.light_curve(T, *EVENT, "linear", [0.6])
        with pytest.raises(RuntimeError, match="jax_enable_x64"):
            jax.jit(lambda l: lj.limb_darkened_magnification(l, 1.0, 0.1, "linear", [0.6]))(jnp.ones(3))
    finally:
        jax.config.update("jax_enable_x64", True)


def test_the_stub_follows_the_adapter():
    tree = ast.parse((ROOT / "stubs" / "lumevaro-stubs" / "jax.pyi").read_text(encoding="utf-8"))
    (names,) = [ast.literal_eval(node.value) for node in tree.body
                if isinstance(node, ast.Assign) and node.targets[0].id == "__all__"]
    assert names == lj.__all__
    for node in tree.body:
        if isinstance(node, ast.FunctionDef):
            runtime = inspect.signature(getattr(lj, node.name)).parameters
            stub = node.args
            assert [a.arg for a in stub.args] + [a.arg for a in stub.kwonlyargs] == list(runtime)
            defaults = [ast.literal_eval(d) for d in stub.kw_defaults]
            assert defaults == [p.default for p in runtime.values() if p.kind is p.KEYWORD_ONLY]


# The sampler's run, on the build's own way into lumevaro only.
@pytest.mark.parametrize("backend", [lj.BACKEND])
def test_nuts_recovers_the_event(backend):
    pytest.importorskip("numpyro")
    found = importlib.util.spec_from_file_location("hmc_event", ROOT / "examples" / "hmc_event.py")
    example = importlib.util.module_from_spec(found)
    found.loader.exec_module(example)
    data = example.simulate(example.TRUTH, seed=2)
    samples, _ = example.sample(data, warmup=100, draws=100, seed=3)
    for name, true in example.TRUTH._asdict().items():
        draws = np.asarray(samples[name])
        low, high = np.percentile(draws, [0.5, 99.5])
        assert low <= true <= high, (name, true, low, high)
