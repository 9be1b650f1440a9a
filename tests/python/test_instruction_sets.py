"""The instruction set the batch kernels run with, forced through the
environment variable LUMEVARO_SIMD, changes no bit and no message of any
function: each set (and "scalar", the one-by-one formulas) is run in its own
process over random and edge separations and source radii."""

import os
import subprocess
import sys
import textwrap

import pytest

from conftest import LAWS

SETS = ["scalar", "neon", "sse2", "avx2", "avx512"]

SCRIPT = textwrap.dedent("""
    import hashlib, math, random, struct
    import lumevaro as m
    digest = hashlib.sha256()
    def record(function, *args):
        try:
            result = function(*args)
            digest.update(b"".join(struct.pack("<d", x) for x in result))
        except BaseException as error:
            digest.update(repr((type(error).__name__, str(error))).encode())
    rnd = random.Random(10)
    special = [0.0, -0.0, 1.0, 1 - 1e-5, 1 + 1e-5, 5e-324, 1e300, math.inf, -math.inf,
               math.nan, -1.0, 2.0, 0.5, 1e-17]
    ls = ([rnd.uniform(0, 5) for _ in range(2000)]
          + [10 ** rnd.uniform(-12, 12) for _ in range(500)]
          + [rnd.uniform(0.9999, 1.0001) for _ in range(300)] + special)
    rnd.shuffle(ls)
    for rho in [1e-4, 0.01, 0.05, 1.0, 30.0, 0.0, -0.1, math.nan, math.inf]:
        record(m.witt_mao_magnification, ls, 1.0, rho)
        record(m.witt_mao_magnification, [x for x in ls if x == x and x >= 0], 1.0, rho)
        for cut in range(0, 17):
            record(m.witt_mao_magnification, ls[cut:cut + 17], 1.0, rho)
        record(m.integrated_witt_mao_magnification, ls[:300], 1.0, rho)
        record(m.discrete_flux_map_heyrovsky_magnification, ls[:300], 1.0, rho,
               [0.0, 0.4, 1.0], [1.0, 0.8, 0.3])
        record(m.discrete_flux_map_heyrovsky_magnification, [x for x in ls if x == x and x >= 0],
               1.0, rho, [0.0, 0.4, 1.0], [1.0, 0.8, 0.3])
        record(m.integrated_heyrovsky_magnification, ls[:6] + [1.0, 0.5, 0.0], 1.0, rho)
        record(m.integrated_flux_map_heyrovsky_magnification, ls[6:9], 1.0, rho,
               [0.0, 0.4, 1.0], [1.0, 0.8, 0.3])
        good = [x for x in ls if x == x and x >= 0]
        for law, coefficients in LAWS.items():
            record(m.limb_darkened_magnification, good[:400], 1.0, rho, law, coefficients)
        record(m.limb_darkened_magnification, ls[:300], 1.0, rho, "linear", [0.6])
        record(m.tabulated_limb_darkened_magnification, good[:400], 1.0, rho,
               [0.0, 0.4, 1.0], [1.0, 0.8, 0.3])
        record(m.tabulated_limb_darkened_magnification, ls[:300], 1.0, rho,
               [0.0, 0.4, 1.0], [1.0, 0.8, 0.3])
    print(m.witt_mao_magnification([2.0] * 64, 1.0, 0.05)[0], digest.hexdigest())
""").replace("LAWS.items()", repr(list(LAWS.items())))


def run_with(instruction_set):
    env = dict(os.environ, LUMEVARO_SIMD=instruction_set)
    result = subprocess.run([sys.executable, "-c", SCRIPT], env=env, capture_output=True,
                            text=True, timeout=120)
    assert result.returncode == 0, result.stderr
    return result.stdout


@pytest.fixture(scope="module")
def scalar_outcome():
    return run_with("scalar")


@pytest.mark.parametrize("instruction_set", SETS[1:] + ["no-such-set"])
def test_every_instruction_set_gives_the_scalar_bits(instruction_set, scalar_outcome):
    # A set the processor lacks (or an unknown name) runs the widest it has.
    assert run_with(instruction_set) == scalar_outcome
