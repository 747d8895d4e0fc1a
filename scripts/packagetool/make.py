"""make and check: from a package folder to NAME.exe beside NAME.cab, every check first."""

import contextlib
import os
import shutil
import signal
import tempfile
import time

from . import cabinet, identity, native, pe
from .names import package_name, windows_upper
from .outcome import READY, Refused, ToolFailed
from .progress import Progress
from .scan import scan_package
from .settings import check_settings
from .signing import Signer


def check_code_page(code_page):
    pages = native.facts()["code_pages"]
    if code_page not in pages:
        raise Refused(f"--code-page {code_page} is no ANSI code page of Windows: one of {', '.join(pages)}")


@contextlib.contextmanager
def no_interruption():
    """Ctrl-C waits until the block has ended: a package half moved into place, or a cleanup cut
    short, would leave OUT_DIR as neither the old nor the new package."""
    previous = signal.signal(signal.SIGINT, signal.SIG_IGN)
    try:
        yield
    finally:
        signal.signal(signal.SIGINT, previous)


class Staging:
    """Where the package is built: a scratch folder, and a staging folder inside OUT_DIR from
    which the finished files are moved into place. Whatever ends the run, both are removed, and an
    OUT_DIR this run made is removed unless it holds the package."""

    def __init__(self, out_dir, name):
        self.out_dir, self.name = out_dir, name
        self.created_out_dir = not os.path.isdir(out_dir)
        self.scratch = tempfile.mkdtemp(prefix="make-package.")
        self.staging = None

    def folder(self):
        try:
            os.makedirs(self.out_dir, exist_ok=True)
            self.staging = tempfile.mkdtemp(prefix=".make-package.", dir=self.out_dir)
        except OSError as error:
            raise Refused(f"OUT_DIR '{self.out_dir}' cannot hold the package: {error.strerror}") from None
        return self.staging

    def close(self):
        with no_interruption():
            shutil.rmtree(self.scratch, ignore_errors=True)
            if self.staging:
                shutil.rmtree(self.staging, ignore_errors=True)
            if self.created_out_dir and not os.path.exists(os.path.join(self.out_dir, self.name + ".exe")):
                with contextlib.suppress(OSError):
                    os.rmdir(self.out_dir)


def report_other_package_files(out_dir, name, report):
    """Files in OUT_DIR that a launcher there could take for this package's own."""
    if not os.path.isdir(out_dir):
        return
    own = {windows_upper(own): own for own in (f"{name}.exe", f"{name}.cab")}
    for entry in sorted(os.listdir(out_dir)):
        upper = windows_upper(entry)
        if upper in own:
            if entry != own[upper]:
                report.warn(f"OUT_DIR holds {entry} beside the new {own[upper]}: Windows takes them for one file, and "
                            f"which one a copy keeps is not known. Remove {entry}")
        elif upper == windows_upper(native.facts()["shared_cabinet"]):
            report.warn(f"OUT_DIR holds {entry}, which the launcher expands whenever {name}.cab is not beside it. "
                        f"Remove it unless another launcher in OUT_DIR needs it")


def earlier_cabinets(out_dir, name):
    """The files in OUT_DIR that a launcher named NAME.exe takes for NAME.cab."""
    wanted = windows_upper(f"{name}.cab")
    return [entry for entry in sorted(os.listdir(out_dir)) if windows_upper(entry) == wanted]


def refuse_replacing_a_signed_launcher(out_dir, name, options):
    launcher = os.path.join(out_dir, name + ".exe")
    if options.sign or options.force or not os.path.isfile(launcher):
        return
    try:
        signed = pe.certificate_table(launcher) is not None
    except pe.NotAProgram:
        signed = False
    if signed:
        raise Refused(f"{launcher} is signed, and this package would replace it with an unsigned launcher: sign it "
                      f"too (--sign), make it into another OUT_DIR, or give --force to replace it")


def make(options, report):
    """make and check; options as the command line gave them (check: no OUT_DIR)."""
    check_code_page(options.code_page)
    name = package_name(options.name, options.code_page, report.note)
    options.identity = identity.from_options(options)
    options.latest, options.latest_from = cabinet.latest_date(options.date, os.environ)
    if not os.path.isdir(options.package_dir):
        raise Refused(f"no package folder at '{options.package_dir}'")
    if options.out_dir and os.path.realpath(options.out_dir) == os.path.realpath(options.package_dir):
        raise Refused("OUT_DIR is PACKAGE_DIR itself: make the package in another folder")
    if options.out_dir and os.path.exists(options.out_dir) and not os.path.isdir(options.out_dir):
        raise Refused(f"OUT_DIR '{options.out_dir}' is a file: name a folder (it is made when missing)")
    signer = None
    if not options.check:
        if not os.path.isfile(options.launcher):
            raise Refused(f"no launcher at '{options.launcher}'; build it with: cmake --preset windows && "
                          f"cmake --build --preset windows")
        cabinet.gcab()
        if options.sign:
            signer = Signer(options.sign, options.password_file, options.timestamp)
        elif options.password_file or options.timestamp:
            raise Refused("--password-file and --timestamp go with --sign")
        refuse_replacing_a_signed_launcher(options.out_dir, name, options)

    report.say(f"Checking the files below {options.package_dir}...")
    scan = scan_package(options.package_dir, options.out_dir, options.code_page, options.exclude, report,
                        options.follow_links_outside)
    if options.out_dir and not options.single_file:
        report_other_package_files(options.out_dir, name, report)
    settings = scan.required[native.facts()["required"][0]]
    report.say(f"Checking the settings file {settings}...")
    if not check_settings(os.path.join(options.package_dir, settings), settings, options.code_page, report):
        raise Refused(f"the launcher cannot read {settings}; nothing was written")
    if options.strict and report.warnings:
        raise Refused(f"--strict: {len(report.warnings)} warning(s) above count as refusals; nothing was written")
    if options.check:
        report.say(f"Nothing refused: the package can be made from {options.package_dir}")
        return READY

    staging = Staging(options.out_dir, name)
    try:
        build(options, name, scan, signer, staging, report)
    finally:
        staging.close()
    return READY


