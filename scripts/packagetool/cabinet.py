"""The cabinet: built by gcab from exactly the scanned files, with names in the ANSI code page,
and checked against the folder by extracting it again."""

import filecmp
import os
import shutil
import struct
import subprocess
import time

from .outcome import Refused, ToolFailed
from .progress import Progress

# gcab is given the top-level names on one command line; Linux takes about 2 MiB of arguments.
MAX_ARGUMENT_BYTES = 1024 * 1024


def gcab():
    if not shutil.which("gcab"):
        raise ToolFailed("gcab is not installed (apt-get install gcab)")
    return "gcab"


def stored_name(relative, code_page):
    """The bytes a cabinet holds for a name: the ANSI code page's, as extrac32.exe reads them."""
    return relative.encode("cp" + code_page)


def bytes_read_by(process):
    try:
        with open(f"/proc/{process.pid}/io") as io:
            return next(int(line.split()[1]) for line in io if line.startswith("rchar:"))
    except (OSError, StopIteration):
        return None


def watch(process, sizes, total, progress):
    """Waits for gcab, showing what it has read so far; the count follows from the sizes."""
    while process.poll() is None:
        read = bytes_read_by(process)
        if read is not None:
            done = min(read, total)
            count, running = 0, 0
            while count < len(sizes) and running + sizes[count] <= done:
                running += sizes[count]
                count += 1
            progress.advance(count=count, done=done)
        time.sleep(0.1)


def pack(files, code_page, cabinet, stage):
    """Builds the cabinet from (relative, source, size) files through a tree of links in stage."""
    program = gcab()
    stage = os.fsencode(stage)
    # A tree of links with the names the cabinet is to hold: gcab walks it itself, so no file list
    # goes through a command line, and it reads each file through its link.
    for relative, source, _ in files:
        link = os.path.join(stage, stored_name(relative, code_page))
        os.makedirs(os.path.dirname(link), exist_ok=True)
        os.symlink(os.fsencode(source), link)
    top = sorted(os.listdir(stage))
    if sum(len(name) + 1 for name in top) > MAX_ARGUMENT_BYTES:
        raise Refused(f"{len(top)} names at the top of the package folder are too many for one gcab command line: "
                      f"move them into a folder")
    total = sum(size for _, _, size in files)
    progress = Progress("packed", len(files), total)
    # "--": a top-level name such as "-v" is a file, not an option.
    with subprocess.Popen([program.encode(), b"-c", b"-z", os.fsencode(os.path.abspath(cabinet)), b"--"] + top,
                          cwd=stage, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE) as process:
        try:
            watch(process, [size for _, _, size in files], total, progress)
        except BaseException:
            process.kill()  # Ctrl-C: gcab writes no more into the staging folder that goes now
            raise
        errors = process.stderr.read()
    progress.end()
    if process.returncode != 0:
        raise ToolFailed(f"gcab could not build the cabinet: {errors.decode(errors='replace').strip()}")
    clear_utf8_flags(cabinet)


def clear_utf8_flags(cabinet):
    """gcab marks every name with a byte above 127 as UTF-8; these hold the ANSI code page's bytes.
    Only the header and the file table are read and written: memory stays flat however big."""
    with open(cabinet, "r+b") as file:
        header = file.read(36)
        (files_at,) = struct.unpack_from("<I", header, 16)
        (count,) = struct.unpack_from("<H", header, 28)
        (flags,) = struct.unpack_from("<H", header, 30)
        if flags & 0x0004:
            raise ToolFailed("gcab wrote a cabinet with reserved fields, which this tool does not read")
        at = files_at
        for _ in range(count):
            file.seek(at)
            record = file.read(16 + 257)
            (attributes,) = struct.unpack_from("<H", record, 14)
            if attributes & 0x80:
                file.seek(at + 14)
                file.write(struct.pack("<H", attributes & ~0x80))
            at += record.index(b"\0", 16) + 1


def extract(cabinet, directory):
    """Extracts the whole cabinet with gcab; False when it cannot."""
    completed = subprocess.run([gcab(), "-x", "-C", os.fsencode(directory), os.fsencode(cabinet)],
                               stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
    return completed.returncode == 0, completed.stderr.decode(errors="replace").strip()


def listing(cabinet):
    """The names a cabinet holds, with "/", as gcab lists them; None when it cannot read it."""
    completed = subprocess.run([gcab(), "-t", os.fsencode(cabinet)], stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
    if completed.returncode != 0:
        return None
    return completed.stdout.decode("utf-8", errors="replace").replace("\\", "/").splitlines()


def compare(files, code_page, cabinet, extract_dir, report):
    """Extracts the cabinet and compares it with the folder, name for name and byte for byte."""
    extracted, errors = extract(cabinet, extract_dir)
    if not extracted:
        raise ToolFailed(f"gcab cannot extract the cabinet it wrote: {errors}")
    root = os.fsencode(extract_dir)
    held = set()
    for directory, _, names in os.walk(root):
        for name in names:
            held.add(os.path.relpath(os.path.join(directory, name), root))
    expected = {stored_name(relative, code_page): (source, size) for relative, source, size in files}
    missing = sorted(set(expected) - held)
    extra = sorted(held - set(expected))
    progress = Progress("compared", len(expected), sum(size for _, size in expected.values()))
    differing = []
    for name in sorted(set(expected) & held):
        source, size = expected[name]
        if not filecmp.cmp(os.path.join(root, name), os.fsencode(source), shallow=False):
            differing.append(name)
        progress.advance(files=1, size=size)
    progress.end()
    for what, names in (("lacks", missing), ("holds files not in the folder:", extra),
                        ("holds other bytes than the folder for", differing)):
        if names:
            shown = ", ".join(name.decode("cp" + code_page, errors="replace") for name in names[:5])
            report.note(f"the cabinet {what} {len(names)} file(s): {shown}")
    if missing or extra or differing:
        raise ToolFailed("the cabinet does not match the package folder; nothing was written")
    report.say(f"  the cabinet holds the {len(held)} files of the folder, byte for byte")
