"""Finite-source magnification of a point-mass gravitational lens.

Units throughout: separations ``l`` and ring radii ``r``, ``bl`` in source
radii (``l = 1`` puts the lens on the source's edge); ``re`` (Einstein
radius) and ``rstar`` (source radius) in one arbitrary length unit, of which
only the ratio ``rstar / re`` enters; magnifications dimensionless
(1 = unmagnified).

The first seven functions take sequences and return lists; the
limb-darkened functions after them take separations (or times) as numpy
array-likes of any shape and return numpy float64 arrays of that shape.

Bad arguments raise TypeError, an elliptic integral out of its domain
RuntimeError, and, for the three ``*_flux_map_*`` functions, ``bl`` and
``bf`` of different lengths PanicException (a BaseException, not an
Exception). The limb-darkened functions check their values too and raise
ValueError naming the bad argument, with its index (``l[2, 5]``).

For a limb-darkened source use ``limb_darkened_magnification`` (the standard
laws) or ``tabulated_limb_darkened_magnification`` (a tabulated profile); for
a fit, ``limb_darkened_magnification_gradient`` and
``tabulated_limb_darkened_magnification_gradient`` add the exact derivatives,
``limb_darkened_magnification_bands`` and
``limb_darkened_magnification_bands_gradient`` serve several bands in one
call, and ``light_curve`` and ``light_curve_jacobian`` give a source on a
straight line as a function of time, with the Jacobian in (t0, u0, tE, rho,
coefficients). The four ``integrated_*`` functions are not limb-darkened
magnifications.
"""

from collections.abc import Iterator, Sequence
from typing import Any, Literal, Protocol, SupportsFloat, SupportsIndex, Union

import numpy as np
from numpy.typing import NDArray
from typing_extensions import TypeAlias

__all__ = [
    "witt_mao_magnification",
    "integrated_witt_mao_magnification",
    "integrated_flux_map_witt_mao_magnification",
    "heyrovsky_magnification",
    "integrated_heyrovsky_magnification",
    "integrated_flux_map_heyrovsky_magnification",
    "discrete_flux_map_heyrovsky_magnification",
    "limb_darkened_magnification",
    "tabulated_limb_darkened_magnification",
    "limb_darkened_magnification_gradient",
    "tabulated_limb_darkened_magnification_gradient",
    "limb_darkened_magnification_bands",
    "limb_darkened_magnification_bands_gradient",
    "light_curve",
    "light_curve_jacobian",
]

# The package version the module was built as, e.g. "0.1.0".
__version__: str

# A number argument is converted as math.sqrt converts its own: float, int,
# bool and anything with __float__ or __index__ (numpy scalars, Fraction,
# Decimal).
_FloatLike: TypeAlias = SupportsFloat | SupportsIndex

# The limb-darkening laws by name; each takes its own number of coefficients.
_Law: TypeAlias = Literal[
    "uniform", "linear", "quadratic", "square-root", "logarithmic", "power-2", "claret"
]

# Real numbers of any shape, as numpy reads them: a number, a (nested) list
# or tuple of numbers, or an array of booleans, integers or floats.
_RealArray: TypeAlias = np.ndarray[Any, np.dtype[Union[np.bool_, np.integer[Any], np.floating[Any]]]]
_RealArrayLike: TypeAlias = Union[_FloatLike, _RealArray, Sequence["_RealArrayLike"]]

# The arrays the limb-darkened functions return.
_Values: TypeAlias = NDArray[np.float64]

class _FloatSequence(Protocol):
    """A sized, indexable, iterable container of numbers: list, tuple, range,
    array.array, a numpy array; not a str, set, generator or single number.
    (A dict with integer keys has the same shape but is refused at the call.)"""

    def __len__(self) -> int: ...
    def __getitem__(self, index: int, /) -> _FloatLike: ...
    def __iter__(self) -> Iterator[_FloatLike]: ...

def witt_mao_magnification(l: _FloatSequence, re: _FloatLike, rstar: _FloatLike) -> list[float]:
    """Magnification of a uniformly bright disc (Witt & Mao) for each separation.

    l: lens-source separations in source radii; re, rstar: Einstein and
    source radius in one length unit. Returns one dimensionless
    magnification per separation, in the order of ``l``.
    """

