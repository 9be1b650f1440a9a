"""lumevaro for JAX: limb-darkened light curves and magnifications that JAX
can trace (jit, grad, jacfwd, jacrev, vmap), with the exact derivatives
lumevaro computes. Needs JAX with 64-bit floats enabled."""

from collections.abc import Sequence
from typing import Literal

import jax
from jax.typing import ArrayLike
from typing_extensions import TypeAlias

__all__ = ["light_curve", "limb_darkened_magnification", "BACKEND"]

# How the calls reach lumevaro's C++: XLA FFI custom calls, or
# jax.pure_callback where the build had no FFI headers.
BACKEND: Literal["ffi", "callback"]

# A limb-darkening law by name, or "table" for a profile tabulated at radii.
_Profile: TypeAlias = Literal[
    "uniform", "linear", "quadratic", "square-root", "logarithmic", "power-2", "claret", "table"
]
# "nan": bad values give NaN where they fall; "raise": lumevaro's ValueError.
_Errors: TypeAlias = Literal["nan", "raise"]

def light_curve(
    t: ArrayLike, t0: ArrayLike, u0: ArrayLike, tE: ArrayLike, rho: ArrayLike, law: _Profile,
    coefficients: ArrayLike, *, rtol: float = 1e-10, radii: Sequence[float] | None = None,
    errors: _Errors = "nan",
) -> jax.Array:
    """The magnification of a limb-darkened source moving on a straight line
    past a point lens: the broadcast shape S of t, t0, u0, tE and rho, or
    (bands, *S) for coefficients of shape (bands, n)."""

def limb_darkened_magnification(
    l: ArrayLike, re: ArrayLike, rstar: ArrayLike, law: _Profile, coefficients: ArrayLike, *,
    rtol: float = 1e-10, radii: Sequence[float] | None = None, errors: _Errors = "nan",
) -> jax.Array:
    """The magnification of a limb-darkened source at separations l (source
    radii): the shape of l, or (bands, *l.shape)."""
