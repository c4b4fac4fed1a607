"""tools/inspect_exe.py on the built servicepack.exe, on a signed copy of it, on small
executables made here with MinGW (each bad input, the package rules, version information),
and against what "/e" writes under Wine.

The built executable and the Wine tools come from the environment the windows preset's
ctest gives (SERVICEPACK_EXE, SERVICEPACK_PACKAGE, SERVICEPACK_WINE_TOOLS_DIR); without
them those tests are skipped.
"""

import hashlib
import json
import os
import shutil
import subprocess
import sys
import time
from pathlib import Path

import olefile
import pytest

import exe_manifest
import inspect_exe
import make_msp

ROOT = Path(__file__).resolve().parents[2]
TOOLS = ROOT / "tools"


WINDRES = "x86_64-w64-mingw32-windres"
GCC = "x86_64-w64-mingw32-gcc"
PRODUCT = "{3F2A8C41-7B5D-4E19-A6C2-9D0E1B7F4A53}"
LANGUAGES = {1028: "Chinese (Traditional, Taiwan)", 1029: "Czech", 1031: "German (Germany)",
             1033: "English (United States)", 1034: "Spanish (Spain, traditional sort)",
             1036: "French (France)", 1038: "Hungarian", 1040: "Italian (Italy)",
             1041: "Japanese", 1042: "Korean", 1045: "Polish", 1046: "Portuguese (Brazil)",
             1049: "Russian", 2052: "Chinese (Simplified, PRC)"}


def inspect(exe, *options):
    return subprocess.run([sys.executable, str(TOOLS / "inspect_exe.py"), str(exe), *options],
                          capture_output=True, text=True, timeout=300)


def inspect_json(exe, *options):
    done = inspect(exe, "--json", *options)
    assert done.returncode in (0, 1), done.stderr
    return done.returncode, json.loads(done.stdout)


def sha256(path):
    return hashlib.sha256(Path(path).read_bytes()).hexdigest()


def _configured(variable):
    value = os.environ.get(variable)
    if not value:
        pytest.skip(f"{variable} is not set (the windows preset's ctest sets it)")
    return Path(value)


@pytest.fixture(scope="module")
def built_exe():
    return _configured("SERVICEPACK_EXE")


@pytest.fixture(scope="module")
def built_package():
    return Path(os.environ.get("SERVICEPACK_PACKAGE") or ROOT / "resources" / "sample.msp")


# --- small executables made here ------------------------------------------------------------

@pytest.fixture(scope="module")
def make_exe(tmp_path_factory):
    """make_exe(rc_text, {name: bytes}) -> a console executable linked with that resource
    script; the files are written beside the script for it to embed."""
    for tool in (WINDRES, GCC):
        if shutil.which(tool) is None:
            pytest.skip(f"{tool} is not installed")
    counter = iter(range(1000))

    def make(rc_text, files):
        folder = tmp_path_factory.mktemp(f"exe{next(counter)}")
        for name, data in files.items():
            (folder / name).write_bytes(data)
        (folder / "r.rc").write_text(rc_text, encoding="utf-8")
        (folder / "main.c").write_text("int main(void) { return 0; }\n")
        for command in ([WINDRES, "-c", "65001", "-O", "coff", "-i", "r.rc", "-o", "r.o"],
                        [GCC, "-O2", "-s", "main.c", "r.o", "-o", "tiny.exe"]):
            done = subprocess.run(command, cwd=folder, capture_output=True, text=True)
            assert done.returncode == 0, done.stderr
        return folder / "tiny.exe"

    return make


PACKAGE_RC = 'LANGUAGE 0x16, 0x01\nIDR_MSP MSP "p.msp"\n'


def exe_with_package(make_exe, **package_options):
    return make_exe(PACKAGE_RC, {"p.msp": make_msp.build(**package_options)})


# --- the built executable -------------------------------------------------------------------

def sample_transforms(codes, original, new):
    """What the inspector says of the sample's transforms: one per product, each moving its
    product from the accepted version to the upgrade version."""
    return [{"name": f"T{number}", "original_product_code": code, "original_version": original,
             "new_product_code": code, "new_version": new, "upgrade_code": make_msp.SAMPLE_UPGRADE_CODE,
             "template": "x64;1033", "character_count": 0x09220002,
             "validation": ["product code must match", "major, minor and update versions compared",
                            "installed = original", "upgrade code must match"],
             "error_conditions_ignored": ["deleting a missing row"], "error": None}
            for number, code in enumerate(codes, 1)]


