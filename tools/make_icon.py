#!/usr/bin/python3
"""Draw the servicepack icon and write it as a Windows .ico file.

The design is a parcel (a box seen from slightly above, with a tape band) and a blue
arrow coming down into it. Every image is drawn from the same vector description,
anti-aliased by supersampling, then mapped onto one fixed 256-colour palette.

The 16, 32 and 48 pixel images are 8-bit DIBs with a 1-bit transparency (AND) mask, the
format every icon reader takes: Windows 7's shell draws these sizes in lists, on the taskbar
and in its icon views, and the convention for its icons is PNG compression for the 256 pixel
image only. That one is PNG-compressed (the loader of Windows Vista and later reads it; it
is a tenth of the DIB's size). The sizes in between (64, 96, 128) are left to the shell,
which scales the 256 pixel image down for them. A DIB stores only the palette entries its
pixels use. The output is deterministic: the same script writes the same bytes.

Usage: make_icon.py [OUTPUT]   (default: resources/servicepack.ico beside this tool)
"""

import os
import struct
import sys
import zlib

SIZES = (16, 32, 48, 256)
# Sizes stored PNG-compressed; every other size is a DIB.
PNG_SIZES = (256,)

# Design colours (R, G, B).
BOX_TOP = (240, 180, 92)
BOX_FRONT = (214, 144, 58)
BOX_SIDE = (170, 108, 38)
TAPE = (250, 228, 178)
TAPE_SHADE = (206, 178, 120)
ARROW = (36, 110, 214)
ARROW_EDGE = (18, 62, 140)
OUTLINE = (92, 56, 18)


def _palette():
    """256 colours: transparent black first, shade ramps of the design colours, then a
    colour cube and a grey ramp for whatever anti-aliasing produces in between."""
    colours = [(0, 0, 0)]
    for base in (BOX_TOP, BOX_FRONT, BOX_SIDE, TAPE, TAPE_SHADE, ARROW, ARROW_EDGE, OUTLINE):
        for step in range(8):
            f = 0.55 + step * 0.0643  # 0.55 .. 1.0
            colours.append(tuple(min(255, round(c * f)) for c in base))
    for r in range(6):
        for g in range(6):
            for b in range(5):
                colours.append((r * 51, g * 51, b * 63 + (b == 4) * 3))
    grey = 0
    while len(colours) < 256:
        colours.append((grey, grey, grey))
        grey = min(255, grey + 15)
    return colours[:256]


PALETTE = _palette()


def _inside(poly, x, y):
    """Even-odd point-in-polygon test."""
    hit = False
    n = len(poly)
    for i in range(n):
        x1, y1 = poly[i]
        x2, y2 = poly[(i + 1) % n]
        if (y1 > y) != (y2 > y):
            if x < x1 + (y - y1) * (x2 - x1) / (y2 - y1):
                hit = not hit
    return hit


# Shapes in unit coordinates (0,0 top left .. 1,1 bottom right), painted in order.
_TOP = [(0.10, 0.42), (0.58, 0.30), (0.92, 0.40), (0.44, 0.54)]
_FRONT = [(0.10, 0.42), (0.44, 0.54), (0.44, 0.94), (0.10, 0.80)]
_SIDE = [(0.44, 0.54), (0.92, 0.40), (0.92, 0.78), (0.44, 0.94)]
_TAPE_TOP = [(0.23, 0.39), (0.30, 0.375), (0.77, 0.495), (0.70, 0.515)]
_TAPE_SIDE = [(0.70, 0.515), (0.77, 0.495), (0.77, 0.83), (0.70, 0.85)]
_ARROW = [
    (0.42, 0.04), (0.62, 0.04), (0.62, 0.24), (0.74, 0.24),
    (0.52, 0.46), (0.30, 0.24), (0.42, 0.24),
]


def _expand(poly, amount):
    """Grow a convex-ish polygon away from its centroid: used for the dark outlines."""
    cx = sum(p[0] for p in poly) / len(poly)
    cy = sum(p[1] for p in poly) / len(poly)
    out = []
    for x, y in poly:
        dx, dy = x - cx, y - cy
        d = (dx * dx + dy * dy) ** 0.5 or 1.0
        out.append((x + dx / d * amount, y + dy / d * amount))
    return out


def _sample(x, y, outline):
    """Colour at one point, or None where the icon is transparent."""
    if _inside(_ARROW, x, y):
        return ARROW
    if _inside(_expand(_ARROW, outline), x, y):
        return ARROW_EDGE
    if _inside(_TAPE_TOP, x, y):
        return TAPE
    if _inside(_TAPE_SIDE, x, y):
        return TAPE_SHADE
    if _inside(_TOP, x, y):
        return BOX_TOP
    if _inside(_FRONT, x, y):
        return BOX_FRONT
    if _inside(_SIDE, x, y):
        return BOX_SIDE
    box = _TOP[:1] + [_TOP[1], _TOP[2], _SIDE[2], _SIDE[3], _FRONT[3]]
    if _inside(_expand(box, outline), x, y):
        return OUTLINE
    return None


