#!/usr/bin/env python3
"""End-to-end scenarios: build/windows/Setup.exe run for real under Wine.

Each scenario gets a directory of its own under build/windows/e2e-work: the launcher copied under
the scenario's file name, a cabinet built with gcab from a package folder, the tests' stub
installer, and a temporary directory that reaches the launcher through run_launcher.exe (Wine
overrides TEMP from the Unix environment for the programs it starts itself).

    e2e.py --list | --make-prefixes | --stop-wine | SCENARIO
"""

import itertools
import os
import re
import shutil
import subprocess
import sys
import threading
import time
from pathlib import Path

BUILD = Path(os.environ.get("LAUNCHER_BUILD", Path(__file__).resolve().parents[2] / "build" / "windows")).resolve()
SOURCE = Path(os.environ.get("LAUNCHER_SOURCE", Path(__file__).resolve().parents[2]))
PROGRAMS = BUILD / "e2e-programs"
WORK = BUILD / "e2e-work"
PREFIXES = {"win64": BUILD / "wine" / "win64", "win32": BUILD / "wine" / "win32"}

HELP_LINES = [
    "Help Menu for Setup.exe",
    "Syntax:\tSetup.exe /parameter",
    "Parameters: ",
    "\t/?\t- Display Help Menu (This Menu)",
    "   /l:(two letter language code) - force install to display in the specified language",
    "   /address:(IP or network name) - specify IP address of the target printer",
    "   /port:(portname) - specify port name to be created",
    "The /port: and /address: parameters are useable only with",
    "a packge created with Specify Port on Cmd line option.",
]
CLEANUP_OK = ["Install Complete, Beginning Cleanup...", "Cleanup Complete."]
EXPANSION = ["Creating Temporary Directory...", "Expanding Install Files..."]
SETTINGS_RUN = EXPANSION + ["Running Install..."] + CLEANUP_OK
MISSING_OPTIONS = [
    "Error - package is configured for port and address or hostname on cmd line, but",
    "these params were not found",
]
FIRST_EXAMPLE_IN = b"[Install]\nNetwork_Twain=1\nPort=CmdLine\n\n[Other]\nKey=Value\n"
FIRST_EXAMPLE_OUT = (
    b"[Install]\r\nNetwork_Twain=1\r\nPort=IP_192.168.1.20\r\n\r\nPorts=1\r\n\r\n[Other]\r\nKey=Value\r\n\r\n"
    b"[Ports]\r\nIP_192.168.1.20=StandardIP\r\n\r\n[IP_192.168.1.20]\r\nName=IP_192.168.1.20\r\n"
    b"HostName=IP_192.168.1.20\r\nIPAddress=192.168.1.20\r\n\r\n[Network_Twain]\r\nDefaultDevice=192.168.1.20\r\n"
)
SECOND_EXAMPLE_IN = b"[Install]\nPorts=2\nPort=CmdLine\n\n[Ports]\nOtherPort=StandardIP\n"
SECOND_EXAMPLE_OUT = (
    b"[Install]\r\nPorts=3\r\nPort=\\\\server\\printer\r\n\r\n[Ports]\r\n\\\\server\\printer=LocalPort\r\n\r\n"
    b"OtherPort=StandardIP\r\n\r\n\r\n[\\\\server\\printer]\r\nName=\\\\server\\printer\r\n"
)


RUN_NUMBERS = itertools.count()


class Failure(Exception):
    pass


def expect(condition, message):
    if not condition:
        raise Failure(message)


def expect_equal(actual, expected, what):
    if actual != expected:
        raise Failure(f"{what}:\n  expected {expected!r}\n  actual   {actual!r}")


def wine_environment(prefix_name):
    # A Western ANSI code page (1252) whatever the machine's locale, and UTF-8 names on disk.
    environment = dict(os.environ, WINEPREFIX=str(PREFIXES[prefix_name]), WINEDEBUG="-all", LANG="C.UTF-8")
    environment.pop("LC_ALL", None)
    environment.pop("DISPLAY", None)
    if prefix_name == "win32":
        environment["WINEARCH"] = "win32"
    return environment


def windows_path(path):
    return "Z:" + str(path).replace("/", "\\")


def make_prefixes():
    for name, prefix in PREFIXES.items():
        if (prefix / "system.reg").exists():
            continue
        prefix.parent.mkdir(parents=True, exist_ok=True)
        subprocess.run(["wineboot", "-i"], env=wine_environment(name), check=True,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=300)
        subprocess.run(["wineserver", "-w"], env=wine_environment(name), timeout=300)


def stop_wine():
    for name in PREFIXES:
        subprocess.run(["wineserver", "-k"], env=wine_environment(name),
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)


def build_cabinet(package_dir, cabinet):
    """Builds a cabinet from every file below package_dir, keeping the relative folders."""
    files = sorted(str(p.relative_to(package_dir)) for p in package_dir.rglob("*") if p.is_file())
    subprocess.run(["gcab", "-c", "-z", str(cabinet)] + files, cwd=package_dir, check=True,
                   stdout=subprocess.DEVNULL)


