"""Light curves and their Jacobians: the value is the limb-darkened
magnification at u/rho to the bit; the Jacobian is the gradient function's
derivatives carried through the chain rule, agrees with differences of the
light curve, and stays right (never NaN) where a hand-written chain rule
divides by zero: u = 0, u0 = 0 and the limb."""

import math

import numpy as np
import pytest

import lumevaro
from conftest import LAWS, TABLE_BRIGHTNESS, TABLE_RADII, same_result

lc = lumevaro.light_curve
lcj = lumevaro.light_curve_jacobian

T = np.linspace(-3.0, 3.0, 61)
EVENTS = [  # (t0, u0, tE, rho): close to the lens, crossing the limb, far from it
    (0.1, 0.003, 1.3, 0.005),
    (-0.2, 0.05, 0.7, 0.1),
    (0.0, 0.4, 2.0, 0.02),
    (0.0, -0.03, 1.0, 0.5),
]


def separation(t, t0, u0, tE):
    """u as the light curves compute it."""
    tau = (np.asarray(t, dtype=float) - t0) / tE
    return np.sqrt(u0 * u0 + tau * tau), tau


def law_cases():
    return [(law, list(c)) for law, c in LAWS.items()]


@pytest.mark.parametrize("law, coefficients", law_cases())
@pytest.mark.parametrize("event", EVENTS)
def test_values_are_the_magnification_at_u_over_rho_to_the_bit(law, coefficients, event):
    t0, u0, tE, rho = event
    u, _ = separation(T, t0, u0, tE)
    expected = lumevaro.limb_darkened_magnification(u / rho, 1.0, rho, law, coefficients)
    assert same_result(lc(T, t0, u0, tE, rho, law, coefficients), expected)
    a, _ = lcj(T, t0, u0, tE, rho, law, coefficients)
    assert same_result(a, expected)


@pytest.mark.parametrize("law, coefficients", law_cases())
@pytest.mark.parametrize("event", EVENTS)
def test_the_jacobian_is_the_gradient_through_the_chain_rule(law, coefficients, event):
    t0, u0, tE, rho = event
    u, tau = separation(T, t0, u0, tE)
    _, du, drho, dc = lumevaro.limb_darkened_magnification_gradient(u / rho, 1.0, rho, law, coefficients)
    _, jacobian = lcj(T, t0, u0, tE, rho, law, coefficients)
    assert jacobian.shape == (len(T), 4 + len(coefficients))
    expected = np.column_stack([-du * (tau / u) / tE, du * (u0 / u), -du * (tau / u) * tau / tE, drho,
                                *dc])
    assert np.allclose(jacobian, expected, rtol=1e-14, atol=0.0)


def central_difference(f, x, h):
    """Fourth-order central difference."""
    return (8.0 * (f(x + h) - f(x - h)) - (f(x + 2 * h) - f(x - 2 * h))) / (12.0 * h)


@pytest.mark.parametrize("law, coefficients", [("linear", [0.6]), ("power-2", [0.6, 0.7]),
                                               ("claret", [0.5, 0.2, 0.1, -0.05])])
@pytest.mark.parametrize("event", EVENTS[1:])
def test_the_jacobian_agrees_with_differences_of_the_light_curve(law, coefficients, event):
    # Away from the limb, where differences of values good to 1e-11 keep
    # about six digits of the slope.
    t0, u0, tE, rho = event
    u, _ = separation(T, t0, u0, tE)
    keep = np.abs(u / rho - 1.0) > 0.05
    times = T[keep]
    a, jacobian = lcj(times, t0, u0, tE, rho, law, coefficients, rtol=1e-11)
    parameters = [t0, u0, tE, rho, *coefficients]

    def curve(k):
        def at(x):
            moved = list(parameters)
            moved[k] = x
            return lc(times, *moved[:4], law, moved[4:], rtol=1e-11)
        return at

    for k, x in enumerate(parameters):
        h = 1e-4 * max(abs(x), 0.01 if k != 3 else rho)
        if k == 5 and law == "power-2":
            h = 1e-3  # alpha
        difference = central_difference(curve(k), x, h)
        scale = np.abs(difference) + a * (1.0 if k >= 4 else 1.0 / max(rho, abs(u0), 1e-3))
        assert np.all(np.abs(jacobian[:, k] - difference) <= 1e-6 * scale), (k, law)


@pytest.mark.parametrize("law, coefficients", law_cases())
def test_at_the_lens_every_derivative_in_the_trajectory_vanishes(law, coefficients):
    # u = 0: t = t0 with u0 = 0. A is even in u and smooth there.
    a, jacobian = lcj([0.0, 0.5], 0.5, 0.0, 1.0, 0.01, law, coefficients)
    assert np.all(np.isfinite(jacobian)) and np.all(np.isfinite(a))
    assert jacobian[1, :3].tolist() == [0.0, 0.0, 0.0]


