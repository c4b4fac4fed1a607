"""Install mode of the real executable against the stand-in msi.dll under Wine.

The stand-in answers from a script (installed products, their properties, the package's
summary values, one result per configure call) and records every call, so these runs meet
installer results Wine's own msi.dll never gives, and show the calls exactly. The summary
values come from the script; the executable still extracts its embedded package to the
user's temporary folder, and the record shows what the installer would have read from it.
"""

from __future__ import annotations

import dataclasses
import functools
import re
import time

import pytest

import rc_strings
from rc_strings import IDOK

UPGRADE = "15.0.205.0"
ACCEPTED = "15.0.106.0"
UI_LEVEL = 7  # the level before the run: each product's change must be undone to it
CODES = ["{0B1C2D3E-4F50-4617-8293-A4B5C6D7E8F9}", "{3F2A8C41-7B5D-4E19-A6C2-9D0E1B7F4A53}",
         "{5D6E7F80-9A1B-4C2D-8E3F-405162738495}", "{7A8B9C0D-1E2F-4351-9627-38495A6B7C8D}"]
LOG_OFF = "MsiEnableLogW|16384|(null)|0"


@dataclasses.dataclass
class Product:
    code: str
    name: str
    version: str = ACCEPTED
    state: int = 5  # installed; 1 is advertised


@functools.cache
def english() -> dict[int, str]:
    return rc_strings.table("en_US.UTF-8")


def fnv1a64(data: bytes) -> str:
    value = 0xCBF29CE484222325
    for byte in data:
        value = ((value ^ byte) * 0x100000001B3) & 0xFFFFFFFFFFFFFFFF
    return f"{value:016x}"


def write_script(prefix, products, results=(), keywords=f"{UPGRADE};{ACCEPTED},",
                 template=None, extra=()):
    lines = [f"uilevel {UI_LEVEL}", f"summary 5 {keywords}",
             f"summary 7 {template or ';'.join(p.code for p in products)}"]
    for p in products:
        lines += [f"product {p.code} {p.state}", f"property {p.code} ProductName {p.name}",
                  f"property {p.code} VersionString {p.version}"]
    lines += [f"configure {result}" for result in results]
    lines += extra
    prefix.write_standin_script(lines)


@dataclasses.dataclass
class Run:
    boxes: list[tuple[str, str]]
    calls_at_box: list[int]  # how long the record was while each box showed
    calls: list[str]


def run_install(prefix, exe, box_count: int, *args: str, locale: str = "en_US.UTF-8") -> Run:
    started = prefix.start(exe, *args, native_msi=True, lc_all=locale)
    boxes, marks = [], []
    for _ in range(box_count):
        box = prefix.wait_box(pid=started.pid)
        boxes.append((box.caption, box.text))
        marks.append(len(prefix.standin_calls()))
        assert box.buttons == [IDOK]
        prefix.answer(box, IDOK)
    # A further box would keep the program waiting: name it rather than time out.
    deadline = time.monotonic() + 30
    while started.running() and time.monotonic() < deadline:
        extra = prefix.boxes(pid=started.pid)
        assert not extra, f"one box more than expected: {extra[0].caption!r}, {extra[0].text!r}"
        time.sleep(0.05)
    assert started.wait(30) == 0
    return Run(boxes, marks, prefix.standin_calls())


def temp_folder(prefix) -> str:
    """The temporary folder as GetTempPathW answers it, with its trailing backslash."""
    return f"C:\\users\\{prefix.default_temp().parent.name}\\Temp\\"


def split_record(prefix, calls: list[str], opens_succeed=True) -> tuple[str, list[str]]:
    """The package path the summary was read from, and the calls after the summary reads.

    Every summary handle given out must have been closed, and the package must be a fresh
    temporary file in the temporary folder.
    """
    assert not [c for c in calls if c.startswith("script|")], "the stand-in's script is wrong"
    head = list(calls)
    while head and not head[-1].startswith(("MsiGetSummaryInformationW|",
                                            "MsiSummaryInfoGetPropertyW|", "MsiCloseHandle|")):
        head.pop()
    rest = calls[len(head):]
    opened = [c.split("|")[2] for c in head if c.startswith("MsiGetSummaryInformationW|")]
    assert opened and len(set(opened)) == 1, head
    assert re.fullmatch(re.escape(temp_folder(prefix)) + r"MSP[1-9][0-9]*", opened[0])
    closed = sorted(c for c in head if c.startswith("MsiCloseHandle|"))
    handles = range(1, len(opened) + 1) if opens_succeed else []
    assert closed == sorted(f"MsiCloseHandle|{n}" for n in handles)
    return opened[0], rest


