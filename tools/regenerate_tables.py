#!/usr/bin/env python3
"""Regenerates the tables of measured figures in README.md and docs/guide/.

Every table of accuracy or speed figures in the README and the guide sits
between two marker comments naming it,

    <!-- table: NAME -->
    | ... |
    <!-- end table -->

and this script rewrites what lies between them: it runs the measurement that
makes the table (a benchmark of benchmarks/, the C++ accuracy test, or a
comparison of the installed module with the references of tests/data and
tools/), writes the table, and under it one line naming the command that
produced it and the machine it ran on (processor, cores, system, Python, the
compiler that built the module, lumevaro's version and commit, the date), as
this script finds them. Nothing else of the pages changes.

Usage, from the repository root with lumevaro installed for this interpreter
(and benchmarks/requirements.txt for the peers of the comparison):

    python tools/regenerate_tables.py --list            # tables, pages, commands
    python tools/regenerate_tables.py --check           # markers and provenance lines present; runs nothing
    python tools/regenerate_tables.py --accuracy        # the accuracy tables (a few minutes, mpmath)
    python tools/regenerate_tables.py --speed           # the speed tables (the benchmarks in full)
    python tools/regenerate_tables.py                   # every table
    python tools/regenerate_tables.py --only peers --only dial
    python tools/regenerate_tables.py --quick           # a smoke run: short benchmarks, into build/tables-quick/

The speed tables run the benchmarks in full, some twenty minutes together:
run them on an otherwise idle machine. Some need builds, which the script
makes under build/ when the option's default is missing (except with
--quick, which skips such a table instead):

  * accuracy-elliptic: the C++ test suite (--cpp-tests, default
    build/test-plain/lumevaro_tests, the test command's);
  * bench and light-curve: the C++ kernel benchmark (--kernels, default
    build/bench/kernels); light-curve also the build before the array
    functions, which benchmarks/light_curve.py makes itself;
  * simd: the build before the SIMD lanes (--baseline, default
    build/e06a5ce/build);
  * laws-against-previous: the build of the main before the near-source
    work, which benchmarks/laws.py makes itself;
  * near-source-profile: valgrind, and a build with debug information,
    which tools/profile_near_source.py makes itself (build/profile);
  * threads-free-threaded: a free-threaded CPython with lumevaro installed
    (--free-threaded, default build/py3.13t/bin/python, the test command's);
    it is skipped when there is none.

--quick runs the benchmarks with few rounds and writes the pages into a copy
(build/tables-quick/, or --output-root), never into the work tree: it shows
that every table can be made, not the figures to publish. The script exits
with status 1 when a table was skipped or its markers are missing.
"""

from __future__ import annotations

import argparse
import csv
import datetime
import functools
import importlib.util
import math
import os
import pathlib
import platform
import re
import shlex
import shutil
import subprocess
import sys
from collections.abc import Callable, Sequence
from dataclasses import dataclass

ROOT = pathlib.Path(__file__).resolve().parents[1]
DATA = ROOT / "tests" / "data"
SIMD_BASELINE = "e06a5ce"  # the commit before the SIMD lanes (benchmarks/bench.py)
MARKER = re.compile(r"<!-- table: ([a-z0-9-]+) -->\n(.*?)<!-- end table -->", re.S)
PROVENANCE = "Produced by `"


class Skipped(Exception):
    """A table that cannot be made here (a build or interpreter missing)."""


@dataclass
class Options:
    quick: bool
    cpp_tests: pathlib.Path
    kernels: pathlib.Path
    baseline: pathlib.Path
    free_threaded: pathlib.Path


@dataclass
class Result:
    text: str  # the table and whatever belongs to it, Markdown
    command: str  # what produced it, as a reader would type it
    python: str | None  # the interpreter that ran it (None: no Python was measured)
    binary: pathlib.Path | None = None  # the compiled code measured, for its compiler
    detail: str = ""  # what else the figures depend on (the peers' versions)


@dataclass
class Table:
    name: str
    page: str
    kind: str  # "accuracy" or "speed"
    make: Callable[[Options], Result]


# ---------------------------------------------------------------- the machine

def run(command: Sequence[str], **keywords: object) -> str:
    result = subprocess.run(list(command), cwd=ROOT, capture_output=True, text=True, **keywords)
    if result.returncode != 0:
        raise RuntimeError(f"{shlex.join(command)} failed:\n{result.stdout}\n{result.stderr}")
    return str(result.stdout)


