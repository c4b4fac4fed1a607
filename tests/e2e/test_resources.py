"""The resource set of the built servicepack.exe, read straight from the PE file.

Needs no Wine: it reads SERVICEPACK_EXE, SERVICEPACK_PACKAGE and SERVICEPACK_SOURCE_DIR
(and, when set, SERVICEPACK_BIG_EXE with SERVICEPACK_BIG_PACKAGE) and skips without them."""

import os
import struct
import xml.etree.ElementTree as ET
from dataclasses import dataclass

import pefile
import pytest

import rc_script

EXE = os.environ.get("SERVICEPACK_EXE")
PACKAGE = os.environ.get("SERVICEPACK_PACKAGE")
SOURCE_DIR = os.environ.get("SERVICEPACK_SOURCE_DIR")
if not (EXE and PACKAGE and SOURCE_DIR):
    pytest.skip("SERVICEPACK_EXE, SERVICEPACK_PACKAGE and SERVICEPACK_SOURCE_DIR are needed",
                allow_module_level=True)


RT_ICON = pefile.RESOURCE_TYPE["RT_ICON"]
RT_STRING = pefile.RESOURCE_TYPE["RT_STRING"]
RT_GROUP_ICON = pefile.RESOURCE_TYPE["RT_GROUP_ICON"]
RT_VERSION = pefile.RESOURCE_TYPE["RT_VERSION"]
RT_MANIFEST = pefile.RESOURCE_TYPE["RT_MANIFEST"]
RESOURCES = os.path.join(SOURCE_DIR, "resources")
LANGUAGE_IDS = {1028, 1029, 1031, 1033, 1034, 1036, 1038, 1040, 1041, 1042, 1045, 1046,
                1049, 2052}
ICON_SIZES = [16, 32, 48, 256]


def read_bytes(path):
    with open(path, "rb") as f:
        return f.read()


@dataclass(frozen=True)
class Resource:
    type: object  # an id, or a name as text
    name: object
    lang: int
    data: bytes


def _key(entry):
    return str(entry.name) if entry.name is not None else entry.id


def read_resources(path):
    """Every resource of an executable, in directory order."""
    image = pefile.PE(str(path), fast_load=True)
    image.parse_data_directories(
        [pefile.DIRECTORY_ENTRY["IMAGE_DIRECTORY_ENTRY_RESOURCE"]])
    found = []
    for rtype in image.DIRECTORY_ENTRY_RESOURCE.entries:
        for name in rtype.directory.entries:
            for lang in name.directory.entries:
                at = lang.data.struct
                found.append(Resource(_key(rtype), _key(name), lang.id,
                                      image.get_data(at.OffsetToData, at.Size)))
    return found


def find(resources, rtype, name=None, lang=None):
    return [r for r in resources
            if r.type == rtype and (name is None or r.name == name)
            and (lang is None or r.lang == lang)]


def string_tables(resources):
    """{language: {entry id: text}}: pefile decodes the blocks but merges the languages."""
    tables = {}
    for r in find(resources, RT_STRING):
        pefile.parse_strings(r.data, (r.name - 1) * 16, tables.setdefault(r.lang, {}))
    return tables


@pytest.fixture(scope="module")
def resources():
    return read_resources(EXE)


def test_resource_set_is_exactly_the_expected_one(resources):
    kinds = {(r.type, r.name, r.lang) for r in resources if r.type not in (
        RT_STRING, RT_ICON)}
    assert kinds == {
        ("MSP", "IDR_MSP", 1046),
        ("TXT", 206, 1046),
        (RT_GROUP_ICON, "IDR_MAINFRAME", 1033),
        (RT_MANIFEST, 1, 1033),
    }
    assert not find(resources, RT_VERSION)
    assert len(resources) == len({(r.type, r.name, r.lang) for r in resources})


@pytest.mark.parametrize("which", ["SERVICEPACK_EXE", "SERVICEPACK_BIG_EXE"])
def test_sections_are_page_aligned_in_the_file(which):
    # Otherwise Wine reads the whole image, package and all, into memory at every start.
    path = os.environ.get(which)
    if not path:
        pytest.skip(f"{which} is not set")
    image = pefile.PE(path, fast_load=True)
    assert image.OPTIONAL_HEADER.FileAlignment == 4096
    assert all(s.PointerToRawData % 4096 == 0 for s in image.sections if s.SizeOfRawData)


def test_metadata_text_is_the_source_file(resources):
    (txt,) = find(resources, "TXT", 206, 1046)
    assert txt.data == read_bytes(os.path.join(RESOURCES, "metadata.txt"))


def test_icon_group_references_small_dibs_and_a_png_at_256(resources):
    (group,) = find(resources, RT_GROUP_ICON, "IDR_MAINFRAME", 1033)
    reserved, kind, count = struct.unpack_from("<HHH", group.data)
    assert (reserved, kind, len(group.data)) == (0, 1, 6 + 14 * count)
    # Each entry: width, height (0 means 256), colours, reserved, planes, bits, size, id.
    entries = [struct.unpack_from("<BBBBHHIH", group.data, 6 + 14 * i) for i in range(count)]
    assert [w or 256 for w, *_ in entries] == ICON_SIZES
    icons = {r.name: r for r in find(resources, RT_ICON)}
    assert sorted(icons) == sorted(e[-1] for e in entries)
    for width, height, _, _, planes, bits, size, icon_id in entries:
        image = icons[icon_id]
        side = width or 256
        assert height == width and planes == 1
        assert image.lang == 1033
        assert len(image.data) == size
        if side == 256:
            assert bits == 32 and image.data.startswith(b"\x89PNG\r\n\x1a\n")
        else:
            header = struct.unpack_from("<IiiHH", image.data)
            assert bits == 8 and header == (40, side, 2 * side, 1, 8)


