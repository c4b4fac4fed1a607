"""Checks of the resource sources: the fourteen string tables, the resource script
template, the deployment-metadata text and the icon.

The table checks live in plain functions that return a list of problems, so that they
can be run against the real files and, with deliberately broken texts, against
themselves."""

import os
import re
import struct

import pytest

import make_icon
import rc_script

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
RESOURCES = os.path.join(ROOT, "resources")


# File tag -> (language id, LANGUAGE statement).
LANGUAGES = {
    "zh-TW": (1028, ("LANG_CHINESE", "SUBLANG_CHINESE_TRADITIONAL")),
    "cs": (1029, ("LANG_CZECH", "SUBLANG_DEFAULT")),
    "de": (1031, ("LANG_GERMAN", "SUBLANG_GERMAN")),
    "en": (1033, ("LANG_ENGLISH", "SUBLANG_ENGLISH_US")),
    "es": (1034, ("LANG_SPANISH", "SUBLANG_SPANISH")),
    "fr": (1036, ("LANG_FRENCH", "SUBLANG_FRENCH")),
    "hu": (1038, ("LANG_HUNGARIAN", "SUBLANG_DEFAULT")),
    "it": (1040, ("LANG_ITALIAN", "SUBLANG_ITALIAN")),
    "ja": (1041, ("LANG_JAPANESE", "SUBLANG_DEFAULT")),
    "ko": (1042, ("LANG_KOREAN", "SUBLANG_KOREAN")),
    "pl": (1045, ("LANG_POLISH", "SUBLANG_DEFAULT")),
    "pt-BR": (1046, ("LANG_PORTUGUESE", "SUBLANG_PORTUGUESE_BRAZILIAN")),
    "ru": (1049, ("LANG_RUSSIAN", "SUBLANG_DEFAULT")),
    "zh-CN": (2052, ("LANG_CHINESE", "SUBLANG_CHINESE_SIMPLIFIED")),
}

# The values of the macros above, as the resource compiler's headers define them.
LANG_VALUES = {
    "LANG_CHINESE": 0x04, "LANG_CZECH": 0x05, "LANG_GERMAN": 0x07, "LANG_ENGLISH": 0x09,
    "LANG_SPANISH": 0x0A, "LANG_FRENCH": 0x0C, "LANG_HUNGARIAN": 0x0E, "LANG_ITALIAN": 0x10,
    "LANG_JAPANESE": 0x11, "LANG_KOREAN": 0x12, "LANG_POLISH": 0x15,
    "LANG_PORTUGUESE": 0x16, "LANG_RUSSIAN": 0x19,
}
SUBLANG_VALUES = {
    "SUBLANG_DEFAULT": 1, "SUBLANG_CHINESE_TRADITIONAL": 1, "SUBLANG_CHINESE_SIMPLIFIED": 2,
    "SUBLANG_GERMAN": 1, "SUBLANG_ENGLISH_US": 1, "SUBLANG_SPANISH": 1, "SUBLANG_FRENCH": 1,
    "SUBLANG_ITALIAN": 1, "SUBLANG_KOREAN": 1, "SUBLANG_PORTUGUESE_BRAZILIAN": 1,
}

ENGLISH = {
    300: "A problem prevented the %s from being installed. Contact your system administrator."
         " \n\n Error Code: %d",
    301: "The %s has been successfully installed.",
    306: "Your version of %s is up-to-date and this %s is not necessary.",
    307: "The %s could not be installed because the expected Corvane product could not be "
         "located on your computer.\nMake sure that you are using the correct %s for the "
         "product.",
    308: "The %s could not be installed because it is designed for %s - Update 1 (Version 2).",
    309: "The command line that you supplied is incorrect. Please check it for errors.",
    310: "You must supply a patch list with the command line to install this %s installation.",
    311: "Installation Error",
    312: "Installation Successful",
    313: "Installation Unnecessary",
    320: "The following applications should be closed before continuing the install:",
    321: "The installer has detected that the following programs\nare running.\n\n%s\nIn "
         "order to complete installation, these programs must\nbe closed.\n%s",
}

# Insert kinds per entry, in order: "s" a text, "d" the error code.
INSERTS = {
    300: "sd", 301: "ss", 306: "ss", 307: "ss", 308: "ss", 309: "", 310: "s",
    311: "", 312: "", 313: "", 320: "", 321: "ss",
}

# Names that stay as they are in every language.
KEPT = {307: "Corvane", 308: "Update 1 (Version 2)"}

MAX_CHARS = 511

