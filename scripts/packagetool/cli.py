"""The command lines of the package tool, and how each run ends (see outcome.EXIT_CODES)."""

import argparse
import os
import sys

from . import identity, make, native, preview, verify
from .outcome import EXIT_CODES, INTERRUPTED, OUTPUT_CLOSED, READY, Failure, Refused, ToolFailed, Usage
from .report import Report, shown

REFUSED, USAGE, TOOL_FAILED = EXIT_CODES[Refused], EXIT_CODES[Usage], EXIT_CODES[ToolFailed]
EXIT_CODES_HELP = f"""\
Exit codes:
  {READY}  the package is ready; with check, nothing is refused; with verify, all is as it should be
  {REFUSED}  refused: the folder, NAME, OUT_DIR, the settings file or the signing material needs a change
     (the message says which); with verify, something is not as it should be
  {USAGE}  usage: an unknown option or a wrong number of arguments
  {TOOL_FAILED}  a tool failed: gcab, osslsigncode or the native helper, the time-stamp server, or the
     cabinet it wrote does not match the folder
  {INTERRUPTED}  interrupted (Ctrl-C)
  {OUTPUT_CLOSED}  its output was closed before the end (as by "| head"): the run stopped there
With {REFUSED}, {USAGE}, {TOOL_FAILED}, {INTERRUPTED} and {OUTPUT_CLOSED} nothing is written, and OUT_DIR is as it was.
"""

MAKE_HELP = """\
Writes OUT_DIR/NAME.cab (default NAME: Setup; an extension ".exe" or ".cab" in any letter case is
left out) with every file below PACKAGE_DIR, relative folders kept and links inside it followed, and
OUT_DIR/NAME.exe, the launcher, bound to that cabinet: the cabinet's SHA-256 goes into the
launcher's binding region before signing, so that the signature covers it, and the launcher then
expands that cabinet only. The folder must hold install/component.isf and both installer builds,
install/x86/InstallGui.exe (an i386 program) and install/x64/InstallGui.exe (an AMD64 program), in
any letter case. Before it says "Package ready", the tool extracts the cabinet it wrote and
compares it with the folder, name for name and byte for byte; it writes into OUT_DIR only when
every step succeeded, and then prints the SHA-256 of each file it wrote as sha256sum -c reads them,
and writes the same into OUT_DIR/NAME.sha256.

--product, --product-version and --company name the package in NAME.exe: in its version resource
(ProductName and FileDescription, ProductVersion, CompanyName; a numeric version is also the fixed
product version) and in its binding region, so that the run's event ends with "Package: NAME
VERSION". A name has at most 64 characters of the ANSI code page, a version at most 23 ASCII
characters without blanks.

With SOURCE_DATE_EPOCH set, or --date, no file's date in the cabinet is later than that moment
(older ones keep theirs, none is before 1980; all in UTC): the same folder then gives the same
cabinet and, unsigned, the same launcher, after any copy or checkout.

Left out of the cabinet, and listed: OUT_DIR when it lies inside PACKAGE_DIR, packages the tool
made before (a launcher beside the cabinet it is bound to), the default excludes .git/,
Thumbs.db, desktop.ini, .DS_Store, __MACOSX/, ._* and *~, and what --exclude names.

Checks (a refusal names the file and what to change):
  - names: NAME and every file and folder name must be Windows file names that the ANSI code page
    the launcher runs under can write (--code-page N, default 1252; 65001 is Windows' UTF-8
    setting); no two files whose names differ only in letter case; at most 65,535 files, paths of
    at most 255 bytes; no links that lead nowhere, into a folder that encloses them, or outside
    PACKAGE_DIR (unless --follow-links-outside); every file readable.
  - paths: none may pass MAX_PATH once expanded in C:\\Windows\\Temp, where deployment tools run
    the launcher (the launcher refuses such a package); one that passes it only in a person's
    long temp (C:\\Users\\, a 20-letter name, \\AppData\\Local\\Temp) is a warning.
  - installer builds: each a Windows program for its folder's machine; an i386 program in x64 is a
    warning (64-bit Windows runs it).
  - size: a cabinet that could pass 2 GB, the cabinet format's limit, is refused before packing.
  - settings: install/component.isf must be bytes the launcher can read (no UTF-16, no UTF-8
    byte-order mark). Warned about, with line numbers: lines that nearly match a line the
    launcher looks for, a CR that no LF follows, an [Install] key that only ends in "Ports="
    (MaxPorts=4, which the port rewrite copies as it stands), and UTF-8 text beyond ASCII, which the
    installer reads in the ANSI code page. Then: where the port comes from, and which run the
    installer gets.
  - warned about too: InstallFiles.cab or names that differ only in letter case from NAME.exe and
    NAME.cab in OUT_DIR. --strict makes every warning a refusal.
  - signing: the certificate must be valid now and allow code signing; its password is checked
    before anything is packed, and the signature is checked right after signing. An OUT_DIR whose
    NAME.exe is signed is not given an unsigned launcher unless --force.

The launcher is build/windows/Setup.exe (installed: the one beside the tool), or the file named by
LAUNCHER_EXE. The settings checks run the launcher's own code in build/tools/package_inspect, built
there on first use (cmake --preset tools; installed: the one beside the tool, nothing is built), or
in the program named by PACKAGE_INSPECT. On a terminal, long steps show their
progress.

scripts/make-package --check runs every check on PACKAGE_DIR and writes nothing; scripts/make-package
--verify [--ca FILE.pem] OUT_DIR [NAME] verifies a package (see its --help).
"""