def processor() -> str:
    try:
        with open("/proc/cpuinfo") as cpuinfo:
            for line in cpuinfo:
                if line.startswith("model name"):
                    return line.split(":", 1)[1].strip()
    except OSError:
        pass
    return platform.processor() or platform.machine()


def system() -> str:
    name = platform.system()
    try:
        with open("/etc/os-release") as release:
            fields = dict(line.rstrip("\n").split("=", 1) for line in release if "=" in line)
        name = fields.get("PRETTY_NAME", name).strip('"')
    except OSError:
        pass
    # The kernel's version without its build's local suffix.
    release = platform.release().split("-")[0]
    return f"{name} ({platform.system()} {release}, {platform.machine()})"


def compiler_of(binary: pathlib.Path) -> str:
    """The compiler recorded in a binary's .comment section (GCC and clang
    write their version there)."""
    found: list[str] = []
    data = binary.read_bytes()
    for match in re.finditer(rb"GCC: (\([^)]*\)) ([0-9][0-9.]*)|((?:Debian |Ubuntu )?clang version [0-9][0-9.]*)", data):
        text = f"GCC {match.group(2).decode()} {match.group(1).decode()}" if match.group(2) else match.group(3).decode()
        if text not in found:
            found.append(text)
    # The module's own compiler comes last; the C runtime's objects (crt*.o) may
    # name the system's GCC first.
    return found[-1] if found else "compiler not recorded"


def interpreter(python: str) -> str:
    code = ("import platform, sys; gil = getattr(sys, '_is_gil_enabled', None); "
            "print(platform.python_implementation(), platform.python_version(), "
            "'(free-threaded, GIL off)' if gil is not None and not gil() else '')")
    return run([python, "-c", code]).strip()


def module_binary(python: str) -> pathlib.Path:
    return pathlib.Path(run([python, "-c", "import lumevaro._lumevaro as m; print(m.__file__)"]).strip())


def revision() -> str:
    version = run([sys.executable, "-c", "import lumevaro; print(lumevaro.__version__)"]).strip()
    commit = run(["git", "rev-parse", "--short", "HEAD"]).strip()
    changed = run(["git", "status", "--porcelain", "--", "src", "python", "CMakeLists.txt"]).strip()
    return f"lumevaro {version} ({commit}{', with uncommitted changes to the module' if changed else ''})"


def provenance(table: Table, result: Result, quick: bool) -> str:
    """The line under a table: the command, the date and the machine."""
    regenerate = f"python tools/regenerate_tables.py --only {table.name}{' --quick' if quick else ''}"
    command = f"{PROVENANCE}{result.command}`"
    if result.command != regenerate:
        command += f" (`{regenerate}`)"
    binary = result.binary or module_binary(result.python or sys.executable)
    python = f"{interpreter(result.python)}; " if result.python else ""
    return (f"{command} on {datetime.date.today().isoformat()}: {processor()}, {os.cpu_count()} cores; "
            f"{system()}; {python}built by {compiler_of(binary)}; {revision()}"
            f"{'; ' + result.detail if result.detail else ''}.")


# ------------------------------------------------------------ Markdown helpers

SUPERSCRIPT = str.maketrans("-0123456789", "⁻⁰¹²³⁴⁵⁶⁷⁸⁹")


def scientific(text: str) -> str:
    """1.5e-03 as 1.5·10⁻³, in a cell of a table."""
    def replace(match: re.Match[str]) -> str:
        exponent = int(match.group(2))
        return f"{match.group(1)}·10{str(exponent).translate(SUPERSCRIPT)}"
    return re.sub(r"\b(\d(?:\.\d+)?)e([+-]\d+)\b", replace, text)


def power_of_ten(text: str) -> str:
    """1e-08 as 10⁻⁸; other numbers as they are."""
    exponent = math.log10(float(text))
    return f"10{str(round(exponent)).translate(SUPERSCRIPT)}" if exponent == round(exponent) and exponent < -2 \
        else f"{float(text):g}"


def tables_in(output: str) -> list[list[str]]:
    """The Markdown tables of a command's output, each as its lines."""
    found: list[list[str]] = []
    current: list[str] = []
    for line in output.splitlines() + [""]:
        if line.startswith("|"):
            current.append(line)
        elif current:
            found.append(current)
            current = []
    return found


