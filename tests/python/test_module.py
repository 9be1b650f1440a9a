"""Import, registration and signatures of the module's functions."""

import importlib
import importlib.metadata
import inspect
import pathlib
import re
import sys
import types

import pytest

import lumevaro
from conftest import ALL_SIGNATURES, FUNCTIONS, LIMB_DARKENED_SIGNATURES, SIGNATURES


def test_all_lists_the_functions_in_registration_order():
    assert type(lumevaro.__all__) is list
    assert lumevaro.__all__ == list(SIGNATURES) + list(LIMB_DARKENED_SIGNATURES)


def test_module_has_no_other_names_of_its_own():
    module_names = {"__all__", "__doc__", "__file__", "__loader__", "__name__",
                    "__package__", "__spec__", "__version__"}
    assert set(vars(lumevaro)) == module_names | set(ALL_SIGNATURES)
    assert not hasattr(lumevaro, "PanicException")


@pytest.mark.parametrize("name", ALL_SIGNATURES)
def test_function_object(name):
    function = getattr(lumevaro, name)
    assert type(function) is types.BuiltinFunctionType
    assert function.__name__ == name
    assert function.__qualname__ == name
    assert function.__module__ == "lumevaro"
    assert function.__self__ is lumevaro


@pytest.mark.parametrize("name", ALL_SIGNATURES)
def test_text_signature_and_docstring(name):
    function = getattr(lumevaro, name)
    parameters = ALL_SIGNATURES[name]
    keyword_only = FUNCTIONS[name].keyword_only
    text = ", ".join(parameters)
    if keyword_only:
        text += ", *, " + ", ".join(f"{p}={default!r}" for p, default in keyword_only)
    assert function.__text_signature__ == "(" + text + ")"
    if name in SIGNATURES:
        assert function.__doc__ is None
    else:
        # A summary line, then every parameter described.
        summary, blank, *rest = function.__doc__.splitlines()
        assert summary.endswith(".") and blank == ""
        described = parameters + tuple(p for p, _ in keyword_only)
        assert all(any(line.startswith(p) or f", {p}" in line for line in rest) for p in described)
    signature = inspect.signature(function)
    assert tuple(signature.parameters) == parameters + tuple(p for p, _ in keyword_only)
    kinds = [(p.kind, p.default) for p in signature.parameters.values()]
    assert kinds == ([(inspect.Parameter.POSITIONAL_OR_KEYWORD, inspect.Parameter.empty)] * len(parameters)
                     + [(inspect.Parameter.KEYWORD_ONLY, default) for _, default in keyword_only])


def test_module_docstring_is_one_line():
    assert lumevaro.__doc__ and "\n" not in lumevaro.__doc__


def test_reimport_returns_the_same_module_object():
    functions = [getattr(lumevaro, name) for name in ALL_SIGNATURES]
    saved = sys.modules.pop("lumevaro")
    try:
        again = importlib.import_module("lumevaro")
        assert again is saved
        assert again.__all__ == list(ALL_SIGNATURES)
        assert [getattr(again, name) for name in ALL_SIGNATURES] == functions
        assert all(getattr(again, n) is f for n, f in zip(ALL_SIGNATURES, functions))
    finally:
        sys.modules["lumevaro"] = saved


def test_version_is_the_package_version():
    # The version of the pyproject.toml the module was built from, and of the
    # installed distribution; an attribute only, not one of the exports.
    pyproject = pathlib.Path(__file__).resolve().parents[2] / "pyproject.toml"
    (declared,) = re.findall(r'(?m)^version = "([^"]+)"$', pyproject.read_text(encoding="utf-8"))
    assert type(lumevaro.__version__) is str
    assert lumevaro.__version__ == declared
    try:
        assert lumevaro.__version__ == importlib.metadata.version("lumevaro")
    except importlib.metadata.PackageNotFoundError:
        pass  # a build folder on sys.path, not an installed distribution
    assert "__version__" not in lumevaro.__all__