def integrated_witt_mao_magnification(
    l: _FloatSequence, re: _FloatLike, rstar: _FloatLike
) -> list[float]:
    """The whole-disc uniform magnification averaged over the source radius
    with the built-in linear profile (coefficient 0.6) as weight.

    l: separations in source radii; re, rstar: Einstein and source radius in
    one length unit. Returns dimensionless magnifications, one per separation.

    Not a limb-darkened magnification: every radius gets the same whole-disc
    value, so the result is the uniform disc's. For a limb-darkened source
    use ``limb_darkened_magnification(l, re, rstar, "linear", [0.6])``.
    """

def integrated_flux_map_witt_mao_magnification(
    l: _FloatSequence, re: _FloatLike, rstar: _FloatLike, bl: _FloatSequence, bf: _FloatSequence
) -> list[float]:
    """The whole-disc uniform magnification averaged over the source radius
    with a tabulated brightness profile as weight.

    l: separations in source radii; re, rstar: Einstein and source radius in
    one length unit; bl: ascending radii in source radii; bf: brightnesses at
    those radii (any unit; as long as ``bl``). Returns dimensionless
    magnifications, one per separation.

    Not a limb-darkened magnification: every radius gets the same whole-disc
    value, so the result is the uniform disc's whatever the profile. For a
    tabulated limb-darkened source use
    ``tabulated_limb_darkened_magnification``.
    """

def heyrovsky_magnification(
    l: _FloatLike, r: _FloatLike, re: _FloatLike, rstar: _FloatLike
) -> float:
    """Magnification of a thin, uniformly bright ring of the source (Heyrovsky).

    l: one separation in source radii; r: the ring's radius in source radii;
    re, rstar: Einstein and source radius in one length unit. Returns one
    dimensionless magnification (+inf with the lens on the ring).
    """

def integrated_heyrovsky_magnification(
    l: _FloatSequence, re: _FloatLike, rstar: _FloatLike
) -> list[float]:
    """Ring magnifications weighted over the source radius by the built-in
    linear profile (coefficient 0.6), through a derivative of that weighting.

    l: separations in source radii; re, rstar: Einstein and source radius in
    one length unit. Returns dimensionless magnifications, one per separation.

    Not a limb-darkened magnification: inside the source it is erratic and
    can be several times off the physical value. For a limb-darkened source
    use ``limb_darkened_magnification(l, re, rstar, "linear", [0.6])``.
    """

def integrated_flux_map_heyrovsky_magnification(
    l: _FloatSequence, re: _FloatLike, rstar: _FloatLike, bl: _FloatSequence, bf: _FloatSequence
) -> list[float]:
    """Ring magnifications weighted over the source radius by a tabulated
    brightness profile, through a derivative of that weighting.

    l: separations in source radii; re, rstar: Einstein and source radius in
    one length unit; bl: ascending radii in source radii; bf: brightnesses at
    those radii (any unit; as long as ``bl``). Returns dimensionless
    magnifications, one per separation.

    Not a limb-darkened magnification: inside the source it is erratic and
    can be several times off the physical value. For a tabulated
    limb-darkened source use ``tabulated_limb_darkened_magnification``.
    """

def discrete_flux_map_heyrovsky_magnification(
    l: _FloatSequence, re: _FloatLike, rstar: _FloatLike, bl: _FloatSequence, bf: _FloatSequence
) -> list[float]:
    """For each separation, the sum of ``bf[j]`` times the ring magnification
    at radius ``bl[j]``.

    l: separations in source radii; re, rstar: Einstein and source radius in
    one length unit; bl: ring radii in source radii; bf: the rings' weights
    (as long as ``bl``). Returns one sum per separation: dimensionless when
    the weights sum to 1.
    """