def test_u0_zero_and_negative():
    t = np.linspace(-1.0, 1.0, 21)
    for rho in (0.01, 0.3):
        a, jacobian = lcj(t, 0.0, 0.0, 1.0, rho, "quadratic", [0.4, 0.25])
        assert np.all(jacobian[:, 1] == 0.0)  # A is even in u0
        assert not np.isnan(jacobian).any()
        for u0 in (0.02, 0.5):
            plus = lcj(t, 0.0, u0, 1.0, rho, "quadratic", [0.4, 0.25])
            minus = lcj(t, 0.0, -u0, 1.0, rho, "quadratic", [0.4, 0.25])
            assert same_result(plus[0], minus[0])
            flipped = minus[1].copy()
            flipped[:, 1] = -flipped[:, 1]
            assert same_result(plus[1], flipped)  # dA/du0 odd in u0, the rest even


def test_on_the_limb_derivatives_are_infinite_or_zero_never_nan():
    rho = 0.05
    # Closest approach on the limb: u = u0 = rho at t = t0.
    a, jacobian = lcj([0.0, 1e-3], 0.0, rho, 1.0, rho, "linear", [0.6])
    assert math.isfinite(a[0])
    d_t0, d_u0, d_tE, d_rho, d_c = jacobian[0]
    assert (d_t0, d_tE) == (0.0, 0.0)
    assert d_u0 == -math.inf and d_rho == math.inf and math.isfinite(d_c)
    # Crossing the limb with u0 = 0: u = |tau| = rho.
    a, jacobian = lcj([-rho, rho], 0.0, 0.0, 1.0, rho, "linear", [0.6])
    assert jacobian[:, 1].tolist() == [0.0, 0.0]
    assert jacobian[:, 0].tolist() == [-math.inf, math.inf]
    assert not np.isnan(jacobian).any()
    # A limb of no brightness (the linear law at u = 1) keeps them finite.
    _, jacobian = lcj([0.0], 0.0, rho, 1.0, rho, "linear", [1.0])
    assert np.all(np.isfinite(jacobian))


def test_far_from_the_lens_the_source_is_unmagnified():
    t = [1e10, 1e160, 1e300, -1e300]
    for tE in (1.0, 1e-300):
        a, jacobian = lcj(t, 0.0, 1.0, tE, 0.1, "linear", [0.6])
        assert a.tolist() == [1.0] * len(t)
        assert np.all(jacobian == 0.0)
        assert lc(t, 0.0, 1.0, tE, 0.1, "linear", [0.6]).tolist() == [1.0] * len(t)
    # u0 squared overflows with tau near: the root is scaled, not infinite.
    a, jacobian = lcj([1e160], 0.0, 1e160, 1.0, 1e-40, "linear", [0.6])
    assert a.tolist() == [1.0] and not np.isnan(jacobian).any()
    # A timescale so short that the chain rule's factors overflow, at the
    # closest approach and away from it.
    for tE in (2.2250738585072014e-308, 5e-324):
        a, jacobian = lcj([0.0, 1.0, 1e-300], 1.0, [0.0, 0.5, 1e-3], tE, 1.0, "linear", [0.6])
        assert not np.isnan(jacobian).any(), (tE, jacobian)


@pytest.mark.parametrize("law", sorted(LAWS))
def test_bands_are_each_the_one_band_light_curve(law):
    sample = list(LAWS[law])
    bands = [sample, [0.5 * c for c in sample], [0.0] * len(sample)]
    if law == "power-2":
        bands[1][1] = 1.5  # another exponent: another node set
        bands[2][1] = 0.0
    for rtol in (1e-10, 1e-3):
        a = lc(T, 0.1, 0.02, 1.0, 0.05, law, bands, rtol=rtol)
        a_j, jacobian = lcj(T, 0.1, 0.02, 1.0, 0.05, law, np.array(bands), rtol=rtol)
        assert a.shape == (3, len(T)) and jacobian.shape == (3, len(T), 4 + len(sample))
        for b, band in enumerate(bands):
            assert same_result(a[b], lc(T, 0.1, 0.02, 1.0, 0.05, law, band, rtol=rtol))
            one = lcj(T, 0.1, 0.02, 1.0, 0.05, law, band, rtol=rtol)
            assert same_result(a_j[b], one[0]) and same_result(jacobian[b], one[1])


def test_a_table_is_its_tabulated_magnification():
    t0, u0, tE, rho = EVENTS[1]
    u, _ = separation(T, t0, u0, tE)
    table = dict(radii=TABLE_RADII)
    a, jacobian = lcj(T, t0, u0, tE, rho, "table", TABLE_BRIGHTNESS, **table)
    _, _, _, dbf = lumevaro.tabulated_limb_darkened_magnification_gradient(
        u / rho, 1.0, rho, TABLE_RADII, TABLE_BRIGHTNESS)
    assert same_result(a, lumevaro.tabulated_limb_darkened_magnification(u / rho, 1.0, rho, TABLE_RADII,
                                                                          TABLE_BRIGHTNESS))
    assert same_result(lc(T, t0, u0, tE, rho, "table", TABLE_BRIGHTNESS, **table), a)
    assert same_result(jacobian[:, 4:], dbf.T.copy())
    brighter = [b * 2.0 for b in TABLE_BRIGHTNESS]
    bands = lcj(T, t0, u0, tE, rho, "table", [TABLE_BRIGHTNESS, brighter], **table)
    assert same_result(bands[0][0], a) and same_result(bands[1][0], jacobian)
    assert same_result(bands[0][1], a)  # only the shape matters
    assert np.allclose(bands[1][1][..., 4:], jacobian[..., 4:] / 2.0, rtol=1e-15, atol=0.0)


