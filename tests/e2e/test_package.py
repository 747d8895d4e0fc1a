"""The package tool's packages under Wine: what scripts/make-package makes and refuses, the preview
held equal to the launcher's runs, signing, and the launcher bound to its cabinet."""

import os
import re
import shutil
import subprocess
import sys
import time

import pefile
import pytest

from scenarios import (BUILD, CUT_BY_WINE, FIRST_EXAMPLE_IN, FIRST_EXAMPLE_OUT, HELP_LINES, PORT_OPTIONS, PROGRAMS,
                       REFUSED_CABINET, SECOND_EXAMPLE_IN, SECOND_EXAMPLE_OUT, SETTINGS_RUN, SOURCE,
                       assert_one_installer, assert_run, assert_sentinels, log_entries, make_package, pe_resources,
                       settings_path, with_sentinels)
from wine import wine_environment, windows_path

sys.path.insert(0, str(SOURCE / "scripts"))
from packagetool import pe  # noqa: E402  (the package tool's reader of Windows programs)


def test_package_tool(scenario):
    s = scenario()
    s.package(b"[Install]\r\n", cabinet="Branch Office.cab")
    assert sorted(p.name for p in s.launcher_dir.iterdir()) == ["Branch Office.cab", "Branch Office.exe",
                                                                "Branch Office.sha256"], "package files"
    assert_run(s.run(name="Branch Office.exe"), SETTINGS_RUN, 0)
    assert_one_installer(s, "/I:" + settings_path(s))

    out = s.root / "refused"
    (s.package_dir / "install" / "x64" / "InstallGui.exe").unlink()
    code, message = make_package(s.package_dir, out)
    assert code != 0 and "install/x64/InstallGui.exe" in message, "refuses a missing build"
    (s.package_dir / "install" / "component.isf").unlink()
    code, message = make_package(s.package_dir, out)
    assert code != 0 and "install/component.isf" in message, "refuses a missing settings file"
    assert not out.exists() or not any(out.iterdir()), "nothing written for a refused package"


