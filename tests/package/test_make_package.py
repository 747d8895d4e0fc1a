#!/usr/bin/env python3
"""scripts/make-package on real folders: the cabinets it writes, read back with gcab, and what it
refuses. No Windows needed; the launcher is a stand-in file unless LAUNCHER_EXE names one. Run
by pytest, as CTest runs each class (package.Names):

    /usr/bin/python3 -m pytest tests/package/test_make_package.py::Names
"""

import contextlib
import hashlib
import os
import pty
import re
import shutil
import signal
import struct
import subprocess
import sys
import tempfile
import time
import unittest
from pathlib import Path

SOURCE = Path(os.environ.get("LAUNCHER_SOURCE", Path(__file__).resolve().parents[2]))
sys.path.insert(0, str(SOURCE / "scripts"))
from packagetool import pe  # noqa: E402
from packagetool.outcome import EXIT_CODES, INTERRUPTED, Refused, ToolFailed, Usage  # noqa: E402

MAKE_PACKAGE = SOURCE / "scripts" / "make-package"
I386, AMD64 = 0x14C, 0x8664


def cabinet_entries(cabinet):
    """(name bytes, attributes, (DOS date, DOS time)) of every file in a cabinet, from its CFFILE records."""
    data = Path(cabinet).read_bytes()
    (files_at,) = struct.unpack_from("<I", data, 16)
    (count,) = struct.unpack_from("<H", data, 28)
    entries, at = [], files_at
    for _ in range(count):
        date, time_of_day, attributes = struct.unpack_from("<HHH", data, at + 10)
        end = data.index(b"\0", at + 16)
        entries.append((data[at + 16:end], attributes, (date, time_of_day)))
        at = end + 1
    return entries


def extracted(cabinet):
    """Every file in a cabinet, extracted by gcab itself: relative path bytes with "/" -> bytes."""
    with tempfile.TemporaryDirectory() as scratch:
        subprocess.run(["gcab", "-x", "-C", scratch, str(cabinet)], check=True, stdout=subprocess.DEVNULL)
        root = os.fsencode(scratch)
        files = {}
        for directory, _, names in os.walk(root):
            for name in names:
                with open(os.path.join(directory, name), "rb") as file:
                    files[os.path.relpath(os.path.join(directory, name), root)] = file.read()
        return files


