"""The type stub against the module: names, parameters and result types, and
type checkers that accept exactly the calls the module accepts."""

import array
import ast
import importlib.util
import json
import os
import pathlib
import shutil
import subprocess
import sys
from decimal import Decimal
from fractions import Fraction

import pytest

import lumevaro
from conftest import FUNCTIONS, LAWS, valid_arguments

np = pytest.importorskip("numpy")

ROOT = pathlib.Path(__file__).resolve().parents[2]
STUB = ROOT / "stubs" / "lumevaro-stubs" / "__init__.pyi"

# One call per line of a checked file: (expression, accepted). An accepted
# call must run and type-check; a refused one must raise TypeError and be
# flagged by both checkers on its own line.
CALLS = [
    ("lumevaro.witt_mao_magnification([0.5, 2], 1, 0.1)", True),
    ("lumevaro.witt_mao_magnification((0.5, 2.0), re=1.0, rstar=0.1)", True),
    ("lumevaro.witt_mao_magnification(range(3), True, Fraction(1, 10))", True),
    ("lumevaro.witt_mao_magnification(np.linspace(0.5, 2.0, 4), np.float32(1), Decimal('0.1'))",
     True),
    ("lumevaro.witt_mao_magnification(np.arange(3), 1.0, 0.1)", True),
    ("lumevaro.witt_mao_magnification(array.array('d', [0.5, 2.0]), 1.0, 0.1)", True),
    ("lumevaro.witt_mao_magnification([np.float32(0.5), Fraction(2)], 1.0, 0.1)", True),
    ("lumevaro.heyrovsky_magnification(np.float64(2.0), 0.5, 1, np.int64(1))", True),
    ("lumevaro.discrete_flux_map_heyrovsky_magnification([2.0], 1.0, 0.1, (0.5, 1.0), np.ones(2))",
     True),
    ("lumevaro.integrated_flux_map_heyrovsky_magnification("
     "l=[2.0], re=1.0, rstar=0.1, bl=[0.0, 1.0], bf=[1.0, 0.5])", True),
    ("lumevaro.limb_darkened_magnification([0.5, 2], 1, 0.1, 'quadratic', (0.4, 0.25))", True),
    ("lumevaro.limb_darkened_magnification(np.arange(3), 1.0, 0.1, law='uniform', "
     "coefficients=[])", True),
    ("lumevaro.tabulated_limb_darkened_magnification([2.0], 1.0, 0.1, (0, 0.5, 1), np.ones(3))",
     True),
    ("lumevaro.witt_mao_magnification('0.5', 1.0, 0.1)", False),
    ("lumevaro.witt_mao_magnification({0.5, 2.0}, 1.0, 0.1)", False),
    ("lumevaro.witt_mao_magnification(0.5, 1.0, 0.1)", False),
    ("lumevaro.witt_mao_magnification((x for x in [0.5]), 1.0, 0.1)", False),
    ("lumevaro.witt_mao_magnification(['0.5'], 1.0, 0.1)", False),
    ("lumevaro.witt_mao_magnification([0.5j], 1.0, 0.1)", False),
    ("lumevaro.witt_mao_magnification([0.5], None, 0.1)", False),
    ("lumevaro.witt_mao_magnification([0.5], 1.0, '0.1')", False),
    ("lumevaro.heyrovsky_magnification([2.0], 0.5, 1.0, 0.1)", False),
    ("lumevaro.discrete_flux_map_heyrovsky_magnification([2.0], 1.0, 0.1, [0.5], 1.0)", False),
    ("lumevaro.limb_darkened_magnification([0.5], 1.0, 0.1, None, [0.6])", False),
    ("lumevaro.limb_darkened_magnification([0.5], 1.0, 0.1, 'linear', 0.6)", False),
    ("lumevaro.limb_darkened_magnification([0.5], 1.0, 0.1, ['linear'], [0.6])", False),
    ("lumevaro.tabulated_limb_darkened_magnification([0.5], 1.0, 0.1, [0.0, 1.0])", False),
    ("lumevaro.witt_mao_magnification([0.5], 1.0)", False),
    ("lumevaro.witt_mao_magnification([0.5], 1.0, 0.1, 5)", False),
    ("lumevaro.witt_mao_magnification([0.5], 1.0, rstar=0.1, radius=1.0)", False),
    ("lumevaro.witt_mao_magnification([0.5], 1.0, 0.1, l=[2.0])", False),
]

CALLS_HEADER = """\
import array
from decimal import Decimal
from fractions import Fraction

import numpy as np

import lumevaro
"""


