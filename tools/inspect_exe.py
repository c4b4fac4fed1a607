#!/usr/bin/python3
"""Says what a built servicepack.exe is, without running it: for release checks on Linux.

    inspect_exe.py [--json] [--extract OUT.msp] [--cafile CA.pem] [--tsa-cafile TSA.pem] EXE

Prints the executable's size and SHA-256; the embedded package's size, SHA-256, summary
and the build check's verdict on it (the rules of check_package.py); the detection rule
for deployment tools; what the manifest asks for; the string-table languages; the version
information; the imported DLLs; where the loader looks for their DLLs (the load configuration's
DependentLoadFlags); and the Authenticode signature (osslsigncode verifies it).
--json prints the same as one JSON object; --extract writes the embedded package, the
same bytes as "servicepack.exe /e OUT.msp".

Exit status: 0 inspected, package passes the check; 1 inspected, package fails the check;
2 not inspected (one line on stderr says why) or the package could not be written.
"""

from __future__ import annotations

import argparse
import hashlib
import io
import json
import locale
import os
import sys

import olefile

import authenticode
import check_package
import exe_manifest
import patch_transforms
import pe_image
from version_quad import version_string

PACKAGE_TYPE = "MSP"
PACKAGE_NAME = "IDR_MSP"
EXIT_PASSES, EXIT_PACKAGE_FAILS, EXIT_NOT_INSPECTED = 0, 1, 2
LANGUAGE_NAMES = {
    1028: "Chinese (Traditional, Taiwan)", 1029: "Czech", 1031: "German (Germany)",
    1033: "English (United States)", 1034: "Spanish (Spain, traditional sort)",
    1036: "French (France)", 1038: "Hungarian", 1040: "Italian (Italy)", 1041: "Japanese",
    1042: "Korean", 1045: "Polish", 1046: "Portuguese (Brazil)", 1049: "Russian",
    2052: "Chinese (Simplified, PRC)",
}

# The LOAD_LIBRARY_SEARCH_* flags a load configuration's DependentLoadFlags may hold, with the
# folders each lets the loader search for the DLLs of the image's imports.
SEARCH_FLAGS = {
    0x100: ("LOAD_LIBRARY_SEARCH_DLL_LOAD_DIR", "the folder of the DLL being loaded"),
    0x200: ("LOAD_LIBRARY_SEARCH_APPLICATION_DIR", "the program's folder"),
    0x400: ("LOAD_LIBRARY_SEARCH_USER_DIRS", "folders the program added"),
    0x800: ("LOAD_LIBRARY_SEARCH_SYSTEM32", "the system directory"),
    0x1000: ("LOAD_LIBRARY_SEARCH_DEFAULT_DIRS",
             "the program's folder, the system directory and folders the program added"),
}


def sha256(data: bytes) -> str:
    return hashlib.sha256(data).hexdigest()


def language_name(lcid: int) -> str:
    return LANGUAGE_NAMES.get(lcid) or locale.windows_locale.get(lcid) or "unknown language"


def package_resource(found: list[pe_image.Resource]) -> pe_image.Resource:
    candidates = pe_image.find(found, PACKAGE_TYPE, PACKAGE_NAME)
    if not candidates:
        raise pe_image.ImageError(
            f"has no package resource (type {PACKAGE_TYPE}, name {PACKAGE_NAME})")
    package = candidates[0]
    if not olefile.isOleFile(io.BytesIO(package.data)):
        raise pe_image.ImageError(
            f"its package resource ({len(package.data)} bytes) is not a compound file, "
            "so no installer package")
    return package


def package_facts(package: pe_image.Resource) -> dict:
    report = check_package.check(package.data)
    return {
        "resource_language": package.lang,
        "size": len(package.data),
        "sha256": sha256(package.data),
        "title": report.title,
        "subject": report.subject,
        "target_product_codes": report.targets,
        "accepted_versions": report.accepted,
        "upgrade_version": report.upgrade,
        "transforms": transform_facts(report),
        "check": {"passes": not report.problems, "problems": report.problems,
                  "warnings": report.warnings, "notes": report.notes},
    }


def transform_facts(report: check_package.Report) -> list[dict]:
    """Each transform the package lists, as its own summary information describes it."""
    return [patch_transforms.facts(transform) for transform in report.transforms]


