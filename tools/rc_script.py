"""Reads the string tables of resource scripts (.rc), so that tests can compare what was
compiled with what was written.

Understands the STRINGTABLE syntax the servicepack scripts use and refuses anything else
inside a table, rather than guessing what the resource compiler would make of it.
"""

import re
from dataclasses import dataclass

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
_OPEN = (("punct", "{"), ("word", "BEGIN"))
_CLOSE = (("punct", "}"), ("word", "END"))


def _tokens(text):
    """(kind, text) pairs of a script without comments and preprocessor lines."""
    body = strip_comments(text)
    body = "\n".join(ln for ln in body.split("\n") if not ln.lstrip().startswith("#"))
    tokens = []
    pos = 0
    while body[pos:].strip():
        m = _TOKEN.match(body, pos)
        if not m:
            raise RcSyntaxError(f"unexpected text: {body[pos:pos + 30]!r}")
        if m.group("wide"):
            raise RcSyntaxError("wide L\"...\" literal")
        kind = next(k for k in ("str", "word", "punct") if m.group(k))
        tokens.append((kind, m.group(kind)))
        pos = m.end()
    return tokens


def _language(tokens, i):
    """The (LANG_x, SUBLANG_y) of the LANGUAGE statement at tokens[i]."""
    if (i + 3 >= len(tokens) or tokens[i + 2] != ("punct", ",")
            or tokens[i + 1][0] != "word" or tokens[i + 3][0] != "word"):
        raise RcSyntaxError("malformed LANGUAGE statement")
    return tokens[i + 1][1], tokens[i + 3][1]


def _entries(tokens, i):
    """The entries of the STRINGTABLE whose body opens at tokens[i], and the index after it."""
    entries = {}
    while True:
        if i >= len(tokens):
            raise RcSyntaxError("STRINGTABLE without } or END")
        if tokens[i] in _CLOSE:
            return entries, i + 1
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


def parse_rc_string_tables(text):
    """Parse the string tables of one resource script.

    Understands what the servicepack scripts use: preprocessor lines (skipped),
    LANGUAGE x, y statements and STRINGTABLE blocks with { } or BEGIN/END holding
    `id "text"` or `id, "text"` entries. Raises RcSyntaxError on anything else inside a
    string table, on L"..." literals and on duplicate ids."""
    tokens = _tokens(text)
    tables = []
    language = None
    i = 0
    while i < len(tokens):
        if tokens[i] == ("word", "LANGUAGE"):
            language = _language(tokens, i)
            i += 4
        elif tokens[i] == ("word", "STRINGTABLE"):
            i += 1
            while i < len(tokens) and tokens[i][0] == "word" and tokens[i] not in _OPEN:
                i += 1  # memory flags such as DISCARDABLE
            if i >= len(tokens) or tokens[i] not in _OPEN:
                raise RcSyntaxError("STRINGTABLE without { or BEGIN")
            entries, i = _entries(tokens, i + 1)
            tables.append(RcStringTable(language, entries))
        else:
            i += 1
    return tables