VERIFY_HELP = """\
Finds the cabinet as the launcher does (NAME.cab, else InstallFiles.cab) and says which. Says
whether NAME.exe is signed and by whom, with the signing certificate's SHA-256 fingerprint, issuer
and validity (with --ca, whether the signature verifies against that certificate), whether the
signature still covers the file as it is, whether it is bound to the cabinet, to another (it would
refuse this one) or not bound; whether the cabinet holds the settings file and both builds (in any
letter case, each for its machine), whether its names and paths pass make's checks, whether gcab
can extract it whole, and what its settings file makes the launcher do; which package NAME.exe
names (--product), and the cabinet's size and SHA-256 as a run's event records them. --list adds
every file of the cabinet: its SHA-256, its size in bytes and its path. Ends with one verdict line:
"Verdict: ready to deploy" (exit 0) only when all is so and the signer was checked with --ca;
without --ca anybody's certificate could carry the publisher's name, so the verdict is NOT ready.
"""

PREVIEW_HELP = """\
Shows, without Windows, what the launcher does with a package and a command line: its console
lines in order, its exit code and its event, the installer build it starts with which parameters
and working directory, and the settings file as that installer reads it, line by line with its
line ends. It runs the launcher's own code (the native build of the same sources) on a stand-in
Windows. PACKAGE is a package folder, or a cabinet that make wrote (the launcher is then named
after it: OUT_DIR/Branch.cab previews C:\\pkg\\Branch.exe), or a single file. The event names
the package that --product and --product-version give, else the one the launcher names (the single
file, or NAME.exe beside NAME.cab). Standard input stands at its end, as
with "Setup.exe ... < NUL" in a deployment script.

First it runs make's checks of the names, paths, links, builds and settings file, and names what
make would refuse or warn about, in make's words; then it shows the run whatever they said, with
what make would pack from a folder (its excludes and --follow-links-outside as make takes them).

Example: scripts/preview build/windows/sample-package /port:IP_192.168.1.20 /address:192.168.1.20
"""

PREVIEW_EXIT_CODES_HELP = f"""\
Exit codes:
  0, 1, 10  the plain exit code of the run it shows, as Setup.exe ends without /exitcodes:msi
            (0 the installer ran, 1 another launcher runs, 10 nothing was installed), whatever
            code the run returns (the line "Exit code:" shows that one), and whatever the checks said
  {USAGE}  usage: an unknown option, or a text that the code page cannot write
  {TOOL_FAILED}  a tool failed: gcab or the native helper
  {OUTPUT_CLOSED}  its output was closed before the end (as by "| head")
"""


class Parser(argparse.ArgumentParser):
    def error(self, message):
        raise Usage(f"{message}\n{self.format_usage().rstrip()}")


def _formatter(prog):
    return argparse.RawDescriptionHelpFormatter(prog, max_help_position=32, width=100)


def _parser(prog, description, epilog=EXIT_CODES_HELP):
    return Parser(prog=prog, description=description, epilog=epilog, formatter_class=_formatter)


def _code_page(parser):
    parser.add_argument("--code-page", default="1252", metavar="N",
                        help="the machines' ANSI code page (default 1252: Windows-1252)")


def _follow_links_outside(parser):
    parser.add_argument("--follow-links-outside", action="store_true",
                        help="pack what links below PACKAGE_DIR lead to outside it (refused unless given); the "
                             "summary lists each")


def make_parser(prog, check):
    parser = _parser(prog, MAKE_HELP)
    _code_page(parser)
    parser.add_argument("--exclude", action="append", default=[], metavar="PATTERN",
                        help="leave out what this gitignore-style pattern matches (repeatable)")
    parser.add_argument("--strict", action="store_true", help="every warning is a refusal")
    identity.add_options(parser)
    parser.add_argument("--date", metavar="DATE",
                        help="no file's date in the cabinet later than this (ISO 8601, UTC unless it says otherwise); "
                             "default SOURCE_DATE_EPOCH when set, else the files' own dates")
    _follow_links_outside(parser)
    if not check:
        parser.add_argument("--sign", metavar="FILE.pfx", help="the PKCS#12 certificate and key to sign NAME.exe with")
        parser.add_argument("--password-file", metavar="FILE",
                            help="its password, from a file (empty for a certificate without one); else from the "
                                 "environment variable SIGN_PASSWORD, not empty (never from the command line, where "
                                 "others can read it)")
        parser.add_argument("--timestamp", metavar="URL", help="an RFC 3161 time-stamp server; none unless given")
        parser.add_argument("--force", action="store_true", help="replace a signed NAME.exe with an unsigned one")
        parser.add_argument("--single-file", action="store_true",
                            help="write NAME.exe only, carrying the cabinet after its last section, bound and signed "
                                 "with it; no NAME.cab, and an earlier one in OUT_DIR is removed")
    parser.add_argument("package_dir", metavar="PACKAGE_DIR")
    if not check:
        parser.add_argument("out_dir", metavar="OUT_DIR")
    parser.add_argument("name", metavar="NAME", nargs="?", default="Setup")
    parser.set_defaults(check=check, out_dir=None, sign=None, password_file=None, timestamp=None, force=False,
                        single_file=False,
                        launcher=native.launcher())
    return parser


