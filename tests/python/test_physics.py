"""Physics checks of the two closed forms against direct integration of the
point-source magnification A_pt(x) = (x^2 + 2)/(x sqrt(x^2 + 4)):

- the uniform disc, against the mean of A_pt over the disc;
- the thin ring, against the mean of A_pt over the ring by quadrature.
"""

import math

import pytest
from scipy import integrate

import lumevaro

# Mean of A_pt over a uniform disc of radius rho (Einstein radii) whose centre
# lies rho*l from the lens, as (rho, l, A). Integrated in polar coordinates about
# the lens, the radial integral exactly (x A_pt(x) has the antiderivative
# (x/2) sqrt(x^2 + 4)) and the angle with mpmath.quad at 40 digits; no elliptic
# integral enters. Written by tools/gen_model_reference.py (second table),
# regenerate with: python3 tools/gen_model_reference.py
DISC_MEANS = [
    (0.01, 0.0, 200.00249998437519115),
    (0.01, 0.3, 195.42373398483715939),
    (0.01, 0.9, 149.18903736650513499),
    (0.01, 0.99, 130.95381938533675376),
    (0.01, 1.0, 127.32819852045305115),
    (0.01, 1.01, 123.71589874707174918),
    (0.01, 1.1, 106.07111865877280765),
    (0.01, 2.0, 51.739317461825858151),
    (0.01, 10.0, 10.050054583435983448),
    (0.01, 100.0, 1.3416550978358336447),
    (0.1, 0.0, 20.024984394500784619),
    (0.1, 0.3, 19.568763605235702714),
    (0.1, 0.9, 14.957792679553720107),
    (0.1, 0.99, 13.13700158437558072),
    (0.1, 1.0, 12.774752244647633768),
    (0.1, 1.01, 12.413836566236311174),
    (0.1, 1.1, 10.652243642872107459),
    (0.1, 2.0, 5.2501301958894628807),
    (0.1, 10.0, 1.3430769035640655085),
    (0.1, 100.0, 1.0001923258365903936),
    (1.0, 0.0, 2.2360679774997896964),
    (1.0, 0.3, 2.2029685067060746578),
    (1.0, 0.9, 1.8335617894569370964),
    (1.0, 0.99, 1.6706726224289554488),
    (1.0, 1.0, 1.6366197723675813431),
    (1.0, 1.01, 1.6027050168209054371),
    (1.0, 1.1, 1.4462114936198040837),
    (1.0, 2.0, 1.0766480356554111301),
    (1.0, 10.0, 1.0001960038324113581),
    (1.0, 100.0, 1.0000000199960000004),
]


def point_source(x):
    return (x * x + 2.0) / (x * math.sqrt(x * x + 4.0))


def ring_mean(l, r, eta):
    """(1/2 pi) * integral over the ring of A_pt(|l + r e^(i phi)| / eta), by
    symmetry over [0, pi]; the ring passes closest to the lens at phi = pi."""

    def magnification(phi):
        # |l + r e^(i phi)|^2 written without cancellation near phi = pi.
        distance = math.sqrt((l - r) ** 2 + 4.0 * l * r * math.cos(phi / 2.0) ** 2)
        return point_source(distance / eta)

    width = abs(r - l) / math.sqrt(abs(l * r)) if l * r else math.pi
    points = sorted({p for p in (math.pi - 100.0 * width, math.pi - 10.0 * width, math.pi - width) if 0.0 < p < math.pi})
    value, _ = integrate.quad(magnification, 0.0, math.pi, points=points or None,
                              epsabs=0.0, epsrel=1e-13, limit=500)
    return value / math.pi


@pytest.mark.parametrize("rho", sorted({rho for rho, _, _ in DISC_MEANS}))
def test_uniform_disc_is_the_mean_of_the_point_source_over_the_disc(rho):
    cases = [(l, mean) for r, l, mean in DISC_MEANS if r == rho]
    values = lumevaro.witt_mao_magnification([l for l, _ in cases], 1.0, rho)
    for (l, mean), value in zip(cases, values):
        assert value == pytest.approx(mean, rel=1e-9, abs=0.0), f"l = {l}"


# (l, r, re, rstar): rings around, inside and outside the lens's position, at
# least 1e-2 source radii from it (the closed form loses about eps/delta^2
# next to the ring).
RINGS = [
    (2.0, 0.5, 1.0, 1.0),
    (0.5, 0.3, 1.0, 1.0),
    (0.3, 0.5, 1.0, 1.0),
    (0.5, 0.51, 1.0, 1.0),
    (1.0, 0.99, 1.0, 1.0),
    (3.0, 1.0, 0.1, 1.0),
    (0.05, 1.0, 0.1, 1.0),
    (1.0, 1e-3, 0.1, 1.0),
    (0.7, 0.69, 1.0, 0.1),
    (4.0, 1.0, 1.0, 0.1),
    (0.2, 0.9, 25.0, 3.0),
]


@pytest.mark.parametrize("l, r, re, rstar", RINGS)
def test_ring_is_the_mean_of_the_point_source_over_the_ring(l, r, re, rstar):
    expected = ring_mean(l, r, re / rstar)
    assert lumevaro.heyrovsky_magnification(l, r, re, rstar) == pytest.approx(expected, rel=1e-9, abs=0.0)