def discovery_calls(codes: list[str], products: list[Product]) -> list[str]:
    present = {p.code for p in products if p.state in (1, 5)}
    calls = []
    for code in codes:
        calls.append(f"MsiQueryProductStateW|{code}")
        if code in present:
            calls += [f"MsiGetProductInfoW|{code}|VersionString|1024",
                      f"MsiGetProductInfoW|{code}|ProductName|1024"]
    return calls


def patch_calls(product: Product, package: str, log: str | None, package_bytes: bytes,
                files_in_use: str | None = None):
    files_in_use = files_in_use or english()[320]
    command_line = f'PATCH="{package}" REBOOTPROMPT=S FILESINUSETEXT="{files_in_use}"'
    return [f"MsiEnableLogW|4096|{log or '(null)'}|0",
            "MsiSetInternalUI|35|(null)",
            f"MsiConfigureProductExW|{product.code}|0|5|{command_line}",
            # The installer opens the package by name, sharing only reading, and gets the
            # bytes that were embedded.
            f"patchfile|{package}|open=1|size={len(package_bytes)}|fnv={fnv1a64(package_bytes)}",
            f"MsiSetInternalUI|{UI_LEVEL}|(null)"]


def message(message_id: int, product: str = "", error: int = 0) -> tuple[str, str]:
    return rc_strings.expected_message(english(), message_id, product, error)


@pytest.mark.parametrize("result,report", [(1603, 300), (1642, 300), (3010, 301), (1641, 301)])
def test_installer_result_decides_the_report(standin, servicepack_exe, sample_package, result,
                                             report):
    product = Product(CODES[0], "Corvane Draftmill")
    write_script(standin, [product], results=[result])

    run = run_install(standin, servicepack_exe, 1)

    assert run.boxes == [message(report, product.name, result)]
    package, rest = split_record(standin, run.calls)
    log = f"{temp_folder(standin)}{product.name}.log"
    assert rest == (discovery_calls([product.code], [product]) +
                    patch_calls(product, package, log, sample_package.read_bytes()) + [LOG_OFF])
    assert not standin.c_path(package).exists()


@pytest.mark.parametrize("quiet", [False, True], ids=["boxes", "quiet"])
def test_products_are_patched_in_list_order(standin, servicepack_exe, sample_package, quiet):
    products = [Product(CODES[2], "Corvane Draftmill 2026"),
                Product(CODES[0], "Partsmith"),
                Product(CODES[3], "Corvane Viewer")]
    # A listed product that is not installed is asked about and skipped.
    codes = [CODES[2], CODES[1], CODES[0], CODES[3]]
    write_script(standin, products, results=[1603, 0, 3010], template=";".join(codes))

    run = run_install(standin, servicepack_exe, 0 if quiet else 3, *(["/q"] if quiet else []))

    package, rest = split_record(standin, run.calls)
    temp = temp_folder(standin)
    blocks = [patch_calls(p, package, f"{temp}{p.name}.log", sample_package.read_bytes())
              for p in products]
    discovered = discovery_calls(codes, products)
    assert rest == discovered + blocks[0] + blocks[1] + blocks[2] + [LOG_OFF]
    assert not standin.c_path(package).exists()
    if not quiet:
        assert run.boxes == [message(300, products[0].name, 1603),
                             message(301, products[1].name), message(301, products[2].name)]
        # Each report comes right after its own product's calls, before the next product's.
        head = len(run.calls) - len(rest) + len(discovered)
        assert run.calls_at_box == [head + 5, head + 10, head + 15]


def test_advertised_product_reads_as_no_installed_version(standin, servicepack_exe,
                                                          sample_package):
    # The installer gives VersionString only for an installed product: an advertised one
    # reads as 0.0.0.0, which the patch does not accept, and the next product is patched.
    products = [Product(CODES[0], "Partsmith", state=1), Product(CODES[1], "Corvane Viewer")]
    write_script(standin, products)

    run = run_install(standin, servicepack_exe, 2)

    assert run.boxes == [message(308, products[0].name), message(301, products[1].name)]
    package, rest = split_record(standin, run.calls)
    log = f"{temp_folder(standin)}{products[1].name}.log"
    assert rest == (discovery_calls(CODES[:2], products) +
                    patch_calls(products[1], package, log, sample_package.read_bytes()) +
                    [LOG_OFF])