def cells(row: str) -> list[str]:
    return [cell.strip() for cell in row.strip().strip("|").split("|")]


def row(values: Sequence[str]) -> str:
    return "| " + " | ".join(values) + " |"


def markdown(header: Sequence[str], rows: Sequence[Sequence[str]]) -> str:
    return "\n".join([row(header), row(["---"] * len(header)), *map(row, rows)])


# ------------------------------------------------------------- the benchmarks

@functools.lru_cache(maxsize=None)
def benchmark(command: tuple[str, ...], environment: tuple[tuple[str, str], ...] = ()) -> str:
    """A benchmark's output, run once however many tables come from it."""
    print(f"running {shlex.join(command)}", file=sys.stderr, flush=True)
    return run(command, env={**os.environ, **dict(environment)})


def shown(command: Sequence[str]) -> str:
    """The command as a reader types it: python, and paths from the root."""
    words = ["python" if word == sys.executable else
             os.path.relpath(word, ROOT) if os.path.isabs(word) and word.startswith(str(ROOT)) else word
             for word in command]
    return shlex.join(words)


def build(target: pathlib.Path, folder: pathlib.Path, source: pathlib.Path, *cmake_options: str,
          quick: bool, what: str) -> pathlib.Path:
    """target, built under folder from source with CMake when missing."""
    if target.exists():
        return target
    if quick:
        raise Skipped(f"no {what} at {target} (a quick run builds nothing)")
    print(f"building {what} in {folder}", file=sys.stderr, flush=True)
    run(["cmake", "-S", str(source), "-B", str(folder), "-G", "Ninja", *cmake_options])
    run(["cmake", "--build", str(folder), "--target", target.name])
    return target


def kernels(options: Options) -> pathlib.Path:
    return build(options.kernels, options.kernels.parent, ROOT, "-DLUMEVARO_BENCHMARKS=ON",
                 "-DLUMEVARO_MODULE=OFF", quick=options.quick, what="C++ kernel benchmark")


def limb_darkening_run(options: Options) -> tuple[str, str]:
    command = [sys.executable, str(ROOT / "benchmarks" / "limb_darkening.py")]
    if options.quick:
        command.append("--quick")
    return benchmark(tuple(command)), shown(command)


def peer_versions() -> str:
    from importlib.metadata import PackageNotFoundError, version

    found = []
    for package in ("VBMicrolensing", "MulensModel"):
        try:
            found.append(f"{package} {version(package)}")
        except PackageNotFoundError:
            found.append(f"{package} not installed")
    return ", ".join(found)


def limb_darkening_rows(output: str) -> list[list[str]]:
    return [cells(line) for line in tables_in(output)[0][2:]]


def comparison(options: Options) -> Result:
    """README: the codes at rho = 0.1 near the lens."""
    output, command = limb_darkening_run(options)
    wanted = ("lumevaro", "lumevaro rtol=1e-3", "VBMicrolensing ESPLMag2, Tol 1e-2", "MulensModel Yoo04")
    rows = [[code, time, scientific(error)] for group, code, time, error in limb_darkening_rows(output)
            if group.startswith("linear") and "rho = 0.1," in group and "far" not in group and code in wanted]
    return Result(markdown(["code", "µs per value", "worst relative error (reference points)"], rows),
                  command, sys.executable, detail=peer_versions())


def peers(options: Options) -> Result:
    output, command = limb_darkening_run(options)
    rows, previous = [], None
    for group, code, time, error in limb_darkening_rows(output):
        if group.startswith("linear"):
            rows.append(["" if group == previous else group, code, time, scientific(error)])
            previous = group
    targets = [line for line in output.splitlines() if line.startswith("- ") and "/" in line
               and "reference points" not in line]
    text = markdown(["case", "code", "µs per value", "worst relative error (reference points)"], rows)
    if targets:
        text += "\n\nThe speed targets, as ratios of times of this run:\n\n" + "\n".join(targets)
    return Result(text, command, sys.executable, detail=peer_versions())


def laws(options: Options) -> Result:
    output, command = limb_darkening_run(options)
    rows = [[group.replace(", rho = 0.1, l in [0, 3]", ""), time, scientific(error)]
            for group, code, time, error in limb_darkening_rows(output) if not group.startswith("linear")]
    text = markdown(["profile (ρ = 0.1, l in [0, 3])", "µs per value", "worst relative error (reference points)"],
                    rows)
    per_row = [line for line in output.splitlines() if line.startswith("Tabulated form:")]
    return Result(text + ("\n\n" + per_row[0] if per_row else ""), command, sys.executable)


