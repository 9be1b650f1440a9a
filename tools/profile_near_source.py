#!/usr/bin/env python3
"""Where one near-source value's time goes: instructions counted by
callgrind (valgrind), which the machine's load does not disturb, per value
and by part of the computation.

Workload: limb_darkened_magnification on 1000 separations l uniform on
[0, 1.2] (all served by the quadrature, none by the far-field series),
rho = 0.1, the linear law 0.6 and the Claret law (0.5, 0.2, 0.1, -0.05), at
rtol 1e-10 (the default), 1e-6 and 1e-3; 20 calls, after one to warm up.
The instructions of each source file (inlined code counts where it was
written) are put in one of

  * uniform discs: the closed form and its Landen loop, on SIMD lanes
    (disc_kernel.inc, disc_lanes.inc, uniform_disc.cpp, the lane helpers);
  * quadrature: the pieces of the sides, the nodes' points of the disc, the
    batches and the sums (quadrature.cpp but the profile's terms);
  * profile terms: dI/dmu at the nodes (the Slope and LawDensity code of
    quadrature.cpp, profile.cpp);
  * libm: log, exp, sqrt and pow calls (the pieces' growth, the contact);
  * call and arguments: the Python boundary, checks, the split between
    quadrature and series, the result array (src/boundary, source.cpp, ...).

The interpreter's own work (the Python loop, numpy) is left out. Prints a
markdown table: instructions per value and their share, for each case.
Instructions are not time: a division or a square root on the lanes counts
one and takes tens of cycles, so the discs' share of the time is larger
than their share of instructions (compare benchmarks/laws.py). Valgrind
runs no AVX-512, so the discs are counted on AVX2's four lanes.

    python tools/profile_near_source.py [--module DIR]

--module names a folder holding a build of the module with debug
information (the package folder lumevaro/ inside), for instance

    cmake -S . -B build/profile -G Ninja -DLUMEVARO_MODULE=ON -DCMAKE_CXX_FLAGS=-g
    cmake --build build/profile

which is what the script builds and uses when --module is not given.
Needs valgrind (Debian's valgrind package).
"""

from __future__ import annotations

import argparse
import collections
import os
import pathlib
import re
import subprocess
import sys
import tempfile

ROOT = pathlib.Path(__file__).resolve().parents[1]
VALUES, CALLS = 1000, 20
CASES = [("linear", [0.6], 1e-10), ("linear", [0.6], 1e-6), ("linear", [0.6], 1e-3),
         ("claret", [0.5, 0.2, 0.1, -0.05], 1e-10)]
PARTS = ["uniform discs", "quadrature", "profile terms", "libm", "call and arguments"]

WORKER = """
import sys
sys.path.insert(0, sys.argv[1])
import numpy as np
import lumevaro
law, coefficients, rtol = sys.argv[2], [float(c) for c in sys.argv[3].split(",")], float(sys.argv[4])
l = np.random.default_rng(1).uniform(0.0, 1.2, {values})
lumevaro.limb_darkened_magnification(l, 1.0, 0.1, law, coefficients, rtol=rtol)
for _ in range({calls}):
    lumevaro.limb_darkened_magnification(l, 1.0, 0.1, law, coefficients, rtol=rtol)
""".format(values=VALUES, calls=CALLS)


def profile_term_lines() -> set[int]:
    """The lines of quadrature.cpp that form the profile's terms at the nodes:
    the Slope class, the shared powers and the densities."""
    lines: set[int] = set()
    source = (ROOT / "src" / "models" / "limb_darkening" / "quadrature.cpp").read_text().splitlines()
    start = None
    for number, text in enumerate(source, 1):
        if re.match(r"(class Slope|struct SharedArrays|struct LawDensity|struct TableDensity) \{", text):
            start = number
        elif start is not None and text == "};":
            lines.update(range(start, number + 1))
            start = None
    return lines


def part_of(file: str) -> str | None:
    """The part a source file's instructions belong to; None for the interpreter's."""
    name = pathlib.PurePath(file).name
    if name in {"disc_kernel.inc", "disc_lanes.inc", "uniform_disc.cpp", "vector_lanes.inc"} or \
            name.endswith("intrin.h"):
        return "uniform discs"
    if name == "quadrature.cpp":
        return "quadrature"
    if name in {"profile.cpp", "profile.hpp"}:
        return "profile terms"
    if "/math/" in file or name == "libm_symbols.cpp":
        return "libm"
    if file.startswith("src/"):
        return "call and arguments"
    return None