def test_every_field_of_the_built_executable(built_exe, built_package):
    status, facts = inspect_json(built_exe)
    assert status == 0
    assert facts["size"] == built_exe.stat().st_size
    assert facts["sha256"] == sha256(built_exe)

    with olefile.OleFileIO(str(built_package)) as ole:
        meta = ole.get_metadata()
    template, keywords = meta.template.decode("cp1252"), meta.keywords.decode("cp1252")
    upgrade, accepted = keywords.split(";", 1)
    codes = template.split(";")
    assert facts["package"].pop("transforms") == sample_transforms(codes, accepted.split(",")[0], upgrade)
    assert facts["package"] == {
        "resource_language": 1046,
        "size": built_package.stat().st_size, "sha256": sha256(built_package),
        "title": meta.title.decode("cp1252"), "subject": meta.subject.decode("cp1252"),
        "target_product_codes": codes, "accepted_versions": accepted.split(",")[:-1],
        "upgrade_version": upgrade,
        "check": {"passes": True, "problems": [], "warnings": [], "notes": []},
    }
    assert facts["detection_rule"] == [{"product_code": code, "version_string": upgrade}
                                       for code in codes]
    assert facts["manifest"] == {
        "execution_level": "highestAvailable", "ui_access": "false",
        "dpi_awareness": "PerMonitorV2, PerMonitor", "dpi_aware": "true/pm",
        "supported_os": [
            {"id": "{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}", "name": "Windows 10 and 11"},
            {"id": "{1f676c76-80e1-4239-95bb-83d0f6d0da78}", "name": "Windows 8.1"},
            {"id": "{4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38}", "name": "Windows 8"},
            {"id": "{35138b9a-5d96-4fbd-8e2d-a2440225f93a}", "name": "Windows 7"}]}
    assert facts["string_table_languages"] == [{"lcid": lcid, "name": name}
                                               for lcid, name in sorted(LANGUAGES.items())]
    assert facts["version_information"] is None
    assert sorted(dll.lower() for dll in facts["imported_dlls"]) == ["kernel32.dll", "msvcrt.dll"]
    assert facts["load_configuration"] == {
        "size": 0x140, "dependent_load_flags": 0x800, "dependent_load_flags_hex": "0x0800",
        "flag_names": ["LOAD_LIBRARY_SEARCH_SYSTEM32"], "search": "the system directory only"}
    assert facts["authenticode"] == {"signed": False}


def test_text_report_of_the_built_executable(built_exe, built_package):
    done = inspect(built_exe)
    assert done.returncode == 0 and done.stderr == ""
    out = done.stdout
    for line in (f"  SHA-256: {sha256(built_exe)}", f"  SHA-256: {sha256(built_package)}",
                 "  title: Corvane Sample Service Pack", "  build check: passes",
                 f"  {PRODUCT}: 15.0.205.0", "  execution level: highestAvailable (uiAccess false)",
                 "  transforms (3):",
                 f"    T2: {PRODUCT} 15.0.106.0 -> {PRODUCT} 15.0.205.0, upgrade code "
                 f"{make_msp.SAMPLE_UPGRADE_CODE}",
                 "      platform;language: x64;1033", "      errors ignored: deleting a missing row",
                 "  DPI awareness: PerMonitorV2, PerMonitor (dpiAware true/pm)",
                 "    Windows 7 {35138b9a-5d96-4fbd-8e2d-a2440225f93a}",
                 "String tables (14 languages)", "  1046: Portuguese (Brazil)",
                 "Version information: none", "Imported DLLs: KERNEL32.dll, msvcrt.dll",
                 "Load configuration: DependentLoadFlags 0x0800 (LOAD_LIBRARY_SEARCH_SYSTEM32)",
                 "  imports' DLLs searched for in: the system directory only",
                 "Authenticode: not signed"):
        assert line + "\n" in out
    assert out.index("Package") < out.index("Detection rule") < out.index("Manifest")


