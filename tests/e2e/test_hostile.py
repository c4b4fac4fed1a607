"""Hostile and broken surroundings of the real executable under Wine.

Each run must end by itself with exit status 0 and leave no process of the executable
behind; it must write nothing besides what the run is there to write (the temporary package,
the installer's log), and it must show what its rules say for the case: a temporary folder
that is a file, cannot be written or has links planted in it; lists of 10,000 product codes
or accepted versions; product names and version texts nobody would choose; and two runs at
the same time. Wine's own msi.dll serves where it can be made to answer the case; the
stand-in msi.dll where the case needs answers Wine's installer never gives.
"""

from __future__ import annotations

import os
import re
import subprocess
import time
from pathlib import Path

import pytest

import harness
from rc_strings import IDOK
from test_extract import temp_files
from test_install import ENGLISH, INSTALLED, PRODUCT, UPGRADE, installed_target, LOG
from test_install_standin import (ACCEPTED, CODES, LOG_OFF, Product, discovery_calls, message,
                                  patch_calls, split_record, temp_folder, write_script)
from test_summary import SAMPLE_CODE

ERROR_PATH_NOT_FOUND = 3
ERROR_ACCESS_DENIED = 5
MESSAGE_CAPACITY = 1023  # characters a box text can hold; the rest is cut off
BIG_COUNT = 10_000
BIG_TIMEOUT = 300.0  # 10,000 entries, every installer call recorded by the stand-in


# Runs and what they leave ---------------------------------------------------------------

def leftover_processes(prefix, exe: Path) -> list[int]:
    """Linux pids of processes of `exe` that still run in the prefix."""
    name = exe.name.lower().encode()
    marker = f"WINEPREFIX={prefix.path}".encode()
    found = []
    for entry in Path("/proc").iterdir():
        if not entry.name.isdigit():
            continue
        try:
            environment = (entry / "environ").read_bytes().split(b"\0")
            program = (entry / "cmdline").read_bytes().split(b"\0")[0]
        except OSError:
            continue
        if marker in environment and program.lower().endswith(b"\\" + name):
            found.append(int(entry.name))
    return found


def ends_by_itself(prefix, started) -> None:
    """The run ends without a further box, with exit status 0."""
    # A further box would keep the program waiting: name it rather than time out.
    while started.running():
        extra = prefix.boxes(pid=started.pid)
        assert not extra, f"a box more than expected: {extra[0].caption!r}, {extra[0].text!r}"
        time.sleep(0.05)
    assert started.wait() == 0


def finish(prefix, started, exe: Path) -> None:
    """The run ends by itself, with exit status 0 and nothing left running."""
    ends_by_itself(prefix, started)
    assert not leftover_processes(prefix, exe)


def next_box(prefix, started, timeout: float):
    """The run's next box; fails as soon as the run ends without one."""
    deadline = time.monotonic() + timeout
    while not (boxes := prefix.boxes(pid=started.pid)):
        assert started.running(), f"the run ended before the box expected: {started.output()!r}"
        assert time.monotonic() < deadline, f"no box within {timeout} s"
        time.sleep(0.05)
    return boxes[0]


def answer_boxes(prefix, started, count: int, timeout: float = 20.0) -> list[tuple[str, str]]:
    """Caption and text of the next `count` boxes of the run, each answered with OK."""
    shown = []
    for _ in range(count):
        box = next_box(prefix, started, timeout)
        assert box.buttons == [IDOK]
        shown.append((box.caption, box.text))
        prefix.answer(box, IDOK)
    return shown


def run_install(prefix, exe: Path, count: int, env: dict | None = None, native_msi=False,
                timeout: float = 20.0) -> list[tuple[str, str]]:
    """One install-mode run that shows `count` boxes; gives them in order."""
    started = prefix.start(exe, env=env, lc_all=ENGLISH, native_msi=native_msi,
                           timeout=BIG_TIMEOUT)
    shown = answer_boxes(prefix, started, count, timeout)
    finish(prefix, started, exe)
    return shown


def snapshot(prefix) -> dict[str, tuple]:
    """Every object of drive C outside the Windows folder (links as links), by path.

    The Windows folder is the installer's: it caches each package it applies there.
    """
    found = {}
    for path in prefix.drive_c.rglob("*"):
        relative = path.relative_to(prefix.drive_c)
        if relative.parts[0] == "windows":
            continue
        if path.is_symlink():
            found[str(relative)] = ("link", os.readlink(path))
        elif path.is_dir():
            found[str(relative)] = ("folder",)
        else:
            found[str(relative)] = ("file", path.read_bytes())
    return found


