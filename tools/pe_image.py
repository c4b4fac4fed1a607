"""Reads what a finished Windows executable carries: its resources, its imports, its load
configuration and where its certificate table lies. Used by inspect_exe.py.

Everything that makes a file unreadable as an executable is an ImageError with a message
that names the problem in a few words, so that the caller can print one line for it.
"""

from __future__ import annotations

import struct
from dataclasses import dataclass

import pefile

RT_STRING = pefile.RESOURCE_TYPE["RT_STRING"]
RT_MANIFEST = pefile.RESOURCE_TYPE["RT_MANIFEST"]
DIRECTORIES = [pefile.DIRECTORY_ENTRY[name] for name in (
    "IMAGE_DIRECTORY_ENTRY_IMPORT", "IMAGE_DIRECTORY_ENTRY_RESOURCE",
    "IMAGE_DIRECTORY_ENTRY_SECURITY")]
LOAD_CONFIG = pefile.DIRECTORY_ENTRY["IMAGE_DIRECTORY_ENTRY_LOAD_CONFIG"]
# Where DependentLoadFlags (a WORD) lies in IMAGE_LOAD_CONFIG_DIRECTORY64 and ...32. pefile
# 2023.2 still calls the field Reserved1, so it is read here by its offset.
DEPENDENT_LOAD_FLAGS_OFFSET = {True: 0x4E, False: 0x36}
E_LFANEW_OFFSET = 0x3C
PLAUSIBLE_HEADER_OFFSET = 0x10000


class ImageError(Exception):
    pass


@dataclass(frozen=True)
class Resource:
    type: int | str  # an id, or a name in upper case
    name: int | str
    lang: int
    data: bytes


def read_file(path: str) -> bytes:
    try:
        with open(path, "rb") as f:
            return f.read()
    except FileNotFoundError:
        raise ImageError("no such file") from None
    except IsADirectoryError:
        raise ImageError("is a directory, not an executable") from None
    except OSError as exc:
        raise ImageError(f"cannot be read: {exc.strerror or exc}") from None


def _cut_in_headers(data: bytes) -> bool:
    """An MZ file too short to hold the header its DOS header points at."""
    if len(data) < E_LFANEW_OFFSET + 4:
        return True
    (new_header,) = struct.unpack_from("<I", data, E_LFANEW_OFFSET)
    # Linkers put the PE header within the first few hundred bytes; an offset beyond any
    # linker's is no executable's header, and pefile calls that file no PE image.
    return new_header < PLAUSIBLE_HEADER_OFFSET and len(data) < new_header + 4 + 20


def image_end(image: pefile.PE) -> int:
    """Where the file must at least end: after its headers, sections and certificate table."""
    end = image.OPTIONAL_HEADER.SizeOfHeaders
    for section in image.sections:
        if section.SizeOfRawData:
            end = max(end, section.PointerToRawData + section.SizeOfRawData)
    offset, size = certificate_table(image)
    return max(end, offset + size)


def load(data: bytes) -> pefile.PE:
    if data[:2] != b"MZ":
        raise ImageError("is not a PE image (it does not begin with MZ)")
    if _cut_in_headers(data):
        raise ImageError(f"is truncated: {len(data)} bytes end inside the executable's headers")
    try:
        image = pefile.PE(data=data, fast_load=True)
    except Exception as exc:  # pefile raises more than PEFormatError on damaged headers
        raise ImageError(f"is not a PE image ({getattr(exc, 'value', exc)})") from None
    end = image_end(image)
    if len(data) < end:
        raise ImageError(f"is truncated: {len(data):,} bytes, but its headers, sections and "
                         f"certificate table need {end:,}")
    try:
        image.parse_data_directories(DIRECTORIES)
    except Exception as exc:
        raise ImageError(f"has a damaged directory ({getattr(exc, 'value', exc)})") from None
    return image


def _key(entry):
    return str(entry.name).upper() if entry.name is not None else entry.id


