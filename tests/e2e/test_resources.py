"""The resource set of the built servicepack.exe, read straight from the PE file.

Needs no Wine: it reads SERVICEPACK_EXE, SERVICEPACK_PACKAGE and SERVICEPACK_SOURCE_DIR
(and, when set, SERVICEPACK_BIG_EXE with SERVICEPACK_BIG_PACKAGE) and skips without them."""

import os
import struct
import sys
import xml.etree.ElementTree as ET

import pytest

EXE = os.environ.get("SERVICEPACK_EXE")
PACKAGE = os.environ.get("SERVICEPACK_PACKAGE")
SOURCE_DIR = os.environ.get("SERVICEPACK_SOURCE_DIR")
if not (EXE and PACKAGE and SOURCE_DIR):
    pytest.skip("SERVICEPACK_EXE, SERVICEPACK_PACKAGE and SERVICEPACK_SOURCE_DIR are needed",
                allow_module_level=True)

sys.path.insert(0, os.path.join(SOURCE_DIR, "tools"))
import pe_resources as pe  # noqa: E402

RESOURCES = os.path.join(SOURCE_DIR, "resources")
LANGUAGE_IDS = {1028, 1029, 1031, 1033, 1034, 1036, 1038, 1040, 1041, 1042, 1045, 1046,
                1049, 2052}
ICON_SIZES = [16, 32, 48, 64, 96, 128, 256]


def read_bytes(path):
    with open(path, "rb") as f:
        return f.read()


@pytest.fixture(scope="module")
def resources():
    return pe.read_resources(EXE)


def test_resource_set_is_exactly_the_expected_one(resources):
    kinds = {(r.type, r.name, r.lang) for r in resources if r.type not in (
        pe.RT_STRING, pe.RT_ICON)}
    assert kinds == {
        ("MSP", "IDR_MSP", 1046),
        ("TXT", 206, 1046),
        (pe.RT_GROUP_ICON, "IDR_MAINFRAME", 1033),
        (pe.RT_MANIFEST, 1, 1033),
    }
    assert not pe.find(resources, pe.RT_VERSION)
    assert len(resources) == len({(r.type, r.name, r.lang) for r in resources})


def test_package_resource_is_the_package_byte_for_byte(resources):
    (msp,) = pe.find(resources, "MSP", "IDR_MSP")
    data = read_bytes(PACKAGE)
    assert len(msp.data) == len(data)
    assert msp.data == data
    assert msp.data[:8] == bytes.fromhex("D0CF11E0A1B11AE1")


def test_big_package_is_embedded_unchanged():
    big_exe = os.environ.get("SERVICEPACK_BIG_EXE")
    big_package = os.environ.get("SERVICEPACK_BIG_PACKAGE")
    if not (big_exe and big_package):
        pytest.skip("no big variant configured")
    (msp,) = pe.find(pe.read_resources(big_exe), "MSP", "IDR_MSP", 1046)
    assert len(msp.data) == 24_629_248
    assert msp.data == read_bytes(big_package)


def test_metadata_text_is_the_source_file(resources):
    (txt,) = pe.find(resources, "TXT", 206, 1046)
    assert txt.data == read_bytes(os.path.join(RESOURCES, "metadata.txt"))


def test_icon_group_references_seven_8bpp_images(resources):
    (group,) = pe.find(resources, pe.RT_GROUP_ICON, "IDR_MAINFRAME", 1033)
    entries = pe.decode_icon_group(group.data)
    assert [e.width for e in entries] == ICON_SIZES
    assert all(e.height == e.width and e.bit_count == 8 and e.planes == 1 for e in entries)
    icons = {r.name: r for r in pe.find(resources, pe.RT_ICON)}
    assert sorted(icons) == sorted(e.icon_id for e in entries)
    for e in entries:
        image = icons[e.icon_id]
        assert image.lang == 1033
        assert len(image.data) == e.size
        size, width, height, planes, bits = struct.unpack_from("<IiiHH", image.data)
        assert (size, width, height, planes, bits) == (40, e.width, 2 * e.width, 1, 8)


def test_manifest_asks_for_highest_available(resources):
    (manifest,) = pe.find(resources, pe.RT_MANIFEST, 1, 1033)
    root = ET.fromstring(manifest.data)
    levels = [el.attrib for el in root.iter() if el.tag.endswith("}requestedExecutionLevel")]
    assert levels == [{"level": "highestAvailable", "uiAccess": "false"}]


FILE_LANGUAGES = {
    "zh-TW": 1028, "cs": 1029, "de": 1031, "en": 1033, "es": 1034, "fr": 1036, "hu": 1038,
    "it": 1040, "ja": 1041, "ko": 1042, "pl": 1045, "pt-BR": 1046, "ru": 1049, "zh-CN": 2052,
}


def source_table(tag):
    with open(os.path.join(RESOURCES, f"strings_{tag}.rc"), encoding="utf-8") as f:
        (table,) = pe.parse_rc_string_tables(f.read())
    return table.entries


def test_string_tables_come_in_exactly_fourteen_languages(resources):
    blocks = {(r.name, r.lang) for r in pe.find(resources, pe.RT_STRING)}
    assert {lang for _, lang in blocks} == LANGUAGE_IDS == set(FILE_LANGUAGES.values())
    assert {block for block, _ in blocks} == {19, 20, 21}


@pytest.mark.parametrize("tag", sorted(FILE_LANGUAGES))
def test_string_table_equals_its_source_entry_by_entry(resources, tag):
    compiled = pe.string_tables(resources)[FILE_LANGUAGES[tag]]
    source = source_table(tag)
    assert sorted(compiled) == sorted(source)
    for entry, text in source.items():
        assert compiled[entry] == text, f"{tag} entry {entry}"


def test_english_line_feeds_and_spaces_survive_compilation(resources):
    # Checked against literal text rather than the parsed source, so that an escape
    # handled the same wrong way by the parser and the compiler still shows.
    english = pe.string_tables(resources)[1033]
    assert english[300] == ("A problem prevented the %s from being installed. Contact your "
                            "system administrator. \n\n Error Code: %d")
    assert english[321] == ("The installer has detected that the following programs\nare "
                            "running.\n\n%s\nIn order to complete installation, these "
                            "programs must\nbe closed.\n%s")
