"""Which files of a package folder go into its cabinet, and what in the folder keeps the launcher
from using them: names, links, unreadable files, installer builds for the wrong machine, and the
cabinet format's limits."""

import os

import pathspec

from . import cabinet_format, native, pe
from .names import MAX_NAME_BYTES, name_problem, windows_upper
from .outcome import Refused

# What no package means to ship: a folder's version control, Explorer's, the Finder's, macOS
# archives' and editors' leftovers.
DEFAULT_EXCLUDES = (".git/", "Thumbs.db", "desktop.ini", ".DS_Store", "__MACOSX/", "._*", "*~")
# A cabinet holds at most 65,535 files, and gcab writes one folder of at most 65,535 blocks of
# 32 KiB of the files' bytes; with their headers, no cabinet may pass 2 GB (2^31 - 1 bytes).
MAX_FILES = cabinet_format.MAX_FILES
MAX_FOLDER_BYTES = cabinet_format.MAX_BLOCKS * cabinet_format.BLOCK_BYTES
MAX_CABINET_BYTES = 2 ** 31 - 1
# What gcab adds at most, measured on incompressible data: a block header and deflate's framing
# per 32 KiB, a record per file and the cabinet's header.
BLOCK_OVERHEAD = 64
FILE_OVERHEAD = cabinet_format.FILE_RECORD_SIZE + MAX_NAME_BYTES + 1
HEADER_OVERHEAD = cabinet_format.HEADER_SIZE + cabinet_format.FOLDER_SIZE
# Deployment tools run the launcher as SYSTEM, whose temp is this folder: a path that does not fit
# below it fails on every machine. An administrator's elevated run expands in the person's own
# temp, longest with a user name of 20 letters, the most Windows allows.
SYSTEM_TEMP = "C:\\Windows\\Temp"
PERSON_TEMP = "C:\\Users\\" + "N" * 20 + "\\AppData\\Local\\Temp"
PERSON_TEMP_SHOWN = "C:\\Users\\ and a 20-letter name and \\AppData\\Local\\Temp"
MACHINE_OF_FOLDER = {"x86": "i386", "x64": "AMD64"}


def inside(path, folder):
    return path == folder or path.startswith(folder.rstrip("/") + "/")


