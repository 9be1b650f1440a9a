"""Sphinx configuration of lumevaro's documentation.

Build it with

    python -m sphinx -W -n -b html docs build/docs

(the packages of docs/requirements.txt and lumevaro installed). The build
needs no network: no inventory of another project is fetched. It runs the
examples of the gallery (a few seconds) and writes their pages into
docs/gallery/, which git ignores.
"""

import importlib.util

import lumevaro

project = "lumevaro"
author = "the lumevaro developers"
copyright = "2026, the lumevaro developers"
release = lumevaro.__version__
version = ".".join(release.split(".")[:2])

extensions = [
    "sphinx.ext.autodoc",
    "sphinx.ext.mathjax",
    "numpydoc",
    "myst_parser",
    "sphinx_gallery.gen_gallery",
]

source_suffix = {".rst": "restructuredtext", ".md": "markdown"}
exclude_patterns = ["_build", "*.png"]
myst_enable_extensions = ["dollarmath", "colon_fence"]

# The functions' docstrings are numpydoc sections; their types are prose
# ("array_like of float, any shape"), not references to resolve.
numpydoc_show_class_members = False
numpydoc_xref_param_type = False
autodoc_default_options = {"members": False}
# lumevaro.jax's page is read from its docstrings with or without JAX
# installed: without it, autodoc stands in for JAX.
autodoc_mock_imports = [] if importlib.util.find_spec("jax") else ["jax"]

# Nitpicky (-n): every reference must resolve, without other projects'
# inventories; these names are written as text in the docstrings.
nitpick_ignore_regex = [(r"py:.*", r"(numpy|jax|collections\.abc)\..*"),
                        # The exceptions of the reference's Raises fields:
                        # Python's own, and the panic of a table's lengths.
                        (r"py:exc", r"[A-Za-z]*Error|pyo3_runtime\.PanicException")]

# The gallery: the scripts of examples/ as pages of gallery/ (generated at
# every build, not committed), run by the build with their output and
# figures, but for three shown without running: hmc_event.py needs JAX and
# NumPyro and samples for some 40 s, dask_grid.py needs a Dask cluster and
# make_figures.py writes into docs/ (the sampler's page and the figures'
# show the committed figures instead). The scripts run as from the command line, with no arguments, in
# examples/ (where the light curve writes light_curve.png, which git ignores).
sphinx_gallery_conf = {
    "examples_dirs": "../examples",
    "gallery_dirs": "gallery",
    "filename_pattern": r"/(light_curve|fit_event|fit_bands|thread_fits)\.py$",
    "within_subsection_order": "FileNameSortKey",
    "remove_config_comments": True,
    "download_all_examples": False,
    "write_computation_times": False,
    "abort_on_example_error": True,
    "show_memory": False,
    "image_scrapers": ("matplotlib",),
}

html_theme = "pydata_sphinx_theme"
html_title = f"lumevaro {release}"
html_theme_options = {"navigation_with_keys": False, "show_toc_level": 2}
