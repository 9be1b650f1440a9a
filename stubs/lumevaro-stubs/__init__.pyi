"""Finite-source magnification of a point-mass gravitational lens.

Units throughout: separations ``l`` and ring radii ``r``, ``bl`` in source
radii (``l = 1`` puts the lens on the source's edge); ``re`` (Einstein
radius) and ``rstar`` (source radius) in one arbitrary length unit, of which
only the ratio ``rstar / re`` enters; magnifications dimensionless
(1 = unmagnified).

Bad arguments raise TypeError, an elliptic integral out of its domain
RuntimeError, and ``bl`` and ``bf`` of different lengths PanicException
(a BaseException, not an Exception).
"""

from collections.abc import Iterator
from typing import Protocol, SupportsFloat, SupportsIndex

from typing_extensions import TypeAlias

__all__ = [
    "witt_mao_magnification",
    "integrated_witt_mao_magnification",
    "integrated_flux_map_witt_mao_magnification",
    "heyrovsky_magnification",
    "integrated_heyrovsky_magnification",
    "integrated_flux_map_heyrovsky_magnification",
    "discrete_flux_map_heyrovsky_magnification",
]

# The package version the module was built as, e.g. "0.1.0".
__version__: str

# A number argument is converted as math.sqrt converts its own: float, int,
# bool and anything with __float__ or __index__ (numpy scalars, Fraction,
# Decimal).
_FloatLike: TypeAlias = SupportsFloat | SupportsIndex

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
    """The uniform-disc magnification weighted over the source radius by the
    built-in linear limb-darkening profile (coefficient 0.6).

    l: separations in source radii; re, rstar: Einstein and source radius in
    one length unit. Returns dimensionless magnifications, one per separation.
    """

def integrated_flux_map_witt_mao_magnification(
    l: _FloatSequence, re: _FloatLike, rstar: _FloatLike, bl: _FloatSequence, bf: _FloatSequence
) -> list[float]:
    """The uniform-disc magnification weighted by a tabulated brightness profile.

    l: separations in source radii; re, rstar: Einstein and source radius in
    one length unit; bl: ascending radii in source radii; bf: brightnesses at
    those radii (any unit; as long as ``bl``). Returns dimensionless
    magnifications, one per separation.
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
    linear limb-darkening profile (coefficient 0.6).

    l: separations in source radii; re, rstar: Einstein and source radius in
    one length unit. Returns dimensionless magnifications, one per separation.
    """

def integrated_flux_map_heyrovsky_magnification(
    l: _FloatSequence, re: _FloatLike, rstar: _FloatLike, bl: _FloatSequence, bf: _FloatSequence
) -> list[float]:
    """Ring magnifications weighted over the source radius by a tabulated
    brightness profile.

    l: separations in source radii; re, rstar: Einstein and source radius in
    one length unit; bl: ascending radii in source radii; bf: brightnesses at
    those radii (any unit; as long as ``bl``). Returns dimensionless
    magnifications, one per separation.
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
