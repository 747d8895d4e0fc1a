#!/usr/bin/env python3
"""The file work of scripts/make-package: which files a package folder holds and whether the
launcher can use their names, the cabinet built from exactly those files, and the check of the
cabinet against the folder.

    package_files.py name [--code-page N] NAME
    package_files.py scan [--code-page N] [--out OUT_DIR --name NAME] PACKAGE_DIR MANIFEST
    package_files.py pack MANIFEST CABINET STAGE_DIR
    package_files.py compare MANIFEST CABINET EXTRACT_DIR

Refusals and warnings go to standard error, progress to standard output. Exit codes: 0 done,
1 refused (the message says what to change), 3 gcab failed or the cabinet does not match.
"""

import argparse
import filecmp
import json
import os
import struct
import subprocess
import sys

REQUIRED_FILES = ("install/component.isf", "install/x86/InstallGui.exe", "install/x64/InstallGui.exe")
ANSI_CODE_PAGES = ("874", "932", "936", "949", "950", "1250", "1251", "1252", "1253", "1254", "1255", "1256",
                   "1257", "1258")
# Characters that no Windows file name holds, and names Windows keeps for devices, with any extension.
FORBIDDEN = set('<>:"/\\|?*') | {chr(c) for c in range(32)}
DEVICE_NAMES = {"CON", "PRN", "AUX", "NUL"} | {f"{kind}{n}" for kind in ("COM", "LPT") for n in range(1, 10)}
# A cabinet holds at most 65,535 files, with names of at most 255 bytes.
MAX_FILES = 65535
MAX_NAME_BYTES = 255
# extrac32.exe cannot write a path past MAX_PATH (259 characters); under the SYSTEM account that
# deployment tools use, the package lands in this folder.
SYSTEM_EXPANSION_DIRECTORY = "C:\\Windows\\Temp\\TempExpandedFiles\\"
MAX_PATH = 259
# gcab is given the top-level names on one command line; Linux takes about 2 MiB of arguments.
MAX_ARGUMENT_BYTES = 1024 * 1024

REFUSED = 1
TOOL_FAILED = 3


class Refusal(Exception):
    pass


def say(message):
    print(message, flush=True)


def warn(message):
    print(f"make-package: warning: {message}", file=sys.stderr, flush=True)


def windows_upper(text):
    """Letter case as Windows compares file names: one character for one."""
    return "".join(c.upper() if len(c.upper()) == 1 else c for c in text)


def code_page_hint(code_page):
    other = "" if code_page != "1252" else ", or name the machines' ANSI code page with --code-page (1251 for Cyrillic)"
    return f"use characters of code page {code_page}{other}"


def name_problem(name, code_page):
    """Why Windows, or the launcher in its ANSI code page, cannot use one file or folder name; or None."""
    if any("\udc80" <= c <= "\udcff" for c in name):
        return "the name is not valid UTF-8, so what it means is unknown: rename it"
    bad = sorted({c for c in name if c in FORBIDDEN})
    if bad:
        shown = " ".join(repr(c) for c in bad)
        return f"Windows file names cannot hold {shown}: rename it"
    if name.endswith((".", " ")):
        return "Windows drops a dot or blank at the end of a file name: rename it"
    if windows_upper(name.split(".")[0]).rstrip(" ") in DEVICE_NAMES:
        return "Windows keeps this name for a device: rename it"
    try:
        name.encode("cp" + code_page)
    except UnicodeEncodeError as error:
        return (f"{name[error.start:error.end]!r} cannot be written in the ANSI code page {code_page} that the launcher "
                f"and extrac32.exe work in, so it would arrive as '?': {code_page_hint(code_page)}")
    return None


def check_code_page(code_page):
    if code_page not in ANSI_CODE_PAGES:
        raise Refusal(f"--code-page {code_page} is no ANSI code page of Windows: one of {', '.join(ANSI_CODE_PAGES)}")


