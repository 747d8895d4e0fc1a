"""The launcher as a program: its options, the single-instance guard, runs nobody watches, the
administrator's guide, the executable file itself, the DLL search, and the platform layer's own
tests under Wine."""

import datetime
import shutil
import subprocess
import threading
import time
from contextlib import contextmanager

import pytest

from scenarios import (ALREADY_RUNNING, BUILD, CLEANUP_FAILED, EXPANSION, FAILED_CLEANUP, FIRST_EXAMPLE_IN, HELP_LINES,
                       INVALID, MISSING_OPTIONS, MISSING_X64, PORT_OPTIONS, PROGRAMS, SETTINGS_RUN, SOURCE, Result,
                       assert_event, assert_run, log_entries, pe_resources)
from wine import PREFIXES, platform_test_failure, platform_tests, wine_environment, windows_path


def test_help_screen(scenario):
    s = scenario()
    result = s.run("/?")
    assert_run(result, HELP_LINES, 0)
    assert result.events == [], "the help screen writes no event"
    assert_run(s.run("/PORT:x /?"), HELP_LINES, 0)


def test_invalid_argument(scenario):
    s = scenario()
    result = s.run("/bogus")
    assert_run(result, INVALID, 10)
    assert_event(result, "error", 1002, Outcome="The command line held an argument that is no option.",
                 Temporary_directory=s.temp_value + " (not used)", Cabinet="none found")
    assert_run(s.run('/port:x ""'), INVALID, 10)
    assert not s.expansion_dir.exists(), "nothing is expanded for a bad argument"


def test_windows_installer_exit_codes(scenario):
    # Each a real run: the installer's own code passes through, and each road of the launcher's own
    # has the code that fleet tools act on. Without the option nothing changes.
    s = scenario()
    s.package(b"[Install]\r\n")
    crashed = "The installer crashed with the exception 0xC0000005."
    for stub, arguments, lines, code in [
            ("exit 3010", "/exitcodes:msi", SETTINGS_RUN, 3010), ("exit 1641", "/exitcodes:msi", SETTINGS_RUN, 1641),
            ("exit 1603", "/EXITCODES:MSI", SETTINGS_RUN, 1603), ("exit 0", "/exitcodes:msi", SETTINGS_RUN, 0),
            ("exit 3010", "", SETTINGS_RUN, 0),
            ("crash", "/exitcodes:msi", EXPANSION + ["Running Install...", crashed] + FAILED_CLEANUP, 1603),
            ("", "/? /exitcodes:msi", HELP_LINES, 0), ("", "/bogus /exitcodes:msi", INVALID, 1639),
            ("", "/exitcodes:msi /timeout:0", INVALID, 1639), ("", "/timeout:1441 /exitcodes:msi", INVALID, 1639),
            ("", "/timeout:sixty", INVALID, 10)]:
        (s.launcher_dir / "stub-behaviour.txt").write_text(stub)
        result = s.run(arguments)
        assert_run(result, lines, code)
        if stub.startswith("exit"):
            assert_event(result, "information", 1000, Installer_exit_code=f"{stub[5:]} (0x{int(stub[5:]):08X})")
    assert_event(result, "error", 1002, Failure='Invalid Parameters. "/timeout:sixty" gives no number of minutes '
                                                "from 1 to 1440.")
    (s.launcher_dir / "stub-behaviour.txt").unlink()
    (s.launcher_dir / "Setup.exe").unlink()  # bound to the cabinet made first
    s.package(FIRST_EXAMPLE_IN, tool=False)
    result = s.run("/exitcodes:msi /port:LPT1:")
    assert_run(result, EXPANSION + MISSING_OPTIONS + ["/address: parameter not found or no value was specified"] +
               CLEANUP_FAILED, 1639)
    assert_event(result, "error", 1004, Failure=" ".join(MISSING_OPTIONS) +
                 "; /address: parameter not found or no value was specified")
    s.package(FIRST_EXAMPLE_IN, builds=("x86",))
    assert_run(s.run(PORT_OPTIONS + " /exitcodes:msi"), EXPANSION + [MISSING_X64] + FAILED_CLEANUP, 1633)
    (s.launcher_dir / "Setup.cab").unlink()
    assert_run(s.run("/exitcodes:msi"), ["Unable to extract cab:  Setup.cab"], 1603)


