"""verify: whether a package in OUT_DIR is as the tool made it, and ready to deploy."""

import os
import shutil
import subprocess
import tempfile

from . import cabinet, native, pe, signature
from .make import check_code_page
from .names import name_problem, package_name, windows_upper
from .outcome import NOT_READY, READY, Refused
from .scan import build_problem, path_refusal, path_warning, paths_that_do_not_fit
from .settings import check_settings
from .signing import osslsigncode


class Findings:
    def __init__(self, report):
        self.report, self.problems = report, 0
        self.signer_unchecked = False  # signed, but not checked against a trusted root (no --ca)

    def good(self, line):
        self.report.say(line)

    def bad(self, line):
        self.report.say(line)
        self.problems += 1


def verify_signature(exe, shown, ca, findings, covered_too):
    try:
        signed = signature.Signature(exe)
    except LookupError:
        return findings.bad(f"{shown}: not signed")
    except (ValueError, IndexError, StopIteration, pe.NotAProgram):
        return findings.bad(f"{shown}: its signature cannot be read: sign it again")
    signer = signature.subject_line(signed.signer) if signed.signer else "a signer whose certificate it lacks"
    if signed.signer:
        findings.good(f"{shown}: signer's certificate: {signature.identity(signed.signer)}")
    intact = signed.intact()
    covered = intact and signature.covers(exe, signed)
    # Only the key usages: whether the certificate was valid when it signed is the time stamp's to
    # tell, and osslsigncode checks that with --ca.
    unfit = signed.signer and signature.usage_unfit_for_code_signing(signed.signer)
    if ca:
        trusted = subprocess.run([osslsigncode(), "verify", "-CAfile", ca, "-TSA-CAfile", ca, "-ignore-cdp", "-in",
                                  exe], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL).returncode == 0
        if trusted and covered and not unfit:
            findings.good(f"{shown}: signed by {signer}; the signature verifies against {ca}")
        else:
            reason = (f"the certificate {unfit}" if unfit else "the signature is damaged" if not intact else
                      "the file was changed after signing" if not covered else
                      f"the signer's certificate does not lead to a certificate in {ca}, or is no longer valid")
            findings.bad(f"{shown}: signed by {signer}; the signature does NOT verify against {ca}: {reason}")
    else:
        # Anybody can make a certificate with the publisher's name: only a root the user trusts tells.
        findings.good(f"{shown}: signed by {signer}, NOT checked against a trusted root (no --ca): compare the "
                      f"fingerprint above with your signing certificate's")
        findings.signer_unchecked = True
        if unfit:
            findings.bad(f"{shown}: the signer's certificate {unfit}")
    if not intact:
        findings.bad(f"{shown}: the signature is damaged: it does not verify with the signer's key")
    elif not covered:
        findings.bad(f"{shown}: CHANGED after signing: the signature does not cover it as it is")
    else:
        findings.good(f"{shown}: the signature covers it as it is, {covered_too} included")


def verify_binding(exe, shown, cab, cab_shown, findings):
    try:
        bound = pe.read_binding(exe)
    except pe.NotAProgram as problem:
        return findings.bad(f"{shown}: binding unreadable: {problem}")
    if bound is None:
        findings.good(f"{shown}: not bound")
    elif bound == pe.sha256_of(cab):
        findings.good(f"{shown}: bound to this cabinet")
    else:
        findings.bad(f"{shown}: bound to another cabinet: it refuses {cab_shown}")


def verify_identity(exe, shown, code_page, findings):
    """The package the launcher names, in its binding region and its version resource alike."""
    named = pe.package_identity(exe, code_page)
    if named is None:
        return findings.good(f"{shown}: names no package (made without --product): its event says \"Package: none\"")
    try:
        strings, fixed = pe.version_information(exe)
    except (pe.NotAProgram, OSError) as problem:
        return findings.bad(f"{shown}: its version resource cannot be read: {problem}")
    company = f", by {named.company}" if named.company else ""
    findings.good(f"{shown}: names the package {named.text()}{company}: its event says \"Package: {named.text()}\"")
    expected = {"ProductName": named.product, "ProductVersion": named.version, "CompanyName": named.company}
    differing = [key for key, text in expected.items() if text and strings.get(key) != text]
    if differing:
        findings.bad(f"{shown}: its version resource does not say what its binding says ({', '.join(differing)}): "
                     f"make the package again")
    else:
        findings.good(f"{shown}: version resource: {strings.get('ProductName')} {strings.get('ProductVersion')} "
                      f"(product version {'.'.join(map(str, fixed))}, file version {strings.get('FileVersion')})")


