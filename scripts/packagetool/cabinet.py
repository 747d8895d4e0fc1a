"""The cabinet: built by gcab from exactly the scanned files, with names in the ANSI code page,
and checked against the folder by extracting it again."""

import calendar
import datetime
import filecmp
import os
import shutil
import subprocess
import time
from collections.abc import Mapping

from . import cabinet_format as layout
from .outcome import Refused, ToolFailed
from .progress import Progress

# gcab is given the top-level names on one command line; Linux takes about 2 MiB of arguments.
MAX_ARGUMENT_BYTES = 1024 * 1024
# A cabinet's dates are DOS dates, from 1980 to 2107 in steps of two seconds; the tool writes them
# in UTC, so that the bytes do not depend on the machine's time zone.
DOS_FIRST = calendar.timegm((1980, 1, 1, 0, 0, 0))
DOS_LAST = calendar.timegm((2107, 12, 31, 23, 59, 58))


def latest_date(given: str | None, environment: Mapping[str, str]) -> tuple[int | None, str | None]:
    """The date no file in the cabinet may pass, in seconds since 1970 (UTC), and where it came
    from: --date (an ISO 8601 date or date and time, UTC unless it says otherwise), else
    SOURCE_DATE_EPOCH; (None, None) when neither is given."""
    if given is not None:
        try:
            moment = datetime.datetime.fromisoformat(given)
        except ValueError:
            raise Refused(f"--date {given}: give a date such as 2024-05-01 or 2024-05-01T12:00:00Z") from None
        if moment.tzinfo is None:
            moment = moment.replace(tzinfo=datetime.timezone.utc)
        return int(moment.timestamp()), "--date"
    epoch = environment.get("SOURCE_DATE_EPOCH")
    if epoch is None:
        return None, None
    if not epoch.isascii() or not epoch.isdigit():
        raise Refused(f"SOURCE_DATE_EPOCH={epoch} is no number of seconds since 1970-01-01 UTC")
    return int(epoch), "SOURCE_DATE_EPOCH"


def dos_date_time(seconds: int) -> tuple[int, int]:
    """The DOS date and time of a moment, held within the years a cabinet can date."""
    moment = time.gmtime(min(max(seconds, DOS_FIRST), DOS_LAST))
    return ((moment.tm_year - 1980) << 9 | moment.tm_mon << 5 | moment.tm_mday,
            moment.tm_hour << 11 | moment.tm_min << 5 | moment.tm_sec // 2)


def gcab():
    if not shutil.which("gcab"):
        raise ToolFailed("gcab is not installed (apt-get install gcab)")
    return "gcab"


def stored_name(relative: str, code_page: str) -> bytes:
    """The bytes a cabinet holds for a name: the ANSI code page's, as extrac32.exe reads them."""
    return relative.encode("cp" + code_page)


def bytes_read_by(process):
    try:
        with open(f"/proc/{process.pid}/io") as io:
            return next(int(line.split()[1]) for line in io if line.startswith("rchar:"))
    except (OSError, StopIteration):
        return None


def watch(process, sizes, total, progress):
    """Waits for gcab, showing what it has read so far; the count follows from the sizes, taken up
    where the last look left them, so that each size is added once however long gcab takes."""
    count, running = 0, 0
    while process.poll() is None:
        read = bytes_read_by(process)
        if read is not None:
            done = min(read, total)
            while count < len(sizes) and running + sizes[count] <= done:
                running += sizes[count]
                count += 1
            progress.advance(count=count, done=done)
        time.sleep(0.1)


def pack(files, code_page, cabinet, stage, latest=None):
    """Builds the cabinet from (relative, source, size) files through a tree of links in stage;
    latest: the date no file's date in it may pass (seconds since 1970), as reproducible builds
    clamp them, so that a fresh copy or checkout of the folder gives the same bytes."""
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
        errors = process.stderr.read() if process.stderr else b""
    progress.end()
    if process.returncode != 0:
        raise ToolFailed(f"gcab could not build the cabinet: {errors.decode(errors='replace').strip()}")
    dates = None
    if latest is not None:
        dates = {stored_name(relative, code_page).replace(b"/", b"\\"):
                 dos_date_time(min(int(os.stat(source).st_mtime), latest)) for relative, source, _ in files}
    fix_file_table(cabinet, dates)


def fix_file_table(cabinet: str, dates: dict[bytes, tuple[int, int]] | None = None) -> None:
    """gcab marks every name with a byte above 127 as UTF-8; these hold the ANSI code page's bytes.
    dates: each name's DOS date and time, in place of the local time gcab wrote. Only the header
    and the file table are read and written: memory stays flat however big."""
    with open(cabinet, "r+b") as file:
        header = file.read(layout.HEADER_SIZE)
        if layout.u16(header, layout.FLAGS_AT) & layout.RESERVE_PRESENT:
            raise ToolFailed("gcab wrote a cabinet with reserved fields, which this tool does not read")
        at = layout.u32(header, layout.FILES_AT)
        for _ in range(layout.u16(header, layout.FILE_COUNT_AT)):
            file.seek(at)
            record = file.read(layout.FILE_RECORD_SIZE + layout.MAX_NAME_FIELD)
            attributes = layout.u16(record, layout.FILE_ATTRIBUTES_AT)
            name = record[layout.FILE_RECORD_SIZE:record.index(b"\0", layout.FILE_RECORD_SIZE)]
            if dates is not None and name in dates:
                file.seek(at + layout.FILE_DATE_AT)
                file.write(layout.pack_u16(*dates[name]))
            if attributes & layout.NAME_IS_UTF8:
                file.seek(at + layout.FILE_ATTRIBUTES_AT)
                file.write(layout.pack_u16(attributes & ~layout.NAME_IS_UTF8))
            at += layout.FILE_RECORD_SIZE + len(name) + 1


def stored_names(cabinet: str) -> list[bytes] | None:
    """The names a cabinet's file table holds, as the bytes the launcher and extrac32.exe read
    ("\\" between folders); None when it holds no readable table."""
    try:
        with open(cabinet, "rb") as file:
            header = file.read(layout.HEADER_SIZE)
            if len(header) < layout.HEADER_SIZE or not header.startswith(layout.SIGNATURE):
                return None
            names, at = [], layout.u32(header, layout.FILES_AT)
            for _ in range(layout.u16(header, layout.FILE_COUNT_AT)):
                file.seek(at)
                record = file.read(layout.FILE_RECORD_SIZE + layout.MAX_NAME_FIELD)
                end = record.find(b"\0", layout.FILE_RECORD_SIZE)
                if end < 0:
                    return None
                names.append(record[layout.FILE_RECORD_SIZE:end])
                at += end + 1
            return names
    except OSError:
        return None


def extract(cabinet: str, directory: str) -> tuple[bool, str]:
    """Extracts the whole cabinet with gcab; False when it cannot."""
    completed = subprocess.run([gcab(), "-x", "-C", os.fsencode(directory), os.fsencode(cabinet)],
                               stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
    return completed.returncode == 0, completed.stderr.decode(errors="replace").strip()


def listing(cabinet: str) -> list[str] | None:
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