def detection_rule(package: dict) -> list[dict]:
    if package["upgrade_version"] is None:
        return []
    version = version_string(package["upgrade_version"])
    return [{"product_code": code, "version_string": version}
            for code in package["target_product_codes"]]


def load_configuration_facts(config: dict | None) -> dict | None:
    """The load configuration with its DependentLoadFlags in hex and in words."""
    if config is None:
        return None
    flags = config["dependent_load_flags"]
    if flags is None:
        return {**config, "dependent_load_flags_hex": None, "flag_names": [], "search": None}
    known = [bit for bit in SEARCH_FLAGS if flags & bit]
    unknown = flags & ~sum(known)
    names = [SEARCH_FLAGS[bit][0] for bit in known]
    if unknown:
        names.append(f"unknown 0x{unknown:04x}")
    if flags == 0:
        search = "the default search order, the program's folder first"
    else:
        search = ", ".join(SEARCH_FLAGS[bit][1] for bit in known) + " only"
    return {**config, "dependent_load_flags_hex": f"0x{flags:04x}", "flag_names": names,
            "search": search}


def inspect(path: str, cafile: str | None = None,
            tsa_cafile: str | None = None) -> tuple[dict, bytes]:
    """The facts of the executable at path, and the bytes of its package."""
    data = pe_image.read_file(path)
    image = pe_image.load(data)
    found = pe_image.resources(image)
    package = package_resource(found)
    manifests = pe_image.find(found, pe_image.RT_MANIFEST)
    languages = sorted({r.lang for r in pe_image.find(found, pe_image.RT_STRING)})
    signed = pe_image.certificate_table(image)[1] > 0
    facts = {"file": path, "size": len(data), "sha256": sha256(data),
             "package": package_facts(package)}
    facts["detection_rule"] = detection_rule(facts["package"])
    facts["manifest"] = exe_manifest.read_manifest(manifests[0].data) if manifests else None
    facts["string_table_languages"] = [{"lcid": lcid, "name": language_name(lcid)}
                                       for lcid in languages]
    facts["version_information"] = pe_image.version_information(image)
    facts["imported_dlls"] = pe_image.imported_dlls(image)
    facts["load_configuration"] = load_configuration_facts(pe_image.load_configuration(image))
    facts["authenticode"] = (authenticode.signature(path, cafile, tsa_cafile) if signed
                             else {"signed": False})
    return facts, package.data


# --- text output ------------------------------------------------------------------------


def _package_lines(package: dict) -> list[str]:
    check = package["check"]
    lines = [
        f"Package (resource {PACKAGE_TYPE}/{PACKAGE_NAME}, language {package['resource_language']})",
        f"  size: {package['size']:,} bytes",
        f"  SHA-256: {package['sha256']}",
        f"  title: {package['title'] if package['title'] is not None else '(none)'}",
        f"  subject: {package['subject'] if package['subject'] is not None else '(none)'}",
        *check_package.summary_lines(package["target_product_codes"],
                                     package["accepted_versions"], package["upgrade_version"]),
        *patch_transforms.lines(package["transforms"]),
        f"  build check: {'passes' if check['passes'] else 'fails'}",
    ]
    lines += [f"    problem: {problem}" for problem in check["problems"]]
    lines += [f"    warning: {warning}" for warning in check["warnings"]]
    return lines + [f"    note: {note}" for note in check["notes"]]


def _detection_lines(rule: list[dict]) -> list[str]:
    if not rule:
        return ["Detection rule: none (the package names no upgrade version)"]
    return ["Detection rule: patched where the installer reports this VersionString",
            *(f"  {entry['product_code']}: {entry['version_string']}" for entry in rule)]


def _manifest_lines(manifest: dict | None) -> list[str]:
    if manifest is None:
        return ["Manifest: none"]
    if "error" in manifest:
        return [f"Manifest: {manifest['error']}"]
    level = manifest["execution_level"] or "not stated"
    if manifest["ui_access"] is not None:
        level += f" (uiAccess {manifest['ui_access']})"
    dpi = manifest["dpi_awareness"] or "not stated"
    if manifest["dpi_aware"] is not None:
        dpi += f" (dpiAware {manifest['dpi_aware']})"
    systems = [f"    {system['name']} {system['id']}" for system in manifest["supported_os"]]
    return ["Manifest", f"  execution level: {level}", f"  DPI awareness: {dpi}",
            f"  supported systems: {'' if systems else 'not stated'}".rstrip(), *systems]


