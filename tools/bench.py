#!/usr/bin/env python3
"""Measures servicepack.exe under Wine side by side with what it is compared against, and the
core's growth against the fakes, and writes the figures into docs/performance.md.

tools/bench.sh builds what this needs and calls it. Every pair runs in alternation (A B A B
...), one untimed warm-up round first, in one private prefix whose wineserver stays up; the
install runs each start from the same restored prefix. Only the part of the document between
the two markers is rewritten: the notes around it are kept.
"""

from __future__ import annotations

import argparse
import dataclasses
import datetime
import json
import os
import platform
import re
import shutil
import signal
import statistics
import subprocess
import sys
import tempfile
import time
from pathlib import Path

import pefile

SOURCE_DIR = Path(__file__).resolve().parents[1]
sys.path.insert(0, str(SOURCE_DIR / "tools" / "wine"))

import harness  # noqa: E402

BEGIN = "<!-- bench.py writes from here -->"
END = "<!-- bench.py writes up to here -->"
BENCH_DIR = "C:\\bench"
OUT = BENCH_DIR + "\\out.msp"
MSIEXEC = "C:\\windows\\system32\\msiexec.exe"
SAMPLE_CODE = "{3F2A8C41-7B5D-4E19-A6C2-9D0E1B7F4A53}"
UPGRADE = "15.0.205.0"
MIB = 1024 * 1024
SYSTEM_DLLS = {"kernel32.dll", "msvcrt.dll", "shell32.dll", "user32.dll"}
# Members of the C++ library that streams, locales and the demangler bring along.
HEAVY_RUNTIME = re.compile(r"ios|stream|locale|codecvt|ctype|facet|demangle|basic_file")


@dataclasses.dataclass
class Series:
    """One measured quantity over the timed rounds."""
    label: str
    unit: str
    values: list[float] = dataclasses.field(default_factory=list)

    @property
    def median(self) -> float:
        return statistics.median(self.values)

    @property
    def low(self) -> float:
        """The lowest value: on a loaded machine the one least raised by others' work."""
        return min(self.values)

    def text(self, digits: int = 1) -> str:
        if len(self.values) == 1:
            return f"{self.values[0]:,.{digits}f} {self.unit}"
        return (f"{self.median:,.{digits}f} {self.unit} "
                f"({min(self.values):,.{digits}f}–{max(self.values):,.{digits}f})")


@dataclasses.dataclass
class Figure:
    name: str
    series: list[Series]  # what was measured, the figure's own side first
    result: str
    goal: str
    met: bool


