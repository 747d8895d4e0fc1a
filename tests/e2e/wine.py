#!/usr/bin/env python3
"""The Wine prefixes of the end-to-end tests, a 64-bit and a 32-bit one under build/windows/wine,
and the environment every Wine run of the tests gets. CTest's e2e.prefixes and e2e.stop-wine,
scripts/demo and the whole-run benchmark use it from the command line:

    wine.py --make-prefixes | --stop-wine
"""

import os
import re
import subprocess
import sys
from pathlib import Path

BUILD = Path(os.environ.get("LAUNCHER_BUILD", Path(__file__).resolve().parents[2] / "build" / "windows")).resolve()
SOURCE = Path(os.environ.get("LAUNCHER_SOURCE", Path(__file__).resolve().parents[2]))
PREFIXES = {"win64": BUILD / "wine" / "win64", "win32": BUILD / "wine" / "win32"}


def wine_environment(prefix_name):
    # A Western ANSI code page (1252) whatever the machine's locale, and UTF-8 names on disk. A
    # WINEDEBUG of the caller's reaches the runs, so that a scenario can be traced.
    environment = dict(os.environ, WINEPREFIX=str(PREFIXES[prefix_name]), LANG="C.UTF-8")
    environment.setdefault("WINEDEBUG", "-all")
    environment.pop("LC_ALL", None)
    environment.pop("DISPLAY", None)
    if prefix_name == "win32":
        environment["WINEARCH"] = "win32"
    return environment


def windows_path(path):
    return "Z:" + str(path).replace("/", "\\")


# Windows reports a crash before the crashed process ends; Wine's automatic debugger holds the ended
# process, and with it the mapping of its program file, while it runs. Without it a crashed
# installer can be removed once the launcher's wait returns, as on Windows.
AEDEBUG = "Software\\Microsoft\\Windows NT\\CurrentVersion\\AeDebug"


def make_prefixes():
    for name, prefix in PREFIXES.items():
        marker = prefix / "no-crash-debugger"
        if marker.exists():
            continue
        environment = dict(wine_environment(name), WINEDEBUG="-all")
        if not (prefix / "system.reg").exists():
            prefix.parent.mkdir(parents=True, exist_ok=True)
            subprocess.run(["wineboot", "-i"], env=environment, check=True,
                           stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        for key in ["HKLM\\" + AEDEBUG] + (["HKLM\\Software\\Wow6432Node" + AEDEBUG[8:]] if name == "win64" else []):
            subprocess.run(["wine", "reg", "add", key, "/v", "Debugger", "/d", "", "/f"], env=environment, check=True,
                           stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        subprocess.run(["wineserver", "-w"], env=environment)
        marker.touch()


def platform_test_environment(prefix_name, scratch):
    """The environment of the Windows platform tests in a prefix, with the links they look at made
    in scratch on the Unix side: a link to a folder, and a tree with links to it and its file."""
    target, tree = scratch / "link-target", scratch / "tree"
    (tree / "sub").mkdir(parents=True)
    (tree / "sub" / "inside.txt").write_bytes(b"x")
    target.mkdir()
    (target / "keep.txt").write_bytes(b"keep")
    for link, to in ((scratch / "link", target), (tree / "folder-link", target),
                     (tree / "file-link", target / "keep.txt")):
        link.symlink_to(to)
    return dict(wine_environment(prefix_name), LAUNCHER_EXPECT_WOW64="1" if prefix_name == "win64" else "0",
                LAUNCHER_OBSERVER=windows_path(BUILD / "win32-tests" / "observer.exe"),
                LAUNCHER_TEST_LINK=windows_path(scratch / "link"), LAUNCHER_TEST_LINK_TARGET=windows_path(target),
                LAUNCHER_TEST_TREE=windows_path(tree))


def platform_tests(prefix_name, scratch):
    """The command line and environment that run the Windows platform tests (the real
    platform/win32.cpp and C runtime) in a prefix, in scratch: the one way the end-to-end test and
    scripts/mutate run them."""
    return ["wine", str(BUILD / "win32-tests" / "platform_win32_tests.exe")], \
        platform_test_environment(prefix_name, scratch)


def platform_test_failure(prefix_name, code, output):
    """What failed in a run of the platform tests in a prefix that ended with code and printed
    output; '' when every test passed."""
    if code == 0 and "[  PASSED  ]" in output and "FAILED" not in output:
        return ""
    failed = re.findall(r"\[  FAILED  \] (\w+\.\w+)", output)
    return f"platform tests in {prefix_name}" + (f" ({failed[0]})" if failed else "")


def stop_wine():
    for name in PREFIXES:
        subprocess.run(["wineserver", "-k"], env=wine_environment(name),
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)


def main(arguments):
    if arguments == ["--make-prefixes"]:
        make_prefixes()
    elif arguments == ["--stop-wine"]:
        stop_wine()
    else:
        print(__doc__, file=sys.stderr)
        return 2
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
