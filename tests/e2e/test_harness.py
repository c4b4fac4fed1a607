"""The harness's own helpers, where a mistake would show up as a confusing Wine failure, and
what the harness hands a program under Wine."""

from __future__ import annotations

import os
import signal
import subprocess

import pytest

import harness
import rc_strings


def test_packed_guid_matches_the_installers_spelling():
    assert (harness.packed_guid("{ABCDEF01-2345-6789-ABCD-EF0123456789}") ==
            "10FEDCBA54329876BADCFE1032547698")
    assert (harness.packed_guid("{3f2a8c41-7b5d-4e19-a6c2-9d0e1b7f4a53}") ==
            harness.packed_guid("{3F2A8C41-7B5D-4E19-A6C2-9D0E1B7F4A53}"))
    with pytest.raises(ValueError):
        harness.packed_guid("{3F2A8C41-7B5D-4E19-A6C2}")


def test_output_fields_keep_repeated_keys_in_order():
    fields = harness.output_fields("pid=4\ncount=2\ntarget=a|b\ntarget=c=d\nexit=0\n")
    assert fields["target"] == ["a|b", "c=d"]
    assert fields["count"] == ["2"]


def test_locales_compare_in_their_normalized_form():
    assert harness.normalized_locale("de_DE.UTF-8") == "de_DE.utf8"
    assert harness.normalized_locale("sr_RS.utf-8@latin") == "sr_RS.utf8@latin"
    assert harness.normalized_locale("POSIX") == "POSIX"
    harness.require_locale("C.UTF-8")
    with pytest.raises(harness.HarnessError, match="xx_YY.ISO-8859-1 is not generated"):
        harness.require_locale("xx_YY.ISO-8859-1")


NON_ASCII = "C:\\一時 ünï €"


@pytest.mark.parametrize("locale", sorted(rc_strings.LOCALE_LANGUAGES))
def test_non_ascii_arguments_and_environment_arrive_intact(shared_prefix, tools_dir, locale):
    # Wine converts the Linux command line (runner's, which carries the program's arguments
    # and variables) with the locale's code page: an ungenerated locale would garble them.
    result = shared_prefix.run(tools_dir / "argecho.exe", NON_ASCII, lc_all=locale,
                               env={"ECHO_TEXT": NON_ASCII, "TMP": "C:\\一時"})
    assert result.exit_code == 0
    fields = harness.output_fields(result.output)
    assert fields["arg"] == [NON_ASCII]
    assert fields["env"] == [f"ECHO_TEXT={NON_ASCII}"]
    assert fields["temp"] == ["C:\\一時\\"]


def test_a_box_helper_that_has_ended_is_started_again_before_the_next_program(
        prefix, tools_dir):
    # Without the helper Wine closes the desktop a second after each program, and the next
    # program started in that second is lost.
    first = prefix._helper
    os.killpg(first.pid, signal.SIGKILL)
    first.wait(10)
    assert prefix.run(tools_dir / "argecho.exe", "x").exit_code == 0
    assert prefix._helper is not first and prefix._helper.poll() is None
    assert prefix.boxes() == []
    assert prefix._helper.poll() is None


def test_a_command_that_hangs_is_reported_with_what_the_prefix_was_running(prefix, tools_dir):
    # A hang is rare and gone by the next run: the report is all there is to go on.
    with pytest.raises(harness.HarnessError) as raised:
        prefix.wine(str(tools_dir / "sleeper.exe"), r"C:\never", "30", timeout=5)
    report = str(raised.value)
    assert "did not end within 5 s" in report
    assert "sleeper.exe" in report.partition("\n")[2]


def test_a_boot_that_does_not_end_is_done_again(wine_template, run_dir, tools_dir, monkeypatch,
                                                capsys):
    # The first helper never answers, as when Wine's boot of the prefix never ends.
    real_serve = harness.Prefix._serve_boxes
    real_timeout = harness.BOOT_TIMEOUT
    served = []

    def serve(self):
        served.append(self)
        if len(served) > 1:
            # The short wait is for the lost boot only: a real boot on a loaded machine can
            # take longer than it.
            monkeypatch.setattr(harness, "BOOT_TIMEOUT", real_timeout)
            return real_serve(self)
        return subprocess.Popen(["wine", str(tools_dir / "sleeper.exe"), r"C:\never", "60"],
                                env=self.env(), stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                stderr=subprocess.DEVNULL, start_new_session=True)

    monkeypatch.setattr(harness.Prefix, "_serve_boxes", serve)
    monkeypatch.setattr(harness, "BOOT_TIMEOUT", 5.0)
    prefix = harness.Prefix(wine_template, run_dir / "lost-boot", tools_dir)
    try:
        assert len(served) == 2
        report = capsys.readouterr().err
        assert "boot 1 of" in report and "did not end" in report and "sleeper.exe" in report
        assert prefix.run(tools_dir / "argecho.exe", "x").exit_code == 0
    finally:
        prefix.close()
