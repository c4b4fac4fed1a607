"""Target discovery against Wine's installer with real products, through summary_probe.exe.

The sample product is built with wixl and installed with msiexec; an advertised product is a
registry key under the installer's product list (Wine cannot advertise one itself).
"""

from __future__ import annotations

import pytest

import harness
from test_summary import SAMPLE_CODE, place, probe

ADVERTISED_CODE = "{9A8B7C6D-5E4F-4A3B-8C2D-1E0F9A8B7C6D}"
ADVERTISED_NAME = "Corvane Advertised"
ABSENT_CODE = "{5D6E7F80-9A1B-4C2D-8E3F-405162738495}"
KEYWORDS = "15.0.205.0;15.0.106.0,"


def advertise(prefix, code: str, name: str) -> None:
    key = r"HKLM\Software\Classes\Installer\Products" + "\\" + harness.packed_guid(code)
    prefix.reg_add(key, "ProductName", name)


@pytest.fixture(scope="module")
def machine(shared_machine):
    """A prefix with the sample product installed and another product advertised."""
    advertise(shared_machine, ADVERTISED_CODE, ADVERTISED_NAME)
    return shared_machine


def discover(prefix, summary_probe, template: str, name: str) -> list[list[str]]:
    path = place(prefix, name, template=template, keywords=KEYWORDS)
    fields = probe(prefix, summary_probe, "discover", path)
    targets = [t.split("|") for t in fields.get("target", [])]
    assert fields["count"] == [str(len(targets))]
    return targets


def test_installed_product_is_found_with_its_name_and_version(machine, summary_probe,
                                                              sample_package):
    fields = probe(machine, summary_probe, "discover", harness.to_windows(sample_package))
    assert fields["count"] == ["1"]
    assert fields["target"] == [
        f"{SAMPLE_CODE}|Corvane Sample|15.0.106.0|15.0.205.0|15.0.106.0,"]


@pytest.mark.parametrize("template, expected", [
    # Advertised counts like installed; absent codes and a code behind a space are dropped;
    # the list's order is the records' order.
    (f"{ABSENT_CODE};{ADVERTISED_CODE}; {SAMPLE_CODE};{SAMPLE_CODE}",
     [ADVERTISED_CODE, SAMPLE_CODE]),
    (f"{SAMPLE_CODE};{ADVERTISED_CODE};", [SAMPLE_CODE, ADVERTISED_CODE]),
    (f"{SAMPLE_CODE};{SAMPLE_CODE}", [SAMPLE_CODE, SAMPLE_CODE]),
    # Discovery ends at the first empty entry.
    (f"{SAMPLE_CODE};;{ADVERTISED_CODE}", [SAMPLE_CODE]),
    (f";{SAMPLE_CODE}", []),
    ("", []),
    # The installer matches codes without regard to case; the record keeps the list's text.
    (SAMPLE_CODE.lower(), [SAMPLE_CODE.lower()]),
], ids=["mixed", "trailing-semicolon", "duplicate", "empty-entry", "leading-semicolon",
        "empty", "lower-case"])
def test_discovery_keeps_present_products_in_list_order(machine, summary_probe, request,
                                                        template, expected):
    targets = discover(machine, summary_probe, template, f"{request.node.callspec.id}.msp")
    assert [t[0] for t in targets] == expected
    for code, name, installed, upgrade, accepted in targets:
        assert (upgrade, accepted) == ("15.0.205.0", "15.0.106.0,")
        if code.upper() == SAMPLE_CODE:
            assert (name, installed) == ("Corvane Sample", "15.0.106.0")
        else:
            # The installer gives VersionString only for an installed product.
            assert (name, installed) == (ADVERTISED_NAME, "")


def test_sample_patch_moves_the_installed_version(machine, summary_probe, sample_package):
    # Proof that the embedded sample is a patch the installer really applies.
    prefix = machine
    package = harness.to_windows(sample_package)
    assert probe(prefix, summary_probe, "discover", package)["target"][0].split("|")[2] == \
        "15.0.106.0"
    prefix.apply_patch(sample_package)
    target = probe(prefix, summary_probe, "discover", package)["target"][0].split("|")
    assert target[:3] == [SAMPLE_CODE, "Corvane Sample", "15.0.205.0"]
