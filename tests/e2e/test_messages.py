"""Catalogued messages and the running-application prompt through ui_probe.exe under Wine.

The expected texts are read from the resource scripts themselves and formatted the way the
catalog says; the program picks the string table from the user's language, which Wine takes
from LC_ALL. Buttons are compared by id: Wine labels them in the user's language.
"""

from __future__ import annotations

import os
from pathlib import Path

import pytest

import harness
import rc_strings
from rc_strings import IDCANCEL, IDOK, IDRETRY

PRODUCT = "Corvane Sample"
ERROR = 4316
LOCALES = ["en_US.UTF-8", "de_DE.UTF-8", "ja_JP.UTF-8", "ru_RU.UTF-8", "zh_CN.UTF-8",
           "nl_NL.UTF-8"]
APPS = r"C:\apps"
SOURCE_DIR = Path(os.environ.get("SERVICEPACK_SOURCE_DIR", Path(__file__).resolve().parents[2]))


def table(locale: str) -> dict[int, str]:
    return rc_strings.table(locale)


def probe_answer(started) -> str:
    assert started.wait(30) == 0
    return harness.output_fields(started.output())["answer"]


class App:
    """A stand-in for a watched application: a copy of sleeper.exe under its name."""

    def __init__(self, prefix, tools_dir: Path, exe_name: str, folder: str = APPS):
        self.prefix = prefix
        target = prefix.c_path(folder) / exe_name
        target.parent.mkdir(parents=True, exist_ok=True)
        target.write_bytes((tools_dir / "sleeper.exe").read_bytes())
        self.stop_file = prefix.c_path(folder) / f"stop-{exe_name}"
        self.process = prefix.start(f"{folder}\\{exe_name}", f"{folder}\\stop-{exe_name}",
                                    "300", timeout=300)

    def stop(self):
        self.stop_file.write_bytes(b"")
        assert self.process.wait(30) == 0


@pytest.fixture(scope="module")
def ui_prefix(shared_prefix, tools_dir):
    """A prefix where the first watched application runs for the whole module."""
    app = App(shared_prefix, tools_dir, "dmill.exe")
    yield shared_prefix
    app.stop()


@pytest.mark.parametrize("locale", LOCALES)
def test_catalogued_messages_show_the_tables_text(ui_prefix, ui_probe, locale):
    strings = table(locale)
    for message_id in sorted(rc_strings.CATALOG):
        started = ui_prefix.start(ui_probe, "message", str(message_id), str(ERROR), PRODUCT,
                                  lc_all=locale)
        box = ui_prefix.wait_box(pid=started.pid)
        caption, text = rc_strings.expected_message(strings, message_id, PRODUCT, ERROR)
        assert (box.caption, box.text) == (caption, text), f"message {message_id}"
        assert box.buttons == [IDOK]
        ui_prefix.answer(box, IDOK)
        assert probe_answer(started) == [str(IDOK)]


@pytest.mark.parametrize("locale", LOCALES)
def test_prompt_names_the_running_application(ui_prefix, ui_probe, locale):
    started = ui_prefix.start(ui_probe, "guard", lc_all=locale)
    box = ui_prefix.wait_box(pid=started.pid)
    assert (box.caption, box.text) == rc_strings.expected_prompt(table(locale), "dmill.exe")
    assert sorted(box.buttons) == sorted([IDRETRY, IDCANCEL])
    ui_prefix.answer(box, IDCANCEL)
    assert started.wait(30) == 0
    assert harness.output_fields(started.output())["result"] == ["0"]


def test_error_code_with_the_top_bit_set_prints_negative(ui_prefix, ui_probe):
    started = ui_prefix.start(ui_probe, "message", "300", "0x80070005", PRODUCT,
                              lc_all="en_US.UTF-8")
    box = ui_prefix.wait_box(pid=started.pid)
    assert box.text.endswith("\n\n Error Code: -2147024891")
    ui_prefix.answer(box, IDOK)
    assert probe_answer(started) == [str(IDOK)]