def command_name(arguments):
    """Prints NAME as the package's files are named: without ".exe", checked."""
    check_code_page(arguments.code_page)
    name = arguments.name
    if name.lower().endswith(".exe") and len(name) > 4:
        print(f"make-package: NAME '{name}' taken as '{name[:-4]}': the launcher is always NAME.exe", file=sys.stderr)
        name = name[:-4]
    if name in ("", ".", "..") or any(c in '/\\:*?"<>|' or ord(c) < 32 for c in name):
        raise Refusal(f"NAME must be a plain file name without extension: '{arguments.name}'")
    problem = name_problem(name + ".exe", arguments.code_page)
    if problem:
        raise Refusal(f"NAME '{name}' cannot be used: {problem}. Windows would run the launcher under another name, "
                      f"and it would look for a cabinet that is not there")
    if len((name + ".exe").encode("cp" + arguments.code_page)) > MAX_NAME_BYTES:
        raise Refusal(f"NAME is longer than a Windows file name may be: shorten it")
    print(name)


def inside(path, folder):
    return path == folder or path.startswith(folder.rstrip("/") + "/")


class Scan:
    """Every file below the package folder, links followed, with what stands in the way."""

    def __init__(self, package_dir, out_dir, code_page):
        self.package_dir = os.path.realpath(package_dir)
        # Only an OUT_DIR inside the package folder is met on the walk; its files are what this
        # tool made before, never the package's own.
        out_real = os.path.realpath(out_dir) if out_dir else None
        self.out_dir = out_real if out_real and inside(out_real, self.package_dir) else None
        self.code_page = code_page
        self.files = []        # (relative path with "/", source path)
        self.links = []        # (relative path, where it leads)
        self.problems = []     # (relative path, what to change)
        self.left_out = 0      # files in OUT_DIR below the package folder

    def walk(self, directory, relative, enclosing):
        real = os.path.realpath(directory)
        if real in enclosing:
            self.problems.append((relative, f"this link leads to {real}, a folder that encloses it, so the folder "
                                            f"would never end: remove the link"))
            return
        try:
            entries = sorted(os.scandir(directory), key=lambda entry: entry.name)
        except OSError as error:
            self.problems.append((relative or ".", f"the folder cannot be read ({error.strerror}): make it readable"))
            return
        for entry in entries:
            path = entry.path
            name = entry.name
            child = f"{relative}/{name}" if relative else name
            if self.out_dir and inside(os.path.realpath(path), self.out_dir):
                self.left_out += sum(len(files) for _, _, files in os.walk(path)) if entry.is_dir() else 1
                continue
            problem = name_problem(name, self.code_page)
            if problem:
                self.problems.append((child, problem))
                continue
            if entry.is_symlink():
                target = os.path.realpath(path)
                if not os.path.exists(path):
                    self.problems.append((child, f"this link leads nowhere ({os.readlink(path)}): "
                                                 f"remove it or put the file in its place"))
                    continue
                self.links.append((child, target))
            if entry.is_dir():
                self.walk(path, child, enclosing | {real})
            elif entry.is_file():
                self.files.append((child, path))
            else:
                self.problems.append((child, "this is no file or folder (a device, pipe or socket): remove it"))

    def check_files(self):
        if len(self.files) > MAX_FILES:
            self.problems.append((".", f"{len(self.files)} files: a cabinet holds at most {MAX_FILES}; "
                                       f"pack the data into fewer files"))
        seen = {}
        for relative, _ in self.files:
            key = windows_upper(relative)
            if key in seen:
                self.problems.append((relative, f"Windows sees the same file as {seen[key]}, since file names there "
                                                f"ignore letter case: rename or remove one of them"))
            seen[key] = relative
            stored = len(relative.encode("cp" + self.code_page))
            if stored > MAX_NAME_BYTES:
                self.problems.append((relative, f"the path is {stored} bytes long and a cabinet holds names of at "
                                                f"most {MAX_NAME_BYTES}: shorten its folders or its name"))
        self.required = {}
        for required in REQUIRED_FILES:
            found = seen.get(windows_upper(required))
            if found is None:
                self.problems.append((required, f"the package folder has no {required}: put it there "
                                                f"(any letter case will do)"))
            else:
                self.required[required] = found


