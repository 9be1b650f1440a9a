"""Import, registration and signatures of the module's functions."""

import importlib
import importlib.metadata
import inspect
import pathlib
import re
import subprocess
import sys
import sysconfig
import types

import pytest

import lumevaro
from conftest import ALL_SIGNATURES, FUNCTIONS, LIMB_DARKENED_SIGNATURES, SIGNATURES


def test_all_lists_the_functions_in_registration_order():
    assert type(lumevaro.__all__) is list
    assert lumevaro.__all__ == list(SIGNATURES) + list(LIMB_DARKENED_SIGNATURES)


def test_package_has_no_other_public_names():
    # The package re-exports its extension module whole; beside the functions
    # it has only __all__, __version__ and Python's own module attributes.
    # (lumevaro.jax, once another test imported it, is an attribute too.)
    adapter = {"jax"} if "lumevaro.jax" in sys.modules else set()
    assert {name for name in vars(lumevaro) if not name.startswith("_")} - adapter == set(ALL_SIGNATURES)
    extension = lumevaro._lumevaro
    assert extension.__name__ == "lumevaro._lumevaro"
    assert set(vars(extension)) == {"__all__", "__doc__", "__file__", "__loader__", "__name__",
                                    "__package__", "__spec__", "__version__"} | set(ALL_SIGNATURES)
    assert extension.__all__ is lumevaro.__all__ and extension.__version__ == lumevaro.__version__
    assert not hasattr(lumevaro, "PanicException")
    # JAX is imported only by its adapter, lumevaro.jax.
    assert "jax" not in vars(lumevaro) or "lumevaro.jax" in sys.modules


@pytest.mark.parametrize("name", ALL_SIGNATURES)
def test_function_object(name):
    function = getattr(lumevaro, name)
    assert type(function) is types.BuiltinFunctionType
    assert function.__name__ == name
    assert function.__qualname__ == name
    assert function.__module__ == "lumevaro"
    assert function.__self__ is lumevaro._lumevaro


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


def test_reimport_returns_the_same_functions():
    # The extension module is made once: imported again (after it and the
    # package were dropped from sys.modules), it is the same object with the
    # same functions, and so is what the package exports.
    functions = [getattr(lumevaro, name) for name in ALL_SIGNATURES]
    saved = {name: sys.modules.pop(name) for name in ("lumevaro", "lumevaro._lumevaro")}
    try:
        again = importlib.import_module("lumevaro")
        assert again._lumevaro is saved["lumevaro._lumevaro"]
        assert again.__all__ == list(ALL_SIGNATURES)
        assert all(getattr(again, n) is f for n, f in zip(ALL_SIGNATURES, functions))
    finally:
        sys.modules.update(saved)


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


def test_free_threaded_interpreter_keeps_the_gil_off():
    # The module declares that it runs without the GIL; importing it must not
    # turn the GIL back on (nor warn that it does).
    if not sysconfig.get_config_var("Py_GIL_DISABLED"):
        pytest.skip("not a free-threaded interpreter")
    script = ("import sys, warnings; warnings.simplefilter('error'); import lumevaro; "
              "print(sys._is_gil_enabled())")
    result = subprocess.run([sys.executable, "-X", "gil=0", "-c", script], capture_output=True,
                            text=True, timeout=60)
    assert result.returncode == 0, result.stderr
    assert result.stdout.strip() == "False"
