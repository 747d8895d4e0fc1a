#!/usr/bin/env python3
"""Runs the benchmarks and prints each figure beside its goal; called by scripts/bench.

1. Settings file (host build): the whole-line lookup against a plain line-by-line read, the port
   rewrite against a plain copy, and peak memory at 1 MB and 64 MB.
2. Whole run under Wine: Setup.exe against a batch file that does the same steps by hand, on a
   generated package of about 50 MB in 2000 files of incompressible data, with hyperfine, in two
   rounds of opposite order so that drift in the machine's state does not favour either.
"""

import json
import os
import random
import shutil
import statistics
import subprocess
import sys
from pathlib import Path

ROOT = Path(__file__).resolve().parents[1]
BENCH_BINARY = ROOT / "build" / "bench" / "settings_bench"
WINDOWS = ROOT / "build" / "windows"
WORK = ROOT / "build" / "bench-run"
SIZES = {"1 KB": 1024, "1 MB": 1 << 20, "64 MB": 64 << 20}
failures = []


def judge(label, value, goal, unit=""):
    ok = value <= goal
    if not ok:
        failures.append(label)
    print(f"  {label:<48} {value:8.2f}{unit}  (goal <= {goal}{unit})  {'ok' if ok else 'MISSED'}")


def settings_benchmarks():
    print("Settings file (host build, median of 5 repetitions):")
    result = subprocess.run([str(BENCH_BINARY), "--benchmark_format=json", "--benchmark_repetitions=5",
                             "--benchmark_report_aggregates_only=true"], check=True, stdout=subprocess.PIPE)
    medians = {b["run_name"]: b["real_time"] for b in json.loads(result.stdout)["benchmarks"]
               if b.get("aggregate_name") == "median"}
    for label, size in SIZES.items():
        lookup = medians[f"SettingsFileHasLineLastKey/{size}"]
        read = medians[f"PlainLineRead/{size}"]
        rewrite = medians[f"RewritePortConfigurationWhole/{size}"]
        copy = medians[f"PlainCopy/{size}"]
        print(f"  {label}: lookup {lookup:.1f} us, plain read {read:.1f} us; rewrite {rewrite:.1f} us, plain copy {copy:.1f} us")
        judge(f"lookup / plain read, {label}", lookup / read, 1.5)
        judge(f"rewrite / plain copy, {label}", rewrite / copy, 2.0)
    for name in ("SettingsFileHasLineLastKey", "RewritePortConfigurationWhole"):
        peaks = {}
        for label in ("1 MB", "64 MB"):
            measured = subprocess.run(["/usr/bin/time", "-v", str(BENCH_BINARY), f"--benchmark_filter={name}/{SIZES[label]}$"],
                                      check=True, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE).stderr.decode()
            peaks[label] = next(int(line.split(":")[1]) for line in measured.splitlines() if "Maximum resident" in line)
        print(f"  {name} peak memory: {peaks['1 MB']} KB at 1 MB, {peaks['64 MB']} KB at 64 MB")
        judge(f"{name} peak growth 1 MB -> 64 MB", (peaks["64 MB"] - peaks["1 MB"]) / 1024, 1.0, " MB")


def windows_path(path):
    return "Z:" + str(path).replace("/", "\\")


def make_package():
    """About 50 MB in 2000 files of incompressible data, with the tests' stub installer."""
    package = WORK / "package"
    shutil.rmtree(WORK, ignore_errors=True)
    generator = random.Random(20261207)
    for index in range(2000 - 3):
        file = package / "install" / "data" / f"folder{index // 100:02d}" / f"file{index:04d}.bin"
        file.parent.mkdir(parents=True, exist_ok=True)
        file.write_bytes(generator.randbytes(25 * 1024))
    (package / "install" / "component.isf").write_bytes(b"[Install]\r\nDisplayUI=0\r\n")
    for build in ("x86", "x64"):
        (package / "install" / build).mkdir(parents=True)
        shutil.copy(WINDOWS / "e2e-programs" / build / "InstallGui.exe", package / "install" / build)
    out = WORK / "pkg"
    subprocess.run([str(ROOT / "scripts" / "make-package"), str(package), str(out)], check=True, stdout=subprocess.DEVNULL)
    # Beside the bound package, the launcher as built with a copy of the same cabinet: bound to
    # nothing, it runs without the check.
    shutil.copy(WINDOWS / "Setup.exe", out / "Unbound.exe")
    shutil.copy(out / "Setup.cab", out / "Unbound.cab")
    peer = (ROOT / "bench" / "peer.cmd.in").read_text().replace("@CABINET@", windows_path(out / "Setup.cab"))
    (out / "peer.cmd").write_bytes(peer.replace("\n", "\r\n").encode())
    return out


