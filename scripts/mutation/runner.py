"""The run: a copy of the tree outside it, the baseline builds and tests, and each mutation
planted, built and tested in turn."""

import importlib.util
import os
import re
import resource
import shutil
import signal
import subprocess
import sys
import time
from pathlib import Path

from .mutation_list import GROUPS, anchor_problem

ROOT = Path(__file__).resolve().parents[2]
# The variables that would point the copy's builds and tests back at the source tree's.
FOREIGN_VARIABLES = ("LAUNCHER_BUILD", "LAUNCHER_SOURCE", "LAUNCHER_EXE", "PACKAGE_INSPECT", "WINEPREFIX", "WINEARCH")
# A mutant stuck in a loop that writes (a line reader that never moves on) would fill the disk
# before its time-out: the unit tests get a file size limit far above anything they write.
UNIT_TEST_FILE_LIMIT = 1 << 30


class RunnerFailure(Exception):
    """The run cannot go on: the copy or the baseline failed."""


def seconds(value):
    return f"{value:.0f} s"


class Runner:
    def __init__(self, workdir, keep, timeout, mutations):
        self.workdir = workdir
        self.tree = workdir / "tree"
        self.logs = workdir / "logs"
        self.keep = keep
        self.timeout = timeout
        self.mutations = mutations
        self.groups = {m.group for m in mutations}
        self.runnable = {m.group for m in mutations if not m.equivalent}
        self.environment = {k: v for k, v in os.environ.items() if k not in FOREIGN_VARIABLES}
        self.wine = None  # the copy's tests/e2e/wine.py, once the Wine prefixes are in use
        self.host_tests = {}  # CTest name: baseline seconds
        self.e2e_tests = {}
        self.unit_seconds = None
        self.platform_seconds = None
        self.results = []  # (mutation, status)

    # -- processes

    def run(self, command, log, cwd=None, environment=None, timeout=None, file_limit=None):
        """Runs command with its output appended to log; returns (exit code, or None on the
        time-out, and the output it wrote)."""
        with open(log, "ab") as out:
            out.write(("$ " + " ".join(str(part) for part in command) + "\n").encode())
            out.flush()
            start = out.tell()
            limit = ((lambda: resource.setrlimit(resource.RLIMIT_FSIZE, (file_limit, file_limit)))
                     if file_limit else None)
            # A session of its own: a time-out or Ctrl-C ends the whole group (ctest, pytest, Wine).
            process = subprocess.Popen([str(part) for part in command], cwd=cwd or self.tree,
                                       env=environment or self.environment, stdin=subprocess.DEVNULL, stdout=out,
                                       stderr=subprocess.STDOUT, start_new_session=True, preexec_fn=limit)
            try:
                code = process.wait(timeout=timeout)
            except subprocess.TimeoutExpired:
                code = None
            finally:
                if process.poll() is None:
                    try:
                        os.killpg(process.pid, signal.SIGKILL)
                    except ProcessLookupError:
                        pass
                    process.wait()
        with open(log, "rb") as written:
            written.seek(start)
            return code, written.read().decode("utf-8", "replace")

    def step(self, title, command, log, **options):
        """A baseline step, which must succeed."""
        started = time.monotonic()
        code, output = self.run(command, log, **options)
        if code != 0:
            tail = "\n".join(output.splitlines()[-40:])
            raise RunnerFailure(f"baseline failed: {title} ({'time-out' if code is None else f'exit {code}'}); "
                                f"the end of {log}:\n{tail}")
        return time.monotonic() - started, output

    # -- the copy

    def copy_tree(self):
        listed = subprocess.run(["git", "-C", str(ROOT), "ls-files", "-z"], stdout=subprocess.PIPE,
                                stderr=subprocess.PIPE, env=dict(self.environment, GIT_OPTIONAL_LOCKS="0"))
        if listed.returncode != 0:
            raise RunnerFailure(f"git ls-files failed: {listed.stderr.decode().strip()}")
        names = [name for name in listed.stdout.decode("utf-8", "surrogateescape").split("\0") if name]
        self.tree.mkdir(parents=True, exist_ok=True)
        self.logs.mkdir(exist_ok=True)
        copied = 0
        wanted = set()
        for name in names:
            source = ROOT / name
            target = self.tree / name
            # Deleted in the working tree but not yet in the index: the copy has it deleted too.
            if not source.is_symlink() and not source.exists():
                continue
            wanted.add(name)
            if source.is_symlink():
                if target.is_symlink() and os.readlink(target) == os.readlink(source):
                    continue
                target.parent.mkdir(parents=True, exist_ok=True)
                if target.is_symlink() or target.exists():
                    target.unlink()
                os.symlink(os.readlink(source), target)
            else:
                data = source.read_bytes()
                mode = source.stat().st_mode & 0o777
                # Files left as they are keep their times, so that a reused copy rebuilds only what changed.
                if (target.is_file() and not target.is_symlink() and target.stat().st_mode & 0o777 == mode
                        and target.read_bytes() == data):
                    continue
                target.parent.mkdir(parents=True, exist_ok=True)
                if target.is_symlink():
                    target.unlink()
                target.write_bytes(data)
                os.chmod(target, mode)
            copied += 1
        # A reused copy loses what the working tree no longer has; its builds stay.
        for directory, folders, files in os.walk(self.tree):
            relative = Path(directory).relative_to(self.tree)
            if relative == Path("."):
                folders[:] = [f for f in folders if f != "build"]
            for name in files + [f for f in folders if (Path(directory) / f).is_symlink()]:
                if (relative / name).as_posix() not in wanted:
                    (Path(directory) / name).unlink()
        return len(wanted), copied

    # -- the baseline

    def ctest_names(self, build, log):
        _, output = self.step("ctest -N", ["ctest", "--test-dir", build, "-N"], log)
        return re.findall(r"Test\s+#\d+: (\S+)", output)

    @staticmethod
    def durations(output):
        return {name: float(value) for name, value in
                re.findall(r"Test\s+#\d+: (\S+) \.*\s*Passed\s+([\d.]+) sec", output)}

    @staticmethod
    def exact(names):
        return "^(" + "|".join(re.escape(name).replace("\\-", "-") for name in sorted(names)) + ")$"

    def named_tests(self, m, available):
        return [name for name in available if re.search(m.tests, name)] if m.tests else []

    def baseline(self):
        host = self.tree / "build" / "host"
        log = self.logs / "baseline-host.log"
        print(f"== Baseline, host preset (log: {log})", flush=True)
        configure, _ = self.step("cmake --preset host", ["cmake", "--preset", "host"], log)
        build, _ = self.step("cmake --build --preset host", ["cmake", "--build", "--preset", "host"], log)
        self.unit_seconds, _ = self.step("the unit tests", [host / "unit_tests", "--gtest_brief=1"], log, cwd=host,
                                         file_limit=UNIT_TEST_FILE_LIMIT)
        print(f"   configure {seconds(configure)}, build {seconds(build)}, unit tests {seconds(self.unit_seconds)}",
              flush=True)
        portable = [m for m in self.mutations if m.group == "portable" and not m.equivalent and m.tests]
        if portable:
            available = self.ctest_names(host, log)
            names = {name for m in portable for name in self.named_tests(m, available)}
            self.host_tests = {name: 0.0 for name in available}
            if names:
                took, output = self.step("the host CTest tests the mutations name",
                                         ["ctest", "--test-dir", host, "-R", self.exact(names), "--output-on-failure"],
                                         log)
                self.host_tests.update(self.durations(output))
                print(f"   {len(names)} host CTest tests the mutations name: {seconds(took)}", flush=True)

        if "win32" not in self.runnable:
            return
        windows = self.tree / "build" / "windows"
        log = self.logs / "baseline-windows.log"
        print(f"== Baseline, windows and tools presets, Wine prefixes (log: {log})", flush=True)
        started = time.monotonic()
        self.step("cmake --preset windows", ["cmake", "--preset", "windows"], log)
        self.step("cmake --build --preset windows", ["cmake", "--build", "--preset", "windows"], log)
        windows_build = time.monotonic() - started
        # The package tool that the end-to-end tests run builds its native helper with the tools
        # preset on first use: built here, it costs no mutation's time-out.
        started = time.monotonic()
        self.step("cmake --preset tools", ["cmake", "--preset", "tools"], log)
        self.step("cmake --build --preset tools", ["cmake", "--build", "--preset", "tools"], log)
        tools_build = time.monotonic() - started
        self.use_wine(windows)
        prefixes, _ = self.step("the Wine prefixes", [sys.executable, self.tree / "tests" / "e2e" / "wine.py",
                                                      "--make-prefixes"], log, timeout=1200)
        print(f"   windows build {seconds(windows_build)}, tools build {seconds(tools_build)}, "
              f"Wine prefixes {seconds(prefixes)}", flush=True)
        self.platform_seconds, failure = self.platform_tests(log, None)
        if failure:
            raise RunnerFailure(f"baseline failed: {failure}; see {log}")
        available = self.ctest_names(windows, log)
        self.e2e_tests = {name: 0.0 for name in available}
        names = {name for m in self.mutations if m.group == "win32" and not m.equivalent
                 for name in self.named_tests(m, available)}
        took = 0.0
        if names:
            took, output = self.step("the end-to-end tests the mutations name",
                                     ["ctest", "--test-dir", windows, "-R", self.exact(names), "--output-on-failure"],
                                     log)
            self.e2e_tests.update(self.durations(output))
        print(f"   platform tests (both prefixes) {seconds(self.platform_seconds)}, "
              f"{len(names)} end-to-end tests the mutations name {seconds(took)}", flush=True)

    # -- Wine

    def use_wine(self, windows):
        # The tests' own module: the prefixes' places and the environment of every Wine run.
        os.environ["LAUNCHER_BUILD"] = self.environment["LAUNCHER_BUILD"] = str(windows)
        os.environ["LAUNCHER_SOURCE"] = self.environment["LAUNCHER_SOURCE"] = str(self.tree)
        for name in ("WINEPREFIX", "WINEARCH", "PACKAGE_INSPECT", "LAUNCHER_EXE"):
            os.environ.pop(name, None)
        found = importlib.util.spec_from_file_location("e2e_wine", self.tree / "tests" / "e2e" / "wine.py")
        self.wine = importlib.util.module_from_spec(found)
        found.loader.exec_module(self.wine)

    def stop_wine(self):
        if self.wine is None:
            return
        for name, prefix in self.wine.PREFIXES.items():
            if prefix.exists():
                subprocess.run(["wineserver", "-k"], env=self.wine.wine_environment(name),
                               stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)

    def platform_tests(self, log, deadline):
        """Runs platform_win32_tests.exe in both prefixes as the end-to-end test does; returns the
        seconds taken and what failed ('' when nothing did, None on the time-out)."""
        started = time.monotonic()
        for prefix in self.wine.PREFIXES:
            scratch = self.tree / "build" / "windows" / "mutate-platform" / prefix
            shutil.rmtree(scratch, ignore_errors=True)
            command, environment = self.wine.platform_tests(prefix, scratch)
            left = None if deadline is None else max(1.0, deadline - time.monotonic())
            code, output = self.run(command, log, cwd=scratch, environment=environment, timeout=left)
            if code is None:
                return time.monotonic() - started, None
            failure = self.wine.platform_test_failure(prefix, code, output)
            if failure:
                return time.monotonic() - started, failure
        return time.monotonic() - started, ""

    # -- the mutations

    def report(self, m, status, detail="", took=None):
        self.results.append((m, status))
        line = f"{m.id:<38} {status:<10} {m.file:<34} {m.description}"
        if detail:
            line += f" [{detail}]"
        if took is not None:
            line += f" ({seconds(took)})"
        print(line, flush=True)

    def time_out(self, m, named):
        if self.timeout:
            return self.timeout
        if m.group == "portable":
            return max(60.0, 5 * self.unit_seconds + 3 * sum(self.host_tests.get(n, 0.0) for n in named) + 30)
        return max(120.0, 3 * (self.platform_seconds + sum(self.e2e_tests.get(n, 0.0) for n in named)) + 60)

    def run_mutation(self, m):
        if m.equivalent:
            problem, _ = anchor_problem(m, self.tree)
            if problem:
                return self.report(m, "ERROR", problem)
            return self.report(m, "EQUIVALENT", m.equivalent)
        available = self.host_tests if m.group == "portable" else self.e2e_tests
        named = self.named_tests(m, available)
        if m.tests and not named:
            return self.report(m, "ERROR", f"tests: {m.tests} matches no CTest test")
        problem, mutant = anchor_problem(m, self.tree)
        if problem:
            return self.report(m, "ERROR", problem)
        path = self.tree / m.file
        original = path.read_bytes()
        log = self.logs / f"{m.id}.log"
        log.unlink(missing_ok=True)
        started = time.monotonic()
        try:
            path.write_bytes(mutant.encode("utf-8", "surrogateescape"))
            status, detail = self.build_and_test(m, named, log)
        finally:
            path.write_bytes(original)
        self.report(m, status, detail, time.monotonic() - started)

    def build_and_test(self, m, named, log):
        if m.group == "portable":
            build = self.tree / "build" / "host"
            targets = ["unit_tests"] + (["package_inspect"] if named else [])
        else:
            build = self.tree / "build" / "windows"
            targets = ["Setup", "platform_win32_tests"]
        code, _ = self.run(["cmake", "--build", build, "--target", *targets], log, timeout=1800)
        if code != 0:
            return "STILLBORN", "does not compile" if code is not None else "the build did not end"
        limit = self.time_out(m, named)
        deadline = time.monotonic() + limit
        timed_out = f"time-out after {seconds(limit)}"
        if m.group == "portable":
            code, output = self.run([build / "unit_tests", "--gtest_brief=1", "--gtest_fail_fast"], log, cwd=build,
                                    timeout=limit, file_limit=UNIT_TEST_FILE_LIMIT)
            if code is None:
                return "KILLED", timed_out
            if code != 0:
                failed = re.findall(r"\[  FAILED  \] (\w+\.\w+)", output)
                return "KILLED", f"by {failed[0]}" if failed else f"the unit tests ended with {code}"
        else:
            _, failure = self.platform_tests(log, deadline)
            if failure is None:
                self.stop_wine()
                return "KILLED", timed_out
            if failure:
                return "KILLED", f"by the {failure}"
        if not named:
            return "SURVIVED", ""
        code, output = self.run(["ctest", "--test-dir", build, "-R", self.exact(named), "--no-tests=error",
                                 "--stop-on-failure", "--output-on-failure"], log,
                                timeout=max(1.0, deadline - time.monotonic()))
        if code is None:
            self.stop_wine()
            return "KILLED", timed_out
        if code != 0:
            failed = re.findall(r"^\s*\d+ - (\S+) \(", output, re.MULTILINE)
            return "KILLED", f"by {failed[0]}" if failed else f"ctest ended with {code}"
        return "SURVIVED", ""

    def run_all(self):
        # platform/win32.cpp first: its mutants rebuild nothing of the host build, while the portable
        # ones, restored, leave newer sources that the windows and tools builds would compile again.
        for group in ("win32", "portable"):
            members = [m for m in self.mutations if m.group == group]
            if members:
                print(f"== {group} mutations ({len(members)})", flush=True)
                for m in members:
                    self.run_mutation(m)

    def summary(self):
        print("== Summary", flush=True)
        for group in GROUPS:
            statuses = [status for m, status in self.results if m.group == group]
            if not statuses:
                continue
            killed = statuses.count("KILLED")
            valid = killed + statuses.count("SURVIVED")
            rate = f"{100.0 * killed / valid:.1f}%" if valid else "n/a"
            print(f"{group}: {killed}/{valid} killed, kill rate {rate}; not counted: "
                  f"{statuses.count('EQUIVALENT')} equivalent, {statuses.count('ERROR')} error, "
                  f"{statuses.count('STILLBORN')} stillborn", flush=True)
