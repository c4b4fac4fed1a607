#!/usr/bin/python3
"""Read the resources of a 64-bit Windows executable, and the string tables of .rc sources.

The executable side walks the PE32+ resource directory (type / name / language, each
either a number or a string) down to the data bytes, and decodes string-table blocks,
icon groups and the like. The source side parses the STRINGTABLE syntax the resource
scripts use, so that tests can compare what was compiled with what was written.

Usage:
  pe_resources.py EXE                 list every resource: type, name, language, size
  pe_resources.py EXE --strings       print every string-table entry per language
  pe_resources.py EXE --extract TYPE NAME OUT
                                      write one resource's bytes (numbers or names)
"""

import re
import struct
import sys
from dataclasses import dataclass

RT_ICON = 3
RT_STRING = 6
RT_GROUP_ICON = 14
RT_VERSION = 16
RT_MANIFEST = 24

RT_NAMES = {
    1: "RT_CURSOR", 2: "RT_BITMAP", RT_ICON: "RT_ICON", 4: "RT_MENU", 5: "RT_DIALOG",
    RT_STRING: "RT_STRING", 7: "RT_FONTDIR", 8: "RT_FONT", 9: "RT_ACCELERATOR",
    10: "RT_RCDATA", 11: "RT_MESSAGETABLE", 12: "RT_GROUP_CURSOR",
    RT_GROUP_ICON: "RT_GROUP_ICON", RT_VERSION: "RT_VERSION", RT_MANIFEST: "RT_MANIFEST",
}


class FormatError(ValueError):
    """The file is not what the reader expects (not PE32+, a broken directory, ...)."""


@dataclass(frozen=True)
class Resource:
    type: object  # int id or str name
    name: object  # int id or str name
    lang: int
    data: bytes
    codepage: int


@dataclass(frozen=True)
class IconEntry:
    width: int  # in pixels; a 0 byte in the file means 256
    height: int
    colour_count: int
    planes: int
    bit_count: int
    size: int
    icon_id: int


def _u16(buf, off):
    return struct.unpack_from("<H", buf, off)[0]


def _u32(buf, off):
    return struct.unpack_from("<I", buf, off)[0]


def _sections(image):
    if image[:2] != b"MZ":
        raise FormatError("no MZ header")
    pe = _u32(image, 0x3C)
    if image[pe:pe + 4] != b"PE\0\0":
        raise FormatError("no PE signature")
    count = _u16(image, pe + 6)
    opt_size = _u16(image, pe + 20)
    opt = pe + 24
    if _u16(image, opt) != 0x20B:
        raise FormatError("not a PE32+ image")
    if _u32(image, opt + 108) <= 2:
        return None, []
    res_rva, res_size = struct.unpack_from("<II", image, opt + 112 + 2 * 8)
    sections = []
    table = opt + opt_size
    for i in range(count):
        vsize, vaddr, raw_size, raw_ptr = struct.unpack_from("<IIII", image, table + 40 * i + 8)
        sections.append((vaddr, max(vsize, raw_size), raw_ptr, raw_size))
    return (res_rva, res_size), sections


def _rva_to_offset(sections, rva, length):
    for vaddr, vsize, raw_ptr, raw_size in sections:
        if vaddr <= rva < vaddr + vsize:
            delta = rva - vaddr
            if delta + length > raw_size:
                raise FormatError(f"RVA {rva:#x}+{length} runs past its section's file data")
            return raw_ptr + delta
    raise FormatError(f"RVA {rva:#x} lies in no section")


def read_resources(source):
    """Every resource of a PE32+ image, in directory order.

    source: a path or the image bytes."""
    if isinstance(source, (bytes, bytearray)):
        image = bytes(source)
    else:
        with open(source, "rb") as f:
            image = f.read()
    directory, sections = _sections(image)
    if directory is None or directory[0] == 0:
        return []
    base = _rva_to_offset(sections, directory[0], directory[1])

    def entries(offset):
        named, ids = struct.unpack_from("<HH", image, base + offset + 12)
        for i in range(named + ids):
            name, target = struct.unpack_from("<II", image, base + offset + 16 + 8 * i)
            if name & 0x80000000:
                at = base + (name & 0x7FFFFFFF)
                length = _u16(image, at)
                key = image[at + 2:at + 2 + 2 * length].decode("utf-16-le")
            else:
                key = name & 0xFFFF
            yield key, target

    def subdir(target):
        if not target & 0x80000000:
            raise FormatError("expected a subdirectory, found a data entry")
        return target & 0x7FFFFFFF

    out = []
    for rtype, t in entries(0):
        for rname, n in entries(subdir(t)):
            for lang, leaf in entries(subdir(n)):
                if leaf & 0x80000000:
                    raise FormatError("a fourth directory level")
                rva, size, codepage = struct.unpack_from("<III", image, base + leaf)
                start = _rva_to_offset(sections, rva, size)
                out.append(Resource(rtype, rname, lang, image[start:start + size], codepage))
    return out