def changes(before: dict, after: dict) -> dict[str, list[str]]:
    return {"added": sorted(set(after) - set(before)),
            "removed": sorted(set(before) - set(after)),
            "changed": sorted(p for p in set(before) & set(after) if before[p] != after[p])}


def temp_relative(prefix, name: str) -> str:
    return str((prefix.default_temp() / name).relative_to(prefix.drive_c))


# The temporary folder ---------------------------------------------------------------------

def test_tmp_naming_a_file_stops_the_run_with_nothing_written(machine, servicepack_exe,
                                                               summary_probe, sample_package):
    # Something exists under that name, so it is the folder of the temporary name; a file
    # cannot hold one, and the run stops before the package is read.
    machine.c_path(r"C:\not a folder").write_bytes(b"a file, not a folder")
    before = snapshot(machine)

    shown = run_install(machine, servicepack_exe, 1, env={"TMP": r"C:\not a folder"})

    assert shown == [message(300, error=ERROR_PATH_NOT_FOUND)]
    assert changes(before, snapshot(machine)) == {"added": [], "removed": [], "changed": []}
    assert installed_target(machine, summary_probe, sample_package)[2] == INSTALLED


def test_planted_folder_and_links_are_passed_over_and_never_followed(
        machine, servicepack_exe, summary_probe, sample_package):
    temp = machine.default_temp()
    (temp / "MSP1").mkdir()
    (temp / "MSP1" / "inside").write_bytes(b"left alone")
    victim = machine.c_path(r"C:\victim.txt")
    victim.write_bytes(b"must stay as it is")
    machine.c_path(r"C:\victim folder").mkdir()
    (temp / "MSP2").symlink_to(victim)
    (temp / "MSP3").symlink_to(machine.c_path(r"C:\never created"))  # dangling
    (temp / "MSP4").symlink_to(machine.c_path(r"C:\victim folder"))
    before = snapshot(machine)

    started = machine.start(servicepack_exe, lc_all=ENGLISH)
    box = next_box(machine, started, 20.0)
    # While the run holds it, the package lies at the first free number, and no link has
    # been written through (the run deletes its package by name at the end, which would
    # take a file written through a link with it).
    assert sorted(temp_files(temp)) == [1, 2, 3, 4, 5]
    package = temp / "MSP5"
    assert not package.is_symlink() and package.read_bytes() == sample_package.read_bytes()
    assert not os.path.lexists(machine.c_path(r"C:\never created"))
    assert victim.read_bytes() == b"must stay as it is"
    assert (box.caption, box.text) == message(301, PRODUCT)
    machine.answer(box, IDOK)
    finish(machine, started, servicepack_exe)

    assert installed_target(machine, summary_probe, sample_package)[2] == UPGRADE
    assert changes(before, snapshot(machine)) == {
        "added": [temp_relative(machine, LOG)], "removed": [], "changed": []}


@pytest.fixture
def read_only_temp(prefix):
    """A temporary folder the run cannot create files in, or a skip saying why not here.

    As root a mode without write bits stops nothing; the immutable flag does, where the
    file system has it and the user may set it.
    """
    folder = prefix.c_path(r"C:\read only")
    folder.mkdir()
    folder.chmod(0o555)
    try:
        if _can_create_in(folder):
            subprocess.run(["chattr", "+i", str(folder)], capture_output=True)
        if _can_create_in(folder):
            pytest.skip("no way to make a folder read-only for this user on this file system")
        yield r"C:\read only"
    finally:
        subprocess.run(["chattr", "-i", str(folder)], capture_output=True)
        folder.chmod(0o755)


def _can_create_in(folder: Path) -> bool:
    probe = folder / "probe"
    try:
        probe.write_bytes(b"")
    except OSError:
        return False
    probe.unlink()
    return True


def test_read_only_temporary_folder_stops_the_run(prefix, product_msi, read_only_temp,
                                                  servicepack_exe, summary_probe,
                                                  sample_package):
    prefix.install_msi(product_msi)
    before = snapshot(prefix)

    shown = run_install(prefix, servicepack_exe, 1, env={"TMP": read_only_temp})

    assert shown == [message(300, error=ERROR_ACCESS_DENIED)]
    assert changes(before, snapshot(prefix)) == {"added": [], "removed": [], "changed": []}
    assert installed_target(prefix, summary_probe, sample_package)[2] == INSTALLED