def dial(options: Options) -> Result:
    output, command = limb_darkening_run(options)
    rows = [cells(line) for line in tables_in(output)[1][2:]]
    whole = {}
    for line in output.splitlines():
        match = re.match(r"- lumevaro at rtol = (\S+) over all (\d+) reference points: worst relative error (\S+)", line)
        if match:
            whole[float(match.group(1))] = (match.group(2), match.group(3))
    count = next(iter(whole.values()))[0] if whole else "all"
    table = [[power_of_ten(rtol) + (" (default)" if float(rtol) == 1e-10 else ""), time, scientific(error),
              scientific(whole.get(float(rtol), ("", ""))[1])] for rtol, time, error in rows]
    return Result(markdown(["`rtol`", "µs per value", "worst error, linear law at ρ = 0.1",
                            f"worst error at the {count} reference points"], table), command, sys.executable)


def text_table(output: str) -> list[list[str]]:
    """benchmarks/bench.py's columns of text (function, length, ns per value,
    and with the kernels kernel ns and ratio) as a Markdown table."""
    rows = []
    for line in output.splitlines():
        match = re.match(r"^(\S.*?)\s+(\d+)\s+([\d.]+)(?:\s+([\d.]+)\s+([\d.]+))?\s*$", line)
        if match:
            name, length, ns, kernel, ratio = match.groups()
            rows.append([f"`{name.split()[0]}`" + name[len(name.split()[0]):], f"{int(length):,}",
                         f"{float(ns):.1f} ns", f"{float(kernel):.1f} ns" if kernel else "", ratio or ""])
    if not rows:
        return []
    header = ["function", "list length", "through Python, per value", "kernel alone", "ratio"]
    if not any(r[3] for r in rows):
        header, rows = header[:3], [r[:3] for r in rows]
    return [markdown(header, rows).splitlines()]


def verbatim(script: str, *arguments: str, quick_arguments: Sequence[str] = (), index: int | None = None,
             python: str | None = None, environment: dict[str, str] | None = None,
             prefix: str = "") -> Callable[[Options], Result]:
    """A table as the benchmark prints it (all its tables, or the one at index)."""
    def make(options: Options) -> Result:
        command = [python or sys.executable, str(ROOT / "benchmarks" / script),
                   *(quick_arguments if options.quick else arguments)]
        output = benchmark(tuple(command), tuple(sorted((environment or {}).items())))
        found = tables_in(output) or text_table(output)
        chosen = [found[index]] if index is not None else found
        text = "\n\n".join("\n".join(table) for table in chosen)
        return Result(text, prefix + shown(command), python or sys.executable)
    return make


def bench(options: Options) -> Result:
    if options.quick:
        return verbatim("bench.py", quick_arguments=["--quick"])(options)
    return verbatim("bench.py", "--kernels", str(kernels(options)))(options)


def light_curve(options: Options) -> Result:
    binary = str(kernels(options))
    return verbatim("light_curve.py", "--kernels", binary, "--rounds", "21",
                    quick_arguments=["--kernels", binary, "--rounds", "2"])(options)


def simd(options: Options) -> Result:
    baseline = options.baseline
    if not list(baseline.glob("lumevaro*.so")) and not list(baseline.glob("_lumevaro*.so")):
        if options.quick:
            raise Skipped(f"no build of {SIMD_BASELINE} in {baseline} (a quick run builds nothing)")
        source = baseline.parent / "src"
        source.mkdir(parents=True, exist_ok=True)
        archive = subprocess.run(["git", "archive", SIMD_BASELINE], cwd=ROOT, check=True, capture_output=True)
        subprocess.run(["tar", "-x", "-C", str(source)], input=archive.stdout, check=True)
        run(["cmake", "-S", str(source), "-B", str(baseline), "-G", "Ninja", "-DLUMEVARO_MODULE=ON",
             f"-DPython_EXECUTABLE={sys.executable}"])
        run(["cmake", "--build", str(baseline)])
    return verbatim("bench.py", "--baseline", str(baseline), "--repeats", "15",
                    quick_arguments=["--baseline", str(baseline), "--repeats", "3"])(options)