def test_busy_machine_and_the_log_of_both_runs(scenario):
    # A second copy while the first waits in its installer: 1618, which fleet tools retry. Both
    # runs append to the one log in folders made for it, each line whole.
    s = scenario()
    s.package(b"[Install]\r\n")
    (s.launcher_dir / "stub-behaviour.txt").write_text("wait 0")
    log = s.root / "logs" / "deep" / "printer.log"
    option = "/log:" + windows_path(log)
    outcome = {}
    first = threading.Thread(target=lambda: outcome.update(result=s.run(option)))
    first.start()
    try:
        while first.is_alive() and not s.installer_runs():
            time.sleep(0.2)
        refused = s.run("/exitcodes:msi " + option)
        assert_run(refused, ALREADY_RUNNING, 1618)
        assert_event(refused, "warning", 1001, Failure=ALREADY_RUNNING[0], Log=windows_path(log))
    finally:
        (s.launcher_dir / "stub-release.txt").write_bytes(b"")
        first.join()
    assert_run(outcome["result"], SETTINGS_RUN, 0)
    texts = [(entry["type"], entry["text"]) for entry in log_entries(log)]
    assert ("2", "Outcome: Another launcher is running; nothing was done. Exit code: 1618 (Windows Installer's "
            "codes)") in texts and ("1", "Outcome: The installer ran and ended. Exit code: 0") in texts, texts


def test_log_file(scenario, monkeypatch):
    # In a time zone of the test's choosing: every line is one CMTrace entry, written during the run,
    # that names the port, the installer and its exit code; a second run appends, and a failed one
    # writes what went wrong as type 3. "/log" alone writes under the Windows directory; a folder
    # in the log's place changes nothing of the run.
    monkeypatch.setenv("TZ", "Asia/Kolkata")
    s = scenario()
    s.package(FIRST_EXAMPLE_IN)
    log = s.root / "not yet" / "printer.log"
    option = '"/log:' + windows_path(log) + '"'
    before = datetime.datetime.now(datetime.timezone.utc) - datetime.timedelta(seconds=1)
    assert_run(s.run(PORT_OPTIONS + " " + option), SETTINGS_RUN, 0)
    after = datetime.datetime.now(datetime.timezone.utc)
    entries = log_entries(log)
    installer = s.temp_value + "\\TempExpandedFiles\\install\\x64\\InstallGui.exe"
    text = "\n".join(entry["text"] for entry in entries)
    for part in SETTINGS_RUN + ["Started " + installer + " /I:", installer + " ended with exit code 0 (0x00000000)",
                                '"Port=IP_192.168.1.20"', '"IPAddress=192.168.1.20"',
                                "Removed the expansion directory this run created as " + s.temp_value]:
        assert part in text, part
    assert {(entry["type"], entry["bias"], entry["context"], entry["thread"]) for entry in entries} == \
        {("1", "-330", entries[0]["context"], entries[0]["thread"])}, "one account and process, UTC+5:30, no warning"
    for entry in entries:
        local = datetime.datetime.strptime(entry["date"] + " " + entry["time"], "%m-%d-%Y %H:%M:%S.%f")
        assert before <= (local + datetime.timedelta(minutes=-330)).replace(tzinfo=datetime.timezone.utc) <= after
    assert_run(s.run("/port:LPT1: " + option), EXPANSION + MISSING_OPTIONS +
               ["/address: parameter not found or no value was specified"] + CLEANUP_FAILED, 10)
    appended = log_entries(log)
    errors = [entry["text"] for entry in appended[len(entries):] if entry["type"] == "3"]
    assert appended[:len(entries)] == entries and MISSING_OPTIONS[0] in errors, errors

    windows = PREFIXES[s.prefix] / "drive_c" / "windows"  # whose "logs" Wine spells in small letters
    for old in windows.glob("[Ll]ogs/Software/Setup.log"):
        old.unlink()
    assert_run(s.run(PORT_OPTIONS + " /log"), SETTINGS_RUN, 0)
    default = next(windows.glob("[Ll]ogs/Software/Setup.log"))
    assert log_entries(default)[0]["text"].startswith("Printer Package Launcher 10.5.0.0, ")
    default.unlink()
    (s.root / "folder.log").mkdir()
    result = s.run(PORT_OPTIONS + " /log:" + windows_path(s.root / "folder.log"))
    assert_run(result, SETTINGS_RUN, 0)
    assert_event(result, "information", 1000,
                 Log=windows_path(s.root / "folder.log") + " was not written: it is a folder")


@contextmanager
def another_setup_running(s):
    """A program of the launcher's file name, Setup.exe, that runs from another folder until the
    block ends; the block starts once it runs, and the next line runs once it has ended."""
    first = s.root / "first"
    first.mkdir()
    shutil.copy(PROGRAMS / "sleeper.exe", first / "Setup.exe")
    ready, release = first / "running.txt", first / "release.txt"
    sleeper = subprocess.Popen(["wine", str(first / "Setup.exe"), windows_path(ready), windows_path(release)],
                               env=wine_environment(s.prefix), stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                               stderr=subprocess.DEVNULL)
    try:
        while not ready.exists():
            assert sleeper.poll() is None, "the other Setup.exe runs"
            time.sleep(0.05)
        yield
    finally:
        # It ends itself, so that Wine has taken it off the process list when the Unix process is gone.
        release.touch()
        sleeper.wait()


