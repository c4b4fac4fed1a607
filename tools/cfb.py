"""Minimal writer for compound files (structured storage), version 3.

Only what the package generator needs: a tree of storages and streams is laid
out into 512-byte sectors with a FAT (and DIFAT sectors once the FAT outgrows
the header), a mini stream with its mini FAT for streams below 4096 bytes, and
a directory whose sibling trees are valid red-black trees.  The output is a
pure function of the input tree, so the same tree always gives the same bytes.
"""

from __future__ import annotations

import struct
import uuid
from dataclasses import dataclass, field

SIGNATURE = bytes.fromhex("D0CF11E0A1B11AE1")
SECTOR = 512
MINI_SECTOR = 64
MINI_CUTOFF = 4096
FAT_PER_SECTOR = SECTOR // 4
DIFAT_IN_HEADER = 109
DIFAT_PER_SECTOR = FAT_PER_SECTOR - 1  # the last slot links to the next DIFAT sector

FREESECT = 0xFFFFFFFF
ENDOFCHAIN = 0xFFFFFFFE
FATSECT = 0xFFFFFFFD
DIFSECT = 0xFFFFFFFC
NOSTREAM = 0xFFFFFFFF

TYPE_STORAGE = 1
TYPE_STREAM = 2
TYPE_ROOT = 5
RED = 0
BLACK = 1

MAX_NAME_UNITS = 31


class CfbError(ValueError):
    pass


@dataclass
class Stream:
    name: str
    data: bytes


@dataclass
class Storage:
    name: str
    clsid: str | None = None
    children: list = field(default_factory=list)

    def add(self, child):
        self.children.append(child)
        return child


def clsid_bytes(text: str | None) -> bytes:
    if not text:
        return bytes(16)
    return uuid.UUID(text.strip("{}")).bytes_le


def _units(name: str) -> int:
    return len(name.encode("utf-16-le")) // 2


def _fold(name: str) -> str:
    # Directory names are ordered by a simple per-code-unit upper-casing;
    # characters whose upper case is not a single character stay as they are.
    out = []
    for ch in name:
        up = ch.upper()
        out.append(up if len(up) == 1 else ch)
    return "".join(out)


def name_key(name: str):
    """Sort key of a directory name: shorter names first, then case-folded."""
    folded = _fold(name).encode("utf-16-le")
    units = [folded[i] | (folded[i + 1] << 8) for i in range(0, len(folded), 2)]
    return (len(units), tuple(units))


@dataclass
class _Entry:
    name: str
    kind: int
    clsid: bytes = bytes(16)
    data: bytes = b""
    left: int = NOSTREAM
    right: int = NOSTREAM
    child: int = NOSTREAM
    color: int = BLACK
    start: int = ENDOFCHAIN
    size: int = 0


def _check_name(name: str):
    if not name:
        raise CfbError("empty directory name")
    if _units(name) > MAX_NAME_UNITS:
        raise CfbError(f"directory name longer than {MAX_NAME_UNITS} code units: {name!r}")
    for bad in "/\\:!":
        if bad in name:
            raise CfbError(f"illegal character {bad!r} in directory name {name!r}")


def _flatten(root: Storage) -> list[_Entry]:
    entries = [_Entry(root.name, TYPE_ROOT, clsid_bytes(root.clsid))]

    def visit(storage: Storage, index: int):
        seen = set()
        child_ids = []
        for child in storage.children:
            _check_name(child.name)
            key = name_key(child.name)
            if key in seen:
                raise CfbError(f"duplicate name {child.name!r} in storage {storage.name!r}")
            seen.add(key)
            if isinstance(child, Storage):
                entry = _Entry(child.name, TYPE_STORAGE, clsid_bytes(child.clsid))
            else:
                entry = _Entry(child.name, TYPE_STREAM, data=bytes(child.data))
            entries.append(entry)
            child_ids.append(len(entries) - 1)
        ordered = sorted(child_ids, key=lambda i: name_key(entries[i].name))
        entries[index].child = _build_tree(entries, ordered)
        for child, entry_id in zip(storage.children, child_ids):
            if isinstance(child, Storage):
                visit(child, entry_id)

    visit(root, 0)
    return entries