def benchmark_prefix():
    """A copy of the tests' 64-bit prefix whose temporary directory is in memory (tmpfs), so that
    the disk's write-back does not drown the difference between the two runs; both do the same
    file work there."""
    subprocess.run([sys.executable, str(ROOT / "tests" / "e2e" / "wine.py"), "--make-prefixes"], check=True,
                   env=dict(os.environ, LAUNCHER_BUILD=str(WINDOWS)))
    prefix = WORK / "prefix"
    shutil.copytree(WINDOWS / "wine" / "win64", prefix, symlinks=True)
    memory = Path("/dev/shm") / f"launcher-bench-{os.getpid()}"
    (memory / "Temp").mkdir(parents=True)
    temp = prefix / "drive_c" / "users" / os.environ.get("USER", "root") / "Temp"
    shutil.rmtree(temp, ignore_errors=True)
    temp.parent.mkdir(parents=True, exist_ok=True)
    temp.symlink_to(memory / "Temp", target_is_directory=True)
    return prefix, memory


def whole_run():
    print("Whole run under Wine (hyperfine: two rounds in opposite order, each 2 warm-up runs and 10 runs a command):")
    out = make_package()
    prefix, memory = benchmark_prefix()
    # The package and the prefix were just written: let that reach the disk before timing starts.
    subprocess.run(["sync"], check=True)
    environment = dict(os.environ, WINEPREFIX=str(prefix), WINEDEBUG="-all")
    environment.pop("DISPLAY", None)
    commands = {"bound launcher": "wine Setup.exe", "unbound launcher": "wine Unbound.exe",
                "batch file": "wine cmd /c peer.cmd"}
    times = {name: [] for name in commands}
    subprocess.run(["wineserver", "-p"], env=environment, check=True)  # one server for every run
    try:
        hash_times = [float(subprocess.run(["wine", str(WINDOWS / "bench" / "hash_time.exe"), "Setup.cab"], cwd=out,
                                           env=environment, check=True, stdout=subprocess.PIPE).stdout)
                      for _ in range(5)]
        names = list(commands)
        for round_number, order in enumerate((names, names[::-1]), 1):
            report = WORK / f"hyperfine-{round_number}.json"
            arguments = ["hyperfine", "-N", "--warmup", "2", "--runs", "10", "--export-json", str(report)]
            for name in order:
                arguments += ["-n", name, commands[name]]
            subprocess.run(arguments, cwd=out, env=environment, check=True)
            for result in json.loads(report.read_text())["results"]:
                times[result["command"]] += result["times"]
        left = list((memory / "Temp").iterdir())
    finally:
        subprocess.run(["wineserver", "-k"], env=environment)
        shutil.rmtree(memory, ignore_errors=True)
    if left:
        failures.append("cleanup")
        print(f"  the runs left {[p.name for p in left]} in the temporary directory")
    peer = statistics.median(times["batch file"])
    print(f"  the bound launcher's check of the {(out / 'Setup.cab').stat().st_size / 1e6:.0f} MB cabinet (hold and "
          f"SHA-256), median of 5: {statistics.median(hash_times):.3f} s")
    for name in ("bound launcher", "unbound launcher"):
        launcher = statistics.median(times[name])
        print(f"  median of 20 runs: {name} {launcher:.3f} s, batch file {peer:.3f} s")
        judge(f"{name} / batch file", launcher / peer, 1.00)
    runs = (out / "installer-log.txt").read_text().count("end\n")
    if runs != 72:
        failures.append("installer starts")
        print(f"  the stub installer ran {runs} times, not 72: the runs did not all install")


def main():
    if "--whole-run-only" not in sys.argv:
        settings_benchmarks()
    if "--settings-only" not in sys.argv:
        whole_run()
    if failures:
        print("Goals missed: " + ", ".join(failures))
        return 1
    print("All goals met.")
    return 0


if __name__ == "__main__":
    sys.exit(main())
