"""Reads the string tables of the resource scripts, and formats catalog texts like wsprintfW.

The parsing of the scripts is rc_script's; this adds the catalog's inserts and
captions on top.
"""

from __future__ import annotations

from pathlib import Path


import rc_script

# The file of each language that the tests look at, by locale.
LOCALE_FILES = {
    "en_US.UTF-8": "strings_en.rc",
    "de_DE.UTF-8": "strings_de.rc",
    "ja_JP.UTF-8": "strings_ja.rc",
    "ru_RU.UTF-8": "strings_ru.rc",
    "zh_CN.UTF-8": "strings_zh-CN.rc",
    "zh_TW.UTF-8": "strings_zh-TW.rc",
    "cs_CZ.UTF-8": "strings_cs.rc",
    "es_ES.UTF-8": "strings_es.rc",
    "fr_FR.UTF-8": "strings_fr.rc",
    "hu_HU.UTF-8": "strings_hu.rc",
    "it_IT.UTF-8": "strings_it.rc",
    "ko_KR.UTF-8": "strings_ko.rc",
    "pl_PL.UTF-8": "strings_pl.rc",
    "pt_BR.UTF-8": "strings_pt-BR.rc",
    # No table of its own: the English one serves.
    "nl_NL.UTF-8": "strings_en.rc",
}


def read_string_table(path: Path) -> dict[int, str]:
    """The entries of the one STRINGTABLE in `path`, by id."""
    tables = rc_script.parse_rc_string_tables(Path(path).read_text(encoding="utf-8-sig"))
    if len(tables) != 1:
        raise ValueError(f"{path}: {len(tables)} string tables, expected one")
    return tables[0].entries


def wsprintf(text: str, *inserts) -> str:
    """%s and %d (a 32-bit value printed signed) with the inserts in order; %% is a '%'."""
    out = []
    pending = list(inserts)
    i = 0
    while i < len(text):
        if text[i] == "%" and i + 1 < len(text):
            kind = text[i + 1]
            if kind == "%":
                out.append("%")
            elif kind == "s":
                out.append(str(pending.pop(0)))
            elif kind == "d":
                value = int(pending.pop(0)) & 0xFFFFFFFF
                out.append(str(value - (1 << 32) if value & 0x80000000 else value))
            else:
                raise ValueError(f"unexpected placeholder %{kind} in {text!r}")
            i += 2
        else:
            out.append(text[i])
            i += 1
    return "".join(out)


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
    return table[caption_id], wsprintf(table[message_id], *inserts(product, error))


def expected_prompt(table: dict[int, str], exe: str) -> tuple[str, str]:
    """Caption and text of the running-application prompt for a watched executable."""
    return table[311], wsprintf(table[321], WATCHED[exe], "")
