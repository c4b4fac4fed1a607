"""Install mode in a temporary folder that other users can write, under Wine with Wine's own
msi.dll: what is planted at the installer's log name is never written through, device names and
repeated names still give each product a log file of its own, and a ';' in the folder's path
never makes the installer read another package than the one the run holds.
"""

from __future__ import annotations

import re
import subprocess

import pytest

import harness
from test_hostile import changes, rename_product, run_install, snapshot, temp_relative
from test_install import INSTALLED, OTHER_CODE, PRODUCT, UPGRADE, installed_target, LOG
from test_install_standin import message
from test_messages import SOURCE_DIR
from test_summary import SAMPLE_CODE, probe

VICTIM = r"C:\windows\victim.ini"
VICTIM_BYTES = b"[settings]\r\nowner=system\r\n"


def patched(prefix, summary_probe, sample_package) -> bool:
    return installed_target(prefix, summary_probe, sample_package)[2] == UPGRADE


def installed_versions(prefix, summary_probe, sample_package) -> dict[str, str]:
    """Installed version of every target product of the sample package, by product code."""
    fields = probe(prefix, summary_probe, "discover", harness.to_windows(sample_package))
    targets = [t.split("|")[:3] for t in fields.get("target", [])]
    return {code: version for code, _, version in targets}


def log_lines(path) -> str:
    return path.read_text(encoding="latin-1")


# What is planted at the log's name -------------------------------------------------------

def test_link_at_the_log_name_is_never_written_through(machine, servicepack_exe, summary_probe,
                                                       sample_package):
    victim = machine.c_path(VICTIM)
    victim.write_bytes(VICTIM_BYTES)
    log = machine.default_temp() / LOG
    log.symlink_to(victim)

    assert run_install(machine, servicepack_exe, 1) == [message(301, PRODUCT)]

    assert patched(machine, summary_probe, sample_package)
    assert victim.read_bytes() == VICTIM_BYTES
    # Either the link made way for a log file of the run's own, or there is no log file.
    if log.is_symlink():
        assert log.resolve() == victim.resolve()
    else:
        assert log.is_file() and "Corvane" in log_lines(log)


def test_dangling_link_at_the_log_name_creates_nothing(machine, servicepack_exe, summary_probe,
                                                       sample_package):
    target = machine.c_path(r"C:\windows\created-by-the-log.txt")
    log = machine.default_temp() / LOG
    log.symlink_to(target)

    assert run_install(machine, servicepack_exe, 1) == [message(301, PRODUCT)]

    assert patched(machine, summary_probe, sample_package)
    assert not target.exists()
    assert log.is_symlink() or log.is_file()


def test_folder_of_the_log_name_gives_way_to_the_product_codes_log(
        machine, servicepack_exe, summary_probe, sample_package):
    folder = machine.default_temp() / LOG
    folder.mkdir()
    (folder / "inside").write_bytes(b"left alone")
    before = snapshot(machine)

    assert run_install(machine, servicepack_exe, 1) == [message(301, PRODUCT)]

    assert patched(machine, summary_probe, sample_package)
    log = f"{PRODUCT} {SAMPLE_CODE}.log"
    assert changes(before, snapshot(machine)) == {
        "added": [temp_relative(machine, log)], "removed": [], "changed": []}
    assert SAMPLE_CODE in log_lines(machine.default_temp() / log)


# Names that are no file names, and one name twice -----------------------------------------

@pytest.mark.parametrize("name", ["NUL", "COM1"])
def test_product_with_a_device_name_gets_a_log_file(prefix, servicepack_exe, summary_probe,
                                                    sample_package, product_variant, name):
    prefix.install_msi(product_variant(name=name))
    before = snapshot(prefix)

    assert run_install(prefix, servicepack_exe, 1) == [message(301, name)]

    assert patched(prefix, summary_probe, sample_package)
    log = prefix.default_temp() / f"_{name}.log"
    assert changes(before, snapshot(prefix)) == {
        "added": [temp_relative(prefix, log.name)], "removed": [], "changed": []}
    assert SAMPLE_CODE in log_lines(log)


@pytest.fixture(scope="session")
def twin_msi(run_dir):
    """A second product named like the sample, of the same family (upgrade code), with a code
    the sample package also lists."""
    source = harness.SAMPLE_PRODUCT_WXS.read_text(encoding="utf-8")
    replacements = {SAMPLE_CODE: OTHER_CODE,
                    "{6A1F0C3B-2D4E-4B5A-9C8D-7E6F5A4B3C21}": "{4C6E8A02-B4D6-4F8A-9C2E-5A7C9E1B3D46}",
                    r"Software\Corvane Sample": r"Software\Corvane Sample Twin"}
    for old, new in replacements.items():
        assert old in source
        source = source.replace(old, new)
    wxs = run_dir / "twin.wxs"
    wxs.write_text(source, encoding="utf-8")
    msi = wxs.with_suffix(".msi")
    subprocess.run(["wixl", "-a", "x64", "-o", str(msi), str(wxs)], check=True,
                   capture_output=True, timeout=120)
    return msi