def limb_darkened_magnification(
    l: _RealArrayLike, re: _FloatLike, rstar: _FloatLike, law: _Law,
    coefficients: _FloatSequence, *, rtol: float = 1e-10
) -> _Values:
    """Magnification of a limb-darkened source for each separation: the
    flux-weighted mean of the point-source magnification over the disc.

    l: separations in source radii (finite, >= 0), an array-like of any
    shape; re, rstar: Einstein and source radius in one length unit (finite,
    > 0). law and its coefficients, with mu = sqrt(1 - r**2), r in source
    radii, I = 1 at the centre:

    - "uniform": [] -- I = 1;
    - "linear": [u] -- I = 1 - u (1 - mu);
    - "quadratic": [u1, u2] -- I = 1 - u1 (1 - mu) - u2 (1 - mu)**2;
    - "square-root": [c, d] -- I = 1 - c (1 - mu) - d (1 - sqrt(mu));
    - "logarithmic": [e, f] -- I = 1 - e (1 - mu) - f mu ln(mu);
    - "power-2": [c, alpha] -- I = 1 - c (1 - mu**alpha);
    - "claret": [a1, a2, a3, a4] -- I = 1 - sum_k ak (1 - mu**(k/2)).

    Only rho = rstar / re enters, which must lie between 1e-50 and 1e50.
    Coefficients must be finite and between -1e6 and 1e6 (power-2's alpha 0,
    or between 0.05 and 10); ones that make I negative somewhere are used as
    written, but a source of no net flux is refused. rtol (keyword only) is
    the relative accuracy asked for, from 1e-11 to 1e-2 (default 1e-10);
    looser is faster. Returns a float64 array of the dimensionless
    magnifications, of the shape of ``l``. A bad value raises ValueError
    naming the argument (with the index for array items, e.g. ``l[2, 5]``);
    an unknown law or a wrong number of coefficients raises ValueError too.
    """

def tabulated_limb_darkened_magnification(
    l: _RealArrayLike, re: _FloatLike, rstar: _FloatLike, bl: _FloatSequence, bf: _FloatSequence,
    *, rtol: float = 1e-10
) -> _Values:
    """Magnification of a source with a tabulated radial brightness profile,
    linear in the radius between rows, for each separation.

    l: separations in source radii (finite, >= 0), any shape; re, rstar:
    Einstein and source radius in one length unit (finite, > 0); bl: radii in
    source radii, strictly ascending from exactly 0 to exactly 1, each row at
    least 1e-6 wide; bf: brightnesses at those radii (any unit, >= 0, not all
    zero; as long as ``bl``, else ValueError). Only rho = rstar / re enters,
    between 1e-50 and 1e50. rtol (keyword only): the relative accuracy asked
    for, as for ``limb_darkened_magnification``. Returns a float64 array of
    the dimensionless magnifications, of the shape of ``l``. A bad value
    raises ValueError naming the argument (with the index for list items,
    e.g. ``bl[2]``).
    """

def limb_darkened_magnification_gradient(
    l: _RealArrayLike, re: _FloatLike, rstar: _FloatLike, law: _Law,
    coefficients: _FloatSequence, *, rtol: float = 1e-10
) -> tuple[_Values, _Values, _Values, _Values]:
    """The magnifications of ``limb_darkened_magnification`` (to the bit) with
    their exact derivatives: ``(a, da_du, da_drho, da_dcoefficients)``, for
    separations ``l`` in source radii.

    da_du is dA/du at fixed rho, u = l * rho the separation in Einstein radii
    (rho = rstar / re); da_drho is dA/drho at fixed u; both of the shape of
    ``l``. da_dcoefficients has shape (number of coefficients, *l.shape), one
    row per coefficient of the law (power-2: c, then alpha). At the default
    rtol, within 1e-8 of high-precision references (relative to |dA| + A/rho
    for u and rho, |dA| + A for the coefficients). On the limb (l = 1) da_du
    and da_drho are -inf and +inf where the limb is bright; never NaN.
    Arguments and errors as ``limb_darkened_magnification``.
    """

