"""A failed extraction through the real Win32 providers, and the error install mode reports.

Install mode shows a failed extraction as message 300 with the last-error value of the call
that failed; extract_probe.exe prints that value as the extraction left it, so a change that
disturbs it between the failing call and the report shows here. A full disk is a small tmpfs
mounted into the prefix (root can mount one; the tests need it).
"""

from __future__ import annotations

import os
import subprocess

import pytest

import harness
import rc_strings
from rc_strings import IDOK
from test_messages import table

ERROR_PATH_NOT_FOUND = 3
ERROR_ACCESS_DENIED = 5
ERROR_DISK_FULL = 112
SMALL = r"C:\small"  # 4,096 bytes of room: less than the 4,608-byte sample


@pytest.fixture
def small_disk(prefix, request):
    """A folder on a tmpfs of 4 KiB (or of the size the test asks for)."""
    if os.geteuid() != 0:
        pytest.skip("mounting a tmpfs needs root")
    folder = prefix.c_path(SMALL)
    folder.mkdir()
    size = getattr(request, "param", "4k")
    subprocess.run(["mount", "-t", "tmpfs", "-o", f"size={size}", "tmpfs", str(folder)],
                   check=True)
    try:
        yield folder
    finally:
        subprocess.run(["umount", "-l", str(folder)], check=False)


def extract(prefix, probe, path: str, module=None) -> dict[str, str]:
    args = ["--module", harness.to_windows(module)] if module else []
    result = prefix.run(probe, *args, path)
    assert result.exit_code == 0, result.output
    return {k: v[0] for k, v in harness.output_fields(result.output).items()}


@pytest.mark.parametrize("target, error", [
    (r"C:\missing\out.msp", ERROR_PATH_NOT_FOUND),
    (r"C:\out", ERROR_ACCESS_DENIED),  # a directory of that name
], ids=["missing-folder", "directory"])
def test_a_file_that_cannot_be_created_leaves_its_error(prefix, extract_probe, servicepack_exe,
                                                        target, error):
    prefix.c_path(r"C:\out").mkdir()
    fields = extract(prefix, extract_probe, target, module=servicepack_exe)
    assert (fields["ok"], fields["last_error"]) == ("0", str(error))


@pytest.mark.parametrize("module, error", [
    (None, 1812),  # the probe itself: no resources at all
    ("ui_probe.exe", 1813),  # string tables, but no package type
], ids=["no-resources", "no-package"])
def test_a_missing_package_resource_leaves_the_lookup_error(prefix, extract_probe, module,
                                                            error):
    prefix.c_path(r"C:\out").mkdir()
    fields = extract(prefix, extract_probe, r"C:\out\x.msp",
                     module=extract_probe.parent / module if module else None)
    assert (fields["ok"], fields["last_error"]) == ("0", str(error))
    assert not prefix.c_path(r"C:\out\x.msp").exists()


# The sample fills the disk in its first piece; the large package after many pieces written.
@pytest.mark.parametrize("small_disk, exe, package", [
    ("4k", "servicepack_exe", "sample_package"),
    ("1m", "big_exe", "big_package"),
], ids=["sample", "large"], indirect=["small_disk"])
def test_a_full_disk_is_no_success(prefix, extract_probe, small_disk, exe, package, request):
    module = request.getfixturevalue(exe)
    fields = extract(prefix, extract_probe, SMALL + r"\x.msp", module=module)
    assert (fields["ok"], fields["last_error"]) == ("0", str(ERROR_DISK_FULL))
    # What was written stays, shorter than the package.
    written = (small_disk / "x.msp").stat().st_size
    assert 0 < written < request.getfixturevalue(package).stat().st_size


def test_install_mode_reports_a_full_disk(prefix, servicepack_exe, small_disk):
    started = prefix.start(servicepack_exe, env={"TMP": SMALL}, lc_all="en_US.UTF-8")
    box = prefix.wait_box(pid=started.pid)
    assert (box.caption, box.text) == rc_strings.expected_message(
        table("en_US.UTF-8"), 300, "", ERROR_DISK_FULL)
    prefix.answer(box, IDOK)
    assert started.wait() == 0