def command_scan(arguments):
    check_code_page(arguments.code_page)
    package_dir = arguments.package_dir
    if arguments.out and os.path.realpath(arguments.out) == os.path.realpath(package_dir):
        raise Refusal("OUT_DIR is PACKAGE_DIR itself: make the package in another folder")
    scan = Scan(package_dir, arguments.out, arguments.code_page)
    scan.walk(os.path.abspath(package_dir), "", frozenset())
    scan.check_files()
    for relative, target in scan.links:
        say(f"  following the link {relative} to {target}")
    if scan.out_dir:
        say(f"  OUT_DIR lies inside PACKAGE_DIR: it is left out of the cabinet ({scan.left_out} files there now)")
    if scan.problems:
        for relative, problem in scan.problems[:20]:
            print(f"make-package: refused {relative}: {problem}", file=sys.stderr)
        if len(scan.problems) > 20:
            print(f"make-package: ... and {len(scan.problems) - 20} more", file=sys.stderr)
        raise Refusal(f"{len(scan.problems)} problem(s) in {package_dir}; nothing was written")

    total = sum(os.path.getsize(source) for _, source in scan.files)
    say(f"  {len(scan.files)} files, {total:,} bytes")
    too_long = [relative for relative, _ in scan.files
                if len(SYSTEM_EXPANSION_DIRECTORY) + len(relative) > MAX_PATH]
    if too_long:
        longest = max(too_long, key=len)
        warn(f"{len(too_long)} file(s) would pass MAX_PATH ({MAX_PATH} characters) once expanded in "
             f"{SYSTEM_EXPANSION_DIRECTORY}, and extrac32.exe cannot write them there; the longest is {longest} "
             f"({len(longest)} characters). Shorten their folders or names")
    if arguments.out:
        report_other_package_files(arguments.out, arguments.name)
    with open(arguments.manifest, "w", encoding="utf-8", errors="surrogateescape") as manifest:
        json.dump({"code_page": arguments.code_page, "files": scan.files, "required": scan.required}, manifest)


def report_other_package_files(out_dir, name):
    """Files in OUT_DIR that a launcher there could take for this package's own."""
    if not os.path.isdir(out_dir):
        return
    own = {windows_upper(own): own for own in (f"{name}.exe", f"{name}.cab")}
    for entry in sorted(os.listdir(out_dir)):
        upper = windows_upper(entry)
        if upper in own:
            if entry != own[upper]:
                warn(f"OUT_DIR holds {entry} beside the new {own[upper]}: Windows takes them for one file, and which "
                     f"one a copy keeps is not known. Remove {entry}")
        elif upper == "INSTALLFILES.CAB":
            warn(f"OUT_DIR holds {entry}, which the launcher expands whenever {name}.cab is not beside it. Remove it "
                 f"unless another launcher in OUT_DIR needs it")


def load_manifest(path):
    with open(path, encoding="utf-8", errors="surrogateescape") as manifest:
        data = json.load(manifest)
    return data["code_page"], data["files"]


def stored_name(relative, code_page):
    """The bytes a cabinet holds for a name: the ANSI code page's, as extrac32.exe reads them."""
    return relative.encode("cp" + code_page)