def _with_load_configuration(exe, tmp_path, size, flags):
    """A copy of `exe` whose load configuration says `size` and holds `flags`."""
    import pefile

    image = pefile.PE(str(exe), fast_load=True)
    entry = image.OPTIONAL_HEADER.DATA_DIRECTORY[
        pefile.DIRECTORY_ENTRY["IMAGE_DIRECTORY_ENTRY_LOAD_CONFIG"]]
    offset = image.get_offset_from_rva(entry.VirtualAddress)
    data = bytearray(exe.read_bytes())
    data[offset:offset + 4] = size.to_bytes(4, "little")
    data[offset + 0x4E:offset + 0x50] = flags.to_bytes(2, "little")
    copy = tmp_path / "changed.exe"
    copy.write_bytes(data)
    return copy


@pytest.mark.parametrize("size,flags,line,search", [
    (0x140, 0, "DependentLoadFlags 0x0000 (none)",
     "the default search order, the program's folder first"),
    (0x140, 0x8300, "DependentLoadFlags 0x8300 (LOAD_LIBRARY_SEARCH_DLL_LOAD_DIR | "
     "LOAD_LIBRARY_SEARCH_APPLICATION_DIR | unknown 0x8000)",
     "the folder of the DLL being loaded, the program's folder only"),
    (0x4E, 0x800, None, None),
], ids=["no-flags", "other-flags", "too-short"])
def test_load_configuration_flags_in_words_and_hex(built_exe, tmp_path, size, flags, line,
                                                   search):
    exe = _with_load_configuration(built_exe, tmp_path, size, flags)
    _, facts = inspect_json(exe)
    config = facts["load_configuration"]
    assert config["size"] == size and config["search"] == search
    out = inspect(exe).stdout
    if search is None:
        # The loader reads no DependentLoadFlags from a structure that ends before them.
        assert config["dependent_load_flags"] is None
        assert "Load configuration: 78 bytes, too short for DependentLoadFlags" in out
    else:
        assert config["dependent_load_flags"] == flags
        assert f"Load configuration: {line}\n  imports' DLLs searched for in: {search}\n" in out


def test_extract_writes_the_embedded_package(built_exe, built_package, tmp_path):
    out = tmp_path / "copy.msp"
    out.write_bytes(b"stale" * 10_000)
    done = inspect(built_exe, "--extract", out)
    assert done.returncode == 0, done.stderr
    assert out.read_bytes() == built_package.read_bytes()
    assert f"Package written to {out}" in done.stdout


def test_extract_into_a_missing_folder_fails_in_one_line(built_exe, tmp_path):
    done = inspect(built_exe, "--extract", tmp_path / "missing" / "copy.msp")
    assert done.returncode == 2 and done.stdout == ""
    (line,) = done.stderr.splitlines()
    assert "missing" in line and "cannot write the package" in line


# --- a signed copy --------------------------------------------------------------------------

def _openssl_certificate(folder, name, subject, usage):
    key, cert = folder / f"{name}.key", folder / f"{name}.pem"
    done = subprocess.run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes",
                           "-keyout", key, "-out", cert, "-days", "2", "-subj", subject,
                           "-addext", f"extendedKeyUsage={usage}"], capture_output=True)
    assert done.returncode == 0, done.stderr
    return cert, key


@pytest.fixture(scope="module")
def signed(built_exe, tmp_path_factory):
    """A copy of the built executable signed and time-stamped with throwaway certificates."""
    for program in ("openssl", "osslsigncode"):
        if shutil.which(program) is None:
            pytest.skip(f"{program} is not installed")
    folder = tmp_path_factory.mktemp("signed")
    cert, key = _openssl_certificate(folder, "signer", "/CN=Corvane Test Signer/O=Corvane",
                                     "codeSigning")
    tsa_cert, tsa_key = _openssl_certificate(folder, "tsa", "/CN=Corvane Test TSA",
                                             "critical,timeStamping")
    exe = folder / "signed.exe"
    # osslsigncode's own time-stamping authority: no server needed. A stamp taken now lies
    # within the throwaway certificate's validity.
    done = subprocess.run(["osslsigncode", "sign", "-certs", cert, "-key", key, "-h", "sha256",
                           "-n", "Corvane Sample", "-TSA-certs", tsa_cert, "-TSA-key", tsa_key,
                           "-TSA-time", str(int(time.time())), "-in", built_exe, "-out", exe],
                          capture_output=True, text=True)
    assert done.returncode == 0, done.stdout + done.stderr
    return {"exe": exe, "cert": cert, "tsa_cert": tsa_cert}


