"""The distribution as a user gets it: the sdist holds the project's files,
a wheel built from that sdist holds the extension and its stub package, and
installed into a fresh virtual environment it imports, computes the same
values as the module under test, and type checkers find its stub there.

Slow (one sdist, one wheel build, one virtual environment): about half a
minute."""

import email.parser
import json
import os
import pathlib
import subprocess
import sys
import sysconfig
import tarfile
import textwrap
import zipfile

import pytest

import lumevaro

try:
    import tomllib
except ImportError:  # Python < 3.11
    tomllib = pytest.importorskip("tomli")

pytestmark = pytest.mark.packaging

ROOT = pathlib.Path(__file__).resolve().parents[2]
STUB = ROOT / "stubs" / "lumevaro-stubs" / "__init__.pyi"
PACKAGE = ROOT / "python" / "lumevaro"
PROJECT = tomllib.loads((ROOT / "pyproject.toml").read_text(encoding="utf-8"))
NAME_VERSION = "lumevaro-{version}".format(**PROJECT["project"])
SEPARATIONS = [0.0, 0.5, 0.999995, 1.0, 2.0, 30.0]


def run(command, **options):
    """Runs a command, failing the test with its output if it fails."""
    environment = dict(os.environ, CMAKE_BUILD_PARALLEL_LEVEL="2",
                       PIP_DISABLE_PIP_VERSION_CHECK="1")
    environment.pop("MYPYPATH", None)
    result = subprocess.run([str(part) for part in command], capture_output=True, text=True,
                            env=environment, timeout=300, **options)
    assert result.returncode == 0, f"{command}\n{result.stdout}\n{result.stderr}"
    return result


@pytest.fixture(scope="module")
def dist(tmp_path_factory):
    """The sdist built from the working tree with the project's own build
    backend, the wheel that pip builds from that sdist, and the files git
    tracked when the sdist was made."""
    folder = tmp_path_factory.mktemp("dist")
    backend = folder / "backend"
    # What git tracks now, before the build: others may be adding files.
    tracked = []
    if (ROOT / ".git").exists():
        tracked = [path for path in run(["git", "ls-files"], cwd=ROOT).stdout.splitlines()
                   if (ROOT / path).is_file()]
    run([sys.executable, "-m", "pip", "install", "--quiet", "--target", backend,
         *PROJECT["build-system"]["requires"]])
    run([sys.executable, "-c",
         "import sys; sys.path.insert(0, sys.argv[2]);"
         "from scikit_build_core.build import build_sdist; build_sdist(sys.argv[1])",
         folder, backend], cwd=ROOT)
    (sdist,) = folder.glob("*.tar.gz")
    run([sys.executable, "-m", "pip", "wheel", "--no-deps", "--wheel-dir", folder, sdist])
    (wheel,) = folder.glob("*.whl")
    return sdist, wheel, tracked


@pytest.fixture(scope="module")
def venv(dist, tmp_path_factory):
    """A fresh virtual environment, without the system's site-packages, with
    the wheel installed from its file and its one dependency, numpy."""
    folder = tmp_path_factory.mktemp("venv")
    run([sys.executable, "-m", "venv", folder])
    python = folder / "bin" / "python"
    run([python, "-m", "pip", "install", "--quiet", dist[1]])
    return python


def test_sdist_holds_the_project_and_no_build_output(dist):
    with tarfile.open(dist[0]) as archive:
        names = {name.partition("/")[2] for name in archive.getnames()}
    assert {"PKG-INFO", "pyproject.toml", "CMakeLists.txt", "LICENSE", "README.md",
            "stubs/lumevaro-stubs/__init__.pyi", "src/lib.cpp", "tools/test.sh"} <= names
    missing = [path for path in dist[2] if path not in names]
    assert not missing, missing
    for top in ("src", "tests", "tools", "benchmarks", "examples"):
        assert any(name.startswith(top + "/") for name in names), top
    assert not [name for name in names if name.startswith(("build/", ".git/", "dist/"))
                or name.endswith((".so", ".o", ".pyc"))]


