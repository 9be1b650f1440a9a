"""The light-curve example runs, and its ring-weighted curve is sound."""

import importlib.util
import math
import pathlib
import subprocess
import sys

import pytest

import lumevaro

EXAMPLE = pathlib.Path(__file__).resolve().parents[2] / "examples" / "light_curve.py"


@pytest.fixture(scope="module")
def example():
    spec = importlib.util.spec_from_file_location("light_curve", EXAMPLE)
    module = importlib.util.module_from_spec(spec)
    spec.loader.exec_module(module)
    return module


@pytest.mark.parametrize("l", [0.1, 0.5, 0.999, 1.0, 1.3, 10.0])
def test_ring_quadrature_of_a_uniform_source_is_the_witt_mao_disc(example, l):
    rho = 0.01
    pieces = [(0.0, l), (l, 1.0)] if l < 1.0 else [(0.0, 1.0)]
    uniform = sum(example.tanh_sinh(
        lambda r: 2.0 * r * lumevaro.heyrovsky_magnification(l, r, 1.0, rho), a, b)
        for a, b in pieces)
    assert uniform == pytest.approx(lumevaro.witt_mao_magnification([l], 1.0, rho)[0],
                                    rel=1e-9)


def test_limb_darkening_brightens_the_centre_and_dims_the_limb(example):
    rho = 0.01
    centre, limb = example.light_curve([0.0, 0.199], 0.001, 20.0, rho)["limb"]
    disc = lumevaro.witt_mao_magnification([0.1, math.hypot(0.001, 0.199 / 20.0) / rho],
                                           1.0, rho)
    assert centre > disc[0] and limb < disc[1]


def test_example_prints_the_table_and_writes_the_plot(tmp_path):
    output = tmp_path / "curve.png"
    result = subprocess.run([sys.executable, str(EXAMPLE), "--output", str(output)],
                            capture_output=True, text=True, timeout=300, cwd=tmp_path)
    assert result.returncode == 0, result.stderr
    lines = result.stdout.splitlines()
    assert lines[0].split()[:3] == ["t", "-", "t0"]
    first_row = lines[1].split()
    assert float(first_row[0]) == 0.0
    assert float(first_row[4]) == pytest.approx(
        lumevaro.witt_mao_magnification([0.1], 1.0, 0.01)[0], abs=1e-3)
    assert "too erratic to plot" in result.stdout
    if importlib.util.find_spec("matplotlib") is None:
        assert not output.exists()
    else:
        assert output.read_bytes()[:8] == b"\x89PNG\r\n\x1a\n"
