"""lumevaro for JAX: limb-darkened light curves and magnifications that JAX can
trace, with the exact derivatives lumevaro computes.

``light_curve`` and ``limb_darkened_magnification`` take the arguments of
``lumevaro.light_curve`` and of the light curves' profile (a law, or
``"table"`` with ``radii``; coefficients of shape ``(n,)`` or, for several
bands, ``(bands, n)``), as JAX arrays or anything JAX reads, and work under
``jax.jit``, ``jax.grad``, ``jax.jacfwd``, ``jax.jacrev`` and ``jax.vmap``
(over any argument, coefficients included: a batch is one native call).

Derivatives. A ``jax.custom_jvp`` supplies the derivatives lumevaro's C++
computes with the values (no finite differences, nothing re-derived in JAX);
forward and reverse mode both use them. First derivatives only: a second
derivative (a Hessian) is refused by JAX.

Precision. lumevaro computes in float64. With JAX's default float32 the call
raises at trace time; enable 64-bit floats first::

    jax.config.update("jax_enable_x64", True)

Bad values. ``errors="nan"`` (the default) returns NaN wherever a value is
bad (a time or parameter: its own points; a bad profile: the whole curve), so
that a sampler rejects the step and goes on; ``errors="raise"`` raises
lumevaro's ValueError message instead, when the result is computed (under
``jit``, from the call that awaits it, as an ``XlaRuntimeError``). The law,
``rtol``, ``radii`` and ``errors`` are fixed at trace time.

How it calls lumevaro. Where the build found jaxlib's FFI headers (wheels,
and ``LUMEVARO_JAX=1 pip install .``), the calls are XLA FFI custom calls into
lumevaro's C++ (``lumevaro._xla``): a few microseconds each. Otherwise they
are ``jax.pure_callback`` calls into the numpy functions, which cost some
tens of microseconds more per call; ``BACKEND`` says which.
"""

from __future__ import annotations

import functools
from collections.abc import Sequence
from typing import Any

import jax
import jax.numpy as jnp
import numpy as np

import lumevaro

try:
    from jax.custom_derivatives import SymbolicZero
except ImportError:  # pragma: no cover - JAX before 0.4.17
    SymbolicZero = ()  # type: ignore[assignment, misc]

__all__ = ["light_curve", "limb_darkened_magnification", "BACKEND"]

try:
    from lumevaro import _xla
except ImportError:
    _xla = None

if _xla is not None:
    for _name, _capsule in _xla.registrations().items():
        jax.ffi.register_ffi_target(_name, _capsule, platform="cpu")
    BACKEND = "ffi"
else:
    BACKEND = "callback"

_LAWS = ("uniform", "linear", "quadratic", "square-root", "logarithmic", "power-2", "claret", "table")
_ERRORS = ("nan", "raise")


def _require_x64() -> None:
    if not jax.config.jax_enable_x64:
        raise RuntimeError(
            "lumevaro.jax computes in float64, and JAX is set to 32-bit floats: call "
            "jax.config.update('jax_enable_x64', True) (or set JAX_ENABLE_X64=1) before tracing; "
            "with float32 the light curves and their derivatives would be wrong")


def _static(law: Any, rtol: Any, radii: Any, errors: Any) -> tuple[str, float, tuple[float, ...] | None, str]:
    """The arguments fixed at trace time, checked."""
    if not isinstance(law, str):
        raise TypeError(f"law must be a str, got {type(law).__name__}")
    if errors not in _ERRORS:
        raise ValueError(f"errors must be 'nan' or 'raise', got {errors!r}")
    try:
        rtol = float(rtol)
    except (TypeError, ValueError):
        raise TypeError(f"rtol must be a number, got {type(rtol).__name__}") from None
    if not 1e-11 <= rtol <= 0.01:
        raise ValueError(f"rtol, the relative accuracy asked for, must lie between 1e-11 and 0.01, got {rtol!r}")
    if radii is not None:
        radii = tuple(float(r) for r in np.asarray(radii, dtype=np.float64).ravel())
    return law, rtol, radii, errors


def _float64(x: Any) -> jax.Array:
    return jnp.asarray(x, dtype=jnp.float64)


def _coefficients(coefficients: Any) -> jax.Array:
    c = _float64(coefficients)
    if c.ndim not in (1, 2):
        raise ValueError("coefficients must hold one set of coefficients (one dimension) or one set for each "
                         f"band (two dimensions), got an array of shape {tuple(c.shape)}")
    return c


def _attributes(law: str, rtol: float, radii: tuple[float, ...] | None, errors: str,
                coefficients: jax.Array) -> dict[str, Any]:
    return {"law": law, "rtol": np.float64(rtol), "coefficient_rank": np.int64(coefficients.ndim),
            "table": np.int64(law == "table"), "raise_errors": np.int64(errors == "raise")}


