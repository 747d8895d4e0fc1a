"""scripts/mutate's command line: the usage, the list printed with --list, the work directory
and the run from start to end."""

import argparse
import shutil
import signal
import sys
import tempfile
import time
from pathlib import Path

from .mutation_list import GROUPS, ListError, anchor_problem, parse_list, select
from .runner import ROOT, Runner, RunnerFailure, seconds

LIST = ROOT / "scripts" / "mutations.txt"
# Marks a work directory as the runner's own, so that --workdir never empties a stranger's folder.
MARKER = ".mutate-workdir"

USAGE = """\
usage: scripts/mutate [--help] [--list] [--only ID|PATTERN ...] [--group portable|win32]
                      [--workdir DIR] [--keep] [--timeout SECONDS]

Plants the mutations of scripts/mutations.txt, one at a time, in a copy of the tree, and runs the
tests that should notice each. The copy holds the files `git ls-files` lists, as they are in the
working tree (uncommitted edits included), in a work directory outside the source tree; nothing
is written to the source tree or its build/.

First the baseline: the host preset is configured and built, and its unit tests must pass; when a
win32 mutation is selected, the windows and tools presets are built too, the Wine prefixes made
in the copy's build/windows/wine, and the Windows platform tests (in both prefixes) and every
end-to-end test that a selected mutation names must pass. Otherwise the runner stops, exit 1.

Then, for each mutation, its original text (which must occur exactly once in its file) is
replaced, only what it touches is built (unit_tests for the portable code; Setup and
platform_win32_tests for platform/win32.cpp), the tests run and the file is restored:
  portable  the unit tests (GoogleTest), and the host CTest tests its `tests:` names, if any
  win32     platform_win32_tests.exe under Wine in both prefixes, then the end-to-end CTest tests
            its `tests:` names
One line per mutation: its id, the status, the file and what it changes.
  KILLED      a test failed (or the time-out ended the tests: said in the line)
  SURVIVED    every test passed
  STILLBORN   the mutant did not compile; not counted
  EQUIVALENT  marked so in the list, with the reason; not run, not counted
  ERROR       the mutation could not be planted (its text has moved) or names no test; not counted
At the end, per group: killed/valid and the kill rate. Wine is stopped (wineserver -k) in every
prefix of the copy before the runner ends.

options:
  --help             this text; runs nothing
  --list             print the selected mutations and whether their text is found once in the
                     working tree; runs nothing
  --only ID|PATTERN  only these mutations: ids, or shell patterns matched against the id or the
                     file (--only 'locations-*' workspace/cleanup.cpp)
  --group GROUP      only the mutations of this group: portable or win32
  --workdir DIR      the work directory (default: a new one under $TMPDIR or /tmp). A directory
                     this runner made before is refreshed and its builds reused
  --keep             keep the work directory (the copy, its builds, logs/ with each mutation's log)
  --timeout SECONDS  the time-out of each mutation's tests (default: 3 to 5 times what the
                     baseline took for the same tests, and at least a minute)

Exit codes: 0 the run completed, whatever the kill rate; 1 the runner failed (the copy, a baseline
build or test); 2 bad usage or a bad mutation list; 130 interrupted.

Run it with `nice -n 10`: it builds and tests on every core. The baseline takes a few minutes
(the Wine prefixes, the windows and tools builds only for win32 mutations), each mutation seconds
(a minute when the time-out ends it); --keep with the same --workdir reuses the builds.
"""


def print_list(mutations):
    for m in mutations:
        problem, _ = anchor_problem(m, ROOT)
        print(f"{m.id:<38} {m.group:<9} {m.file:<34} {m.description}")
        if m.tests:
            print(f"{'':<38} tests: {m.tests}")
        if m.equivalent:
            print(f"{'':<38} equivalent: {m.equivalent}")
        if problem:
            print(f"{'':<38} NOT PLANTABLE: {problem}")
    for group in GROUPS:
        members = [m for m in mutations if m.group == group]
        if members:
            equivalent = sum(1 for m in members if m.equivalent)
            print(f"{group}: {len(members)} mutations, {equivalent} of them marked equivalent")


def make_workdir(option):
    if option is None:
        workdir = Path(tempfile.mkdtemp(prefix="launcher-mutate-"))
    else:
        workdir = Path(option).resolve()
        if workdir == ROOT or ROOT in workdir.parents or workdir in ROOT.parents:
            raise ListError(f"--workdir {option}: must lie outside the source tree {ROOT}")
        if workdir.exists() and any(workdir.iterdir()) and not (workdir / MARKER).exists():
            raise ListError(f"--workdir {option}: not empty, and not a work directory of this runner")
        workdir.mkdir(parents=True, exist_ok=True)
    (workdir / MARKER).write_text("scripts/mutate\n")
    return workdir


def parse_arguments(arguments):
    parser = argparse.ArgumentParser(prog="scripts/mutate", add_help=False, usage=USAGE.split("\n\n")[0][7:])
    parser.add_argument("--help", "-h", action="store_true")
    parser.add_argument("--list", action="store_true")
    parser.add_argument("--only", nargs="+", metavar="ID")
    parser.add_argument("--group", choices=GROUPS)
    parser.add_argument("--workdir")
    parser.add_argument("--keep", action="store_true")
    parser.add_argument("--timeout", type=float)
    return parser.parse_args(arguments)


def interrupted(*_):
    raise KeyboardInterrupt


def main(arguments):
    options = parse_arguments(arguments)
    if options.help:
        print(USAGE, end="")
        return 0
    try:
        mutations = select(parse_list(LIST), options.only, options.group)
    except ListError as error:
        print(f"scripts/mutate: {error}", file=sys.stderr)
        return 2
    if options.list:
        print_list(mutations)
        return 0
    if not mutations:
        print("scripts/mutate: no mutation selected", file=sys.stderr)
        return 2
    try:
        workdir = make_workdir(options.workdir)
    except ListError as error:
        print(f"scripts/mutate: {error}", file=sys.stderr)
        return 2

    signal.signal(signal.SIGTERM, interrupted)
    runner = Runner(workdir, options.keep, options.timeout, mutations)
    started = time.monotonic()
    status = 0
    try:
        print(f"== Copying the tree to {runner.tree}", flush=True)
        listed, copied = runner.copy_tree()
        print(f"   {listed} files, {copied} written", flush=True)
        runner.baseline()
        runner.run_all()
        runner.summary()
        print(f"== {len(mutations)} mutations in {seconds(time.monotonic() - started)}", flush=True)
    except RunnerFailure as error:
        print(f"scripts/mutate: {error}", file=sys.stderr)
        if not options.keep:
            print("scripts/mutate: --keep keeps the work directory to look into", file=sys.stderr)
        status = 1
    except KeyboardInterrupt:
        print("scripts/mutate: interrupted", file=sys.stderr)
        status = 130
    finally:
        signal.signal(signal.SIGTERM, signal.SIG_IGN)
        signal.signal(signal.SIGINT, signal.SIG_IGN)
        runner.stop_wine()
        if options.keep:
            print(f"== Kept {workdir} (logs in {runner.logs})", flush=True)
        else:
            shutil.rmtree(workdir, ignore_errors=True)
    return status
