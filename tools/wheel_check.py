"""The quick check of an installed lumevaro (a wheel, in its own environment):
it imports, and a few values of the uniform disc, the thin ring and a
limb-darkened source agree with their known values, and a bad argument is a
ValueError. Exits non-zero on the first disagreement.

The values are those of glibc on x86-64 and aarch64; another C library may
move the last bits, hence the relative tolerance of 1e-13."""

import math
import sys

import lumevaro

TOLERANCE = 1e-13
L = [0.0, 0.5, 1.0, 2.0, 30.0]
KNOWN = {
    "witt_mao_magnification": (
        lumevaro.witt_mao_magnification(L, 1.0, 0.1),
        [20.024984394500784, 18.713890904074074, 12.774752244647637, 5.250130195889463,
         1.0169746951896346]),
    "limb_darkened_magnification": (
        lumevaro.limb_darkened_magnification(L, 1.0, 0.1, "linear", [0.6]),
        [21.80450356373982, 19.67900329103304, 12.298533484990308, 5.231521145186619,
         1.0169722603599451]),
    "heyrovsky_magnification": (
        [lumevaro.heyrovsky_magnification(0.5, 0.8, 1.0, 0.1)], [14.126724132943512]),
}


def main():
    failures = []
    for name, (got, want) in KNOWN.items():
        for g, w in zip(got, want):
            if not math.isclose(g, w, rel_tol=TOLERANCE, abs_tol=0.0):
                failures.append(f"{name}: {g!r}, expected {w!r}")
    # The lens at the centre of a uniform disc: sqrt(1 + 4/rho^2).
    centre = lumevaro.witt_mao_magnification([0.0], 1.0, 0.1)[0]
    if not math.isclose(centre, math.sqrt(1.0 + 4.0 / 0.01), rel_tol=TOLERANCE):
        failures.append(f"centre of the disc: {centre!r}")
    try:
        lumevaro.limb_darkened_magnification([1.0], -1.0, 0.1, "linear", [0.6])
        failures.append("re = -1.0 was accepted")
    except ValueError as error:
        if "got -1.0" not in str(error):
            failures.append(f"unexpected message: {error}")
    for failure in failures:
        print(failure, file=sys.stderr)
    print(f"lumevaro {lumevaro.__version__} on Python {sys.version.split()[0]}: "
          f"{'FAILED' if failures else 'ok'}")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