def find(resources, rtype, name=None, lang=None):
    """Resources matching the type and, when given, the name and language."""
    return [r for r in resources
            if r.type == rtype and (name is None or r.name == name)
            and (lang is None or r.lang == lang)]


def decode_string_block(block_id, data):
    """Entries of one RT_STRING block: {entry id: text}; empty slots are left out."""
    if not 1 <= block_id <= 4096:
        raise FormatError(f"string block id {block_id} out of range")
    texts = {}
    off = 0
    for i in range(16):
        if off + 2 > len(data):
            raise FormatError(f"string block {block_id} ends after {i} of 16 slots")
        length = _u16(data, off)
        off += 2
        raw = data[off:off + 2 * length]
        if len(raw) != 2 * length:
            raise FormatError(f"string block {block_id} slot {i} runs past the block")
        off += 2 * length
        if length:
            texts[(block_id - 1) * 16 + i] = raw.decode("utf-16-le")
    return texts


def string_tables(resources):
    """All string-table entries: {language: {entry id: text}}."""
    tables = {}
    for r in resources:
        if r.type == RT_STRING:
            if not isinstance(r.name, int):
                raise FormatError(f"string block with a string name {r.name!r}")
            tables.setdefault(r.lang, {}).update(decode_string_block(r.name, r.data))
    return tables


def decode_icon_group(data):
    """The entries of an RT_GROUP_ICON resource."""
    reserved, kind, count = struct.unpack_from("<HHH", data, 0)
    if reserved != 0 or kind != 1:
        raise FormatError("not an icon group")
    if len(data) < 6 + 14 * count:
        raise FormatError("icon group shorter than its entry count")
    out = []
    for i in range(count):
        w, h, colours, _, planes, bits, size, icon_id = struct.unpack_from(
            "<BBBBHHIH", data, 6 + 14 * i)
        out.append(IconEntry(w or 256, h or 256, colours, planes, bits, size, icon_id))
    return out


# --- .rc sources -------------------------------------------------------------------------

_ESCAPES = {"n": "\n", "t": "\t", "r": "\r", "a": "\a", "\\": "\\", '"': '"', "0": "\0"}


class RcSyntaxError(ValueError):
    pass


@dataclass
class RcStringTable:
    language: tuple  # (LANG_x, SUBLANG_y) as written
    entries: dict  # {entry id: text}


def strip_comments(text):
    """Remove // and /* */ comments that are not inside a string literal."""
    out = []
    i = 0
    n = len(text)
    while i < n:
        c = text[i]
        if c == '"':
            j = i + 1
            while j < n:
                if text[j] == "\\":
                    j += 2
                    continue
                if text[j] == '"':
                    if j + 1 < n and text[j + 1] == '"':
                        j += 2
                        continue
                    break
                if text[j] == "\n":
                    raise RcSyntaxError("string literal runs past the end of its line")
                j += 1
            out.append(text[i:j + 1])
            i = j + 1
        elif text.startswith("//", i):
            while i < n and text[i] != "\n":
                i += 1
        elif text.startswith("/*", i):
            end = text.find("*/", i + 2)
            if end < 0:
                raise RcSyntaxError("unterminated comment")
            out.append("\n" * text.count("\n", i, end))
            i = end + 2
        else:
            out.append(c)
            i += 1
    return "".join(out)


def _unquote(literal):
    """The text of one "..." literal: \\n-style escapes and "" for a double quote."""
    body = literal[1:-1]
    out = []
    i = 0
    while i < len(body):
        c = body[i]
        if c == "\\":
            if i + 1 >= len(body):
                raise RcSyntaxError(f"dangling backslash in {literal}")
            e = body[i + 1]
            if e not in _ESCAPES:
                raise RcSyntaxError(f"unsupported escape \\{e} in {literal}")
            out.append(_ESCAPES[e])
            i += 2
        elif c == '"':
            if body[i + 1:i + 2] != '"':
                raise RcSyntaxError(f"lone double quote in {literal}")
            out.append('"')
            i += 2
        else:
            out.append(c)
            i += 1
    return "".join(out)