ASM_V1 = "{urn:schemas-microsoft-com:asm.v1}"
ASM_V3 = "{urn:schemas-microsoft-com:asm.v3}"
COMPATIBILITY = "{urn:schemas-microsoft-com:compatibility.v1}"
SETTINGS_2005 = "{http://schemas.microsoft.com/SMI/2005/WindowsSettings}"
SETTINGS_2016 = "{http://schemas.microsoft.com/SMI/2016/WindowsSettings}"
SUPPORTED_OS = {
    "{35138b9a-5d96-4fbd-8e2d-a2440225f93a}",  # Windows 7
    "{4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38}",  # Windows 8
    "{1f676c76-80e1-4239-95bb-83d0f6d0da78}",  # Windows 8.1
    "{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}",  # Windows 10 and 11
}


@pytest.fixture(scope="module")
def manifest(resources):
    (found,) = find(resources, RT_MANIFEST, 1, 1033)
    return ET.fromstring(found.data)


def test_manifest_asks_for_highest_available(manifest):
    # Namespaced paths: an element in the wrong namespace is ignored by the system.
    levels = manifest.findall(f"{ASM_V3}trustInfo/{ASM_V3}security/"
                              f"{ASM_V3}requestedPrivileges/{ASM_V3}requestedExecutionLevel")
    assert [el.attrib for el in levels] == [{"level": "highestAvailable", "uiAccess": "false"}]


def test_manifest_depends_on_common_controls_6(manifest):
    (identity,) = manifest.findall(f"{ASM_V1}dependency/{ASM_V1}dependentAssembly/"
                                   f"{ASM_V1}assemblyIdentity")
    assert identity.attrib == {
        "type": "win32", "name": "Microsoft.Windows.Common-Controls", "version": "6.0.0.0",
        "processorArchitecture": "*", "publicKeyToken": "6595b64144ccf1df", "language": "*"}


def test_manifest_declares_per_monitor_dpi_awareness(manifest):
    (settings,) = manifest.findall(f"{ASM_V3}application/{ASM_V3}windowsSettings")
    (aware,) = settings.findall(f"{SETTINGS_2005}dpiAware")
    (awareness,) = settings.findall(f"{SETTINGS_2016}dpiAwareness")
    assert aware.text.strip().lower() == "true/pm"
    # The first value the system knows wins; v2 must come first.
    assert [v.strip() for v in awareness.text.split(",")] == ["PerMonitorV2", "PerMonitor"]


def test_manifest_lists_windows_7_to_11_as_supported(manifest):
    ids = [el.get("Id") for el in manifest.findall(
        f"{COMPATIBILITY}compatibility/{COMPATIBILITY}application/{COMPATIBILITY}supportedOS")]
    assert len(ids) == len(set(ids))
    assert set(ids) == SUPPORTED_OS


FILE_LANGUAGES = {
    "zh-TW": 1028, "cs": 1029, "de": 1031, "en": 1033, "es": 1034, "fr": 1036, "hu": 1038,
    "it": 1040, "ja": 1041, "ko": 1042, "pl": 1045, "pt-BR": 1046, "ru": 1049, "zh-CN": 2052,
}


def source_table(tag):
    with open(os.path.join(RESOURCES, f"strings_{tag}.rc"), encoding="utf-8") as f:
        (table,) = rc_script.parse_rc_string_tables(f.read())
    return table.entries


def test_string_tables_come_in_exactly_fourteen_languages(resources):
    blocks = {(r.name, r.lang) for r in find(resources, RT_STRING)}
    assert {lang for _, lang in blocks} == LANGUAGE_IDS == set(FILE_LANGUAGES.values())
    assert {block for block, _ in blocks} == {19, 20, 21}


@pytest.mark.parametrize("tag", sorted(FILE_LANGUAGES))
def test_string_table_equals_its_source_entry_by_entry(resources, tag):
    compiled = string_tables(resources)[FILE_LANGUAGES[tag]]
    source = source_table(tag)
    assert sorted(compiled) == sorted(source)
    for entry, text in source.items():
        assert compiled[entry] == text, f"{tag} entry {entry}"


def test_english_line_feeds_and_spaces_survive_compilation(resources):
    # Checked against literal text rather than the parsed source, so that an escape
    # handled the same wrong way by the parser and the compiler still shows.
    english = string_tables(resources)[1033]
    assert english[300] == ("A problem prevented the %s from being installed. Contact your "
                            "system administrator. \n\n Error Code: %d")
    assert english[321] == ("The installer has detected that the following programs\nare "
                            "running.\n\n%s\nIn order to complete installation, these "
                            "programs must\nbe closed.\n%s")
