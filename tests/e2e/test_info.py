"""Information mode of the real executable: the one "Info" box, read and answered."""

from __future__ import annotations

import pytest

from test_extract import TEMP, temp_files

IDOK = 1


def expected_info_text(template: str, keywords: str) -> str:
    upgrade, _, accepted = keywords.partition(";")
    return ("Products:\n" + template.replace(";", "\n") + "\nTarget:\n\t" + accepted +
            "\nUpgrade:\n\t" + upgrade + ")")


def test_expected_text_of_the_sample():
    # The sample's box, spelled out once, so that a change of the expectation is visible.
    template = ("{0B1C2D3E-4F50-4617-8293-A4B5C6D7E8F9};{3F2A8C41-7B5D-4E19-A6C2-9D0E1B7F4A53};"
                "{5D6E7F80-9A1B-4C2D-8E3F-405162738495}")
    assert expected_info_text(template, "15.0.205.0;15.0.106.0,") == (
        "Products:\n{0B1C2D3E-4F50-4617-8293-A4B5C6D7E8F9}\n"
        "{3F2A8C41-7B5D-4E19-A6C2-9D0E1B7F4A53}\n{5D6E7F80-9A1B-4C2D-8E3F-405162738495}\n"
        "Target:\n\t15.0.106.0,\nUpgrade:\n\t15.0.205.0)")


@pytest.mark.parametrize("args, extracted", [
    (["/i"], False),
    (["/q", "/i"], False),
    (["/I", "/q"], False),
    (["/e", r"C:\out\copy.msp", "/i"], True),
    (["/i", "/e", r"C:\out\copy.msp"], False),
], ids=["i", "q-i", "I-q", "e-then-i", "i-then-e"])
def test_info_box_shows_the_packages_targets(prefix, servicepack_exe, sample_package,
                                             sample_summary, args, extracted):
    prefix.c_path(r"C:\out").mkdir()
    temp = prefix.c_path(TEMP)
    temp.mkdir()

    started = prefix.start(servicepack_exe, *args, env={"TMP": TEMP})
    box = prefix.wait_box(pid=started.pid)
    assert box.caption == "Info"
    assert box.text == expected_info_text(*sample_summary)
    assert box.buttons == [IDOK]
    # One box only, and the program waits for it.
    assert len(prefix.boxes(pid=started.pid)) == 1
    assert started.running()

    prefix.answer(box, IDOK)
    assert started.wait(30) == 0

    # The box's own copy of the package stays in the temporary folder.
    left = temp_files(temp)
    assert len(left) == 1
    assert next(iter(left.values())).read_bytes() == sample_package.read_bytes()
    copy = prefix.c_path(r"C:\out\copy.msp")
    assert copy.exists() == extracted
    if extracted:
        assert copy.read_bytes() == sample_package.read_bytes()


def test_info_box_of_the_big_package(prefix, big_exe, big_package, sample_summary):
    # The padding changes nothing the box reads.
    started = prefix.start(big_exe, "/i")
    box = prefix.wait_box(pid=started.pid, timeout=60)
    assert box.text == expected_info_text(*sample_summary)
    prefix.answer(box, IDOK)
    assert started.wait(30) == 0