_TOKEN = re.compile(r'\s*(?:(?P<wide>L")|(?P<str>"(?:[^"\\\n]|\\.|"")*")|(?P<word>[#\w]+)'
                    r'|(?P<punct>[{},()]))')


def parse_rc_string_tables(text):
    """Parse the string tables of one resource script.

    Understands what the servicepack scripts use: preprocessor lines (skipped),
    LANGUAGE x, y statements and STRINGTABLE blocks with { } or BEGIN/END holding
    `id "text"` or `id, "text"` entries. Raises RcSyntaxError on anything else inside a
    string table, on L"..." literals and on duplicate ids."""
    body = strip_comments(text)
    lines = [ln for ln in body.split("\n") if not ln.lstrip().startswith("#")]
    body = "\n".join(lines)
    tokens = []
    pos = 0
    while pos < len(body):
        if body[pos:].strip() == "":
            break
        m = _TOKEN.match(body, pos)
        if not m:
            raise RcSyntaxError(f"unexpected text: {body[pos:pos + 30]!r}")
        if m.group("wide"):
            raise RcSyntaxError("wide L\"...\" literal")
        kind = next(k for k in ("str", "word", "punct") if m.group(k))
        tokens.append((kind, m.group(kind)))
        pos = m.end()

    tables = []
    language = None
    i = 0
    while i < len(tokens):
        kind, value = tokens[i]
        if kind == "word" and value == "LANGUAGE":
            if (i + 3 >= len(tokens) or tokens[i + 2] != ("punct", ",")
                    or tokens[i + 1][0] != "word" or tokens[i + 3][0] != "word"):
                raise RcSyntaxError("malformed LANGUAGE statement")
            language = (tokens[i + 1][1], tokens[i + 3][1])
            i += 4
        elif kind == "word" and value == "STRINGTABLE":
            i += 1
            while i < len(tokens) and tokens[i][0] == "word" and tokens[i][1] not in (
                    "BEGIN",):
                i += 1  # memory flags such as DISCARDABLE
            if i >= len(tokens) or tokens[i] not in (("punct", "{"), ("word", "BEGIN")):
                raise RcSyntaxError("STRINGTABLE without { or BEGIN")
            i += 1
            entries = {}
            while True:
                if i >= len(tokens):
                    raise RcSyntaxError("STRINGTABLE without } or END")
                if tokens[i] in (("punct", "}"), ("word", "END")):
                    i += 1
                    break
                kind, value = tokens[i]
                if kind != "word" or not value.isdigit():
                    raise RcSyntaxError(f"expected an entry id, found {value!r}")
                entry = int(value)
                i += 1
                if i < len(tokens) and tokens[i] == ("punct", ","):
                    i += 1
                if i >= len(tokens) or tokens[i][0] != "str":
                    raise RcSyntaxError(f"entry {entry} has no string literal")
                if entry in entries:
                    raise RcSyntaxError(f"entry {entry} defined twice")
                entries[entry] = _unquote(tokens[i][1])
                i += 1
                if i < len(tokens) and tokens[i][0] == "str":
                    raise RcSyntaxError(f"entry {entry} has more than one literal")
            tables.append(RcStringTable(language, entries))
        else:
            i += 1
    return tables


# --- command line ------------------------------------------------------------------------

def _label(value, names=None):
    if isinstance(value, str):
        return f'"{value}"'
    if names and value in names:
        return f"{names[value]}({value})"
    return str(value)


def _key(text):
    return int(text) if text.isdigit() else text


def main(argv):
    if len(argv) < 2:
        print(__doc__.strip(), file=sys.stderr)
        return 2
    try:
        resources = read_resources(argv[1])
    except (OSError, FormatError, struct.error) as e:
        print(f"{argv[1]}: {e}", file=sys.stderr)
        return 1
    if len(argv) == 2:
        for r in resources:
            print(f"{_label(r.type, RT_NAMES)} {_label(r.name)} lang={r.lang} size={len(r.data)}")
    elif argv[2] == "--strings":
        for lang, entries in sorted(string_tables(resources).items()):
            for entry, text in sorted(entries.items()):
                print(f"{lang} {entry} {text!r}")
    elif argv[2] == "--extract" and len(argv) == 6:
        hits = find(resources, _key(argv[3]), _key(argv[4]))
        if not hits:
            print(f"no resource {argv[3]}/{argv[4]}", file=sys.stderr)
            return 1
        with open(argv[5], "wb") as f:
            f.write(hits[0].data)
    else:
        print(__doc__.strip(), file=sys.stderr)
        return 2
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