def test_quiet_suppresses_messages_but_not_the_prompt(ui_prefix, ui_probe):
    result = ui_prefix.run(ui_probe, "message", "300", str(ERROR), PRODUCT, "quiet")
    assert result.exit_code == 0  # ended by itself: no box waited for an answer
    assert harness.output_fields(result.output)["answer"] == ["7"]

    started = ui_prefix.start(ui_probe, "guard", "quiet", lc_all="en_US.UTF-8")
    box = ui_prefix.wait_box(pid=started.pid)
    assert box.text == rc_strings.expected_prompt(table("en_US.UTF-8"), "dmill.exe")[1]
    ui_prefix.answer(box, IDCANCEL)
    assert started.wait(30) == 0


def test_guard_without_watched_applications_does_not_prompt(prefix, ui_probe):
    result = prefix.run(ui_probe, "guard")
    assert result.exit_code == 0
    assert harness.output_fields(result.output)["result"] == ["1"]


def test_retry_after_the_application_ended_lets_the_guard_pass(prefix, ui_probe, tools_dir):
    # Started from a folder of its own: only the file name counts.
    dmill = App(prefix, tools_dir, "dmill.exe", folder=r"C:\apps\deep\er")
    started = prefix.start(ui_probe, "guard", lc_all="en_US.UTF-8")
    box = prefix.wait_box(pid=started.pid)
    assert box.text == rc_strings.expected_prompt(table("en_US.UTF-8"), "dmill.exe")[1]

    # Retry while it still runs: asked again.
    prefix.answer(box, IDRETRY)
    box = prefix.wait_box(pid=started.pid)
    assert box.text == rc_strings.expected_prompt(table("en_US.UTF-8"), "dmill.exe")[1]

    dmill.stop()
    prefix.answer(box, IDRETRY)
    assert started.wait(30) == 0
    assert harness.output_fields(started.output())["result"] == ["1"]


def test_cancel_still_prompts_for_the_second_application(prefix, ui_probe, tools_dir):
    strings = table("de_DE.UTF-8")
    App(prefix, tools_dir, "dmill.exe")
    # Letter case does not matter.
    partsmith = App(prefix, tools_dir, "PartSmith.EXE")
    started = prefix.start(ui_probe, "guard", lc_all="de_DE.UTF-8")

    box = prefix.wait_box(pid=started.pid)
    assert (box.caption, box.text) == rc_strings.expected_prompt(strings, "dmill.exe")
    prefix.answer(box, IDCANCEL)

    box = prefix.wait_box(pid=started.pid)
    assert (box.caption, box.text) == rc_strings.expected_prompt(strings, "partsmith.exe")
    partsmith.stop()
    prefix.answer(box, IDRETRY)

    # No further prompt, and the earlier Cancel decides.
    assert started.wait(30) == 0
    assert harness.output_fields(started.output())["result"] == ["0"]


# Every table, each by the locale of a user who reads it. The thread locale, which Wine's own
# resource search follows and Windows' does not, is set to another table's language and must
# change nothing.
TABLE_LOCALES = sorted(set(rc_strings.LOCALE_LANGUAGES) - {"nl_NL.UTF-8"})
RUSSIAN, JAPANESE = 1049, 1041


@pytest.mark.parametrize("locale", TABLE_LOCALES)
def test_every_table_shows_its_own_text_whatever_the_thread_locale(ui_prefix, ui_probe, locale):
    strings = table(locale)
    other = JAPANESE if locale.startswith("ru_") else RUSSIAN
    for message_id in (300, 308):
        started = ui_prefix.start(ui_probe, "--thread-locale", str(other), "message",
                                  str(message_id), str(ERROR), PRODUCT, lc_all=locale)
        box = ui_prefix.wait_box(pid=started.pid)
        expected = rc_strings.expected_message(strings, message_id, PRODUCT, ERROR)
        assert (box.caption, box.text) == expected, f"message {message_id}"
        ui_prefix.answer(box, IDOK)
        assert probe_answer(started) == [str(IDOK)]