def _build_tree(entries: list[_Entry], ordered: list[int]) -> int:
    """Balanced search tree over the sorted siblings, coloured red-black.

    Splitting at the middle keeps every level but the deepest full; colouring
    only the deepest level red gives equal black heights on every path and no
    red node with a red child.
    """
    if not ordered:
        return NOSTREAM
    depth_of = {}

    def build(lo: int, hi: int, depth: int) -> int:
        if lo >= hi:
            return NOSTREAM
        mid = (lo + hi) // 2
        node = ordered[mid]
        depth_of[node] = depth
        entries[node].left = build(lo, mid, depth + 1)
        entries[node].right = build(mid + 1, hi, depth + 1)
        return node

    top = build(0, len(ordered), 0)
    deepest = max(depth_of.values())
    full_levels = all(
        sum(1 for d in depth_of.values() if d == level) == 1 << level for level in range(deepest + 1)
    )
    for node, depth in depth_of.items():
        red = depth == deepest and depth > 0 and not full_levels
        entries[node].color = RED if red else BLACK
    return top


def _sectors_for(size: int, unit: int) -> int:
    return (size + unit - 1) // unit


def _fat_layout(content_sectors: int, total_sectors: int | None):
    """Number of FAT and DIFAT sectors, and the total sector count of the file."""
    fat = 0
    while True:
        difat = 0 if fat <= DIFAT_IN_HEADER else _sectors_for(fat - DIFAT_IN_HEADER, DIFAT_PER_SECTOR)
        total = content_sectors + fat + difat
        if total_sectors is not None:
            if total > total_sectors:
                raise CfbError("content does not fit in the requested size")
            total = total_sectors
        needed = _sectors_for(total, FAT_PER_SECTOR)
        if needed <= fat:
            return fat, difat, total
        fat = needed


def write(root: Storage, total_size: int | None = None) -> bytes:
    """Lays out the storage tree; total_size (a multiple of 512 above the header)
    pads the file with free sectors to exactly that many bytes."""
    if total_size is not None:
        if total_size < 2 * SECTOR or total_size % SECTOR:
            raise CfbError(f"size {total_size} is not a multiple of {SECTOR} of at least {2 * SECTOR}")
    entries = _flatten(root)

    # Mini stream: every small stream, each rounded up to whole mini sectors.
    mini_data = bytearray()
    mini_fat: list[int] = []
    big: list[_Entry] = []
    for entry in entries:
        if entry.kind != TYPE_STREAM:
            continue
        entry.size = len(entry.data)
        if entry.size == 0:
            entry.start = ENDOFCHAIN
        elif entry.size < MINI_CUTOFF:
            count = _sectors_for(entry.size, MINI_SECTOR)
            entry.start = len(mini_fat)
            mini_fat.extend(range(entry.start + 1, entry.start + count))
            mini_fat.append(ENDOFCHAIN)
            mini_data += entry.data + bytes(count * MINI_SECTOR - entry.size)
        else:
            big.append(entry)

    dir_sectors = _sectors_for(len(entries) * 128, SECTOR)
    minifat_sectors = _sectors_for(len(mini_fat) * 4, SECTOR)
    ministream_sectors = _sectors_for(len(mini_data), SECTOR)
    big_sectors = sum(_sectors_for(e.size, SECTOR) for e in big)
    content = dir_sectors + minifat_sectors + ministream_sectors + big_sectors
    total_sectors = None if total_size is None else total_size // SECTOR - 1
    fat_count, difat_count, total = _fat_layout(content, total_sectors)

    fat = [FREESECT] * (fat_count * FAT_PER_SECTOR)
    sectors: list[bytes] = []  # content sectors, in file order after FAT and DIFAT
    next_sector = fat_count + difat_count

    def place(data: bytes) -> int:
        nonlocal next_sector
        count = _sectors_for(len(data), SECTOR)
        if count == 0:
            return ENDOFCHAIN
        first = next_sector
        for i in range(count):
            fat[first + i] = first + i + 1 if i + 1 < count else ENDOFCHAIN
            sectors.append(bytes(data[i * SECTOR : (i + 1) * SECTOR]).ljust(SECTOR, b"\0"))
        next_sector += count
        return first

    for i in range(fat_count):
        fat[i] = FATSECT
    for i in range(difat_count):
        fat[fat_count + i] = DIFSECT

    # The directory is placed first but written last, once start sectors are known.
    dir_start = next_sector
    for i in range(dir_sectors):
        fat[dir_start + i] = dir_start + i + 1 if i + 1 < dir_sectors else ENDOFCHAIN
        sectors.append(b"")
    next_sector += dir_sectors

    minifat_bytes = b"".join(struct.pack("<I", v) for v in mini_fat)
    minifat_bytes += struct.pack("<I", FREESECT) * ((-len(mini_fat)) % FAT_PER_SECTOR)
    minifat_start = place(minifat_bytes)
    root_entry = entries[0]
    root_entry.start = place(bytes(mini_data))
    root_entry.size = len(mini_data)
    for entry in big:
        entry.start = place(entry.data)

    directory = bytearray()
    for entry in entries:
        directory += _pack_entry(entry)
    while len(directory) < dir_sectors * SECTOR:
        directory += _pack_entry(None)
    for i in range(dir_sectors):
        sectors[i] = bytes(directory[i * SECTOR : (i + 1) * SECTOR])

    free_tail = total - next_sector
    assert free_tail >= 0

    fat_sector_ids = list(range(fat_count))
    difat_sector_ids = list(range(fat_count, fat_count + difat_count))
    header = _pack_header(
        fat_count=fat_count,
        dir_start=dir_start,
        minifat_start=minifat_start,
        minifat_count=minifat_sectors,
        difat_start=difat_sector_ids[0] if difat_sector_ids else ENDOFCHAIN,
        difat_count=difat_count,
        header_difat=fat_sector_ids[:DIFAT_IN_HEADER],
    )

    out = bytearray(header)
    fat_bytes = struct.pack(f"<{len(fat)}I", *fat)
    out += fat_bytes
    rest = fat_sector_ids[DIFAT_IN_HEADER:]
    for n, sector_id in enumerate(difat_sector_ids):
        chunk = rest[n * DIFAT_PER_SECTOR : (n + 1) * DIFAT_PER_SECTOR]
        chunk = chunk + [FREESECT] * (DIFAT_PER_SECTOR - len(chunk))
        link = difat_sector_ids[n + 1] if n + 1 < len(difat_sector_ids) else ENDOFCHAIN
        out += struct.pack(f"<{FAT_PER_SECTOR}I", *chunk, link)
    for sector in sectors:
        out += sector
    out += bytes(free_tail * SECTOR)
    if total_size is not None:
        assert len(out) == total_size
    return bytes(out)