def threads_free_threaded(options: Options) -> Result:
    python = options.free_threaded
    if not python.exists():
        raise Skipped(f"no free-threaded CPython at {python} (--free-threaded)")
    return verbatim("threads.py", quick_arguments=["--quick"], python=str(python),
                    environment={"PYTHON_GIL": "0"}, prefix="PYTHON_GIL=0 ")(options)


def near_source_profile(options: Options) -> Result:
    """Where a near-source value's instructions go (tools/profile_near_source.py,
    under callgrind: slow, but the machine's load does not matter)."""
    if shutil.which("valgrind") is None:
        raise Skipped("no valgrind (Debian's valgrind package)")
    command = (sys.executable, str(ROOT / "tools" / "profile_near_source.py"))
    output = benchmark(command)
    found = tables_in(output)
    if not found:
        raise Skipped("tools/profile_near_source.py printed no table")
    return Result("\n".join(found[0]), shown(command), sys.executable)


# ------------------------------------------------------------ the accuracy

def load(name: str, path: pathlib.Path) -> object:
    found = importlib.util.spec_from_file_location(name, path)
    assert found is not None and found.loader is not None
    module = importlib.util.module_from_spec(found)
    sys.path.insert(0, str(path.parent))
    try:
        found.loader.exec_module(module)
    finally:
        sys.path.remove(str(path.parent))
    return module


def elliptic(options: Options) -> Result:
    """The C++ accuracy test's worst errors against mpmath at 40 digits."""
    binary = build(options.cpp_tests, options.cpp_tests.parent, ROOT, "-DLUMEVARO_TESTS=ON",
                   "-DLUMEVARO_MODULE=OFF", quick=options.quick, what="C++ test suite")
    command = [str(binary), "--gtest_filter=EllipticAccuracy.*"]
    output = benchmark(tuple(command))
    rows = []
    labels = {"ellipk": "K(m), m ∈ [0, 1)", "ellipe": "E(m), m ∈ [0, 1)", "ellipe(m<0)": "E(m), m < 0",
              "ellippi": "Π(n, m)", "elliprf": "Carlson RF", "elliprc": "Carlson RC", "elliprd": "Carlson RD",
              "elliprj": "Carlson RJ", "elliprj(p<0)": "RJ, p < 0 (principal value)",
              "elliprj(RC difference)": "RJ through a difference of RC values",
              "elliprj(p<0)/cancellation": "RJ, p < 0 near a zero: error over the cancellation factor",
              "elliprj(p<0,x=y)/cancellation": "RJ, p < 0 with x = y: error over the cancellation factor"}
    for line in output.splitlines():
        match = re.match(r"\[ accuracy \] (.+?)\s+(\d+) sets, worst (\S+) at (\(.*?\)):", line)
        if match:
            name, count, worst, where = match.groups()
            rows.append([labels.get(name, name), count, scientific(f"{float(worst):.1e}"), f"`{where}`"])
    if not rows:
        raise RuntimeError(f"{shown(command)} printed no accuracy lines:\n{output}")
    return Result(markdown(["integral", "arguments", "worst relative error", "at"], rows), shown(command),
                  None, binary)


def worst(pairs: Sequence[tuple[float, float]]) -> float:
    """The largest relative error of (value, reference) pairs; NaN counts as infinite."""
    errors = [abs(value / reference - 1.0) if math.isfinite(value) else math.inf for value, reference in pairs]
    return max(errors)


def e(x: float) -> str:
    return scientific(f"{x:.1e}")


def read_reference() -> tuple[dict[tuple[str, str, float], list[tuple[float, float]]],
                              dict[str, tuple[list[float], list[float]]]]:
    groups: dict[tuple[str, str, float], list[tuple[float, float]]] = {}
    with open(DATA / "limb_darkening_reference.csv", newline="") as f:
        for line in csv.DictReader(f):
            key = (line["law"], line["coefficients"], float(line["rho"]))
            groups.setdefault(key, []).append((float.fromhex(line["l"]), float(line["reference"])))
    tables: dict[str, tuple[list[float], list[float]]] = {}
    with open(DATA / "limb_darkening_tables.csv", newline="") as f:
        for line in csv.DictReader(f):
            bl, bf = tables.setdefault("table:" + line["table"], ([], []))
            bl.append(float.fromhex(line["bl"]))
            bf.append(float.fromhex(line["bf"]))
    return groups, tables


