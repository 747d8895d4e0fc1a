"""preview: what the launcher does with a package and a command line, without Windows (the
launcher's own code on a stand-in Windows, in the native helper)."""

import os
import shutil
import subprocess
import sys
import tempfile

from . import cabinet, identity, native, pe
from .outcome import Refused, ToolFailed, Usage


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


def preview(options, report):
    arguments = []
    for flag in ("x86", "interactive"):
        if getattr(options, flag):
            arguments.append(f"--{flag}")
    for option in ("temp", "launcher", "code_page"):
        if getattr(options, option) is not None:
            arguments += [f"--{option.replace('_', '-')}", getattr(options, option)]
    scratch = carried = None
    package = options.package
    try:
        if os.path.isfile(package):
            scratch = tempfile.mkdtemp(prefix="preview.")
            carried = single_file_cabinet(package, scratch)
            os.mkdir(os.path.join(scratch, "package"))
            extracted, errors = cabinet.extract(carried or package, os.path.join(scratch, "package"))
            if not extracted:
                raise Refused(f"gcab cannot extract '{package}': {errors}")
            if options.launcher is None:
                # The launcher is named after its cabinet: OUT_DIR/Branch.cab previews C:\pkg\Branch.exe.
                arguments += ["--launcher", f"C:\\pkg\\{os.path.splitext(os.path.basename(package))[0]}.exe"]
            package = os.path.join(scratch, "package")
        elif not os.path.isdir(package):
            raise Refused(f"no package folder or cabinet at '{package}'")
        named = named_package(options, carried)
        if named:
            arguments += ["--product", named.product, "--product-version", named.version]
            arguments += ["--company", named.company] if named.company else []
        sys.stdout.flush()
        completed = subprocess.run([native.program(), "preview", *arguments, package, *options.options])
        if completed.returncode == 2:
            raise Usage("the preview's options or text cannot be used as they are (see above)")
        if completed.returncode != 0:
            raise ToolFailed("the native helper could not run the preview")
        return 0
    finally:
        if scratch:
            shutil.rmtree(scratch, ignore_errors=True)