def test_wheel_holds_the_extension_the_stub_and_the_metadata(dist):
    with zipfile.ZipFile(dist[1]) as wheel:
        names = set(wheel.namelist())
        stub = wheel.read("lumevaro-stubs/__init__.pyi")
        metadata = email.parser.Parser().parsestr(
            wheel.read(f"{NAME_VERSION}.dist-info/METADATA").decode())
        wheel_info = email.parser.Parser().parsestr(
            wheel.read(f"{NAME_VERSION}.dist-info/WHEEL").decode())
    info = f"{NAME_VERSION}.dist-info/"
    package = {"lumevaro/" + path.relative_to(PACKAGE).as_posix() for path in PACKAGE.rglob("*.py")}
    stubs = {"lumevaro-stubs/" + path.name for path in STUB.parent.glob("*.pyi")}
    assert names == package | stubs | {
        "lumevaro/_lumevaro" + sysconfig.get_config_var("EXT_SUFFIX"),
        info + "METADATA", info + "WHEEL", info + "RECORD", info + "licenses/LICENSE",
    }
    assert stub == STUB.read_bytes()
    assert wheel_info["Root-Is-Purelib"] == "false"

    project = PROJECT["project"]
    assert metadata["Name"] == "lumevaro" and metadata["Version"] == project["version"]
    assert metadata["License-Expression"] == "MIT"
    assert metadata["Requires-Python"] == ">=3.9"
    required = [d for d in metadata.get_all("Requires-Dist") if "extra ==" not in d]
    assert required == project["dependencies"]
    assert metadata["Keywords"] and metadata["Summary"]
    assert set(metadata.get_all("Classifier")) == set(project["classifiers"])
    assert "Typing :: Typed" in metadata.get_all("Classifier")


def test_installed_wheel_imports_in_a_fresh_environment(venv):
    script = textwrap.dedent("""\
        import json, sys
        import lumevaro
        assert sys.prefix != sys.base_prefix
        assert lumevaro.__file__.startswith(sys.prefix), lumevaro.__file__
        try:
            import hypothesis
        except ImportError:
            pass
        else:
            raise AssertionError("the environment sees the system's site-packages")
        print(json.dumps([lumevaro.__all__,
                          lumevaro.witt_mao_magnification(json.loads(sys.argv[1]), 1.0, 0.1)]))
        """)
    result = run([venv, "-c", script, json.dumps(SEPARATIONS)], cwd=venv.parent)
    names, values = json.loads(result.stdout)
    assert names == lumevaro.__all__
    # The same bits as the module under test (JSON keeps a double's repr).
    assert values == lumevaro.witt_mao_magnification(SEPARATIONS, 1.0, 0.1)


TYPED_CALLER = """\
import sys

if sys.version_info >= (3, 11):
    from typing import assert_type
else:
    from typing_extensions import assert_type

import lumevaro

separations = [0.5, 1.0, 2.0]
disc = lumevaro.witt_mao_magnification(separations, re=1.0, rstar=0.1)
assert_type(disc, list[float])
ring = lumevaro.heyrovsky_magnification(2.0, 0.5, 1, 0.1)
assert_type(ring, float)
rings = lumevaro.discrete_flux_map_heyrovsky_magnification((2.0,), 1.0, 0.1, range(2), [0.5, 0.5])
assert_type(rings, list[float])
# A list where one separation belongs: refused by the stub, so each checker
# needs its ignore comment (an unneeded one is an error of its own).
wrong = lumevaro.heyrovsky_magnification(separations, 0.5, 1.0, 0.1)  # type: ignore[arg-type]  # pyright: ignore[reportArgumentType]
"""


def test_type_checkers_resolve_the_installed_stub(venv, tmp_path):
    caller = tmp_path / "caller.py"
    caller.write_text(TYPED_CALLER, encoding="utf-8")
    site_packages = run([venv, "-c", "import sysconfig; print(sysconfig.get_path('purelib'))"]
                        ).stdout.strip()

    mypy = run([sys.executable, "-m", "mypy", "--strict", "--verbose", "--python-executable",
                venv, "--cache-dir", tmp_path / "mypy-cache", caller.name], cwd=tmp_path)
    assert f"Parsing {site_packages}/lumevaro-stubs/__init__.pyi (lumevaro)" in mypy.stderr

    # basedpyright bundles pyright and its node runtime as PyPI packages.
    (tmp_path / "pyrightconfig.json").write_text(
        '{"typeCheckingMode": "strict", "enableTypeIgnoreComments": false,'
        ' "reportUnnecessaryTypeIgnoreComment": "error"}')
    pyright = run([sys.executable, "-m", "basedpyright", "--verbose", "--pythonpath", venv,
                   caller.name], cwd=tmp_path)
    assert "0 errors, 0 warnings" in pyright.stdout
    search_paths = [line.strip() for line in pyright.stdout.splitlines()
                    if line.strip().endswith("site-packages")]
    assert search_paths == [site_packages], pyright.stdout