# Wording a native review ruled out: the either-or Korean particles (the inserted word is
# always "service pack", which takes the forms after a consonant), the Korean word that
# reads as "found" rather than "detected", and the Polish word for a suite of programs.
AVOIDED = {"ko": ["을(를)", "이(가)", "은(는)", "발견"], "pl": ["pakiet"]}


def language_id(statement):
    lang, sub = statement
    if lang not in LANG_VALUES or sub not in SUBLANG_VALUES:
        return None
    return LANG_VALUES[lang] | (SUBLANG_VALUES[sub] << 10)


def placeholders(text):
    """The conversions of a wsprintfW format, in order; None when one is not a plain
    %s or %d (a width, another kind, or a lone % at the end)."""
    kinds = []
    for m in re.finditer(r"%(.?)", text, re.S):
        c = m.group(1)
        if c == "%":
            continue
        if c not in ("s", "d"):
            return None
        kinds.append(c)
    return "".join(kinds)


def check_entry(entry, text):
    problems = []
    kinds = placeholders(text)
    if kinds is None:
        problems.append(f"{entry}: a placeholder other than %s / %d")
    elif not INSERTS[entry].startswith(kinds):
        problems.append(f"{entry}: placeholders {kinds!r} do not follow inserts "
                        f"{INSERTS[entry]!r}")
    if len(text) > MAX_CHARS:
        problems.append(f"{entry}: {len(text)} characters, more than {MAX_CHARS}")
    if entry == 320 and '"' in text:
        problems.append("320: contains a double quote")
    if entry in KEPT and KEPT[entry] not in text:
        problems.append(f"{entry}: {KEPT[entry]!r} is missing")
    if not text.strip():
        problems.append(f"{entry}: empty")
    return problems


def check_table_source(tag, raw):
    """Every problem of one strings_<tag>.rc file, given its bytes."""
    try:
        text = raw.decode("utf-8-sig")
    except UnicodeDecodeError as e:
        return [f"not UTF-8: {e}"]
    problems = []
    if text.lstrip("\ufeff").splitlines()[0].strip() != "#pragma code_page(65001)":
        problems.append("does not start with #pragma code_page(65001)")
    try:
        tables = rc_script.parse_rc_string_tables(text)
    except rc_script.RcSyntaxError as e:
        return problems + [f"syntax: {e}"]
    if len(tables) != 1:
        return problems + [f"{len(tables)} string tables instead of one"]
    table = tables[0]
    want_id, want_statement = LANGUAGES[tag]
    if table.language is None:
        problems.append("no LANGUAGE statement before the table")
    elif language_id(table.language) != want_id:
        problems.append(f"LANGUAGE {table.language} is not {want_id}")
    if len(re.findall(r"^\s*LANGUAGE\b", text, re.M)) != 1:
        problems.append("more than one LANGUAGE statement")
    missing = sorted(set(INSERTS) - set(table.entries))
    extra = sorted(set(table.entries) - set(INSERTS))
    if missing:
        problems.append(f"missing entries {missing}")
    if extra:
        problems.append(f"extra entries {extra}")
    for entry, value in sorted(table.entries.items()):
        if entry in INSERTS:
            problems += check_entry(entry, value)
            problems += [f"{entry}: avoided wording {word!r}" for word in AVOIDED.get(tag, [])
                         if word in value.lower()]
            if tag == "en" and value != ENGLISH[entry]:
                problems.append(f"{entry}: English text differs from the catalog: {value!r}")
    return problems


def read(name):
    with open(os.path.join(RESOURCES, name), "rb") as f:
        return f.read()


def english_source():
    return read("strings_en.rc").decode("utf-8")


# --- the real files ----------------------------------------------------------------------

@pytest.mark.parametrize("tag", sorted(LANGUAGES))
def test_string_table_source_has_no_problems(tag):
    assert check_table_source(tag, read(f"strings_{tag}.rc")) == []


def test_table_files_and_includes_are_exactly_the_fourteen_languages():
    files = sorted(f for f in os.listdir(RESOURCES) if re.fullmatch(r"strings_.+\.rc", f))
    assert files == sorted(f"strings_{t}.rc" for t in LANGUAGES)
    includes = re.findall(r'^\s*#include\s+"([^"]+)"', read("strings.rc").decode(), re.M)
    assert sorted(includes) == files
    ids = [LANGUAGES[t][0] for t in LANGUAGES]
    assert len(set(ids)) == 14


