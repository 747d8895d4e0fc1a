"""Which files of a package folder go into its cabinet, and what in the folder keeps the launcher
from using them: names, links, unreadable files, installer builds for the wrong machine, and the
cabinet format's limits."""

import os

import pathspec

from . import native, pe
from .names import MAX_NAME_BYTES, name_problem, windows_upper
from .outcome import Refused

# What no package means to ship: a folder's version control, Explorer's and editors' leftovers.
DEFAULT_EXCLUDES = (".git/", "Thumbs.db", "desktop.ini", "*~")
# A cabinet holds at most 65,535 files, and gcab writes one folder of at most 65,535 blocks of
# 32 KiB of the files' bytes; with their headers, no cabinet may pass 2 GB (2^31 - 1 bytes).
MAX_FILES = 65535
MAX_FOLDER_BYTES = 65535 * 32768
MAX_CABINET_BYTES = 2 ** 31 - 1
# What gcab adds at most, measured on incompressible data: a block header and deflate's framing
# per 32 KiB, a record per file and the cabinet's header.
BLOCK_OVERHEAD = 64
FILE_OVERHEAD = 16 + MAX_NAME_BYTES + 1
HEADER_OVERHEAD = 36 + 8
# Deployment tools run the launcher as SYSTEM, whose temp is this folder.
SYSTEM_TEMP = "C:\\Windows\\Temp"
MACHINE_OF_FOLDER = {"x86": "i386", "x64": "AMD64"}


def inside(path, folder):
    return path == folder or path.startswith(folder.rstrip("/") + "/")


