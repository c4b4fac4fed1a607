"""Texts of summary information properties, decoded in the code page the property set names."""

from __future__ import annotations

PID_CODEPAGE = 1


def text(value, codec: str) -> str | None:
    """A text property as a string; None when the property is missing or not text."""
    if isinstance(value, bytes):
        return value.decode(codec, errors="replace")
    if isinstance(value, str):
        return value
    return None


def codec(props: dict) -> str:
    """The Python codec of the property set's code page (property 1); cp1252 when it names none
    that Python knows."""
    codepage = props.get(PID_CODEPAGE)
    if isinstance(codepage, int):
        name = "utf-8" if codepage == 65001 else f"cp{codepage}"
        try:
            "".encode(name)
            return name
        except LookupError:
            pass
    return "cp1252"