def command_pack(arguments):
    code_page, files = load_manifest(arguments.manifest)
    stage = os.fsencode(arguments.stage)
    # A tree of links with the names the cabinet is to hold: gcab walks it itself, so no file list
    # goes through a command line, and it reads each file through its link.
    for relative, source in files:
        link = os.path.join(stage, stored_name(relative, code_page))
        os.makedirs(os.path.dirname(link), exist_ok=True)
        os.symlink(os.fsencode(source), link)
    top = sorted(os.listdir(stage))
    if sum(len(name) + 1 for name in top) > MAX_ARGUMENT_BYTES:
        raise Refusal(f"{len(top)} names at the top of the package folder are too many for one gcab command line: "
                      f"move them into a folder")
    # "--": a top-level name such as "-v" is a file, not an option.
    completed = subprocess.run([b"gcab", b"-c", b"-z", os.fsencode(os.path.abspath(arguments.cabinet)), b"--"] + top,
                               cwd=stage, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
    if completed.returncode != 0:
        sys.stderr.write(completed.stderr.decode(errors="replace"))
        print("make-package: gcab could not build the cabinet", file=sys.stderr)
        return TOOL_FAILED
    clear_utf8_flags(arguments.cabinet)
    return 0


def clear_utf8_flags(cabinet):
    """gcab marks every name with a byte above 127 as UTF-8; these hold the ANSI code page's bytes."""
    with open(cabinet, "r+b") as file:
        data = bytearray(file.read())
        (files_at,) = struct.unpack_from("<I", data, 16)
        (count,) = struct.unpack_from("<H", data, 28)
        (flags,) = struct.unpack_from("<H", data, 30)
        if flags & 0x0004:
            raise Refusal("gcab wrote a cabinet with reserved fields, which this tool does not read")
        at = files_at
        for _ in range(count):
            attributes_at = at + 14
            (attributes,) = struct.unpack_from("<H", data, attributes_at)
            struct.pack_into("<H", data, attributes_at, attributes & ~0x80)
            at = data.index(b"\0", at + 16) + 1
        file.seek(0)
        file.write(data)


def command_compare(arguments):
    code_page, files = load_manifest(arguments.manifest)
    extract_dir = os.fsencode(arguments.extract_dir)
    completed = subprocess.run([b"gcab", b"-x", b"-C", extract_dir, os.fsencode(arguments.cabinet)],
                               stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
    if completed.returncode != 0:
        sys.stderr.write(completed.stderr.decode(errors="replace"))
        print("make-package: gcab cannot extract the cabinet it wrote", file=sys.stderr)
        return TOOL_FAILED
    held = set()
    for directory, _, names in os.walk(extract_dir):
        for name in names:
            held.add(os.path.relpath(os.path.join(directory, name), extract_dir))
    expected = {stored_name(relative, code_page): source for relative, source in files}
    missing = sorted(set(expected) - held)
    extra = sorted(held - set(expected))
    differing = sorted(name for name in set(expected) & held
                       if not filecmp.cmp(os.path.join(extract_dir, name), os.fsencode(expected[name]), shallow=False))
    for what, names in (("lacks", missing), ("holds files not in the folder:", extra),
                        ("holds other bytes than the folder for", differing)):
        if names:
            shown = ", ".join(name.decode("cp" + code_page, errors="replace") for name in names[:5])
            print(f"make-package: the cabinet {what} {len(names)} file(s): {shown}", file=sys.stderr)
    if missing or extra or differing:
        print("make-package: the cabinet does not match the package folder; nothing was written", file=sys.stderr)
        return TOOL_FAILED
    say(f"  the cabinet holds the {len(held)} files of the folder, byte for byte")
    return 0


def main(argv):
    parser = argparse.ArgumentParser(prog="package_files.py")
    commands = parser.add_subparsers(dest="command", required=True)
    name = commands.add_parser("name")
    name.add_argument("--code-page", default="1252")
    name.add_argument("name")
    scan = commands.add_parser("scan")
    scan.add_argument("--code-page", default="1252")
    scan.add_argument("--out")
    scan.add_argument("--name", default="Setup")
    scan.add_argument("package_dir")
    scan.add_argument("manifest")
    pack = commands.add_parser("pack")
    pack.add_argument("manifest")
    pack.add_argument("cabinet")
    pack.add_argument("stage")
    compare = commands.add_parser("compare")
    compare.add_argument("manifest")
    compare.add_argument("cabinet")
    compare.add_argument("extract_dir")
    arguments = parser.parse_args(argv)
    handlers = {"name": command_name, "scan": command_scan, "pack": command_pack, "compare": command_compare}
    try:
        return handlers[arguments.command](arguments) or 0
    except Refusal as refusal:
        print(f"make-package: {refusal}", file=sys.stderr)
        return REFUSED


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
