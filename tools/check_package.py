#!/usr/bin/python3
"""Build check of the patch package that the service pack embeds.

Reads the package's summary information the way the service pack will at run
time and fails (exit 1, one line per problem on stderr) when install mode
could never work with it:

- the file is not a compound file, or has no summary information;
- the keywords property is missing, has no ';', or begins with ';' (the
  summary reader rejects it);
- the accepted versions (after the first ';') are empty or do not end in ','
  (entries end at a ',', so text after the last ',' is never compared; with
  no ',' at all every installed product would get the "designed for" report);
- the template is missing or empty, or has an empty entry (a leading ';' or
  ';;'), because discovery stops at the first empty entry.  A single trailing
  ';' is accepted: everything before it is still read;
- a template entry is not a product code in braces
  ({XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}, hexadecimal): the installer never
  finds such a product, so it can only ever end in "no target product";
- a product code is listed twice: the patch is applied once per entry, so that
  product would be patched, and the patch cached, twice.

- the package lists no transform (Last Saved By, summary property 8), or a
  listed transform is missing or unreadable, or a template product has no
  transform that starts from it, or a transform of a template product brings it
  to another version than the keywords' upgrade version (transform_rules.py).

A product code written in lower case is a warning: the installer matches the
template against the product's code exactly, and product codes are upper case.
So are an accepted version that no transform starts from, a transform that starts
from a version the keywords do not accept, and a transform for a product the
template does not list (transform_rules.py).

On success it prints what the package targets, accepts and upgrades to, and
what each of its transforms does.
--allow-problems turns the problems into warnings and exits 0.

inspect_exe.py applies the same rules to a package embedded in an executable:
check() takes the package's bytes as well as its path.
"""

from __future__ import annotations

import argparse
import io
import sys

import olefile

import patch_transforms
import summary_text
import transform_rules

SUMMARY_STREAM = "\x05SummaryInformation"
PID_TITLE = 2
PID_SUBJECT = 3
PID_KEYWORDS = 5
PID_TEMPLATE = 7
PID_LASTAUTHOR = 8
GUID_RE = patch_transforms.GUID_RE


class Report:
    def __init__(self):
        self.problems: list[str] = []
        self.warnings: list[str] = []
        self.targets: list[str] = []
        self.accepted: list[str] = []
        self.upgrade: str | None = None
        self.title: str | None = None
        self.subject: str | None = None
        self.listed: str | None = None  # Last Saved By: the transforms, ':T1;:T2'
        self.transforms: list[patch_transforms.Transform] = []
        self.notes: list[str] = []  # what the check found fine only on a second look


def read_summary(source, report: Report) -> dict | None:
    """The summary properties of the package at a path, or in a binary file object; the
    transforms it lists go to the report."""
    try:
        if not olefile.isOleFile(source):
            report.problems.append("is not a compound file (no installer package)")
            return None
        with olefile.OleFileIO(source) as ole:
            if not ole.exists(SUMMARY_STREAM):
                report.problems.append("has no summary information stream")
                return None
            props = ole.getproperties(SUMMARY_STREAM)
            report.listed = summary_text.text(props.get(PID_LASTAUTHOR), summary_text.codec(props))
            report.transforms = patch_transforms.read_transforms(ole, report.listed or "")
            return props
    except OSError as exc:
        report.problems.append(f"cannot be read: {exc.strerror or exc}")
    except Exception as exc:  # olefile raises plain exceptions for damaged files
        report.problems.append(f"cannot be read as a compound file: {exc}")
    return None


def check_keywords(value, codec: str, report: Report):
    if value is None:
        report.problems.append("has no keywords (summary property 5): the upgrade and accepted versions are missing")
        return
    keywords = summary_text.text(value, codec)
    if keywords is None:
        report.problems.append(f"keywords (summary property 5) are not text: {value!r}")
        return
    pos = keywords.find(";")
    if pos < 0:
        report.problems.append(f"keywords {keywords!r} have no ';' between the upgrade version and the accepted versions")
        return
    if pos == 0:
        report.problems.append(f"keywords {keywords!r} begin with ';': the upgrade version is empty")
        return
    report.upgrade = keywords[:pos]
    accepted = keywords[pos + 1 :]
    entries = accepted.split(",")
    report.accepted = entries[:-1]
    if not accepted:
        report.problems.append(f"keywords {keywords!r} accept no installed version (nothing after the first ';')")
    elif "," not in accepted:
        report.problems.append(
            f"accepted versions {accepted!r} do not end in ',': no installed version would ever be accepted"
        )
    elif entries[-1]:
        report.problems.append(
            f"accepted versions {accepted!r} do not end in ',': {entries[-1]!r} would never be compared"
        )


