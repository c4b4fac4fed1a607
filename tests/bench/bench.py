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

import harness

SOURCE_DIR = Path(__file__).resolve().parents[2]


BEGIN = "<!-- bench.py writes from here -->"
END = "<!-- bench.py writes up to here -->"
BENCH_DIR = "C:\\bench"
OUT = BENCH_DIR + "\\out.msp"
MSIEXEC = "C:\\windows\\system32\\msiexec.exe"
SAMPLE_CODE = "{3F2A8C41-7B5D-4E19-A6C2-9D0E1B7F4A53}"
UPGRADE = "15.0.205.0"
MIB = 1024 * 1024
# boxclock's exit status for a start that Wine lost before any of the program ran
# (tests/support/wine/start_child.h); such a run is timed again, up to this many times in all.
LOST_START = 3
LOST_START_ATTEMPTS = 3
EXTRACTION_ROUNDS = 3
SYSTEM_DLLS = {"kernel32.dll", "msvcrt.dll", "shell32.dll", "user32.dll"}
# Members of the C++ library that streams, locales and the demangler bring along.
HEAVY_RUNTIME = re.compile(r"ios|stream|locale|codecvt|ctype|facet|demangle|basic_file|"
                           r"string-inst|functexcept")
OVERHEAD_GOAL = 160 * 1024


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
        self.tools = self.windows / "tests" / "support" / "wine"
        self.exe = self.windows / "servicepack.exe"
        self.big_exe = self.windows / "tests" / "e2e" / "servicepack_big.exe"
        self.package = SOURCE_DIR / "resources" / "sample.msp"
        self.big_package = self.windows / "tests" / "e2e" / "big.msp"
        self.bench = self.windows / "tests" / "bench"
        self.boxclock = self.bench / "boxclock.exe"
        self.summary_probe = self.windows / "tests" / "support" / "probes" / "summary_probe.exe"
        self.write_probe = self.bench / "write_probe.exe"
        self.growth_dir = self.bench
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
        """Milliseconds from the program's start to its box ("box") or its end ("exit"). A
        start that Wine lost (boxclock's exit status 3) is timed again, noted on stderr."""
        for attempt in range(1, LOST_START_ATTEMPTS + 1):
            done = prefix.wine(harness.to_windows(self.boxclock), mode, program, *args,
                               timeout=120, check=False)
            if done.returncode != LOST_START or attempt == LOST_START_ATTEMPTS:
                break
            print(f"lost start {attempt} of {program} {' '.join(args)}, timed again",
                  file=sys.stderr)
        text = done.stdout.decode(errors="replace")
        # The program's own output, if any, comes first on the same handle.
        times = [line[3:] for line in text.splitlines() if line.startswith("us=")]
        if done.returncode != 0 or not times:
            raise harness.HarnessError(f"boxclock {mode} {program} {args}: exit status "
                                       f"{done.returncode}, output {text!r}, stderr "
                                       f"{done.stderr.decode(errors='replace')!r}")
        return int(times[-1]) / 1000.0

    def peak_memory(self, prefix: harness.Prefix, exe: Path | str, *args: str) -> float:
        """The highest resident set size (MiB) of the Wine process that runs `exe` (a Linux
        path, or a Windows one as text)."""
        program = harness.to_windows(exe) if isinstance(exe, Path) else exe
        process = subprocess.Popen(["wine", program, *args], env=prefix.env(),
                                   cwd=prefix.path, stdin=subprocess.DEVNULL,
                                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        _, status, usage = os.wait4(process.pid, 0)
        process.returncode = os.waitstatus_to_exitcode(status)
        if process.returncode != 0:
            raise harness.HarnessError(f"wine {exe.name} {args} answered {process.returncode}")
        return usage.ru_maxrss * 1024 / MIB  # ru_maxrss is in KiB on Linux

    def growth_exe(self, label: str, alignment: int) -> Path:
        return self.growth_dir / f"growth_{label}_{alignment}.exe"

    def growth_package(self, label: str) -> Path:
        return {"sample": self.package, "24m": self.big_package}.get(
            label, self.growth_dir / f"growth_{label}.msp")

    def probe(self, prefix: harness.Prefix, program: Path, *args: str) -> dict[str, int]:
        """A bench probe's key=value lines, as numbers."""
        done = prefix.wine(harness.to_windows(program), *args, timeout=300)
        return {key: int(value) for key, _, value in
                (line.partition("=") for line in done.stdout.decode().splitlines()) if key}

    def close(self) -> None:
        self.prefix.close()


def alternate(rounds: int, *runs):
    """Calls each run in turn, one untimed warm-up round and then `rounds` timed ones. A run
    answers its series' value, or (series None) a list of (series, value) pairs."""
    for round_number in range(rounds + 1):
        for run, series in runs:
            value = run()
            if round_number == 0:
                continue
            for target, number in (value if series is None else [(series, value)]):
                target.values.append(number)


def probe_run(m: Machine, fields: dict[str, Series], *args: str):
    """A write-probe run whose fields (microseconds) go to the series named for them."""
    def run():
        m.clean(m.prefix)
        values = m.probe(m.prefix, *args)
        return [(series, values[field] / 1000.0) for field, series in fields.items()]
    return run


# Two ways to write bytes from memory: one WriteFile of the whole buffer, and 64 KiB pieces,
# each copied to a buffer that stays in the processor's cache and written from there. Neither
# is faster at every size (at 24.6 MB the first, at 400 MiB the second by four times), so the
# write limit of a round is the faster of the two.
THROUGH_CACHE = ("--through", "65536")
# The pieces the product writes and checks its package in.
PRODUCT_PIECES = ("--through", "262144")


def write_limit_run(m: Machine, package: Path, limit: Series, check: Series | None = None):
    """A run for the write limit: both ways, the faster one's time; with `check`, also the
    time of reading the file back and comparing it."""
    def run():
        times = []
        for extra in ((), THROUGH_CACHE):
            m.clean(m.prefix)
            values = m.probe(m.prefix, m.write_probe, "heap", harness.to_windows(package),
                             BENCH_DIR + "\\probe.msp", *extra, "--verify")
            times.append(values["write_us"] / 1000.0)
        pairs = [(limit, min(times))]
        return pairs + [(check, values["verify_us"] / 1000.0)] if check else pairs
    return run


def image_probe_runs(m: Machine, out: str) -> tuple[list, list[Series]]:
    """The write probe with the 24.6 MB package in its own image, linked like the product:
    untouched, its pages touched first (timed apart), prefetched first, in 1 MiB pieces, in
    64 KiB pieces through a buffer, and the product's pieces read from the probe's own file as
    the product reads them (opening and checking the file timed apart)."""
    image = m.growth_dir / "write_probe_24m_4096.exe"
    untouched = Series("write probe, from its image untouched", "ms")
    touch = Series("... first touch of every page", "ms")
    touched = Series("... the write after it", "ms")
    prefetched = Series("... the write after PrefetchVirtualMemory", "ms")
    chunked = Series("... written in 1 MiB pieces", "ms")
    through = Series("... in 64 KiB pieces through a buffer", "ms")
    opened = Series("... opening its own file and checking it is the image's", "ms")
    from_file = Series("... the write of 256 KiB pieces read from that file, as the product",
                       "ms")
    write = "write_us"
    runs = [(probe_run(m, {write: untouched}, image, "resource", out), None),
            (probe_run(m, {"touch_us": touch, write: touched}, image, "resource", out,
                       "--touch"), None),
            (probe_run(m, {write: prefetched}, image, "resource", out, "--prefetch"), None),
            (probe_run(m, {write: chunked}, image, "resource", out, "--chunk", "1048576"),
             None),
            (probe_run(m, {write: through}, image, "resource", out, *THROUGH_CACHE), None),
            (probe_run(m, {"open_us": opened, write: from_file}, image, "resource", out,
                       "--from-file", *PRODUCT_PIECES), None)]
    return runs, [untouched, touch, touched, prefetched, chunked, through, opened, from_file]


def extraction(m: Machine, rounds: int) -> Figure:
    """ "/e" beyond "/pi" against the write limit: the same bytes written with WriteFile from
    memory the writer has already touched (write_probe heap, the faster of its two ways).
    Beside them cp and the write probe from its own image."""
    prefix = m.prefix
    big = harness.to_windows(m.big_exe)
    probe_out = BENCH_DIR + "\\probe.msp"
    copy_target = prefix.c_path(BENCH_DIR) / "copy.msp"
    extract, plain = Series("/e out.msp", "ms"), Series("/pi", "ms")
    limit = Series("write limit (WriteFile from touched memory: whole, or 64 KiB pieces "
                   "through a buffer, whichever is faster)", "ms")
    copy = Series("cp", "ms")

    def run_extract():
        m.clean(prefix)
        return m.clock(prefix, "exit", big, "/e", OUT)

    def run_copy():
        m.clean(prefix)
        start = time.perf_counter()
        subprocess.run(["cp", str(m.big_package), str(copy_target)], check=True)
        return (time.perf_counter() - start) * 1000.0

    image_runs, image_series = image_probe_runs(m, probe_out)
    alternate(rounds, (run_extract, extract),
              (lambda: m.clock(prefix, "exit", big, "/pi"), plain),
              (write_limit_run(m, m.big_package, limit), None),
              (run_copy, copy), *image_runs)
    writing = Series('"/e out.msp" minus "/pi"', "ms",
                     [e - p for e, p in zip(extract.values, plain.values)])
    ratio = writing.median / limit.median
    resolved = writing.median > 0
    result = f"{ratio:.2f}x the write limit" if resolved else \
        "not resolved (median difference <= 0)"
    result += f"; {writing.median / copy.median:.2f}x `cp`"
    return Figure("extraction (24.6 MB)", [writing, limit, copy, extract, plain, *image_series],
                  result, "at most 2x the write limit", resolved and ratio <= 2.0)


def mapped_lazily(exe: Path) -> bool:
    """Whether Wine maps the image page by page: sections aligned to pages in the file."""
    return pefile.PE(str(exe), fast_load=True).OPTIONAL_HEADER.FileAlignment % 4096 == 0


def no_copy(m: Machine, rounds: int, exe: Path, package: Path, package_name: str) -> Figure:
    """/e against /pi in peak memory. A mapped image's package pages count once they are read,
    so /e may add the package once; a copy of it would add it twice."""
    prefix = m.prefix
    extract, plain = Series("/e out.msp", "MiB"), Series("/pi", "MiB")

    def run_extract():
        m.clean(prefix)
        return m.peak_memory(prefix, exe, "/e", OUT)

    alternate(rounds, (run_extract, extract), (lambda: m.peak_memory(prefix, exe, "/pi"), plain))
    pages = package.stat().st_size / MIB if mapped_lazily(exe) else 0.0
    above = max(e - p for e, p in zip(extract.values, plain.values))
    median_above = extract.median - plain.median
    goal = '"/e" at most 1 MiB above "/pi"'
    if pages:
        goal = f'"/e" at most the package\'s pages ({pages:.2f} MiB) + 1 MiB above "/pi"'
    return Figure(f"no copy ({package_name})", [extract, plain],
                  f"{median_above:+.2f} MiB (at most {above:+.2f} in a pair)", goal,
                  above <= pages + 1.0)


def information(m: Machine, rounds: int) -> Figure:
    """/i until its box against the floor: a program that loads msi.dll from the system
    directory, reads the summary of the same package already on disk and shows one box. Beside
    them the same pair with the 4.5 KB sample."""
    prefix = m.prefix
    floor_exe = harness.to_windows(m.bench / "info_floor.exe")
    on_disk = {}
    for name, package in (("big", m.big_package), ("sample", m.package)):
        on_disk[name] = BENCH_DIR + f"\\{name}-on-disk.msi"
        shutil.copyfile(package, prefix.c_path(on_disk[name]))
    info, floor = Series("/i until its box", "ms"), Series("the floor until its box", "ms")
    small_info = Series("/i, sample executable", "ms")
    small_floor = Series("the floor, sample package", "ms")

    def run_info(exe):
        def run():
            m.clean(prefix)
            return m.clock(prefix, "box", harness.to_windows(exe), "/i")
        return run

    alternate(rounds, (run_info(m.big_exe), info),
              (lambda: m.clock(prefix, "box", floor_exe, on_disk["big"]), floor),
              (run_info(m.exe), small_info),
              (lambda: m.clock(prefix, "box", floor_exe, on_disk["sample"]), small_floor))
    ratio = info.median / floor.median
    result = (f"{ratio:.2f}x the floor; with the sample "
              f"{small_info.median / small_floor.median:.2f}x")
    return Figure("information mode (24.6 MB)", [info, floor, small_info, small_floor], result,
                  "at most 1.1x the floor", ratio <= 1.1)


def installed_snapshot(m: Machine) -> Path:
    """A stopped prefix with the sample product at 15.0.106.0."""
    subprocess.run(["wixl", "-a", "x64", "-o", str(m.product_msi),
                    str(harness.SAMPLE_PRODUCT_WXS)],
                   check=True, capture_output=True, timeout=120)
    prefix = m.open_prefix(m.template, m.work / "installed")
    try:
        prefix.install_msi(m.product_msi)
    finally:
        # Stopping the server saves the registry; the folder stays as the snapshot.
        for option in ("-k", "-w"):
            subprocess.run(["wineserver", option], env=prefix.env(), timeout=60)
    return prefix.path


def installed_version(m: Machine, prefix: harness.Prefix) -> str:
    result = prefix.run(m.summary_probe, "discover", harness.to_windows(m.package))
    targets = harness.output_fields(result.output).get("target", [])
    return targets[0].split("|")[2] if targets else ""


PATCH = BENCH_DIR + "\\patch.msp"


def copy_then_msiexec(package: Path) -> tuple[str, ...]:
    """The fair peer of an install run: copy the package into place, then msiexec /p /qn."""
    return ("--copy", harness.to_windows(package), PATCH, MSIEXEC, "/p", PATCH, "/qn")


def install_run(m: Machine, snapshot: Path, *command: str, package: Path | None = None,
                memory: bool = False) -> float:
    """One patch run in a fresh copy of the snapshot, checked by the product's version: its
    milliseconds, or its peak memory (MiB) with `memory`. `package` is copied into place first,
    untimed, for a run that expects it on disk."""
    prefix = m.open_prefix(snapshot, m.work / "install")
    try:
        if package is not None:
            shutil.copyfile(package, prefix.c_path(PATCH))
        # Warms the loader and the desktop, the same for both sides of the pair.
        m.clock(prefix, "exit", harness.to_windows(m.exe), "/pi")
        if memory:
            value = m.peak_memory(prefix, command[0], *command[1:])
        else:
            value = m.clock(prefix, "exit", *command)
        version = installed_version(m, prefix)
        if version != UPGRADE:
            raise harness.HarnessError(f"{command} left the product at {version!r}")
        return value
    finally:
        prefix.close()


def install(m: Machine, rounds: int, snapshot: Path) -> Figure:
    """/q against copying the package and running msiexec /p /qn, which is what /q does besides
    starting; msiexec /p alone and /q with the small package beside them."""
    quiet = Series("/q", "ms")
    fair = Series("copy the package + msiexec /p /qn", "ms")
    msiexec = Series("msiexec /p /qn alone (package already on disk)", "ms")
    small = Series("/q with the 4.5 KB sample package", "ms")
    alternate(rounds,
              (lambda: install_run(m, snapshot, harness.to_windows(m.big_exe), "/q"), quiet),
              (lambda: install_run(m, snapshot, *copy_then_msiexec(m.big_package)), fair),
              (lambda: install_run(m, snapshot, MSIEXEC, "/p", PATCH, "/qn",
                                   package=m.big_package), msiexec),
              (lambda: install_run(m, snapshot, harness.to_windows(m.exe), "/q"), small))
    ratio = quiet.median / fair.median
    result = (f"{ratio:.2f}x copy + `msiexec /p`; {quiet.median / msiexec.median:.2f}x "
              f"`msiexec /p` alone")
    return Figure("install run (24.6 MB)", [quiet, fair, msiexec, small], result,
                  "at most 1.05x copy + `msiexec /p /qn`", ratio <= 1.05)


# The packages of the growth row: the label the bench build gives them and how they are named.
PACKAGE_SIZES = (("sample", "4.5 KB"), ("24m", "24.6 MB"), ("100m", "100 MiB"),
                 ("400m", "400 MiB"))
ALIGNMENTS = (512, 4096)
PRODUCT_ALIGNMENT = 4096


@dataclasses.dataclass
class GrowthRow:
    """One package size at one file alignment: times over the rounds, peak memory of one run."""
    package: str
    size: int  # bytes of the package
    alignment: int
    plain: Series  # /pi
    extract: Series  # /e out.msp
    quiet: Series  # /q, the product patched
    peer: Series  # copy the package + msiexec /p /qn
    limit: Series  # the write limit at this size
    check: Series  # reading the written package back and comparing it
    memory: dict[str, float]  # peak MiB by mode

    @property
    def writing(self) -> Series:
        return Series('"/e" beyond "/pi"', "ms",
                      [e - p for e, p in zip(self.extract.values, self.plain.values)])


def growth_of_package(m: Machine, rounds: int, snapshot: Path, label: str,
                      name: str) -> list[GrowthRow]:
    prefix = m.prefix
    package = m.growth_package(label)
    times = {a: (Series("/pi", "ms"), Series("/e", "ms"), Series("/q", "ms")) for a in ALIGNMENTS}
    peer, limit = Series("copy + msiexec", "ms"), Series("write limit", "ms")
    check = Series("read back and compare", "ms")

    def timed(exe: str, *args: str):
        def run():
            m.clean(prefix)
            return m.clock(prefix, "exit", exe, *args)
        return run


    runs = []
    for alignment, (plain, extract, quiet) in times.items():
        exe = harness.to_windows(m.growth_exe(label, alignment))
        runs += [(timed(exe, "/pi"), plain), (timed(exe, "/e", OUT), extract),
                 (lambda exe=exe: install_run(m, snapshot, exe, "/q"), quiet)]
    runs += [(lambda: install_run(m, snapshot, *copy_then_msiexec(package)), peer),
             (write_limit_run(m, package, limit, check), None)]
    alternate(rounds, *runs)
    rows = []
    for alignment, (plain, extract, quiet) in times.items():
        exe = m.growth_exe(label, alignment)
        m.clean(prefix)
        memory = {"/pi": m.peak_memory(prefix, exe, "/pi"),
                  "/e": m.peak_memory(prefix, exe, "/e", OUT),
                  "/q": install_run(m, snapshot, harness.to_windows(exe), "/q", memory=True)}
        rows.append(GrowthRow(name, package.stat().st_size, alignment, plain, extract, quiet,
                              peer, limit, check, memory))
    return rows


def cell(series: Series, size: int) -> str:
    """Median and spread, and the median per MB (10^6 bytes) where the package is large."""
    text = series.text(1)
    if size >= 1_000_000:
        text += f"<br>{series.median / (size / 1e6):.3f} ms/MB"
    return text


def growth_table(rows: list[GrowthRow]) -> list[str]:
    lines = ["| package | file alignment | \"/pi\" | \"/e\" beyond \"/pi\" | write limit | "
             "\"/q\" | copy + `msiexec /p /qn` | read back and compare | peak RSS: /pi, /e, /q |",
             "|---|---|---|---|---|---|---|---|---|"]
    for r in rows:
        memory = ", ".join(f"{r.memory[mode]:.1f}" for mode in ("/pi", "/e", "/q"))
        lines.append(f"| {r.package} | {r.alignment} | {cell(r.plain, r.size)} | "
                     f"{cell(r.writing, r.size)} | {cell(r.limit, r.size)} | "
                     f"{cell(r.quiet, r.size)} | {cell(r.peer, r.size)} | "
                     f"{cell(r.check, r.size)} | {memory} MiB |")
    return lines


def growth_goals(rows: list[GrowthRow]) -> list[Figure]:
    """The goals at the largest package, for the alignment the product is linked with."""
    (r,) = [r for r in rows if r.package == PACKAGE_SIZES[-1][1]
            and r.alignment == PRODUCT_ALIGNMENT]
    quiet = r.quiet.median / r.peer.median
    writing = r.writing.median / r.limit.median
    return [
        Figure(f"growth: /q ({r.package})", [r.quiet, r.peer, r.check],
               f"{quiet:.2f}x copy + `msiexec /p`; the read-back check "
               f"{r.check.median / r.quiet.median:.0%} of /q",
               "at most 1.5x copy + `msiexec /p /qn`", quiet <= 1.5),
        Figure(f"growth: /pi memory ({r.package})",
               [Series("/pi peak RSS", "MiB", [r.memory["/pi"]])],
               f"{r.memory['/pi']:.1f} MiB", "at most 32 MiB", r.memory["/pi"] <= 32.0),
        Figure(f"growth: /e ({r.package})", [r.writing, r.limit],
               f"{writing:.2f}x the write limit", "at most 2x the write limit",
               0 < writing <= 2.0),
    ]


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
    """The iostream, locale, formatting and narrow-string members of the C++ library the link
    pulled in."""
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
    ok = overheads[0] <= OVERHEAD_GOAL and imports <= SYSTEM_DLLS and not heavy
    result = (f"{overheads[0]:,} bytes with the sample, {overheads[1]:,} with the 24.6 MB "
              f"package; imports {', '.join(sorted(imports))}; iostream, locale and narrow-string code: "
              f"{', '.join(heavy) or 'none'}")
    return Figure("launcher overhead", [overhead], result,
                  "at most 160 KiB (163,840 bytes) with the sample, system DLLs only",
                  ok), sections


def icon_entries(exe: Path) -> list[tuple[int, str, int]]:
    """The images of the icon group: side, stored format and bytes."""
    pe = pefile.PE(str(exe), fast_load=True)
    pe.parse_data_directories(
        directories=[pefile.DIRECTORY_ENTRY["IMAGE_DIRECTORY_ENTRY_RESOURCE"]])
    found = []
    for kind in pe.DIRECTORY_ENTRY_RESOURCE.entries:
        if kind.id != pefile.RESOURCE_TYPE["RT_ICON"]:
            continue
        for entry in kind.directory.entries:
            data_entry = entry.directory.entries[0].data.struct
            data = pe.get_data(data_entry.OffsetToData, data_entry.Size)
            if data.startswith(b"\x89PNG"):
                side, form = int.from_bytes(data[16:20], "big"), "PNG"
            else:
                side, form = int.from_bytes(data[4:8], "little"), \
                    f"DIB, {int.from_bytes(data[14:16], 'little')} bits"
            found.append((side, form, len(data)))
    return sorted(found)


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
                  seconds: float, growth_rows=(), icons=()) -> str:
    lines = [BEGIN, "",
             f"Measured {started:%Y-%m-%d %H:%M} UTC on {machine_text()}, by "
             f"`tools/bench.sh --rounds {rounds}` in {seconds / 60:.1f} minutes: {rounds} timed "
             f"rounds after one warm-up round ({EXTRACTION_ROUNDS * rounds} for extraction), the "
             f"sides of each pair in alternation.", ""]
    lines += figure_rows(figures)
    if growth_rows:
        lines += ["", "Growth with the package's size (the two large packages with a third of "
                  "the rounds; peak memory from one run each):", ""]
        lines += growth_table(list(growth_rows))
    if icons:
        lines += ["", "Icon images of servicepack.exe:", "", "| side | stored as | bytes |",
                  "|---|---|---|"]
        lines += [f"| {side} | {form} | {size:,} |" for side, form, size in icons]
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