def test_parameters_broadcast_like_numpy():
    rho = np.array([[0.01], [0.1]])
    t0 = np.array([0.0, 0.5, 1.0])
    a, jacobian = lcj(T[:3], t0, 0.05, 1.0, rho, "linear", [0.6])
    assert a.shape == (2, 3) and jacobian.shape == (2, 3, 5)
    for i in range(2):
        for j in range(3):
            one = lcj([T[j]], t0[j], 0.05, 1.0, rho[i, 0], "linear", [0.6])
            assert same_result(a[i, j:j + 1], one[0]) and same_result(jacobian[i, j:j + 1], one[1])
    with pytest.raises(ValueError, match=r"^t, t0, u0, tE and rho must broadcast to one shape, got shapes "
                                         r"\(61,\), \(3,\), \(\), \(\) and \(\)$"):
        lc(T, t0, 0.05, 1.0, 0.1, "linear", [0.6])


@pytest.mark.parametrize("args, keywords, message", [
    ((T, 0.0, 0.1, 0.0, 0.1, "linear", [0.6]), {},
     r"^tE, the Einstein timescale, must be finite and positive, got 0\.0$"),
    ((T, 0.0, 0.1, -2.0, 0.1, "linear", [0.6]), {}, r"^tE, the Einstein timescale"),
    (([[0.0, 1.0], [math.nan, 2.0]], 0.0, 0.1, 1.0, 0.1, "linear", [0.6]), {},
     r"^t\[1, 0\] must be a finite time, got nan$"),
    ((T, math.inf, 0.1, 1.0, 0.1, "linear", [0.6]), {}, r"^t0 must be a finite time, got inf$"),
    ((T, 0.0, [0.1, math.nan], 1.0, 0.1, "linear", [0.6]), {},
     r"^u0\[1\], the impact parameter in Einstein radii, must be finite, got nan$"),
    ((T, 0.0, 0.1, 1.0, 0.0, "linear", [0.6]), {},
     r"^rho, the source radius in Einstein radii, must lie between 1e-50 and 1e50, got 0\.0$"),
    ((T, 0.0, 0.1, 1.0, 0.1, "lineal", [0.6]), {},
     r"^law must be one of 'uniform', .* or 'claret' or 'table', got 'lineal'$"),
    ((T, 0.0, 0.1, 1.0, 0.1, "linear", [[[0.6]]]), {},
     r"^coefficients must hold one set of coefficients \(one dimension\) or one set for each band \(two "
     r"dimensions\), got an array of shape \(1, 1, 1\)$"),
    ((T, 0.0, 0.1, 1.0, 0.1, "linear", [[0.6], [math.nan]]), {},
     r"^coefficients\[1, 0\] must be a finite number"),
    ((T, 0.0, 0.1, 1.0, 0.1, "quadratic", [0.6]), {}, r"^the 'quadratic' law takes 2 coefficients"),
    ((T, 0.0, 0.1, 1.0, 0.1, "linear", [0.6]), {"radii": [0.0, 1.0]}, r"^radii is only for law 'table'"),
    ((T, 0.0, 0.1, 1.0, 0.1, "table", [1.0, 0.5]), {}, r"^law 'table' needs radii"),
    ((T, 0.0, 0.1, 1.0, 0.1, "table", [1.0, 0.5]), {"radii": [0.0, 0.5, 1.0]},
     r"^coefficients must hold one brightness for each of the 3 radii, got an array of shape \(2,\)$"),
    ((T, 0.0, 0.1, 1.0, 0.1, "table", [[1.0, 0.5], [1.0, -1.0]]), {"radii": [0.0, 1.0]},
     r"^coefficients\[1, 1\] must be finite and at least 0, got -1\.0$"),
    ((T, 0.0, 0.1, 1.0, 0.1, "table", [1.0, 0.5]), {"radii": [0.0, 0.9]},
     r"^radii\[1\] must be exactly 1 \(the limb\), got 0\.9$"),
    ((T, 0.0, 0.1, 1.0, 0.1, "linear", [0.6]), {"rtol": 0.1}, r"^rtol, the relative accuracy asked for"),
])
def test_bad_values_are_refused_by_name(args, keywords, message):
    for function in (lc, lcj):
        with pytest.raises(ValueError, match=message):
            function(*args, **keywords)