def test_signed_executable_names_its_signer_and_verifies(signed):
    status, facts = inspect_json(signed["exe"], "--cafile", signed["cert"],
                                 "--tsa-cafile", signed["tsa_cert"])
    assert status == 0
    signature = facts["authenticode"]
    stamp = signature.pop("timestamp")
    signing_time = signature.pop("signing_time")
    assert signature == {"signed": True, "subject": "/CN=Corvane Test Signer/O=Corvane",
                         "issuer": "/CN=Corvane Test Signer/O=Corvane",
                         "digest_algorithm": "SHA256", "verifies": True, "reason": None}
    assert stamp["issuer"] == "/CN=Corvane Test TSA" and stamp["verifies"] is True
    assert stamp["time"].endswith("Z") and signing_time.endswith("Z")
    # The signature only appends: the package inside is still the one that was built.
    assert facts["package"]["sha256"] == inspect_json(signed["exe"])[1]["package"]["sha256"]

    out = inspect(signed["exe"], "--cafile", signed["cert"], "--tsa-cafile",
                  signed["tsa_cert"]).stdout
    assert "  signer: /CN=Corvane Test Signer/O=Corvane\n" in out
    assert "  digest algorithm: SHA256\n" in out
    assert f"  time stamp: {stamp['time']} by /CN=Corvane Test TSA (verifies)\n" in out
    assert out.endswith("  signature: verifies\n")


def test_self_signed_certificate_does_not_verify_without_its_ca_file(signed):
    done = inspect(signed["exe"])
    assert done.returncode == 0  # the verdict on the signature is reported, not an exit status
    assert "  signature: does not verify: self-signed certificate\n" in done.stdout
    assert "(does not verify: self-signed certificate)" in done.stdout  # the time stamp


def test_missing_ca_file_is_named(signed, tmp_path):
    done = inspect(signed["exe"], "--cafile", tmp_path / "absent.pem")
    assert done.returncode == 2 and done.stdout == ""
    assert done.stderr == f"inspect_exe: --cafile {tmp_path / 'absent.pem'}: no such file\n"