def progress(text: str, clock_start: float) -> None:
    """A line on standard error as each figure is done: the whole run takes a while."""
    print(f"[{(time.monotonic() - clock_start) / 60:5.1f} min] {text}", file=sys.stderr,
          flush=True)


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
    rows: list[GrowthRow] = []
    try:
        machine = Machine(args.build.resolve(), work)
        overhead, sections = launcher_overhead(machine)
        icons = icon_entries(machine.exe)
        snapshot = installed_snapshot(machine)
        # Extraction is a difference of two runs of about 80 ms, each spread by 10 ms or more,
        # for a cost of about 10 ms: it takes three times the rounds (half a minute each).
        steps = [lambda: [extraction(machine, EXTRACTION_ROUNDS * args.rounds)],
                 lambda: [no_copy(machine, args.rounds, machine.exe, machine.package,
                                  "sample, 4.5 KB")],
                 lambda: [no_copy(machine, args.rounds, machine.big_exe, machine.big_package,
                                  "24.6 MB package")],
                 lambda: [overhead],
                 lambda: [information(machine, args.rounds)],
                 lambda: [install(machine, args.rounds, snapshot)]]
        figures = []
        for step in steps:
            figures += step()
            progress(f"{figures[-1].name}: {figures[-1].result}", clock_start)
        for label, name in PACKAGE_SIZES:
            rows += growth_of_package(machine, args.rounds if label in ("sample", "24m") else
                                      max(2, args.rounds // 3), snapshot, label, name)
            progress(f"growth at {name}", clock_start)
        figures += [*growth_goals(rows), *growth(machine, args.rounds)]
    finally:
        if machine:
            machine.close()
        shutil.rmtree(work, ignore_errors=True)
    part = measured_part(figures, sections, args.rounds, started, time.monotonic() - clock_start,
                         rows, icons)
    write_document(args.out, part)
    print("\n".join(figure_rows(figures) + [""] + growth_table(rows)))
    return 0


if __name__ == "__main__":
    sys.exit(main())