def test_two_products_of_one_name_get_a_log_each(machine, twin_msi, servicepack_exe,
                                                 summary_probe, sample_package):
    machine.install_msi(twin_msi)
    temp = machine.default_temp()

    # The twin comes first in the package's template: its log keeps the plain name.
    assert run_install(machine, servicepack_exe, 2) == [message(301, PRODUCT)] * 2

    # The patch has a transform for each product it lists: both are patched.
    assert installed_versions(machine, summary_probe, sample_package) == {
        OTHER_CODE: UPGRADE, SAMPLE_CODE: UPGRADE}
    logs = {OTHER_CODE: temp / f"{PRODUCT}.log", SAMPLE_CODE: temp / f"{PRODUCT} {SAMPLE_CODE}.log"}
    for code, log in logs.items():
        other = SAMPLE_CODE if code == OTHER_CODE else OTHER_CODE
        lines = log_lines(log)
        assert re.search(rf"ProductCode = {re.escape(code)}", lines), log.name
        assert not re.search(rf"ProductCode = {re.escape(other)}", lines), log.name


def test_a_read_only_stale_log_is_replaced_by_the_runs_own(machine, servicepack_exe,
                                                          summary_probe, sample_package):
    # Anyone can leave a read-only log in a shared temporary folder; it must not silence every
    # later run's log and keep saying what it says.
    log = machine.default_temp() / LOG
    log.write_bytes(b"planted: the last run failed\r\n")
    log.chmod(0o444)

    assert run_install(machine, servicepack_exe, 1) == [message(301, PRODUCT)]

    assert patched(machine, summary_probe, sample_package)
    lines = log_lines(log)
    assert "planted" not in lines
    assert SAMPLE_CODE in lines


def test_case_twins_beyond_latin_keep_a_log_each(machine, twin_msi, servicepack_exe,
                                                 summary_probe, sample_package):
    # Cyrillic names that differ only in case are one file name to the file system: the
    # second product's log must not take the first one's place.
    machine.install_msi(twin_msi)
    names = {OTHER_CODE: "КОРВЕЙН", SAMPLE_CODE: "корвейн"}
    for code, name in names.items():
        rename_product(machine, code, name)
    temp = machine.default_temp()

    # The twin comes first in the package's template: its log keeps the plain name.
    shown = run_install(machine, servicepack_exe, 2)

    assert shown == [message(301, names[OTHER_CODE]), message(301, names[SAMPLE_CODE])]
    logs = {OTHER_CODE: temp / "КОРВЕЙН.log", SAMPLE_CODE: temp / f"корвейн {SAMPLE_CODE}.log"}
    assert sorted(p.name for p in temp.glob("*.log")) == sorted(p.name for p in logs.values())
    for code, log in logs.items():
        assert re.search(rf"ProductCode = {re.escape(code)}", log_lines(log)), log.name


# TMP as typed -----------------------------------------------------------------------------

def test_tmp_with_a_trailing_space_patches_the_product(machine, servicepack_exe, summary_probe,
                                                       sample_package):
    # `set TMP=C:\Deploy\Temp & servicepack.exe` keeps the space before the '&'. Windows drops
    # it when it resolves the folder's name, but not inside "C:\Deploy\Temp \MSP1".
    folder = machine.c_path(r"C:\Deploy\Temp")
    folder.mkdir(parents=True)

    shown = run_install(machine, servicepack_exe, 1, env={"TMP": "C:\\Deploy\\Temp "})

    assert shown == [message(301, PRODUCT)]
    assert patched(machine, summary_probe, sample_package)
    # The package lay in that folder and is gone; the installer's log is there too.
    assert [p.name for p in folder.iterdir()] == [LOG]


# A ';' in the temporary folder's path ------------------------------------------------------

def make_patch(path, to_version: str) -> None:
    subprocess.run(["/usr/bin/python3", str(SOURCE_DIR / "tools" / "make_msp.py"), "-o", str(path),
                    "--transform", "--product-code", SAMPLE_CODE,
                    "--upgrade-code", "{8E4C2B19-5A73-4D6F-B1E8-2C9A7F3D0E64}",
                    "--patch-code", "{E1F2A3B4-C5D6-4E7F-8A9B-0C1D2E3F4A5B}",
                    "--from-version", INSTALLED, "--to-version", to_version],
                   check=True, capture_output=True, timeout=60)


@pytest.mark.parametrize("tmp,planted", [(r"C:\a;b", None), ("C:\\x;", r"C:\x")],
                         ids=["a;b", "x;"])
def test_semicolon_in_the_temporary_folder_still_applies_the_held_package(
        machine, servicepack_exe, summary_probe, sample_package, tmp, planted):
    machine.c_path(tmp).mkdir()
    if planted:
        # Another valid patch where the installer would look if it split PATCH at the ';'.
        make_patch(machine.c_path(planted), "15.0.999.0")

    shown = run_install(machine, servicepack_exe, 1, env={"TMP": tmp})

    # Every folder has a short name without ';' under Wine: the package is applied by it.
    # (Where a volume keeps no short names the run reports 300 with 123 instead.)
    assert shown == [message(301, PRODUCT)]
    assert installed_target(machine, summary_probe, sample_package)[2] == UPGRADE
    # TMP is the temporary directory for the log too; the package was deleted at the end.
    assert [p.name for p in machine.c_path(tmp).iterdir()] == [LOG]
