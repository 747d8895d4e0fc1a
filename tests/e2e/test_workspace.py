"""The workspace: which cabinet is expanded and where, the expansion directory's protection and
what stands in its way, the cleanup, and the temporary directories the launcher accepts."""

import re
import shutil
import subprocess
import threading
import time

import pytest

from scenarios import (ALREADY_RUNNING, BUILD, CLEANUP_OK, EXPANSION, FAILED_CLEANUP, FIRST_EXAMPLE_IN, MISSING_X64,
                       FIRST_EXAMPLE_OUT, PORT_OPTIONS, PROGRAMS, SETTINGS_RUN, aside_directories, assert_event,
                       assert_one_installer, assert_package_only, assert_run, assert_sentinels, log_entries,
                       settings_path, tree, with_sentinels)
from wine import wine_environment, windows_path


def test_expansion_and_cleanup(scenario):
    s = scenario()
    s.package(b"[Install]\r\nKey=1\r\n", extra={"install/docs/readme.txt": b"nested"})
    assert_run(s.run(), SETTINGS_RUN, 0)
    run = assert_one_installer(s, "/I:" + settings_path(s))
    assert run["expansion-root"] == "install;", "expanded folders"
    assert s.settings_seen() == b"[Install]\r\nKey=1\r\n", "settings file as expanded"
    assert not s.expansion_dir.exists(), "expansion directory removed"
    assert sorted(p.name for p in s.temp.iterdir()) == [], "temporary directory left as it was"


def test_own_cabinet_preferred(scenario):
    s = scenario()
    s.package(b"shared\r\n", cabinet="InstallFiles.cab")
    s.package(b"own\r\n", cabinet="Setup.cab")
    # The launcher as built, bound to no cabinet: which cabinet it picks is the point here.
    shutil.copy(BUILD / "Setup.exe", s.launcher_dir / "Setup.exe")
    assert_run(s.run(), SETTINGS_RUN, 0)
    assert s.settings_seen() == b"own\r\n", "settings from Setup.cab"
    (s.launcher_dir / "Setup.cab").unlink()
    (s.launcher_dir / "installer-log.txt").unlink()
    assert_run(s.run(), SETTINGS_RUN, 0)
    assert s.settings_seen() == b"shared\r\n", "settings from InstallFiles.cab"
    assert len(s.installer_runs()) == 1, "installer starts"


def test_no_cabinet(scenario):
    s = scenario()
    assert_run(s.run(), ["Unable to extract cab:  Setup.cab"], 10)
    assert_run(s.run(name="setup.x86.exe"), ["Unable to extract cab:  setup.x86.cab"], 10)
    assert list(s.temp.iterdir()) == [], "nothing created"


def test_leftover_directory_moved_aside(scenario):
    # A folder made without the launcher's descriptor reads back under Wine with Everyone in it,
    # as one that a standard user made in C:\Windows\Temp would: never entered, renamed aside.
    s = scenario()
    s.package(b"[Install]\r\n", builds=("x86",))
    (s.expansion_dir / "install" / "x64").mkdir(parents=True)
    (s.expansion_dir / "install" / "x64" / "InstallGui.exe").write_bytes(
        (PROGRAMS / "x64" / "InstallGui.exe").read_bytes())
    (s.expansion_dir / "install" / "component.isf").write_bytes(b"[Install]\r\nfrom an older and longer package\r\n")
    (s.expansion_dir / "leftover.txt").write_bytes(b"from an earlier run")
    before = tree(s.expansion_dir)
    assert_run(s.run(), EXPANSION + [MISSING_X64] + FAILED_CLEANUP, 10)
    assert s.installer_runs() == [], "the old x64 build was not started"
    aside = aside_directories(s)
    assert len(aside) == 1, "one leftover moved aside"
    assert tree(aside[0]) == before, "the leftover moved aside untouched"
    assert not s.expansion_dir.exists(), "expansion directory removed"

    # On the 32-bit side the new x86 build runs, with the new settings bytes only.
    s32 = scenario(prefix="win32")
    s32.package(b"[Install]\r\n")
    s32.expansion_dir.mkdir()
    (s32.expansion_dir / "install").mkdir()
    (s32.expansion_dir / "install" / "component.isf").write_bytes(b"[Install]\r\nfrom an older and longer package\r\n")
    assert_run(s32.run(), SETTINGS_RUN, 0)
    assert_package_only(s32, assert_one_installer(s32, "/I:" + settings_path(s32), "x86"))


