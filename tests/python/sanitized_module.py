"""pytest plugin for the run of the suite against the module built with
AddressSanitizer and UBSan (tools/test.sh loads it with `-p sanitized_module`
and names the build folder in LUMEVARO_SANITIZED_BUILD).

It stops the run unless `import lumevaro` found the module in that folder,
prints the module's path, and skips the few tests that
cannot run under AddressSanitizer.
"""

import os
import pathlib

import pytest

import lumevaro

SANITIZED_BUILD = os.environ.get("LUMEVARO_SANITIZED_BUILD")

# A sequence may report any length; the conversion reserves that many doubles
# and, when the reservation fails with std::bad_alloc or std::length_error,
# goes on without it. These tests report 2**40 items (8 TiB): the plain
# allocator refuses them and the test checks that the conversion survives,
# but AddressSanitizer aborts the process on any request above its 1 TiB limit
# instead of throwing.
UNRESERVABLE_UNDER_ASAN = {
    "test_reported_length_is_only_a_hint",
    "test_any_objects_give_the_model_outcome",
}


def module_folder():
    return pathlib.Path(lumevaro.__file__).resolve().parent


def pytest_sessionstart(session):
    reporter = session.config.pluginmanager.get_plugin("terminalreporter")
    if reporter is not None:
        reporter.write_line(f"lumevaro module: {lumevaro.__file__}")


def pytest_configure(config):
    if not SANITIZED_BUILD:
        raise pytest.UsageError("sanitized_module: LUMEVARO_SANITIZED_BUILD is not set")
    if module_folder() != pathlib.Path(SANITIZED_BUILD).resolve():
        raise pytest.UsageError(
            f"sanitized_module: lumevaro was imported from {lumevaro.__file__}, "
            f"not from the sanitized build in {SANITIZED_BUILD}")


def pytest_collection_modifyitems(config, items):
    skip = pytest.mark.skip(reason="reports 2**40 items, which AddressSanitizer cannot reserve")
    for item in items:
        if getattr(item, "originalname", item.name) in UNRESERVABLE_UNDER_ASAN:
            item.add_marker(skip)
