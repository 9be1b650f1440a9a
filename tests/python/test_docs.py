"""Every Python block of the README and of the user guide (docs/) runs as
written, each on its own, and what a block says it prints is what it prints:
a block that ends its text with "which prints `...`" is checked against its
output; so do the examples of the API reference. A block that imports JAX
runs where JAX is installed. The site builds with warnings as errors, its
gallery running the examples, and headless Chromium, where the machine has
it, shows its pages with their titles and figures and finds the Jacobian
through the search box."""

import contextlib
import doctest
import io
import os
import pathlib
import re
import shutil
import subprocess
import sys

import pytest

ROOT = pathlib.Path(__file__).resolve().parents[2]
PAGES = [ROOT / "README.md", *sorted(page for page in (ROOT / "docs").rglob("*.md")
                                      if "gallery" not in page.relative_to(ROOT / "docs").parts)]
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


def test_the_reference_examples_print_what_they_show():
    # The API reference writes the examples of the functions it documents by
    # hand (not from their docstrings) as doctests; each runs and prints its
    # line.
    text = (ROOT / "docs" / "api.md").read_text(encoding="utf-8")
    test = doctest.DocTestParser().get_doctest(text, {}, "api.md", "docs/api.md", 0)
    runner = doctest.DocTestRunner(optionflags=doctest.ELLIPSIS)
    report = io.StringIO()
    runner.run(test, out=report.write)
    assert len(test.examples) >= 14
    assert runner.failures == 0, report.getvalue()


def test_every_page_has_its_blocks_found():
    # A block the pattern missed (a fence written otherwise) would go unrun.
    for page in PAGES:
        text = page.read_text(encoding="utf-8")
        assert text.count("```python") == len(BLOCK.findall(text)), page


# Tables of measured figures: a header naming a time, an error, a ratio or a
# scaling. Each sits between the markers of tools/regenerate_tables.py, which
# rewrites it, and ends with the line that names the command and machine.
TABLE_BLOCK = re.compile(r"<!-- table: ([a-z0-9-]+) -->\n(.*?)<!-- end table -->", re.S)
MEASURED_HEADER = re.compile(r"µs|\bns\b|error|per (call|point|value)|speed-up|two threads|measured|ratio|∂A/∂")


def test_every_table_of_figures_is_regenerated_with_its_provenance():
    result = subprocess.run([sys.executable, str(ROOT / "tools" / "regenerate_tables.py"), "--check"],
                            capture_output=True, text=True, timeout=60)
    assert result.returncode == 0, result.stdout + result.stderr
    for page in [ROOT / "README.md", *sorted((ROOT / "docs" / "guide").glob("*.md"))]:
        text = page.read_text(encoding="utf-8")
        for match in TABLE_BLOCK.finditer(text):
            provenance = match.group(2).strip().splitlines()[-1]
            assert provenance.startswith("Produced by `"), (page, match.group(1))
            assert re.search(r"cores|machine", provenance) and re.search(r"Python|built by", provenance), \
                (page, match.group(1))
        outside = TABLE_BLOCK.sub("", text)
        headers = [line for line, below in zip(outside.splitlines(), outside.splitlines()[1:])
                   if line.startswith("|") and below.startswith("|-")]
        for header in headers:
            assert not MEASURED_HEADER.search(header), f"{page.name}: a table of figures without markers: {header}"


DOCS_PACKAGES = ("sphinx", "pydata_sphinx_theme", "numpydoc", "myst_parser", "sphinx_gallery")
EXAMPLES = sorted((ROOT / "examples").glob("*.py"))
# The examples the gallery shows without running them (docs/conf.py).
NOT_RUN = {"hmc_event", "dask_grid", "make_figures"}


@pytest.fixture(scope="module")
def site(tmp_path_factory):
    """The site built with warnings as errors and nitpicky references, where
    the documentation's packages are installed (the test command installs
    docs/requirements.txt for the default interpreter). It is built from a
    copy of docs/ and examples/, so that the gallery runs every example
    afresh (sphinx-gallery skips an example whose output it has) and
    nothing is written into the work tree."""
    for package in DOCS_PACKAGES:
        pytest.importorskip(package)
    sources = tmp_path_factory.mktemp("sources")
    shutil.copytree(ROOT / "docs", sources / "docs", ignore=shutil.ignore_patterns("gallery"))
    shutil.copytree(ROOT / "examples", sources / "examples",
                    ignore=shutil.ignore_patterns("__pycache__", "*.png"))
    folder = tmp_path_factory.mktemp("site")
    result = subprocess.run(
        [sys.executable, "-m", "sphinx", "-W", "-n", "-q", "-b", "html", str(sources / "docs"), str(folder)],
        capture_output=True, text=True, timeout=600)
    assert result.returncode == 0, result.stdout + result.stderr
    return folder