def verify_parser(prog):
    parser = _parser(prog, VERIFY_HELP)
    _code_page(parser)
    parser.add_argument("--ca", metavar="FILE.pem", help="the certificate the signature must lead to")
    parser.add_argument("--strict", action="store_true", help="every warning is a problem")
    parser.add_argument("--list", action="store_true",
                        help="list every file of the cabinet with its size and SHA-256")
    parser.add_argument("out_dir", metavar="OUT_DIR")
    parser.add_argument("name", metavar="NAME", nargs="?", default="Setup")
    return parser


def preview_parser(prog):
    parser = _parser(prog, PREVIEW_HELP, PREVIEW_EXIT_CODES_HELP)
    parser.add_argument("--x86", action="store_true", help="32-bit Windows (the x86 build); default 64-bit")
    parser.add_argument("--interactive", action="store_true",
                        help="a person at the console, who could press ENTER; default a deployment tool's SYSTEM run "
                             "in session 0")
    parser.add_argument("--temp", metavar="DIR", help="the launcher's TEMP; default C:\\Windows\\Temp")
    parser.add_argument("--launcher", metavar="PATH", help="the launcher's path on Windows; default C:\\pkg\\Setup.exe")
    _code_page(parser)
    identity.add_options(parser)
    parser.add_argument("--exclude", action="append", default=[], metavar="PATTERN",
                        help="as make: leave out what this gitignore-style pattern matches (a folder only)")
    _follow_links_outside(parser)
    parser.add_argument("package", metavar="PACKAGE")
    parser.add_argument("options", metavar="OPTIONS", nargs=argparse.REMAINDER, help="the launcher's command line")
    return parser


COMMANDS = {
    "make": (lambda prog: make_parser(prog, False), make.make),
    "check": (lambda prog: make_parser(prog, True), make.make),
    "verify": (verify_parser, verify.verify),
    "preview": (preview_parser, preview.preview),
}


def make_package_command(arguments):
    """scripts/make-package's command line: make, or check and verify named by an option."""
    for option, command in (("--check", "check"), ("--verify", "verify")):
        if option in arguments:
            return command, [argument for argument in arguments if argument != option]
    return "make", arguments


def main(arguments, program="package-tool"):
    try:
        if arguments[:1] == ["--version"]:
            print(f"{program} {native.facts()['version']}")
            return READY
        if arguments[:1] == ["make-package"]:
            program = "make-package"
            command, arguments = make_package_command(arguments[1:])
        elif arguments[:1] == ["preview"]:
            program, command, arguments = "preview", "preview", arguments[1:]
        elif arguments and arguments[0] in COMMANDS:
            command, arguments = arguments[0], arguments[1:]
        elif arguments[:1] in (["-h"], ["--help"]):
            print((sys.modules[__package__].__doc__ or "").strip())
            return READY
        else:
            raise Usage(f"usage: {program} {{{'|'.join(COMMANDS)}}} ...")
        if any(a in ("--password", "--pass") for a in arguments):
            raise Usage("a password is never taken on the command line: use --password-file or SIGN_PASSWORD")
        build_parser, run = COMMANDS[command]
        if program in ("make-package", "preview"):
            prog = f"scripts/{program}" + (f" --{command}" if program == "make-package" and command != "make" else "")
        else:
            prog = f"{program} {command}"
        options = build_parser(prog).parse_args(arguments)
        return run(options, Report(program))
    except SystemExit as ended:  # --help
        return ended.code or READY
    except Failure as failure:
        print("\n".join(f"{program}: {shown(line)}" if i == 0 else shown(line)
                        for i, line in enumerate(str(failure).split("\n"))), file=sys.stderr)
        return EXIT_CODES[type(failure)]
    except KeyboardInterrupt:
        print(f"\n{program}: interrupted: nothing was written, and OUT_DIR is as it was", file=sys.stderr)
        return INTERRUPTED
    except BrokenPipeError:
        # Nothing more can reach the reader that went away; Python's own flush at exit must not try.
        os.dup2(os.open(os.devnull, os.O_WRONLY), sys.stdout.fileno())
        print(f"{program}: its output was closed before the end (as by | head): the run stopped there",
              file=sys.stderr)
        return OUTPUT_CLOSED
    except Exception as error:  # noqa: BLE001  (a fault of the tool: one line, and exit 3)
        print(f"{program}: the tool failed: {type(error).__name__}: {error}", file=sys.stderr)
        return EXIT_CODES[ToolFailed]
