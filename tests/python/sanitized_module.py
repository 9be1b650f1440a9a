"""pytest plugin for the run of the suite against the module built with
AddressSanitizer and UBSan (tools/test.sh loads it with `-p sanitized_module`
and names the build folder in LUMEVARO_SANITIZED_BUILD).

It stops the run unless `import lumevaro` found the module in that folder,
prints the module's path.
"""

import os
import pathlib

import pytest

import lumevaro

SANITIZED_BUILD = os.environ.get("LUMEVARO_SANITIZED_BUILD")


def module_folder():
    """The folder that holds the package lumevaro with its extension."""
    return pathlib.Path(lumevaro._lumevaro.__file__).resolve().parent.parent


def pytest_sessionstart(session):
    reporter = session.config.pluginmanager.get_plugin("terminalreporter")
    if reporter is not None:
        reporter.write_line(f"lumevaro module: {lumevaro._lumevaro.__file__}")


def pytest_configure(config):
    if not SANITIZED_BUILD:
        raise pytest.UsageError("sanitized_module: LUMEVARO_SANITIZED_BUILD is not set")
    if module_folder() != pathlib.Path(SANITIZED_BUILD).resolve():
        raise pytest.UsageError(
            f"sanitized_module: lumevaro was imported from {lumevaro._lumevaro.__file__}, "
            f"not from the sanitized build in {SANITIZED_BUILD}")