def build(options, name, scan, signer, staging, report):
    folder = staging.folder()
    built_cabinet = os.path.join(folder, name + ".cab")
    report.say(f"Packing {len(scan.files)} files into {name}.cab...")
    if options.latest is not None:
        report.say(f"  file dates no later than {time.strftime('%Y-%m-%d %H:%M:%S', time.gmtime(options.latest))} UTC "
                   f"({options.latest_from}), and none before 1980, the first year a cabinet can hold")
    cabinet.pack(scan.files, options.code_page, built_cabinet, os.path.join(staging.scratch, "stage"), options.latest)
    report.say("Checking the cabinet: extracting it and comparing it with the folder...")
    cabinet.compare(scan.files, options.code_page, built_cabinet, os.path.join(staging.scratch, "extracted"), report)

    bound = os.path.join(folder, "bound.exe")
    shutil.copy(options.launcher, bound)
    progress = Progress("hashed", 1, os.path.getsize(built_cabinet))
    digest = pe.sha256_of(built_cabinet, progress)
    progress.end()
    try:
        if options.identity:
            report.say(f"Naming the package in {name}.exe: {options.identity.text()}"
                       + (f", by {options.identity.company}" if options.identity.company else ""))
            pe.write_identity(bound, options.identity, options.code_page)
        if options.single_file:
            report.say(f"Writing {name}.exe, which carries {name}.cab...")
            pe.bind(bound, digest, carry(bound, built_cabinet))
            os.remove(built_cabinet)
        else:
            report.say(f"Binding {name}.exe to {name}.cab...")
            pe.bind(bound, digest)
    except pe.NotAProgram as problem:
        raise ToolFailed(f"could not bind {options.launcher} to the cabinet: {problem}; rebuild it") from None
    launcher = os.path.join(folder, name + ".exe")
    if signer:
        report.say(f"Signing {name}.exe...")
        signer.sign(bound, launcher, staging.scratch)
    else:
        os.replace(bound, launcher)
    # The same modes whether osslsigncode wrote the launcher or it was copied from the build: a
    # program and a data file as this user's umask makes them.
    umask = os.umask(0)
    os.umask(umask)
    os.chmod(launcher, 0o777 & ~umask)
    written = [launcher] + ([] if options.single_file else [built_cabinet])
    if not options.single_file:
        os.chmod(built_cabinet, 0o666 & ~umask)
    sums = "".join(f"{pe.sha256_of(path).hex()}  {os.path.basename(path)}\n" for path in written)
    with open(os.path.join(folder, name + ".sha256"), "w", encoding="utf-8", errors="surrogateescape") as listing:
        listing.write(sums)
    earlier = earlier_cabinets(options.out_dir, name) if options.single_file else []
    with no_interruption():
        for path in written + [os.path.join(folder, name + ".sha256")]:
            os.replace(path, os.path.join(options.out_dir, os.path.basename(path)))
        for cab in earlier:
            os.remove(os.path.join(options.out_dir, cab))
    for cab in earlier:
        report.say(f"  removed the earlier {cab} from OUT_DIR: the new {name}.exe carries its own cabinet, and the "
                   f"launcher of an earlier two-file package would expand that one")
    out = options.out_dir.rstrip("/")
    made = (f"{out}/{name}.exe, one file that carries its cabinet" if options.single_file else
            f"{out}/{name}.exe beside {out}/{name}.cab")
    report.say(f"Package ready: {made}{' (signed)' if signer else ''}")
    report.say(f"SHA-256 of each file, as sha256sum -c reads them (also in {out}/{name}.sha256):")
    for line in sums.splitlines():
        report.say(line)


def carry(launcher, cabinet_file):
    """Appends the cabinet after the launcher's last section, on an 8-byte boundary as a
    certificate table after it needs; returns its (offset, size)."""
    end = os.path.getsize(launcher)
    if pe.image_end(launcher) != end:
        raise pe.NotAProgram("it holds data after its last section (a signed launcher?): take the launcher as built")
    offset, size = -(-end // 8) * 8, os.path.getsize(cabinet_file)
    with open(launcher, "ab") as out, open(cabinet_file, "rb") as cabinet_bytes:
        out.write(bytes(offset - end))
        shutil.copyfileobj(cabinet_bytes, out, 1 << 20)
    return offset, size
