"""preview: what the launcher does with a package and a command line, without Windows (the
launcher's own code on a stand-in Windows, in the native helper), after the checks make runs."""

import os
import shutil
import subprocess
import sys
import tempfile

from . import cabinet, identity, native, pe
from .make import check_code_page
from .outcome import Refused, ToolFailed, Usage
from .scan import scan_package
from .settings import check_settings

# The native helper ends with the plain exit code of the run it shows; 2 and 3 are its own.
RUN_EXIT_CODES = (0, 1, 10)


def single_file_cabinet(path, scratch):
    """The cabinet a single-file package carries, copied into scratch; None for any other file."""
    try:
        extent = pe.binding(path).carried
    except (pe.NotAProgram, OSError):
        return None
    if extent is None:
        return None
    copy = os.path.join(scratch, "carried.cab")
    pe.copy_range(path, *extent, copy)
    return copy


def named_package(options, carried):
    """The package the previewed launcher names: the options' identity, else the one the made
    launcher names (the single file itself, or NAME.exe beside NAME.cab); None."""
    given = identity.from_options(options)
    if given or not os.path.isfile(options.package):
        return given
    launcher = options.package if carried else os.path.splitext(options.package)[0] + ".exe"
    if not os.path.isfile(launcher):
        return None
    return pe.package_identity(launcher, options.code_page)


def extracted_package(package, scratch):
    """A cabinet or single file extracted into scratch/extracted, and the carried cabinet's copy
    (None for a cabinet)."""
    carried = single_file_cabinet(package, scratch)
    folder = os.path.join(scratch, "extracted")
    os.mkdir(folder)
    extracted, errors = cabinet.extract(carried or package, folder)
    if not extracted:
        raise Refused(f"gcab cannot extract '{package}': {errors}")
    return folder, carried


def staged(scan, stage):
    """A folder of links that holds exactly what the cabinet holds, for the native helper to expand."""
    os.mkdir(stage)
    for relative, source, _ in scan.files:
        link = os.path.join(stage, relative)
        os.makedirs(os.path.dirname(link), exist_ok=True)
        os.symlink(source, link)
    return stage


def checked(options, folder, as_made, report):
    """Runs make's checks on the folder (as_made: a cabinet's contents, kept whole) and names what
    they refuse; the preview goes on either way, as the launcher would."""
    scan = scan_package(folder, None, options.code_page, [] if as_made else options.exclude, report,
                        options.follow_links_outside, refuse=False, as_made=as_made)
    settings = scan.required.get(native.facts()["required"][0])
    if settings and not check_settings(os.path.join(folder, settings), settings, options.code_page, report,
                                       describe=False):
        scan.problems.append((settings, "the launcher cannot read it"))
    if scan.problems:
        report.note(f"make-package refuses this package ({len(scan.problems)} problem(s) above); the preview "
                    f"shows what the launcher would do with it")
    return scan


def preview(options, report):
    check_code_page(options.code_page)
    arguments = []
    for flag in ("x86", "interactive"):
        if getattr(options, flag):
            arguments.append(f"--{flag}")
    for option in ("temp", "launcher", "code_page"):
        if getattr(options, option) is not None:
            arguments += [f"--{option.replace('_', '-')}", getattr(options, option)]
    carried = None
    package = options.package
    scratch = tempfile.mkdtemp(prefix="preview.")
    try:
        if os.path.isfile(package):
            folder, carried = extracted_package(package, scratch)
            if options.launcher is None:
                # The launcher is named after its cabinet: OUT_DIR/Branch.cab previews C:\pkg\Branch.exe.
                arguments += ["--launcher", f"C:\\pkg\\{os.path.splitext(os.path.basename(package))[0]}.exe"]
        elif os.path.isdir(package):
            folder = package
        else:
            raise Refused(f"no package folder or cabinet at '{package}'")
        named = named_package(options, carried)
        if named:
            arguments += ["--product", named.product, "--product-version", named.version]
            arguments += ["--company", named.company] if named.company else []
        scan = checked(options, folder, os.path.isfile(package), report)
        sys.stdout.flush()
        completed = subprocess.run([native.program(), "preview", *arguments,
                                    staged(scan, os.path.join(scratch, "package")), *options.options])
        if completed.returncode in RUN_EXIT_CODES:
            return completed.returncode
        if completed.returncode == 2:
            raise Usage("the preview's options or text cannot be used as they are (see above)")
        raise ToolFailed("the native helper could not run the preview")
    finally:
        shutil.rmtree(scratch, ignore_errors=True)
