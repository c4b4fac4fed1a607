"""tools/set_load_config.py on copies of the built servicepack.exe (SERVICEPACK_EXE, as the
windows preset's ctest gives it; skipped without it) and on files that are not what it needs."""

import os
import struct
import subprocess
import sys
from pathlib import Path

import pefile
import pytest

ROOT = Path(__file__).resolve().parents[2]
TOOL = ROOT / "tools" / "set_load_config.py"
LOAD_CONFIG = pefile.DIRECTORY_ENTRY["IMAGE_DIRECTORY_ENTRY_LOAD_CONFIG"]
# The program's load configuration: Size 0x140, DependentLoadFlags (at 0x4E) 0x800, all else 0.
STRUCTURE = struct.pack("<I", 0x140) + bytes(0x4A) + struct.pack("<H", 0x800) + bytes(0xF0)


def set_load_config(path):
    return subprocess.run([sys.executable, str(TOOL), str(path)], capture_output=True,
                          text=True, timeout=60)


@pytest.fixture
def built(tmp_path):
    value = os.environ.get("SERVICEPACK_EXE")
    if not value:
        pytest.skip("SERVICEPACK_EXE is not set")
    copy = tmp_path / "servicepack.exe"
    copy.write_bytes(Path(value).read_bytes())
    return copy


def _directory_entry_offset(data):
    return pefile.PE(data=data, fast_load=True).OPTIONAL_HEADER.DATA_DIRECTORY[
        LOAD_CONFIG].get_file_offset()


def _as_linked(data):
    """The image as the linker leaves it: no load-configuration entry, checksum recomputed."""
    out = bytearray(data)
    struct.pack_into("<II", out, _directory_entry_offset(data), 0, 0)
    image = pefile.PE(data=bytes(out), fast_load=True)
    struct.pack_into("<I", out, image.OPTIONAL_HEADER.get_field_absolute_offset("CheckSum"),
                     image.generate_checksum())
    return bytes(out)


def test_sets_the_entry_as_the_build_does_and_again_changes_nothing(built):
    final = built.read_bytes()
    linked = _as_linked(final)
    assert linked != final
    built.write_bytes(linked)
    for _ in range(2):
        done = set_load_config(built)
        assert done.returncode == 0 and done.stderr == ""
        assert built.read_bytes() == final
    assert pefile.PE(str(built), fast_load=True).verify_checksum()


def test_without_the_programs_structure_nothing_is_written(built):
    data = bytearray(_as_linked(built.read_bytes()))
    at = data.find(STRUCTURE)
    data[at + 0x4F] = 0  # DependentLoadFlags 0: not the program's configuration any more
    built.write_bytes(data)
    done = set_load_config(built)
    assert done.returncode == 1
    assert "holds no load configuration of the program's" in done.stderr
    assert built.read_bytes() == data


def test_the_structure_twice_is_refused(built):
    data = built.read_bytes()
    # Into the zero padding at the end of the last section's raw data.
    image = pefile.PE(data=data, fast_load=True)
    last = image.sections[-1]
    end = last.PointerToRawData + last.SizeOfRawData
    assert data[end - 0x140:end] == bytes(0x140)
    built.write_bytes(data[:end - 0x140] + STRUCTURE + data[end:])
    done = set_load_config(built)
    assert done.returncode == 1 and "more than once" in done.stderr


def test_signed_image_is_refused(built):
    data = bytearray(built.read_bytes())
    image = pefile.PE(data=bytes(data), fast_load=True)
    security = image.OPTIONAL_HEADER.DATA_DIRECTORY[
        pefile.DIRECTORY_ENTRY["IMAGE_DIRECTORY_ENTRY_SECURITY"]]
    struct.pack_into("<II", data, security.get_file_offset(), len(data), 8)
    built.write_bytes(bytes(data) + bytes(8))
    done = set_load_config(built)
    assert done.returncode == 1 and "before signing" in done.stderr


@pytest.mark.parametrize("content", [b"", b"MZ but no image"], ids=["empty", "mz"])
def test_file_that_is_no_image(tmp_path, content):
    path = tmp_path / "x.exe"
    path.write_bytes(content)
    done = set_load_config(path)
    assert done.returncode == 1 and "is not a PE image" in done.stderr


def test_missing_file(tmp_path):
    done = set_load_config(tmp_path / "absent.exe")
    assert done.returncode == 1 and "absent.exe" in done.stderr