def test_site_builds_with_every_page_and_function(site):
    import lumevaro

    api = (site / "api.html").read_text(encoding="utf-8")
    # Every public function has its entry: the seven older ones written in
    # the reference, the others read from their docstrings.
    for name in [*lumevaro.__all__, "jax.light_curve", "jax.limb_darkened_magnification"]:
        assert f'id="lumevaro.{name}"' in api, name
    for page in PAGES[1:]:
        assert (site / page.relative_to(ROOT / "docs").with_suffix(".html")).exists(), page
    # References to the seven from elsewhere land on their entries.
    physics = (site / "guide" / "physics.html").read_text(encoding="utf-8")
    assert 'href="../api.html#lumevaro.witt_mao_magnification"' in physics


@pytest.mark.parametrize("example", [path.stem for path in EXAMPLES])
def test_the_gallery_shows_every_example_with_its_output(site, example):
    page = (site / "gallery" / f"{example}.html").read_text(encoding="utf-8")
    index = (site / "gallery" / "index.html").read_text(encoding="utf-8")
    assert f'href="{example}.html' in index
    assert "download" in page and f"{example}.py" in page
    # The build ran it: what it printed is on the page (in a block of the
    # script's output), or it is one of those shown without running.
    assert ('sphx-glr-script-out' in page) == (example not in NOT_RUN), example
    if example == "light_curve":
        assert "sum of rings assembled in Python" in page
        assert re.search(r'<img[^>]*src="../_images/sphx_glr_light_curve_001\.png"', page)
    if example in {"hmc_event", "make_figures"}:  # its committed figure instead
        assert re.search(r'<img[^>]*src="../_images/(hmc_event|magnification)\.png"', page)


def chromium(*arguments):
    """Headless Chromium's output, run without the sanitizer runtime a test
    run may preload."""
    environment = {k: v for k, v in os.environ.items() if k not in ("LD_PRELOAD", "ASAN_OPTIONS")}
    result = subprocess.run(["chromium", "--headless", "--no-sandbox", "--disable-gpu", "--hide-scrollbars",
                             *arguments], capture_output=True, text=True, timeout=120, env=environment)
    assert result.returncode == 0, result.stderr
    return result.stdout


# (page, its title): the front page, a function's reference, an example of
# the gallery with the figure its run drew.
PAGES_SEEN = [("index.html", "lumevaro"), ("api.html#lumevaro.limb_darkened_magnification", "API reference"),
              ("gallery/light_curve.html", "Light curve of a source-crossing event")]


@pytest.mark.parametrize("page, title", PAGES_SEEN)
def test_a_reader_sees_the_page_with_its_title_and_a_figure(site, page, title):
    if shutil.which("chromium") is None:
        pytest.skip("no Chromium on this machine")
    url = (site / page.split("#")[0]).as_uri() + ("#" + page.split("#")[1] if "#" in page else "")
    dom = chromium("--virtual-time-budget=5000", "--dump-dom", url)
    assert re.search(rf"<h1[^>]*>\s*{re.escape(title)}", dom), page
    if "api" not in page:
        images = re.findall(r'<img[^>]*src="([^"]+)"', dom)
        assert images and all((site / page).parent.joinpath(i).exists() for i in images), page
    # A screenshot, kept for a look, that is not one flat colour.
    shots = ROOT / "build" / "site-screenshots"
    shots.mkdir(parents=True, exist_ok=True)
    shot = shots / (page.split("#")[0].replace("/", "-").replace(".html", ".png"))
    chromium("--window-size=1280,1600", f"--screenshot={shot}", url)
    pixels = matplotlib_image().imread(shot)
    assert pixels.std() > 0.05, shot


def test_the_search_box_finds_the_jacobian_in_the_reference(site):
    if shutil.which("chromium") is None:
        pytest.skip("no Chromium on this machine")
    dom = chromium("--virtual-time-budget=10000", "--dump-dom", (site / "search.html").as_uri() + "?q=jacobian")
    assert 'href="api.html#lumevaro.light_curve_jacobian"' in dom


def matplotlib_image():
    return pytest.importorskip("matplotlib.image")