@pytest.mark.parametrize("shape", ["install-link", "private-install-link", "directory-link"])
def test_leftover_with_links_outside(scenario, shape):
    # A leftover whose "install" is a link to a folder elsewhere, and a leftover that is itself a
    # link: the expansion writes through neither, and no removal reaches what they point at.
    s = scenario()
    sentinels = with_sentinels(s)
    s.package(b"[Install]\r\n")
    elsewhere = s.root / "outside"
    (elsewhere / "x64").mkdir(parents=True)
    (elsewhere / "x64" / "keep.dll").write_bytes(b"precious")
    before = tree(elsewhere)
    if shape != "directory-link":
        # Private (mode 0700), it reads back under Wine as SYSTEM's and the launcher's account's,
        # as one that the same user's unelevated programs made: still not the launcher's own.
        s.expansion_dir.mkdir(mode=0o700 if shape == "private-install-link" else 0o777)
        (s.expansion_dir / "install").symlink_to(elsewhere, target_is_directory=True)
        assert_run(s.run(), SETTINGS_RUN, 0)
        assert_package_only(s, assert_one_installer(s, "/I:" + settings_path(s)))
        assert len(aside_directories(s)) == 1, "the leftover is moved aside"
        assert not s.expansion_dir.exists(), "expansion directory removed"
    else:
        # Windows renames a link as itself; Wine 8 opens and renames its target instead, so the
        # launcher cannot move it aside here and goes on in a fresh directory beside it.
        s.expansion_dir.symlink_to(elsewhere, target_is_directory=True)
        assert_run(s.run(), SETTINGS_RUN, 0)
        assert s.expansion_dir.is_symlink(), "the link is left where it was"
        assert aside_directories(s) == [], "nothing moved aside, and the directory beside it removed"
    assert tree(elsewhere) == before, "the folder outside is whole"
    assert_sentinels(sentinels)


def test_leftover_temporary_settings_link(scenario):
    # A leftover .tmp that links to a file outside: the leftover is moved aside whole. A package
    # whose cabinet holds a .tmp of its own: it is not reused, and the settings file stays as it was.
    s = scenario()
    outside = s.root / "outside.txt"
    outside.write_bytes(b"precious")
    s.package(FIRST_EXAMPLE_IN)
    (s.expansion_dir / "install").mkdir(parents=True)
    (s.expansion_dir / "install" / "component.isf.tmp").symlink_to(outside)
    assert_run(s.run(PORT_OPTIONS), SETTINGS_RUN, 0)
    assert s.settings_seen() == FIRST_EXAMPLE_OUT, "rewritten settings file"
    assert outside.read_bytes() == b"precious", "the linked file is unchanged"

    s.package(FIRST_EXAMPLE_IN, extra={"install/component.isf.tmp": b"from the cabinet"})
    (s.launcher_dir / "installer-log.txt").unlink()
    assert_run(s.run(PORT_OPTIONS), EXPANSION + [
        "Unable to write the port configuration to the settings file; it was left unchanged.",
        "Running Install..."] + CLEANUP_OK, 0)
    assert s.settings_seen() == FIRST_EXAMPLE_IN, "settings file left as the cabinet held it"
    assert outside.read_bytes() == b"precious", "the linked file is unchanged"


def temp_of_length(s, length):
    """A temporary directory whose Windows path is exactly length characters long."""
    base = s.root / "t"
    padding = length - len(windows_path(base)) - 1
    assert padding > 0, "scenario root short enough"
    temp = base / ("p" * padding)
    temp.mkdir(parents=True)
    assert len(windows_path(temp)) == length, "temp length"
    return temp