def estimated_cabinet_bytes(files, total):
    return HEADER_OVERHEAD + FILE_OVERHEAD * files + total + BLOCK_OVERHEAD * -(-total // cabinet_format.BLOCK_BYTES)


def expanded_length(temp, relative, code_page):
    """The length of a packaged file's path once expanded below temp, as the launcher counts it: the
    expansion directory, a backslash and the name, in bytes of the ANSI code page."""
    path = f"{temp}\\{native.facts()['expansion_folder']}\\{relative}"
    return len(path.replace("/", "\\").encode("cp" + code_page))


def paths_that_do_not_fit(relatives, code_page):
    """(refused, warned): (length, relative) of the paths that reach MAX_PATH once expanded in
    SYSTEM's temp, where every deployment fails, and of those that reach it only in a person's long
    temp; each with its length in SYSTEM's temp and in the person's, respectively."""
    limit = native.facts()["max_path"]
    refused, warned = [], []
    for relative in relatives:
        length = expanded_length(SYSTEM_TEMP, relative, code_page)
        if length >= limit:
            refused.append((length, relative))
            continue
        length = expanded_length(PERSON_TEMP, relative, code_page)
        if length >= limit:
            warned.append((length, relative))
    return refused, warned


def path_refusal(length, relative):
    limit = native.facts()["max_path"] - 1
    return (relative, f"expanded in {SYSTEM_TEMP}, where deployment tools run the launcher, its path would be "
                      f"{length} characters long, past Windows' limit of {limit}: the launcher refuses the package "
                      f"on every such machine. Shorten its folders or its name by {length - limit}")


def path_warning(warned):
    length, longest = max(warned)
    return (f"{len(warned)} file(s) would pass Windows' limit of {native.facts()['max_path'] - 1} characters once "
            f"expanded in a person's temp such as {PERSON_TEMP_SHOWN}, where an administrator's elevated run "
            f"expands the package, and the launcher would refuse it there; the longest is {longest} ({length} "
            f"characters there). Shorten their folders or names")


class Scan:
    """Every file below the package folder, links inside it followed, with what stands in the way.
    Each entry of the folder is looked at a bounded number of times, so the scan grows linearly."""

    def __init__(self, package_dir, out_dir, code_page, excludes=(), follow_links_outside=False, as_made=False):
        self.package_dir = os.path.realpath(package_dir)
        # Only an OUT_DIR inside the package folder is met on the walk; its files are what this
        # tool made before, never the package's own.
        out_real = os.path.realpath(out_dir) if out_dir else None
        self.out_dir = out_real if out_real and inside(out_real, self.package_dir) else None
        self.code_page = code_page
        self.follow_links_outside = follow_links_outside
        self.as_made = as_made
        patterns = () if as_made else DEFAULT_EXCLUDES + tuple(excludes)
        # One matcher of all the patterns answers whether a name is left out; the pattern that did it is
        # looked up then.
        self.exclude_all = pathspec.GitIgnoreSpec.from_lines(patterns)
        self.excludes = [(pattern, pathspec.GitIgnoreSpec.from_lines([pattern])) for pattern in patterns]
        self.files = []        # (relative path with "/", source path, size)
        self.links = []        # (relative path, where it leads, whether that lies outside PACKAGE_DIR)
        self.problems = []     # (relative path, what to change)
        self.warnings = []     # (relative path, what may go wrong)
        self.excluded = []     # (relative path, files in it, the pattern)
        self.earlier = []      # (folder, its file names) of packages this tool made before
        self.left_out = 0      # files in OUT_DIR below the package folder

    def walk(self, directory="", relative="", real="", enclosing=()):
        """Walks one folder; real is its path with every link resolved, enclosing the real paths of
        the folders the walk came through."""
        directory = directory or self.package_dir
        real = real or self.package_dir
        enclosing = enclosing + (real,)
        try:
            entries = sorted(os.scandir(directory), key=lambda entry: entry.name)
        except OSError as error:
            self.problems.append((relative or ".", f"the folder cannot be read ({error.strerror}): make it readable"))
            return
        earlier = set() if self.as_made else self.earlier_packages(entries)
        for entry in entries:
            path, name = entry.path, entry.name
            child = f"{relative}/{name}" if relative else name
            is_link = entry.is_symlink()
            target = os.path.realpath(path) if is_link else os.path.join(real, name)
            if self.out_dir and inside(target, self.out_dir):
                self.left_out += count_files(path)
                continue
            if name in earlier:
                continue
            is_dir = entry.is_dir()
            if self.excludes and self.exclude_all.match_file(child + "/" if is_dir else child):
                pattern = next((pattern for pattern, matcher in reversed(self.excludes)
                                if matcher.match_file(child + "/" if is_dir else child)), "")
                self.excluded.append((child + ("/" if is_dir else ""), count_files(path), pattern))
                continue
            problem = name_problem(name, self.code_page)
            if problem:
                self.problems.append((child, problem))
                continue
            if is_link and not self.link_allowed(child, path, target, is_dir, enclosing):
                continue
            if is_dir:
                self.walk(path, child, target, enclosing)
            elif entry.is_file():
                self.add_file(child, target)
            else:
                self.problems.append((child, "this is no file or folder (a device, pipe or socket): remove it"))
        for package, names in sorted(group_by_stem(earlier).items()):
            self.earlier.append((relative or ".", sorted(names, key=lambda n: (not n.endswith("exe"), n))))

    def link_allowed(self, child, path, target, is_dir, enclosing):
        """Whether the walk follows a link; records why not, or that it did."""
        if not os.path.exists(path):
            self.problems.append((child, f"this link leads nowhere ({os.readlink(path)}): "
                                         f"remove it or put the file in its place"))
            return False
        if is_dir and any(inside(folder, target) for folder in enclosing):
            # Refused where it stands: walking it would go round, or through the folders above.
            self.problems.append((child, f"this link leads to {target}, a folder that encloses it, so the folder "
                                         f"would never end: remove the link"))
            return False
        outside = not inside(target, self.package_dir)
        if outside and not self.follow_links_outside:
            # A folder from an archive or a vendor may link to the signer's own files.
            self.problems.append((child, f"this link leads outside PACKAGE_DIR, to {target}: put what it should "
                                         f"carry into the folder, or give --follow-links-outside to pack it"))
            return False
        self.links.append((child, target, outside))
        return True

    def add_file(self, relative, source):
        # The resolved path is what gets packed and compared: a link changed after the scan moves nothing.
        try:
            with open(source, "rb") as file:
                file.read(1)
                size = os.fstat(file.fileno()).st_size
        except OSError as error:
            self.problems.append((relative, f"the file cannot be read ({error.strerror}): make it readable"))
            return
        self.files.append((relative, source, size))

    def earlier_packages(self, entries):
        """The file names of packages this tool made before in one folder: a launcher bound to the
        cabinet of its own name beside it, or one that carries its cabinet, and the list of their hashes."""
        by_name = {entry.name: entry.path for entry in entries if entry.is_file()}
        cabinets: dict[str, str] = {}  # a stem: the cabinet of that name
        for name in by_name:
            stem, extension = os.path.splitext(name)
            if extension.lower() == ".cab":
                cabinets.setdefault(stem, name)
        found = set()
        for name, path in by_name.items():
            stem, extension = os.path.splitext(name)
            if extension.lower() != ".exe":
                continue
            if carries_its_cabinet(path):
                found.add(name)
                continue
            if stem not in cabinets:
                continue
            try:
                bound = pe.read_binding(path)
            except (pe.NotAProgram, OSError):
                continue
            if bound is not None and bound == pe.sha256_of(by_name[cabinets[stem]]):
                found |= {name, cabinets[stem]}
        return found | {stem + ".sha256" for stem in {os.path.splitext(n)[0] for n in found}
                        if stem + ".sha256" in by_name}

    def check(self):
        """The checks of the whole: limits, letter case, paths that fit, the required files and their builds."""
        total = sum(size for _, _, size in self.files)
        self.total = total
        if len(self.files) > MAX_FILES:
            self.problems.append((".", f"{len(self.files)} files: a cabinet holds at most {MAX_FILES}; "
                                       f"pack the data into fewer files"))
        if total > MAX_FOLDER_BYTES or estimated_cabinet_bytes(len(self.files), total) > MAX_CABINET_BYTES:
            self.problems.append((".", f"the files hold {total:,} bytes, and the cabinet could pass 2 GB "
                                       f"({MAX_CABINET_BYTES:,} bytes), the most the cabinet format holds: "
                                       f"leave out files, or make two packages"))
        seen: dict[str, str] = {}  # a name in Windows' letter case: the first file of it
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
        refused, self.too_long = paths_that_do_not_fit((relative for relative, _, _ in self.files), self.code_page)
        self.problems += [path_refusal(length, relative) for length, relative in refused]
        sources = {relative: source for relative, source, _ in self.files}
        named = {windows_upper(relative) for relative, _ in self.problems}
        self.required = {}
        for required in native.facts()["required"]:
            found = seen.get(windows_upper(required))
            if found is None and windows_upper(required) in named:
                continue  # named once, with why it was refused
            if found is None:
                self.problems.append((required, f"the package folder has no {required}: put it there "
                                                f"(any letter case will do)"))
                continue
            self.required[required] = found
            folder = required.split("/")[1]
            if folder in MACHINE_OF_FOLDER:
                problem, refused = build_problem(sources[found], folder)
                if problem:
                    (self.problems if refused else self.warnings).append((found, problem))


def group_by_stem(names):
    groups: dict[str, list[str]] = {}
    for name in names:
        groups.setdefault(os.path.splitext(name)[0], []).append(name)
    return groups


def carries_its_cabinet(path):
    """Whether a program is a single-file package this tool made: it carries the cabinet it is bound to."""
    try:
        carried = pe.binding(path)
    except (pe.NotAProgram, OSError):
        return False
    return carried.carried is not None and pe.sha256_of_range(path, *carried.carried) == carried.digest


def build_problem(path, folder):
    """(what is wrong with the file in install/<folder> as that folder's installer build, whether it
    is refused); (None, False) when it is the build for that folder's machine. An i386 program in
    x64 is a warning only: 64-bit Windows runs 32-bit programs."""
    wanted = MACHINE_OF_FOLDER[folder]
    try:
        machine, dll = pe.kind_of_program(path)
    except pe.NotAProgram as problem:
        return f"{problem}: put the {folder} build of the installer there", True
    except OSError as error:
        return f"the file cannot be read ({error.strerror}): make it readable", True
    if dll:
        return f"it is a DLL, not a program: put the {folder} build of the installer there", True
    if machine == wanted:
        return None, False
    if folder == "x64" and machine == "i386":
        return ("it is a Windows program for i386, the 32-bit build: 64-bit Windows runs it (under WOW64), so the "
                "package installs with the 32-bit installer there. Put the AMD64 build there if the vendor ships "
                "one"), False
    other = next((name for name, kind in MACHINE_OF_FOLDER.items() if kind == machine), None)
    hint = f" (the {other} build?)" if other else ""
    return (f"it is a Windows program for {machine}{hint}, and install/{folder} must hold the {wanted} build "
            f"that Windows starts there: put the {folder} build of the installer there"), True


def count_files(path):
    if not os.path.isdir(path) or os.path.islink(path) and not os.path.exists(path):
        return 1
    return sum(len(files) for _, _, files in os.walk(path))


def scan_package(package_dir, out_dir, code_page, excludes, report, follow_links_outside=False, refuse=True,
                 as_made=False):
    """Scans the folder and reports on it; Refused with every problem listed when there are any
    (unless not refuse: the scan then holds them). as_made: the folder holds what a cabinet held,
    taken whole, without the default excludes and earlier packages."""
    scan = Scan(package_dir, out_dir, code_page, excludes, follow_links_outside, as_made)
    scan.walk()
    scan.check()
    for relative, target, outside in scan.links:
        report.say(f"  following the link {relative} to {target}" +
                   (", outside PACKAGE_DIR (--follow-links-outside)" if outside else ""))
    if scan.out_dir:
        report.say(f"  OUT_DIR lies inside PACKAGE_DIR: it is left out of the cabinet ({scan.left_out} files there "
                   f"now)")
    for folder, names in scan.earlier:
        report.say(f"  left out an earlier package: {folder}/{' and '.join(names)}")
    for relative, files, pattern in scan.excluded:
        report.say(f"  left out {relative} ({files} file{'s' if files != 1 else ''}): excluded by \"{pattern}\"")
    for relative, warning in scan.warnings:
        report.warn(f"{relative}: {warning}")
    if scan.problems:
        for relative, problem in scan.problems[:20]:
            report.refuse(f"{relative}: {problem}")
        if len(scan.problems) > 20:
            report.note(f"... and {len(scan.problems) - 20} more")
        if refuse:
            raise Refused(f"{len(scan.problems)} problem(s) in {package_dir}; nothing was written")
    report.say(f"  {len(scan.files)} files, {scan.total:,} bytes")
    if scan.too_long:
        report.warn(path_warning(scan.too_long))
    return scan
