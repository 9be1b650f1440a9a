"""The instruction set the batch kernels run with, forced through the
environment variable LUMEVARO_SIMD, changes no bit and no message of any
function: every function of the registry is called (at several accuracies,
if it takes one), in a process of its own for each set (and "scalar", the
one-by-one formulas), over random and edge separations and source radii, and
each call's outcome is compared with scalar's."""

import json
import math
import os
import random
import subprocess
import sys
import textwrap

import pytest

from conftest import LAWS, REGISTRY

SETS = ["scalar", "neon", "sse2", "avx2", "avx512"]

# Source radii: ordinary, tiny and huge ones, and the bad values each
# function reports (or computes through) alike whatever the set.
RHOS = [1e-4, 0.01, 0.05, 1.0, 30.0, 0.0, -0.1, math.nan, math.inf]

# Separations on and beside the limb, at the ends of the doubles, and bad.
SPECIAL = [0.0, -0.0, 1.0, 1 - 1e-5, 1 + 1e-5, 5e-324, 1e300, math.inf, -math.inf,
           math.nan, -1.0, 2.0, 0.5, 1e-17]


def _separations():
    rnd = random.Random(10)
    ls = ([rnd.uniform(0, 5) for _ in range(2000)]
          + [10 ** rnd.uniform(-12, 12) for _ in range(500)]
          + [rnd.uniform(0.9999, 1.0001) for _ in range(300)] + SPECIAL)
    rnd.shuffle(ls)
    return ls


# The lists of separations: a light curve, many decades and the limb's
# neighbourhood, with the special values and without the bad ones; shorter
# lists of both; lists of 17 cut at every offset, which end in every partial
# group of lanes.
LS = _separations()
GOOD = [x for x in LS if x == x and x >= 0]
SHORT = [GOOD[:400], LS[:300] + SPECIAL]
CUTS = [LS[cut:cut + 17] for cut in range(17)]
LISTS = [LS, GOOD, *SHORT, *CUTS]


def separation_lists(row):
    """The lists `row`'s function is called with; for a function of one
    separation, one each."""
    if not row.takes_list:
        return [[x] for x in SPECIAL + LS[:40]]
    if row.integrates:  # a quadrature per separation
        return [LS[:6] + [1.0, 0.5, 0.0]]
    if row.checks_values:  # slower per separation; a bad value is refused at once
        return SHORT + CUTS
    return [LS, GOOD] + CUTS


def with_law(row, args, law):
    """`args` with the brightness law `law` and its sample coefficients (as
    two bands, for a function of bands)."""
    args[row.parameters.index("law")] = law
    coefficients = list(LAWS[law])
    if "coefficients" in row.parameters:
        args[row.parameters.index("coefficients")] = coefficients
    if "bands" in row.parameters:
        args[row.parameters.index("bands")] = [coefficients, [c / 2 for c in coefficients]]
    return args


def calls():
    """(function name, arguments) of every call: each row's own arguments,
    with every source radius and each list of separations, which stands as
    {"list": its index in LISTS} (for the light curves, the times: the
    event's parameters make them separations of the same range); a function
    of a law takes every law on the short lists."""
    index = {id(separations): i for i, separations in enumerate(LISTS)}
    result = []
    for row in REGISTRY:
        # The separations (or the light curves' times) come first; the
        # source radius is rstar, or the light curves' rho.
        l, rstar = 0, row.parameters.index("rstar" if "rstar" in row.parameters else "rho")
        for rho in RHOS:
            for separations in separation_lists(row):
                args = list(row.arguments(separations))
                if id(separations) in index and args[l] is separations:
                    args[l] = {"list": index[id(separations)]}
                args[rstar] = rho
                if "law" in row.parameters and any(separations is short for short in SHORT):
                    result += [(row.name, with_law(row, list(args), law), {}) for law in LAWS]
                else:
                    result.append((row.name, args, {}))
                # Each accuracy's own rules and series, on the short lists.
                if row.keyword_only and any(separations is short for short in SHORT):
                    result += [(row.name, args, {"rtol": rtol}) for rtol in (1e-2, 1e-3, 1e-6, 1e-8, 1e-11)]
    return result


CALLS = calls()

# Reads the lists and calls as JSON (NaN and infinities included) and prints
# one line per call: "ok" and a digest of every float of the result, nested
# lists and tuples in order, or "error" and a digest of the exception's type
# and text.
SCRIPT = textwrap.dedent("""
    import hashlib, json, struct, sys
    import lumevaro

    def floats(result):
        if isinstance(result, float):
            yield result
        else:
            for item in result:
                yield from floats(item)

    lists, calls = json.load(sys.stdin)
    for name, args, keywords in calls:
        args = [lists[a["list"]] if isinstance(a, dict) else a for a in args]
        try:
            result = getattr(lumevaro, name)(*args, **keywords)
            line = "ok " + hashlib.sha256(
                b"".join(struct.pack("<d", x) for x in floats(result))).hexdigest()
        except BaseException as error:
            line = "error " + hashlib.sha256(
                repr((type(error).__name__, str(error))).encode()).hexdigest()
        print(line)
""")


def run_with(instruction_set):
    env = dict(os.environ, LUMEVARO_SIMD=instruction_set)
    result = subprocess.run([sys.executable, "-c", SCRIPT], input=json.dumps([LISTS, CALLS]),
                            env=env, capture_output=True, text=True, timeout=300)
    assert result.returncode == 0, result.stderr
    outcomes = result.stdout.splitlines()
    assert len(outcomes) == len(CALLS)
    return outcomes


@pytest.fixture(scope="module")
def scalar_outcomes():
    return run_with("scalar")


def test_every_function_computes_values(scalar_outcomes):
    # Else the comparison below could pass on error messages alone.
    computed = {name for (name, _, _), line in zip(CALLS, scalar_outcomes) if line.startswith("ok ")}
    assert [row.name for row in REGISTRY if row.name not in computed] == []


@pytest.mark.parametrize("instruction_set", SETS[1:] + ["no-such-set"])
def test_every_instruction_set_gives_the_scalar_bits(instruction_set, scalar_outcomes):
    # A set the processor lacks (or an unknown name) runs the widest it has.
    outcomes = run_with(instruction_set)
    differing = [call for call, ours, scalar in zip(CALLS, outcomes, scalar_outcomes)
                 if ours != scalar]
    assert differing == [], (f"{len(differing)} calls differ from scalar's, the first: "
                             f"{described(*differing[0])}")


def described(name, args, keywords):
    """A call as text, a shared list by its number and length."""
    shown = [f"<LISTS[{a['list']}]: {len(LISTS[a['list']])} separations>"
             if isinstance(a, dict) else repr(a) for a in args]
    shown += [f"{k}={v!r}" for k, v in keywords.items()]
    return f"{name}({', '.join(shown)})"