def render(size):
    """Pixels of one image, top row first: a list of rows of (R, G, B) or None."""
    ss = 4 if size <= 64 else 2
    outline = max(1.0 / size, 0.012)
    rows = []
    for py in range(size):
        row = []
        for px in range(size):
            acc = [0, 0, 0]
            hits = 0
            for sy in range(ss):
                for sx in range(ss):
                    c = _sample((px + (sx + 0.5) / ss) / size, (py + (sy + 0.5) / ss) / size,
                                outline)
                    if c is not None:
                        hits += 1
                        acc[0] += c[0]
                        acc[1] += c[1]
                        acc[2] += c[2]
            if hits * 2 < ss * ss:
                row.append(None)
            else:
                row.append(tuple(round(v / hits) for v in acc))
        rows.append(row)
    return rows


def _nearest(colour, cache):
    index = cache.get(colour)
    if index is None:
        best = None
        for i, p in enumerate(PALETTE[1:], start=1):
            d = (p[0] - colour[0]) ** 2 + (p[1] - colour[1]) ** 2 + (p[2] - colour[2]) ** 2
            if best is None or d < best[0]:
                best = (d, i)
        index = best[1]
        cache[colour] = index
    return index


def indexed(rows, cache):
    """Palette indices of one image, top row first; 0 (transparent black) where it is clear."""
    return [[0 if c is None else _nearest(c, cache) for c in row] for row in rows]


def encode_dib(size, pixels):
    """One icon image as a DIB: BITMAPINFOHEADER, a palette of the colours it uses
    (transparent black first), 8-bit colour rows and the AND mask, rows bottom-up as DIBs
    are stored."""
    xor_stride = (size + 3) & ~3
    and_stride = ((size + 31) // 32) * 4
    used = sorted({0} | {index for row in pixels for index in row})
    slot = {index: n for n, index in enumerate(used)}
    xor = bytearray()
    mask = bytearray()
    for row in reversed(pixels):
        line = bytearray(xor_stride)
        bits = bytearray(and_stride)
        for x, index in enumerate(row):
            if index == 0:
                bits[x // 8] |= 0x80 >> (x % 8)
            else:
                line[x] = slot[index]
        xor += line
        mask += bits
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 8, 0, len(xor) + len(mask),
                         0, 0, len(used), 0)
    palette = b"".join(struct.pack("<BBBB", PALETTE[i][2], PALETTE[i][1], PALETTE[i][0], 0)
                       for i in used)
    return header + palette + bytes(xor) + bytes(mask)


def _png_chunk(kind, data):
    return (struct.pack(">I", len(data)) + kind + data
            + struct.pack(">I", zlib.crc32(kind + data) & 0xFFFFFFFF))


def _filtered(lines, kind):
    """The image data with one PNG filter on every row: 0 none, 2 up (4 bytes a pixel)."""
    out = bytearray()
    previous = bytes(len(lines[0]))
    for line in lines:
        out.append(kind)
        out += line if kind == 0 else bytes((a - b) & 0xFF for a, b in zip(line, previous))
        previous = line
    return bytes(out)


def encode_png(size, pixels):
    """One icon image as a 32-bit RGBA PNG, transparent where the mask would be. Of the two
    filters the one that compresses smaller is kept (deterministic: zlib at level 9)."""
    lines = [b"".join(b"\0\0\0\0" if i == 0 else bytes(PALETTE[i]) + b"\xff" for i in row)
             for row in pixels]
    data = min((zlib.compress(_filtered(lines, kind), 9) for kind in (0, 2)), key=len)
    header = struct.pack(">IIBBBBB", size, size, 8, 6, 0, 0, 0)
    return (b"\x89PNG\r\n\x1a\n" + _png_chunk(b"IHDR", header) + _png_chunk(b"IDAT", data)
            + _png_chunk(b"IEND", b""))


def encode_image(size, rows, cache):
    pixels = indexed(rows, cache)
    return encode_png(size, pixels) if size in PNG_SIZES else encode_dib(size, pixels)


def build_icon(sizes=SIZES):
    cache = {}
    images = [encode_image(s, render(s), cache) for s in sizes]
    out = bytearray(struct.pack("<HHH", 0, 1, len(images)))
    offset = 6 + 16 * len(images)
    for s, img in zip(sizes, images):
        dim = 0 if s >= 256 else s
        # The directory says 32 bits for the PNG image, what it decodes to.
        bits = 32 if s in PNG_SIZES else 8
        out += struct.pack("<BBBBHHII", dim, dim, 0, 0, 1, bits, len(img), offset)
        offset += len(img)
    for img in images:
        out += img
    return bytes(out)


def main(argv):
    default = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "resources",
                           "servicepack.ico")
    path = argv[1] if len(argv) > 1 else default
    with open(path, "wb") as f:
        f.write(build_icon())
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
