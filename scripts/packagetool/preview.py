"""preview: what the launcher does with a package and a command line, without Windows (the
launcher's own code on a stand-in Windows, in the native helper)."""

import os
import shutil
import subprocess
import sys
import tempfile

from . import cabinet, native
from .outcome import Refused, ToolFailed, Usage


def preview(options, report):
    arguments = []
    for flag in ("x86", "interactive"):
        if getattr(options, flag):
            arguments.append(f"--{flag}")
    for option in ("temp", "launcher", "code_page"):
        if getattr(options, option) is not None:
            arguments += [f"--{option.replace('_', '-')}", getattr(options, option)]
    scratch = None
    package = options.package
    try:
        if os.path.isfile(package):
            scratch = tempfile.mkdtemp(prefix="preview.")
            extracted, errors = cabinet.extract(package, scratch)
            if not extracted:
                raise Refused(f"gcab cannot extract '{package}': {errors}")
            if options.launcher is None:
                # The launcher is named after its cabinet: OUT_DIR/Branch.cab previews C:\pkg\Branch.exe.
                arguments += ["--launcher", f"C:\\pkg\\{os.path.splitext(os.path.basename(package))[0]}.exe"]
            package = scratch
        elif not os.path.isdir(package):
            raise Refused(f"no package folder or cabinet at '{package}'")
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