def test_temp_near_the_length_limit(scenario):
    s = scenario()
    sentinels = with_sentinels(s)
    s.package(b"[Install]\r\n")
    launcher_files = tree(s.launcher_dir)
    refused = ["Unable to use the temporary directory: TEMP is too long for the paths the launcher forms in it.",
               "Unable to extract cab:  Setup.cab"]
    for length in (215, 234, 238, 250):
        temp = temp_of_length(s, length)
        assert_run(s.run(temp=windows_path(temp)), refused, 10)
        assert list(temp.iterdir()) == [], f"nothing created in a temp of {length}"
        shutil.rmtree(s.root / "t")
    assert tree(s.launcher_dir) == launcher_files, "nothing beside the launcher changed"
    temp = temp_of_length(s, 214)
    assert_run(s.run(temp=windows_path(temp)), SETTINGS_RUN, 0)
    assert_one_installer(s, "/I:" + windows_path(temp) + "\\TempExpandedFiles\\install\\component.isf")
    assert list(temp.iterdir()) == [], "expansion directory removed"
    launcher_files["installer-log.txt"] = (s.launcher_dir / "installer-log.txt").read_bytes()
    launcher_files["installer-settings.bin"] = b"[Install]\r\n"
    assert tree(s.launcher_dir) == launcher_files, "only the stub installer's records beside the launcher"
    assert_sentinels(sentinels)