def tabulated_limb_darkened_magnification_gradient(
    l: _RealArrayLike, re: _FloatLike, rstar: _FloatLike, bl: _FloatSequence, bf: _FloatSequence,
    *, rtol: float = 1e-10
) -> tuple[_Values, _Values, _Values, _Values]:
    """The magnifications of ``tabulated_limb_darkened_magnification`` (to the
    bit), for separations ``l`` in source radii, with their exact derivatives:
    ``(a, da_du, da_drho, da_dbf)``, da_dbf of shape (len(bf), *l.shape), in
    the units of ``bf``. Conventions, accuracy and errors as
    ``limb_darkened_magnification_gradient`` and
    ``tabulated_limb_darkened_magnification``.
    """

def limb_darkened_magnification_bands(
    l: _RealArrayLike, re: _FloatLike, rstar: _FloatLike, law: _Law,
    bands: Sequence[_FloatSequence], *, rtol: float = 1e-10
) -> _Values:
    """The magnifications in several bands, for separations ``l`` in
    source radii: an array of shape (len(bands), *l.shape), each band (row) the law's
    coefficients for it, equal to the bit to ``limb_darkened_magnification``
    with those coefficients and rtol; the kernels are evaluated once for all
    bands. A bad value raises ValueError naming the band and index, e.g.
    ``bands[2][1]``.
    """

def limb_darkened_magnification_bands_gradient(
    l: _RealArrayLike, re: _FloatLike, rstar: _FloatLike, law: _Law,
    bands: Sequence[_FloatSequence], *, rtol: float = 1e-10
) -> tuple[_Values, _Values, _Values, _Values]:
    """The magnifications in several bands with their exact derivatives, for
    separations ``l`` in source radii: ``(a, da_du, da_drho,
    da_dcoefficients)``, the first three of shape (len(bands), *l.shape), the
    last (len(bands), number of coefficients, *l.shape); each band equal to
    the bit to ``limb_darkened_magnification_gradient`` for its coefficients.
    Arguments and errors as ``limb_darkened_magnification_bands``.
    """

def light_curve(
    t: _RealArrayLike, t0: _RealArrayLike, u0: _RealArrayLike, tE: _RealArrayLike,
    rho: _RealArrayLike, law: _Law | Literal["table"], coefficients: _RealArrayLike,
    *, rtol: float = 1e-10, radii: _FloatSequence | None = None
) -> _Values:
    """Magnification of a limb-darkened source of radius ``rho`` (Einstein
    radii) moving on a straight line past the lens: at time ``t`` the
    separation is u = sqrt(u0**2 + ((t - t0)/tE)**2) Einstein radii and the
    result is ``limb_darkened_magnification(u / rho, 1, rho, law,
    coefficients)`` to the bit (1 where u / rho overflows).

    t, t0 (time of closest approach) and tE (Einstein timescale, > 0) in one
    time unit; u0, the impact parameter, in Einstein radii. t, t0, u0, tE and
    rho broadcast together; the result has their broadcast shape, with a
    leading axis of bands when ``coefficients`` has two dimensions (one row
    per band). law "table" takes the brightness at ``radii`` (keyword only,
    source radii from exactly 0 to exactly 1) as its coefficients. A bad
    value raises ValueError naming the argument, with its index.
    """

def light_curve_jacobian(
    t: _RealArrayLike, t0: _RealArrayLike, u0: _RealArrayLike, tE: _RealArrayLike,
    rho: _RealArrayLike, law: _Law | Literal["table"], coefficients: _RealArrayLike,
    *, rtol: float = 1e-10, radii: _FloatSequence | None = None
) -> tuple[_Values, _Values]:
    """The light curve of ``light_curve`` (to the bit) with its exact
    Jacobian: ``(a, jacobian)``, jacobian of shape (*a.shape, 4 + n), its
    last axis dA/d(t0, u0, tE, rho, coefficient 0, ..., coefficient n - 1)
    (for law "table", the brightnesses). Exact to 1e-8 in the measure of
    ``limb_darkened_magnification_gradient``, correct at u = 0, at u0 = 0 and
    on the limb (infinite where the limb is bright, never NaN). Arguments and
    errors as ``light_curve``: times in one unit, rho in Einstein radii (the
    source radius), radii in source radii.
    """