def list_files(files, shown, code_page, report):
    """Every file of the extracted cabinet: SHA-256, size in bytes and path, by path."""
    report.say(f"{shown}: its files (SHA-256, bytes, path):")
    for relative in sorted(files, key=os.fsencode):
        path = files[relative]
        name = os.fsencode(relative).decode("cp" + code_page, errors="replace")
        report.say(f"{pe.sha256_of(path).hex()}  {os.path.getsize(path)}  {name}")


def warn_or_count(message, strict, findings, report):
    """A warning; under --strict a problem too."""
    report.warn(message)
    if strict:
        findings.problems += 1


def verify_names(cab, shown, code_page, strict, findings, report):
    """The checks make runs on the folder's names, on the names the cabinet's file table holds."""
    names = cabinet.stored_names(cab) or []
    relatives: list[str] = []
    seen: dict[str, str] = {}  # a name in Windows' letter case: the first file of it
    for stored in names:
        relative = stored.decode("cp" + code_page, errors="replace")
        relatives.append(relative)
        problem = next(filter(None, (name_problem(part, code_page) for part in relative.split("\\"))), None)
        if problem:
            findings.bad(f"{shown}: {relative}: {problem}")
        key = windows_upper(relative)
        if key in seen:
            findings.bad(f"{shown}: {relative}: Windows sees the same file as {seen[key]}: one of them is lost")
        seen[key] = relative
    refused, warned = paths_that_do_not_fit(relatives, code_page)
    for length, relative in refused:
        findings.bad(f"{shown}: " + ": ".join(path_refusal(length, relative)))
    if warned:
        warn_or_count(f"{shown}: {path_warning(warned)}", strict, findings, report)


def verify_cabinet(cab, shown, code_page, strict, findings, report, listed=False):
    listing = cabinet.listing(cab)
    if listing is None:
        return findings.bad(f"{shown}: DAMAGED: it is no cabinet that gcab can read")
    verify_names(cab, shown, code_page, strict, findings, report)
    held: dict[str, str] = {}  # a name in Windows' letter case: as the cabinet holds it
    for stored in listing:
        held.setdefault(windows_upper(stored), stored)
    required = native.facts()["required"]
    for path in required:
        held_as = held.get(windows_upper(path))
        if held_as is None:
            findings.bad(f"{shown}: MISSING {path}")
        else:
            findings.good(f"{shown}: holds {path}" + ("" if held_as == path else f" (as {held_as})"))
    scratch = tempfile.mkdtemp(prefix="make-package.")
    try:
        extracted, _ = cabinet.extract(cab, scratch)
        if not extracted:
            return findings.bad(f"{shown}: DAMAGED: gcab cannot extract it whole")
        files = {os.path.relpath(os.path.join(d, n), scratch): os.path.join(d, n)
                 for d, _, names in os.walk(scratch) for n in names}
        findings.good(f"{shown}: extracts whole ({len(files)} files)")
        if listed:
            list_files(files, shown, code_page, report)
        found = {windows_upper(relative): path for relative, path in files.items()}
        for path in required[1:]:
            if windows_upper(path) in found:
                problem, refused = build_problem(found[windows_upper(path)], path.split("/")[1])
                if problem and refused:
                    findings.bad(f"{shown}: {held[windows_upper(path)]}: {problem}")
                elif problem:
                    warn_or_count(f"{shown}: {held[windows_upper(path)]}: {problem}", strict, findings, report)
        settings = found.get(windows_upper(required[0]))
        if settings:
            findings.good(f"{shown}: settings file:")
            warnings = len(report.warnings)
            if not check_settings(settings, f"{shown}: {required[0]}", code_page, report):
                findings.problems += 1
            if strict:
                findings.problems += len(report.warnings) - warnings
    finally:
        shutil.rmtree(scratch, ignore_errors=True)