def make_package(package_dir, out_dir, name=None):
    completed = subprocess.run([str(SOURCE / "scripts" / "make-package"), str(package_dir), str(out_dir)] +
                               ([name] if name else []), env=dict(os.environ, LAUNCHER_EXE=str(BUILD / "Setup.exe")),
                               stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    return completed.returncode, completed.stderr.decode()


class Result:
    def __init__(self, output, exit_code):
        self.output = output
        self.exit_code = exit_code
        self.lines = output.decode("latin-1").split("\r\n")
        if self.lines and self.lines[-1] == "":
            self.lines.pop()


class Scenario:
    """One scenario directory: launcher folder (pkg), temporary directory (temp), package source."""

    def __init__(self, name, prefix="win64", launcher_folder="pkg"):
        self.prefix = prefix
        self.root = WORK / f"{name}-{prefix}"
        shutil.rmtree(self.root, ignore_errors=True)
        self.launcher_dir = self.root / launcher_folder
        self.temp = self.root / "temp"
        self.package_dir = self.root / "package"
        for directory in (self.launcher_dir, self.temp, self.package_dir):
            directory.mkdir(parents=True)
        self.temp_value = windows_path(self.temp)

    @property
    def expansion_dir(self):
        return self.temp / "TempExpandedFiles"

    def package(self, settings, builds=("x86", "x64"), cabinet="Setup.cab", extra=None):
        """Writes the package folder and builds its cabinet beside the launcher."""
        shutil.rmtree(self.package_dir)
        install = self.package_dir / "install"
        install.mkdir(parents=True)
        (install / "component.isf").write_bytes(settings)
        for build in builds:
            (install / build).mkdir()
            shutil.copy(PROGRAMS / build / "InstallGui.exe", install / build / "InstallGui.exe")
        for relative, data in (extra or {}).items():
            (self.package_dir / relative).parent.mkdir(parents=True, exist_ok=True)
            (self.package_dir / relative).write_bytes(data)
        if len(builds) == 2:
            # A complete package is made the way administrators make one.
            make_package(self.package_dir, self.launcher_dir, cabinet[:-len(".cab")])
        else:
            build_cabinet(self.package_dir, self.launcher_dir / cabinet)

    def run(self, arguments="", name="Setup.exe", temp="default", stdin=subprocess.DEVNULL, timeout=120):
        """Runs the launcher as NAME with the exact argument text; temp None unsets TEMP."""
        exe = self.launcher_dir / name
        if not exe.exists():
            shutil.copy(BUILD / "Setup.exe", exe)
        spec = []
        if temp is None:
            spec += ["unset TEMP", "unset TMP"]
        else:
            spec.append("set TEMP=" + (self.temp_value if temp == "default" else temp))
        spec.append(f'run "{windows_path(exe)}"' + (" " + arguments if arguments else ""))
        # Files of their own for each run, so that runs may overlap.
        run_number = next(RUN_NUMBERS)
        spec_file = self.root / f"spec-{run_number}.txt"
        spec_file.write_bytes("\n".join(spec).encode("utf-8") + b"\n")
        exit_file = self.root / f"exit-{run_number}.txt"
        exit_file.unlink(missing_ok=True)
        # Started from another folder than its own, so that the working directory it hands the
        # programs it starts is seen to be its own folder, not the one it inherited.
        completed = subprocess.run(
            ["wine", str(PROGRAMS / "run_launcher.exe"), windows_path(exit_file), windows_path(spec_file)],
            cwd=self.root, env=wine_environment(self.prefix), stdin=stdin,
            stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=timeout)
        expect(exit_file.exists(), f"run_launcher wrote no exit code: {completed.stderr.decode(errors='replace')}")
        return Result(completed.stdout, int(exit_file.read_text().strip(), 16))

    def run_unattended(self, arguments=""):
        """Runs the launcher from a Wine service, whose window station nobody sees (Wine's
        "__wineservice_winstation" lacks WSF_VISIBLE), as a deployment tool running as SYSTEM
        would. Wine ends a service process that never reports to the service manager after
        10 s; the launcher, its child, runs on and is waited for here."""
        exe = self.launcher_dir / "Setup.exe"
        if not exe.exists():
            shutil.copy(BUILD / "Setup.exe", exe)
        run_number = next(RUN_NUMBERS)
        spec_file = self.root / f"spec-{run_number}.txt"
        exit_file = self.root / f"exit-{run_number}.txt"
        output_file = self.root / f"output-{run_number}.txt"
        spec = ["set TEMP=" + self.temp_value, "output " + windows_path(output_file),
                f'run "{windows_path(exe)}"' + (" " + arguments if arguments else "")]
        spec_file.write_bytes("\n".join(spec).encode("utf-8") + b"\n")
        service = f"launcher-e2e-{os.getpid()}-{run_number}"
        environment = wine_environment(self.prefix)
        quiet = dict(env=environment, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        command = f'{windows_path(PROGRAMS / "run_launcher.exe")} {windows_path(exit_file)} {windows_path(spec_file)}'
        subprocess.run(["wine", "sc", "create", service, "binpath=", command], check=True, timeout=60, **quiet)
        try:
            subprocess.run(["wine", "sc", "start", service], timeout=60, **quiet)
            deadline = time.time() + 60
            while not exit_file.exists() and time.time() < deadline:
                time.sleep(0.2)
            time.sleep(0.2)  # the exit file is written and closed
        finally:
            subprocess.run(["wine", "sc", "delete", service], timeout=60, **quiet)
        expect(exit_file.exists(), "the launcher ended without anybody pressing ENTER")
        return Result(output_file.read_bytes(), int(exit_file.read_text().strip(), 16))

    def installer_runs(self):
        """The stub installer's log, one dictionary per start."""
        log = self.launcher_dir / "installer-log.txt"
        if not log.exists():
            return []
        runs, current = [], {}
        for line in log.read_bytes().decode("latin-1").split("\n"):
            if line == "end":
                runs.append(current)
                current = {}
            elif "=" in line:
                key, value = line.split("=", 1)
                current[key] = value
        return runs

    def settings_seen(self):
        return (self.launcher_dir / "installer-settings.bin").read_bytes()


def expect_run(result, lines, exit_code):
    expect_equal(result.lines, lines, "console lines")
    expect_equal(result.output, "".join(line + "\r\n" for line in lines).encode("latin-1"), "console bytes")
    expect_equal(result.exit_code, exit_code, "exit code")


def expect_one_installer(scenario, parameters, build="x64"):
    runs = scenario.installer_runs()
    expect_equal(len(runs), 1, "installer starts")
    expect_equal(runs[0]["parameters"], parameters, "installer parameters")
    expect_equal(runs[0]["build"], build, "installer build")
    expect_equal(runs[0]["directory"], windows_path(scenario.launcher_dir), "installer working directory")
    return runs[0]


def settings_path(scenario):
    return scenario.temp_value + "\\TempExpandedFiles\\install\\component.isf"


SCENARIOS = {}


def scenario(function):
    SCENARIOS[function.__name__.replace("_", "-")] = function
    return function


# ---- launcher control ----

@scenario
def help_screen():
    s = Scenario("help")
    expect_run(s.run("/?"), HELP_LINES, 0)
    expect_run(s.run("/PORT:x /?"), HELP_LINES, 0)


@scenario
def invalid_argument():
    s = Scenario("invalid")
    expect_run(s.run("/bogus"), ["Invalid Parameters."] + HELP_LINES, 10)
    expect_run(s.run('/port:x ""'), ["Invalid Parameters."] + HELP_LINES, 10)
    expect(not s.expansion_dir.exists(), "nothing is expanded for a bad argument")


@scenario
def second_instance():
    s = Scenario("instance")
    first = s.root / "first"
    first.mkdir()
    shutil.copy(PROGRAMS / "sleeper.exe", first / "Setup.exe")
    sleeper = subprocess.Popen(["wine", str(first / "Setup.exe"), "60"], env=wine_environment(s.prefix),
                               stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    try:
        deadline = time.time() + 60
        result = s.run("/?")
        while result.exit_code != 1 and time.time() < deadline:
            time.sleep(0.5)
            result = s.run("/?")
        expect_run(result, ["Error : Already another instance is running", "Press ENTER to continue"], 1)
        # Another file name is not a copy of this launcher.
        expect_run(s.run("/?", name="Other.exe"), [line.replace("Setup.exe", "Other.exe") for line in HELP_LINES], 0)
    finally:
        sleeper.kill()
        sleeper.wait()
    time.sleep(1)
    expect_run(s.run("/?"), HELP_LINES, 0)


@scenario
def unattended_runs_never_wait():
    # Two overlapping deployments, and a package that needs port options nobody gave: the prompt
    # is printed, nothing is read, and the exit codes reach the deployment tool at once.
    s = Scenario("unattended")
    s.package(FIRST_EXAMPLE_IN)
    failed = ["Install Failed, Beginning Cleanup...", "Cleanup Complete.", "Press ENTER to continue"]
    expect_run(s.run_unattended("/port:LPT1:"), EXPANSION + MISSING_OPTIONS +
               ["/address: parameter not found or no value was specified"] + failed, 10)
    expect(not s.expansion_dir.exists(), "expansion directory removed")
    first = s.root / "first"
    first.mkdir()
    shutil.copy(PROGRAMS / "sleeper.exe", first / "Setup.exe")
    sleeper = subprocess.Popen(["wine", str(first / "Setup.exe"), "60"], env=wine_environment(s.prefix),
                               stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    try:
        deadline = time.time() + 60
        while s.run("/?").exit_code != 1 and time.time() < deadline:
            time.sleep(0.5)
        expect_run(s.run_unattended(), ["Error : Already another instance is running", "Press ENTER to continue"], 1)
    finally:
        sleeper.kill()
        sleeper.wait()


@scenario
def deployment_guide_commands():
    # Every command of the administrator's guide that runs under Wine, as written there, from the
    # package's folder as deployment tools run it.
    guide = (SOURCE / "docs" / "deployment.md").read_text()
    blocks = [block.split("\n", 1)[1] for block in guide.split("```")[1::2] if block.startswith("bat\n")]
    expect(len(blocks) >= 4, f"the guide's commands: {len(blocks)}")
    s = Scenario("guide")
    s.package(b"[Install]\r\nPort=CmdLine\r\n")
    environment = wine_environment(s.prefix)
    log = PREFIXES[s.prefix] / "drive_c" / "windows" / "temp" / "PrinterDriver-setup.log"
    for number, block in enumerate(blocks):
        log.unlink(missing_ok=True)
        (s.launcher_dir / "installer-log.txt").unlink(missing_ok=True)
        script = s.launcher_dir / f"guide-{number}.cmd"
        script.write_bytes(block.replace("\n", "\r\n").encode("latin-1"))
        completed = subprocess.run(["wine", "cmd", "/c", script.name], cwd=s.launcher_dir, env=environment,
                                   stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=120)
        expect_equal(completed.returncode, 0, f"exit code of:\n{block}")
        runs = s.installer_runs()
        expect_equal(len(runs), 1, f"installer starts for:\n{block}")
        expect(b"\r\nPort=IP_10.1.2.3\r\n" in s.settings_seen() and b"\r\nIPAddress=10.1.2.3\r\n" in s.settings_seen(),
               f"the port reached the settings file for:\n{block}")
        if "PrinterDriver-setup.log" in block:
            lines = log.read_bytes().decode("latin-1").replace("\r\n", "\n").splitlines()
            expect_equal(lines[:5], SETTINGS_RUN, f"the kept lines of:\n{block}")
        else:
            # The command interpreter echoes a script's commands before the launcher's lines.
            expect_equal(Result(completed.stdout, 0).lines[-5:], SETTINGS_RUN, f"console lines of:\n{block}")
        script.unlink()


def pe_resources(data, type_id):
    """The data of every resource of one type in a PE file."""
    u16 = lambda at: int.from_bytes(data[at:at + 2], "little")
    u32 = lambda at: int.from_bytes(data[at:at + 4], "little")
    header = u32(0x3C)
    sections_at = header + 24 + u16(header + 20)
    optional = header + 24
    resource_rva = u32(optional + 96 + 2 * 8)
    sections = [(u32(at + 12), u32(at + 8), u32(at + 20)) for at in
                (sections_at + 40 * i for i in range(u16(header + 6)))]

    def offset(rva):
        for address, size, raw in sections:
            if address <= rva < address + size:
                return raw + rva - address
        raise Failure(f"RVA {rva:#x} outside every section")

    base = offset(resource_rva)

    def entries(directory):
        count = u16(base + directory + 12) + u16(base + directory + 14)
        return [(u32(base + directory + 16 + 8 * i), u32(base + directory + 20 + 8 * i)) for i in range(count)]

    found = []
    for identifier, target in entries(0):
        if identifier != type_id:
            continue
        for _, names in entries(target & 0x7FFFFFFF):
            for _, leaf in entries(names & 0x7FFFFFFF):
                found.append(data[offset(u32(base + leaf)):offset(u32(base + leaf)) + u32(base + leaf + 4)])
    return found


def windows_platform_tests(prefix, wow64):
    """The platform layer's GoogleTest program, in one prefix."""
    s = Scenario("platform-tests", prefix)
    target = s.root / "link-target"
    target.mkdir()
    (target / "keep.txt").write_bytes(b"keep")
    (s.root / "link").symlink_to(target, target_is_directory=True)
    tests = BUILD / "win32-tests"
    environment = dict(wine_environment(prefix), LAUNCHER_EXPECT_WOW64="1" if wow64 else "0",
                       LAUNCHER_OBSERVER=windows_path(tests / "observer.exe"),
                       LAUNCHER_TEST_LINK=windows_path(s.root / "link"),
                       LAUNCHER_TEST_LINK_TARGET=windows_path(target))
    completed = subprocess.run(["wine", str(tests / "platform_win32_tests.exe")], cwd=s.root, env=environment,
                               stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, timeout=300)
    output = completed.stdout.decode("latin-1")
    expect(completed.returncode == 0 and "[  PASSED  ]" in output, f"platform tests in {prefix}:\n{output}")
    expect("FAILED" not in output, f"platform tests in {prefix}:\n{output}")


@scenario
def windows_platform_tests_64():
    windows_platform_tests("win64", wow64=True)


@scenario
def windows_platform_tests_32():
    windows_platform_tests("win32", wow64=False)


@scenario
def executable_file():
    exe = BUILD / "Setup.exe"
    headers = subprocess.run(["i686-w64-mingw32-objdump", "-p", str(exe)], check=True,
                             stdout=subprocess.PIPE).stdout.decode()
    expect("file format pei-i386" in headers, "PE32 for i386")
    expect("(Windows CUI)" in headers, "console subsystem")
    dlls = sorted(line.split(":")[1].strip().lower() for line in headers.splitlines() if "DLL Name:" in line)
    expect_equal(dlls, ["advapi32.dll", "kernel32.dll", "msvcrt.dll", "shell32.dll", "user32.dll"], "imported DLLs")
    for function in ("IsWow64Process", "SetDefaultDllDirectories"):
        expect(function not in headers, f"{function} is looked up at run time, not imported")

    data = exe.read_bytes()
    manifests = pe_resources(data, 24)
    expect_equal(len(manifests), 1, "manifests")
    manifest = manifests[0].decode()
    for field in ['<assemblyIdentity name="Installer Application" version="10.5.0.0" processorArchitecture="x86" type="win32"/>',
                  "<description>Installer Core File</description>",
                  '<assemblyIdentity type="win32" name="Microsoft.Windows.Common-Controls" version="6.0.0.0" '
                  'processorArchitecture="x86" publicKeyToken="6595b64144ccf1df" language="*"/>',
                  '<requestedExecutionLevel level="requireAdministrator" uiAccess="false"/>',
                  '<supportedOS Id="{35138b9a-5d96-4fbd-8e2d-a2440225f93a}"/>',
                  '<supportedOS Id="{e2011457-1546-43c5-a5fe-008deee3d3f0}"/>']:
        expect(field in manifest, f"manifest field {field}")

    versions = pe_resources(data, 16)
    expect_equal(len(versions), 1, "version resources")
    fixed = versions[0].find((0xFEEF04BD).to_bytes(4, "little"))
    numbers = [int.from_bytes(versions[0][fixed + at:fixed + at + 4], "little") for at in (8, 12, 16, 20)]
    expect_equal(numbers, [10 << 16 | 5, 0, 10 << 16 | 5, 0], "file and product version 10.5.0.0")
    for text in ["Installer Core File", "10.5.0.0"]:
        expect(text.encode("utf-16-le") in versions[0], f"version string {text}")


@scenario
def dll_search_restricted_first():
    # Wine's relay trace lists every call the launcher makes, in order: the DLL search is restricted
    # to the system directory before the launcher's own work starts, and before any DLL is loaded
    # by name. (Under Wine, shell32's delayed imports still look beside the launcher; on Windows
    # they are known DLLs, which always come from the system directory.)
    s = Scenario("dll-search")
    shutil.copy(BUILD / "Setup.exe", s.launcher_dir / "Setup.exe")
    environment = wine_environment(s.prefix)
    key = "HKCU\\Software\\Wine\\Debug"
    quiet = dict(env=environment, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    subprocess.run(["wine", "reg", "add", key, "/v", "RelayFromInclude", "/t", "REG_SZ", "/d", "Setup.exe", "/f"],
                   check=True, **quiet)
    try:
        traced = subprocess.run(["wine", str(s.launcher_dir / "Setup.exe"), "/?"], env=dict(environment, WINEDEBUG="+relay"),
                                cwd=s.launcher_dir, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                                stderr=subprocess.PIPE, timeout=120)
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
    expect(restricted, f"SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32) is called: {calls[:80]}")
    before = calls[:restricted[0]]
    expect(not any("LoadLibrary" in call for call in before), f"no DLL loaded by name before it: {before}")
    expect(all(call.startswith(("msvcrt.", "KERNEL32.", "ntdll.")) for call in before),
           f"only the C runtime's start-up before it: {before}")
    expect(any(call.startswith("msvcrt.__getmainargs") for call in before), "the trace holds the start-up")
    expect(any(call.startswith("KERNEL32.GetConsoleWindow") for call in calls[restricted[0]:]), "the run goes on after it")


# ---- package expansion and workspace ----

@scenario
def expansion_and_cleanup():
    s = Scenario("expansion")
    s.package(b"[Install]\r\nKey=1\r\n", extra={"install/docs/readme.txt": b"nested"})
    expect_run(s.run(), SETTINGS_RUN, 0)
    run = expect_one_installer(s, "/I:" + settings_path(s))
    expect_equal(run["expansion-root"], "install;", "expanded folders")
    expect_equal(s.settings_seen(), b"[Install]\r\nKey=1\r\n", "settings file as expanded")
    expect(not s.expansion_dir.exists(), "expansion directory removed")
    expect_equal(sorted(p.name for p in s.temp.iterdir()), [], "temporary directory left as it was")


@scenario
def own_cabinet_preferred():
    s = Scenario("cabinets")
    s.package(b"shared\r\n", cabinet="InstallFiles.cab")
    s.package(b"own\r\n", cabinet="Setup.cab")
    # The launcher as built, bound to no cabinet: which cabinet it picks is the point here.
    shutil.copy(BUILD / "Setup.exe", s.launcher_dir / "Setup.exe")
    expect_run(s.run(), SETTINGS_RUN, 0)
    expect_equal(s.settings_seen(), b"own\r\n", "settings from Setup.cab")
    (s.launcher_dir / "Setup.cab").unlink()
    (s.launcher_dir / "installer-log.txt").unlink()
    expect_run(s.run(), SETTINGS_RUN, 0)
    expect_equal(s.settings_seen(), b"shared\r\n", "settings from InstallFiles.cab")
    expect_equal(len(s.installer_runs()), 1, "installer starts")


@scenario
def no_cabinet():
    s = Scenario("nocab")
    expect_run(s.run(), ["Unable to extract cab:  Setup.cab"], 10)
    expect_run(s.run(name="setup.x86.exe"), ["Unable to extract cab:  setup.x86.cab"], 10)
    expect_equal(list(s.temp.iterdir()), [], "nothing created")


def aside_directories(s):
    """The leftovers the launcher moved aside in the temporary directory."""
    return sorted(p for p in s.temp.iterdir() if p.name.startswith("TempExpandedFiles."))


def expect_package_only(s, run):
    expect_equal(run["expansion-root"], "install;", "the installer saw the package's files only")
    expect_equal(s.settings_seen(), b"[Install]\r\n", "the package's settings bytes, without an old tail")


def tree(directory):
    """Every path below directory with its bytes (links as their target), to show nothing changed."""
    return {str(p.relative_to(directory)): (os.readlink(p) if p.is_symlink() else p.read_bytes() if p.is_file() else None)
            for p in sorted(directory.rglob("*"))}


@scenario
def leftover_directory_moved_aside():
    # A folder made without the launcher's descriptor reads back under Wine with Everyone in it,
    # as one that a standard user made in C:\Windows\Temp would: never entered, renamed aside.
    s = Scenario("leftover")
    s.package(b"[Install]\r\n", builds=("x86",))
    (s.expansion_dir / "install" / "x64").mkdir(parents=True)
    (s.expansion_dir / "install" / "x64" / "InstallGui.exe").write_bytes((PROGRAMS / "x64" / "InstallGui.exe").read_bytes())
    (s.expansion_dir / "install" / "component.isf").write_bytes(b"[Install]\r\nfrom an older and longer package\r\n")
    (s.expansion_dir / "leftover.txt").write_bytes(b"from an earlier run")
    before = tree(s.expansion_dir)
    expect_run(s.run(), SETTINGS_RUN, 0)
    expect_equal(s.installer_runs(), [], "the old x64 build was not started")
    aside = aside_directories(s)
    expect_equal(len(aside), 1, "one leftover moved aside")
    expect_equal(tree(aside[0]), before, "the leftover moved aside untouched")
    expect(not s.expansion_dir.exists(), "expansion directory removed")

    # On the 32-bit side the new x86 build runs, with the new settings bytes only.
    s32 = Scenario("leftover", "win32")
    s32.package(b"[Install]\r\n")
    s32.expansion_dir.mkdir()
    (s32.expansion_dir / "install").mkdir()
    (s32.expansion_dir / "install" / "component.isf").write_bytes(b"[Install]\r\nfrom an older and longer package\r\n")
    expect_run(s32.run(), SETTINGS_RUN, 0)
    expect_package_only(s32, expect_one_installer(s32, "/I:" + settings_path(s32), "x86"))


@scenario
def leftover_with_links_outside():
    # A leftover whose "install" is a link to a folder elsewhere, and a leftover that is itself a
    # link: the expansion writes through neither, and no removal reaches what they point at.
    for shape in ("install-link", "directory-link"):
        s = Scenario("links-" + shape)
        sentinels = with_sentinels(s)
        s.package(b"[Install]\r\n")
        elsewhere = s.root / "outside"
        (elsewhere / "x64").mkdir(parents=True)
        (elsewhere / "x64" / "keep.dll").write_bytes(b"precious")
        before = tree(elsewhere)
        if shape == "install-link":
            s.expansion_dir.mkdir()
            (s.expansion_dir / "install").symlink_to(elsewhere, target_is_directory=True)
            expect_run(s.run(), SETTINGS_RUN, 0)
            expect_package_only(s, expect_one_installer(s, "/I:" + settings_path(s)))
            expect_equal(len(aside_directories(s)), 1, "the leftover is moved aside")
            expect(not s.expansion_dir.exists(), "expansion directory removed")
        else:
            # Windows renames a link as itself; Wine 8 opens and renames its target instead, so the
            # launcher cannot move it aside here and stops on the temporary-directory road.
            s.expansion_dir.symlink_to(elsewhere, target_is_directory=True)
            expect_run(s.run(), ["Creating Temporary Directory...",
                                 "Unable to use the temporary directory: TempExpandedFiles in it could not be removed "
                                 "or moved aside.", "Unable to extract cab:  Setup.cab"], 10)
            expect(s.expansion_dir.is_symlink(), "the link is left where it was")
            expect_equal(aside_directories(s), [], "nothing moved aside")
            expect_equal(s.installer_runs(), [], "nothing started")
        expect_equal(tree(elsewhere), before, f"{shape}: the folder outside is whole")
        expect_sentinels(sentinels)


@scenario
def leftover_temporary_settings_link():
    # A leftover .tmp that links to a file outside: the leftover is moved aside whole. A package
    # whose cabinet holds a .tmp of its own: it is not reused, and the settings file stays as it was.
    s = Scenario("tmp-link")
    outside = s.root / "outside.txt"
    outside.write_bytes(b"precious")
    s.package(FIRST_EXAMPLE_IN)
    (s.expansion_dir / "install").mkdir(parents=True)
    (s.expansion_dir / "install" / "component.isf.tmp").symlink_to(outside)
    expect_run(s.run("/port:IP_192.168.1.20 /address:192.168.1.20"), SETTINGS_RUN, 0)
    expect_equal(s.settings_seen(), FIRST_EXAMPLE_OUT, "rewritten settings file")
    expect_equal(outside.read_bytes(), b"precious", "the linked file is unchanged")

    s.package(FIRST_EXAMPLE_IN, extra={"install/component.isf.tmp": b"from the cabinet"})
    (s.launcher_dir / "installer-log.txt").unlink()
    expect_run(s.run("/port:IP_192.168.1.20 /address:192.168.1.20"), EXPANSION + [
        "Unable to write the port configuration to the settings file; it was left unchanged.",
        "Running Install..."] + CLEANUP_OK, 0)
    expect_equal(s.settings_seen(), FIRST_EXAMPLE_IN, "settings file left as the cabinet held it")
    expect_equal(outside.read_bytes(), b"precious", "the linked file is unchanged")


def temp_of_length(s, length):
    """A temporary directory whose Windows path is exactly length characters long."""
    base = s.root / "t"
    padding = length - len(windows_path(base)) - 1
    expect(padding > 0, "scenario root short enough")
    temp = base / ("p" * padding)
    temp.mkdir(parents=True)
    expect_equal(len(windows_path(temp)), length, "temp length")
    return temp


@scenario
def temp_near_the_length_limit():
    s = Scenario("long-temp")
    sentinels = with_sentinels(s)
    s.package(b"[Install]\r\n")
    launcher_files = tree(s.launcher_dir)
    refused = ["Unable to use the temporary directory: TEMP is too long for the paths the launcher forms in it.",
               "Unable to extract cab:  Setup.cab"]
    for length in (215, 234, 238, 250):
        temp = temp_of_length(s, length)
        expect_run(s.run(temp=windows_path(temp)), refused, 10)
        expect_equal(list(temp.iterdir()), [], f"nothing created in a temp of {length}")
        shutil.rmtree(s.root / "t")
    expect_equal(tree(s.launcher_dir), launcher_files, "nothing beside the launcher changed")
    temp = temp_of_length(s, 214)
    expect_run(s.run(temp=windows_path(temp)), SETTINGS_RUN, 0)
    expect_one_installer(s, "/I:" + windows_path(temp) + "\\TempExpandedFiles\\install\\component.isf")
    expect_equal(list(temp.iterdir()), [], "expansion directory removed")
    launcher_files["installer-log.txt"] = (s.launcher_dir / "installer-log.txt").read_bytes()
    launcher_files["installer-settings.bin"] = b"[Install]\r\n"
    expect_equal(tree(s.launcher_dir), launcher_files, "only the stub installer's records beside the launcher")
    expect_sentinels(sentinels)


@scenario
def second_launcher_of_another_name():
    s = Scenario("other-name")
    s.package(b"[Install]\r\n")
    (s.launcher_dir / "stub-behaviour.txt").write_text("sleep 8000")
    shutil.copy(BUILD / "Setup.exe", s.launcher_dir / "Setup2.exe")
    shutil.copy(s.launcher_dir / "Setup.cab", s.launcher_dir / "Setup2.cab")
    outcome = {}
    first = threading.Thread(target=lambda: outcome.update(result=s.run()))
    first.start()
    try:
        deadline = time.time() + 60
        while not s.installer_runs() and time.time() < deadline:
            time.sleep(0.2)
        expect(s.installer_runs(), "the first run's installer started")
        during = tree(s.expansion_dir)
        # What Wine keeps of the protected descriptor: no permission bits for others.
        expect_equal(s.expansion_dir.stat().st_mode & 0o007, 0, "no access for others")
        expect_run(s.run(name="Setup2.exe"), ["Error : Already another instance is running", "Press ENTER to continue"], 1)
        expect_equal(tree(s.expansion_dir), during, "the first run's files intact")
    finally:
        first.join()
    expect_run(outcome["result"], SETTINGS_RUN, 0)
    run = expect_one_installer(s, "/I:" + settings_path(s))
    expect(run["expansion-security"].startswith("O:") and "D:" in run["expansion-security"],
           f"security read back: {run['expansion-security']!r}")
    dacl = run["expansion-security"].split("D:", 1)[1]
    expect("WD" not in dacl and "BU" not in dacl and "CO" not in dacl,
           f"no entry for Everyone, Users or CREATOR OWNER: {dacl!r}")
    expect("(A;OICI;FA;;;SY)" in dacl, f"SYSTEM has full control of all below: {dacl!r}")
    expect(not s.expansion_dir.exists(), "the first run cleaned up")
    expect_equal(aside_directories(s), [], "nothing moved aside")


@scenario
def blank_in_temp():
    s = Scenario("blank")
    s.package(b"[Install]\r\n")
    sibling = s.root / "John"
    (sibling / "Documents").mkdir(parents=True)
    (sibling / "Documents" / "keep.txt").write_bytes(b"precious")
    temp = s.root / "John Smith" / "Temp"
    temp.mkdir(parents=True)
    expect_run(s.run(temp=windows_path(temp)), SETTINGS_RUN, 0)
    expect_one_installer(s, "/I:" + windows_path(temp) + "\\TempExpandedFiles\\install\\component.isf")
    expect(not (temp / "TempExpandedFiles").exists(), "expansion directory removed")
    expect(temp.exists(), "temporary directory kept")
    expect_equal((sibling / "Documents" / "keep.txt").read_bytes(), b"precious", "sibling folder untouched")


@scenario
def folders_the_code_page_cannot_spell():
    # The launcher works in the ANSI code page (1252 here): a Cyrillic folder reaches it as "?".
    # Its short form names the same folder, in letters the code page holds.
    s = Scenario("cyrillic", launcher_folder="Папка с пробелами")
    s.package(b"[Install]\r\nPort=CmdLine\r\n")
    arguments = "/port:IP_10.0.0.5 /address:10.0.0.5"
    rewritten = (b"[Install]\r\nPort=IP_10.0.0.5\r\n\r\n[Ports]\r\nIP_10.0.0.5=StandardIP\r\n\r\n[IP_10.0.0.5]\r\n"
                 b"Name=IP_10.0.0.5\r\nHostName=IP_10.0.0.5\r\nIPAddress=10.0.0.5\r\n")
    expect_run(s.run(arguments), SETTINGS_RUN, 0)
    run = expect_one_installer_anywhere(s, "/I:" + settings_path(s))
    expect_equal(s.settings_seen(), rewritten, "settings bytes as for any other folder")
    expect(not s.expansion_dir.exists(), "expansion directory removed")

    # A "temp" under a profile whose name the code page cannot spell.
    temp = s.root / "Пользователь" / "Temp"
    temp.mkdir(parents=True)
    (s.launcher_dir / "installer-log.txt").unlink()
    expect_run(s.run(arguments, temp=windows_path(temp)), SETTINGS_RUN, 0)
    run = expect_one_installer_anywhere(s, None)
    parameters = run["parameters"]
    expect(parameters.startswith("/I:") and parameters.endswith("\\TempExpandedFiles\\install\\component.isf")
           and "?" not in parameters and all(ord(c) < 128 for c in parameters),
           f"the settings path is the short form: {parameters!r}")
    expect_equal(s.settings_seen(), rewritten, "settings bytes under a short temp")
    expect_equal(list(temp.iterdir()), [], "expansion directory removed from the temp")
    expect_equal(run["expansion-root"], "install;", "expanded into the short-named temp")


def expect_one_installer_anywhere(s, parameters):
    """The one installer start, in the launcher's folder (by its long form, since the launcher
    hands on the short one), with parameters unless None."""
    runs = s.installer_runs()
    expect_equal(len(runs), 1, "installer starts")
    if parameters is not None:
        expect_equal(runs[0]["parameters"], parameters, "installer parameters")
    expect_equal(runs[0]["directory-long"], windows_path(s.launcher_dir).encode("utf-8").decode("latin-1"),
                 "installer working directory: the launcher's folder")
    expect("?" not in runs[0]["directory"], f"a working directory the code page spells: {runs[0]['directory']!r}")
    return runs[0]


@scenario
def unusable_temp():
    s = Scenario("badtemp")
    s.package(b"[Install]\r\n")
    prefix = "Unable to use the temporary directory: "
    for temp, reason in [(None, "the TEMP environment variable is not set."),
                         ("relative\\temp", "TEMP is not a full path."),
                         (s.temp_value + '" & echo', "TEMP holds characters that the launcher does not accept in a path.")]:
        expect_run(s.run(temp=temp), [prefix + reason, "Unable to extract cab:  Setup.cab"], 10)
    expect_equal(list(s.temp.iterdir()), [], "nothing created")
    expect_equal(sorted(p.name for p in s.launcher_dir.iterdir()), ["Setup.cab", "Setup.exe"], "nothing created beside the launcher")


# ---- installer hand-off ----

def settings_run(prefix, build):
    s = Scenario("settings-run", prefix)
    s.package(b"[Install]\r\nDisplayUI=0\r\n")
    expect_run(s.run("/port:ignored /address:ignored"), SETTINGS_RUN, 0)
    expect_one_installer(s, "/I:" + settings_path(s), build)
    expect_equal(s.settings_seen(), b"[Install]\r\nDisplayUI=0\r\n", "settings file unchanged")
    expect(not s.expansion_dir.exists(), "expansion directory removed")


@scenario
def settings_run_64():
    settings_run("win64", "x64")


@scenario
def settings_run_32():
    settings_run("win32", "x86")


@scenario
def port_from_command_line():
    for prefix, build in (("win64", "x64"), ("win32", "x86")):
        s = Scenario("port", prefix)
        s.package(FIRST_EXAMPLE_IN)
        expect_run(s.run("/port:IP_192.168.1.20 /address:192.168.1.20"), SETTINGS_RUN, 0)
        expect_one_installer(s, "/I:" + settings_path(s), build)
        expect_equal(s.settings_seen(), FIRST_EXAMPLE_OUT, "rewritten settings file")


@scenario
def printer_share_port():
    s = Scenario("share")
    s.package(SECOND_EXAMPLE_IN)
    expect_run(s.run(r"/port:\\server\printer"), SETTINGS_RUN, 0)
    expect_equal(s.settings_seen(), SECOND_EXAMPLE_OUT, "rewritten settings file")


@scenario
def port_options_missing():
    s = Scenario("missing")
    s.package(FIRST_EXAMPLE_IN)
    failed = ["Install Failed, Beginning Cleanup...", "Cleanup Complete.", "Press ENTER to continue"]
    expect_run(s.run("/port:LPT1:"), EXPANSION + MISSING_OPTIONS +
               ["/address: parameter not found or no value was specified"] + failed, 10)
    expect_run(s.run("/address:10.0.0.1 /port:"), EXPANSION + MISSING_OPTIONS +
               ["/port: parameter not found or no value was specified"] + failed, 10)
    expect_equal(s.installer_runs(), [], "installer never started")
    expect(not s.expansion_dir.exists(), "expansion directory removed")


@scenario
def standalone_run():
    s = Scenario("standalone")
    for settings, arguments, parameters in [(b"[Install]\r\nDisplayUI=1\r\n", "", ""),
                                            (b"[Install]\r\nDisplayUI=1\r\n", "/l:de", "/l:de"),
                                            (b"[Install]\r\nDisplayUI=1\r\n", "/L:DE", "/L:DE"),
                                            (b"License=1\r\nDisplayUI=0\r\n", "/l:fr", "/l:fr"),
                                            (b"DisplayUI=1 \r\n", "/l:fr", "/I:" + settings_path(s))]:
        (s.launcher_dir / "installer-log.txt").unlink(missing_ok=True)
        s.package(settings)
        expect_run(s.run(arguments), SETTINGS_RUN, 0)
        run = expect_one_installer(s, parameters)
        if not parameters:
            expect(run["command-line"].endswith('InstallGui.exe"') or run["command-line"].endswith("InstallGui.exe"),
                   f"no parameters at all: {run['command-line']!r}")


@scenario
def standalone_run_with_port():
    s = Scenario("standalone-port")
    s.package(b"[Install]\r\nPort=CmdLine\r\nDisplayUI=1\r\n")
    expect_run(s.run("/port:IP_1 /address:10.0.0.1"), SETTINGS_RUN, 0)
    expect_one_installer(s, "")
    expect_equal(s.settings_seen(),
                 b"[Install]\r\nPort=IP_1\r\nDisplayUI=1\r\n\r\n[Ports]\r\nIP_1=StandardIP\r\n\r\n[IP_1]\r\n"
                 b"Name=IP_1\r\nHostName=IP_1\r\nIPAddress=10.0.0.1\r\n", "rewritten once")


@scenario
def missing_installer_build():
    s = Scenario("nobuild")
    s.package(b"[Install]\r\n", builds=("x86",))
    expect_run(s.run(), SETTINGS_RUN, 0)
    expect_equal(s.installer_runs(), [], "no installer ran")
    expect(not s.expansion_dir.exists(), "expansion directory removed")


@scenario
def package_tool():
    s = Scenario("make-package")
    s.package(b"[Install]\r\n", cabinet="Branch Office.cab")
    expect_equal(sorted(p.name for p in s.launcher_dir.iterdir()), ["Branch Office.cab", "Branch Office.exe"], "package files")
    expect_run(s.run(name="Branch Office.exe"), SETTINGS_RUN, 0)
    expect_one_installer(s, "/I:" + settings_path(s))

    out = s.root / "refused"
    (s.package_dir / "install" / "x64" / "InstallGui.exe").unlink()
    code, message = make_package(s.package_dir, out)
    expect(code != 0 and "install/x64/InstallGui.exe" in message, f"refuses a missing build: {message!r}")
    (s.package_dir / "install" / "component.isf").unlink()
    code, message = make_package(s.package_dir, out)
    expect(code != 0 and "install/component.isf" in message, f"refuses a missing settings file: {message!r}")
    expect(not out.exists() or not any(out.iterdir()), "nothing written for a refused package")

    # Names beyond ASCII that Windows-1252 can write arrive as written: the cabinet holds their
    # bytes in that code page, as extrac32.exe reads them, and a launcher named so finds its cabinet.
    s = Scenario("make-package-names")
    s.package(b"[Install]\r\n", cabinet="Drucker B\u00fcro.cab", extra={"install/\u00dcbersicht \u2013 Caf\u00e9.txt": b"1252"})
    expect_run(s.run(name="Drucker B\u00fcro.exe"), SETTINGS_RUN, 0)
    expect_one_installer(s, "/I:" + settings_path(s))
    expanded = s.root / "expanded"
    expanded.mkdir()
    subprocess.run(["wine", "extrac32", "/Y", "/E", "/L", windows_path(expanded), windows_path(s.launcher_dir / "Drucker B\u00fcro.cab")],
                   env=wine_environment(s.prefix), check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    expect_equal(sorted(p.name for p in (expanded / "install").iterdir()),
                 ["component.isf", "x64", "x86", "\u00dcbersicht \u2013 Caf\u00e9.txt"], "names as extrac32.exe wrote them")


# ---- the preview against the launcher under Wine ----

def run_preview(s, arguments, package_dir=None, name="Setup.exe"):
    """What scripts/preview says the launcher does in scenario s, read back from its text."""
    command = [str(SOURCE / "scripts" / "preview"), "--temp", s.temp_value, "--launcher",
               windows_path(s.launcher_dir / name)] + (["--x86"] if s.prefix == "win32" else [])
    completed = subprocess.run(command + [str(package_dir or s.package_dir)] + arguments.split(),
                               stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    expect_equal(completed.returncode, 0, f"preview exit code: {completed.stderr.decode(errors='replace')}")
    text = completed.stdout.decode()
    lines = text.split("\n")
    exit_at = next(i for i, line in enumerate(lines) if line.startswith("Exit code: "))
    seen = {"console": [line[2:] for line in lines[lines.index("Console:") + 1:exit_at]],
            "exit code": int(lines[exit_at][len("Exit code: "):]), "installers": []}
    for line in lines[exit_at + 1:]:
        if line.startswith("Installer: the "):
            seen["installers"].append({"build": line[len("Installer: the "):-len(" build")], "settings": b""})
        elif line.startswith("Installer: ") and line != "Installer: not started":
            raise Failure(f"unexpected installer line: {line}")
        elif line.startswith("  parameters: "):
            parameters = line[len("  parameters: "):]
            seen["installers"][-1]["parameters"] = "" if parameters == "(none)" else parameters
        elif line.startswith("  working directory: "):
            seen["installers"][-1]["directory"] = line[len("  working directory: "):]
        elif re.match(r" +\d+ \|", line):
            shown, line_end = re.match(r" +\d+ \|(.*)\|(CR LF|LF|\(no line end\))$", line).groups()
            data = re.sub(rb"<([0-9A-F]{2})>", lambda m: bytes([int(m.group(1), 16)]), shown.encode("latin-1"))
            seen["installers"][-1]["settings"] += data + {"CR LF": b"\r\n", "LF": b"\n"}.get(line_end, b"")
    return seen


def wine_run_seen(s, result, sample_installer=False):
    """The same facts from a run under Wine: the console, the exit code and what the installer got."""
    seen = {"console": result.lines, "exit code": result.exit_code, "installers": []}
    if sample_installer:
        report = s.launcher_dir / "InstallGui-report.txt"
        if report.exists():
            header, rest = report.read_bytes().split(b"---- settings file as received ----\r\n", 1)
            fields = header.decode("latin-1").split("\r\n")
            parameters = fields[1][len("Parameters:"):].strip()
            seen["installers"].append({"build": re.match(r"Sample installer \((\w+) build\)", fields[0]).group(1),
                                       "parameters": "" if parameters == "(none)" else parameters,
                                       "directory": fields[2][len("Working directory: "):],
                                       "settings": rest[:rest.rindex(b"---- end ----\r\n")]})
            report.unlink()
    else:
        for run in s.installer_runs():
            seen["installers"].append({"build": run["build"], "parameters": run["parameters"],
                                       "directory": run["directory"], "settings": s.settings_seen()})
        (s.launcher_dir / "installer-log.txt").unlink(missing_ok=True)
    return seen


@scenario
def preview_matches_wine():
    port = "/port:IP_192.168.1.20 /address:192.168.1.20"
    # The sample package, with its own installer, on both kinds of Windows.
    for prefix in ("win64", "win32"):
        s = Scenario("preview-sample", prefix)
        shutil.rmtree(s.package_dir)
        shutil.copytree(BUILD / "sample-package", s.package_dir)
        code, message = make_package(s.package_dir, s.launcher_dir)
        expect_equal(code, 0, f"make-package: {message}")
        for arguments in (port, ""):
            wine = wine_run_seen(s, s.run(arguments), sample_installer=True)
            expect_equal(run_preview(s, arguments), wine, f"preview of the sample package, {prefix}, {arguments!r}")

    # Both worked examples of the port rewrite, and the roads that stop early or run standalone.
    cases = [(FIRST_EXAMPLE_IN, port, "win64"), (FIRST_EXAMPLE_IN, port, "win32"),
             (SECOND_EXAMPLE_IN, r"/port:\\server\printer", "win64"), (FIRST_EXAMPLE_IN, "/port:LPT1:", "win64"),
             (b"[Install]\r\nDisplayUI=1 \r\nPort=CmdLine\r\nLicense=1\r\n", "/L:DE /port:IP_1 /address:1.2.3.4", "win32"),
             (b"[Install]\r\nPort=CmdLine \r\n", "/port:IP_1 /address:1.2.3.4", "win64")]
    for settings, arguments, prefix in cases:
        s = Scenario("preview", prefix)
        s.package(settings)
        wine = wine_run_seen(s, s.run(arguments))
        expect_equal(run_preview(s, arguments), wine, f"preview of {settings!r}, {prefix}, {arguments!r}")
        if settings == FIRST_EXAMPLE_IN and wine["installers"]:
            expect_equal(wine["installers"][0]["settings"], FIRST_EXAMPLE_OUT, "the first worked example")
        if settings == SECOND_EXAMPLE_IN:
            expect_equal(wine["installers"][0]["settings"], SECOND_EXAMPLE_OUT, "the second worked example")

    # Names in another letter case are found on Windows, and so in the preview.
    s = Scenario("preview-case")
    (s.package_dir / "Install" / "X64").mkdir(parents=True)
    (s.package_dir / "INSTALL" / "x86").mkdir(parents=True)
    (s.package_dir / "Install" / "Component.ISF").write_bytes(FIRST_EXAMPLE_IN)
    shutil.copy(PROGRAMS / "x64" / "InstallGui.exe", s.package_dir / "Install" / "X64" / "installgui.exe")
    shutil.copy(PROGRAMS / "x86" / "InstallGui.exe", s.package_dir / "INSTALL" / "x86" / "INSTALLGUI.EXE")
    code, message = make_package(s.package_dir, s.launcher_dir)
    expect_equal(code, 0, f"make-package takes names in any letter case: {message}")
    wine = wine_run_seen(s, s.run(port))
    expect_equal(len(wine["installers"]), 1, "the x64 build found under Wine")
    expect_equal(run_preview(s, port), wine, "preview of a package in other letter cases")


# ---- signed packages ----

def make_test_certificate(directory, password):
    """A throwaway self-signed code-signing certificate: cert.pem and cert.pfx."""
    subprocess.run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "2",
                    "-subj", "/CN=Launcher Test Signer/O=End-to-end tests",
                    "-keyout", str(directory / "key.pem"), "-out", str(directory / "cert.pem")],
                   check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    (directory / "password.txt").write_text(password)
    subprocess.run(["openssl", "pkcs12", "-export", "-inkey", str(directory / "key.pem"),
                    "-in", str(directory / "cert.pem"), "-out", str(directory / "cert.pfx"),
                    "-passout", "file:" + str(directory / "password.txt")], check=True)


def run_package_tool(*arguments, password=None):
    environment = dict(os.environ, LAUNCHER_EXE=str(BUILD / "Setup.exe"))
    environment.pop("SIGN_PASSWORD", None)
    if password is not None:
        environment["SIGN_PASSWORD"] = password
    completed = subprocess.run([str(SOURCE / "scripts" / "make-package")] + [str(a) for a in arguments],
                               env=environment, stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    return completed.returncode, completed.stdout.decode() + completed.stderr.decode()


@scenario
def signed_package():
    s = Scenario("signed")
    keys = s.root / "keys"
    keys.mkdir()
    make_test_certificate(keys, "test password")
    s.package(b"[Install]\r\n")
    signed = s.root / "signed"
    code, output = run_package_tool("--sign", keys / "cert.pfx", "--password-file", keys / "password.txt",
                                s.package_dir, signed)
    expect_equal(code, 0, f"signing: {output}")
    code, output = run_package_tool("--verify", "--ca", keys / "cert.pem", signed)
    expect_equal(code, 0, f"verify: {output}")
    expect("Setup.exe: signed by /CN=Launcher Test Signer/O=End-to-end tests; the signature verifies" in output,
           f"verify names the signer: {output}")
    # Bound first, then signed: the signature covers the binding.
    expect("Setup.exe: the signature covers it as it is, binding included" in output, f"verify: {output}")
    expect("Setup.exe: bound to this cabinet" in output, f"verify reports the binding: {output}")
    for required in ("install/component.isf", "install/x86/InstallGui.exe", "install/x64/InstallGui.exe"):
        expect(f"Setup.cab: holds {required}" in output, f"verify lists {required}")
    verified = subprocess.run(["osslsigncode", "verify", "-CAfile", str(keys / "cert.pem"), "-in", str(signed / "Setup.exe")],
                              stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
    expect(verified.returncode == 0 and b"Signature verification: ok" in verified.stdout, "osslsigncode verifies it")

    data = (signed / "Setup.exe").read_bytes()
    expect_equal(len(pe_resources(data, 24)), 1, "manifests after signing")
    expect_equal(len(pe_resources(data, 16)), 1, "version resources after signing")

    for name in ("Setup.exe", "Setup.cab"):
        shutil.copy(signed / name, s.launcher_dir / name)
    expect_run(s.run("/?"), HELP_LINES, 0)
    expect_run(s.run(), SETTINGS_RUN, 0)
    expect_one_installer(s, "/I:" + settings_path(s))

    # The signature from the environment, and the failure roads: nothing is left behind.
    code, output = run_package_tool("--sign", keys / "cert.pfx", s.package_dir, s.root / "from-environment",
                                password="test password")
    expect_equal(code, 0, f"password from SIGN_PASSWORD: {output}")
    for arguments, password, message in [
            (["--sign", keys / "cert.pfx"], "wrong password", "signing failed"),
            (["--sign", keys / "missing.pfx", "--password-file", keys / "password.txt"], None, "no certificate file"),
            (["--sign", keys / "cert.pfx"], None, "needs the certificate's password"),
            (["--sign", keys / "cert.pfx", "--password", "test password"], None, "never taken on the command line")]:
        out = s.root / "refused"
        code, output = run_package_tool(*arguments, s.package_dir, out, password=password)
        expect(code != 0 and message in output, f"{message}: {output}")
        expect(not out.exists(), f"nothing written for: {message}")
    code, output = run_package_tool("--verify", s.launcher_dir.parent / "refused-missing")
    expect(code != 0, "verify of a missing package fails")
    unsigned = s.root / "unsigned"
    run_package_tool(s.package_dir, unsigned)
    code, output = run_package_tool("--verify", unsigned)
    expect(code != 0 and "Setup.exe: not signed" in output, f"verify reports an unsigned launcher: {output}")


# ---- bound packages ----

def expect_bound(s):
    """The package tool bound the launcher it placed to the cabinet beside it."""
    shown = subprocess.run([sys.executable, str(SOURCE / "scripts" / "lib" / "package_binding.py"), "show",
                            str(s.launcher_dir / "Setup.exe"), str(s.launcher_dir / "Setup.cab")],
                           stdout=subprocess.PIPE).stdout.decode().strip()
    expect_equal(shown, "bound to this cabinet", "the package's binding")


@scenario
def bound_package():
    s = Scenario("bound")
    s.package(FIRST_EXAMPLE_IN)
    expect_bound(s)
    expect_run(s.run("/port:IP_192.168.1.20 /address:192.168.1.20"), SETTINGS_RUN, 0)
    expect_one_installer(s, "/I:" + settings_path(s))
    expect_equal(s.settings_seen(), FIRST_EXAMPLE_OUT, "settings bytes as for an unbound package")

    refused = ["The package cabinet does not match this launcher.", "Unable to extract cab:  Setup.cab"]
    cabinet = s.launcher_dir / "Setup.cab"
    original = cabinet.read_bytes()
    changed = bytearray(original)
    changed[len(changed) // 2] ^= 1
    other = Scenario("bound-other")
    other.package(b"[Install]\r\nfrom another package\r\n")
    for what, data in [("one byte changed", bytes(changed)), ("another package's cabinet",
                                                              (other.launcher_dir / "Setup.cab").read_bytes())]:
        (s.launcher_dir / "installer-log.txt").unlink(missing_ok=True)
        cabinet.write_bytes(data)
        expect_run(s.run("/port:IP_192.168.1.20 /address:192.168.1.20"), refused, 10)
        expect_equal(s.installer_runs(), [], f"{what}: nothing started")
        expect_equal(list(s.temp.iterdir()), [], f"{what}: nothing left in temp")
        cabinet.write_bytes(original)

    # Saved by a browser as "Setup (1).exe": the launcher falls back to InstallFiles.cab, which
    # somebody else put there.
    shutil.copy(s.launcher_dir / "Setup.exe", s.launcher_dir / "Setup (1).exe")
    shutil.copy(other.launcher_dir / "Setup.cab", s.launcher_dir / "InstallFiles.cab")
    expect_run(s.run(name="Setup (1).exe"), [refused[0], "Unable to extract cab:  Setup (1).cab"], 10)
    expect_equal(list(s.temp.iterdir()), [], "nothing left in temp")
    expect_equal(s.installer_runs(), [], "nothing started")


@scenario
def bound_cabinet_swapped_during_the_run():
    # A standard user who may write to the package's folder tries to put another cabinet in place
    # once the launcher holds the checked one: the swap fails until the extraction has ended, or the
    # launcher refuses what it finds.
    s = Scenario("swap")
    s.package(b"[Install]\r\n", extra={f"install/data/file{i}.bin": os.urandom(1 << 20) for i in range(16)})
    expect_bound(s)
    other = Scenario("swap-other")
    other.package(b"[Install]\r\nfrom another package\r\n")
    report = s.root / "swapper.txt"
    swapper = subprocess.Popen(["wine", str(PROGRAMS / "swapper.exe"), windows_path(s.launcher_dir / "Setup.cab"),
                                windows_path(other.launcher_dir / "Setup.cab"), "60", windows_path(report)],
                               env=wine_environment(s.prefix), stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    try:
        time.sleep(1)  # the swapper is watching before the launcher starts
        result = s.run()
    finally:
        swapper.wait(timeout=90)
    seen = dict(item.split("=") for item in report.read_text().split())
    if result.exit_code == 0:
        expect_run(result, SETTINGS_RUN, 0)
        expect_equal(s.settings_seen(), b"[Install]\r\n", "the installer saw the checked package's bytes")
        expect_equal(seen["held"], "1", f"the swapper saw the cabinet held: {seen}")
        expect(int(seen["attempts"]) > 0, f"the swapper tried while it was held: {seen}")
    else:
        expect_run(result, ["The package cabinet does not match this launcher.", "Unable to extract cab:  Setup.cab"], 10)
        expect_equal(s.installer_runs(), [], "nothing started")
    expect_equal(list(s.temp.iterdir()), [], "nothing left in temp")


# ---- fault runs ----

def with_sentinels(s):
    """Files beside the expansion directory and the launcher that no run may touch."""
    sentinels = {s.temp / "beside.txt": b"temp", s.root / "outside" / "keep.txt": b"outside"}
    for path, data in sentinels.items():
        path.parent.mkdir(parents=True, exist_ok=True)
        path.write_bytes(data)
    return sentinels


def expect_sentinels(sentinels):
    for path, data in sentinels.items():
        expect(path.exists() and path.read_bytes() == data, f"{path} untouched")


@scenario
def damaged_cabinet():
    s = Scenario("damaged")
    sentinels = with_sentinels(s)
    s.package(b"[Install]\r\n", extra={f"install/data/file{i}.bin": os.urandom(64 * 1024) for i in range(8)})
    cabinet = s.launcher_dir / "Setup.cab"
    cabinet.write_bytes(cabinet.read_bytes()[:cabinet.stat().st_size // 2])
    # A bound launcher refuses it; one bound to no cabinet does not examine the expansion's
    # outcome: the run goes on to the install and the cleanup.
    expect_run(s.run(), ["The package cabinet does not match this launcher.", "Unable to extract cab:  Setup.cab"], 10)
    shutil.copy(BUILD / "Setup.exe", s.launcher_dir / "Setup.exe")
    expect_run(s.run(), SETTINGS_RUN, 0)
    expect(not s.expansion_dir.exists(), "expansion directory removed")
    expect_sentinels(sentinels)


@scenario
def installer_fails():
    s = Scenario("installer-fails")
    sentinels = with_sentinels(s)
    s.package(b"[Install]\r\n")
    for behaviour in ("exit 5", "crash"):
        (s.launcher_dir / "installer-log.txt").unlink(missing_ok=True)
        (s.launcher_dir / "stub-behaviour.txt").write_text(behaviour)
        expect_run(s.run(), SETTINGS_RUN, 0)
        expect_one_installer(s, "/I:" + settings_path(s))
        expect(not s.expansion_dir.exists(), "expansion directory removed")
    expect_sentinels(sentinels)


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


@scenario
def long_installer_waited_for_idle():
    s = Scenario("long-installer")
    s.package(b"[Install]\r\n")
    (s.launcher_dir / "stub-behaviour.txt").write_text("sleep 6000")
    outcome = {}
    runner = threading.Thread(target=lambda: outcome.update(result=s.run(), ended=time.time()))
    started = time.time()
    runner.start()
    time.sleep(3)
    first = cpu_ticks(s.root.name)
    time.sleep(2.5)
    second = cpu_ticks(s.root.name)
    runner.join()
    expect(first is not None and second is not None, "the launcher was running while the installer ran")
    expect(second - first <= 3, f"the launcher used {(second - first) * 10} ms of CPU in 2.5 s of waiting")
    expect(outcome["ended"] - started >= 6, "the launcher waited for the installer")
    expect_run(outcome["result"], SETTINGS_RUN, 0)


@scenario
def unusual_arguments():
    s = Scenario("arguments")
    s.package(b"[Install]\r\nPort=CmdLine\r\n")
    expect_run(s.run("/port:" + "A" * 9994 + " /address:" + "9" * 300), SETTINGS_RUN, 0)
    seen = s.settings_seen()
    expect(b"\r\nPort=" + b"A" * 255 + b"\r\n" in seen, "port name cut to 255 characters")
    expect(b"IPAddress=" + b"9" * 255 + b"\r\n" in seen, "address cut to 255 characters")
    expect_run(s.run("/port:Drucker-B\xfcro-\xe9 /address:imprimante-\xe7"), SETTINGS_RUN, 0)
    seen = s.settings_seen()
    expect(b"Port=Drucker-B\xfcro-\xe9\r\n" in seen, f"bytes above 127 reach the settings file: {seen!r}")
    expect(b"IPAddress=imprimante-\xe7\r\n" in seen, "bytes above 127 in the address")
    expect_run(s.run("/l:\xe9\xe9 /bogus\xff"), ["Invalid Parameters."] + HELP_LINES, 10)


@scenario
def cleanup_of_locked_files():
    s = Scenario("locked")
    sentinels = with_sentinels(s)
    s.package(b"[Install]\r\n")
    (s.launcher_dir / "stub-behaviour.txt").write_text("readonly")
    expect_run(s.run(), SETTINGS_RUN, 0)
    expect(not s.expansion_dir.exists(), "rmdir /S /Q removes a read-only file too")
    # A file held open without delete sharing stays, and so does its folder; the launcher still
    # reports the cleanup and ends with 0. The next run knows the leftover by its descriptor,
    # removes it whole, stale files included, and expands into a new one.
    (s.launcher_dir / "stub-behaviour.txt").write_text("hold 4000")
    expect_run(s.run(), SETTINGS_RUN, 0)
    expect((s.expansion_dir / "install" / "component.isf").exists(), "the held file is left")
    time.sleep(4)
    (s.launcher_dir / "stub-behaviour.txt").unlink()
    (s.launcher_dir / "installer-log.txt").unlink()
    (s.expansion_dir / "install" / "component.isf").write_bytes(b"[Install]\r\nstale and longer than the package's\r\n")
    (s.expansion_dir / "stale.txt").write_bytes(b"stale")
    expect_run(s.run(), SETTINGS_RUN, 0)
    expect_package_only(s, expect_one_installer(s, "/I:" + settings_path(s)))
    expect_equal(aside_directories(s), [], "an own leftover is removed, not moved aside")
    expect(not s.expansion_dir.exists(), "expansion directory removed")
    expect_sentinels(sentinels)


def main(arguments):
    if arguments == ["--list"]:
        print("\n".join(SCENARIOS))
        return 0
    if arguments == ["--make-prefixes"]:
        make_prefixes()
        return 0
    if arguments == ["--stop-wine"]:
        stop_wine()
        return 0
    if len(arguments) != 1 or arguments[0] not in SCENARIOS:
        print(__doc__, file=sys.stderr)
        return 2
    try:
        SCENARIOS[arguments[0]]()
    except Failure as failure:
        print(f"FAILED {arguments[0]}: {failure}")
        return 1
    print(f"passed {arguments[0]}")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