def models(options: Options) -> Result:
    """The models against independent computations, in this process."""
    import lumevaro
    import mpmath

    references = load("gen_model_reference", ROOT / "tools" / "gen_model_reference.py")
    physics = load("physics_checks", ROOT / "tests" / "python" / "test_physics.py")
    example = load("light_curve_example", ROOT / "examples" / "light_curve.py")
    mpmath.mp.dps = 40
    rows = []

    disc = [(lumevaro.witt_mao_magnification([l], 1.0, rho)[0], float(references.disc_mean(l, rho)))
            for rho in references.DISC_RHOS for l in references.DISC_SEPARATIONS]
    rows.append(["uniform disc, ρ ∈ {0.01, 0.1, 1}, l from 0 to 100 (30 points)",
                 "mean of A_pt over the disc: the radial integral exact, the angle by mpmath at 40 digits",
                 e(worst(disc))])

    inside, outside = [], []
    for rho in references.NEAR_LIMB_RHOS:
        for offset in references.NEAR_LIMB_OFFSETS:
            for l in sorted({1.0 - offset, 1.0 + offset}):
                pair = (lumevaro.witt_mao_magnification([l], 1.0, rho)[0], float(references.closed_form(l, rho)))
                (inside if abs(l - 1.0) < 1e-5 else outside).append(pair)
    rows.append(["uniform disc next to the limb, \\|l − 1\\| from 0 to 2·10⁻⁴, ρ from 10⁻⁴ to 10",
                 "the closed formula in mpmath at 40 digits",
                 f"{e(worst(inside))} inside the limb band (\\|l − 1\\| < 10⁻⁵, where the value on the limb "
                 f"stands in), {e(worst(outside))} outside it"])

    rings = [(lumevaro.heyrovsky_magnification(l, r, re, rstar), physics.ring_mean(l, r, re / rstar))
             for l, r, re, rstar in physics.RINGS]
    rows.append([f"thin ring, {len(rings)} rings at least 0.01 source radii from the lens",
                 "SciPy `quad` of A_pt around the ring (relative tolerance 10⁻¹³)", e(worst(rings))])

    inside, outside = [], []
    for eta in references.RING_ETAS:
        for l in references.RING_SEPARATIONS:
            for offset in references.RING_OFFSETS:
                r = l + offset
                pair = (lumevaro.heyrovsky_magnification(l, r, eta, 1.0), float(references.ring_mean(l, r, eta)))
                (inside if abs(offset) < 1e-5 else outside).append(pair)
    rows.append([f"thin ring next to the lens, \\|r − l\\| just inside and outside 10⁻⁵ "
                 f"({len(inside) + len(outside)} cases)", "mpmath quadrature around the ring, 40 digits",
                 f"{e(worst(inside))} inside the ring band (the logarithmic expansion), "
                 f"{e(worst(outside))} outside it"])

    rho = 0.01
    sums = []
    for l in (0.1, 0.5, 0.999, 1.0, 1.3, 10.0):
        pieces = [(0.0, l), (l, 1.0)] if l < 1.0 else [(0.0, 1.0)]
        ring_sum = sum(example.tanh_sinh(
            lambda r: 2.0 * r * lumevaro.heyrovsky_magnification(l, r, 1.0, rho), a, b) for a, b in pieces)
        sums.append((ring_sum, lumevaro.witt_mao_magnification([l], 1.0, rho)[0]))
    rows.append(["ring sum of a uniform source (the light-curve example's tanh-sinh rule, l from 0.1 to 10)",
                 "`witt_mao_magnification`", e(worst(sums))])

    groups, tables = read_reference()
    laws, uniform, tabulated, count = [], [], [], 0
    for (law, coefficients, rho_), points in groups.items():
        ls = [l for l, _ in points]
        if law in tables:
            values = lumevaro.tabulated_limb_darkened_magnification(ls, 1.0, rho_, *tables[law])
        else:
            values = lumevaro.limb_darkened_magnification(ls, 1.0, rho_, law, [float(c) for c in coefficients.split()])
        pairs = [(float(v), a) for v, (_, a) in zip(values, points)]
        count += len(pairs)
        (tabulated if law in tables else uniform if law == "uniform" else laws).extend(pairs)
    rows.append([f"limb-darkened source, every law and tables, ρ from 10⁻⁴ to 10³, l from 0 to 10⁴ "
                 f"({count} points, l = 1 ± 10⁻¹⁵ … 10⁻³ among them), at the default `rtol`",
                 "the integral in mpmath at 32 digits (`tools/gen_limb_darkening_reference.py`)",
                 f"laws {e(worst(laws))}; uniform law {e(worst(uniform))}; tables {e(worst(tabulated))}"])
    command = "python tools/regenerate_tables.py --only accuracy-models" + (" --quick" if options.quick else "")
    return Result(markdown(["quantity", "reference", "worst relative error"], rows), command, sys.executable)


