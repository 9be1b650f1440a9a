"""The examples run, and what they compute is sound: the light curve's ring
quadrature and its agreement with the native limb-darkened magnification, the
fit's recovery of the event with its limb darkening, the cluster's bit-for-bit
equality with the serial results and the figures."""

import importlib.util
import math
import pathlib
import subprocess
import sys

import pytest

import lumevaro

EXAMPLES = pathlib.Path(__file__).resolve().parents[2] / "examples"
PNG_SIGNATURE = b"\x89PNG\r\n\x1a\n"


def load(name):
    """An example as a module; it may import the examples beside it."""
    module_spec = importlib.util.spec_from_file_location(name, EXAMPLES / f"{name}.py")
    module = importlib.util.module_from_spec(module_spec)
    sys.path.insert(0, str(EXAMPLES))
    try:
        module_spec.loader.exec_module(module)
    finally:
        sys.path.remove(str(EXAMPLES))
    return module


def run(name, *arguments, cwd, timeout=120):
    result = subprocess.run([sys.executable, str(EXAMPLES / f"{name}.py"), *map(str, arguments)],
                            capture_output=True, text=True, timeout=timeout, cwd=cwd)
    assert result.returncode == 0, result.stdout + result.stderr
    return result.stdout


# Light curve

@pytest.fixture(scope="module")
def light_curve():
    return load("light_curve")


@pytest.mark.parametrize("l", [0.1, 0.5, 0.999, 1.0, 1.3, 10.0])
def test_ring_quadrature_of_a_uniform_source_is_the_witt_mao_disc(light_curve, l):
    rho = 0.01
    pieces = [(0.0, l), (l, 1.0)] if l < 1.0 else [(0.0, 1.0)]
    uniform = sum(light_curve.tanh_sinh(
        lambda r: 2.0 * r * lumevaro.heyrovsky_magnification(l, r, 1.0, rho), a, b)
        for a, b in pieces)
    assert uniform == pytest.approx(lumevaro.witt_mao_magnification([l], 1.0, rho)[0],
                                    rel=1e-9)


def test_limb_darkened_ring_weights_carry_the_whole_flux(light_curve):
    # The weights 2 pi r S(r) w / N integrate the profile to 1, on either
    # side of the lens, so a constant ring magnification comes back unchanged.
    for l in (0.3, 2.0):
        radii, weights = light_curve.limb_darkened_rings(l)
        assert sum(weights) == pytest.approx(1.0, rel=1e-12)
        assert all(0.0 < r < 1.0 for r in radii) and l not in radii


@pytest.mark.parametrize("l", [0.1, 0.5, 0.999, 1.0, 1.001, 1.3, 10.0])
def test_native_limb_darkening_is_the_ring_sum(light_curve, l):
    # Two independent ways to the same integral: the native function and the
    # rings summed with the example's tanh-sinh weights.
    rho = 0.01
    (native,) = light_curve.limb_darkened_magnification([l], rho)
    assert native == pytest.approx(light_curve.ring_sum_magnification(l, rho), rel=1e-9)


def test_limb_darkening_brightens_the_centre_and_dims_the_limb(light_curve):
    rho = 0.01
    centre, limb = light_curve.light_curve([0.0, 0.199], 0.001, 20.0, rho)["limb"]
    disc = lumevaro.witt_mao_magnification([0.1, math.hypot(0.001, 0.199 / 20.0) / rho],
                                           1.0, rho)
    assert centre > disc[0] and limb < disc[1]


def test_light_curve_prints_the_table_and_writes_the_plot(tmp_path):
    output = tmp_path / "curve.png"
    lines = run("light_curve", "--output", output, cwd=tmp_path).splitlines()
    assert lines[0].split()[:3] == ["t", "-", "t0"]
    first_row = lines[1].split()
    assert float(first_row[0]) == 0.0
    assert float(first_row[4]) == pytest.approx(
        lumevaro.witt_mao_magnification([0.1], 1.0, 0.01)[0], abs=1e-3)
    assert "too erratic to plot" in "\n".join(lines)
    (ring_check,) = [line for line in lines if "sum of rings" in line]
    assert float(ring_check.rsplit(" ", 1)[1]) < 1e-9
    if importlib.util.find_spec("matplotlib") is None:
        assert not output.exists()
    else:
        assert output.read_bytes()[:8] == PNG_SIGNATURE


# Fit of an event

@pytest.mark.parametrize("seed", [1, 2, 3])
def test_fit_recovers_the_event_within_its_errors(seed):
    fit_event = load("fit_event")
    truth = fit_event.TRUTH
    result = fit_event.fit(fit_event.simulate(truth, seed))
    for name, true, value, error in zip(fit_event.NAMES, truth, result.event, result.errors):
        assert 0.0 < error < 0.05 * abs(true), name
        assert abs(value - true) < 4.0 * error, f"{name}: {value} against {true} +/- {error}"
    # A chi-square far from the degrees of freedom would mean a local minimum
    # or errors that do not describe the noise.
    assert abs(result.chi2 - result.dof) < 5.0 * math.sqrt(2.0 * result.dof)
    # The exact Jacobian costs one model evaluation where differences cost
    # two per parameter.
    assert 0 < result.exact_calls < result.difference_calls


def test_fit_script_reports_the_fit_and_the_point_source_misfit(tmp_path):
    out = run("fit_event", "--seed", 4, cwd=tmp_path)
    rows = {line.split()[0]: line.split() for line in out.splitlines() if line.strip()}
    assert float(rows["rho"][2]) == pytest.approx(0.012, rel=0.02)
    worse_by = float(out.rsplit("worse by", 1)[1])
    assert worse_by > 1e4


