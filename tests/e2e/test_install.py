"""Install mode of the real executable under Wine, with Wine's own msi.dll as the installer.

The sample product is built with wixl and installed with msiexec at the version the embedded
sample patch accepts; variants of it (another version, another name, the same product code)
are built from the same source. Wine's installer answers 0 to nearly every configure call,
so whether the patch was applied is read back from the installer (the product's version),
never taken from the box alone.
"""

from __future__ import annotations

import re
from pathlib import Path

import pytest

import harness
import rc_strings
from rc_strings import IDCANCEL, IDOK, IDRETRY
from test_extract import temp_files
from test_messages import App, table
from test_summary import SAMPLE_CODE, place, probe

PRODUCT = "Corvane Sample"
INSTALLED = "15.0.106.0"
UPGRADE = "15.0.205.0"
USER_CANCELLED = 1602
OTHER_CODE = "{0B1C2D3E-4F50-4617-8293-A4B5C6D7E8F9}"
ENGLISH = "en_US.UTF-8"


def installed_target(prefix, summary_probe, sample_package) -> list[str] | None:
    """code, name, installed version of the sample patch's target as the installer sees it."""
    fields = probe(prefix, summary_probe, "discover", harness.to_windows(sample_package))
    targets = [t.split("|")[:3] for t in fields.get("target", [])]
    assert len(targets) <= 1, targets
    return targets[0] if targets else None


# The log file the installer is given for the sample product: its name is a file name as it is.
LOG = f"{PRODUCT}.log"


def windows_path(prefix, path: Path) -> str:
    return "C:\\" + "\\".join(path.relative_to(prefix.drive_c).parts)


def expect_box(prefix, started, message_id: int, locale: str = ENGLISH,
               product: str = PRODUCT, error: int = 0) -> None:
    """The next box is catalogued message `message_id`; it is answered with OK."""
    box = prefix.wait_box(pid=started.pid)
    assert (box.caption, box.text) == rc_strings.expected_message(
        table(locale), message_id, product, error), f"expected message {message_id}"
    assert box.buttons == [IDOK]
    prefix.answer(box, IDOK)


def expect_prompt(prefix, started):
    box = prefix.wait_box(pid=started.pid)
    assert (box.caption, box.text) == rc_strings.expected_prompt(table(ENGLISH), "dmill.exe")
    assert sorted(box.buttons) == sorted([IDRETRY, IDCANCEL])
    return box


def run_install(prefix, exe, *message_ids: int, locale: str = ENGLISH, **box_args) -> None:
    """One run without options that shows exactly these boxes, each answered with OK."""
    started = prefix.start(exe, lc_all=locale)
    for message_id in message_ids:
        expect_box(prefix, started, message_id, locale, **box_args)
    assert started.wait() == 0


def test_run_patches_logs_and_cleans_up_then_a_second_run_is_up_to_date(
        machine, servicepack_exe, summary_probe, sample_package):
    temp = machine.default_temp()
    run_install(machine, servicepack_exe, 301)
    assert installed_target(machine, summary_probe, sample_package) == [
        SAMPLE_CODE, PRODUCT, UPGRADE]
    log = temp / LOG
    assert not temp_files(temp)
    # The command line as the installer took it: the package by its absolute path.
    properties = dict(re.findall(r"^Property\(S\): (\w+) = (.*?)\r?$",
                                 log.read_text(encoding="latin-1"), re.M))
    assert re.fullmatch(re.escape(windows_path(machine, temp)) + r"\\MSP[1-9][0-9]*",
                        properties["PATCH"]), properties["PATCH"]
    assert properties["REBOOTPROMPT"] == "S"
    assert properties["FILESINUSETEXT"] == table(ENGLISH)[320]

    # Already at the upgrade version: no configure call (the log stays as it was), one 306.
    logged = log.read_bytes()
    run_install(machine, servicepack_exe, 306)
    assert installed_target(machine, summary_probe, sample_package)[2] == UPGRADE
    assert log.read_bytes() == logged
    assert not temp_files(temp)


def test_version_the_patch_does_not_accept_shows_308(prefix, servicepack_exe, summary_probe,
                                                     sample_package, product_variant):
    prefix.install_msi(product_variant(version="15.0.100.0"))
    run_install(prefix, servicepack_exe, 308)
    assert installed_target(prefix, summary_probe, sample_package)[2] == "15.0.100.0"
    temp = prefix.default_temp()
    assert not (temp / LOG).exists()
    # The run reached its end: the package is gone all the same.
    assert not temp_files(temp)