def profile(module: str, law: str, coefficients: list[float], rtol: float,
            term_lines: set[int]) -> dict[str, float]:
    per_value = 1.0 / ((CALLS + 1) * VALUES)
    with tempfile.TemporaryDirectory() as folder:
        out = pathlib.Path(folder) / "callgrind.out"
        subprocess.run(["valgrind", "--tool=callgrind", f"--callgrind-out-file={out}", sys.executable, "-c", WORKER,
                        module, law, ",".join(map(str, coefficients)), repr(rtol)],
                       check=True, capture_output=True)
        # Run from the root, the files of this repository are named src/...
        text = subprocess.run(["callgrind_annotate", "--threshold=100", "--auto=yes", str(out)], cwd=ROOT,
                              check=True, capture_output=True, text=True).stdout
    parts: dict[str, float] = collections.defaultdict(float)
    summary, _, annotated = text.partition("-- Auto-annotated source")
    for line in summary.splitlines():
        match = re.match(r"\s*([\d,]+)\s+(?:\([^)]*\)\s+)?(\S+?):", line)
        if match and match.group(2) != "PROGRAM":
            part = part_of(match.group(2))
            if part is not None:
                parts[part] += int(match.group(1).replace(",", "")) * per_value
    # The profile's terms are inlined into the quadrature's loops: counted by line.
    section = re.search(r": src/models/limb_darkening/quadrature\.cpp\n(.*?)(?=\n-- Auto-annotated source|\Z)",
                        "-- Auto-annotated source" + annotated, re.S)
    terms = 0.0
    number = 0
    for line in (section.group(1) if section else "").splitlines():
        marker = re.match(r"-- line (\d+) -", line)
        if marker:
            number = int(marker.group(1))
            continue
        if "=>" in line[:40] or not re.match(r"\s*([\d,]+|\.)\s", line):
            continue
        count = re.match(r"\s*([\d,]+)\s", line)
        if count and number in term_lines:
            terms += int(count.group(1).replace(",", "")) * per_value
        number += 1
    parts["profile terms"] += terms
    parts["quadrature"] -= terms
    return parts


def build() -> str:
    folder = ROOT / "build" / "profile"
    subprocess.run(["cmake", "-S", str(ROOT), "-B", str(folder), "-G", "Ninja", "-DLUMEVARO_MODULE=ON",
                    "-DCMAKE_BUILD_TYPE=Release", "-DCMAKE_CXX_FLAGS=-g", f"-DPython_EXECUTABLE={sys.executable}"],
                   check=True, capture_output=True)
    subprocess.run(["cmake", "--build", str(folder)], check=True, capture_output=True)
    return str(folder)


def main(argv: list[str] | None = None) -> None:
    parser = argparse.ArgumentParser(description=(__doc__ or "").partition("\n")[0])
    parser.add_argument("--module", help="folder of a build of the module with debug information")
    options = parser.parse_args(argv)
    module = options.module or build()
    os.environ.setdefault("OPENBLAS_NUM_THREADS", "1")
    term_lines = profile_term_lines()
    results = [(case, profile(module, *case, term_lines)) for case in CASES]
    header = " | ".join(f"{law} {rtol:g}" for (law, _, rtol), _ in results)
    print(f"Instructions per near-source value (l on [0, 1.2], rho = 0.1), by part; callgrind, "
          f"{VALUES} values a call (valgrind has no AVX-512: the discs run on AVX2 lanes).\n")
    print(f"| part | {header} |")
    print("|---|" + "---|" * len(results))
    for part in PARTS + ["total"]:
        cells = []
        for _, parts in results:
            total = sum(parts.values())
            count = total if part == "total" else parts.get(part, 0.0)
            cells.append(f"{count:,.0f}" + ("" if part == "total" else f" ({100 * count / total:.0f} %)"))
        print(f"| {part} | " + " | ".join(cells) + " |")


if __name__ == "__main__":
    main()