def _children(entry) -> list:
    directory = getattr(entry, "directory", None)
    return directory.entries if directory is not None else []


def resources(image: pefile.PE) -> list[Resource]:
    """Every resource, in directory order."""
    root = getattr(image, "DIRECTORY_ENTRY_RESOURCE", None)
    found = []
    for rtype in root.entries if root is not None else []:
        for name in _children(rtype):
            for lang in _children(name):
                leaf = getattr(lang, "data", None)
                if leaf is None:
                    continue  # a directory where a resource belongs: nothing to read
                found.append(Resource(_key(rtype), _key(name), lang.id,
                                      _resource_data(image, leaf.struct)))
    return found


def _resource_data(image: pefile.PE, leaf) -> bytes:
    try:
        data = image.get_data(leaf.OffsetToData, leaf.Size)
    except pefile.PEFormatError as exc:
        raise ImageError(f"has a resource outside its image ({exc.value})") from None
    if len(data) != leaf.Size:
        raise ImageError(f"is truncated: a resource of {leaf.Size:,} bytes ends past the file")
    return data


def find(found: list[Resource], rtype, name=None) -> list[Resource]:
    return [r for r in found if r.type == rtype and (name is None or r.name == name)]


def imported_dlls(image: pefile.PE) -> list[str]:
    return [entry.dll.decode("ascii", "replace")
            for entry in getattr(image, "DIRECTORY_ENTRY_IMPORT", [])]


def certificate_table(image: pefile.PE) -> tuple[int, int]:
    """File offset and size of the Authenticode certificate table; size 0: not signed."""
    entry = image.OPTIONAL_HEADER.DATA_DIRECTORY[
        pefile.DIRECTORY_ENTRY["IMAGE_DIRECTORY_ENTRY_SECURITY"]]
    return entry.VirtualAddress, entry.Size


def _text(value) -> str:
    return value.decode("utf-8", "replace") if isinstance(value, bytes) else str(value)


def _quad(most: int, least: int) -> str:
    return f"{most >> 16}.{most & 0xFFFF}.{least >> 16}.{least & 0xFFFF}"


def version_information(image: pefile.PE) -> dict | None:
    """The version resource's fixed versions and its strings; None when it has none."""
    fixed = getattr(image, "VS_FIXEDFILEINFO", None)
    if not fixed:
        return None
    info = fixed[0]
    strings = {}
    for file_info in getattr(image, "FileInfo", []):
        for entry in file_info:
            for table in getattr(entry, "StringTable", []):
                strings.update({_text(k): _text(v) for k, v in table.entries.items()})
    return {"file_version": _quad(info.FileVersionMS, info.FileVersionLS),
            "product_version": _quad(info.ProductVersionMS, info.ProductVersionLS),
            "strings": strings}


def _image_data(image: pefile.PE, rva: int, size: int, what: str) -> bytes:
    try:
        data = image.get_data(rva, size)
    except pefile.PEFormatError:
        data = b""
    if len(data) != size:
        raise ImageError(f"has {what} outside its image")
    return data


def load_configuration(image: pefile.PE) -> dict | None:
    """The load configuration's own size and its DependentLoadFlags (None where the structure
    is too short to hold them, and the loader reads none); None when the image has none."""
    entry = image.OPTIONAL_HEADER.DATA_DIRECTORY[LOAD_CONFIG]
    if entry.VirtualAddress == 0 or entry.Size == 0:
        return None
    (size,) = struct.unpack("<I", _image_data(image, entry.VirtualAddress, 4,
                                              "a load configuration"))
    offset = DEPENDENT_LOAD_FLAGS_OFFSET[
        image.OPTIONAL_HEADER.Magic == pefile.OPTIONAL_HEADER_MAGIC_PE_PLUS]
    flags = None
    if size >= offset + 2:
        (flags,) = struct.unpack("<H", _image_data(image, entry.VirtualAddress + offset, 2,
                                                   "a load configuration"))
    return {"size": size, "dependent_load_flags": flags}