def test_second_instance(scenario):
    s = scenario()
    with another_setup_running(s):
        result = s.run("/?")
        assert_run(result, ALREADY_RUNNING, 1)
        assert_event(result, "warning", 1001)
        # Another file name is not a copy of this launcher.
        assert_run(s.run("/?", name="Other.exe"), [line.replace("Setup.exe", "Other.exe") for line in HELP_LINES], 0)
    assert_run(s.run("/?"), HELP_LINES, 0)


def test_unattended_runs_never_wait(scenario):
    # Two overlapping deployments, and a package that needs port options nobody gave: the prompt
    # is printed, nothing is read, and the exit codes reach the deployment tool at once.
    s = scenario()
    s.package(FIRST_EXAMPLE_IN)
    assert_run(s.run_unattended("/port:LPT1:"), EXPANSION + MISSING_OPTIONS +
               ["/address: parameter not found or no value was specified"] + CLEANUP_FAILED, 10)
    assert not s.expansion_dir.exists(), "expansion directory removed"
    with another_setup_running(s):
        assert_run(s.run_unattended(), ALREADY_RUNNING, 1)
    # A start the system refuses shows no error box nobody could close, and its reason is the
    # system's own, naming the file.
    (s.launcher_dir / "Setup.exe").unlink()  # the package tool bound this one to the first cabinet
    s.package(b"[Install]\r\n", extra={"install/x64/InstallGui.exe": b"MZ no program"}, tool=False)
    result = s.run_unattended()
    installer = s.temp_value + "\\TempExpandedFiles\\install\\x64\\InstallGui.exe"
    assert len(result.lines) > 3, result.lines
    assert result.lines[3].startswith("Unable to start the installer: ") and installer in result.lines[3], result.lines
    assert result.exit_code == 10