def test_no_target_installed_shows_307_and_leaves_the_package(prefix, servicepack_exe,
                                                              sample_package):
    run_install(prefix, servicepack_exe, 307)
    left = temp_files(prefix.default_temp())
    assert len(left) == 1
    assert next(iter(left.values())).read_bytes() == sample_package.read_bytes()


# es_ES is Spain's modern sort (0x0C0A), not the table's traditional one (0x040A).
@pytest.mark.parametrize("locale", ["es_ES.UTF-8", *sorted(rc_strings.VARIANT_LANGUAGES),
                                    "de_DE.UTF-8", "ja_JP.UTF-8"])
def test_every_variant_of_a_tables_language_reads_that_table(shared_prefix, servicepack_exe,
                                                             locale):
    run_install(shared_prefix, servicepack_exe, 307, locale=locale)


def test_cancel_in_the_prompt_reports_1602_without_calling_the_installer(
        machine, servicepack_exe, summary_probe, sample_package, tools_dir):
    dmill = App(machine, tools_dir, "dmill.exe")
    started = machine.start(servicepack_exe, lc_all=ENGLISH)
    machine.answer(expect_prompt(machine, started), IDCANCEL)
    expect_box(machine, started, 300, error=USER_CANCELLED)
    assert started.wait() == 0
    dmill.stop()

    assert installed_target(machine, summary_probe, sample_package)[2] == INSTALLED
    temp = machine.default_temp()
    assert not (temp / LOG).exists()
    assert len(temp_files(temp)) == 1  # an early stop leaves the package


def test_quiet_shows_only_the_prompt_and_still_patches(machine, servicepack_exe, summary_probe,
                                                       sample_package, tools_dir):
    # Cancel in a quiet run: the prompt shows, the 300 after it does not.
    dmill = App(machine, tools_dir, "dmill.exe")
    started = machine.start(servicepack_exe, "/q", lc_all=ENGLISH)
    machine.answer(expect_prompt(machine, started), IDCANCEL)
    assert started.wait() == 0
    dmill.stop()
    assert installed_target(machine, summary_probe, sample_package)[2] == INSTALLED

    # Ends by itself: a result box would wait for an answer until the runner's timeout.
    result = machine.run(servicepack_exe, "/q", timeout=60)
    assert result.exit_code == 0, result.output
    assert installed_target(machine, summary_probe, sample_package)[2] == UPGRADE
    assert (machine.default_temp() / LOG).is_file()


@pytest.mark.parametrize("locale", ["de_DE.UTF-8", "ja_JP.UTF-8"])
def test_success_box_in_the_users_language(machine, servicepack_exe, summary_probe,
                                           sample_package, locale):
    run_install(machine, servicepack_exe, 301, locale=locale)
    assert installed_target(machine, summary_probe, sample_package)[2] == UPGRADE


def test_package_cannot_be_swapped_while_the_run_waits(machine, servicepack_exe, summary_probe,
                                                       sample_package, tools_dir):
    dmill = App(machine, tools_dir, "dmill.exe")
    started = machine.start(servicepack_exe, lc_all=ENGLISH)
    prompt = expect_prompt(machine, started)

    temp = machine.default_temp()
    (package,) = temp_files(temp).values()
    other = place(machine, "other.msp", template=OTHER_CODE)
    result = machine.run(tools_dir / "tamperer.exe", windows_path(machine, package), other)
    assert result.exit_code == 0
    fields = harness.output_fields(result.output)
    # Sharing violations (32) and the refused replacement (5): the hold is what stops them, not
    # a fault of the tamperer's own.
    assert (fields["write"], fields["replace"], fields["delete"]) == (
        ["fail error=32"], ["fail error=5"], ["fail error=32"]), result.output
    assert package.read_bytes() == sample_package.read_bytes()

    dmill.stop()
    machine.answer(prompt, IDRETRY)
    expect_box(machine, started, 301)
    assert started.wait() == 0
    assert installed_target(machine, summary_probe, sample_package)[2] == UPGRADE
    assert not temp_files(temp)
