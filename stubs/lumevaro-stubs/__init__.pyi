"""Finite-source magnification of a point-mass gravitational lens.

Units throughout: separations ``l`` and ring radii ``r``, ``bl`` in source
radii (``l = 1`` puts the lens on the source's edge); ``re`` (Einstein
radius) and ``rstar`` (source radius) in one arbitrary length unit, of which
only the ratio ``rstar / re`` enters; magnifications dimensionless
(1 = unmagnified).

Bad arguments raise TypeError, an elliptic integral out of its domain
RuntimeError, and ``bl`` and ``bf`` of different lengths PanicException
(a BaseException, not an Exception). The two limb-darkened functions check
their values too and raise ValueError naming the bad argument.

For a limb-darkened source use ``limb_darkened_magnification`` (the standard
laws) or ``tabulated_limb_darkened_magnification`` (a tabulated profile). The
four ``integrated_*`` functions are not limb-darkened magnifications.
"""

from collections.abc import Iterator
from typing import Literal, Protocol, SupportsFloat, SupportsIndex

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
    l: _FloatSequence, re: _FloatLike, rstar: _FloatLike, law: _Law,
    coefficients: _FloatSequence
) -> list[float]:
    """Magnification of a limb-darkened source for each separation: the
    flux-weighted mean of the point-source magnification over the disc.

    l: separations in source radii (finite, >= 0); re, rstar: Einstein and
    source radius in one length unit (finite, > 0). law and its coefficients,
    with mu = sqrt(1 - r**2), r in source radii, I = 1 at the centre:

    - "uniform": [] -- I = 1;
    - "linear": [u] -- I = 1 - u (1 - mu);
    - "quadratic": [u1, u2] -- I = 1 - u1 (1 - mu) - u2 (1 - mu)**2;
    - "square-root": [c, d] -- I = 1 - c (1 - mu) - d (1 - sqrt(mu));
    - "logarithmic": [e, f] -- I = 1 - e (1 - mu) - f mu ln(mu);
    - "power-2": [c, alpha] -- I = 1 - c (1 - mu**alpha);
    - "claret": [a1, a2, a3, a4] -- I = 1 - sum_k ak (1 - mu**(k/2)).

    Coefficients must be finite; ones that make I negative somewhere are used
    as written, but a source of no net flux is refused. Returns one dimensionless magnification per separation, in
    the order of ``l``. A bad value raises ValueError naming the argument
    (with the index for list items, e.g. ``l[3]``); an unknown law or a
    wrong number of coefficients raises ValueError too.
    """

def tabulated_limb_darkened_magnification(
    l: _FloatSequence, re: _FloatLike, rstar: _FloatLike, bl: _FloatSequence, bf: _FloatSequence
) -> list[float]:
    """Magnification of a source with a tabulated radial brightness profile,
    linear in the radius between rows, for each separation.

    l: separations in source radii (finite, >= 0); re, rstar: Einstein and
    source radius in one length unit (finite, > 0); bl: radii in source radii,
    strictly ascending from exactly 0 to exactly 1; bf: brightnesses at those
    radii (any unit, >= 0, not all zero; as long as ``bl``). Returns one
    dimensionless magnification per separation, in the order of ``l``. A bad
    value raises ValueError naming the argument (with the index for list
    items, e.g. ``bl[2]``).
    """