def test_deployment_guide_commands(scenario):
    # Every command of the administrator's guide that runs under Wine, as written there, from the
    # package's folder as deployment tools run it.
    guide = (SOURCE / "docs" / "deployment.md").read_text()
    blocks = [block.split("\n", 1)[1] for block in guide.split("```")[1::2] if block.startswith("bat\n")]
    assert len(blocks) >= 4, "the guide's commands"
    s = scenario()
    s.package(b"[Install]\r\nPort=CmdLine\r\n")
    environment = wine_environment(s.prefix)
    log = PREFIXES[s.prefix] / "drive_c" / "windows" / "temp" / "PrinterDriver-setup.log"
    for number, block in enumerate(blocks):
        log.unlink(missing_ok=True)
        s.forget_installer_runs()
        script = s.launcher_dir / f"guide-{number}.cmd"
        script.write_bytes(block.replace("\n", "\r\n").encode("latin-1"))
        completed = subprocess.run(["wine", "cmd", "/c", script.name], cwd=s.launcher_dir, env=environment,
                                   stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        assert completed.returncode == 0, f"exit code of:\n{block}"
        runs = s.installer_runs()
        assert len(runs) == 1, f"installer starts for:\n{block}"
        seen = s.settings_seen()
        assert b"\r\nPort=IP_10.1.2.3\r\n" in seen and b"\r\nIPAddress=10.1.2.3\r\n" in seen, \
            f"the port reached the settings file for:\n{block}"
        if "PrinterDriver-setup.log" in block:
            lines = log.read_bytes().decode("latin-1").replace("\r\n", "\n").splitlines()
            assert lines[:5] == SETTINGS_RUN, f"the kept lines of:\n{block}"
        else:
            # The command interpreter echoes a script's commands before the launcher's lines.
            assert Result(completed.stdout, 0).lines[-5:] == SETTINGS_RUN, f"console lines of:\n{block}"
        script.unlink()


@pytest.mark.parametrize("prefix, wow64", [("win64", True), ("win32", False)], ids=["win64", "win32"])
def test_windows_platform_tests(scenario, prefix, wow64):
    """The platform layer's GoogleTest program, with the real platform/win32.cpp and C runtime."""
    s = scenario(prefix=prefix)
    command, environment = platform_tests(prefix, s.root)
    completed = subprocess.run(command, cwd=s.root, env=environment, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                               stderr=subprocess.STDOUT)
    output = completed.stdout.decode("latin-1")
    failure = platform_test_failure(prefix, completed.returncode, output)
    assert not failure, f"{failure}:\n{output}"


def test_executable_file():
    exe = BUILD / "Setup.exe"
    headers = subprocess.run(["i686-w64-mingw32-objdump", "-p", str(exe)], check=True,
                             stdout=subprocess.PIPE).stdout.decode()
    assert "file format pei-i386" in headers, "PE32 for i386"
    assert "(Windows CUI)" in headers, "console subsystem"
    dlls = sorted(line.split(":")[1].strip().lower() for line in headers.splitlines() if "DLL Name:" in line)
    assert dlls == ["advapi32.dll", "kernel32.dll", "msvcrt.dll", "user32.dll"], "imported DLLs"
    for function in ("IsWow64Process", "SetDefaultDllDirectories"):
        assert function not in headers, f"{function} is looked up at run time, not imported"
    assert "ShellExecute" not in headers, "programs start through CreateProcessW, never through the shell"

    data = exe.read_bytes()
    manifests = pe_resources(data, 24)
    assert len(manifests) == 1, "manifests"
    manifest = manifests[0].decode()
    for field in ['<assemblyIdentity name="Installer Application" version="10.5.0.0" processorArchitecture="x86" '
                  'type="win32"/>',
                  "<description>Installer Core File</description>",
                  '<assemblyIdentity type="win32" name="Microsoft.Windows.Common-Controls" version="6.0.0.0" '
                  'processorArchitecture="x86" publicKeyToken="6595b64144ccf1df" language="*"/>',
                  '<requestedExecutionLevel level="requireAdministrator" uiAccess="false"/>',
                  '<supportedOS Id="{35138b9a-5d96-4fbd-8e2d-a2440225f93a}"/>',
                  '<supportedOS Id="{e2011457-1546-43c5-a5fe-008deee3d3f0}"/>']:
        assert field in manifest, "manifest field"

    versions = pe_resources(data, 16)
    assert len(versions) == 1, "version resources"
    fixed = versions[0].find((0xFEEF04BD).to_bytes(4, "little"))
    numbers = [int.from_bytes(versions[0][fixed + at:fixed + at + 4], "little") for at in (8, 12, 16, 20)]
    assert numbers == [10 << 16 | 5, 0, 10 << 16 | 5, 0], "file and product version 10.5.0.0"
    for text in ["Installer Core File", "10.5.0.0"]:
        assert text.encode("utf-16-le") in versions[0], "version string"


def test_dll_search_restricted_first(scenario):
    # Wine's relay trace lists every call the launcher makes, in order: the DLL search is restricted
    # to the system directory before the launcher's own work starts, and before any DLL is loaded
    # by name. (Under Wine, shell32's delayed imports still look beside the launcher; on Windows
    # they are known DLLs, which always come from the system directory.)
    s = scenario()
    shutil.copy(BUILD / "Setup.exe", s.launcher_dir / "Setup.exe")
    environment = wine_environment(s.prefix)
    key = "HKCU\\Software\\Wine\\Debug"
    quiet = dict(env=environment, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    subprocess.run(["wine", "reg", "add", key, "/v", "RelayFromInclude", "/t", "REG_SZ", "/d", "Setup.exe", "/f"],
                   check=True, **quiet)
    try:
        traced = subprocess.run(["wine", str(s.launcher_dir / "Setup.exe"), "/?"],
                                env=dict(environment, WINEDEBUG="+relay"), cwd=s.launcher_dir,
                                stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    finally:
        subprocess.run(["wine", "reg", "delete", key, "/v", "RelayFromInclude", "/f"], **quiet)
    # The launcher's own calls: those that return into its image (loaded at 0x400000).
    calls = []
    for line in traced.stderr.decode("latin-1").splitlines():
        if ":Call " in line and " ret=" in line:
            call = line.split(":Call ", 1)[1]
            if 0x400000 <= int(call.rsplit(" ret=", 1)[1], 16) < 0x500000:
                calls.append(call)
    restricted = [i for i, call in enumerate(calls) if call.startswith("KERNEL32.SetDefaultDllDirectories(00000800)")]
    assert restricted, f"SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32) is called: {calls[:80]}"
    before = calls[:restricted[0]]
    assert not any("LoadLibrary" in call for call in before), f"no DLL loaded by name before it: {before}"
    assert all(call.startswith(("msvcrt.", "KERNEL32.", "ntdll.")) for call in before), \
        f"only the C runtime's start-up before it: {before}"
    assert any(call.startswith("msvcrt.__getmainargs") for call in before), "the trace holds the start-up"
    assert any(call.startswith("KERNEL32.GetConsoleWindow") for call in calls[restricted[0]:]), \
        "the run goes on after it"
