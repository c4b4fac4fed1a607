"""Two builds of servicepack.exe from the same sources and package, in two different folders,
give the same bytes.

One of them is the tree's own build where it is configured like a fresh one, the other
configures the windows preset afresh in a copy of the source tree and builds the servicepack
target only (fresh_builds.py). Needs cmake and MinGW-w64, not Wine.
"""

from __future__ import annotations

import hashlib

import pefile

from fresh_builds import ARCHIVES, printed_sha256


def test_two_builds_in_two_folders_are_byte_identical(two_builds):
    first, second = two_builds[0].kept, two_builds[1].kept
    exe = (first / "servicepack.exe").read_bytes()
    assert exe[:2] == b"MZ"
    assert exe == (second / "servicepack.exe").read_bytes()
    # The archives linked into it carry no member times either.
    for archive in ARCHIVES:
        assert (first / archive).read_bytes() == (second / archive).read_bytes(), archive


def test_build_prints_the_sha256_of_the_executable(two_builds):
    hashes = set()
    for made in (made for made in two_builds if made.output is not None):
        printed = printed_sha256(made.output, made.build / "servicepack.exe")
        assert printed == hashlib.sha256((made.kept / "servicepack.exe").read_bytes()).hexdigest()
        hashes.add(printed)
    assert len(hashes) == 1


def test_header_has_no_time_stamp_and_a_checksum_of_the_content(two_builds):
    image = pefile.PE(str(two_builds[0].kept / "servicepack.exe"))
    assert image.FILE_HEADER.TimeDateStamp == 0
    assert image.OPTIONAL_HEADER.CheckSum != 0
    assert image.verify_checksum()
    # Unsigned without the signing variables: no certificate table.
    security = image.OPTIONAL_HEADER.DATA_DIRECTORY[
        pefile.DIRECTORY_ENTRY["IMAGE_DIRECTORY_ENTRY_SECURITY"]]
    assert (security.VirtualAddress, security.Size) == (0, 0)


def test_image_names_neither_the_source_nor_the_build_folder(two_builds):
    for made in two_builds:
        exe = (made.kept / "servicepack.exe").read_bytes()
        for folder in (str(made.source), str(made.build)):
            for encoding in ("ascii", "utf-16-le"):
                assert folder.encode(encoding) not in exe, (folder, encoding)