def test_change_after_signing_does_not_verify(signed, tmp_path):
    changed = tmp_path / "changed.exe"
    data = bytearray(signed["exe"].read_bytes())
    data[len(data) // 2] ^= 0xFF
    changed.write_bytes(bytes(data))
    _, facts = inspect_json(changed, "--cafile", signed["cert"])
    assert facts["authenticode"]["verifies"] is False
    assert "changed after signing" in facts["authenticode"]["reason"]


# --- bad input ------------------------------------------------------------------------------

def assert_not_inspected(done, path, fragment):
    assert done.returncode == 2
    assert done.stdout == ""
    (line,) = done.stderr.splitlines()
    assert line.startswith(f"inspect_exe: {path}: ") and fragment in line, line


@pytest.fixture(scope="module")
def small_exe(make_exe):
    return exe_with_package(make_exe)


def test_missing_file(tmp_path):
    assert_not_inspected(inspect(tmp_path / "absent.exe"), tmp_path / "absent.exe",
                         "no such file")


@pytest.mark.parametrize("content", [b"", b"plain text\n", b"MZ and then more text" * 10,
                                     make_msp.build()],
                         ids=["empty", "text", "mz-text", "package"])
def test_file_that_is_not_a_pe_image(tmp_path, content):
    path = tmp_path / "not.exe"
    path.write_bytes(content)
    assert_not_inspected(inspect(path), path, "is not a PE image")


@pytest.mark.parametrize("keep", [2, 70, 300, 0.5, -1], ids=lambda k: f"keep-{k}")
def test_truncated_executable(small_exe, tmp_path, keep):
    data = small_exe.read_bytes()
    cut = tmp_path / "cut.exe"
    cut.write_bytes(data[:int(len(data) * keep) if isinstance(keep, float) else keep])
    assert_not_inspected(inspect(cut), cut, "is truncated")


def test_truncated_certificate_table(signed, tmp_path):
    cut = tmp_path / "cut.exe"
    cut.write_bytes(signed["exe"].read_bytes()[:-100])
    assert_not_inspected(inspect(cut), cut, "is truncated")


def test_executable_without_package_resource(make_exe):
    exe = make_exe('LANGUAGE 0x16, 0x01\nIDR_OTHER MSP "p.msp"\n', {"p.msp": make_msp.build()})
    assert_not_inspected(inspect(exe), exe, "has no package resource (type MSP, name IDR_MSP)")


@pytest.mark.parametrize("content", [b"x", make_msp.build(not_compound=True, pad_to=8192)],
                         ids=["one-byte", "text"])
def test_package_resource_that_is_not_a_compound_file(make_exe, content):
    exe = make_exe(PACKAGE_RC, {"p.msp": content})
    assert_not_inspected(inspect(exe, "--extract", exe.with_name("out.msp")), exe,
                         "is not a compound file")
    assert not exe.with_name("out.msp").exists()


# --- the package rules, on an embedded package ----------------------------------------------

def test_package_that_fails_the_check_exits_1_and_says_why(make_exe):
    exe = exe_with_package(make_exe, template=f"{PRODUCT};garbage;{PRODUCT}",
                           keywords="15.0.205.0;15.0.106.0", transform=True)
    done = inspect(exe)
    assert done.returncode == 1 and done.stderr == ""
    assert "  build check: fails\n" in done.stdout
    status, facts = inspect_json(exe)
    assert status == 1
    problems = facts["package"]["check"]["problems"]
    assert len(problems) == 3
    assert "do not end in ','" in problems[0]
    assert "entry 2 'garbage' is not a product code in braces" in problems[1]
    assert f"{PRODUCT} is listed twice (entries 1 and 3)" in problems[2]


def test_transforms_and_the_rules_on_them(make_exe):
    exe = exe_with_package(make_exe, template=PRODUCT, listed=":T1;:T2", transforms=[
        make_msp.Transform(PRODUCT, to_version="15.0.204.0", conditions=0x0822_0001)])
    status, facts = inspect_json(exe)
    assert status == 1
    first, second = facts["package"]["transforms"]
    assert (first["name"], first["original_version"], first["new_version"]) == ("T1", "15.0.106.0",
                                                                                 "15.0.204.0")
    assert first["validation"] == ["product code must match", "major, minor and update versions compared",
                                   "upgrade code must match"]
    assert first["error_conditions_ignored"] == ["adding an existing row"]
    assert second == {"name": "T2", "original_product_code": None, "original_version": None,
                      "new_product_code": None, "new_version": None, "upgrade_code": None,
                      "template": None, "character_count": None, "validation": [], "error_conditions_ignored": [],
                      "error": "is not in the package (no substorage of that name)"}
    problems = facts["package"]["check"]["problems"]
    assert len(problems) == 2
    assert "15.0.204.0" in problems[1] and "15.0.205.0" in problems[1]
    out = inspect(exe).stdout
    assert "    T2: is not in the package (no substorage of that name)\n" in out
    assert "  build check: fails\n" in out


def test_package_without_transforms_fails_the_check(make_exe):
    status, facts = inspect_json(exe_with_package(make_exe))
    assert status == 1
    assert facts["package"]["transforms"] == []
    (problem,) = facts["package"]["check"]["problems"]
    assert "lists no transform" in problem


def test_damaged_compound_file_fails_the_check(make_exe):
    exe = make_exe(PACKAGE_RC, {"p.msp": make_msp.build()[:1024]})
    status, facts = inspect_json(exe)
    assert status == 1
    (problem,) = facts["package"]["check"]["problems"]
    assert "cannot be read" in problem
    assert facts["detection_rule"] == []


def test_lower_case_product_code_is_a_warning(make_exe):
    exe = exe_with_package(make_exe, template=PRODUCT.lower(), keywords="15,0,205,0;15.0.106.0,",
                           transform=True)
    status, facts = inspect_json(exe)
    assert status == 0
    (warning,) = facts["package"]["check"]["warnings"]
    assert "lower case" in warning
    # The upgrade version as the installer writes a product's VersionString.
    assert facts["detection_rule"] == [{"product_code": PRODUCT.lower(),
                                        "version_string": "15.0.205.0"}]
    assert f"    warning: {warning}\n" in inspect(exe).stdout


def test_executable_without_manifest_strings_or_signature(small_exe):
    _, facts = inspect_json(small_exe)
    assert facts["manifest"] is None and facts["string_table_languages"] == []
    assert facts["authenticode"] == {"signed": False}
    assert facts["load_configuration"] is None
    out = inspect(small_exe).stdout
    assert "Manifest: none\n" in out
    assert "Load configuration: none (the imports' DLLs are searched for in the default " in out


VERSION_RC = PACKAGE_RC + """
1 VERSIONINFO
FILEVERSION 15,0,205,7
PRODUCTVERSION 15,0,205,0
BEGIN
  BLOCK "StringFileInfo"
  BEGIN
    BLOCK "040904b0"
    BEGIN
      VALUE "CompanyName", "Corvane"
      VALUE "FileDescription", "Corvane Sample Service Pack"
    END
  END
  BLOCK "VarFileInfo"
  BEGIN
    VALUE "Translation", 0x409, 1200
  END
END
"""


def test_version_information_fields(make_exe):
    exe = make_exe(VERSION_RC, {"p.msp": make_msp.build()})
    _, facts = inspect_json(exe)
    assert facts["version_information"] == {
        "file_version": "15.0.205.7", "product_version": "15.0.205.0",
        "strings": {"CompanyName": "Corvane", "FileDescription": "Corvane Sample Service Pack"}}
    assert "  FileDescription: Corvane Sample Service Pack\n" in inspect(exe).stdout


@pytest.mark.parametrize("text, version", [
    ("15.0.205.0", "15.0.205.0"), ("15,0,205,0", "15.0.205.0"), ("1.2.3.4.5", "1.2.3.4"),
    ("7", "7.0.0.0"), ("70000.-1.x.", "4464.65535.0.0"), (" +3.99999999999", "3.65535.0.0"),
])
def test_detection_version_reads_like_the_executable(text, version):
    assert inspect_exe.version_string(text) == version


def test_manifest_elements_in_another_namespace_are_ignored():
    facts = exe_manifest.read_manifest(b"""<assembly xmlns="urn:schemas-microsoft-com:asm.v1">
      <trustInfo><security><requestedPrivileges>
        <requestedExecutionLevel level="requireAdministrator"/>
      </requestedPrivileges></security></trustInfo>
      <compatibility xmlns="urn:schemas-microsoft-com:compatibility.v1"><application>
        <supportedOS Id="{8E0F7A12-BFB3-4FE8-B9A5-48FD50A15A9A}"/>
        <supportedOS Id="{00000000-0000-0000-0000-000000000000}"/>
      </application></compatibility></assembly>""")
    assert facts["execution_level"] is None
    assert [os_["name"] for os_ in facts["supported_os"]] == ["Windows 10 and 11", "unknown"]
    assert "not well-formed" in exe_manifest.read_manifest(b"<assembly>")["error"]


# --- against "/e" under Wine ----------------------------------------------------------------

@pytest.fixture(scope="module")
def wine_prefix(tmp_path_factory):
    tools = _configured("SERVICEPACK_WINE_TOOLS_DIR")
    if shutil.which("wine") is None:
        pytest.skip("wine is not installed")
    import harness

    folder = tmp_path_factory.mktemp("wine")
    prefix = harness.Prefix(harness.prepare_template(folder / "template"), folder / "case",
                            tools)
    yield prefix
    prefix.close()


def test_extract_matches_what_e_writes_under_wine(built_exe, wine_prefix, tmp_path):
    result = wine_prefix.run(built_exe, "/e", r"C:\out.msp", timeout=60)
    assert result.exit_code == 0, result.output
    ours = tmp_path / "inspector.msp"
    assert inspect(built_exe, "--extract", ours).returncode == 0
    assert ours.read_bytes() == wine_prefix.c_path(r"C:\out.msp").read_bytes()
