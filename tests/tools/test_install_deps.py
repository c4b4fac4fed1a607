"""tools/install-deps.sh generates every locale the tests and tools run programs under.

Wine takes a program's string table from the locale's name alone, so a missing locale would
go unnoticed until non-ASCII text passed to a program arrived garbled; the harness refuses
one, and this finds it before a run does.
"""

from __future__ import annotations

import re
from pathlib import Path

ROOT = Path(__file__).resolve().parents[2]
LOCALE_NAME = re.compile(r"\b([a-z]{2,3}_[A-Z]{2})\.UTF-8\b")


def generated_locales() -> set[str]:
    script = (ROOT / "tools" / "install-deps.sh").read_text(encoding="utf-8")
    listed = re.search(r"^locales=\(([^)]*)\)", script, re.M)
    assert listed, "install-deps.sh has no locales=(...) list"
    return set(listed.group(1).split())


def test_every_locale_the_tests_and_tools_name_is_generated():
    sources = [*ROOT.glob("tests/e2e/*.py"), *ROOT.glob("tools/*.py"), *ROOT.glob("tools/*.sh"),
               *ROOT.glob("tests/support/*.py")]
    named = {m.group(1) for path in sources
             for m in LOCALE_NAME.finditer(path.read_text(encoding="utf-8"))}
    assert "ja_JP" in named  # the scan itself finds what is there
    assert named - generated_locales() == set()