def check_template(value, codec: str, report: Report):
    if value is None:
        report.problems.append("has no template (summary property 7): no target product codes")
        return
    template = summary_text.text(value, codec)
    if template is None:
        report.problems.append(f"template (summary property 7) is not text: {value!r}")
        return
    if not template:
        report.problems.append("template (summary property 7) is empty: no target product codes")
        return
    entries = template.split(";")
    if entries[-1] == "":
        entries.pop()  # one trailing ';' ends the list where it would end anyway
    for index, entry in enumerate(entries):
        if not entry:
            where = "begins with ';'" if index == 0 else "holds an empty entry (';;')"
            report.problems.append(
                f"template {template[:80]!r}{'...' if len(template) > 80 else ''} {where}: "
                f"target discovery stops there and sees only {index} product code(s)"
            )
            break
        report.targets.append(entry)
    check_product_codes(report.targets, report)


def check_product_codes(codes: list[str], report: Report):
    first_entry: dict[str, int] = {}
    for number, code in enumerate(codes, 1):
        if not GUID_RE.fullmatch(code):
            report.problems.append(
                f"template entry {number} {code!r} is not a product code in braces "
                "({XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}): the installer never finds such a product"
            )
            continue
        # The installer reads a code's hex digits without regard to case: one product.
        key = code.upper()
        if key in first_entry:
            report.problems.append(
                f"product code {code} is listed twice (entries {first_entry[key]} and {number}): "
                "that product would be patched twice"
            )
            continue
        first_entry[key] = number
        if code != key:
            report.warnings.append(
                f"product code {code} is in lower case: the installer matches the template "
                "exactly, and product codes are upper case"
            )


def check(source) -> Report:
    """The verdict on a package: its path, or its bytes."""
    if isinstance(source, (bytes, bytearray)):
        source = io.BytesIO(source)
    report = Report()
    props = read_summary(source, report)
    if props is None:
        return report
    codec = summary_text.codec(props)
    report.title = summary_text.text(props.get(PID_TITLE), codec)
    report.subject = summary_text.text(props.get(PID_SUBJECT), codec)
    check_keywords(props.get(PID_KEYWORDS), codec, report)
    check_template(props.get(PID_TEMPLATE), codec, report)
    transform_rules.check_transforms(report)
    return report


def summary_lines(targets: list[str], accepted: list[str], upgrade: str | None) -> list[str]:
    """What a package targets, accepts and upgrades to, as indented lines."""
    return [
        f"  target product codes ({len(targets)}):",
        *(f"    {code}" for code in targets),
        f"  accepted installed versions: {', '.join(accepted) if accepted else '(none)'}",
        f"  upgrades to: {upgrade if upgrade is not None else '(unknown)'}",
    ]


def main(argv=None) -> int:
    parser = argparse.ArgumentParser(description="Check that a patch package can drive the service pack.")
    parser.add_argument("package")
    parser.add_argument("--allow-problems", action="store_true", help="report problems as warnings and exit 0")
    args = parser.parse_args(argv)

    report = check(args.package)
    for warning in report.warnings:
        print(f"check_package: warning: {args.package}: {warning}", file=sys.stderr)
    label = "warning" if args.allow_problems else "error"
    for problem in report.problems:
        print(f"check_package: {label}: {args.package}: {problem}", file=sys.stderr)

    if report.upgrade is not None or report.targets or report.transforms:
        print(f"{args.package}:")
        print("\n".join(summary_lines(report.targets, report.accepted, report.upgrade)))
        print("\n".join(patch_transforms.lines([patch_transforms.facts(t) for t in report.transforms])))
    for note in report.notes:
        print(f"  note: {note}")
    return 1 if report.problems and not args.allow_problems else 0


if __name__ == "__main__":
    sys.exit(main())