def test_translations_differ_from_english():
    english = rc_script.parse_rc_string_tables(english_source())[0].entries
    for tag in LANGUAGES:
        if tag == "en":
            continue
        text = read(f"strings_{tag}.rc").decode("utf-8")
        table = rc_script.parse_rc_string_tables(text)[0].entries
        same = [e for e in table if table[e] == english[e]]
        assert same == [], f"{tag}: entries left in English: {same}"


def test_resource_script_orders_languages_before_string_tables():
    """Each non-string resource has its own LANGUAGE statement right before it, and the
    string tables (whose LANGUAGE statements would otherwise leak) come last."""
    text = read("servicepack.rc.in").decode("utf-8")
    assert text.splitlines()[0].strip() == "#pragma code_page(65001)"
    assert "#include <winresrc.h>" in text
    code = [ln.strip() for ln in rc_script.strip_comments(text).splitlines() if ln.strip()]
    expected = {
        "IDR_MSP MSP": (1046, '"@SERVICEPACK_RC_PACKAGE_PATH@"'),
        "206 TXT": (1046, '"metadata.txt"'),
        "IDR_MAINFRAME ICON": (1033, '"servicepack.ico"'),
        "CREATEPROCESS_MANIFEST_RESOURCE_ID RT_MANIFEST": (1033, '"servicepack.manifest"'),
    }
    seen = {}
    language = None
    strings_at = None
    for i, line in enumerate(code):
        if line.startswith("LANGUAGE"):
            lang, sub = (p.strip() for p in line[len("LANGUAGE"):].split(","))
            language = language_id((lang, sub))
        elif line == '#include "strings.rc"':
            strings_at = i
        elif not line.startswith("#"):
            key = " ".join(line.split()[:2])
            assert key in expected, f"unexpected resource line {line!r}"
            assert strings_at is None, f"{key} comes after the string tables"
            assert code[i - 1].startswith("LANGUAGE"), f"{key} has no LANGUAGE of its own"
            seen[key] = (language, line.split(None, 2)[2])
    assert seen == expected
    assert strings_at is not None
    assert "VERSIONINFO" not in text


def test_metadata_text_is_eight_crlf_lines_in_key_order():
    raw = read("metadata.txt")
    assert all(b < 0x80 for b in raw)
    assert raw.endswith(b"\r\n")
    lines = raw[:-2].split(b"\r\n")
    assert b"\n" not in b"".join(lines) and b"\r" not in b"".join(lines)
    keys = [ln.split(b"=", 1)[0].decode() for ln in lines]
    assert keys == ["ProductCode", "ProductVersionCandidate", "PatchTitle", "PatchGUID",
                    "PatchFileLocation", "PatchSize", "PatchDesc", "PatchDescLocation"]
    values = dict(ln.decode().split("=", 1) for ln in lines)
    guid = r"\{[0-9A-F]{8}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{12}\}"
    assert re.fullmatch(f"{guid}(;{guid})*", values["ProductCode"])
    assert re.fullmatch(guid, values["PatchGUID"])
    assert re.fullmatch(r"\d+\.\d+\.\d+\.\d+", values["ProductVersionCandidate"])
    assert values["PatchSize"].isdigit()
    assert values["PatchFileLocation"].startswith("\\\\") and "ftp://" in values[
        "PatchFileLocation"]