# 10,000 entries -----------------------------------------------------------------------------

def many_codes(count: int) -> list[str]:
    return [f"{{{i:08X}-2B3C-4D5E-8F60-718293A4B5C6}}" for i in range(count)]


def test_template_of_10000_product_codes(standin, servicepack_exe, sample_package):
    # Only the last one is installed: every code before it is asked about and passed over.
    codes = many_codes(BIG_COUNT)
    product = Product(codes[-1], "Corvane Last")
    write_script(standin, [product], template=";".join(codes))

    shown = run_install(standin, servicepack_exe, 1, native_msi=True, timeout=BIG_TIMEOUT)

    assert shown == [message(301, product.name)]
    package, rest = split_record(standin, standin.standin_calls())
    log = f"{temp_folder(standin)}{product.name}.log"
    assert rest == (discovery_calls(codes, [product]) +
                    patch_calls(product, package, log, sample_package.read_bytes()) + [LOG_OFF])


def test_keywords_of_10000_accepted_versions(standin, servicepack_exe, sample_package):
    accepted = [f"14.{i // 100}.{i % 100}.0" for i in range(BIG_COUNT - 1)] + [ACCEPTED]
    # The first is accepted by the last entry; the second by none, after all 10,000 are read.
    products = [Product(CODES[0], "Corvane Accepted"),
                Product(CODES[1], "Corvane Other", version="16.0.0.0")]
    write_script(standin, products, keywords=f"{UPGRADE};" + "".join(v + "," for v in accepted))

    shown = run_install(standin, servicepack_exe, 2, native_msi=True, timeout=BIG_TIMEOUT)

    assert shown == [message(301, products[0].name), message(308, products[1].name)]
    package, rest = split_record(standin, standin.standin_calls())
    log = f"{temp_folder(standin)}{products[0].name}.log"
    assert rest == (discovery_calls(CODES[:2], products) +
                    patch_calls(products[0], package, log, sample_package.read_bytes()) +
                    [LOG_OFF])


# Names and versions -------------------------------------------------------------------------

NAMES = {
    # The longest name the 1,024-character read holds: the box text is cut at its limit, and
    # the log path does not fit its 260 characters, so the installer logs to no file.
    "1023 characters": ("N" * 1023, "N" * 1023, None),
    # One more does not fit the read, which then gives no name at all.
    "1024 characters": ("N" * 1024, "", ".log"),
    "empty": ("", "", ".log"),
    # Characters other programs take for line ends: the box and the log keep them.
    "line separators": ("A\u2028B\u0085C", "A\u2028B\u0085C", "A\u2028B\u0085C.log"),
}


@pytest.mark.parametrize("name,shown_name,log", NAMES.values(), ids=NAMES.keys())
def test_unusual_product_names(standin, servicepack_exe, sample_package, name, shown_name,
                               log):
    # The same name twice: the first product is patched (its log is named), the second is at
    # a version the patch does not accept, and its report names the product.
    patched = Product(CODES[0], name)
    other = Product(CODES[1], name, version="9.9.9.9")
    write_script(standin, [patched, other])

    shown = run_install(standin, servicepack_exe, 2, native_msi=True)

    caption, text = message(308, shown_name)
    assert shown == [message(301, shown_name), (caption, text[:MESSAGE_CAPACITY])]
    package, rest = split_record(standin, standin.standin_calls())
    log_path = f"{temp_folder(standin)}{log}" if log else None
    assert rest == (discovery_calls(CODES[:2], [patched, other]) +
                    patch_calls(patched, package, log_path, sample_package.read_bytes()) +
                    [LOG_OFF])


def rename_product(prefix, code: str, name: str) -> None:
    """Registers another ProductName for an installed product, any characters included.

    A .reg file carries the value as UTF-16 bytes, which no command line or MSI source could.
    """
    data = (name + "\0").encode("utf-16-le")
    key = rf"HKEY_LOCAL_MACHINE\Software\Classes\Installer\Products\{harness.packed_guid(code)}"
    text = (f"Windows Registry Editor Version 5.00\r\n\r\n[{key}]\r\n"
            f'"ProductName"=hex(1):{",".join(f"{b:02x}" for b in data)}\r\n')
    prefix.c_path(r"C:\name.reg").write_text(text, encoding="utf-16")
    prefix.wine("regedit", "/s", r"C:\name.reg")
    prefix.c_path(r"C:\name.reg").unlink()


