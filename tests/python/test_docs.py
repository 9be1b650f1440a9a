"""Every Python block of the README and of the user guide (docs/) runs as
written, each on its own, and what a block says it prints is what it prints:
a block that ends its text with "which prints `...`" is checked against its
output. A block that imports JAX runs where JAX is installed."""

import contextlib
import io
import pathlib
import re
import subprocess
import sys

import pytest

ROOT = pathlib.Path(__file__).resolve().parents[2]
PAGES = [ROOT / "README.md", *sorted((ROOT / "docs").rglob("*.md"))]
BLOCK = re.compile(r"```python\n(.*?)```(?:\n\nwhich prints `([^`]*)`)?", re.S)


def blocks():
    for page in PAGES:
        for index, match in enumerate(BLOCK.finditer(page.read_text(encoding="utf-8"))):
            yield pytest.param(match.group(1), match.group(2),
                               id=f"{page.relative_to(ROOT).as_posix()}[{index}]")


@pytest.mark.parametrize("code, printed", list(blocks()))
def test_block_runs_and_prints_what_the_text_says(code, printed, capfd):
    if re.search(r"^\s*import jax|^\s*from jax", code, re.M):
        jax = pytest.importorskip("jax")
        jax.config.update("jax_enable_x64", True)
    output = io.StringIO()
    with contextlib.redirect_stdout(output):
        exec(compile(code, "<block>", "exec"), {"__name__": "__block__"})
    if printed is not None:
        assert output.getvalue().strip() == printed
    capfd.readouterr()  # a block may make the module write a diagnostic


def test_every_page_has_its_blocks_found():
    # A block the pattern missed (a fence written otherwise) would go unrun.
    for page in PAGES:
        text = page.read_text(encoding="utf-8")
        assert text.count("```python") == len(BLOCK.findall(text)), page


def test_site_builds_with_warnings_as_errors_and_every_reference_resolved(tmp_path):
    # Where the documentation's packages are installed (the test command
    # installs docs/requirements.txt for the default interpreter).
    for package in ("sphinx", "pydata_sphinx_theme", "numpydoc", "myst_parser"):
        pytest.importorskip(package)
    result = subprocess.run(
        [sys.executable, "-m", "sphinx", "-W", "-n", "-q", "-b", "html", str(ROOT / "docs"), str(tmp_path)],
        capture_output=True, text=True, timeout=600)
    assert result.returncode == 0, result.stdout + result.stderr
    api = (tmp_path / "api.html").read_text(encoding="utf-8")
    for name in ("limb_darkened_magnification", "light_curve_jacobian", "lumevaro.jax.light_curve"):
        assert f'id="{name if "." in name else "lumevaro." + name}"' in api, name
    for page in PAGES[1:]:
        assert (tmp_path / page.relative_to(ROOT / "docs").with_suffix(".html")).exists(), page
