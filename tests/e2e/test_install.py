"""The install: the installer build for the machine, the settings run and the standalone run, the
port options and the settings file's rewrite."""

import hashlib
import re

import pytest

from scenarios import (CLEANUP_FAILED, EXPANSION, FAILED_CLEANUP, FIRST_EXAMPLE_IN, FIRST_EXAMPLE_OUT, MISSING_OPTIONS,
                       MISSING_X64, PORT_OPTIONS, SECOND_EXAMPLE_IN, SECOND_EXAMPLE_OUT, SETTINGS_RUN, assert_event,
                       assert_one_installer, assert_run, settings_path, windows_path)

# A 64-bit Windows runs the installer's x64 build, a 32-bit one its x86 build.
BOTH_PREFIXES = pytest.mark.parametrize("prefix, build", [("win64", "x64"), ("win32", "x86")], ids=["win64", "win32"])


@BOTH_PREFIXES
def test_settings_run(scenario, prefix, build):
    s = scenario(prefix=prefix)
    s.package(b"[Install]\r\nDisplayUI=0\r\n")
    assert_run(s.run("/port:ignored /address:ignored"), SETTINGS_RUN, 0)
    assert_one_installer(s, "/I:" + settings_path(s), build)
    assert s.settings_seen() == b"[Install]\r\nDisplayUI=0\r\n", "settings file unchanged"
    assert not s.expansion_dir.exists(), "expansion directory removed"


@BOTH_PREFIXES
def test_port_from_command_line(scenario, prefix, build):
    s = scenario(prefix=prefix)
    s.package(FIRST_EXAMPLE_IN)
    result = s.run(PORT_OPTIONS)
    assert_run(result, SETTINGS_RUN, 0)
    assert_one_installer(s, "/I:" + settings_path(s), build)
    assert s.settings_seen() == FIRST_EXAMPLE_OUT, "rewritten settings file"
    installer = s.temp_value + f"\\TempExpandedFiles\\install\\{build}\\InstallGui.exe"
    fields = assert_event(result, "information", 1000, Outcome="The installer ran and ended.", Failure="none",
                          Launcher=windows_path(s.launcher_dir / "Setup.exe"),
                          Temporary_directory=s.temp_value, Installer=installer + " /I:" + settings_path(s),
                          Installer_exit_code="0 (0x00000000)")
    assert fields["Command line"].endswith('Setup.exe" ' + PORT_OPTIONS), "the command line"
    cabinet = s.launcher_dir / "Setup.cab"
    assert re.fullmatch(rf"\S+\\Setup\.cab, {cabinet.stat().st_size} bytes, SHA-256 "
                        rf"{hashlib.sha256(cabinet.read_bytes()).hexdigest()}", fields["Cabinet"]), fields["Cabinet"]
    assert re.fullmatch(r"\d+\.\d{3} s", fields["Duration"]), fields["Duration"]


def test_printer_share_port(scenario):
    s = scenario()
    s.package(SECOND_EXAMPLE_IN)
    result = s.run(r"/port:\\server\printer")
    assert_run(result, SETTINGS_RUN, 0)
    assert s.settings_seen() == SECOND_EXAMPLE_OUT, "rewritten settings file"
    assert_event(result, "information", 1000, Installer_exit_code="0 (0x00000000)")


def test_port_options_missing(scenario):
    s = scenario()
    s.package(FIRST_EXAMPLE_IN)
    assert_run(s.run("/port:LPT1:"), EXPANSION + MISSING_OPTIONS +
               ["/address: parameter not found or no value was specified"] + CLEANUP_FAILED, 10)
    assert_run(s.run("/address:10.0.0.1 /port:"), EXPANSION + MISSING_OPTIONS +
               ["/port: parameter not found or no value was specified"] + CLEANUP_FAILED, 10)
    assert s.installer_runs() == [], "installer never started"
    assert not s.expansion_dir.exists(), "expansion directory removed"


@pytest.mark.parametrize("settings, arguments, parameters", [
    (b"[Install]\r\nDisplayUI=1\r\n", "", ""),
    (b"[Install]\r\nDisplayUI=1\r\n", "/l:de", "/l:de"),
    (b"[Install]\r\nDisplayUI=1\r\n", "/L:DE", "/L:DE"),
    (b"License=1\r\nDisplayUI=0\r\n", "/l:fr", "/l:fr"),
    # Not the whole line the launcher looks for: a settings run.
    (b"DisplayUI=1 \r\n", "/l:fr", "/I:{settings}"),
], ids=["no-language", "language", "language-in-capitals", "license", "blank-after-the-line"])
def test_standalone_run(scenario, settings, arguments, parameters):
    s = scenario()
    s.package(settings)
    assert_run(s.run(arguments), SETTINGS_RUN, 0)
    run = assert_one_installer(s, parameters.format(settings=settings_path(s)))
    if not parameters:
        assert run["command-line"].endswith('InstallGui.exe"') or run["command-line"].endswith("InstallGui.exe"), \
            "no parameters at all"


def test_standalone_run_with_port(scenario):
    s = scenario()
    s.package(b"[Install]\r\nPort=CmdLine\r\nDisplayUI=1\r\n")
    assert_run(s.run("/port:IP_1 /address:10.0.0.1"), SETTINGS_RUN, 0)
    assert_one_installer(s, "")
    assert s.settings_seen() == (b"[Install]\r\nPort=IP_1\r\nDisplayUI=1\r\n\r\n[Ports]\r\nIP_1=StandardIP\r\n\r\n"
                                 b"[IP_1]\r\nName=IP_1\r\nHostName=IP_1\r\nIPAddress=10.0.0.1\r\n"), "rewritten once"


def test_missing_installer_build(scenario):
    s = scenario()
    s.package(b"[Install]\r\n", builds=("x86",))
    result = s.run()
    assert_run(result, EXPANSION + [MISSING_X64] + FAILED_CLEANUP, 10)
    assert_event(result, "error", 1006, Failure=MISSING_X64, Installer="not started")
    assert s.installer_runs() == [], "no installer ran"
    assert not s.expansion_dir.exists(), "expansion directory removed"