class Machine:
    """Paths of the built programs and packages, and the prefix everything runs in."""

    def __init__(self, build: Path, work: Path):
        self.windows = build / "windows"
        self.native = build / "native"
        self.tools = self.windows / "tools" / "wine"
        self.exe = self.windows / "servicepack.exe"
        self.big_exe = self.windows / "tests" / "e2e" / "servicepack_big.exe"
        self.package = SOURCE_DIR / "resources" / "sample.msp"
        self.big_package = self.windows / "tests" / "e2e" / "big.msp"
        self.boxclock = build / "boxclock.exe"
        self.summary_probe = self.windows / "tools" / "probes" / "summary_probe.exe"
        self.product_msi = build / "sample_product.msi"
        self.work = work
        self.template = harness.prepare_template(work / "template")
        self.prefix = self.open_prefix(self.template, work / "warm")

    def open_prefix(self, template: Path, path: Path) -> harness.Prefix:
        prefix = harness.Prefix(template, path, self.tools)
        # Up for good, not for the harness's short linger: a cold server costs ~0.5 s a run.
        # Nothing runs in the new prefix yet, so its server can be restarted that way.
        for option in ("-k", "-w", "-p"):
            subprocess.run(["wineserver", option], env=prefix.env(), timeout=30)
        prefix.c_path(BENCH_DIR).mkdir(exist_ok=True)
        return prefix

    def clean(self, prefix: harness.Prefix) -> None:
        """Removes what earlier runs wrote: outputs and temporary packages."""
        for folder in (prefix.c_path(BENCH_DIR), prefix.default_temp()):
            for item in folder.glob("*.msp"):
                item.unlink()
            for item in folder.glob("MSP*"):
                item.unlink()

    def clock(self, prefix: harness.Prefix, mode: str, program: str, *args: str) -> float:
        """Milliseconds from the program's start to its box ("box") or its end ("exit")."""
        done = prefix.wine(harness.to_windows(self.boxclock), mode, program, *args, timeout=120,
                           check=False)
        text = done.stdout.decode(errors="replace")
        # The program's own output, if any, comes first on the same handle.
        times = [line[3:] for line in text.splitlines() if line.startswith("us=")]
        if done.returncode != 0 or not times:
            raise harness.HarnessError(f"boxclock {mode} {program} {args}: {text!r}")
        return int(times[-1]) / 1000.0

    def peak_memory(self, prefix: harness.Prefix, exe: Path, *args: str) -> float:
        """The highest resident set size (MiB) of the Wine process that runs `exe`."""
        process = subprocess.Popen(["wine", harness.to_windows(exe), *args], env=prefix.env(),
                                   cwd=prefix.path, stdin=subprocess.DEVNULL,
                                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        _, status, usage = os.wait4(process.pid, 0)
        process.returncode = os.waitstatus_to_exitcode(status)
        if process.returncode != 0:
            raise harness.HarnessError(f"wine {exe.name} {args} answered {process.returncode}")
        return usage.ru_maxrss * 1024 / MIB  # ru_maxrss is in KiB on Linux

    def close(self) -> None:
        self.prefix.close()


def alternate(rounds: int, *runs):
    """Calls each run in turn, one untimed warm-up round and then `rounds` timed ones."""
    for round_number in range(rounds + 1):
        for run, series in runs:
            value = run()
            if round_number > 0:
                series.values.append(value)


def extraction(m: Machine, rounds: int) -> Figure:
    prefix = m.prefix
    big = harness.to_windows(m.big_exe)
    copy_target = prefix.c_path(BENCH_DIR) / "copy.msp"
    extract, plain = Series("/e out.msp", "ms"), Series("/pi", "ms")
    copy = Series("cp", "ms")
    # Beside them, what loading the 24.6 MB image costs: /pi of the sample's executable.
    small = Series("/pi, sample executable", "ms")

    def run_extract():
        m.clean(prefix)
        return m.clock(prefix, "exit", big, "/e", OUT)

    def run_copy():
        m.clean(prefix)
        start = time.perf_counter()
        subprocess.run(["cp", str(m.big_package), str(copy_target)], check=True)
        return (time.perf_counter() - start) * 1000.0

    alternate(rounds, (run_extract, extract), (lambda: m.clock(prefix, "exit", big, "/pi"), plain),
              (run_copy, copy),
              (lambda: m.clock(prefix, "exit", harness.to_windows(m.exe), "/pi"), small))
    writing = Series('"/e out.msp" minus "/pi"', "ms",
                     [e - p for e, p in zip(extract.values, plain.values)])
    ratio = writing.median / copy.median
    # A difference at or below zero says the run could not tell the writing from the noise.
    resolved = writing.median > 0
    result = f"{ratio:.2f}x `cp`" if resolved else "not resolved (median difference <= 0)"
    result += f"; from the lowest values {(extract.low - plain.low) / copy.low:.2f}x"
    return Figure("extraction", [writing, copy, extract, plain, small], result,
                  "at most 1.5x `cp`", resolved and ratio <= 1.5)


def no_copy(m: Machine, rounds: int, exe: Path, package_name: str) -> Figure:
    prefix = m.prefix
    extract, plain = Series("/e out.msp", "MiB"), Series("/pi", "MiB")

    def run_extract():
        m.clean(prefix)
        return m.peak_memory(prefix, exe, "/e", OUT)

    alternate(rounds, (run_extract, extract), (lambda: m.peak_memory(prefix, exe, "/pi"), plain))
    above = max(e - p for e, p in zip(extract.values, plain.values))
    median_above = extract.median - plain.median
    return Figure(f"no copy ({package_name})", [extract, plain],
                  f"{median_above:+.2f} MiB (at most {above:+.2f} in a pair)",
                  '"/e" at most 1 MiB above "/pi"', above <= 1.0)


def information(m: Machine, rounds: int) -> Figure:
    """/i against an extraction, and beside them what /i does besides: load msi.dll, show a box."""
    prefix = m.prefix
    big = harness.to_windows(m.big_exe)
    probe = harness.to_windows(m.windows / "tools" / "probes" / "library_probe.exe")
    ui_probe = harness.to_windows(m.windows / "tools" / "probes" / "ui_probe.exe")
    info, extract = Series("/i until its box", "ms"), Series("/e out.msp", "ms")
    msi, kernel = Series("a program loading msi.dll", "ms"), Series("... kernel32.dll", "ms")
    box = Series("a program until its first box", "ms")

    def run_info():
        m.clean(prefix)
        return m.clock(prefix, "box", big, "/i")

    def run_extract():
        m.clean(prefix)
        return m.clock(prefix, "exit", big, "/e", OUT)

    alternate(rounds, (run_info, info), (run_extract, extract),
              (lambda: m.clock(prefix, "exit", probe, "msi.dll"), msi),
              (lambda: m.clock(prefix, "exit", probe, "kernel32.dll"), kernel),
              (lambda: m.clock(prefix, "box", ui_probe, "message", "301"), box))
    extra = info.median - extract.median
    result = (f"{extra:+.1f} ms; from the lowest values {info.low - extract.low:+.1f} ms, of "
              f"which loading msi.dll {msi.low - kernel.low:+.1f} ms, a first box "
              f"{box.low - kernel.low:+.1f} ms")
    return Figure("information mode", [info, extract, msi, kernel, box], result,
                  "at most +50 ms", extra <= 50.0)


def installed_snapshot(m: Machine) -> Path:
    """A stopped prefix with the sample product at 15.0.106.0 and the package at hand."""
    subprocess.run(["wixl", "-a", "x64", "-o", str(m.product_msi),
                    str(SOURCE_DIR / "tools" / "wine" / "sample_product.wxs")],
                   check=True, capture_output=True, timeout=120)
    prefix = m.open_prefix(m.template, m.work / "installed")
    try:
        prefix.install_msi(m.product_msi)
        shutil.copyfile(m.big_package, prefix.c_path(BENCH_DIR) / "patch.msp")
    finally:
        # Stopping the server saves the registry; the folder stays as the snapshot.
        for option in ("-k", "-w"):
            subprocess.run(["wineserver", option], env=prefix.env(), timeout=60)
    return prefix.path


def installed_version(m: Machine, prefix: harness.Prefix) -> str:
    result = prefix.run(m.summary_probe, "discover", harness.to_windows(m.package))
    targets = harness.output_fields(result.output).get("target", [])
    return targets[0].split("|")[2] if targets else ""


def install_run(m: Machine, snapshot: Path, *command: str) -> float:
    """One timed patch run in a fresh copy of the snapshot, checked by the product's version."""
    prefix = m.open_prefix(snapshot, m.work / "install")
    try:
        # Warms the loader and the desktop, the same for both sides of the pair.
        m.clock(prefix, "exit", harness.to_windows(m.exe), "/pi")
        milliseconds = m.clock(prefix, "exit", *command)
        version = installed_version(m, prefix)
        if version != UPGRADE:
            raise harness.HarnessError(f"{command} left the product at {version!r}")
        return milliseconds
    finally:
        prefix.close()


def install(m: Machine, rounds: int) -> Figure:
    """/q against msiexec, and beside them each with what the other does not: /q with the small
    package, msiexec with the basic UI and the verbose log /q asks for."""
    snapshot = installed_snapshot(m)
    patch = BENCH_DIR + "\\patch.msp"
    quiet, msiexec = Series("/q", "ms"), Series("msiexec /p /qn", "ms")
    small = Series("/q with the 4.5 KB sample package", "ms")
    basic = Series("msiexec /p /qb! /l*v", "ms")
    alternate(rounds,
              (lambda: install_run(m, snapshot, harness.to_windows(m.big_exe), "/q"), quiet),
              (lambda: install_run(m, snapshot, MSIEXEC, "/p", patch, "/qn"), msiexec),
              (lambda: install_run(m, snapshot, harness.to_windows(m.exe), "/q"), small),
              (lambda: install_run(m, snapshot, MSIEXEC, "/p", patch, "/qb!", "/l*v",
                                   BENCH_DIR + "\\patch.log"), basic))
    ratio = quiet.median / msiexec.median
    result = (f"{ratio:.2f}x `msiexec /p`; from the lowest values "
              f"{quiet.low / msiexec.low:.2f}x, with the sample package "
              f"{small.low / msiexec.low:.2f}x")
    return Figure("install run", [quiet, msiexec, small, basic], result, "at most 1.1x",
                  ratio <= 1.1)


def growth(m: Machine, rounds: int) -> list[Figure]:
    """Per-entry times at 1, 100 and 10,000 entries, repetitions interleaved at random."""
    done = subprocess.run([str(m.native / "tests" / "bench" / "growth_bench"),
                           f"--benchmark_repetitions={rounds}",
                           "--benchmark_enable_random_interleaving=true",
                           "--benchmark_format=json"],
                          check=True, capture_output=True, timeout=900)
    per_entry: dict[str, dict[int, Series]] = {}
    for run in json.loads(done.stdout)["benchmarks"]:
        if run.get("run_type") != "iteration":
            continue
        name, entries = run["run_name"].split("/")
        sizes = per_entry.setdefault(name.removeprefix("BM_"), {})
        count = int(entries)
        label = f"{count:,} {'entry' if count == 1 else 'entries'}"
        series = sizes.setdefault(count, Series(label, "ns/entry"))
        series.values.append(run["per_entry"] * 1e9)
    figures = []
    for name, sizes in per_entry.items():
        ratio = sizes[10000].median / sizes[100].median
        figures.append(Figure(f"growth: {name}", [sizes[n] for n in sorted(sizes)],
                              f"{ratio:.2f}x per entry from 100 to 10,000",
                              "flat within 2x", 0.5 <= ratio <= 2.0))
    return figures


def sections_of(exe: Path) -> tuple[list[tuple[str, int]], set[str]]:
    pe = pefile.PE(str(exe), fast_load=True)
    pe.parse_data_directories(
        directories=[pefile.DIRECTORY_ENTRY["IMAGE_DIRECTORY_ENTRY_IMPORT"]])
    sections = [(s.Name.rstrip(b"\0").decode(), s.SizeOfRawData) for s in pe.sections]
    imports = {entry.dll.decode().lower() for entry in pe.DIRECTORY_ENTRY_IMPORT}
    return sections, imports


def heavy_runtime_members(link_map: Path) -> list[str]:
    """The iostream, locale and formatting members of the C++ library the link pulled in."""
    linked = link_map.read_text(errors="replace").partition("Linker script and memory map")[2]
    members = set(re.findall(r"libstdc\+\+\.a\(([^)]+)\)", linked))
    return sorted(name for name in members if HEAVY_RUNTIME.search(name))


def launcher_overhead(m: Machine) -> tuple[Figure, list[tuple[str, int]]]:
    overheads = []
    for exe, package in ((m.exe, m.package), (m.big_exe, m.big_package)):
        overheads.append(exe.stat().st_size - package.stat().st_size)
    sections, imports = sections_of(m.exe)
    heavy = heavy_runtime_members(m.windows / "platform" / "windows" / "servicepack.map")
    overhead = Series("exe minus package", "bytes", overheads[:1])
    ok = max(overheads) <= 256 * 1024 and imports <= SYSTEM_DLLS and not heavy
    result = (f"{overheads[0]:,} bytes with the sample, {overheads[1]:,} with the 24.6 MB "
              f"package; imports {', '.join(sorted(imports))}; iostream and locale code: "
              f"{', '.join(heavy) or 'none'}")
    return Figure("launcher overhead", [overhead], result,
                  "at most 256 KB (262,144 bytes), system DLLs only", ok), sections


def machine_text() -> str:
    cpu = next((line.split(":", 1)[1].strip() for line in
                Path("/proc/cpuinfo").read_text().splitlines() if line.startswith("model name")),
               platform.processor())
    memory_kib = int(next(line.split()[1] for line in Path("/proc/meminfo").read_text()
                          .splitlines() if line.startswith("MemTotal")))
    wine = subprocess.run(["wine", "--version"], capture_output=True, text=True).stdout.strip()
    load = " ".join(f"{x:.2f}" for x in os.getloadavg())
    return (f"{os.cpu_count()} cores ({cpu}), {memory_kib / MIB:.1f} GiB memory, "
            f"{platform.system()} {platform.release()}, {wine}; load average {load} at the start")


def figure_rows(figures: list[Figure]) -> list[str]:
    rows = ["| figure | measured: median (min–max) | result | goal | met |",
            "|---|---|---|---|---|"]
    for f in figures:
        digits = 0 if f.series[0].unit == "bytes" else (2 if f.series[0].unit == "MiB" else 1)
        measured = "<br>".join(f"{s.label}: {s.text(digits)}" for s in f.series)
        rows.append(f"| {f.name} | {measured} | {f.result} | {f.goal} | "
                    f"{'yes' if f.met else '**no**'} |")
    return rows


def measured_part(figures, sections, rounds: int, started: datetime.datetime,
                  seconds: float) -> str:
    lines = [BEGIN, "",
             f"Measured {started:%Y-%m-%d %H:%M} UTC on {machine_text()}, by "
             f"`tools/bench.sh --rounds {rounds}` in {seconds / 60:.1f} minutes: {rounds} timed "
             f"rounds after one warm-up round, the sides of each pair in alternation.", ""]
    lines += figure_rows(figures)
    lines += ["", "Sections of servicepack.exe (bytes in the file):", "",
              "| section | bytes |", "|---|---|"]
    lines += [f"| `{name}` | {size:,} |" for name, size in sections]
    lines += ["", END]
    return "\n".join(lines)


def write_document(path: Path, part: str) -> None:
    text = path.read_text(encoding="utf-8") if path.exists() else \
        f"# Performance\n\n{BEGIN}\n{END}\n"
    head, _, rest = text.partition(BEGIN)
    _, _, tail = rest.partition(END)
    path.write_text(head + part + tail, encoding="utf-8")


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--build", type=Path, required=True,
                        help="the folder tools/bench.sh built into (windows/, native/)")
    parser.add_argument("--out", type=Path, default=SOURCE_DIR / "docs" / "performance.md")
    parser.add_argument("--rounds", type=int, default=7, help="timed rounds of every pair")
    args = parser.parse_args()

    # A benchmark stopped from outside still ends its Wine processes and removes its prefixes.
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(1))
    started = datetime.datetime.now(datetime.timezone.utc)
    clock_start = time.monotonic()
    work = Path(tempfile.mkdtemp(prefix="servicepack-bench-"))
    machine = None
    try:
        machine = Machine(args.build.resolve(), work)
        overhead, sections = launcher_overhead(machine)
        figures = [extraction(machine, args.rounds),
                   no_copy(machine, args.rounds, machine.exe, "sample, 4.5 KB"),
                   no_copy(machine, args.rounds, machine.big_exe, "24.6 MB package"),
                   overhead,
                   information(machine, args.rounds),
                   install(machine, args.rounds),
                   *growth(machine, args.rounds)]
    finally:
        if machine:
            machine.close()
        shutil.rmtree(work, ignore_errors=True)
    part = measured_part(figures, sections, args.rounds, started, time.monotonic() - clock_start)
    write_document(args.out, part)
    print("\n".join(figure_rows(figures)))
    return 0


if __name__ == "__main__":
    sys.exit(main())