def _radii_array(radii: tuple[float, ...] | None) -> jax.Array:
    return jnp.asarray(np.asarray(radii if radii is not None else (), dtype=np.float64))


# ---------------------------------------------------------------------------
# The native calls: XLA FFI, or pure_callback into the numpy functions.

def _shapes(batch: tuple[int, ...], bands: tuple[int, ...], event: tuple[int, ...],
            tails: Sequence[tuple[int, ...]]) -> list[jax.ShapeDtypeStruct]:
    return [jax.ShapeDtypeStruct(batch + bands + event + tail, jnp.float64) for tail in tails]


def _call(target: str, tails: Sequence[tuple[int, ...]], event: tuple[int, ...], operands: Sequence[jax.Array],
          cores: Sequence[int], coefficients: jax.Array, attributes: dict[str, Any], radii: Any,
          numpy_function: Any) -> Any:
    """The native call: operands (their core ranks `cores`: the axes a vmap
    does not add), then the coefficients; results of shape ([bands,] *event,
    *tail) for each tail."""
    bands = tuple(coefficients.shape[:-1])
    shapes = _shapes((), bands, event, tails)
    if BACKEND == "ffi":
        return jax.ffi.ffi_call(target, shapes, vmap_method="broadcast_all")(
            *operands, coefficients, _radii_array(radii), **attributes)
    compute = functools.partial(numpy_function, attributes=attributes, radii=radii)
    return jax.pure_callback(
        lambda *arrays: _per_batch(compute, arrays[:-1], cores, arrays[-1], attributes,
                                   [s.shape for s in shapes]),
        shapes, *operands, coefficients, vmap_method="broadcast_all")


def _per_batch(compute: Any, operands: Sequence[np.ndarray], cores: Sequence[int], coefficients: np.ndarray,
               attributes: dict[str, Any], shapes: Sequence[tuple[int, ...]]) -> tuple[np.ndarray, ...]:
    """pure_callback's side of a call: compute(*operands of one batch element,
    coefficients) for each element of the batch the call was vmapped over
    (the coefficients' axes before their own), each result NaN where
    compute raises ValueError under errors="nan"."""
    # Recent JAX hands the callback its own arrays: numpy's views of them
    # keep the work below on the host, without a JAX dispatch per step.
    operands = [np.asarray(x) for x in operands]
    coefficients = np.asarray(coefficients)
    core = int(attributes["coefficient_rank"])
    batch = coefficients.shape[:coefficients.ndim - core]
    count = int(np.prod(batch, dtype=np.int64))
    flat = [np.reshape(x, (count,) + x.shape[x.ndim - k:] if k else (count,)) for x, k in zip(operands, cores)]
    c = np.reshape(coefficients, (count,) + coefficients.shape[len(batch):])
    results = [np.empty((count,) + shape) for shape in shapes]
    for b in range(count):
        try:
            outcome = compute(*(x[b] for x in flat), c[b])
        except ValueError:
            if attributes["raise_errors"]:
                raise
            outcome = [np.full(shape, np.nan) for shape in shapes]
        for result, value in zip(results, outcome):
            result[b] = value
    return tuple(np.reshape(r, batch + r.shape[1:]) for r in results)


def _light_curve_numpy(t, t0, u0, tE, rho, c, *, attributes, radii, jacobian):
    """One light curve through the numpy functions, its bad points NaN under
    errors="nan"."""
    law, rtol = str(attributes["law"]), float(attributes["rtol"])
    table = {"radii": list(radii)} if attributes["table"] else {}
    bad = np.zeros(np.broadcast_shapes(*(np.shape(x) for x in (t, t0, u0, tE, rho))), dtype=bool)
    if not attributes["raise_errors"]:
        bad = ~(np.isfinite(t) & np.isfinite(t0) & np.isfinite(u0) & np.isfinite(tE) & (tE > 0)
                & (rho >= 1e-50) & (rho <= 1e50))
        if bad.any():
            # Each point its own parameters, the bad ones harmless.
            t, t0, u0, tE, rho = (np.array(x, dtype=np.float64) for x in np.broadcast_arrays(t, t0, u0, tE, rho))
            t[bad], t0[bad], u0[bad], tE[bad], rho[bad] = 0.0, 0.0, 1.0, 1.0, 1.0
    function = lumevaro.light_curve_jacobian if jacobian else lumevaro.light_curve
    results = function(t, t0, u0, tE, rho, law, c, rtol=rtol, **table)
    results = list(results) if jacobian else [results]
    results[0][..., bad] = np.nan
    if jacobian:
        results[1][..., bad, :] = np.nan
    return results