def carried_extent(exe: str) -> tuple[int, int] | None:
    try:
        return pe.binding(exe).carried
    except (pe.NotAProgram, OSError):
        return None


def verify_carried(exe, shown, extent, findings):
    """A single file: the cabinet it carries matches its binding, and lies before its signature."""
    offset, size = extent
    if pe.sha256_of_range(exe, offset, size) != pe.read_binding(exe):
        return findings.bad(f"{shown}: the cabinet it carries does not match its binding: it refuses to run")
    table = pe.certificate_table(exe)
    if table and offset + size > table[0]:
        return findings.bad(f"{shown}: its carried cabinet runs into its signature: make the package again")
    findings.good(f"{shown}: carries its cabinet ({size:,} bytes), as bound")


def beside(folder, name):
    """The file in folder that Windows finds as name, whatever its letter case; None without one."""
    if os.path.isfile(os.path.join(folder, name)):
        return name
    wanted = windows_upper(name)
    return next((entry for entry in sorted(os.listdir(folder)) if windows_upper(entry) == wanted
                 and os.path.isfile(os.path.join(folder, entry))), None)


def launchers_cabinet(out_dir, name):
    """The cabinet the launcher NAME.exe expands, found as it finds it: NAME.cab, else
    InstallFiles.cab; its file name, or Refused."""
    shared = native.facts()["shared_cabinet"]
    for candidate in (f"{name}.cab", shared):
        found = beside(out_dir, candidate)
        if found:
            return found
    raise Refused(f"no cabinet beside {name}.exe in '{out_dir}': the launcher looks for {name}.cab, then {shared}")


def verify(options, report):
    check_code_page(options.code_page)
    name = package_name(options.name, options.code_page, report.note)
    exe = os.path.join(options.out_dir, name + ".exe")
    if not os.path.isfile(exe):
        raise Refused(f"no launcher at '{exe}'")
    extent = carried_extent(exe)
    if extent is None:
        cab_name = launchers_cabinet(options.out_dir, name)
        cab = os.path.join(options.out_dir, cab_name)
        fallback = "" if cab_name == f"{name}.cab" else f": there is no {name}.cab beside it"
        report.say(f"{name}.exe expands {cab_name}{fallback}")
    cabinet.gcab()
    findings = Findings(report)
    verify_signature(exe, f"{name}.exe", options.ca, findings, "its carried cabinet" if extent else "binding")
    verify_identity(exe, f"{name}.exe", options.code_page, findings)
    scratch = tempfile.mkdtemp(prefix="make-package.")
    try:
        if extent:
            verify_carried(exe, f"{name}.exe", extent, findings)
            cab = os.path.join(scratch, name + ".cab")
            pe.copy_range(exe, *extent, cab)
            shown = f"{name}.exe's cabinet"
        else:
            shown = cab_name
            verify_binding(exe, f"{name}.exe", cab, shown, findings)
        # A run's event ends its "Cabinet" string so, when the launcher is bound.
        report.say(f"{shown}: {os.path.getsize(cab)} bytes, SHA-256 {pe.sha256_of(cab).hex()}")
        verify_cabinet(cab, shown, options.code_page, options.strict, findings, report, options.list)
    finally:
        shutil.rmtree(scratch, ignore_errors=True)
    # Scripts read the exit code and this line: a signer nobody checked is never "ready".
    unchecked = "the signer was not checked against a trusted root: give --ca with the root certificate you trust"
    if findings.problems:
        also = f", and {unchecked}" if findings.signer_unchecked else ""
        report.say(f"Verdict: NOT ready to deploy: {findings.problems} problem(s) above{also}")
        return NOT_READY
    if findings.signer_unchecked:
        report.say(f"Verdict: NOT ready to deploy: {unchecked}; all else is as it should be")
        return NOT_READY
    files = f"{name}.exe" if extent else f"{name}.exe and {cab_name}"
    are = "is as it" if extent else "are as they"
    report.say(f"Verdict: ready to deploy: {files} {are} should be")
    return READY
