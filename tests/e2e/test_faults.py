"""Runs where something goes wrong: a damaged cabinet, an installer that fails or takes long,
unusual arguments, and files that the cleanup cannot remove."""

import os
import re
import shutil
import struct
import subprocess
import threading
import time
from pathlib import Path

import pytest

from scenarios import (BUILD, EXPANSION, FAILED_CLEANUP, INVALID, REFUSED_CABINET, SETTINGS_RUN, aside_directories,
                       assert_event, assert_one_installer, assert_package_only, assert_run, assert_sentinels,
                       settings_path, with_sentinels)


def test_damaged_cabinet(scenario):
    s = scenario()
    sentinels = with_sentinels(s)
    s.package(b"[Install]\r\n", extra={f"install/data/file{i}.bin": os.urandom(64 * 1024) for i in range(8)})
    cabinet = s.launcher_dir / "Setup.cab"
    whole = cabinet.read_bytes()
    cabinet.write_bytes(whole[:len(whole) // 2])
    # A bound launcher refuses it, and removes the directory it hashed it into.
    result = s.run()
    assert_run(result, REFUSED_CABINET, 10)
    assert not s.expansion_dir.exists(), "the directory it hashed the cabinet into is removed"
    assert_event(result, "error", 1003, Failure="Unable to extract cab:  Setup.cab")
    # One bound to no cabinet expands it (extrac32 ends with 0) and finds the expansion short.
    shutil.copy(BUILD / "Setup.exe", s.launcher_dir / "Setup.exe")
    result = s.run()
    assert result.lines[:2] == EXPANSION and result.lines[3:] == FAILED_CLEANUP, "console lines"
    assert re.fullmatch(r"Unable to expand the package: install\\(data\\file\d\.bin|x64\\InstallGui\.exe) "
                        r"(is missing|has \d+ of \d+ bytes)"
                        r"(, and \d+ more of its 11 files are missing or cut short)?\.",
                        result.lines[2]), result.lines[2]
    assert result.exit_code == 10
    assert_event(result, "error", 1005, Failure=result.lines[2], Installer="not started")
    assert s.installer_runs() == [], "no installer started"
    # A cabinet that lists no files expands to nothing.
    cabinet.write_bytes(b"MSCF" + struct.pack("<IIIIIBBHHHHH", 0, 44, 0, 44, 0, 3, 1, 1, 0, 0, 0, 0) + bytes(8))
    result = s.run()
    assert_run(result, EXPANSION + ["Unable to expand the package: the package cabinet holds no files."] +
               FAILED_CLEANUP, 10)
    assert_event(result, "error", 1005)
    assert s.installer_runs() == [], "no installer started"
    assert not s.expansion_dir.exists(), "expansion directory removed"
    assert_sentinels(sentinels)


def test_full_disk_during_the_expansion(scenario):
    s = scenario()
    s.package(b"[Install]\r\n", extra={"install/data/large.bin": os.urandom(3_000_000)})
    subprocess.run(["mount", "-t", "tmpfs", "-o", "size=1m", "tmpfs", str(s.temp)], check=True)
    try:
        # Bound, the launcher first copies the cabinet into the temporary directory, which fails.
        bound = s.run()
        left_by_bound = list(s.temp.iterdir())
        shutil.copy(BUILD / "Setup.exe", s.launcher_dir / "Setup.exe")
        result = s.run()
        left = list(s.temp.iterdir())
    finally:
        subprocess.run(["umount", str(s.temp)], check=True)
    assert_run(bound, [REFUSED_CABINET[0], "Unable to use the temporary directory: the package cabinet could not be "
                       "read and copied into it whole.", REFUSED_CABINET[2]], 10)
    assert_event(bound, "error", 1003)
    assert left_by_bound == [], "nothing left in temp by the bound launcher"
    assert result.lines[:2] == EXPANSION and result.lines[3:] == FAILED_CLEANUP, "console lines"
    assert re.fullmatch(r"Unable to expand the package: install\\\S+ (is missing|has \d+ of \d+ bytes).*\.",
                        result.lines[2]), result.lines[2]
    assert result.exit_code == 10
    assert_event(result, "error", 1005, Failure=result.lines[2])
    assert s.installer_runs() == [], "no installer started"
    assert left == [], "nothing left in temp"


@pytest.mark.parametrize("behaviour, exit_code", [("exit 3", 0), ("crash", 10)], ids=["exit-3", "crash"])
def test_installer_fails(scenario, behaviour, exit_code):
    s = scenario()
    sentinels = with_sentinels(s)
    s.package(b"[Install]\r\n")
    (s.launcher_dir / "stub-behaviour.txt").write_text(behaviour)
    result = s.run()
    assert_one_installer(s, "/I:" + settings_path(s))
    if exit_code == 0:
        # The installer's own numbers are the package's business: recorded, not judged.
        assert_run(result, SETTINGS_RUN, 0)
        assert_event(result, "information", 1000, Installer_exit_code="3 (0x00000003)")
    else:
        crashed = "The installer crashed with the exception 0xC0000005."
        assert_run(result, EXPANSION + ["Running Install...", crashed] + FAILED_CLEANUP, 10)
        assert_event(result, "error", 1008, Failure=crashed, Installer_exit_code="3221225477 (0xC0000005)")
    assert not s.expansion_dir.exists(), "expansion directory removed"
    assert_sentinels(sentinels)


def test_installer_that_is_no_program(scenario):
    s = scenario()
    s.package(b"[Install]\r\n", extra={"install/x64/InstallGui.exe": os.urandom(4096)}, tool=False)
    result = s.run()
    installer = s.temp_value + "\\TempExpandedFiles\\install\\x64\\InstallGui.exe"
    assert result.lines[:3] == EXPANSION + ["Running Install..."] and result.lines[4:] == FAILED_CLEANUP
    assert result.lines[3].startswith("Unable to start the installer: ") and installer in result.lines[3], \
        "the system's reason, naming the file"
    assert result.exit_code == 10
    assert_event(result, "error", 1007, Failure=result.lines[3], Installer_exit_code="none")
    assert not s.expansion_dir.exists(), "expansion directory removed"


def cpu_ticks(fragment):
    """User and system clock ticks of the running Setup.exe whose command line holds fragment."""
    for stat in Path("/proc").glob("[0-9]*/stat"):
        try:
            fields = stat.read_text().rsplit(")", 1)
            command = (stat.parent / "cmdline").read_bytes().decode("latin-1")
        except OSError:
            continue
        if fields[0].endswith("(Setup.exe") and fragment in command:
            values = fields[1].split()
            return int(values[11]) + int(values[12])
    return None


def test_long_installer_waited_for_idle(scenario):
    s = scenario()
    s.package(b"[Install]\r\n")
    (s.launcher_dir / "stub-behaviour.txt").write_text("wait")
    outcome = {}
    runner = threading.Thread(target=lambda: outcome.update(result=s.run()))
    runner.start()
    try:
        while not s.installer_runs() and runner.is_alive():
            time.sleep(0.05)
        # The test's own directory names this launcher among any others running.
        first = cpu_ticks(s.root.parent.name)
        time.sleep(2.5)  # a span to measure the CPU used in, not a state
        second = cpu_ticks(s.root.parent.name)
        assert runner.is_alive(), "the launcher waits while the installer runs"
    finally:
        (s.launcher_dir / "stub-release.txt").touch()
        runner.join()
    assert first is not None and second is not None, "the launcher was running while the installer ran"
    assert second - first <= 3, f"the launcher used {(second - first) * 10} ms of CPU in 2.5 s of waiting"
    assert_run(outcome["result"], SETTINGS_RUN, 0)


def installer_processes(s):
    """The Linux process ids of this test's stub installers that run now."""
    running = []
    for stat in Path("/proc").glob("[0-9]*/stat"):
        try:
            if stat.read_text().rsplit(")", 1)[0].endswith("(InstallGui.exe") and \
                    s.root.parent.name in (stat.parent / "cmdline").read_bytes().decode("latin-1"):
                running.append(stat.parent.name)
        except OSError:
            continue
    return running


def test_installer_past_its_time_limit(scenario):
    # A real minute, in the 64-bit prefix only: its 32-bit launcher stops a 64-bit installer that
    # hangs, with the child it started, which would otherwise keep the directory from being removed.
    s = scenario()
    sentinels = with_sentinels(s)
    s.package(b"[Install]\r\n")
    (s.launcher_dir / "stub-behaviour.txt").write_text("hang")
    outcome = {}
    runner = threading.Thread(target=lambda: outcome.update(result=s.run("/timeout:1 /exitcodes:msi")))
    runner.start()
    while runner.is_alive() and len(installer_processes(s)) < 2:
        time.sleep(0.2)
    both = len(installer_processes(s))
    runner.join()
    line = "The installer did not end within 1 minute and was stopped."
    assert_run(outcome["result"], EXPANSION + ["Running Install...", line] + FAILED_CLEANUP, 1603)
    assert_event(outcome["result"], "error", 1009, Failure=line, Installer_exit_code="none")
    assert both == 2 and installer_processes(s) == [], "the installer and its child ran, and both are gone"
    assert not s.expansion_dir.exists(), "expansion directory removed"
    assert_sentinels(sentinels)


def test_unusual_arguments(scenario):
    s = scenario()
    s.package(b"[Install]\r\nPort=CmdLine\r\n")
    assert_run(s.run("/port:" + "A" * 9994 + " /address:" + "9" * 300), SETTINGS_RUN, 0)
    seen = s.settings_seen()
    assert b"\r\nPort=" + b"A" * 255 + b"\r\n" in seen, "port name cut to 255 characters"
    assert b"IPAddress=" + b"9" * 255 + b"\r\n" in seen, "address cut to 255 characters"
    assert_run(s.run("/port:Drucker-B\xfcro-\xe9 /address:imprimante-\xe7"), SETTINGS_RUN, 0)
    seen = s.settings_seen()
    assert b"Port=Drucker-B\xfcro-\xe9\r\n" in seen, "bytes above 127 reach the settings file"
    assert b"IPAddress=imprimante-\xe7\r\n" in seen, "bytes above 127 in the address"
    assert_run(s.run("/l:\xe9\xe9 /bogus\xff"), INVALID, 10)


def test_cleanup_of_locked_files(scenario):
    s = scenario()
    sentinels = with_sentinels(s)
    s.package(b"[Install]\r\n")
    (s.launcher_dir / "stub-behaviour.txt").write_text("readonly")
    assert_run(s.run(), SETTINGS_RUN, 0)
    assert not s.expansion_dir.exists(), "rmdir /S /Q removes a read-only file too"
    # A file held open without delete sharing stays, and so does its folder; the launcher still
    # reports the cleanup and ends with 0. The next run expands into a new one: under Wine the
    # leftover reads back as owned by the launcher's account, which an elevated administrator's
    # unelevated programs share, so it is moved aside, not removed by a walk that follows links.
    (s.launcher_dir / "stub-behaviour.txt").write_text("hold")
    assert_run(s.run(), SETTINGS_RUN, 0)
    assert (s.expansion_dir / "install" / "component.isf").exists(), "the held file is left"
    (s.launcher_dir / "stub-release.txt").touch()
    while not (s.launcher_dir / "holder-done.txt").exists():
        time.sleep(0.05)
    for record in ("stub-behaviour.txt", "installer-log.txt", "stub-release.txt", "holder-ready.txt",
                   "holder-done.txt"):
        (s.launcher_dir / record).unlink()
    (s.expansion_dir / "install" / "component.isf").write_bytes(b"[Install]\r\nstale and longer than the package's\r\n")
    (s.expansion_dir / "stale.txt").write_bytes(b"stale")
    assert_run(s.run(), SETTINGS_RUN, 0)
    assert_package_only(s, assert_one_installer(s, "/I:" + settings_path(s)))
    aside = aside_directories(s)
    assert len(aside) == 1 and (aside[0] / "stale.txt").read_bytes() == b"stale", "the leftover moved aside whole"
    assert not s.expansion_dir.exists(), "expansion directory removed"
    assert_sentinels(sentinels)


def test_cabinet_names_that_climb_out(scenario):
    # A supplier's cabinet that names "..\" paths, one of them a file outside whose size the check
    # once reported: refused before the expansion, nothing written, no size shown.
    s = scenario()
    (s.root / "keep.txt").write_bytes(b"outside, not the package's")
    s.package(b"[Install]\r\n", extra={"xx/xx/keep.txt": b"x", "xx/xx/slip-rel.txt": b"slipped"}, tool=False)
    cabinet = s.launcher_dir / "Setup.cab"
    cabinet.write_bytes(cabinet.read_bytes().replace(b"xx\\xx\\", b"..\\..\\"))
    shutil.copy(BUILD / "Setup.exe", s.launcher_dir / "Setup.exe")  # bound to no cabinet
    result = s.run()
    assert_run(result, ["Creating Temporary Directory...", "Unable to expand the package: the package cabinet lists "
                        "..\\..\\keep.txt, a name that leads out of the directory it is expanded into.",
                        "Unable to extract cab:  Setup.cab"], 10)
    assert not any(re.search(r"\d+ of \d+ bytes", text) for text in assert_event(result, "error", 1003).values())
    assert not (s.root / "slip-rel.txt").exists() and list(s.temp.iterdir()) == [], "nothing written"
    assert (s.root / "keep.txt").read_bytes() == b"outside, not the package's"