def gradient_accuracy(options: Options) -> Result:
    """The derivatives against tests/data/limb_darkening_gradient_reference.csv."""
    import lumevaro

    _, tables = read_reference()
    worst_by: dict[str, list[float]] = {}
    with open(DATA / "limb_darkening_gradient_reference.csv", newline="") as f:
        groups: dict[tuple[str, str, float], list[dict[str, str]]] = {}
        for line in csv.DictReader(f):
            groups.setdefault((line["law"], line["coefficients"], float(line["rho"])), []).append(line)
    for (law, coefficients, rho), lines in groups.items():
        ls = [float.fromhex(line["l"]) for line in lines]
        if law in tables:
            _, du, drho, dc = lumevaro.tabulated_limb_darkened_magnification_gradient(
                ls, 1.0, rho, *tables[law])
        else:
            _, du, drho, dc = lumevaro.limb_darkened_magnification_gradient(
                ls, 1.0, rho, law, [float(c) for c in coefficients.split()])
        profile = "tables" if law in tables else law
        errors = worst_by.setdefault(profile, [0.0, 0.0, 0.0])
        for i, line in enumerate(lines):
            a = float(line["a"])
            measured = [(du[i], float(line["da_du"]), a / rho, 0), (drho[i], float(line["da_drho"]), a / rho, 1)]
            measured += [(dc[k][i], float(g), a, 2) for k, g in enumerate(line["da_dcoefficients"].split())]
            for value, reference, scale, column in measured:
                error = abs(value - reference) / (abs(reference) + scale)
                errors[column] = max(errors[column], error if math.isfinite(error) else math.inf)
    rows = [[profile, e(du_), e(drho_), e(dc_) if dc_ or profile != "uniform" else "—"]
            for profile, (du_, drho_, dc_) in worst_by.items()]
    command = "python tools/regenerate_tables.py --only gradient-accuracy" + (" --quick" if options.quick else "")
    return Result(markdown(["profile", "∂A/∂u", "∂A/∂ρ", "∂A/∂coefficients"], rows), command, sys.executable)


# ------------------------------------------------------------------ the tables

TABLES = [
    Table("comparison", "README.md", "speed", comparison),
    Table("accuracy-elliptic", "docs/guide/accuracy.md", "accuracy", elliptic),
    Table("accuracy-models", "docs/guide/accuracy.md", "accuracy", models),
    Table("peers", "docs/guide/limb-darkening.md", "speed", peers),
    Table("laws", "docs/guide/limb-darkening.md", "speed", laws),
    Table("dial", "docs/guide/limb-darkening.md", "speed", dial),
    Table("gradient-accuracy", "docs/guide/derivatives.md", "accuracy", gradient_accuracy),
    Table("gradient-cost", "docs/guide/derivatives.md", "speed",
          verbatim("gradients.py", "--rounds", "21", quick_arguments=["--rounds", "3"])),
    Table("near-source-profile", "README.md", "speed", near_source_profile),
    Table("laws-against-previous", "docs/guide/speed.md", "speed",
          verbatim("laws.py", "--rounds", "9", quick_arguments=["--rounds", "2"])),
    Table("light-curve", "docs/guide/speed.md", "speed", light_curve),
    Table("bench", "docs/guide/speed.md", "speed", bench),
    Table("simd", "docs/guide/speed.md", "speed", simd),
    Table("threads", "docs/guide/speed.md", "speed", verbatim("threads.py", quick_arguments=["--quick"])),
    Table("threads-free-threaded", "docs/guide/speed.md", "speed", threads_free_threaded),
]