def stand_in_program(machine=I386, tail=b""):
    """The smallest Windows program for that machine that carries an empty binding region as the
    launcher does: a PE32 image whose one section holds the resource tree RT_RCDATA /
    "PACKAGE_BINDING" / 0x409; tail follows it."""
    name = "PACKAGE_BINDING".encode("utf-16-le")
    region = b"PACKAGE BINDING " + bytes(4 + 32 + 8)
    # The resource section: three directory levels, the type's name, the data entry, the data.
    tree = bytearray()
    tree += struct.pack("<IIHHHH", 0, 0, 0, 0, 0, 1) + struct.pack("<II", 10, 0x80000000 | 24)      # types
    tree += struct.pack("<IIHHHH", 0, 0, 0, 0, 1, 0) + struct.pack("<II", 0x80000000 | 72, 0x80000000 | 48)  # names
    tree += struct.pack("<IIHHHH", 0, 0, 0, 0, 0, 1) + struct.pack("<II", 0x409, 104)               # languages
    tree += struct.pack("<H", len(name) // 2) + name                                                  # at 72
    tree += bytes(104 - len(tree))
    tree += struct.pack("<IIII", 0x1000 + 120, len(region), 0, 0) + region                            # at 104
    raw = bytes(tree) + bytes(-len(tree) % 512)
    optional = struct.pack("<HBBIIIIIIIIIHHHHHHIIIIHHIIIIII", 0x10B, 0, 0, 0, 0, 0, 0, 0, 0, 0x400000, 0x1000,
                           0x200, 4, 0, 0, 0, 4, 0, 0, 0x2000, 0x200, 0, 3, 0, 0, 0, 0, 0, 0, 16)
    directories = bytearray(16 * 8)
    struct.pack_into("<II", directories, 2 * 8, 0x1000, len(tree))
    section = struct.pack("<8sIIIIIIHHI", b".rsrc", len(tree), 0x1000, len(raw), 0x200, 0, 0, 0, 0, 0x40000040)
    header = b"PE\0\0" + struct.pack("<HHIIIHH", machine, 1, 0, 0, 0, len(optional) + len(directories), 0x102)
    image = bytearray(0x200)
    image[:2] = b"MZ"
    struct.pack_into("<I", image, 0x3C, 0x40)
    body = header + optional + bytes(directories) + section
    image[0x40:0x40 + len(body)] = body
    return bytes(image) + raw + tail


REQUIRED = {"install/component.isf": b"[Install]\r\nPort=CmdLine\r\n",
            "install/x86/InstallGui.exe": stand_in_program(I386, b"x86 build"),
            "install/x64/InstallGui.exe": stand_in_program(AMD64, b"x64 build")}


class PackageTest(unittest.TestCase):
    def setUp(self):
        self.root = Path(tempfile.mkdtemp(prefix="make-package-test-"))
        self.package = self.root / "package"
        self.out = self.root / "out"
        self.launcher = self.root / "Setup.exe"
        self.launcher.write_bytes(stand_in_program())
        self.write(REQUIRED)

    def tearDown(self):
        shutil.rmtree(self.root)

    def write(self, files, folder=None):
        for relative, data in files.items():
            path = (folder or self.package) / relative
            path.parent.mkdir(parents=True, exist_ok=True)
            path.write_bytes(data)

    def make(self, *arguments, expect=0):
        environment = dict(os.environ, LAUNCHER_EXE=str(self.launcher))
        environment.pop("SIGN_PASSWORD", None)
        completed = subprocess.run([str(MAKE_PACKAGE)] + [str(a) for a in arguments], env=environment,
                                   stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        output, errors = completed.stdout.decode(), completed.stderr.decode()
        self.assertEqual(completed.returncode, expect, f"stdout:\n{output}\nstderr:\n{errors}")
        return output, errors

    def expect_refused(self, *arguments, says, out=None):
        output, errors = self.make(*arguments, expect=1)
        self.assertIn(says, errors)
        self.assertFalse((out or self.out).exists(), "nothing written, not even OUT_DIR")
        return errors

    def gcab_that(self, when_packing):
        """An environment whose gcab runs the shell text when_packing in its staging folder before it packs."""
        fake = self.root / "bin"
        fake.mkdir(exist_ok=True)
        (fake / "gcab").write_text(f'#!/bin/sh\nif [ "$1" = -c ]; then {when_packing}; fi\n'
                                   f'exec {shutil.which("gcab")} "$@"\n')
        (fake / "gcab").chmod(0o755)
        return dict(os.environ, LAUNCHER_EXE=str(self.launcher), PATH=f"{fake}:{os.environ['PATH']}")

    def held_gcab(self):
        """An environment whose gcab says it started packing (the file gcab-started) and packs only
        once the file gcab-release exists: packing lasts as long as a test needs, on any machine."""
        return self.gcab_that(f"touch {self.root}/gcab-started; "
                              f"while [ ! -e {self.root}/gcab-release ]; do sleep 0.05; done")

    def snapshot(self, folder):
        return {str(p.relative_to(folder)): p.read_bytes() for p in folder.rglob("*") if p.is_file()}

    def folder_files(self):
        return {str(p.relative_to(self.package)).encode("cp1252"): p.read_bytes()
                for p in self.package.rglob("*") if p.is_file()}


class CompleteCabinets(PackageTest):
    def test_thousands_of_long_names_all_in_the_cabinet_and_verify_stable(self):
        # About 600 KB of names: the old file list through xargs overwrote the cabinet past 128 KB.
        for i in range(3200):
            folder = f"install/drivers/Printer family {i % 40:02d} with a long folder name (x64, 'signed')"
            name = f"component {i:05d} of the driver; a long & descriptive name with $HOME, `ticks` and %PATH%.dat"
            self.write({f"{folder}/{name}": os.urandom(64) + bytes(i % 300)})
        self.write({"-v": b"a name gcab could take for an option", "Café Menü.txt": b"cp1252 letters"})
        output, _ = self.make(self.package, self.out)
        self.assertIn("Packing 3205 files into Setup.cab...", output)
        self.assertIn("Package ready: ", output)
        self.assertEqual(extracted(self.out / "Setup.cab"), self.folder_files())

        # The answer of --verify is the same on every run: the old grep -q under pipefail
        # reported present files as missing in about half of them.
        answers = {self.make("--verify", self.out, expect=1) for _ in range(5)}
        self.assertEqual(len(answers), 1, answers)
        output, _ = answers.pop()
        self.assertIn("Setup.exe: not signed\n", output)
        for required in REQUIRED:
            self.assertIn(f"Setup.cab: holds {required}\n", output)
        self.assertIn("Setup.cab: extracts whole (3205 files)\n", output)

    def test_links_inside_are_followed_and_outside_refused_unless_asked(self):
        builds = self.root / "builds"
        elsewhere = stand_in_program(AMD64, b"the x64 build from elsewhere")
        self.write({"x64/InstallGui.exe": elsewhere, "docs/readme.txt": b"docs"}, builds)
        (self.package / "install/x64/InstallGui.exe").unlink()
        (self.package / "install/x64/InstallGui.exe").symlink_to(builds / "x64/InstallGui.exe")
        (self.package / "install/docs").symlink_to(builds / "docs", target_is_directory=True)
        (self.package / "install/shadow").symlink_to("/etc/shadow")
        (self.package / "install/same.isf").symlink_to("component.isf")  # inside: packed as today
        errors = self.expect_refused(self.package, self.out, says="3 problem(s)")
        for link, target in [("install/x64/InstallGui.exe", builds / "x64/InstallGui.exe"),
                             ("install/docs", builds / "docs"), ("install/shadow", "/etc/shadow")]:
            self.assertIn(f"refused {link}: this link leads outside PACKAGE_DIR, to {target}: ", errors)
        (self.package / "install/shadow").unlink()
        output, _ = self.make("--follow-links-outside", self.package, self.out)
        self.assertIn(f"following the link install/docs to {builds / 'docs'}, outside PACKAGE_DIR", output)
        self.assertIn("following the link install/same.isf to ", output)
        files = extracted(self.out / "Setup.cab")
        self.assertEqual(files[b"install/x64/InstallGui.exe"], elsewhere)
        self.assertEqual(files[b"install/docs/readme.txt"], b"docs")
        self.assertEqual(files[b"install/same.isf"], REQUIRED["install/component.isf"])
        # Retargeted outside once checked, while gcab packs: the cabinet holds what the check saw.
        subprocess.run([str(MAKE_PACKAGE), "--follow-links-outside", str(self.package), str(self.root / "swapped")],
                       env=self.gcab_that(f"ln -sfn /etc/passwd {self.package}/install/same.isf"), check=True,
                       stdout=subprocess.DEVNULL)
        self.assertEqual(extracted(self.root / "swapped/Setup.cab")[b"install/same.isf"],
                         REQUIRED["install/component.isf"])

    def test_links_that_lead_nowhere_or_around_are_refused(self):
        (self.package / "install/broken.dll").symlink_to(self.root / "missing.dll")
        self.expect_refused(self.package, self.out, says="refused install/broken.dll: this link leads nowhere")
        (self.package / "install/broken.dll").unlink()
        self.make(self.package, self.root / "earlier")  # beside the package: never walked
        for target in ("..", self.root):
            (self.package / "install/loop").unlink(missing_ok=True)
            (self.package / "install/loop").symlink_to(target, target_is_directory=True)
            errors = self.expect_refused("--follow-links-outside", self.package, self.out,
                                         says="refused install/loop: this link leads to")
            self.assertIn("make-package: 1 problem(s)", errors, "refused at the link, nothing behind it walked")

    def test_out_dir_inside_the_package_is_left_out(self):
        out = self.package / "out"
        self.make(self.package, out)
        output, _ = self.make(self.package, out)
        self.assertIn("OUT_DIR lies inside PACKAGE_DIR: it is left out of the cabinet (3 files there now)", output)
        self.assertEqual(sorted(extracted(out / "Setup.cab")), sorted(name.encode() for name in REQUIRED))
        self.expect_refused(self.package, self.package, says="OUT_DIR is PACKAGE_DIR itself")

    def test_name_with_exe_and_other_launchers_files_in_out_dir(self):
        self.out.mkdir()
        (self.out / "InstallFiles.cab").write_bytes(b"an older package")
        (self.out / "branch.CAB").write_bytes(b"an older package in other letters")
        output, errors = self.make(self.package, self.out, "Branch.EXE")
        self.assertIn("NAME 'Branch.EXE' taken as 'Branch'", errors)
        self.assertIn("OUT_DIR holds InstallFiles.cab, which the launcher expands whenever Branch.cab", errors)
        self.assertIn("OUT_DIR holds branch.CAB beside the new Branch.cab", errors)
        self.assertEqual(sorted(p.name for p in self.out.iterdir()),
                         ["Branch.cab", "Branch.exe", "Branch.sha256", "InstallFiles.cab", "branch.CAB"])
        _, errors = self.make(self.package, self.out, "InstallFiles")
        self.assertNotIn("InstallFiles.cab,", errors, "a package's own cabinet is no other file")

    def test_a_cabinet_that_does_not_match_is_never_written(self):
        # A gcab that loses a file, or packs other bytes, on the way: the check against the folder
        # must catch it. (It runs in make-package's scratch tree of links, never in the folder.)
        x86 = "install/x86/InstallGui.exe"
        for change, says in [(f"rm {x86}", f"the cabinet lacks 1 file(s): {x86}"),
                             (f"rm {x86}; echo other > {x86}", f"the cabinet holds other bytes than the folder for 1 "
                                                               f"file(s): {x86}")]:
            environment = self.gcab_that(change)
            completed = subprocess.run([str(MAKE_PACKAGE), str(self.package), str(self.out)], env=environment,
                                       stdout=subprocess.PIPE, stderr=subprocess.PIPE)
            self.assertEqual(completed.returncode, 3, completed.stderr.decode())
            self.assertIn(says, completed.stderr.decode())
            self.assertNotIn("Package ready", completed.stdout.decode())
            self.assertFalse(self.out.exists())
            self.assertEqual(self.folder_files()[b"install/x86/InstallGui.exe"], REQUIRED["install/x86/InstallGui.exe"])


class Names(PackageTest):
    def test_a_name_outside_the_ansi_code_page_is_refused(self):
        for name, hint in [("Принтер", "--code-page: 1251 for Cyrillic."),
                           ("プリンタ", "--code-page: 932 for Japanese."), ("Εκτυπωτής", "--code-page: 1253 for Greek.")]:
            self.assertIn(hint, self.expect_refused(self.package, self.out, name, says=f"NAME '{name}' cannot be used"))
        self.make("--code-page", "1251", self.package, self.out, "Принтер")
        self.assertTrue((self.out / "Принтер.cab").exists())
        # Windows' UTF-8 setting spells every name.
        self.write({"install/プリンタ ✓.txt": b"utf-8"})
        self.make("--code-page", "65001", self.package, self.out, "プリンタ")
        self.assertIn("install\\プリンタ ✓.txt".encode(), [entry[0] for entry in cabinet_entries(self.out / "プリンタ.cab")])
        other = self.root / "other"
        self.expect_refused("--code-page", "437", self.package, other, says="no ANSI code page", out=other)

    def test_file_names_are_stored_in_the_code_page(self):
        self.write({"install/Büro – Übersicht.txt": b"cp1252"})
        self.make(self.package, self.out)
        names = {name: attributes for name, attributes, _ in cabinet_entries(self.out / "Setup.cab")}
        self.assertIn("install\\Büro – Übersicht.txt".encode("cp1252"), names)
        self.assertFalse(any(attributes & 0x80 for attributes in names.values()), "no name marked as UTF-8")

    def test_names_windows_cannot_hold_are_refused_by_name(self):
        for name, says in [("install/readme ✓.txt", "cannot be written in the ANSI code page 1252"),
                           ("install/a:b.txt", "Windows file names cannot hold ':'"),
                           ("install/back\\slash.txt", "Windows file names cannot hold '\\\\'"),
                           ("install/con.txt", "Windows keeps this name for a device"),
                           ("install/trailing. ", "Windows drops a dot or blank"),
                           ("install/" + "x" * 250, "a cabinet holds names of at most 255")]:
            self.write({name: b"x"})
            errors = self.expect_refused(self.package, self.out, says=f"refused {name}: ")
            self.assertIn(says, errors)
            (self.package / name).unlink()

    def test_letter_case_of_the_required_files(self):
        shutil.rmtree(self.package / "install")
        self.write({"Install/Component.ISF": b"[Install]\r\n", "INSTALL/X86/installgui.exe": stand_in_program(I386),
                    "install/x64/INSTALLGUI.EXE": stand_in_program(AMD64)})
        self.make(self.package, self.out)
        output, _ = self.make("--verify", self.out, expect=1)
        self.assertIn("Setup.cab: holds install/x86/InstallGui.exe (as INSTALL/X86/installgui.exe)\n", output)
        self.assertIn("Setup.cab: holds install/component.isf (as Install/Component.ISF)\n", output)

    def test_files_that_windows_takes_for_one_are_refused(self):
        self.write({"install/Readme.txt": b"one", "install/README.TXT": b"two"})
        self.expect_refused(self.package, self.out, says="Windows sees the same file as")

    def test_a_missing_build_is_named(self):
        (self.package / "install/x64/InstallGui.exe").unlink()
        self.expect_refused(self.package, self.out,
                            says="the package folder has no install/x64/InstallGui.exe: put it there")


class Settings(PackageTest):
    def test_files_the_launcher_cannot_read_as_bytes_are_refused(self):
        text = "[Install]\r\nPort=CmdLine\r\n"
        for data, says in [(b"\xff\xfe" + text.encode("utf-16-le"), "UTF-16 little-endian text"),
                           (text.encode("utf-16-le"), "without a byte-order mark"),
                           (b"\xef\xbb\xbf" + text.encode(), "UTF-8 byte-order mark")]:
            self.write({"install/component.isf": data})
            self.expect_refused(self.package, self.out, says="refused install/component.isf: it ")
            self.expect_refused(self.package, self.out, says=says)

    def test_near_misses_are_warned_with_line_numbers_and_the_package_made(self):
        self.write({"install/component.isf": b"[Install]\r\nPort=CmdLine \r\nMaxPorts=4\r\n\tDisplayUI=1\r\n"
                                             b"[ports]\r\n"})
        output, errors = self.make(self.package, self.out)
        self.assertIn('line 3: "MaxPorts=4" holds "Ports=" only at the end of a longer key', errors)
        self.assertIn('warning: install/component.isf: line 2: "Port=CmdLine " is not the line "Port=CmdLine"', errors)
        self.assertIn('line 4: "<09>DisplayUI=1" is not the line "DisplayUI=1"', errors)
        self.assertIn('line 5: "[ports]" is not the line "[Ports]" (another letter case)', errors)
        self.assertIn("port: as the settings file sets it", output)
        self.assertIn("installer: the settings run", output)
        self.assertIn("Package ready", output)

    def test_what_the_package_will_do(self):
        self.write({"install/component.isf": b"[Install]\nDisplayUI=1\nPort=CmdLine\nLicense=1\n"})
        output, _ = self.make("--check", self.package)
        self.assertIn('port: from the command line ("Port=CmdLine", line 3): every run needs /port: and /address:',
                      output)
        self.assertIn('installer: the standalone run ("License=1", line 4)', output)
        self.assertIn("Nothing refused: the package can be made from", output)
        self.assertFalse(self.out.exists())


def binding_of(launcher, cabinet):
    bound = pe.read_binding(launcher)
    return "not bound" if bound is None else "bound to this cabinet" if bound == pe.sha256_of(cabinet) else "another"


class Binding(PackageTest):
    def test_the_launcher_is_bound_to_the_cabinet_made_with_it(self):
        self.assertEqual(binding_of(self.launcher, self.launcher), "not bound")
        output, _ = self.make(self.package, self.out)
        self.assertIn("Binding Setup.exe to Setup.cab...", output)
        self.assertEqual(binding_of(self.out / "Setup.exe", self.out / "Setup.cab"), "bound to this cabinet")
        self.assertEqual(binding_of(self.launcher, self.out / "Setup.cab"), "not bound", "the build is left as it was")
        output, _ = self.make("--verify", self.out, expect=1)  # unsigned
        self.assertIn("Setup.exe: bound to this cabinet\n", output)

        # Another package's cabinet beside it: --verify says the launcher would refuse it.
        other = self.root / "other"
        self.write({"install/extra.txt": b"another package"})
        self.make(self.package, other)
        shutil.copy(other / "Setup.cab", self.out / "Setup.cab")
        output, _ = self.make("--verify", self.out, expect=1)
        self.assertIn("Setup.exe: bound to another cabinet: it refuses Setup.cab\n", output)

    def test_a_single_file_carries_its_cabinet_and_is_an_earlier_package_after(self):
        self.make(self.package, self.package / "one")
        output, _ = self.make("--single-file", self.package, self.package / "one")
        self.assertIn("Package ready: ", output)
        self.assertIn("removed the earlier Setup.cab from OUT_DIR", output)
        self.assertEqual(sorted(p.name for p in (self.package / "one").iterdir()), ["Setup.exe", "Setup.sha256"])
        output, _ = self.make("--verify", self.package / "one", expect=1)  # unsigned
        self.assertIn("Setup.exe: carries its cabinet (", output)
        self.assertIn("Setup.exe's cabinet: extracts whole (3 files)", output)
        shutil.move(self.package / "one", self.package / "old")
        output, _ = self.make("--check", self.package)
        self.assertIn("left out an earlier package: old/Setup.exe and Setup.sha256\n", output)

    def test_a_launcher_without_a_binding_region_is_refused(self):
        self.launcher.write_bytes(b"MZ not a launcher of this kind")
        _, errors = self.make(self.package, self.out, expect=3)
        self.assertIn("could not bind", errors)
        self.assertFalse(self.out.exists(), "nothing written, not even OUT_DIR")


class FieldChecks(PackageTest):
    def test_builds_that_are_no_program_of_their_machine_are_refused(self):
        for folder, data, says in [("x64", b"x\n", "install/x64/InstallGui.exe: it is no Windows program: put the x64"),
                                   ("x86", stand_in_program(AMD64), "it is a Windows program for AMD64 (the x64 "
                                                                    "build?), and install/x86 must hold the i386")]:
            self.write({f"install/{folder}/InstallGui.exe": data})
            self.expect_refused(self.package, self.out, says=says)
            self.write(REQUIRED)
        # 64-bit Windows runs the 32-bit build, which vendors ship for both folders.
        self.write({"install/x64/InstallGui.exe": stand_in_program(I386)})
        _, errors = self.make(self.package, self.out)
        self.assertIn("warning: install/x64/InstallGui.exe: it is a Windows program for i386, the 32-bit build: 64-bit "
                      "Windows runs it", errors)
        self.expect_refused("--strict", self.package, self.root / "strict", says="--strict: 1 warning(s)",
                            out=self.root / "strict")
        self.assertIn("Setup.cab: install/x64/InstallGui.exe: it is a Windows program for i386",
                      self.make("--verify", self.out, expect=1)[1])

    def test_utf8_settings_unreadable_files_and_strict(self):
        self.write({"install/component.isf": "[Install]\r\nModel=Série\r\n".encode()})
        _, errors = self.make("--check", self.package)
        self.assertIn('install/component.isf is UTF-8 without a byte-order mark, and the installer reads it in the '
                      'ANSI code page 1252: line 2: "Model=Série" reaches it as "Model=SÃ©rie"', errors)
        self.expect_refused("--strict", self.package, self.out, says="--strict: 1 warning(s) above count as refusals")
        # Root reads any file whatever its mode: the memory of a process, read from its start, fails as a
        # damaged disk would.
        (self.package / "install/locked.dat").symlink_to("/proc/self/mem")
        errors = self.expect_refused("--check", "--follow-links-outside", self.package,
                                     says="refused install/locked.dat: the file cannot be read")
        self.assertNotIn("Nothing refused", errors)

    def test_earlier_packages_and_excludes_are_left_out_and_listed(self):
        self.make(self.package, self.package / "out")
        self.write({".git/HEAD": b"ref", "install/.git/config": b"x", "install/Thumbs.db": b"x", "desktop.ini": b"x",
                    "install/notes.txt~": b"x", "build.log": b"x", "install/.DS_Store": b"x",
                    "__MACOSX/install/a": b"x", "install/._InstallGui.exe": b"x"})
        output, _ = self.make("--exclude", "*.log", self.package, self.package / "out2")
        for line in ["left out an earlier package: out/Setup.exe and Setup.cab",
                     'left out .git/ (1 file): excluded by ".git/"',
                     'left out install/Thumbs.db (1 file): excluded by "Thumbs.db"', 'excluded by "*~"',
                     'left out build.log (1 file): excluded by "*.log"', 'install/.git/ (1 file)',
                     'desktop.ini (1 file)', 'install/.DS_Store (1 file)', '__MACOSX/ (1 file)',
                     'install/._InstallGui.exe (1 file)']:
            self.assertIn(line, output)
        self.assertEqual(sorted(extracted(self.package / "out2" / "Setup.cab")), sorted(n.encode() for n in REQUIRED))

    def test_paths_that_do_not_fit_below_temp(self):
        # 235 and 226 characters below the package, 269 and 260 once expanded in
        # C:\\Windows\\Temp\\TempExpandedFiles\\; 225 would fit there.
        long, limit = "install/" + "d" * 100 + "/" + "f" * 126, "install/" + "d" * 100 + "/" + "f" * 117
        self.write({long: b"x", limit: b"x"})
        errors = self.expect_refused(self.package, self.out, says=f"refused {long}: expanded in C:\\Windows\\Temp, "
                                     "where deployment tools run the launcher, its path would be 269 characters long, "
                                     "past Windows' limit of 259")
        self.assertIn(f"refused {limit}: expanded in C:\\Windows\\Temp, where deployment tools run the launcher, its "
                      "path would be 260 characters long", errors)
        # The same package in a cabinet made by hand, found as the launcher finds it.
        self.out.mkdir()
        shutil.copy(self.launcher, self.out / "Setup.exe")
        subprocess.run(["gcab", "-c", str(self.out / "InstallFiles.cab"), "install"], cwd=self.package, check=True)
        output, _ = self.make("--verify", self.out, expect=1)
        self.assertIn("Setup.exe expands InstallFiles.cab: there is no Setup.cab beside it\n", output)
        self.assertIn(f"InstallFiles.cab: {long.replace('/', chr(92))}: expanded in C:\\Windows\\Temp, ", output)
        self.assertIn("would be 269 characters long", output)
        # 225 characters fit below SYSTEM's temp, and not below a person's with a name of 20 letters.
        (self.package / long).unlink()
        (self.package / limit).rename(self.package / limit[:-1])
        _, errors = self.make("--check", self.package)
        self.assertIn("warning: 1 file(s) would pass Windows' limit of 259 characters once expanded in a person's "
                      "temp such as C:\\Users\\ and a 20-letter name and \\AppData\\Local\\Temp", errors)
        self.assertIn("(292 characters there)", errors)
        self.expect_refused("--strict", "--check", self.package, says="--strict: 1 warning(s)", out=self.root / "none")

    def test_a_cabinet_past_2_gb_is_refused_before_packing(self):
        with open(self.package / "install/data.bin", "wb") as data:
            data.truncate(2 ** 31)  # sparse: nothing is written to disk
        output, errors = self.make(self.package, self.out, expect=1)
        self.assertIn("the cabinet could pass 2 GB (2,147,483,647 bytes)", errors)
        self.assertNotIn("Packing", output)

    def test_a_signed_launcher_is_not_replaced_by_an_unsigned_one_and_name_extensions(self):
        self.out.mkdir()
        (self.out / "setup.exe").write_bytes(signed_program(self.root))
        before = self.snapshot(self.out)
        _, errors = self.make(self.package, self.out, "setup.CAB", expect=1)
        self.assertIn("NAME 'setup.CAB' taken as 'setup'", errors)
        self.assertIn("setup.exe is signed, and this package would replace it with an unsigned launcher", errors)
        self.assertEqual(self.snapshot(self.out), before)
        self.make("--force", self.package, self.out, "setup.CAB")
        self.assertEqual(sorted(p.name for p in self.out.iterdir()), ["setup.cab", "setup.exe", "setup.sha256"])
        self.make(self.package, self.out, "v1.2")
        self.assertTrue((self.out / "v1.2.exe").exists())

    def test_ctrl_c_leaves_out_dir_as_it_was(self):
        self.out.mkdir()
        (self.out / "Setup.exe").write_bytes(b"the earlier package")
        before = self.snapshot(self.out)
        tool = subprocess.Popen([str(MAKE_PACKAGE), str(self.package), str(self.out)], stdout=subprocess.PIPE,
                                stderr=subprocess.PIPE, env=self.held_gcab())
        while not (self.root / "gcab-started").exists():  # Ctrl-C while gcab packs
            time.sleep(0.05)
        tool.send_signal(signal.SIGINT)
        errors = tool.communicate()[1].decode()
        self.assertEqual(tool.returncode, INTERRUPTED)
        self.assertEqual(errors.strip().splitlines(), ["make-package: interrupted: nothing was written, and OUT_DIR is "
                                                       "as it was"])
        self.assertEqual(self.snapshot(self.out), before, "no staging left, the earlier package untouched")

    def test_progress_on_a_terminal_only(self):
        self.write({"install/data.bin": os.urandom(1 << 20)})
        # gcab packs once the progress line is seen, so packing takes the second it needs to show.
        controller, terminal = pty.openpty()
        tool = subprocess.Popen([str(MAKE_PACKAGE), str(self.package), str(self.out)], stdout=terminal,
                                env=self.held_gcab())
        os.close(terminal)
        shown = b""
        with contextlib.suppress(OSError):  # EIO once everything written is read
            while chunk := os.read(controller, 1 << 16):
                shown += chunk
                if b"packed:" in shown:
                    (self.root / "gcab-release").touch()
        self.assertEqual(tool.wait(), 0)
        self.assertRegex(shown, rb"\r  packed: \d of 4 files, [\d.]+ of [\d.]+ MB")
        output, _ = self.make(self.package, self.root / "again")
        self.assertNotIn("\r", output)


class Preview(PackageTest):
    def preview(self, *arguments, expect):
        completed = subprocess.run([str(SOURCE / "scripts" / "preview"), *map(str, arguments)], stdout=subprocess.PIPE,
                                   stderr=subprocess.PIPE)
        self.assertEqual(completed.returncode, expect, completed.stderr.decode())
        return completed.stdout.decode(), completed.stderr.decode()

    def test_make_checks_first_then_the_run_and_its_exit_code(self):
        self.write({"install/x86/" + "l" * 200: b"x"})
        output, errors = self.preview(self.package, "/port:IP_1", "/address:1.2.3.4", expect=0)
        self.assertIn("Exit code: 0\n", output)
        self.assertIn("warning: 1 file(s) would pass Windows' limit of 259 characters", errors)
        # A person's elevated run has a longer temp, where the launcher refuses before it expands.
        temp = "C:\\Users\\" + "u" * 20 + "\\AppData\\Local\\Temp"
        output, _ = self.preview("--temp", temp, self.package, "/port:IP_1", "/address:1.2.3.4", expect=10)
        self.assertIn(f"Unable to expand the package: {temp}\\TempExpandedFiles\\install\\x86\\{'l' * 200} would be "
                      "279 characters long, past Windows' limit of 259.\n", output)
        # What make leaves out is not in the run either.
        self.write({"install/component.isf": b"\xff\xfe" + "[Install]\r\nPort=CmdLine\r\n".encode("utf-16-le")})
        # The road's own code, whatever /exitcodes:msi makes the run return: an exit status holds 0 to 255.
        output, errors = self.preview("--exclude", "install/x64/", self.package, "/exitcodes:msi", expect=10)
        self.assertIn("preview: refused install/component.isf: it is UTF-16 little-endian text", errors)
        self.assertIn("Unable to install: the package holds no installer for 64-bit Windows", output)
        self.assertIn("Exit code: 1633\n", output)
        self.preview("--temp", "\\\\server\\share", self.package, expect=3)
        self.preview("--bogus", self.package, expect=2)


def certificate(folder, name, extensions=(), password="secret", subject=None):
    """A throwaway self-signed certificate and key as name.pfx and name.pem."""
    pem, key = folder / f"{name}.pem", folder / f"{name}.key"
    subprocess.run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "2", "-subj",
                    subject or f"/CN={name}",
                    "-keyout", str(key), "-out", str(pem)] + [a for e in extensions for a in ("-addext", e)],
                   check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    subprocess.run(["openssl", "pkcs12", "-export", "-inkey", str(key), "-in", str(pem), "-out",
                    str(folder / f"{name}.pfx"), "-passout", f"pass:{password}"], check=True)
    return folder / f"{name}.pfx"


def signed_program(folder):
    pfx = certificate(folder, "signer")
    unsigned, signed = folder / "unsigned.exe", folder / "signed.exe"
    unsigned.write_bytes(stand_in_program())
    (folder / "password").write_text("secret")
    subprocess.run(["osslsigncode", "sign", "-pkcs12", str(pfx), "-readpass", str(folder / "password"), "-in",
                    str(unsigned), "-out", str(signed)], check=True, stdout=subprocess.DEVNULL)
    return signed.read_bytes()


class Signing(PackageTest):
    def sign(self, pfx, *more, expect, password="secret"):
        os.environ["SIGN_PASSWORD"] = password
        try:
            completed = subprocess.run([str(MAKE_PACKAGE), "--sign", str(pfx), *more, str(self.package), str(self.out)],
                                       env=dict(os.environ, LAUNCHER_EXE=str(self.launcher)), stdout=subprocess.PIPE,
                                       stderr=subprocess.PIPE)
        finally:
            del os.environ["SIGN_PASSWORD"]
        self.assertEqual(completed.returncode, expect, completed.stderr.decode())
        return completed.stdout.decode(), completed.stderr.decode()

    def test_what_cannot_sign_code_is_refused_before_packing(self):
        for pfx, password, says in [
                (certificate(self.root, "server", ["extendedKeyUsage=serverAuth"]), "secret",
                 "does not allow code signing (its extended key usage: serverAuth)"),
                (certificate(self.root, "signer"), "wrong", "a wrong password, or no PKCS#12 file")]:
            output, errors = self.sign(pfx, expect=EXIT_CODES[Refused], password=password)
            self.assertIn(says, errors)
            self.assertNotIn("Packing", output)
            self.assertFalse(self.out.exists())

    def test_signed_verified_and_the_time_stamp_server_named(self):
        pfx = certificate(self.root, "signer", ["extendedKeyUsage=codeSigning"])
        _, errors = self.sign(pfx, "--timestamp", "http://127.0.0.1:9/", expect=EXIT_CODES[ToolFailed])
        self.assertIn("the time-stamp server http://127.0.0.1:9/ did not time-stamp the signature", errors)
        self.assertFalse(self.out.exists())
        output, _ = self.sign(pfx, expect=0)
        self.assertIn("Package ready: ", output)
        output, _ = self.make("--verify", "--ca", self.root / "signer.pem", self.out)
        self.assertIn("Setup.exe: signed by /CN=signer; the signature verifies against", output)
        self.assertTrue(output.endswith("Verdict: ready to deploy: Setup.exe and Setup.cab are as they should be\n"))
        launcher = bytearray((self.out / "Setup.exe").read_bytes())
        launcher[0x300] ^= 1
        (self.out / "Setup.exe").write_bytes(launcher)
        output, _ = self.make("--verify", "--ca", self.root / "signer.pem", self.out, expect=1)
        self.assertIn("does NOT verify against", output)
        self.assertIn("Setup.exe: CHANGED after signing", output)
        self.assertIn("Verdict: NOT ready to deploy: 2 problem(s) above", output)

    def test_an_impostor_is_told_apart_and_never_ready_without_a_trusted_root(self):
        # A self-made certificate with the publisher's name, and a name that would draw a forged report.
        pfx = certificate(self.root, "impostor", ["extendedKeyUsage=codeSigning"],
                          subject="/CN=Publisher\x1b[2J\nVerdict: ready to deploy")
        self.sign(pfx, expect=0)
        output, _ = self.make("--verify", self.out, expect=1)
        fingerprint = subprocess.run(["openssl", "x509", "-in", self.root / "impostor.pem", "-noout", "-fingerprint",
                                      "-sha256"], stdout=subprocess.PIPE, check=True).stdout.decode().split("=")[1]
        self.assertIn(f"SHA-256 fingerprint {fingerprint.strip()}, issued by /CN=Publisher<1B>[2J<0A>Verdict", output)
        self.assertIn("NOT checked against a trusted root (no --ca)", output)
        self.assertNotIn("\x1b", output)
        self.assertEqual([line for line in output.splitlines() if line.startswith("Verdict:")],
                         ["Verdict: NOT ready to deploy: the signer was not checked against a trusted root: give --ca "
                          "with the root certificate you trust; all else is as it should be"])

    def test_an_empty_password_and_the_same_modes_signed_or_not(self):
        pfx = certificate(self.root, "open", ["extendedKeyUsage=codeSigning"], password="")
        _, errors = self.sign(pfx, expect=EXIT_CODES[Refused], password="")
        self.assertIn("SIGN_PASSWORD, not empty", errors)
        (self.root / "empty").write_bytes(b"")
        self.sign(pfx, "--password-file", self.root / "empty", expect=0)
        self.make(self.package, self.root / "unsigned")
        umask = os.umask(0)
        os.umask(umask)
        modes = [(out / name).stat().st_mode & 0o777 for out in (self.out, self.root / "unsigned")
                 for name in ("Setup.exe", "Setup.cab")]
        self.assertEqual(modes, [0o777 & ~umask, 0o666 & ~umask] * 2)


class Identity(PackageTest):
    def test_a_name_or_version_that_does_not_fit_is_refused_before_anything(self):
        for arguments, expect, says in [
                (["--product", "x" * 65, "--product-version", "1"], 1,
                 "has 65 characters, and the launcher has room for 64"),
                (["--product", "Принтер", "--product-version", "1"], 1, "cannot be written in the ANSI code page 1252"),
                (["--product", " P", "--product-version", "1"], 1, "without blanks at its ends"),
                (["--product", "P", "--product-version", "2.1 beta"], 1, "--product-version must be 1 to 23 ASCII"),
                (["--product", "P", "--product-version", "1" * 24], 1, "--product-version must be 1 to 23 ASCII"),
                (["--product", "P", "--product-version", "1", "--company", "\tC"], 1, "--company holds a control"),
                (["--product", "P"], 2, "--product and --product-version go together"),
                (["--company", "C"], 2, "--product and --product-version go together"),
                # Fits, but a launcher built before package names has no room for it.
                (["--code-page", "1251", "--product", "Принтер", "--product-version", "1"], 3,
                 "too small for a package name")]:
            _, errors = self.make(*arguments, self.package, self.out, expect=expect)
            self.assertIn(says, errors)
            self.assertFalse(self.out.exists(), "nothing written, not even OUT_DIR")

    def test_the_same_folder_gives_the_same_bytes_with_a_date(self):
        def fresh_copy(name):
            copy = self.root / name
            shutil.copytree(SOURCE / "sample" / "package", copy, copy_function=shutil.copy)  # the files dated now
            self.write({relative: data for relative, data in REQUIRED.items() if relative.endswith(".exe")}, copy)
            for path in copy.rglob("*") if name == "b" else ():
                os.utime(path, (0, 1800000000))  # later than the date, and than the other copy's
            return copy
        environment = dict(os.environ, SOURCE_DATE_EPOCH="1700000000")
        for name in ("a", "b"):
            self.run_tool([fresh_copy(name), self.root / f"out-{name}"], environment)
        for made in ("Setup.cab", "Setup.exe"):
            self.assertEqual((self.root / "out-a" / made).read_bytes(), (self.root / "out-b" / made).read_bytes(), made)
        # A file older than the date keeps its own, in UTC; before 1980 it is 1980's first second.
        os.utime(self.root / "b/install/component.isf", (0, 1234567890))
        os.utime(self.root / "b/install/x86/InstallGui.exe", (0, 86400))
        self.run_tool(["--date", "2023-11-14T22:13:20Z", self.root / "b", self.root / "out-c"], dict(os.environ))
        dates = {name: date for name, _, date in cabinet_entries(self.root / "out-c/Setup.cab")}
        self.assertEqual(dates, {
            b"install\\component.isf": ((29 << 9) | (2 << 5) | 13, (23 << 11) | (31 << 5) | 15),
            b"install\\x86\\InstallGui.exe": ((0 << 9) | (1 << 5) | 1, 0),
            b"install\\x64\\InstallGui.exe": ((43 << 9) | (11 << 5) | 14, (22 << 11) | (13 << 5) | 10)})

    def run_tool(self, arguments, environment):
        environment["LAUNCHER_EXE"] = str(self.launcher)
        completed = subprocess.run([str(MAKE_PACKAGE)] + [str(a) for a in arguments], env=environment,
                                   stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        self.assertEqual(completed.returncode, 0, completed.stderr.decode())

    def test_the_hashes_it_prints_writes_and_lists_match_the_files(self):
        self.write({"install/Büro.txt": b"cp1252 name", "install/data/empty.bin": b""})
        output, _ = self.make(self.package, self.out)
        listed = (self.out / "Setup.sha256").read_text()
        self.assertIn(listed, output + "\n")
        self.assertEqual(len(listed.splitlines()), 2)
        subprocess.run(["sha256sum", "--check", "--strict", "--quiet", "Setup.sha256"], cwd=self.out, check=True)
        # Several launchers may share one InstallFiles.cab: verify takes it as the launcher does.
        (self.out / "Setup.cab").rename(self.out / "InstallFiles.cab")
        output, _ = self.make("--verify", "--list", self.out, expect=1)  # unsigned
        cabinet = (self.out / "InstallFiles.cab").read_bytes()
        self.assertIn(f"InstallFiles.cab: {len(cabinet)} bytes, SHA-256 {hashlib.sha256(cabinet).hexdigest()}\n",
                      output)
        self.assertIn("Setup.exe: bound to this cabinet\n", output)
        self.assertIn('Setup.exe: names no package (made without --product): its event says "Package: none"', output)
        rows = [line.split("  ", 2) for line in output.splitlines() if re.fullmatch(r"[0-9a-f]{64}  \d+  .+", line)]
        self.assertEqual({path: (digest, int(size)) for digest, size, path in rows},
                         {str(p.relative_to(self.package)):
                          (hashlib.sha256(p.read_bytes()).hexdigest(), p.stat().st_size)
                          for p in self.package.rglob("*") if p.is_file()})


class Release(unittest.TestCase):
    def test_the_debian_package_works_without_the_checkout_and_builds_nothing(self):
        with tempfile.TemporaryDirectory(prefix="release-test-") as scratch:
            scratch = Path(scratch)
            subprocess.run([SOURCE / "scripts" / "release", "--out", scratch], check=True, stdout=subprocess.DEVNULL)
            subprocess.run(["cmake", "--build", "--preset", "windows", "--target", "sample_installer_x86",
                            "sample_installer_x64"], cwd=SOURCE, check=True, stdout=subprocess.DEVNULL)
            (deb,) = scratch.glob("printer-package-tool_*_amd64.deb")
            fields = subprocess.run(["dpkg-deb", "-f", deb, "Depends", "Version"], check=True, stdout=subprocess.PIPE)
            for needed in ("gcab", "osslsigncode", "python3-pefile", "python3-pathspec", "python3-cryptography",
                           "libssl3", "libstdc++6"):
                self.assertRegex(fields.stdout.decode(), rf"(^|[ ,]){re.escape(needed)}\b", needed)
            lintian = subprocess.run(["lintian", "--fail-on", "error", deb], stdout=subprocess.PIPE,
                                     stderr=subprocess.STDOUT)
            self.assertEqual(lintian.returncode, 0, lintian.stdout.decode())
            root, tools, work = scratch / "root", scratch / "bin", scratch / "work"
            subprocess.run(["dpkg-deb", "-x", deb, root], check=True)
            tools.mkdir()
            for tool in ("gcab", "osslsigncode"):  # no cmake, g++ or mingw
                (tools / tool).symlink_to(shutil.which(tool))
            shutil.copytree(SOURCE / "build" / "windows" / "sample-package", work / "package")
            pfx = certificate(work, "signer", ["extendedKeyUsage=codeSigning"])
            installed = sorted(root.rglob("*"))
            environment = {"PATH": f"{root}/usr/bin:{tools}", "HOME": str(work), "SIGN_PASSWORD": "secret"}

            def run(*arguments, expect=0):
                completed = subprocess.run(["printer-package-tool", *map(str, arguments)], cwd=work, env=environment,
                                           stdout=subprocess.PIPE, stderr=subprocess.PIPE)
                self.assertEqual(completed.returncode, expect, completed.stderr.decode())
                return completed.stdout.decode()
            version = fields.stdout.decode().split("Version: ")[1].strip()
            self.assertEqual(run("--version"), f"printer-package-tool {version}\n")
            run("make", "--product", "Sample Printer", "--product-version", "1.0", "--sign", pfx, "package", "out")
            self.assertIn("Verdict: ready to deploy", run("verify", "--ca", work / "signer.pem", "out"))
            self.assertIn("  Package: Sample Printer 1.0\n",
                          run("preview", "out/Setup.cab", "/port:IP_1", "/address:1.2.3.4"))
            self.assertEqual(sorted(root.rglob("*")), installed, "nothing built or written beside the installed tool")


class CommandLine(PackageTest):
    def test_help_usage_and_exit_codes(self):
        output, _ = self.make("--help")
        for code in ("0  the package is ready", "1  refused", "2  usage", "3  a tool failed", "130  interrupted"):
            self.assertIn(code, output)
        self.make("--bogus", self.package, self.out, expect=EXIT_CODES[Usage])
        self.make(self.package, expect=EXIT_CODES[Usage])
        # A missing tool, and a cabinet that cannot be read, are a tool's failure, not a refusal.
        environment = dict(os.environ, LAUNCHER_EXE=str(self.launcher), PATH="/nonexistent")
        completed = subprocess.run([str(MAKE_PACKAGE), str(self.package), str(self.out)], env=environment,
                                   stderr=subprocess.PIPE)
        self.assertEqual((completed.returncode, completed.stderr), (EXIT_CODES[ToolFailed],
                                                                    b"make-package: gcab is not installed "
                                                                    b"(apt-get install gcab)\n"))
        self.make(self.package, self.out)
        (self.out / "Setup.cab").write_bytes(b"MSCF and no more")
        output, _ = self.make("--verify", self.out, expect=1)
        self.assertIn("Setup.cab: DAMAGED", output)
        # An OUT_DIR that is a file, and an output whose reader went away: one plain line each.
        (self.root / "file").write_bytes(b"x")
        _, errors = self.make(self.package, self.root / "file", expect=1)
        self.assertEqual(errors, f"make-package: OUT_DIR '{self.root / 'file'}' is a file: name a folder (it is made "
                                 f"when missing)\n")
        reader, writer = os.pipe()
        os.close(reader)
        closed = subprocess.run([str(MAKE_PACKAGE), "--verify", str(self.out)], stdout=writer, stderr=subprocess.PIPE)
        os.close(writer)
        self.assertEqual((closed.returncode, closed.stderr),
                         (141, b"make-package: its output was closed before the end (as by | head): the run stopped "
                               b"there\n"))

    def test_every_script_answers_help_with_its_usage_and_does_nothing_else(self):
        # scripts/test would remove the build folders, scripts/bench run for a quarter of an hour:
        # run from a copy, whose project root is a scratch folder, so that a regression harms nothing.
        shutil.copytree(SOURCE / "scripts", self.root / "scripts")
        for script in ("test", "bench", "demo", "preview", "make-package", "release"):
            completed = subprocess.run([str(self.root / "scripts" / script), "--help"], stdout=subprocess.PIPE,
                                       stderr=subprocess.STDOUT)
            self.assertEqual(completed.returncode, 0, script)
            self.assertIn(b"scripts/" + script.encode(), completed.stdout, script)