CALLS += [
    ("lumevaro.limb_darkened_magnification(np.ones((2, 3)), 1.0, 0.1, 'linear', [0.6])", True),
    ("lumevaro.limb_darkened_magnification(0.5, 1.0, 0.1, 'linear', [0.6])", True),
    ("lumevaro.limb_darkened_magnification([[0.5, 1], [2, 3]], 1.0, 0.1, 'linear', [0.6])", True),
    ("lumevaro.limb_darkened_magnification_bands_gradient([0.5], 1.0, 0.1, 'linear', [[0.6], [0.3]])",
     True),
    ("lumevaro.light_curve(np.linspace(-1, 1, 5), 0.0, 0.01, 20.0, 0.05, 'linear', [0.6])", True),
    ("lumevaro.light_curve_jacobian([0.0, 1.0], 0, 0.01, 20, np.array([0.05, 0.1]), 'table', "
     "[1.0, 0.5], radii=[0.0, 1.0], rtol=1e-6)", True),
    ("lumevaro.limb_darkened_magnification(None, 1.0, 0.1, 'linear', [0.6])", False),
    ("lumevaro.light_curve([0.0], 0.0, 0.01, 20.0, 0.05, 'linear', [0.6], radii=0.5)", False),
    ("lumevaro.light_curve_jacobian([0.0], 0.0, 0.01, 20.0, 0.05, 'linear', [0.6], 1e-6)", False),
]

# Parameters that are neither a number nor a sequence of numbers.
SPECIAL_ANNOTATIONS = {"law": "_Law", "bands": "Sequence[_FloatSequence]"}
# The light curves take a table's name beside the laws'.
LIGHT_CURVE_LAW = "_Law | Literal['table']"
# The keyword-only parameters' annotations.
KEYWORD_ANNOTATIONS = {"rtol": "float", "radii": "_FloatSequence | None"}
# What each kind of result is declared as.
RESULT_ANNOTATIONS = {"list": "list[float]", "float": "float", "array": "_Values"}


def call_arguments(name):
    return valid_arguments(name)


def parsed_stub():
    return ast.parse(STUB.read_text(encoding="utf-8"))


def defined_name(node):
    if isinstance(node, (ast.FunctionDef, ast.ClassDef)):
        return node.name
    if isinstance(node, ast.AnnAssign) and isinstance(node.target, ast.Name):
        return node.target.id
    if isinstance(node, ast.Assign) and len(node.targets) == 1:
        return getattr(node.targets[0], "id", None)
    return None


@pytest.fixture(scope="module")
def stub_path(tmp_path_factory):
    """A folder holding the stubs as the package lumevaro, for MYPYPATH and
    pyright's stubPath: the checkers read this working tree's stubs,
    whatever is installed."""
    folder = tmp_path_factory.mktemp("stubs")
    shutil.copytree(STUB.parent, folder / "lumevaro")
    return folder


def run_mypy(arguments, stub_path, cwd, cache):
    return subprocess.run(
        [sys.executable, "-m", "mypy", "--strict", "--cache-dir", str(cache), *arguments],
        capture_output=True, text=True, cwd=cwd, timeout=300,
        env=dict(os.environ, MYPYPATH=str(stub_path)))


def test_stub_declares_the_module_names_in_order():
    tree = parsed_stub()
    names = [defined_name(node) for node in tree.body]
    public = [name for name in names if name and not name.startswith("_")]
    assert public == lumevaro.__all__
    (all_node,) = [node for node in tree.body if defined_name(node) == "__all__"]
    assert ast.literal_eval(all_node.value) == lumevaro.__all__
    (version,) = [node for node in tree.body if defined_name(node) == "__version__"]
    assert ast.unparse(version.annotation) == "str" and type(lumevaro.__version__) is str


@pytest.mark.parametrize("name", lumevaro.__all__)
def test_stub_signature_follows_the_module(name):
    (function,) = [node for node in parsed_stub().body
                   if isinstance(node, ast.FunctionDef) and node.name == name]
    runtime = getattr(lumevaro, name)

    row = FUNCTIONS[name]
    assert [argument.arg for argument in function.args.args] == list(row.parameters)
    # The required parameters may be given by position or keyword; the
    # optional ones are keyword-only floats with the module's defaults.
    assert not (function.args.posonlyargs or function.args.defaults or function.args.vararg
                or function.args.kwarg)
    assert [(a.arg, ast.unparse(a.annotation)) for a in function.args.kwonlyargs] == \
        [(p, KEYWORD_ANNOTATIONS[p]) for p, _ in row.keyword_only]
    assert [ast.literal_eval(d) for d in function.args.kw_defaults] == [d for _, d in row.keyword_only]

    # A parameter is typed as a sequence exactly where the module refuses a
    # single number with its not-a-sequence TypeError.
    for index, argument in enumerate(function.args.args):
        arguments = list(call_arguments(name))
        arguments[index] = 0.5
        try:
            runtime(*arguments)
            wants_sequence = False
        except (TypeError, ValueError) as error:
            wants_sequence = "cannot be converted to 'Sequence'" in str(error)
        annotation = ast.unparse(argument.annotation)
        if argument.arg in row.arrays:
            expected = "_RealArrayLike"
        else:
            expected = "_FloatSequence" if wants_sequence else "_FloatLike"
        expected = SPECIAL_ANNOTATIONS.get(argument.arg, expected)
        if argument.arg == "law" and "t" in row.parameters:
            expected = LIGHT_CURVE_LAW
        assert annotation == expected, argument.arg

    result = runtime(*call_arguments(name))
    assert all(type(x) is float for x in row.flatten(result))
    returns = ast.unparse(function.returns)
    if row.result == "list":
        assert type(result) is list
    elif row.result == "float":
        assert type(result) is float
    elif row.result == "array":
        assert type(result) is np.ndarray and result.dtype == np.float64
    else:  # a value with its derivatives: a tuple of arrays
        assert type(result) is tuple and all(type(part) is np.ndarray for part in result)
        assert returns == f"tuple[{', '.join(['_Values'] * len(result))}]"
    if row.result in RESULT_ANNOTATIONS:
        assert returns == RESULT_ANNOTATIONS[row.result]

    assert "source radi" in (ast.get_docstring(function) or "")


