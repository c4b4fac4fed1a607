#!/usr/bin/python3
"""Points a linked servicepack executable's load-configuration directory at its load
configuration, in place, after the link and before signing.

    set_load_config.py EXE

The program defines the structure (`_load_config_used`, platform/windows/load_config.cpp):
Size 0x140, DependentLoadFlags LOAD_LIBRARY_SEARCH_SYSTEM32, every other field zero. GNU ld
2.40 places it in the image but leaves the data directory entry empty, so the loader never
reads it. This finds that structure (it must be there exactly once, in a section of the image)
and sets the entry to its address and size; a header checksum the linker wrote is computed
again. The result follows from the input bytes alone, so builds stay byte-identical. Running
it again changes nothing.

Exit status: 0 set (or already set); 1 not set, with one line on stderr saying why.
"""

from __future__ import annotations

import os
import struct
import sys
import tempfile

import pefile

from pe_image import DEPENDENT_LOAD_FLAGS_OFFSET, LOAD_CONFIG

SIZE = 0x140
LOAD_LIBRARY_SEARCH_SYSTEM32 = 0x800


class LoadConfigError(Exception):
    pass


def expected_structure() -> bytes:
    data = bytearray(SIZE)
    struct.pack_into("<I", data, 0, SIZE)
    struct.pack_into("<H", data, DEPENDENT_LOAD_FLAGS_OFFSET[True], LOAD_LIBRARY_SEARCH_SYSTEM32)
    return bytes(data)


def _structure_offset(data: bytes) -> int:
    wanted = expected_structure()
    first = data.find(wanted)
    if first < 0:
        raise LoadConfigError("holds no load configuration of the program's (Size 0x140, "
                              "DependentLoadFlags 0x800): was load_config.cpp linked in?")
    if data.find(wanted, first + 1) >= 0:
        raise LoadConfigError("holds the program's load configuration more than once: "
                              "which one the loader should read is unclear")
    return first


def _section_rva(image: pefile.PE, offset: int) -> int:
    for section in image.sections:
        start = section.PointerToRawData
        # Only bytes the section maps: its raw data may run past its virtual size.
        end = start + min(section.SizeOfRawData, section.Misc_VirtualSize)
        if start <= offset and offset + SIZE <= end:
            return section.VirtualAddress + offset - start
    raise LoadConfigError("holds the load configuration outside every section")


def with_load_config(data: bytes) -> bytes:
    """The image `data` with its load-configuration directory entry set."""
    try:
        image = pefile.PE(data=data, fast_load=True)
    except pefile.PEFormatError as exc:
        raise LoadConfigError(f"is not a PE image ({exc.value})") from None
    if image.OPTIONAL_HEADER.Magic != pefile.OPTIONAL_HEADER_MAGIC_PE_PLUS:
        raise LoadConfigError("is not a 64-bit image")
    if image.OPTIONAL_HEADER.DATA_DIRECTORY[pefile.DIRECTORY_ENTRY[
            "IMAGE_DIRECTORY_ENTRY_SECURITY"]].Size:
        raise LoadConfigError("is signed already: the load configuration must be set before "
                              "signing")
    rva = _section_rva(image, _structure_offset(data))
    entry = image.OPTIONAL_HEADER.DATA_DIRECTORY[LOAD_CONFIG]
    if entry.VirtualAddress not in (0, rva) or entry.Size not in (0, SIZE):
        raise LoadConfigError(f"already points its load-configuration directory elsewhere "
                              f"(0x{entry.VirtualAddress:x}, {entry.Size} bytes)")
    out = bytearray(data)
    struct.pack_into("<II", out, entry.get_file_offset(), rva, SIZE)
    checksum_offset = image.OPTIONAL_HEADER.get_field_absolute_offset("CheckSum")
    if image.OPTIONAL_HEADER.CheckSum:
        struct.pack_into("<I", out, checksum_offset, 0)
        checksum = pefile.PE(data=bytes(out), fast_load=True).generate_checksum()
        struct.pack_into("<I", out, checksum_offset, checksum)
    return bytes(out)


def _replace(path: str, data: bytes) -> None:
    folder = os.path.dirname(os.path.abspath(path))
    with tempfile.NamedTemporaryFile(dir=folder, delete=False) as out:
        out.write(data)
    os.chmod(out.name, os.stat(path).st_mode)
    os.replace(out.name, path)


def main(argv=None) -> int:
    args = sys.argv[1:] if argv is None else argv
    if len(args) != 1:
        print("usage: set_load_config.py EXE", file=sys.stderr)
        return 1
    path = args[0]
    try:
        with open(path, "rb") as f:
            data = f.read()
        result = with_load_config(data)
    except OSError as exc:
        print(f"set_load_config: {path}: {exc.strerror or exc}", file=sys.stderr)
        return 1
    except LoadConfigError as exc:
        print(f"set_load_config: {path}: {exc}", file=sys.stderr)
        return 1
    if result != data:
        _replace(path, result)
    return 0


if __name__ == "__main__":
    sys.exit(main())
