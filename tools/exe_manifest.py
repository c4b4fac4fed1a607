"""What an application manifest asks of the system: the execution level, the DPI awareness
and the systems the program declares itself written for. Used by inspect_exe.py.

Elements are looked up in the namespaces the system reads them from: one in another
namespace is ignored by the system, and so it is here.
"""

from __future__ import annotations

import xml.etree.ElementTree as ET

ASM_V2 = "{urn:schemas-microsoft-com:asm.v2}"
ASM_V3 = "{urn:schemas-microsoft-com:asm.v3}"
COMPATIBILITY = "{urn:schemas-microsoft-com:compatibility.v1}"
SETTINGS_2005 = "{http://schemas.microsoft.com/SMI/2005/WindowsSettings}"
SETTINGS_2016 = "{http://schemas.microsoft.com/SMI/2016/WindowsSettings}"

SUPPORTED_OS_NAMES = {
    "{e2011457-1546-43c5-a5fe-008deee3d3f0}": "Windows Vista",
    "{35138b9a-5d96-4fbd-8e2d-a2440225f93a}": "Windows 7",
    "{4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38}": "Windows 8",
    "{1f676c76-80e1-4239-95bb-83d0f6d0da78}": "Windows 8.1",
    "{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}": "Windows 10 and 11",
}


def _first(root: ET.Element, *tags: str) -> ET.Element | None:
    for tag in tags:
        found = next(root.iter(tag), None)
        if found is not None:
            return found
    return None


def _text(element: ET.Element | None) -> str | None:
    return element.text.strip() if element is not None and element.text else None


def read_manifest(data: bytes) -> dict:
    """The manifest's facts; {"error": ...} when it is not well-formed XML."""
    try:
        root = ET.fromstring(data)
    except ET.ParseError as exc:
        return {"error": f"not well-formed XML: {exc}"}
    level = _first(root, f"{ASM_V3}requestedExecutionLevel", f"{ASM_V2}requestedExecutionLevel")
    systems = [element.get("Id", "") for element in root.iter(f"{COMPATIBILITY}supportedOS")]
    return {
        "execution_level": level.get("level") if level is not None else None,
        "ui_access": level.get("uiAccess") if level is not None else None,
        "dpi_awareness": _text(_first(root, f"{SETTINGS_2016}dpiAwareness")),
        "dpi_aware": _text(_first(root, f"{SETTINGS_2005}dpiAware")),
        "supported_os": [{"id": guid, "name": SUPPORTED_OS_NAMES.get(guid.lower(), "unknown")}
                         for guid in systems],
    }
