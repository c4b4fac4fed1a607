"""The package's transforms held against its keywords and its template.

The keywords and the template are written by hand; the transforms, which really change the
products, come from the tool that made the patch. Where the two disagree, install mode reports
what the installer did not do, or patches again on every run. Problems and warnings go to the
check's report (check_package.Report); notes say where a rule found the package fine only
because a transform's validation flags let it apply to more than its own starting version.
"""

from __future__ import annotations

from patch_transforms import GUID_RE, Transform, accepts_by_flags, validation_words
from version_quad import version_quad

SHOWN = 4  # transforms named in one message before the rest are counted


def _starts(transforms: list[Transform]) -> str:
    named = [f"{t.name} from {t.original_product_code} {t.original_version}" for t in transforms[:SHOWN]]
    more = len(transforms) - SHOWN
    return ", ".join(named) + (f" and {more} more" if more > 0 else "")


def _unreadable(transform: Transform) -> str:
    return (
        f"transform {transform.name}, listed in Last Saved By (summary property 8), {transform.error}: "
        "the installer cannot apply it, so its product is never patched; put the transform into "
        "the package, or take it out of that list"
    )


def _no_transforms(report) -> str:
    value = repr(report.listed) if report.listed else "empty"
    return (
        f"lists no transform (Last Saved By, summary property 8, is {value}): "
        "Windows refuses the patch for every product of the template (1642) and Wine applies nothing "
        "while the run reports success; build the patch with one transform per target product and "
        "list them there, for example ':T1;:T2'"
    )


def _check_upgrade(transform: Transform, report) -> None:
    if report.upgrade is None or version_quad(transform.new_version) == version_quad(report.upgrade):
        return
    report.problems.append(
        f"transform {transform.name} brings {transform.original_product_code} from "
        f"{transform.original_version} to {transform.new_version}, but the keywords' upgrade version "
        f"is {report.upgrade}: the product never reads as up to date, so every later run patches it "
        f"again; set the upgrade version in the keywords to {transform.new_version}, or rebuild the "
        f"transform to bring the product to {report.upgrade}"
    )


def _check_start_accepted(transform: Transform, report) -> None:
    if not report.accepted:  # keywords that accept nothing are a problem of their own
        return
    if version_quad(transform.original_version) in {version_quad(v) for v in report.accepted}:
        return
    report.warnings.append(
        f"transform {transform.name} starts {transform.original_product_code} from "
        f"{transform.original_version}, which the keywords do not accept (accepted: "
        f"{', '.join(report.accepted) or 'none'}): install mode reports 308 (not designed for that "
        f"version) there although the patch would apply; add '{transform.original_version},' to the "
        "keywords' accepted versions, or leave the transform out"
    )


def _check_accepted_started(code: str, own: list[Transform], report) -> None:
    """Each accepted version of one target product: some transform of it must start there."""
    for version in report.accepted:
        if any(version_quad(t.original_version) == version_quad(version) for t in own):
            continue
        wide = next((t for t in own if accepts_by_flags(t, version)), None)
        if wide is not None:
            report.notes.append(
                f"accepted version {version} of {code}: no transform starts from it, but "
                f"{wide.name} (from {wide.original_version}) accepts it by its validation flags "
                f"({', '.join(validation_words(wide))})"
            )
            continue
        report.warnings.append(
            f"accepted version {version} of {code}: no transform starts from it ({_starts(own)}): "
            "install mode applies the patch there and reports success, but Windows answers 1642; add "
            f"a transform from {version} for {code}, or take '{version},' out of the keywords"
        )


def _check_target(code: str, transforms: list[Transform], report) -> None:
    own = [t for t in transforms if t.original_product_code.upper() == code.upper()]
    if own:
        _check_accepted_started(code, own, report)
        return
    report.problems.append(
        f"template product {code} has no transform that starts from it (the package's: "
        f"{_starts(transforms)}): Windows refuses the patch there (1642) and the user sees message "
        f"300, while Wine reports success and the version stays; add a transform from {code} to "
        f"{report.upgrade or 'the upgrade version'}, or take {code} out of the template"
    )


def _check_transform(transform: Transform, targets: set[str], report) -> None:
    if transform.original_product_code.upper() in targets:
        _check_upgrade(transform, report)
        _check_start_accepted(transform, report)
        return
    report.warnings.append(
        f"transform {transform.name} is for {transform.original_product_code} "
        f"({transform.original_version} to {transform.new_version}), which the template does not "
        f"list: install mode never patches that product; add {transform.original_product_code} to "
        "the template, or leave the transform out"
    )


def check_transforms(report) -> None:
    if not report.transforms:
        report.problems.append(_no_transforms(report))
        return
    readable = [t for t in report.transforms if t.error is None]
    report.problems.extend(_unreadable(t) for t in report.transforms if t.error is not None)
    names = {t.name for t in readable}
    # A '#' transform repeats what its partner says: judged once, through the partner.
    own = [t for t in readable if not t.companion_of(names)]
    # Template entries that are no product codes are problems of their own.
    codes = [code for code in report.targets if GUID_RE.fullmatch(code)]
    if not own or not codes:
        return
    targets = {code.upper() for code in codes}
    for transform in own:
        _check_transform(transform, targets, report)
    for code in dict.fromkeys(codes):
        _check_target(code, own, report)