# Each case: installed versions of three products, the keywords, the reports as (message,
# index of the product it names), the products patched, and whether the run reached its end.
WALK_CASES = {
    "upgrade before installed stops the run": (
        ["1.0.0.0", "1.5.0.0", "1.0.0.0"], "2.0.0.0;1.0.0.0,2.0.0.0,1.5.0.0,",
        [(301, 0), (306, 1)], [0], False),
    "all up to date: one report": (
        ["2.0.0.0", "2.0.0.0", "2.0.0.0"], "2.0.0.0;1.0.0.0,", [(306, 2)], [], True),
    "up to date ones are counted silently": (
        ["2.0.0.0", "1.0.0.0", "2.0.0.0"], "2.0.0.0;1.0.0.0,", [(301, 1)], [1], True),
    "a version not accepted is reported and passed over": (
        # Text after the last ',' is never compared.
        ["1.2.0.0", "1.1.0.0", "1.0.0.0"], "2.0.0.0;1.0.0.0,1.1.0.0",
        [(308, 0), (308, 1), (301, 2)], [2], True),
}


@pytest.mark.parametrize("case", WALK_CASES.values(), ids=WALK_CASES.keys())
def test_accepted_versions_walk(standin, servicepack_exe, sample_package, case):
    versions, keywords, reports, patched, completed = case
    products = [Product(code, f"Corvane Product {i}", version)
                for i, (code, version) in enumerate(zip(CODES, versions))]
    write_script(standin, products, keywords=keywords)

    run = run_install(standin, servicepack_exe, len(reports))

    assert run.boxes == [message(m, products[i].name) for m, i in reports]
    package, rest = split_record(standin, run.calls)
    expected = discovery_calls([p.code for p in products], products)
    for p in (products[i] for i in patched):
        expected += patch_calls(p, package, f"{temp_folder(standin)}{p.name}.log",
                                sample_package.read_bytes())
    # A run stopped in the walk handles no further product, and leaves the package.
    expected += [LOG_OFF] if completed else []
    assert rest == expected
    assert standin.c_path(package).exists() == (not completed)


def test_unreadable_summary_stops_before_discovery(standin, servicepack_exe):
    write_script(standin, [Product(CODES[0], "Corvane Draftmill")], extra=["summaryopen 1627"])

    run = run_install(standin, servicepack_exe, 1)

    # The installer's refusal is the code shown, not what an earlier call left behind.
    assert run.boxes == [message(300, error=1627)]
    package, rest = split_record(standin, run.calls, opens_succeed=False)
    assert rest == []
    assert standin.c_path(package).exists()


def test_a_regional_variant_reads_its_table_for_the_installer_too(standin, servicepack_exe,
                                                                   sample_package):
    strings = rc_strings.table("es_MX.UTF-8")
    product = Product(CODES[0], "Corvane Draftmill")
    write_script(standin, [product], results=[0])

    run = run_install(standin, servicepack_exe, 1, locale="es_MX.UTF-8")

    assert run.boxes == [rc_strings.expected_message(strings, 301, product.name, 0)]
    package, rest = split_record(standin, run.calls)
    log = f"{temp_folder(standin)}{product.name}.log"
    assert rest == (discovery_calls([product.code], [product]) +
                    patch_calls(product, package, log, sample_package.read_bytes(),
                                files_in_use=strings[320]) + [LOG_OFF])


@pytest.mark.parametrize("locale", ["es_MX.UTF-8", "zh_HK.UTF-8"])
def test_the_last_report_after_the_locale_reset_keeps_the_table(standin, servicepack_exe,
                                                                locale):
    products = [Product(code, f"Corvane Product {i}", UPGRADE)
                for i, code in enumerate(CODES[:2])]
    write_script(standin, products)

    run = run_install(standin, servicepack_exe, 1, locale=locale)

    strings = rc_strings.table(locale)
    assert run.boxes == [rc_strings.expected_message(strings, 306, products[1].name, 0)]
