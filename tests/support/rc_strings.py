"""The texts the tests expect in message boxes: the string tables compiled into the
executable, read with pefile, and the catalog's captions and inserts.

That the compiled tables hold what the resource scripts say is tests/e2e/test_resources.py's
to show; the tests that read boxes compare them with what the executable carries.
"""

from __future__ import annotations

import ctypes
import functools
import os
import re

import pefile

# The language of the table the program picks for each locale the tests run programs under.
LOCALE_LANGUAGES = {
    "en_US.UTF-8": 1033,
    "de_DE.UTF-8": 1031,
    "ja_JP.UTF-8": 1041,
    "ru_RU.UTF-8": 1049,
    "zh_CN.UTF-8": 2052,
    "zh_TW.UTF-8": 1028,
    "cs_CZ.UTF-8": 1029,
    "es_ES.UTF-8": 1034,
    "fr_FR.UTF-8": 1036,
    "hu_HU.UTF-8": 1038,
    "it_IT.UTF-8": 1040,
    "ko_KR.UTF-8": 1042,
    "pl_PL.UTF-8": 1045,
    "pt_BR.UTF-8": 1046,
    # No table of its own: the English one serves.
    "nl_NL.UTF-8": 1033,
}

# Regional variants of the tables' languages, and the table each of them reads.
VARIANT_LANGUAGES = {
    "es_MX.UTF-8": 1034,
    "de_AT.UTF-8": 1031,
    "de_CH.UTF-8": 1031,
    "fr_CA.UTF-8": 1036,
    "fr_BE.UTF-8": 1036,
    "it_CH.UTF-8": 1040,
    "pt_PT.UTF-8": 1046,
    "zh_HK.UTF-8": 1028,
    "zh_SG.UTF-8": 2052,
    "en_GB.UTF-8": 1033,
}


@functools.cache
def string_tables(exe: str) -> dict[int, dict[int, str]]:
    """{language: {entry id: text}} of an executable's string tables."""
    image = pefile.PE(exe, fast_load=True)
    image.parse_data_directories([pefile.DIRECTORY_ENTRY["IMAGE_DIRECTORY_ENTRY_RESOURCE"]])
    tables: dict[int, dict[int, str]] = {}
    for kind in image.DIRECTORY_ENTRY_RESOURCE.entries:
        if kind.id != pefile.RESOURCE_TYPE["RT_STRING"]:
            continue
        # Each block holds sixteen entries; pefile decodes one but merges the languages.
        for block in kind.directory.entries:
            for language in block.directory.entries:
                at = language.data.struct
                pefile.parse_strings(image.get_data(at.OffsetToData, at.Size),
                                     (block.id - 1) * 16, tables.setdefault(language.id, {}))
    return tables


def table(locale: str, exe: str | None = None) -> dict[int, str]:
    """The table a program shows under `locale`: servicepack.exe's unless `exe` is given."""
    language = {**LOCALE_LANGUAGES, **VARIANT_LANGUAGES}[locale]
    return string_tables(exe or os.environ["SERVICEPACK_EXE"])[language]


def formatted(text: str, *inserts) -> str:
    """%s and %d filled in order as the program's formatter does; a number prints as a signed
    32-bit value, and a text may leave out trailing inserts."""
    used = len(re.findall(r"%[sd]", text))
    values = tuple(ctypes.c_int32(v).value if isinstance(v, int) else v for v in inserts)
    return text % values[:used]


SERVICE_PACK = "service pack"
IDOK, IDCANCEL, IDRETRY = 1, 2, 4

# Catalogued messages: caption entry and inserts (product name, error code) in order.
CATALOG = {
    300: (311, lambda product, error: (SERVICE_PACK, error)),
    301: (312, lambda product, error: (SERVICE_PACK, product)),
    306: (313, lambda product, error: (product, SERVICE_PACK)),
    307: (311, lambda product, error: (SERVICE_PACK, SERVICE_PACK)),
    308: (311, lambda product, error: (SERVICE_PACK, product)),
    309: (311, lambda product, error: ()),
    310: (311, lambda product, error: (SERVICE_PACK,)),
}

WATCHED = {"dmill.exe": "Draftmill\n", "partsmith.exe": "Partsmith\n"}


def expected_message(table: dict[int, str], message_id: int, product: str,
                     error: int) -> tuple[str, str]:
    """Caption and text of a catalogued message box."""
    caption_id, inserts = CATALOG[message_id]
    return table[caption_id], formatted(table[message_id], *inserts(product, error))


def expected_prompt(table: dict[int, str], exe: str) -> tuple[str, str]:
    """Caption and text of the running-application prompt for a watched executable."""
    return table[311], formatted(table[321], WATCHED[exe], "")
