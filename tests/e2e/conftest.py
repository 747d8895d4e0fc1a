"""Fixtures of the end-to-end tests: the Wine prefixes, made once for the session, and a directory
of its own for each test under build/windows/e2e-work, kept when the test fails."""

import shutil
from pathlib import Path

import pytest

# Before the import, so that the shared checks' asserts show their values as the tests' own do.
pytest.register_assert_rewrite("scenarios")

import wine  # noqa: E402
from scenarios import WORK, Scenario  # noqa: E402

DIRECTORY = pytest.StashKey[Path]()
REPORTS = pytest.StashKey[dict]()


def pytest_addoption(parser):
    parser.addoption("--keep-directories", action="store_true",
                     help="keep the scenario directories of the tests that passed too")


@pytest.fixture(scope="session")
def prefixes():
    """The 64-bit and the 32-bit Wine prefix under build/windows/wine, made when missing. Wine is
    stopped when the session ends, so that no Wine process outlives the tests."""
    wine.make_prefixes()
    yield wine.PREFIXES
    wine.stop_wine()


@pytest.fixture
def scenario(request, prefixes):
    """Makes scenario directories in the test's own directory:
    scenario(label=None, prefix="win64", launcher_folder="pkg"). The test's directory is removed
    when the test passed, and kept and named in the report when it did not."""
    directory = WORK / "".join(c if c.isalnum() or c in "_-" else "-" for c in
                               request.node.name.removeprefix("test_")).strip("-")
    shutil.rmtree(directory, ignore_errors=True)
    request.node.stash[DIRECTORY] = directory

    def make(label=None, prefix="win64", launcher_folder="pkg"):
        return Scenario(directory / "-".join(filter(None, (label, prefix))), prefix, launcher_folder)

    yield make
    reports = request.node.stash.get(REPORTS, {})
    if all(report.passed for report in reports.values()) and not request.config.getoption("keep_directories"):
        shutil.rmtree(directory, ignore_errors=True)


@pytest.hookimpl(hookwrapper=True)
def pytest_runtest_makereport(item, call):
    report = (yield).get_result()
    if report.skipped or hasattr(report, "wasxfail"):
        # No end-to-end test is optional: CTest would count a skipped or expected failure as passed.
        report.outcome = "failed"
        report.longrepr = f"end-to-end tests must not skip or expect to fail: {report.longrepr}"
        if hasattr(report, "wasxfail"):
            del report.wasxfail
    item.stash.setdefault(REPORTS, {})[report.when] = report
    if report.failed and DIRECTORY in item.stash:
        report.sections.append(("scenario directory", f"scenario directory: {item.stash[DIRECTORY]}"))
