"""A scenario directory of the end-to-end tests, the launcher's runs in it, and the checks that
several test modules share.

A scenario directory holds the launcher copied under the scenario's file name (in pkg/, or a
folder of the test's choosing), a cabinet built from a package folder (package/), the tests' stub
installer, and a temporary directory (temp/) that reaches the launcher through run_launcher.exe:
Wine overrides TEMP from the Unix environment for the programs it starts itself.
"""

import itertools
import os
import re
import shutil
import subprocess
import time

from wine import BUILD, SOURCE, wine_environment, windows_path

import pefile

PROGRAMS = BUILD / "e2e-programs"
WORK = BUILD / "e2e-work"

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
INVALID = ["Invalid Parameters."] + HELP_LINES
ALREADY_RUNNING = ["Error : Already another instance is running", "Press ENTER to continue"]
CLEANUP_OK = ["Install Complete, Beginning Cleanup...", "Cleanup Complete."]
FAILED_CLEANUP = ["Install Failed, Beginning Cleanup...", "Cleanup Complete."]
CLEANUP_FAILED = FAILED_CLEANUP + ["Press ENTER to continue"]
EXPANSION = ["Creating Temporary Directory...", "Expanding Install Files..."]
SETTINGS_RUN = EXPANSION + ["Running Install..."] + CLEANUP_OK
MISSING_OPTIONS = [
    "Error - package is configured for port and address or hostname on cmd line, but",
    "these params were not found",
]
MISSING_X64 = "Unable to install: the package holds no installer for 64-bit Windows (install\\x64\\InstallGui.exe)."
NOT_THIS_CABINET = "The package cabinet does not match this launcher."
# A bound launcher's refusal once it has hashed the cabinet into its own directory, which it then removes.
REFUSED_CABINET = ["Creating Temporary Directory...", NOT_THIS_CABINET, "Unable to extract cab:  Setup.cab"]
PORT_OPTIONS = "/port:IP_192.168.1.20 /address:192.168.1.20"
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

# Service names must differ between runs of overlapping deployments and of concurrent sessions.
SERVICE_NUMBERS = itertools.count()


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


# What the launcher's ReportEventW calls print on Wine's channels: the call with its type, id, user
# SID (a pointer, 00000000 for none) and number of strings on advapi's fixme channel, then each
# string on the eventlog channel.
EVENT_CHANNELS = ",+eventlog,fixme+advapi"
EVENT_CALL = re.compile(r":fixme:advapi:ReportEventW \([0-9A-Fa-f]+,0x([0-9a-f]{4}),0x[0-9a-f]{4},0x([0-9a-f]{8}),"
                        r"([0-9A-Fa-f]+),0x([0-9a-f]{4}),")
EVENT_STRING = re.compile(r':eventlog:ReportEventW L"(.*)"(\.\.\.)?$')
# Wine shows at most about 290 characters of a string, then "...": such a string ends with this.
CUT_BY_WINE = "\u2026"
EVENT_TYPES = {1: "error", 2: "warning", 4: "information"}


def wine_string(text):
    """The text that Wine's debugstr_w shows with its escapes."""
    # A character past ASCII comes as \xNN, or as four hexadecimal digits after the backslash (\00fc).
    return re.sub(r'\\(x[0-9a-f]{2,4}|[0-9a-f]{4}|[\\"nrt])',
                  lambda m: {"\\": "\\", '"': '"', "n": "\n", "r": "\r", "t": "\t"}.get(m.group(1)) or
                  chr(int(m.group(1).lstrip("x"), 16)), text)


def events_in(stderr):
    """The events a run wrote to the Application log, as Wine printed them: type, id and strings."""
    events, pending = [], 0
    for line in stderr.decode("latin-1").splitlines():
        call = EVENT_CALL.search(line)
        string = EVENT_STRING.search(line)
        if call:
            events.append({"type": EVENT_TYPES.get(int(call.group(1), 16)), "id": int(call.group(2), 16),
                           "user_sid": int(call.group(3), 16) != 0, "strings": []})
            pending = int(call.group(4), 16)
        elif string and pending:
            events[-1]["strings"].append(wine_string(string.group(1)) + (CUT_BY_WINE if string.group(2) else ""))
            pending -= 1
    return events


class Result:
    def __init__(self, output, exit_code, events=()):
        self.output = output
        self.exit_code = exit_code
        self.events = list(events)
        self.lines = output.decode("latin-1").split("\r\n")
        if self.lines and self.lines[-1] == "":
            self.lines.pop()

    def event(self):
        """The one event of the run, its strings by name ("Exit code" ...)."""
        assert len(self.events) == 1, f"one event per run: {self.events}"
        event = dict(self.events[0])
        event["fields"] = dict(text.split(": ", 1) for text in event["strings"])
        return event