def _language_lines(languages: list[dict]) -> list[str]:
    return [f"String tables ({len(languages)} languages)",
            *(f"  {entry['lcid']}: {entry['name']}" for entry in languages)]


def _version_lines(info: dict | None) -> list[str]:
    if info is None:
        return ["Version information: none"]
    return ["Version information", f"  file version: {info['file_version']}",
            f"  product version: {info['product_version']}",
            *(f"  {key}: {value}" for key, value in info["strings"].items())]


def _load_configuration_lines(config: dict | None) -> list[str]:
    if config is None:
        return ["Load configuration: none (the imports' DLLs are searched for in the default "
                "order, the program's folder first)"]
    if config["dependent_load_flags"] is None:
        return [f"Load configuration: {config['size']} bytes, too short for "
                "DependentLoadFlags (the default search order, the program's folder first)"]
    names = " | ".join(config["flag_names"]) or "none"
    return [f"Load configuration: DependentLoadFlags {config['dependent_load_flags_hex']} "
            f"({names})", f"  imports' DLLs searched for in: {config['search']}"]


def _signature_lines(signature: dict) -> list[str]:
    if not signature["signed"]:
        return ["Authenticode: not signed"]
    lines = ["Authenticode: signed", f"  signer: {signature['subject']}",
             f"  issuer: {signature['issuer']}",
             f"  digest algorithm: {signature['digest_algorithm']}",
             f"  signing time: {signature['signing_time'] or 'not stated'}"]
    stamp = signature["timestamp"]
    if stamp is None:
        lines.append("  time stamp: none")
    else:
        verdict = "verifies" if stamp["verifies"] else f"does not verify: {stamp['reason']}"
        lines.append(f"  time stamp: {stamp['time']} by {stamp['issuer']} ({verdict})")
    verdict = "verifies" if signature["verifies"] else f"does not verify: {signature['reason']}"
    return lines + [f"  signature: {verdict}"]


def render(facts: dict) -> str:
    lines = [f"Executable: {facts['file']}", f"  size: {facts['size']:,} bytes", f"  SHA-256: {facts['sha256']}",
             *_package_lines(facts["package"]), *_detection_lines(facts["detection_rule"]),
             *_manifest_lines(facts["manifest"]),
             *_language_lines(facts["string_table_languages"]),
             *_version_lines(facts["version_information"]),
             f"Imported DLLs: {', '.join(facts['imported_dlls']) or 'none'}",
             *_load_configuration_lines(facts["load_configuration"]),
             *_signature_lines(facts["authenticode"])]
    return "\n".join(lines) + "\n"


# --- command line -----------------------------------------------------------------------


def _arguments(argv):
    parser = argparse.ArgumentParser(description="Say what a built servicepack.exe is.")
    parser.add_argument("exe")
    parser.add_argument("--json", action="store_true", help="print one JSON object")
    parser.add_argument("--extract", metavar="OUT.msp", help="write the embedded package there")
    parser.add_argument("--cafile", help="trusted certificates for the signer's chain "
                        "(default: the system's), e.g. a self-signed test certificate")
    parser.add_argument("--tsa-cafile", help="trusted certificates for the time stamp's chain")
    return parser.parse_args(argv)


def _fail(what: str, why: str) -> int:
    print(f"inspect_exe: {what}: {why}", file=sys.stderr)
    return EXIT_NOT_INSPECTED


def main(argv=None) -> int:
    args = _arguments(argv)
    for option, path in (("--cafile", args.cafile), ("--tsa-cafile", args.tsa_cafile)):
        if path is not None and not os.path.isfile(path):
            return _fail(f"{option} {path}", "no such file")
    try:
        facts, package = inspect(args.exe, args.cafile, args.tsa_cafile)
    except pe_image.ImageError as exc:
        return _fail(args.exe, str(exc))
    if args.extract:
        try:
            with open(args.extract, "wb") as out:
                out.write(package)
        except OSError as exc:
            return _fail(args.extract, f"cannot write the package: {exc.strerror or exc}")
        facts["extracted_to"] = args.extract
    if args.json:
        print(json.dumps(facts, indent=2, ensure_ascii=False))
    else:
        sys.stdout.write(render(facts))
        if args.extract:
            print(f"Package written to {args.extract}")
    return EXIT_PASSES if facts["package"]["check"]["passes"] else EXIT_PACKAGE_FAILS


if __name__ == "__main__":
    sys.exit(main())
