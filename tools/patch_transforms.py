"""The transforms a patch package carries, as their own summary information describes them.

A patch package lists its transforms in Last Saved By (summary property 8): substorage names,
each after a ':', separated by ';'. Each transform's summary information says what it does:
Revision Number (9) "{original product code}original version;{new product code}new
version;{upgrade code}", Template (7) "platform;language", and Character Count (16) the
conditions for applying it: validation flags in the high 16 bits, error conditions to
suppress in the low 16 bits.
"""

from __future__ import annotations

import re
from dataclasses import dataclass

import olefile

import summary_text
from version_quad import version_quad

SUMMARY_STREAM = "\x05SummaryInformation"
PID_TEMPLATE = 7
PID_REVNUMBER = 9
PID_CHARCOUNT = 16

VALIDATE_LANGUAGE = 0x0001
VALIDATE_PRODUCT = 0x0002
VALIDATE_PLATFORM = 0x0004
VALIDATE_MAJORVERSION = 0x0008
VALIDATE_MINORVERSION = 0x0010
VALIDATE_UPDATEVERSION = 0x0020
VALIDATE_NEWLESSBASEVERSION = 0x0040
VALIDATE_NEWLESSEQUALBASEVERSION = 0x0080
VALIDATE_NEWEQUALBASEVERSION = 0x0100
VALIDATE_NEWGREATEREQUALBASEVERSION = 0x0200
VALIDATE_NEWGREATERBASEVERSION = 0x0400
VALIDATE_UPGRADECODE = 0x0800

VALIDATION_WORDS = {
    VALIDATE_LANGUAGE: "language must match",
    VALIDATE_PRODUCT: "product code must match",
    VALIDATE_PLATFORM: "platform must match",
    VALIDATE_MAJORVERSION: "major version compared",
    VALIDATE_MINORVERSION: "major and minor versions compared",
    VALIDATE_UPDATEVERSION: "major, minor and update versions compared",
    VALIDATE_NEWLESSBASEVERSION: "installed < original",
    VALIDATE_NEWLESSEQUALBASEVERSION: "installed <= original",
    VALIDATE_NEWEQUALBASEVERSION: "installed = original",
    VALIDATE_NEWGREATEREQUALBASEVERSION: "installed >= original",
    VALIDATE_NEWGREATERBASEVERSION: "installed > original",
    VALIDATE_UPGRADECODE: "upgrade code must match",
}
ERROR_CONDITION_WORDS = {
    0x0001: "adding an existing row",
    0x0002: "deleting a missing row",
    0x0004: "adding an existing table",
    0x0008: "deleting a missing table",
    0x0010: "updating a missing row",
    0x0020: "a code page mismatch",
    0x0100: "view transform",
}
# How many version parts each version flag compares; the widest one set wins.
VERSION_PARTS = ((VALIDATE_UPDATEVERSION, 3), (VALIDATE_MINORVERSION, 2), (VALIDATE_MAJORVERSION, 1))
RELATIONS = {
    VALIDATE_NEWLESSBASEVERSION: lambda a, b: a < b,
    VALIDATE_NEWLESSEQUALBASEVERSION: lambda a, b: a <= b,
    VALIDATE_NEWEQUALBASEVERSION: lambda a, b: a == b,
    VALIDATE_NEWGREATEREQUALBASEVERSION: lambda a, b: a >= b,
    VALIDATE_NEWGREATERBASEVERSION: lambda a, b: a > b,
}
# Matched whole (fullmatch): with "$" a code followed by a line feed would pass.
GUID_RE = re.compile(r"\{[0-9A-Fa-f]{8}-[0-9A-Fa-f]{4}-[0-9A-Fa-f]{4}-[0-9A-Fa-f]{4}-[0-9A-Fa-f]{12}\}")
DESCRIPTION_RE = re.compile(r"(\{[^{}]*\})([^;]*);(\{[^{}]*\})([^;]*);(\{[^{}]*\})?")


@dataclass
class Transform:
    name: str
    original_product_code: str | None = None
    original_version: str | None = None
    new_product_code: str | None = None
    new_version: str | None = None
    upgrade_code: str | None = None
    template: str | None = None  # platform;language
    character_count: int | None = None
    error: str | None = None  # why the transform cannot be read; None when it can

    @property
    def validation(self) -> int:
        return ((self.character_count or 0) >> 16) & 0xFFFF

    @property
    def error_conditions(self) -> int:
        return (self.character_count or 0) & 0xFFFF

    def companion_of(self, names: set[str]) -> bool:
        """A '#' transform travels with the transform of the same name without it (the pair
        a patch carries per product), and says the same about the product."""
        return self.name.startswith("#") and self.name[1:] in names