def test_name_of_every_character_a_file_name_forbids(machine, servicepack_exe, summary_probe,
                                                     sample_package):
    # With Wine's own installer: the stand-in's script is read by lines, and this name holds
    # a line break. Each forbidden character becomes '_', and so does the final '.', which
    # Windows would drop.
    name = "".join(map(chr, range(1, 0x20))) + '\\/:*?"<>|.'
    rename_product(machine, SAMPLE_CODE, name)
    temp = machine.default_temp()
    before = snapshot(machine)

    assert run_install(machine, servicepack_exe, 1) == [message(301, name)]

    assert installed_target(machine, summary_probe, sample_package)[2] == UPGRADE
    log = "_" * 41 + ".log"
    assert changes(before, snapshot(machine)) == {
        "added": [temp_relative(machine, log)], "removed": [], "changed": []}
    assert (temp / log).stat().st_size > 0


def test_versions_in_other_scripts_digits_read_as_zero(standin, servicepack_exe,
                                                       sample_package):
    # Only ASCII digits count. The accepted version in Arabic-Indic digits and the upgrade
    # version in full-width digits both read as 0.0.0.0, which the patch neither accepts nor
    # counts as done; a last part in Devanagari digits reads as 0, which here is accepted.
    products = [Product(CODES[0], "Corvane Arabic", version="١٥.٠.١٠٦.٠"),
                Product(CODES[1], "Corvane Wide", version="１５.０.２０５.０"),
                Product(CODES[2], "Corvane Devanagari", version="15.0.106.०")]
    write_script(standin, products)

    shown = run_install(standin, servicepack_exe, 3, native_msi=True)

    assert shown == [message(308, products[0].name), message(308, products[1].name),
                     message(301, products[2].name)]
    package, rest = split_record(standin, standin.standin_calls())
    log = f"{temp_folder(standin)}{products[2].name}.log"
    assert rest == (discovery_calls(CODES[:3], products) +
                    patch_calls(products[2], package, log, sample_package.read_bytes()) +
                    [LOG_OFF])


# Two runs at once -----------------------------------------------------------------------------

def test_two_runs_at_once_use_their_own_packages_and_report_their_own_outcomes(
        standin, servicepack_exe, sample_package):
    # Each run has its own script and record, so each meets its own product and result.
    runs = {"a": (Product(CODES[0], "Corvane Alpha"), 1603, 300),
            "b": (Product(CODES[1], "Corvane Beta"), 3010, 301)}
    started = {}
    for key, (product, result, _) in runs.items():
        write_script(standin, [product], results=[result])
        script = standin.c_path(rf"C:\standin\script-{key}.txt")
        standin.c_path(r"C:\standin\script.txt").rename(script)
    for key in runs:
        started[key] = standin.start(servicepack_exe, lc_all=ENGLISH, native_msi=True, env={
            "STANDIN_MSI_SCRIPT": rf"C:\standin\script-{key}.txt",
            "STANDIN_MSI_LOG": rf"C:\standin\calls-{key}.txt"})

    # Both wait in their report at the same time, each still holding its own package.
    boxes = {key: next_box(standin, run, 20.0) for key, run in started.items()}
    held = temp_files(standin.default_temp())
    assert len(held) == 2
    assert all(p.read_bytes() == sample_package.read_bytes() for p in held.values())
    for key, (product, result, report) in runs.items():
        assert (boxes[key].caption, boxes[key].text) == message(report, product.name, result)
        standin.answer(boxes[key], IDOK)
    # Only when both have ended: the other run may still be on its way out.
    for run in started.values():
        ends_by_itself(standin, run)
    assert not leftover_processes(standin, servicepack_exe)

    packages = set()
    for key, (product, _, _) in runs.items():
        calls = standin.standin_calls(rf"C:\standin\calls-{key}.txt")
        package, rest = split_record(standin, calls)
        packages.add(package)
        log = f"{temp_folder(standin)}{product.name}.log"
        assert rest == (discovery_calls([product.code], [product]) +
                        patch_calls(product, package, log, sample_package.read_bytes()) +
                        [LOG_OFF])
    assert {re.sub(r".*\\", "", p) for p in packages} == {p.name for p in held.values()}
    assert not temp_files(standin.default_temp())