@pytest.mark.parametrize("seed", [1, 2, 3])
def test_two_bands_fit_recovers_both_limb_darkenings(seed):
    fit_bands = load("fit_bands")
    times, flux, sigma = fit_bands.simulate(fit_bands.TRUTH, seed)
    truth = fit_bands.parameters(fit_bands.TRUTH)
    best, errors, chi2 = fit_bands.fit(times, flux, sigma, fit_bands.first_guess(truth))
    for name, true, value, error in zip(fit_bands.NAMES, truth, best, errors):
        assert abs(value - true) < 4.0 * error, f"{name}: {value} against {true} +/- {error}"
    a_i, a_v = best[4:6]
    assert a_v - a_i > 5.0 * math.hypot(*errors[4:6])  # the bands tell their limbs apart
    dof = flux.size - len(fit_bands.NAMES)
    assert abs(chi2 - dof) < 5.0 * math.sqrt(2.0 * dof)


# Light curves on a cluster

def test_module_functions_pickle_by_reference():
    import pickle

    for name in lumevaro.__all__:
        function = getattr(lumevaro, name)
        assert pickle.loads(pickle.dumps(function)) is function, name


def test_cluster_grid_equals_the_serial_grid_bit_for_bit(tmp_path):
    pytest.importorskip("distributed")
    out = run("dask_grid", cwd=tmp_path, timeout=60)
    assert "bit for bit" in out.splitlines()[-1]
    assert "35 light curves of 4001 points" in out


# Figures

def test_figures_are_written(tmp_path):
    pytest.importorskip("matplotlib")
    run("make_figures", tmp_path / "figures", cwd=tmp_path)
    for name in ("magnification.png", "light_curve.png", "limb_darkening.png"):
        assert (tmp_path / "figures" / name).read_bytes()[:8] == PNG_SIGNATURE


# Options

BAD_OPTIONS = [
    ("light_curve", ["--u0", "0"], "argument --u0: must lie in (0, 100], not 0"),
    ("light_curve", ["--u0=-0.001"], "argument --u0: must lie in (0, 100], not -0.001"),
    ("light_curve", ["--rho", "0"], "argument --rho: must lie in [1e-06, 100], not 0"),
    ("light_curve", ["--rho", "nan"], "argument --rho: must lie in [1e-06, 100], not nan"),
    ("light_curve", ["--rho", "1e300"], "argument --rho: must lie in [1e-06, 100], not 1e300"),
    ("light_curve", ["--te", "inf"], "argument --te: must lie in (0, 1e+06], not inf"),
    ("light_curve", ["--te", "twenty"], "argument --te: not a number: 'twenty'"),
    ("light_curve", ["--output", "no-such-folder/curve.png"], "argument --output: no folder"),
    ("fit_event", ["--seed=-1"], "argument --seed: must be 0 or more, not -1"),
    ("fit_event", ["--seed", "1.5"], "argument --seed: not a whole number: '1.5'"),
    ("fit_bands", ["--seed=-2"], "argument --seed: must be 0 or more, not -2"),
    ("dask_grid", ["--workers", "0"], "argument --workers: must lie from 1 to 256, not 0"),
    ("dask_grid", ["--scheduler", "tcp://host"], "argument --scheduler: not an address"),
    ("make_figures", ["figure.png"], "argument folder: figure.png is not a folder"),
]


@pytest.mark.parametrize("name, arguments, message", BAD_OPTIONS,
                         ids=[f"{n}{' '.join(a)}" for n, a, _ in BAD_OPTIONS])
def test_bad_options_are_refused_by_argparse(name, arguments, message, tmp_path, monkeypatch,
                                             capsys):
    if name == "dask_grid":
        pytest.importorskip("distributed")
    if name == "make_figures":
        pytest.importorskip("matplotlib")
        monkeypatch.syspath_prepend(str(EXAMPLES))  # it imports light_curve beside it
    example = load(name)
    monkeypatch.chdir(tmp_path)
    (tmp_path / "figure.png").write_bytes(b"")
    with pytest.raises(SystemExit) as caught:
        example.main(arguments)
    assert caught.value.code == 2
    captured = capsys.readouterr()
    assert captured.out == ""
    assert captured.err.startswith("usage: ")
    assert f"error: {message}" in captured.err


@pytest.mark.parametrize("name, defaults", [
    ("light_curve", ["(default: light_curve.png)", "(default: 0.001)", "(default: 20.0)",
                     "(default: 0.01)"]),
    ("fit_event", ["(default: 1)"]),
    ("fit_bands", ["(default: 1)"]),
])
def test_command_line_help_shows_defaults_and_errors_end_without_traceback(name, defaults,
                                                                           tmp_path):
    help_text = " ".join(run(name, "--help", cwd=tmp_path).split())
    assert all(default in help_text for default in defaults)
    refused = subprocess.run([sys.executable, str(EXAMPLES / f"{name}.py"), "--u0" if
                              name == "light_curve" else "--seed", "-inf"],
                             capture_output=True, text=True, timeout=60, cwd=tmp_path)
    assert refused.returncode == 2
    assert "Traceback" not in refused.stderr and "error: argument" in refused.stderr
    assert not list(tmp_path.iterdir())


def test_fits_in_threads_equal_the_fits_one_after_the_other(capsys):
    load("thread_fits").main(["--events", "4", "--threads", "4"])
    out = capsys.readouterr().out
    assert out.rstrip().endswith("the same results bit for bit: True")
    rows = [line.split() for line in out.splitlines() if line[:5].strip().isdigit()]
    assert len(rows) == 4
    for _, true_rho, rho, _, _ in rows:
        assert float(rho) == pytest.approx(float(true_rho), rel=0.03)