def listed_names(value: str) -> list[str]:
    """The entries of a Last Saved By value, as written (with their ':')."""
    return [entry for entry in value.split(";") if entry]


def _words(bits: int, names: dict[int, str]) -> list[str]:
    words = [text for flag, text in names.items() if bits & flag]
    unknown = bits & ~sum(names)
    return words + ([f"unknown flags 0x{unknown:04X}"] if unknown else [])


def validation_words(transform: Transform) -> list[str]:
    return _words(transform.validation, VALIDATION_WORDS) or ["nothing validated"]


def error_condition_words(transform: Transform) -> list[str]:
    return _words(transform.error_conditions, ERROR_CONDITION_WORDS)


def accepts_by_flags(transform: Transform, installed: str) -> bool:
    """Whether the transform's validation lets it apply to a product at that version although
    it does not start from it: no version check at all, or a relation that holds."""
    flags = transform.validation
    parts = next((count for flag, count in VERSION_PARTS if flags & flag), None)
    if parts is None:
        return True
    ours, base = version_quad(installed)[:parts], version_quad(transform.original_version)[:parts]
    relations = [test for flag, test in RELATIONS.items() if flags & flag]
    # With no relation given the versions must be equal, the narrowest reading.
    return any(test(ours, base) for test in relations or [RELATIONS[VALIDATE_NEWEQUALBASEVERSION]])


def _describe(transform: Transform, props: dict, codec: str) -> Transform:
    description = summary_text.text(props.get(PID_REVNUMBER), codec)
    if description is None:
        transform.error = "its summary information has no Revision Number (property 9)"
        return transform
    match = DESCRIPTION_RE.fullmatch(description)
    if not match:
        transform.error = (f"its Revision Number (summary property 9) {description!r} is not "
                           "'{original product code}version;{new product code}version;{upgrade code}'")
        return transform
    (transform.original_product_code, transform.original_version, transform.new_product_code,
     transform.new_version, transform.upgrade_code) = match.groups()
    transform.template = summary_text.text(props.get(PID_TEMPLATE), codec)
    count = props.get(PID_CHARCOUNT)
    transform.character_count = count & 0xFFFFFFFF if isinstance(count, int) else None
    return transform


def read_transform(ole, entry: str) -> Transform:
    """One entry of the package's transform list, read from the package's storage."""
    if not entry.startswith(":"):
        return Transform(entry, error="is not a transform inside the package (no ':' before its name)")
    transform = Transform(entry[1:])
    storage = [transform.name]
    if ole.get_type(storage) != olefile.STGTY_STORAGE:
        transform.error = "is not in the package (no substorage of that name)"
        return transform
    if ole.get_type(storage + [SUMMARY_STREAM]) != olefile.STGTY_STREAM:
        transform.error = "has no summary information"
        return transform
    try:
        props = ole.getproperties(storage + [SUMMARY_STREAM])
    except Exception as exc:  # olefile raises plain exceptions for damaged streams
        transform.error = f"its summary information cannot be read: {exc}"
        return transform
    return _describe(transform, props, summary_text.codec(props))


def read_transforms(ole, listed: str) -> list[Transform]:
    return [read_transform(ole, entry) for entry in listed_names(listed)]


def facts(transform: Transform) -> dict:
    """What one transform says, as plain data (the inspector's JSON)."""
    readable = transform.error is None
    return {
        "name": transform.name,
        "original_product_code": transform.original_product_code,
        "original_version": transform.original_version,
        "new_product_code": transform.new_product_code,
        "new_version": transform.new_version,
        "upgrade_code": transform.upgrade_code,
        "template": transform.template,
        "character_count": transform.character_count,
        "validation": validation_words(transform) if readable else [],
        "error_conditions_ignored": error_condition_words(transform) if readable else [],
        "error": transform.error,
    }


def lines(transforms: list[dict]) -> list[str]:
    """The transforms as indented lines, each followed by what its validation asks."""
    out = [f"  transforms ({len(transforms)}):" if transforms else "  transforms: none listed"]
    for t in transforms:
        if t["error"] is not None:
            out.append(f"    {t['name']}: {t['error']}")
            continue
        out += [
            f"    {t['name']}: {t['original_product_code']} {t['original_version']} -> "
            f"{t['new_product_code']} {t['new_version']}, upgrade code {t['upgrade_code'] or '(none)'}",
            f"      platform;language: {t['template'] if t['template'] is not None else '(none)'}",
            f"      validation: {', '.join(t['validation'])}",
        ]
        if t["error_conditions_ignored"]:
            out.append(f"      errors ignored: {', '.join(t['error_conditions_ignored'])}")
    return out