def estimated_cabinet_bytes(files, total):
    return HEADER_OVERHEAD + FILE_OVERHEAD * files + total + BLOCK_OVERHEAD * -(-total // 32768)


class Scan:
    """Every file below the package folder, links followed, with what stands in the way."""

    def __init__(self, package_dir, out_dir, code_page, excludes=()):
        self.package_dir = os.path.realpath(package_dir)
        # Only an OUT_DIR inside the package folder is met on the walk; its files are what this
        # tool made before, never the package's own.
        out_real = os.path.realpath(out_dir) if out_dir else None
        self.out_dir = out_real if out_real and inside(out_real, self.package_dir) else None
        self.code_page = code_page
        self.excludes = [(pattern, pathspec.GitIgnoreSpec.from_lines([pattern]))
                         for pattern in DEFAULT_EXCLUDES + tuple(excludes)]
        self.files = []        # (relative path with "/", source path, size)
        self.links = []        # (relative path, where it leads)
        self.problems = []     # (relative path, what to change)
        self.excluded = []     # (relative path, files in it, the pattern)
        self.earlier = []      # (folder, its file names) of packages this tool made before
        self.left_out = 0      # files in OUT_DIR below the package folder

    def walk(self, directory="", relative="", enclosing=frozenset()):
        directory = directory or self.package_dir
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
        earlier = self.earlier_packages(entries)
        for entry in entries:
            path, name = entry.path, entry.name
            child = f"{relative}/{name}" if relative else name
            if self.out_dir and inside(os.path.realpath(path), self.out_dir):
                self.left_out += count_files(path)
                continue
            if name in earlier:
                continue
            is_dir = entry.is_dir()
            pattern = next((pattern for pattern, spec in self.excludes
                            if spec.match_file(child + "/" if is_dir else child)), None)
            if pattern:
                self.excluded.append((child + ("/" if is_dir else ""), count_files(path), pattern))
                continue
            problem = name_problem(name, self.code_page)
            if problem:
                self.problems.append((child, problem))
                continue
            if entry.is_symlink():
                if not os.path.exists(path):
                    self.problems.append((child, f"this link leads nowhere ({os.readlink(path)}): "
                                                 f"remove it or put the file in its place"))
                    continue
                self.links.append((child, os.path.realpath(path)))
            if is_dir:
                self.walk(path, child, enclosing | {real})
            elif entry.is_file():
                self.add_file(child, path)
            else:
                self.problems.append((child, "this is no file or folder (a device, pipe or socket): remove it"))
        for package in sorted({os.path.splitext(n)[0] for n in earlier}):
            names = sorted((n for n in earlier if os.path.splitext(n)[0] == package), key=lambda n: (not n.endswith("exe"), n))
            self.earlier.append((relative or ".", names))

    def add_file(self, relative, path):
        try:
            with open(path, "rb") as file:
                file.read(1)
                size = os.fstat(file.fileno()).st_size
        except OSError as error:
            self.problems.append((relative, f"the file cannot be read ({error.strerror}): make it readable"))
            return
        self.files.append((relative, path, size))

    def earlier_packages(self, entries):
        """The file names of packages this tool made before in one folder: a launcher bound to the
        cabinet of its own name beside it, and the list of their hashes."""
        by_name = {entry.name: entry.path for entry in entries if entry.is_file()}
        found = set()
        for name, path in by_name.items():
            stem, extension = os.path.splitext(name)
            if extension.lower() == ".exe" and carries_its_cabinet(path):
                found.add(name)
                continue
            cabinet = next((by_name[other] for other in by_name
                            if os.path.splitext(other)[0] == stem and os.path.splitext(other)[1].lower() == ".cab"),
                           None)
            if extension.lower() != ".exe" or cabinet is None:
                continue
            try:
                bound = pe.read_binding(path)
            except (pe.NotAProgram, OSError):
                continue
            if bound is not None and bound == pe.sha256_of(cabinet):
                found |= {name, os.path.basename(cabinet)}
        return found | {stem + ".sha256" for stem in {os.path.splitext(n)[0] for n in found}
                        if stem + ".sha256" in by_name}

    def check(self):
        """The checks of the whole: limits, letter case, the required files and their builds."""
        total = sum(size for _, _, size in self.files)
        self.total = total
        if len(self.files) > MAX_FILES:
            self.problems.append((".", f"{len(self.files)} files: a cabinet holds at most {MAX_FILES}; "
                                       f"pack the data into fewer files"))
        if total > MAX_FOLDER_BYTES or estimated_cabinet_bytes(len(self.files), total) > MAX_CABINET_BYTES:
            self.problems.append((".", f"the files hold {total:,} bytes, and the cabinet could pass 2 GB "
                                       f"({MAX_CABINET_BYTES:,} bytes), the most the cabinet format holds: "
                                       f"leave out files, or make two packages"))
        seen = {}
        for relative, _, _ in self.files:
            key = windows_upper(relative)
            if key in seen:
                self.problems.append((relative, f"Windows sees the same file as {seen[key]}, since file names there "
                                                f"ignore letter case: rename or remove one of them"))
            seen[key] = relative
            stored = len(relative.encode("cp" + self.code_page))
            if stored > MAX_NAME_BYTES:
                self.problems.append((relative, f"the path is {stored} bytes long and a cabinet holds names of at "
                                                f"most {MAX_NAME_BYTES}: shorten its folders or its name"))
        sources = {relative: source for relative, source, _ in self.files}
        self.required = {}
        for required in native.facts()["required"]:
            found = seen.get(windows_upper(required))
            if found is None:
                self.problems.append((required, f"the package folder has no {required}: put it there "
                                                f"(any letter case will do)"))
                continue
            self.required[required] = found
            folder = required.split("/")[1]
            if folder in MACHINE_OF_FOLDER:
                problem = build_problem(sources[found], folder)
                if problem:
                    self.problems.append((found, problem))

    def too_long(self):
        """The files whose expanded path passes MAX_PATH in SYSTEM's temp, with that length."""
        facts = native.facts()
        folder = f"{SYSTEM_TEMP}\\{facts['expansion_folder']}\\"
        lengths = [(len(folder) + len(relative), relative) for relative, _, _ in self.files]
        return [(length, relative) for length, relative in lengths if length >= facts["max_path"]], folder


def carries_its_cabinet(path):
    """Whether a program is a single-file package this tool made: it carries the cabinet it is bound to."""
    try:
        carried = pe.binding(path)
    except (pe.NotAProgram, OSError):
        return False
    return carried.carried is not None and pe.sha256_of_range(path, *carried.carried) == carried.digest


def build_problem(path, folder):
    """Why the file in install/<folder> is not the installer build for that folder's machine; or None."""
    wanted = MACHINE_OF_FOLDER[folder]
    try:
        machine, dll = pe.kind_of_program(path)
    except pe.NotAProgram as problem:
        return f"{problem}: put the {folder} build of the installer there"
    except OSError as error:
        return f"the file cannot be read ({error.strerror}): make it readable"
    if dll:
        return f"it is a DLL, not a program: put the {folder} build of the installer there"
    if machine != wanted:
        other = next((name for name, kind in MACHINE_OF_FOLDER.items() if kind == machine), None)
        hint = f" (the {other} build?)" if other else ""
        return (f"it is a Windows program for {machine}{hint}, and install/{folder} must hold the {wanted} build "
                f"that Windows starts there: put the {folder} build of the installer there")
    return None


def count_files(path):
    if not os.path.isdir(path) or os.path.islink(path) and not os.path.exists(path):
        return 1
    return sum(len(files) for _, _, files in os.walk(path))


def scan_package(package_dir, out_dir, code_page, excludes, report):
    """Scans the folder and reports on it; Refused with every problem listed when there are any."""
    if out_dir and os.path.realpath(out_dir) == os.path.realpath(package_dir):
        raise Refused("OUT_DIR is PACKAGE_DIR itself: make the package in another folder")
    scan = Scan(package_dir, out_dir, code_page, excludes)
    scan.walk()
    scan.check()
    for relative, target in scan.links:
        report.say(f"  following the link {relative} to {target}")
    if scan.out_dir:
        report.say(f"  OUT_DIR lies inside PACKAGE_DIR: it is left out of the cabinet ({scan.left_out} files there now)")
    for folder, names in scan.earlier:
        report.say(f"  left out an earlier package: {folder}/{' and '.join(names)}")
    for relative, files, pattern in scan.excluded:
        report.say(f"  left out {relative} ({files} file{'s' if files != 1 else ''}): excluded by \"{pattern}\"")
    if scan.problems:
        for relative, problem in scan.problems[:20]:
            report.refuse(f"{relative}: {problem}")
        if len(scan.problems) > 20:
            report.note(f"... and {len(scan.problems) - 20} more")
        raise Refused(f"{len(scan.problems)} problem(s) in {package_dir}; nothing was written")
    report.say(f"  {len(scan.files)} files, {scan.total:,} bytes")
    too_long, folder = scan.too_long()
    if too_long:
        length, longest = max(too_long)
        report.warn(f"{len(too_long)} file(s) would pass MAX_PATH ({native.facts()['max_path'] - 1} characters) once "
                    f"expanded in {folder}, and extrac32.exe cannot write them there; the longest is {longest} "
                    f"({length} characters there). Shorten their folders or names")
    return scan
