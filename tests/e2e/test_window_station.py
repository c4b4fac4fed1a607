"""Runs where no user can see a box: the real executable on a window station of its own.

Deployment tools run the executable as a service does, on a window station that no user is
shown. stationrun.exe makes such a station and desktop (CreateWindowStationW, CreateDesktopW),
starts the program there through STARTUPINFO.lpDesktop and reports every dialog window that
appears on that desktop. Wine 8 models the flag the executable asks for: WinSta0 has
WSF_VISIBLE, a station made this way has none. A box shown there is made and waits for an
answer nobody can give, as on Windows; the control case below shows that.

The same runs on the default station (the prompt, Cancel, 300 with 1602, the result boxes) are
the cases of test_install.py and stay as they were.
"""

from __future__ import annotations

import harness
from test_extract import temp_files
from test_install import ENGLISH, INSTALLED, PRODUCT, UPGRADE, installed_target, LOG
from test_install_standin import CODES, UI_LEVEL, Product, write_script
from test_messages import App

WSF_VISIBLE = 1


def test_wine_tells_the_default_station_from_one_nobody_sees(prefix, tools_dir):
    stationrun = tools_dir / "stationrun.exe"
    own = harness.output_fields(prefix.run(stationrun, "flags").output)
    assert own["station"] == ["WinSta0"]
    assert int(own["flags"][0]) & WSF_VISIBLE

    unseen = prefix.run_unseen(stationrun, "flags")
    fields = harness.output_fields(unseen.output)
    assert fields["station"][0].startswith("Unseen")
    # What the program on that station reads, and what its creator reads: not visible.
    assert fields["flags"] == ["0"]
    assert unseen.station_flags == "0"
    assert unseen.exit_code == 0


def test_a_box_shown_there_waits_for_nobody(prefix, ui_probe):
    # Control: a box that does not ask where it is shown is made there and never answered.
    # This is what every "no box" below is measured against.
    unseen = prefix.run_unseen(ui_probe, "message", "301", "0", PRODUCT, lc_all=ENGLISH,
                               timeout=3)
    assert unseen.exit_code is None
    assert [box["caption"] for box in unseen.boxes] == ["Installation Successful"]


def test_watched_application_open_stops_the_run_as_cancel_without_a_box(
        machine, servicepack_exe, summary_probe, sample_package, tools_dir):
    dmill = App(machine, tools_dir, "dmill.exe")
    temp = machine.default_temp()
    for options in ([], ["/q"]):
        unseen = machine.run_unseen(servicepack_exe, *options, lc_all=ENGLISH, timeout=60)
        # Ended by itself, long before the timeout: nothing waited for an answer.
        assert unseen.exit_code == 0, unseen.output
        assert unseen.boxes == []
        assert installed_target(machine, summary_probe, sample_package)[2] == INSTALLED
        # The installer was never asked: no log. The package is left, as after Cancel.
        assert not (temp / LOG).exists()
        left = temp_files(temp)
        assert len(left) == (1 if not options else 2)
        assert all(p.read_bytes() == sample_package.read_bytes() for p in left.values())
    dmill.stop()


def test_without_watched_applications_the_patch_is_applied_without_a_box(
        machine, servicepack_exe, summary_probe, sample_package):
    unseen = machine.run_unseen(servicepack_exe, lc_all=ENGLISH, timeout=60)
    assert unseen.exit_code == 0, unseen.output
    assert unseen.boxes == []
    assert installed_target(machine, summary_probe, sample_package)[2] == UPGRADE
    temp = machine.default_temp()
    assert (temp / LOG).is_file()
    assert not temp_files(temp)


def test_information_mode_shows_no_box(prefix, servicepack_exe):
    unseen = prefix.run_unseen(servicepack_exe, "/i", timeout=60)
    assert unseen.exit_code == 0, unseen.output
    assert unseen.boxes == []


def test_the_installer_gets_no_interface_of_its_own_there(standin, servicepack_exe):
    # Its basic interface (35) would show the installer's own error and files-in-use boxes,
    # which wait there for nobody: the installer gets none (2). On the desktop it gets 35,
    # as every run of test_install_standin.py shows.
    product = Product(CODES[0], "Corvane Draftmill")
    write_script(standin, [product], results=[1603])

    unseen = standin.run_unseen(servicepack_exe, lc_all=ENGLISH, timeout=60, native_msi=True)

    assert unseen.exit_code == 0, unseen.output
    assert unseen.boxes == []
    levels = [c for c in standin.standin_calls() if c.startswith("MsiSetInternalUI|")]
    assert levels == ["MsiSetInternalUI|2|(null)", f"MsiSetInternalUI|{UI_LEVEL}|(null)"]