def _magnification_numpy(l, re, rstar, c, *, attributes, radii, gradient):
    """One magnification through the numpy functions, laid out as the FFI
    handlers lay it out (coefficient derivatives last), its bad separations
    NaN under errors="nan"."""
    law, rtol = str(attributes["law"]), float(attributes["rtol"])
    l = np.array(l, dtype=np.float64)
    bad = np.zeros(l.shape, dtype=bool)
    if not attributes["raise_errors"]:
        bad = ~(np.isfinite(l) & (l >= 0.0))
        l[bad] = 0.0

    def one_band(coefficients):
        if law == "table":
            if gradient:
                return lumevaro.tabulated_limb_darkened_magnification_gradient(l, re, rstar, list(radii),
                                                                               coefficients, rtol=rtol)
            return (lumevaro.tabulated_limb_darkened_magnification(l, re, rstar, list(radii), coefficients,
                                                                   rtol=rtol),)
        if gradient:
            return lumevaro.limb_darkened_magnification_gradient(l, re, rstar, law, coefficients, rtol=rtol)
        return (lumevaro.limb_darkened_magnification(l, re, rstar, law, coefficients, rtol=rtol),)

    bands = [one_band(row) for row in c] if c.ndim == 2 else [one_band(c)]
    results = [np.stack([band[k] for band in bands]) for k in range(len(bands[0]))]
    if gradient:
        results[3] = np.moveaxis(results[3], 1, -1)  # (bands, n, *S) -> (bands, *S, n)
    if c.ndim == 1:
        results = [r[0] for r in results]
    for r in results[:3]:
        r[..., bad] = np.nan
    if gradient:
        results[3][..., bad, :] = np.nan
    return results


# ---------------------------------------------------------------------------
# Light curves

@functools.lru_cache(maxsize=None)
def _light_curve_function(law: str, rtol: float, radii: tuple[float, ...] | None, errors: str) -> Any:
    def native(t, t0, u0, tE, rho, c, jacobian):
        attributes = _attributes(law, rtol, radii, errors, c)
        n = c.shape[-1]
        tails = [()] + ([(4 + n,)] if jacobian else [])
        target = "lumevaro_light_curve_jacobian" if jacobian else "lumevaro_light_curve"
        operands = (t, t0, u0, tE, rho)
        event = tuple(jnp.broadcast_shapes(*(x.shape for x in operands)))
        numpy_function = functools.partial(_light_curve_numpy, jacobian=jacobian)
        out = _call(target, tails, event, operands, [x.ndim for x in operands], c, attributes, radii,
                    numpy_function)
        return out if jacobian else out[0]

    @jax.custom_jvp
    def curve(t, t0, u0, tE, rho, c):
        return native(t, t0, u0, tE, rho, c, False)

    def curve_jvp(primals, tangents):
        t, t0, u0, tE, rho, c = primals
        a, jacobian = native(t, t0, u0, tE, rho, c, True)
        dt, dt0, du0, dtE, drho, dc = tangents
        bands = c.ndim == 2
        moved = lambda tangent: not isinstance(tangent, SymbolicZero)  # noqa: E731
        out = jnp.zeros_like(a)
        # A depends on t - t0: dA/dt = -dA/dt0.
        if moved(dt):
            out = out - jacobian[..., 0] * dt
        # The parameters' columns of the Jacobian that move, contracted in
        # one product with their tangents (an argument not moved adds
        # nothing, not even an infinite slope times zero). Parameters of one
        # value each contract with a vector (per band: a matrix); others
        # multiply point by point.
        event = [(k, tangent) for k, tangent in enumerate((dt0, du0, dtE, drho)) if moved(tangent)]
        single = [(k, tangent) for k, tangent in event if tangent.ndim == 0]
        for k, tangent in event:
            if tangent.ndim:
                out = out + jacobian[..., k] * tangent
        columns = [k for k, _ in single] + (list(range(4, jacobian.shape[-1])) if moved(dc) else [])
        if columns:
            scalars = jnp.stack([tangent for _, tangent in single]) if single else jnp.zeros((0,))
            if bands:
                vectors = jnp.broadcast_to(scalars, (c.shape[0], scalars.shape[0]))
                if moved(dc):
                    vectors = jnp.concatenate([vectors, dc], axis=-1)
                out = out + jnp.einsum("b...k,bk->b...", jacobian[..., columns], vectors)
            else:
                vector = jnp.concatenate([scalars, dc]) if moved(dc) else scalars
                out = out + jacobian[..., columns] @ vector
        return a, out

    curve.defjvp(curve_jvp, symbolic_zeros=True)
    return curve


