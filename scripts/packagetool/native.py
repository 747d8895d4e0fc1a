"""The package tool's native helper, package_inspect: the launcher's own code on a stand-in
Windows. It answers in JSON, and says what a package holds and how a launcher is bound, from the
launcher's own definitions, so that this tool never keeps a second copy of them."""

import fcntl
import functools
import json
import os
import subprocess
from pathlib import Path
from typing import Any

from .outcome import ToolFailed

ROOT = Path(__file__).resolve().parents[2]
# Installed (the Debian package), the helper and the launcher as built lie beside this Python
# package, and nothing is built; in a checkout, they come from its build folder.
INSTALLED = Path(__file__).resolve().parents[1]
HELPER = "package_inspect"


def installed() -> bool:
    return (INSTALLED / HELPER).is_file()


def launcher() -> str:
    """The launcher that make places beside the cabinet: LAUNCHER_EXE, the installed one, or the
    checkout's build."""
    if os.environ.get("LAUNCHER_EXE"):
        return os.environ["LAUNCHER_EXE"]
    return str(INSTALLED / "Setup.exe" if installed() else ROOT / "build" / "windows" / "Setup.exe")


@functools.lru_cache(maxsize=None)
def program() -> str:
    """The helper's path: PACKAGE_INSPECT, the installed one, or the checkout's, built with the tools
    preset when missing or older than its sources."""
    if os.environ.get("PACKAGE_INSPECT"):
        return os.environ["PACKAGE_INSPECT"]
    if installed():
        return str(INSTALLED / HELPER)
    build = ROOT / "build"
    build.mkdir(exist_ok=True)
    # ninja rebuilds only what changed; the lock keeps two tools that start at once from building
    # into the same folder.
    with open(build / ".tools.lock", "w") as lock, open(build / "tools-build.log", "w") as log:
        fcntl.flock(lock, fcntl.LOCK_EX)
        steps = ([] if (build / "tools" / "build.ninja").exists() else [["cmake", "--preset", "tools"]])
        for step in steps + [["cmake", "--build", "--preset", "tools"]]:
            if subprocess.run(step, cwd=ROOT, stdout=log, stderr=subprocess.STDOUT).returncode != 0:
                raise ToolFailed(f"could not build the native helper (see {build / 'tools-build.log'}): "
                                 f"cmake --preset tools && cmake --build --preset tools")
    return str(build / "tools" / HELPER)


def run(*arguments: str | bytes, answers: tuple[int, ...] = (0,)) -> tuple[int, bytes]:
    """The helper's exit code and standard output for these arguments."""
    try:
        completed = subprocess.run([program(), *arguments], stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    except OSError as error:
        raise ToolFailed(f"the native helper cannot be run: {error.strerror}") from None
    if completed.returncode not in answers:
        raise ToolFailed(f"the native helper failed: {completed.stderr.decode(errors='replace').strip()}")
    return completed.returncode, completed.stdout


@functools.lru_cache(maxsize=None)
def facts() -> dict[str, Any]:
    """What the launcher and this tool share: the project's version, code pages, the required
    files, the path budget, the standalone keys, the binding's layout and the version resource's
    room."""
    found = json.loads(run("facts")[1])
    found["required"] = [found["settings_file"], found["installers"]["x86"], found["installers"]["x64"]]
    found["required"] = [path.replace("\\", "/") for path in found["required"]]
    return found


def settings(path: str) -> dict[str, Any]:
    """What the launcher makes of a settings file (see package_inspect settings)."""
    return json.loads(run("settings", os.fsencode(path), answers=(0, 1))[1])