def test_package_tool_names_in_the_code_page(scenario):
    # Names beyond ASCII that Windows-1252 can write arrive as written: the cabinet holds their
    # bytes in that code page, as extrac32.exe reads them, and a launcher named so finds its cabinet.
    s = scenario()
    s.package(b"[Install]\r\n", cabinet="Drucker B\u00fcro.cab",
              extra={"install/\u00dcbersicht \u2013 Caf\u00e9.txt": b"1252"})
    assert_run(s.run(name="Drucker B\u00fcro.exe"), SETTINGS_RUN, 0)
    assert_one_installer(s, "/I:" + settings_path(s))
    expanded = s.root / "expanded"
    expanded.mkdir()
    subprocess.run(["wine", "extrac32", "/Y", "/E", "/L", windows_path(expanded),
                    windows_path(s.launcher_dir / "Drucker B\u00fcro.cab")],
                   env=wine_environment(s.prefix), check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    assert sorted(p.name for p in (expanded / "install").iterdir()) == \
        ["component.isf", "x64", "x86", "\u00dcbersicht \u2013 Caf\u00e9.txt"], "names as extrac32.exe wrote them"


# ---- the preview against the launcher under Wine ----

def run_preview(s, arguments, package_dir=None, name="Setup.exe"):
    """What scripts/preview says the launcher does in scenario s, read back from its text."""
    command = [str(SOURCE / "scripts" / "preview"), "--temp", s.temp_value, "--launcher",
               windows_path(s.launcher_dir / name)] + (["--x86"] if s.prefix == "win32" else [])
    completed = subprocess.run(command + [str(package_dir or s.package_dir)] + arguments.split(),
                               stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    text = completed.stdout.decode()
    lines = text.split("\n")
    exit_at = next(i for i, line in enumerate(lines) if line.startswith("Exit code: "))
    plain = re.search(r"the road's own code is (\d+)\n", text)
    assert completed.returncode == int(plain.group(1) if plain else lines[exit_at][len("Exit code: "):]), \
        f"preview's exit code is its run's plain one: {completed.stderr.decode(errors='replace')}"
    seen = {"console": [line[2:] for line in lines[lines.index("Console:") + 1:exit_at]],
            "exit code": int(lines[exit_at][len("Exit code: "):]), "installers": [], "event": None}
    for line in lines[exit_at + 1:]:
        event = re.match(r'Event in the Application log: source "Printer Package Launcher", (\w+), id (\d+)$', line)
        if event:
            seen["event"] = {"type": event.group(1), "id": int(event.group(2)), "fields": {}}
        elif seen["event"] and line.startswith("  "):
            name, value = line[2:].split(": ", 1)
            if name in COMPARED_EVENT_FIELDS:
                seen["event"]["fields"][name] = value
        elif line.startswith("Installer: the "):
            seen["installers"].append({"build": line[len("Installer: the "):-len(" build")], "settings": b""})
        elif line.startswith("Installer: ") and line != "Installer: not started":
            raise AssertionError(f"unexpected installer line: {line}")
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


# The event's strings that a preview knows as Windows would; the cabinet (the preview has a package
# folder in its place), the command line's quoting and the duration it cannot know.
COMPARED_EVENT_FIELDS = ("Outcome", "Exit code", "Failure", "Temporary directory", "Installer", "Installer exit code",
                         "Package")


def assert_same_run(preview, wine, what):
    """The preview and the run under Wine agree; an event string that Wine cut short only as far
    as Wine showed it."""
    if preview.get("event") and wine["event"]:
        for name, value in wine["event"]["fields"].items():
            shown = preview["event"]["fields"].get(name, "")
            if value.endswith(CUT_BY_WINE) and shown.startswith(value[:-1]):
                preview["event"]["fields"][name] = value
    assert preview == wine, what


def wine_run_seen(s, result, sample_installer=False):
    """The same facts from a run under Wine: the console, the exit code, what the installer got and
    the event."""
    event = result.event()
    seen = {"console": result.lines, "exit code": result.exit_code, "installers": [],
            "event": {"type": event["type"], "id": event["id"],
                      "fields": {name: event["fields"][name] for name in COMPARED_EVENT_FIELDS}}}
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
        s.forget_installer_runs()
    return seen


@pytest.mark.parametrize("prefix", ["win64", "win32"])
def test_preview_of_the_sample_package(scenario, prefix):
    # The sample package, with its own installer, on both kinds of Windows.
    s = scenario(prefix=prefix)
    shutil.rmtree(s.package_dir)
    shutil.copytree(BUILD / "sample-package", s.package_dir)
    code, message = make_package(s.package_dir, s.launcher_dir)
    assert code == 0, f"make-package: {message}"
    for arguments in (PORT_OPTIONS, ""):
        wine = wine_run_seen(s, s.run(arguments), sample_installer=True)
        assert_same_run(run_preview(s, arguments), wine, f"preview of the sample package, {prefix}, {arguments!r}")


# Keys that only end in "Ports" are no port count: copied as they are, and [Install] gets its own.
LONGER_KEYS = b"[Install]\r\nMaxPorts=4\r\nDefaultPorts=2\r\nPort=CmdLine\r\n[Next]\r\n"
LONGER_KEYS_OUT = b"[Install]\r\nMaxPorts=4\r\nDefaultPorts=2\r\nPort=IP_192.168.1.20\r\nPorts=1\r\n\r\n[Next]\r\n"


# Both worked examples of the port rewrite, and the roads that stop early, fail or run standalone.
@pytest.mark.parametrize("settings, arguments, prefix, builds", [
    (FIRST_EXAMPLE_IN, PORT_OPTIONS, "win64", ("x86", "x64")),
    (FIRST_EXAMPLE_IN, PORT_OPTIONS, "win32", ("x86", "x64")),
    (SECOND_EXAMPLE_IN, r"/port:\\server\printer", "win64", ("x86", "x64")),
    (FIRST_EXAMPLE_IN, "/port:LPT1:", "win64", ("x86", "x64")),
    (b"[Install]\r\nDisplayUI=1 \r\nPort=CmdLine\r\nLicense=1\r\n", "/L:DE /port:IP_1 /address:1.2.3.4", "win32",
     ("x86", "x64")),
    (b"[Install]\r\nPort=CmdLine \r\n", "/port:IP_1 /address:1.2.3.4", "win64", ("x86", "x64")),
    (b"[Install]\r\n", "", "win64", ("x86",)),
    (FIRST_EXAMPLE_IN, "/exitcodes:msi /port:LPT1: /timeout:5", "win64", ("x86", "x64")),
    (LONGER_KEYS, PORT_OPTIONS, "win64", ("x86", "x64")),
], ids=["first-example-win64", "first-example-win32", "second-example", "port-options-missing", "standalone-with-port",
        "blank-after-port-line", "build-missing", "windows-installer-codes", "keys-ending-in-ports"])
def test_preview_matches_wine(scenario, settings, arguments, prefix, builds):
    s = scenario(prefix=prefix)
    s.package(settings, builds=builds)
    wine = wine_run_seen(s, s.run(arguments))
    assert_same_run(run_preview(s, arguments), wine, "preview and Wine")
    if settings == FIRST_EXAMPLE_IN and wine["installers"]:
        assert wine["installers"][0]["settings"] == FIRST_EXAMPLE_OUT, "the first worked example"
    if settings == SECOND_EXAMPLE_IN:
        assert wine["installers"][0]["settings"] == SECOND_EXAMPLE_OUT, "the second worked example"
    if settings == LONGER_KEYS:
        assert wine["installers"][0]["settings"].startswith(LONGER_KEYS_OUT), \
            "keys that end in Ports kept, counted apart"


def test_preview_of_names_in_other_letter_cases(scenario):
    # Names in another letter case are found on Windows, and so in the preview.
    s = scenario()
    (s.package_dir / "Install" / "X64").mkdir(parents=True)
    (s.package_dir / "INSTALL" / "x86").mkdir(parents=True)
    (s.package_dir / "Install" / "Component.ISF").write_bytes(FIRST_EXAMPLE_IN)
    shutil.copy(PROGRAMS / "x64" / "InstallGui.exe", s.package_dir / "Install" / "X64" / "installgui.exe")
    shutil.copy(PROGRAMS / "x86" / "InstallGui.exe", s.package_dir / "INSTALL" / "x86" / "INSTALLGUI.EXE")
    code, message = make_package(s.package_dir, s.launcher_dir)
    assert code == 0, f"make-package takes names in any letter case: {message}"
    wine = wine_run_seen(s, s.run(PORT_OPTIONS))
    assert len(wine["installers"]) == 1, "the x64 build found under Wine"
    assert_same_run(run_preview(s, PORT_OPTIONS), wine, "preview of a package in other letter cases")


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


def test_signed_package(scenario):
    s = scenario()
    keys = s.root / "keys"
    keys.mkdir()
    make_test_certificate(keys, "test password")
    s.package(b"[Install]\r\n")
    signed = s.root / "signed"
    code, output = run_package_tool("--sign", keys / "cert.pfx", "--password-file", keys / "password.txt",
                                    s.package_dir, signed)
    assert code == 0, f"signing: {output}"
    code, output = run_package_tool("--verify", "--ca", keys / "cert.pem", signed)
    assert code == 0, f"verify: {output}"
    assert "Setup.exe: signed by /CN=Launcher Test Signer/O=End-to-end tests; the signature verifies" in output, \
        "verify names the signer"
    # Bound first, then signed: the signature covers the binding.
    assert "Setup.exe: the signature covers it as it is, binding included" in output, "verify"
    assert "Setup.exe: bound to this cabinet" in output, "verify reports the binding"
    for required in ("install/component.isf", "install/x86/InstallGui.exe", "install/x64/InstallGui.exe"):
        assert f"Setup.cab: holds {required}" in output, "verify lists it"
    verified = subprocess.run(["osslsigncode", "verify", "-CAfile", str(keys / "cert.pem"), "-in",
                               str(signed / "Setup.exe")],
                              stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
    assert verified.returncode == 0 and b"Signature verification: ok" in verified.stdout, "osslsigncode verifies it"

    data = (signed / "Setup.exe").read_bytes()
    assert len(pe_resources(data, 24)) == 1, "manifests after signing"
    assert len(pe_resources(data, 16)) == 1, "version resources after signing"

    for name in ("Setup.exe", "Setup.cab"):
        shutil.copy(signed / name, s.launcher_dir / name)
    assert_run(s.run("/?"), HELP_LINES, 0)
    assert_run(s.run(), SETTINGS_RUN, 0)
    assert_one_installer(s, "/I:" + settings_path(s))

    # The signature from the environment, and the failure roads: nothing is left behind.
    code, output = run_package_tool("--sign", keys / "cert.pfx", s.package_dir, s.root / "from-environment",
                                    password="test password")
    assert code == 0, f"password from SIGN_PASSWORD: {output}"
    for arguments, password, message in [
            (["--sign", keys / "cert.pfx"], "wrong password", "a wrong password, or no PKCS#12 file"),
            (["--sign", keys / "missing.pfx", "--password-file", keys / "password.txt"], None, "no certificate file"),
            (["--sign", keys / "cert.pfx"], None, "needs the certificate's password"),
            (["--sign", keys / "cert.pfx", "--password", "test password"], None, "never taken on the command line")]:
        out = s.root / "refused"
        code, output = run_package_tool(*arguments, s.package_dir, out, password=password)
        assert code != 0 and message in output, message
        assert not out.exists(), f"nothing written for: {message}"
    code, output = run_package_tool("--verify", s.root / "refused-missing")
    assert code != 0, "verify of a missing package fails"
    unsigned = s.root / "unsigned"
    run_package_tool(s.package_dir, unsigned)
    code, output = run_package_tool("--verify", unsigned)
    assert code != 0 and "Setup.exe: not signed" in output, "verify reports an unsigned launcher"


# ---- bound packages ----

def assert_bound(s):
    """The package tool bound the launcher it placed to the cabinet beside it."""
    assert pe.read_binding(s.launcher_dir / "Setup.exe") == pe.sha256_of(s.launcher_dir / "Setup.cab"), \
        "the package's binding"


def test_bound_package(scenario):
    s = scenario()
    s.package(FIRST_EXAMPLE_IN)
    assert_bound(s)
    assert_run(s.run(PORT_OPTIONS), SETTINGS_RUN, 0)
    run = assert_one_installer(s, "/I:" + settings_path(s))
    assert s.settings_seen() == FIRST_EXAMPLE_OUT, "settings bytes as for an unbound package"
    assert run["expansion-root"] == "install;", "the private copy of the cabinet is gone before the installer"

    refused = REFUSED_CABINET
    cabinet = s.launcher_dir / "Setup.cab"
    original = cabinet.read_bytes()
    changed = bytearray(original)
    changed[len(changed) // 2] ^= 1
    other = scenario("other")
    other.package(b"[Install]\r\nfrom another package\r\n")
    for what, data in [("one byte changed", bytes(changed)),
                       ("another package's cabinet", (other.launcher_dir / "Setup.cab").read_bytes())]:
        s.forget_installer_runs()
        cabinet.write_bytes(data)
        assert_run(s.run(PORT_OPTIONS), refused, 10)
        assert s.installer_runs() == [], f"{what}: nothing started"
        assert list(s.temp.iterdir()) == [], f"{what}: nothing left in temp"
        cabinet.write_bytes(original)

    # Saved by a browser as "Setup (1).exe": the launcher falls back to InstallFiles.cab, which
    # somebody else put there.
    shutil.copy(s.launcher_dir / "Setup.exe", s.launcher_dir / "Setup (1).exe")
    shutil.copy(other.launcher_dir / "Setup.cab", s.launcher_dir / "InstallFiles.cab")
    assert_run(s.run(name="Setup (1).exe"), REFUSED_CABINET[:2] + ["Unable to extract cab:  Setup (1).cab"], 10)
    assert list(s.temp.iterdir()) == [], "nothing left in temp"
    assert s.installer_runs() == [], "nothing started"


def test_bound_cabinet_swapped_during_the_run(scenario):
    # A standard user who may write to the package's folder tries to put another cabinet in place
    # once the launcher holds the checked one: the swap fails until the extraction has ended, or the
    # launcher refuses what it finds.
    s = scenario()
    s.package(b"[Install]\r\n", extra={f"install/data/file{i}.bin": os.urandom(1 << 20) for i in range(16)})
    assert_bound(s)
    other = scenario("other")
    other.package(b"[Install]\r\nfrom another package\r\n")
    report = s.root / "swapper.txt"
    swapper = subprocess.Popen(["wine", str(PROGRAMS / "swapper.exe"), windows_path(s.launcher_dir / "Setup.cab"),
                                windows_path(other.launcher_dir / "Setup.cab"), windows_path(report)],
                               env=wine_environment(s.prefix), stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    try:
        while not report.with_suffix(".txt.ready").exists():  # it watches before the launcher starts
            assert swapper.poll() is None, "the swapper runs"
            time.sleep(0.05)
        result = s.run()
    finally:
        report.with_suffix(".txt.stop").touch()
        swapper.wait()
    seen = dict(item.split("=") for item in report.read_text().split())
    if result.exit_code == 0:
        assert_run(result, SETTINGS_RUN, 0)
        assert s.settings_seen() == b"[Install]\r\n", "the installer saw the checked package's bytes"
        assert seen["held"] == "1", f"the swapper saw the cabinet held: {seen}"
        assert int(seen["attempts"]) > 0, f"the swapper tried while it was held: {seen}"
    else:
        # The swapper's write probe may hold the cabinet just as the launcher takes its hold: then
        # the launcher refuses before it creates its directory.
        refused = REFUSED_CABINET if result.lines[:1] == REFUSED_CABINET[:1] else REFUSED_CABINET[1:]
        assert_run(result, refused, 10)
        assert s.installer_runs() == [], "nothing started"
    assert list(s.temp.iterdir()) == [], "nothing left in temp"


# ---- single-file packages ----

def test_single_file_package(scenario):
    twin = scenario("two-files")
    twin.package(FIRST_EXAMPLE_IN)
    assert_run(twin.run(PORT_OPTIONS), SETTINGS_RUN, 0)
    twin_run = assert_one_installer(twin, "/I:" + settings_path(twin))

    s = scenario()
    shutil.copytree(twin.package_dir, s.package_dir, dirs_exist_ok=True)
    keys = s.root / "keys"
    keys.mkdir()
    make_test_certificate(keys, "test password")
    code, output = run_package_tool("--single-file", "--sign", keys / "cert.pfx", "--password-file",
                                    keys / "password.txt", s.package_dir, s.launcher_dir)
    assert code == 0, f"single file: {output}"
    assert sorted(p.name for p in s.launcher_dir.iterdir()) == ["Setup.exe", "Setup.sha256"], "one file, no cabinet"
    code, output = run_package_tool("--verify", "--ca", keys / "cert.pem", s.launcher_dir)
    assert code == 0 and "the signature covers it as it is, its carried cabinet included" in output, output
    assert "Setup.exe: carries its cabinet" in output, output
    verified = subprocess.run(["osslsigncode", "verify", "-CAfile", str(keys / "cert.pem"), "-in",
                               str(s.launcher_dir / "Setup.exe")], stdout=subprocess.DEVNULL)
    assert verified.returncode == 0, "osslsigncode verifies it"

    # As its two-file twin: the same lines, parameters and settings bytes.
    assert_run(s.run(PORT_OPTIONS), SETTINGS_RUN, 0)
    run = assert_one_installer(s, "/I:" + settings_path(s))
    assert s.settings_seen() == twin.settings_seen() == FIRST_EXAMPLE_OUT, "settings bytes"
    assert run["expansion-root"] == twin_run["expansion-root"] == "install;", "the private copy is gone"
    assert s.run(PORT_OPTIONS).event()["id"] == 1000, "installed"

    # Saved by a browser as "Setup (1).exe" beside a planted cabinet: it still runs its own.
    other = scenario("other")
    other.package(b"[Install]\r\nfrom another package\r\n")
    shutil.copy(s.launcher_dir / "Setup.exe", s.launcher_dir / "Setup (1).exe")
    shutil.copy(other.launcher_dir / "Setup.cab", s.launcher_dir / "InstallFiles.cab")
    shutil.copy(other.launcher_dir / "Setup.cab", s.launcher_dir / "Setup (1).cab")
    s.forget_installer_runs()
    assert_run(s.run(PORT_OPTIONS, name="Setup (1).exe"), SETTINGS_RUN, 0)
    assert s.settings_seen() == FIRST_EXAMPLE_OUT, "its own cabinet, not the planted one"

    # One byte of the carried cabinet changed: refused, nothing started, the signature broken.
    carried = pe.binding(s.launcher_dir / "Setup.exe").carried
    data = bytearray((s.launcher_dir / "Setup.exe").read_bytes())
    data[carried[0] + carried[1] // 2] ^= 1
    (s.launcher_dir / "Setup.exe").write_bytes(data)
    s.forget_installer_runs()
    sentinels = with_sentinels(s)
    assert_run(s.run(PORT_OPTIONS), REFUSED_CABINET, 10)
    assert s.installer_runs() == [] and [p.name for p in s.temp.iterdir()] == ["beside.txt"], "nothing started or left"
    assert_sentinels(sentinels)
    code, output = run_package_tool("--verify", "--ca", keys / "cert.pem", s.launcher_dir)
    assert code == 1 and "CHANGED after signing" in output and "does not match its binding" in output, output
    verified = subprocess.run(["osslsigncode", "verify", "-CAfile", str(keys / "cert.pem"), "-in",
                               str(s.launcher_dir / "Setup.exe")], stdout=subprocess.DEVNULL)
    assert verified.returncode != 0, "osslsigncode sees the change"

    # Unsigned, it works too.
    unsigned = scenario("unsigned")
    code, output = run_package_tool("--single-file", twin.package_dir, unsigned.launcher_dir)
    assert code == 0, output
    assert_run(unsigned.run(PORT_OPTIONS), SETTINGS_RUN, 0)
    assert unsigned.settings_seen() == FIRST_EXAMPLE_OUT, "settings bytes, unsigned"


# ---- packages that name themselves ----

@pytest.mark.parametrize("single, product, version, company", [
    # As long as the launcher has room for, in letters of the code page: the version is text.
    (False, "Drucker B\u00fcro Universal Print Driver for every branch office, x64", "2.1.0-beta.1+build.7777",
     "Contoso B\u00fcro-Systeme GmbH, Druckerl\u00f6sungen f\u00fcr Filiale und Werke"),
    (True, "Contoso Universal Print Driver", "2.1.3", ""),
], ids=["two-files", "single-file"])
def test_package_named_in_its_version_resource_and_event(scenario, single, product, version, company):
    s = scenario()
    keys = s.root / "keys"
    keys.mkdir()
    make_test_certificate(keys, "test password")
    s.package(FIRST_EXAMPLE_IN, tool=False)
    (s.launcher_dir / "Setup.cab").unlink()
    code, output = run_package_tool(*(["--single-file"] if single else []), "--product", product, "--product-version",
                                    version, *(["--company", company] if company else []), "--sign", keys / "cert.pfx",
                                    "--password-file", keys / "password.txt", s.package_dir, s.launcher_dir)
    assert code == 0, output
    launcher = s.launcher_dir / "Setup.exe"
    verified = subprocess.run(["osslsigncode", "verify", "-CAfile", keys / "cert.pem", "-in", launcher],
                              stdout=subprocess.DEVNULL)
    assert verified.returncode == 0, "signed after it was named"

    # Read back with pefile, as Explorer's Details tab and (Get-Item).VersionInfo read it.
    image = pefile.PE(str(launcher))
    strings = {key.decode(): value.decode() for info in image.FileInfo[0] if info.Key == b"StringFileInfo"
               for table in info.StringTable for key, value in table.entries.items()}
    assert strings == {"FileDescription": product, "ProductName": product, "ProductVersion": version,
                       "FileVersion": "10.5.0.0", "InternalName": "Setup", "OriginalFilename": "Setup.exe",
                       **({"CompanyName": company} if company else {})}
    fixed = image.VS_FIXEDFILEINFO[0]
    assert (fixed.FileVersionMS, fixed.FileVersionLS) == (10 << 16 | 5, 0), "the launcher's own file version"
    assert (fixed.ProductVersionMS, fixed.ProductVersionLS) == ((2 << 16 | 1, 3 << 16) if single else (0, 0)), \
        "the fixed product version follows a numeric version only"
    assert pe_resources(launcher.read_bytes(), 24) == pe_resources((BUILD / "Setup.exe").read_bytes(), 24), \
        "the manifest as built"
    code, output = run_package_tool("--verify", "--ca", keys / "cert.pem", s.launcher_dir)
    assert code == 0 and f'its event says "Package: {product} {version}"' in output, output

    # Under Wine: the eleventh string names it, after the ten as they were, and so does the log.
    log = s.root / "run.log"
    result = s.run(PORT_OPTIONS + " /log:" + windows_path(log))
    assert_run(result, SETTINGS_RUN, 0)
    names = [text.split(": ", 1)[0] for text in result.event()["strings"]]
    assert names == ["Outcome", "Exit code", "Failure", "Launcher", "Command line", "Cabinet", "Temporary directory",
                     "Installer", "Installer exit code", "Duration", "Package", "Log"]
    assert result.event()["fields"]["Package"] == f"{product} {version}"
    assert f"Package: {product} {version}" in [entry["text"] for entry in log_entries(log)]
    assert_same_run(run_preview(s, PORT_OPTIONS, s.launcher_dir / ("Setup.exe" if single else "Setup.cab")),
                    wine_run_seen(s, result), "the preview names it too")