class Scenario:
    """One scenario directory: launcher folder, temporary directory (temp), package source
    (package). Each run leaves its plan, exit code and Wine's standard error there, numbered."""

    def __init__(self, root, prefix="win64", launcher_folder="pkg"):
        self.prefix = prefix
        self.root = root
        shutil.rmtree(self.root, ignore_errors=True)
        self.launcher_dir = self.root / launcher_folder
        self.temp = self.root / "temp"
        self.package_dir = self.root / "package"
        for directory in (self.launcher_dir, self.temp, self.package_dir):
            directory.mkdir(parents=True)
        self.temp_value = windows_path(self.temp)
        self.run_numbers = itertools.count(1)

    @property
    def expansion_dir(self):
        return self.temp / "TempExpandedFiles"

    def package(self, settings, builds=("x86", "x64"), cabinet="Setup.cab", extra=None, tool=True):
        """Writes the package folder and builds its cabinet beside the launcher: with the package
        tool for a complete package, unless tool is False (for what the tool would refuse)."""
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
        if len(builds) == 2 and tool:
            # A complete package is made the way administrators make one.
            code, message = make_package(self.package_dir, self.launcher_dir, cabinet[:-len(".cab")])
            assert code == 0, f"make-package: {message}"
        else:
            build_cabinet(self.package_dir, self.launcher_dir / cabinet)

    def run(self, arguments="", name="Setup.exe", temp="default", stdin=subprocess.DEVNULL):
        """Runs the launcher as NAME with the exact argument text; temp None unsets TEMP."""
        exe = self.launcher_dir / name
        if not exe.exists():
            shutil.copy(BUILD / "Setup.exe", exe)
        plan = []
        if temp is None:
            plan += ["unset TEMP", "unset TMP"]
        else:
            plan.append("set TEMP=" + (self.temp_value if temp == "default" else temp))
        plan.append(f'run "{windows_path(exe)}"' + (" " + arguments if arguments else ""))
        # Files of their own for each run, so that runs may overlap.
        number = next(self.run_numbers)
        plan_file = self.root / f"plan-{number}.txt"
        plan_file.write_bytes("\n".join(plan).encode("utf-8") + b"\n")
        exit_file = self.root / f"exit-{number}.txt"
        # Started from another folder than its own, so that the working directory it hands the
        # programs it starts is seen to be its own folder, not the one it inherited.
        stderr_file = self.root / f"wine-stderr-{number}.txt"
        environment = wine_environment(self.prefix)
        environment["WINEDEBUG"] += EVENT_CHANNELS
        with open(stderr_file, "wb") as stderr:
            completed = subprocess.run(
                ["wine", str(PROGRAMS / "run_launcher.exe"), windows_path(exit_file), windows_path(plan_file)],
                cwd=self.root, env=environment, stdin=stdin, stdout=subprocess.PIPE, stderr=stderr)
        assert exit_file.exists(), f"run_launcher wrote no exit code: {stderr_file.read_text(errors='replace')}"
        events = events_in(stderr_file.read_bytes())
        assert len(events) <= 1, f"at most one event a run: {events}"
        return Result(completed.stdout, int(exit_file.read_text().strip(), 16), events)

    def run_unattended(self, arguments=""):
        """Runs the launcher from a Wine service, whose window station nobody sees (Wine's
        "__wineservice_winstation" lacks WSF_VISIBLE), as a deployment tool running as SYSTEM
        would, and waits until it has ended: a launcher that waited for ENTER would hold the test
        until CTest's time-out."""
        exe = self.launcher_dir / "Setup.exe"
        if not exe.exists():
            shutil.copy(BUILD / "Setup.exe", exe)
        number = next(self.run_numbers)
        plan_file = self.root / f"plan-{number}.txt"
        exit_file = self.root / f"exit-{number}.txt"
        output_file = self.root / f"output-{number}.txt"
        plan = ["set TEMP=" + self.temp_value, "output " + windows_path(output_file),
                f'run "{windows_path(exe)}"' + (" " + arguments if arguments else "")]
        plan_file.write_bytes("\n".join(plan).encode("utf-8") + b"\n")
        service = f"launcher-e2e-{os.getpid()}-{next(SERVICE_NUMBERS)}"
        environment = wine_environment(self.prefix)
        quiet = dict(env=environment, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        command = f'{windows_path(PROGRAMS / "run_launcher.exe")} {windows_path(exit_file)} {windows_path(plan_file)}'
        subprocess.run(["wine", "sc", "create", service, "binpath=", command], check=True, **quiet)
        try:
            started = subprocess.run(["wine", "sc", "start", service], **quiet)
            assert started.returncode == 0, "the service started"
            # run_launcher gives the exit file its name once it is written whole.
            while not exit_file.exists():
                time.sleep(0.05)
        finally:
            subprocess.run(["wine", "sc", "delete", service], **quiet)
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

    def forget_installer_runs(self):
        (self.launcher_dir / "installer-log.txt").unlink(missing_ok=True)


# One entry of the launcher's log, as CMTrace reads it.
CMTRACE_ENTRY = re.compile(
    rb'<!\[LOG\[(?P<text>[^\r\n]*?)\]LOG\]!><time="(?P<time>\d\d:\d\d:\d\d\.\d{3})(?P<bias>[+-]\d{3})" '
    rb'date="(?P<date>\d{1,2}-\d{1,2}-\d{4})" component="(?P<component>[a-z_]+)" context="(?P<context>[^"]+)" '
    rb'type="(?P<type>[123])" thread="(?P<thread>\d+)" file="(?P<file>[a-z_]+\.cpp:\d+)">')


def log_entries(path):
    """Every entry of a log the launcher wrote, each a whole CMTrace line ended by CR LF."""
    lines = path.read_bytes().split(b"\r\n")
    assert lines.pop() == b"" and all(CMTRACE_ENTRY.fullmatch(line) for line in lines), "lines CMTrace reads whole"
    return [{k: v.decode("latin-1") for k, v in CMTRACE_ENTRY.fullmatch(line).groupdict().items()} for line in lines]


def settings_path(s):
    return s.temp_value + "\\TempExpandedFiles\\install\\component.isf"


def assert_run(result, lines, exit_code):
    assert result.lines == lines, "console lines"
    assert result.output == "".join(line + "\r\n" for line in lines).encode("latin-1"), "console bytes"
    assert result.exit_code == exit_code, "exit code"


def assert_event(result, kind, event_id, **fields):
    """The run's one event has this type and id, and these strings (Exit_code for "Exit code")."""
    event = result.event()
    assert (event["type"], event["id"]) == (kind, event_id), "event type and id"
    assert event["user_sid"], "written with the launcher's user SID"
    assert event["fields"]["Exit code"] == str(result.exit_code), "the event's exit code"
    for name, value in fields.items():
        shown = event["fields"][name.replace("_", " ")]
        # Wine prints a long string cut short: in a deep scenario folder only its start can be held.
        if shown.endswith(CUT_BY_WINE):
            assert value.startswith(shown[:-1]), f"event string {name}, as far as Wine shows it"
        else:
            assert shown == value, f"event string {name}"
    return event["fields"]


def assert_one_installer(s, parameters, build="x64"):
    runs = s.installer_runs()
    assert len(runs) == 1, "installer starts"
    assert runs[0]["parameters"] == parameters, "installer parameters"
    assert runs[0]["build"] == build, "installer build"
    assert runs[0]["directory"] == windows_path(s.launcher_dir), "installer working directory"
    assert runs[0]["show"] == "1", "installer window shown normally (SW_SHOWNORMAL)"
    return runs[0]


def aside_directories(s):
    """The leftovers the launcher moved aside in the temporary directory."""
    return sorted(p for p in s.temp.iterdir() if p.name.startswith("TempExpandedFiles."))


def assert_package_only(s, run):
    assert run["expansion-root"] == "install;", "the installer saw the package's files only"
    assert s.settings_seen() == b"[Install]\r\n", "the package's settings bytes, without an old tail"


def tree(directory):
    """Every path below directory with its bytes (links as their target), to show nothing changed."""
    return {str(p.relative_to(directory)):
            (os.readlink(p) if p.is_symlink() else p.read_bytes() if p.is_file() else None)
            for p in sorted(directory.rglob("*"))}


def with_sentinels(s):
    """Files beside the expansion directory and the launcher that no run may touch."""
    sentinels = {s.temp / "beside.txt": b"temp", s.root / "outside" / "keep.txt": b"outside"}
    for path, data in sentinels.items():
        path.parent.mkdir(parents=True, exist_ok=True)
        path.write_bytes(data)
    return sentinels


def assert_sentinels(sentinels):
    for path, data in sentinels.items():
        assert path.exists() and path.read_bytes() == data, f"{path} untouched"


def pe_resources(data, type_id):
    """The data of every resource of one type in a PE file, read with pefile as the package tool
    reads them."""
    image = pefile.PE(data=data)
    return [image.get_data(language.data.struct.OffsetToData, language.data.struct.Size)
            for kind in image.DIRECTORY_ENTRY_RESOURCE.entries if kind.id == type_id
            for name in kind.directory.entries for language in name.directory.entries]