def test_icon_file_has_small_dibs_and_a_png_at_256_and_is_reproducible():
    raw = read("servicepack.ico")
    reserved, kind, count = struct.unpack_from("<HHH", raw)
    assert (reserved, kind, count) == (0, 1, 4)
    sizes = []
    for i in range(count):
        w, h, colours, _, planes, bits, size, offset = struct.unpack_from(
            "<BBBBHHII", raw, 6 + 16 * i)
        side = w or 256
        image = raw[offset:offset + size]
        assert (h or 256) == side and (colours, planes) == (0, 1) and len(image) == size
        if side == 256:
            assert bits == 32 and image.startswith(b"\x89PNG\r\n\x1a\n")
            # IHDR: 256 x 256, 8 bits a channel, RGBA, no interlace.
            assert struct.unpack_from(">4sIIBBBBB", image, 12) == (b"IHDR", 256, 256, 8, 6, 0,
                                                                   0, 0)
        else:
            assert bits == 8
            *hdr, used, _ = struct.unpack_from("<IiiHHIIiiII", image)
            assert hdr[:5] == [40, side, 2 * side, 1, 8], "not a DIB with an AND mask"
            xor = ((side + 3) & ~3) * side
            mask = ((side + 31) // 32) * 4 * side
            assert 1 < used <= 256 and size == 40 + used * 4 + xor + mask
            # Every colour index the pixels use is within the stored palette.
            assert max(image[40 + used * 4:40 + used * 4 + xor]) < used
        sizes.append(side)
    assert sizes == [16, 32, 48, 256]
    assert make_icon.build_icon() == raw, "resources/servicepack.ico is not make_icon.py's"


# --- the checks themselves -----------------------------------------------------------------

def mutate(old, new, source=None):
    source = source if source is not None else english_source()
    assert old in source
    return source.replace(old, new, 1).encode("utf-8")


@pytest.mark.parametrize("old,new,problem", [
    ('301 "The %s has', '301 "The %d has', "301: placeholders 'd"),
    ('306 "Your version of %s', '306 "Your version of %s %s %s', "306: placeholders 'sss"),
    ('309 "The command line', '309 "The %s command line', "309: placeholders"),
    ('311 "Installation Error"', '311 "Installation Error %s"', "311: placeholders"),
    ('310 "You must', '310 "%5s You must', "310: a placeholder other"),
    ("install:\"", 'install: ""now"""', "320: contains a double quote"),
    ('312 "Installation Successful"', '312 "' + "x" * 512 + '"', "312: 512 characters"),
    ('    313 "Installation Unnecessary"\n', "", "missing entries [313]"),
    ('    313 "Installation', '    314 "x"\n    313 "Installation', "extra entries [314]"),
    ("LANG_ENGLISH, SUBLANG_ENGLISH_US", "LANG_ENGLISH, SUBLANG_DEFAULT\nLANGUAGE LANG_GERMAN,"
     " SUBLANG_GERMAN", "LANGUAGE ('LANG_GERMAN', 'SUBLANG_GERMAN') is not 1033"),
    ("administrator. \\n\\n Error", "administrator.\\n\\nError", "300: English text differs"),
    ('301 "The', '301 L"The', 'syntax: wide L"..." literal'),
    ("#pragma code_page(65001)\n", "", "does not start with #pragma"),
])
def test_breaches_are_reported(old, new, problem):
    problems = check_table_source("en", mutate(old, new))
    assert any(p.startswith(problem) for p in problems), problems


def test_translation_may_drop_trailing_inserts_but_not_reorder():
    ok = mutate('301 "The %s has been successfully installed."', '301 "Fertig."')
    assert check_table_source("en", ok) == [
        "301: English text differs from the catalog: 'Fertig.'"]
    swapped = check_entry(300, "Code %d for %s")
    assert swapped and "placeholders 'ds'" in swapped[0]
    assert check_entry(321, "%s") == []


@pytest.mark.parametrize("tag,old,new,problem", [
    ("ko", "%s을 설치하려면", "%s을(를) 설치하려면", "310: avoided wording '을(를)'"),
    ("ko", "\\n감지했습니다", "\\n발견했습니다", "321: avoided wording '발견'"),
    ("pl", '"Dodatek %s został', '"Pakiet %s został', "301: avoided wording 'pakiet'"),
])
def test_avoided_wording_is_reported(tag, old, new, problem):
    source = read(f"strings_{tag}.rc").decode("utf-8")
    assert check_table_source(tag, mutate(old, new, source)) == [problem]


def test_non_utf8_source_is_reported():
    raw = english_source().replace("Installation Error", "Installationsfehler \xfc").encode(
        "latin-1")
    assert check_table_source("en", raw)[0].startswith("not UTF-8")


def test_rc_parser_reads_escapes_and_doubled_quotes():
    src = ('LANGUAGE LANG_ENGLISH, SUBLANG_ENGLISH_US\n'
           'STRINGTABLE DISCARDABLE\nBEGIN\n'
           '  1, "a ""quoted"" \\\\ word\\n" // comment "x"\n'
           '  /* 2 "skipped" */\n'
           '  3 "C:\\\\dir\\ttab"\nEND\n')
    (table,) = rc_script.parse_rc_string_tables(src)
    assert table.language == ("LANG_ENGLISH", "SUBLANG_ENGLISH_US")
    assert table.entries == {1: 'a "quoted" \\ word\n', 3: "C:\\dir\ttab"}
    for bad in ['STRINGTABLE { 1 "a" 1 "b" }', 'STRINGTABLE { 1 "a" "b" }',
                'STRINGTABLE { x "a" }', 'STRINGTABLE { 1 "a\\q" }', 'STRINGTABLE { 1 "a"']:
        with pytest.raises(rc_script.RcSyntaxError):
            rc_script.parse_rc_string_tables(bad)