def check(root: pathlib.Path) -> list[str]:
    """What is wrong with the markers of the pages under root."""
    problems = []
    for page in sorted({table.page for table in TABLES}):
        text = (root / page).read_text(encoding="utf-8")
        names = [match.group(1) for match in MARKER.finditer(text)]
        for table in TABLES:
            if table.page == page and names.count(table.name) != 1:
                problems.append(f"{page}: the markers of table {table.name!r} appear {names.count(table.name)} times")
        for match in MARKER.finditer(text):
            if match.group(1) not in {table.name for table in TABLES if table.page == page}:
                problems.append(f"{page}: table {match.group(1)!r} is not one this script makes")
            lines = match.group(2).strip().splitlines()
            if not any(line.startswith("|") for line in lines) or not lines[-1].startswith(PROVENANCE):
                problems.append(f"{page}: table {match.group(1)!r} lacks its table or its last line "
                                f"'{PROVENANCE}...'")
    return problems


def replace(root: pathlib.Path, table: Table, content: str) -> None:
    page = root / table.page
    text = page.read_text(encoding="utf-8")
    block = re.compile(rf"(<!-- table: {re.escape(table.name)} -->\n).*?(<!-- end table -->)", re.S)
    if not block.search(text):
        raise Skipped(f"no markers of table {table.name!r} in {table.page}")
    page.write_text(block.sub(lambda m: m.group(1) + content + "\n" + m.group(2), text, count=1), encoding="utf-8")


def main(argv: Sequence[str] | None = None) -> int:
    parser = argparse.ArgumentParser(description=(__doc__ or "").partition("\n")[0],
                                     formatter_class=argparse.RawDescriptionHelpFormatter)
    names = [table.name for table in TABLES]
    parser.add_argument("--only", action="append", choices=names, metavar="NAME",
                        help="regenerate this table only (repeatable); one of: " + ", ".join(names))
    parser.add_argument("--accuracy", action="store_true", help="the accuracy tables only")
    parser.add_argument("--speed", action="store_true", help="the speed tables only")
    parser.add_argument("--list", action="store_true", help="list the tables and exit")
    parser.add_argument("--check", action="store_true",
                        help="check the pages' markers and provenance lines, run nothing")
    parser.add_argument("--quick", action="store_true",
                        help="short benchmarks, pages written under --output-root (a smoke run)")
    parser.add_argument("--output-root", type=pathlib.Path,
                        help="write copies of the pages there (default with --quick: build/tables-quick)")
    parser.add_argument("--cpp-tests", type=pathlib.Path, default=ROOT / "build" / "test-plain" / "lumevaro_tests")
    parser.add_argument("--kernels", type=pathlib.Path, default=ROOT / "build" / "bench" / "kernels")
    parser.add_argument("--baseline", type=pathlib.Path, default=ROOT / "build" / SIMD_BASELINE / "build")
    parser.add_argument("--free-threaded", type=pathlib.Path, default=ROOT / "build" / "py3.13t" / "bin" / "python")
    arguments = parser.parse_args(argv)

    if arguments.list:
        for table in TABLES:
            print(f"{table.name:22} {table.kind:9} {table.page}")
        return 0
    if arguments.check:
        problems = check(ROOT)
        print("\n".join(problems) or "every table is between its markers with its provenance line")
        return 1 if problems else 0

    root = ROOT
    if arguments.quick or arguments.output_root:
        root = (arguments.output_root or ROOT / "build" / "tables-quick").resolve()
        for page in {table.page for table in TABLES}:
            (root / page).parent.mkdir(parents=True, exist_ok=True)
            shutil.copyfile(ROOT / page, root / page)
    options = Options(arguments.quick, arguments.cpp_tests.resolve(), arguments.kernels.resolve(),
                      arguments.baseline.resolve(), arguments.free_threaded.absolute())
    chosen = [table for table in TABLES
              if (not arguments.only or table.name in arguments.only)
              and (not arguments.accuracy or table.kind == "accuracy")
              and (not arguments.speed or table.kind == "speed")]
    skipped = []
    for table in chosen:
        try:
            result = table.make(options)
            replace(root, table, result.text + "\n\n" + provenance(table, result, arguments.quick))
            print(f"{table.name}: written into {os.path.relpath(root / table.page)}", file=sys.stderr)
        except Skipped as reason:
            skipped.append(table.name)
            print(f"{table.name}: skipped, {reason}", file=sys.stderr)
    if skipped:
        print(f"not regenerated: {', '.join(skipped)}", file=sys.stderr)
    return 1 if skipped else 0


if __name__ == "__main__":
    sys.exit(main())