def test_second_launcher_of_another_name(scenario):
    s = scenario()
    s.package(b"[Install]\r\n")
    (s.launcher_dir / "stub-behaviour.txt").write_text("wait")
    (s.root / "temp-link").symlink_to(s.temp, target_is_directory=True)
    # The same directory, spelled as a second launcher's TEMP might spell it.
    spellings = [s.temp_value + "\\.", s.temp_value[:-len("temp")] + "pkg\\..\\temp", s.temp_value + "\\",
                 s.temp_value[:-len("\\temp")] + "\\\\temp", s.temp_value[:-len("temp")] + "TEMP",
                 windows_path(s.root / "temp-link")]
    shutil.copy(BUILD / "Setup.exe", s.launcher_dir / "Setup2.exe")
    shutil.copy(s.launcher_dir / "Setup.cab", s.launcher_dir / "Setup2.cab")
    outcome = {}
    first = threading.Thread(target=lambda: outcome.update(result=s.run()))
    first.start()
    try:
        while not s.installer_runs() and first.is_alive():
            time.sleep(0.05)
        assert s.installer_runs(), "the first run's installer started"
        during = tree(s.expansion_dir)
        # What Wine keeps of the protected descriptor: no permission bits for others.
        assert s.expansion_dir.stat().st_mode & 0o007 == 0, "no access for others"
        assert_run(s.run(name="Setup2.exe"), ALREADY_RUNNING, 1)
        for temp in spellings:
            assert_run(s.run(name="Setup2.exe", temp=temp), ALREADY_RUNNING, 1)
        # Whoever may write to TEMP cannot rename the held directory away to put one of their own
        # in its place.
        subprocess.run(["wine", "cmd", "/c", "move", windows_path(s.expansion_dir), windows_path(s.temp / "Moved")],
                       env=wine_environment(s.prefix), stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        assert not (s.temp / "Moved").exists(), "the held directory was not renamed"
        assert tree(s.expansion_dir) == during, "the first run's files intact"
        assert len(s.installer_runs()) == 1, "only the first run's installer"
    finally:
        (s.launcher_dir / "stub-release.txt").touch()
        first.join()
    assert_run(outcome["result"], SETTINGS_RUN, 0)
    run = assert_one_installer(s, "/I:" + settings_path(s))
    assert run["expansion-security"].startswith("O:") and "D:" in run["expansion-security"], "security read back"
    dacl = run["expansion-security"].split("D:", 1)[1]
    assert "WD" not in dacl and "BU" not in dacl and "CO" not in dacl, "no entry for Everyone, Users or CREATOR OWNER"
    assert "(A;OICI;FA;;;SY)" in dacl, "SYSTEM has full control of all below"
    assert not s.expansion_dir.exists(), "the first run cleaned up"
    assert aside_directories(s) == [], "nothing moved aside"


def test_blank_in_temp(scenario):
    s = scenario()
    s.package(b"[Install]\r\n")
    sibling = s.root / "John"
    (sibling / "Documents").mkdir(parents=True)
    (sibling / "Documents" / "keep.txt").write_bytes(b"precious")
    temp = s.root / "John Smith" / "Temp"
    temp.mkdir(parents=True)
    assert_run(s.run(temp=windows_path(temp)), SETTINGS_RUN, 0)
    assert_one_installer(s, "/I:" + windows_path(temp) + "\\TempExpandedFiles\\install\\component.isf")
    assert not (temp / "TempExpandedFiles").exists(), "expansion directory removed"
    assert temp.exists(), "temporary directory kept"
    assert (sibling / "Documents" / "keep.txt").read_bytes() == b"precious", "sibling folder untouched"


def assert_one_installer_anywhere(s, parameters):
    """The one installer start, in the launcher's folder (by its long form, since the launcher
    hands on the short one), with parameters unless None."""
    runs = s.installer_runs()
    assert len(runs) == 1, "installer starts"
    if parameters is not None:
        assert runs[0]["parameters"] == parameters, "installer parameters"
    assert runs[0]["directory-long"] == windows_path(s.launcher_dir).encode("utf-8").decode("latin-1"), \
        "installer working directory: the launcher's folder"
    assert "?" not in runs[0]["directory"], "a working directory the code page spells"
    return runs[0]


def test_folders_the_code_page_cannot_spell(scenario):
    # The launcher works in the ANSI code page (1252 here): a Cyrillic folder reaches it as "?".
    # Its short form names the same folder, in letters the code page holds.
    s = scenario(launcher_folder="Папка с пробелами")
    s.package(b"[Install]\r\nPort=CmdLine\r\n")
    arguments = "/port:IP_10.0.0.5 /address:10.0.0.5"
    rewritten = (b"[Install]\r\nPort=IP_10.0.0.5\r\n\r\n[Ports]\r\nIP_10.0.0.5=StandardIP\r\n\r\n[IP_10.0.0.5]\r\n"
                 b"Name=IP_10.0.0.5\r\nHostName=IP_10.0.0.5\r\nIPAddress=10.0.0.5\r\n")
    assert_run(s.run(arguments), SETTINGS_RUN, 0)
    assert_one_installer_anywhere(s, "/I:" + settings_path(s))
    assert s.settings_seen() == rewritten, "settings bytes as for any other folder"
    assert not s.expansion_dir.exists(), "expansion directory removed"

    # A "temp" under a profile whose name the code page cannot spell.
    temp = s.root / "Пользователь" / "Temp"
    temp.mkdir(parents=True)
    (s.launcher_dir / "installer-log.txt").unlink()
    assert_run(s.run(arguments, temp=windows_path(temp)), SETTINGS_RUN, 0)
    run = assert_one_installer_anywhere(s, None)
    parameters = run["parameters"]
    assert (parameters.startswith("/I:") and parameters.endswith("\\TempExpandedFiles\\install\\component.isf")
            and "?" not in parameters and all(ord(c) < 128 for c in parameters)), "the settings path is the short form"
    assert s.settings_seen() == rewritten, "settings bytes under a short temp"
    assert list(temp.iterdir()) == [], "expansion directory removed from the temp"
    assert run["expansion-root"] == "install;", "expanded into the short-named temp"


@pytest.mark.parametrize("temp, reason", [
    (None, "the TEMP environment variable is not set."),
    ("relative\\temp", "TEMP is not a full path."),
    ('{temp}" & echo', "TEMP holds characters that the launcher does not accept in a path."),
    ("\\\\.\\GLOBALROOT\\Device\\HarddiskVolume1\\Windows\\Temp",
     "TEMP names a device path (\\\\.\\ or \\\\?\\), which the launcher does not use."),
    ("{temp}\\missing", "TEMP names no directory."),
], ids=["unset", "relative", "quote", "device", "missing"])
def test_unusable_temp(scenario, temp, reason):
    s = scenario()
    s.package(b"[Install]\r\n")
    assert_run(s.run(temp=temp and temp.format(temp=s.temp_value)),
               ["Unable to use the temporary directory: " + reason, "Unable to extract cab:  Setup.cab"], 10)
    assert list(s.temp.iterdir()) == [], "nothing created"
    assert sorted(p.name for p in s.launcher_dir.iterdir()) == ["Setup.cab", "Setup.exe", "Setup.sha256"], \
        "nothing created beside the launcher"


def wait_for(condition):
    deadline = time.time() + 120  # only keeps a broken run from hanging the suite
    while not condition():
        assert time.time() < deadline, "waited in vain"
        time.sleep(0.05)


def intruder(s, *arguments):
    return subprocess.Popen(["wine", str(PROGRAMS / "intruder.exe"), *arguments], env=wine_environment(s.prefix),
                            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)


def test_ancestor_swapped_during_the_cleanup(scenario):
    # The third red-team round's attack: probe with DELETE opens until the hold ends, then rename
    # TEMP away (again until it goes) and link somebody else's folder with the package's names in
    # its place. Nothing there changes, and nothing of the run is left behind.
    s = scenario()
    s.package(b"[Install]\r\n")
    victim = s.root / "victim"
    for relative in ("install/component.isf", "install/x64/InstallGui.exe", "keep.txt"):
        (victim / "TempExpandedFiles" / relative).parent.mkdir(parents=True, exist_ok=True)
        (victim / "TempExpandedFiles" / relative).write_bytes(b"the victim's")
    before, report, moved = tree(victim), s.root / "probe.txt", s.root / "temp.moved"
    prober = intruder(s, "probe", windows_path(s.expansion_dir), s.temp_value, windows_path(moved),
                      windows_path(report))
    try:
        wait_for(report.exists)
        result = s.run()
        wait_for(lambda: report.read_bytes().endswith(b"moved=1\n"))
        s.temp.symlink_to(victim, target_is_directory=True)
    finally:
        prober.kill()
    assert_run(result, SETTINGS_RUN, 0)
    assert tree(victim) == before, "nothing changed where the link leads"
    assert list(moved.iterdir()) == [], "the run's own directory gone before TEMP could move"


def test_squatter_holding_temp_expanded_files(scenario):
    # A standard user makes TempExpandedFiles first and holds it without delete sharing: the run
    # installs from a fresh directory beside it, says so in its event, and leaves the folder alone.
    s = scenario()
    s.package(b"[Install]\r\n")
    ready, stop = s.root / "squatting", s.root / "stop"
    squatter = intruder(s, "squat", windows_path(s.expansion_dir), windows_path(ready), windows_path(stop))
    try:
        wait_for(ready.exists)
        result = s.run("/log:" + windows_path(s.root / "run.log"))
    finally:
        stop.touch()
        squatter.wait(timeout=120)
    assert_run(result, SETTINGS_RUN, 0)
    beside = re.escape(s.temp_value) + r"\\TempExpandedFiles\.[0-9a-f]{16}"
    went = r"the run goes on in TempExpandedFiles\.[0-9a-f]{16} beside it"
    assert any(entry["type"] == "2" and re.search(went, entry["text"]) for entry in log_entries(s.root / "run.log"))
    assert re.fullmatch("/I:" + beside + r"\\install\\component\.isf", s.installer_runs()[0]["parameters"])
    assert re.fullmatch(beside + ": TempExpandedFiles there is someone else's and could not be moved aside",
                        assert_event(result, "information", 1000)["Temporary directory"].replace(", in ", "\\"))
    assert tree(s.expansion_dir) == {"mine.txt": b"the squatter's"}, "the squatter's folder untouched"
    assert [p.name for p in s.temp.iterdir()] == ["TempExpandedFiles"], "the directory beside it removed"


def test_package_whose_path_does_not_fit(scenario):
    s = scenario()
    name = "install\\" + "n" * 100
    s.package(b"[Install]\r\n", extra={name.replace("\\", "/"): b"x"})
    temp = temp_of_length(s, 150)
    full = windows_path(temp) + "\\TempExpandedFiles\\" + name
    result = s.run(temp=windows_path(temp))
    assert_run(result, ["Creating Temporary Directory...", f"Unable to expand the package: {full} would be 277 "
                        "characters long, past Windows' limit of 259.", "Unable to extract cab:  Setup.cab"], 10)
    assert_event(result, "error", 1003, Installer="not started")
    assert list(temp.iterdir()) == [] and s.installer_runs() == [], "nothing expanded, nothing started"