def light_curve(t: Any, t0: Any, u0: Any, tE: Any, rho: Any, law: str, coefficients: Any, *,
                rtol: float = 1e-10, radii: Sequence[float] | None = None, errors: str = "nan") -> jax.Array:
    """The magnification of a limb-darkened source moving on a straight line
    past a point lens, traceable by JAX.

    The arguments of ``lumevaro.light_curve``: times ``t`` and the event's
    t0, u0 (Einstein radii), tE (the unit of t) and rho (Einstein radii),
    which broadcast together; ``law`` a limb-darkening law or ``"table"``
    (with ``radii``), ``coefficients`` of shape ``(n,)`` or ``(bands, n)``;
    ``rtol`` the accuracy asked for; ``errors`` ``"nan"`` or ``"raise"``
    (see the module's docstring).

    Returns the magnification, of the broadcast shape S of the event's
    arguments, or ``(bands, *S)``. Differentiable in t, t0, u0, tE, rho and
    the coefficients, with the derivatives of ``lumevaro.light_curve_jacobian``.
    """
    _require_x64()
    law, rtol, radii_t, errors = _static(law, rtol, radii, errors)
    event = [_float64(x) for x in (t, t0, u0, tE, rho)]
    jnp.broadcast_shapes(*(x.shape for x in event))  # refused here if they do not broadcast
    return _light_curve_function(law, rtol, radii_t, errors)(*event, _coefficients(coefficients))


# ---------------------------------------------------------------------------
# Magnifications

@functools.lru_cache(maxsize=None)
def _magnification_function(law: str, rtol: float, radii: tuple[float, ...] | None, errors: str) -> Any:
    def native(l, re, rstar, c, gradient):
        attributes = _attributes(law, rtol, radii, errors, c)
        n = c.shape[-1]
        tails = [(), (), (), (n,)] if gradient else [()]
        target = "lumevaro_magnification_gradient" if gradient else "lumevaro_magnification"
        numpy_function = functools.partial(_magnification_numpy, gradient=gradient)
        out = _call(target, tails, tuple(l.shape), (l, re, rstar), [l.ndim, 0, 0], c, attributes, radii,
                    numpy_function)
        return out if gradient else out[0]

    @jax.custom_jvp
    def magnification(l, re, rstar, c):
        return native(l, re, rstar, c, False)

    def magnification_jvp(primals, tangents):
        l, re, rstar, c = primals
        a, d_u, d_rho, d_c = native(l, re, rstar, c, True)
        dl, dre, drstar, dc = tangents
        bands = c.ndim == 2
        rho = rstar / re
        out = jnp.zeros_like(a)
        if not isinstance(dl, SymbolicZero):
            # u = l rho: dA/dl = rho dA/du.
            out = out + (rho * d_u) * (dl[None] if bands else dl)
        if not (isinstance(dre, SymbolicZero) and isinstance(drstar, SymbolicZero)):
            # At fixed l, dA/drho = dA/drho at fixed u + l dA/du; rho = rstar/re.
            along = d_rho + (l[None] if bands else l) * d_u
            drho = jnp.zeros_like(rho)
            if not isinstance(drstar, SymbolicZero):
                drho = drho + drstar / re
            if not isinstance(dre, SymbolicZero):
                drho = drho - (rho / re) * dre
            out = out + along * drho
        if not isinstance(dc, SymbolicZero):
            per_point = dc.reshape(dc.shape[:-1] + (1,) * (a.ndim - (1 if bands else 0)) + dc.shape[-1:])
            out = out + jnp.sum(d_c * per_point, axis=-1)
        return a, out

    magnification.defjvp(magnification_jvp, symbolic_zeros=True)
    return magnification


def limb_darkened_magnification(l: Any, re: Any, rstar: Any, law: str, coefficients: Any, *,
                                rtol: float = 1e-10, radii: Sequence[float] | None = None,
                                errors: str = "nan") -> jax.Array:
    """The magnification of a limb-darkened source at separations ``l``
    (source radii) from the lens, traceable by JAX.

    ``re`` and ``rstar`` (Einstein and source radius, one unit; single
    numbers) as for ``lumevaro.limb_darkened_magnification``; the profile as
    the light curves take it: ``law`` a limb-darkening law or ``"table"``
    (with ``radii``), ``coefficients`` of shape ``(n,)`` or ``(bands, n)``;
    ``rtol`` and ``errors`` as for ``light_curve``.

    Returns the magnification, of the shape of ``l``, or ``(bands,
    *l.shape)``: the value of ``lumevaro.limb_darkened_magnification`` (or of
    the tabulated and bands functions) for that profile, to the bit.
    Differentiable in l, re, rstar and the coefficients. On the limb itself
    (l = 1 exactly, for a law bright there) the derivatives in l are
    infinite and those in re and rstar NaN.
    """
    _require_x64()
    law, rtol, radii_t, errors = _static(law, rtol, radii, errors)
    l = _float64(l)
    re, rstar = _float64(re), _float64(rstar)
    if re.ndim or rstar.ndim:
        raise ValueError("re and rstar must be single numbers (vmap over them to batch them)")
    return _magnification_function(law, rtol, radii_t, errors)(l, re, rstar, _coefficients(coefficients))
