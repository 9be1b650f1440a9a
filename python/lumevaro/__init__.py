"""Finite-source magnification of a point-mass gravitational lens (Witt-Mao uniform disc and Heyrovsky thin ring models)."""

# The functions are the extension module's (lumevaro._lumevaro), whose
# __all__ lists them in their order of registration; their __module__ is
# this package. `lumevaro.jax`, the adapter for JAX, is imported only when
# asked for, and imports JAX itself.
from lumevaro import _lumevaro  # bound here even when imported before this package
from lumevaro._lumevaro import *  # noqa: F401,F403
from lumevaro._lumevaro import __all__, __version__  # noqa: F401