def _pack_entry(entry: _Entry | None) -> bytes:
    if entry is None:
        return bytes(64) + struct.pack("<HBBIII", 0, 0, 0, NOSTREAM, NOSTREAM, NOSTREAM) + bytes(16 + 4 + 16) + struct.pack("<IQ", 0, 0)
    raw = entry.name.encode("utf-16-le")
    name = (raw + b"\0\0").ljust(64, b"\0")
    start = entry.start
    if entry.kind == TYPE_STORAGE:
        start, size = 0, 0
    else:
        size = entry.size
    return (
        name
        + struct.pack("<HBBIII", len(raw) + 2, entry.kind, entry.color, entry.left, entry.right, entry.child)
        + entry.clsid
        + struct.pack("<I", 0)  # state bits
        + bytes(16)  # creation and modification times, left zero for reproducible output
        + struct.pack("<IQ", start, size)
    )


def _pack_header(*, fat_count, dir_start, minifat_start, minifat_count, difat_start, difat_count, header_difat) -> bytes:
    difat = list(header_difat) + [FREESECT] * (DIFAT_IN_HEADER - len(header_difat))
    header = (
        SIGNATURE
        + bytes(16)
        + struct.pack("<HHHHH", 0x003E, 0x0003, 0xFFFE, 9, 6)
        + bytes(6)
        + struct.pack(
            "<IIIIIIIII",
            0,  # directory sector count: always 0 in version 3
            fat_count,
            dir_start,
            0,  # transaction signature
            MINI_CUTOFF,
            minifat_start if minifat_count else ENDOFCHAIN,
            minifat_count,
            difat_start,
            difat_count,
        )
        + struct.pack(f"<{DIFAT_IN_HEADER}I", *difat)
    )
    assert len(header) == SECTOR
    return header