def test_the_law_literal_lists_exactly_the_laws_the_module_takes():
    (alias,) = [node for node in parsed_stub().body if defined_name(node) == "_Law"]
    laws = [element.value for element in alias.value.slice.elts]
    assert sorted(laws) == sorted(LAWS)
    for law in laws:
        lumevaro.limb_darkened_magnification([0.5], 1.0, 0.1, law, list(LAWS[law]))
    with pytest.raises(ValueError) as unknown:
        lumevaro.limb_darkened_magnification([0.5], 1.0, 0.1, "gray", [])
    assert all(law in str(unknown.value) for law in laws)


def test_integrated_forms_point_to_the_limb_darkened_functions():
    for node in parsed_stub().body:
        if isinstance(node, ast.FunctionDef) and node.name.startswith("integrated_"):
            text = " ".join((ast.get_docstring(node) or "").split())
            assert "Not a limb-darkened magnification" in text, node.name
            assert "limb_darkened_magnification" in text, node.name


def test_checkers_accept_exactly_the_calls_the_module_accepts(stub_path, tmp_path):
    namespace = {"lumevaro": lumevaro, "np": np, "array": array, "Decimal": Decimal,
                 "Fraction": Fraction}
    for expression, accepted in CALLS:
        if accepted:
            eval(expression, namespace)
        else:
            with pytest.raises(TypeError):
                eval(expression, namespace)

    first_line = CALLS_HEADER.count("\n") + 1
    source = tmp_path / "calls.py"
    source.write_text(CALLS_HEADER + "".join(e + "\n" for e, _ in CALLS), encoding="utf-8")
    refused = {first_line + i for i, (_, accepted) in enumerate(CALLS) if not accepted}

    mypy = run_mypy([source.name], stub_path, tmp_path, tmp_path / "mypy-cache")
    mypy_lines = {int(line.split(":")[1]) for line in mypy.stdout.splitlines()
                  if line.startswith(source.name + ":") and ": error:" in line}
    assert mypy_lines == refused, mypy.stdout

    (tmp_path / "pyrightconfig.json").write_text(json.dumps(
        {"stubPath": str(stub_path), "typeCheckingMode": "standard"}))
    pyright = subprocess.run(
        [sys.executable, "-m", "basedpyright", "--outputjson", "--pythonpath", sys.executable,
         source.name],
        capture_output=True, text=True, cwd=tmp_path, timeout=300)
    report = json.loads(pyright.stdout)
    pyright_lines = {d["range"]["start"]["line"] + 1 for d in report["generalDiagnostics"]
                     if d["severity"] == "error"}
    assert pyright_lines == refused, pyright.stdout


def test_examples_type_check_strictly(stub_path, tmp_path):
    # An example is checked where the packages it imports are installed (JAX,
    # NumPyro and Dask are not everywhere), with their types.
    def importable(path):
        tree = ast.parse(path.read_text(encoding="utf-8"))
        names = {alias.name for node in ast.walk(tree) if isinstance(node, ast.Import)
                 for alias in node.names}
        names |= {node.module for node in ast.walk(tree)
                  if isinstance(node, ast.ImportFrom) and node.module and not node.level}
        return all(name.split(".")[0] in siblings or importlib.util.find_spec(name.split(".")[0])
                   for name in names)

    paths = sorted((ROOT / "examples").glob("*.py"))
    siblings = {path.stem for path in paths}
    examples = [path.relative_to(ROOT).as_posix() for path in paths if importable(path)]
    assert len(examples) >= len(paths) - 2, examples
    result = run_mypy(examples, stub_path, ROOT, tmp_path / "mypy-cache")
    assert result.returncode == 0, result.stdout + result.stderr
