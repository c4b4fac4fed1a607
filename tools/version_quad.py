"""Version texts read the way servicepack.exe reads them: four 16-bit parts, ',' between parts
read like '.', so that 15,0,205,0 and 15.0.205.0 are one version."""

from __future__ import annotations

import re


def _part(text: str) -> int:
    # Like the C conversion the executable uses: digits after blanks and a sign, clamped
    # to 32 bits, then cut to 16.
    sign, digits = re.match(r"\s*([+-]?)([0-9]*)", text).groups()
    value = int(digits or "0") * (-1 if sign == "-" else 1)
    return max(-(2**31), min(2**31 - 1, value)) & 0xFFFF


def version_quad(text: str) -> tuple[int, int, int, int]:
    """The four parts of a version text; missing parts are 0, parts after the fourth ignored."""
    rest, parts = text.replace(",", "."), []
    for _ in range(3):
        head, dot, rest = rest.partition(".")
        parts.append(_part(head))
        if not dot:
            break
    else:
        parts.append(_part(rest))
    return tuple(parts + [0] * (4 - len(parts)))


def version_string(text: str) -> str:
    """The dotted version the executable compares with the installed one."""
    return ".".join(str(part) for part in version_quad(text))
