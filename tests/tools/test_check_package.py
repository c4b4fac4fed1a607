import os
import subprocess
import sys

import pytest

import cfb
import check_package
import make_msp
import patch_transforms

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
TOOLS = os.path.join(ROOT, "tools")


SAMPLE = os.path.join(ROOT, "resources", "sample.msp")
PRODUCT = "{3F2A8C41-7B5D-4E19-A6C2-9D0E1B7F4A53}"
OTHER = "{0B1C2D3E-4F50-4617-8293-A4B5C6D7E8F9}"
UPGRADE = make_msp.SAMPLE_UPGRADE_CODE


def check(path, *extra):
    return subprocess.run(
        [sys.executable, os.path.join(TOOLS, "check_package.py"), str(path), *extra], capture_output=True, text=True
    )


def template_codes(template):
    """The product codes discovery reads from a template: up to the first empty entry, each
    once; the sample's code when there is none, so that the package still has a transform."""
    codes = []
    for entry in template.split(";"):
        if not entry:
            break
        if check_package.GUID_RE.fullmatch(entry) and entry.upper() not in map(str.upper, codes):
            codes.append(entry)
    return codes or [PRODUCT]


def package(tmp_path, name="p.msp", **kwargs):
    """A package whose transforms fit its template (one per product code): the rules on the
    keywords and the template are seen alone."""
    if "transforms" not in kwargs:
        codes = template_codes(kwargs.get("template", make_msp.DEFAULT_TEMPLATE))
        kwargs["transforms"] = [make_msp.Transform(code, name=f"T{n}") for n, code in enumerate(codes, 1)]
    path = tmp_path / name
    path.write_bytes(make_msp.build(**kwargs))
    return path


class TestAcceptedPackages:
    def test_sample_passes_and_describes_itself(self):
        r = check(SAMPLE)
        assert r.returncode == 0, r.stderr
        assert r.stderr == ""
        out = r.stdout
        for code in make_msp.DEFAULT_TEMPLATE.split(";"):
            assert code in out
        assert "accepted installed versions: 15.0.106.0\n" in out
        assert "upgrades to: 15.0.205.0" in out
        assert "  transforms (3):\n" in out
        assert f"    T2: {PRODUCT} 15.0.106.0 -> {PRODUCT} 15.0.205.0, upgrade code {UPGRADE}\n" in out
        assert ("      validation: product code must match, major, minor and update versions compared, "
                "installed = original, upgrade code must match\n") in out
        assert "      errors ignored: deleting a missing row\n" in out

    @pytest.mark.parametrize(
        "keywords, accepted",
        [
            ("15.0.205.0;15.0.106.0,15.0.107.0,", "15.0.106.0, 15.0.107.0"),
            ("15,0,205,0;15.0.106.0,", "15.0.106.0"),
            ("15.0.205.0;15.0.106.0,;15.0.107.0,", "15.0.106.0, ;15.0.107.0"),  # only the first ';' splits
        ],
    )
    def test_keywords_variants_that_work(self, tmp_path, keywords, accepted):
        r = check(package(tmp_path, keywords=keywords))
        assert r.returncode == 0, r.stderr
        assert f"accepted installed versions: {accepted}\n" in r.stdout

    def test_single_trailing_semicolon_in_template_is_harmless(self, tmp_path):
        r = check(package(tmp_path, template=f"{{A0000000-0000-0000-0000-000000000000}};{PRODUCT};"))
        assert r.returncode == 0, r.stderr
        assert "target product codes (2)" in r.stdout

    def test_lower_case_code_is_only_a_warning(self, tmp_path):
        r = check(package(tmp_path, template=f"{PRODUCT.lower()};{{A0000000-0000-0000-0000-000000000000}}"))
        assert r.returncode == 0
        (line,) = r.stderr.strip().splitlines()
        assert "warning" in line and PRODUCT.lower() in line and "lower case" in line
        assert "target product codes (2)" in r.stdout

    def test_long_template(self, tmp_path):
        codes = [f"{{{i:08X}-0000-4000-8000-{i:012X}}}" for i in range(70)] + [PRODUCT]
        r = check(package(tmp_path, template=";".join(codes), pad_to=1 << 20))
        assert r.returncode == 0, r.stderr
        assert "target product codes (71)" in r.stdout


class TestRejectedPackages:
    @pytest.mark.parametrize(
        "kwargs, fragment",
        [
            (dict(keywords="15.0.205.0;15.0.106.0"), "do not end in ','"),
            (dict(keywords="15.0.205.0;15.0.106.0,15.0.107.0"), "'15.0.107.0' would never be compared"),
            (dict(keywords="15.0.205.0;"), "accept no installed version"),
            (dict(keywords=None), "has no keywords"),
            (dict(keywords="15.0.205.0"), "have no ';'"),
            (dict(keywords=";15.0.106.0,"), "begin with ';'"),
            (dict(template=""), "template (summary property 7) is empty"),
            (dict(template=f";{PRODUCT}"), "begins with ';'"),
            (dict(template=f"{{A0000000-0000-0000-0000-000000000000}};;{PRODUCT}"), "empty entry (';;')"),
            (dict(not_compound=True), "not a compound file"),
            (dict(template=f"garbage;{PRODUCT}"), "entry 1 'garbage' is not a product code in braces"),
            (dict(template=PRODUCT.strip("{}")), "is not a product code in braces"),
            (dict(template=f"{PRODUCT};{{G0000000-0000-0000-0000-000000000000}}"), "entry 2"),
            (dict(template=f"{PRODUCT};{PRODUCT}\n"), "entry 2 '{3F2A8C41-7B5D-4E19-A6C2-9D0E1B7F4A53}\\n'"),
            (dict(template=f" {PRODUCT}"), "is not a product code in braces"),
            (dict(template=f"{PRODUCT};{OTHER};{PRODUCT}"), f"{PRODUCT} is listed twice (entries 1 and 3)"),
            (dict(template=f"{PRODUCT};{PRODUCT.lower()}"), "listed twice (entries 1 and 2)"),
        ],
    )
    def test_problem_fails_with_message_naming_package(self, tmp_path, kwargs, fragment):
        path = package(tmp_path, **kwargs)
        r = check(path)
        assert r.returncode == 1
        lines = r.stderr.strip().splitlines()
        assert len(lines) == 1, r.stderr
        assert str(path) in lines[0] and fragment in lines[0]

    def test_allow_problems_reports_warnings_and_passes(self, tmp_path):
        path = package(tmp_path, keywords="15.0.205.0;15.0.106.0", template=f";{PRODUCT}")
        r = check(path, "--allow-problems")
        assert r.returncode == 0
        lines = r.stderr.strip().splitlines()
        assert len(lines) == 2 and all("warning" in line for line in lines)

    def test_every_problem_is_reported(self, tmp_path):
        r = check(package(tmp_path, keywords="15.0.205.0", template=""))
        assert r.returncode == 1
        assert len(r.stderr.strip().splitlines()) == 2

    def test_missing_file(self, tmp_path):
        r = check(tmp_path / "absent.msp")
        assert r.returncode == 1 and "absent.msp" in r.stderr

    def test_compound_file_without_summary_information(self, tmp_path):
        root = cfb.Storage("Root Entry", make_msp.PATCH_CLSID)
        root.add(cfb.Stream("other", b"x"))
        path = tmp_path / "nosummary.msp"
        path.write_bytes(cfb.write(root))
        r = check(path)
        assert r.returncode == 1 and "no summary information" in r.stderr


def transform(code=PRODUCT, name="T1", **kwargs):
    return make_msp.Transform(code, name=name, **kwargs)


def one_line(r, label):
    lines = r.stderr.strip().splitlines()
    assert len(lines) == 1, r.stderr
    assert f"check_package: {label}: " in lines[0]
    return lines[0]


class TestTransformRules:
    @pytest.mark.parametrize(
        "kwargs, fragments",
        [
            (dict(transforms=[]), ["lists no transform", "Last Saved By", "':T1;:T2'"]),
            (dict(transforms=[transform()], listed=":T1;:T9"), ["transform T9", "no substorage of that name"]),
            (dict(transforms=[transform()], listed="T1"), ["transform T1", "no ':' before its name"]),
            (dict(transforms=[transform(to_version="15.0.205.0;x")]), ["transform T1", "Revision Number", "is not"]),
            (
                dict(template=f"{PRODUCT};{OTHER}", transforms=[transform()]),
                [f"template product {OTHER} has no transform that starts from it", f"T1 from {PRODUCT} 15.0.106.0",
                 "1642", f"add a transform from {OTHER} to 15.0.205.0, or take {OTHER} out of the template"],
            ),
            (
                dict(transforms=[transform(to_version="15.0.204.0")]),
                [f"transform T1 brings {PRODUCT} from 15.0.106.0 to 15.0.204.0", "upgrade version is 15.0.205.0",
                 "set the upgrade version in the keywords to 15.0.204.0"],
            ),
            # The '#' transform of a pair says what its partner says: one message, not two.
            (dict(transforms=[transform(to_version="15.0.204.0"), transform(name="#T1", to_version="15.0.204.0")]),
             ["transform T1 brings"]),
        ],
        ids=["none-listed", "listed-missing", "no-colon", "bad-description", "template-product-without-transform",
             "other-new-version", "pair-judged-once"],
    )
    def test_problem_stops_the_check(self, tmp_path, kwargs, fragments):
        kwargs.setdefault("template", PRODUCT)
        r = check(package(tmp_path, **kwargs))
        assert r.returncode == 1
        line = one_line(r, "error")
        for fragment in fragments:
            assert fragment in line

    @pytest.mark.parametrize(
        "kwargs, fragments",
        [
            (
                dict(keywords="15.0.205.0;15.0.106.0,15.0.107.0,", transforms=[transform()]),
                [f"accepted version 15.0.107.0 of {PRODUCT}: no transform starts from it",
                 "(T1 from", "1642", "take '15.0.107.0,' out of the keywords"],
            ),
            (
                dict(transforms=[transform(), transform(name="T2", from_version="15.0.100.0")]),
                [f"transform T2 starts {PRODUCT} from 15.0.100.0, which the keywords do not accept (accepted: "
                 "15.0.106.0)", "308", "add '15.0.100.0,' to the keywords' accepted versions"],
            ),
            (
                dict(transforms=[transform(), transform(OTHER, name="T2")]),
                [f"transform T2 is for {OTHER} (15.0.106.0 to 15.0.205.0), which the template does not list",
                 f"add {OTHER} to the template"],
            ),
        ],
        ids=["accepted-version-without-transform", "transform-from-unaccepted-version", "product-not-in-template"],
    )
    def test_warning_lets_the_check_pass(self, tmp_path, kwargs, fragments):
        r = check(package(tmp_path, template=PRODUCT, **kwargs))
        assert r.returncode == 0
        line = one_line(r, "warning")
        for fragment in fragments:
            assert fragment in line

    def test_validation_flags_that_accept_the_version_turn_the_warning_into_a_note(self, tmp_path):
        # Major and minor versions compared, installed >= original: 15.0.107.0 is in range.
        flags = (0x0002 | 0x0010 | 0x0200) << 16
        r = check(package(tmp_path, template=PRODUCT, keywords="15.0.205.0;15.0.106.0,15.0.107.0,",
                          transforms=[transform(conditions=flags)]))
        assert r.returncode == 0 and r.stderr == ""
        assert (f"  note: accepted version 15.0.107.0 of {PRODUCT}: no transform starts from it, but T1 "
                "(from 15.0.106.0) accepts it by its validation flags (product code must match, major and "
                "minor versions compared, installed >= original)\n") in r.stdout

    def test_versions_compare_as_the_executable_reads_them(self, tmp_path):
        r = check(package(tmp_path, template=PRODUCT, keywords="15,0,205,0;15.0.106.0,",
                          transforms=[transform(from_version="15.0.106", to_version="15.0.205.0.0")]))
        assert r.returncode == 0 and r.stderr == ""

    def test_allow_problems_reports_a_package_without_transforms_as_a_warning(self, tmp_path):
        r = check(package(tmp_path, transforms=[]), "--allow-problems")
        assert r.returncode == 0
        assert "lists no transform" in one_line(r, "warning")

    def test_each_unreadable_transform_is_named(self, tmp_path):
        r = check(package(tmp_path, template=PRODUCT, transforms=[transform()], listed=":T1;:T7;:T8"))
        assert r.returncode == 1
        lines = r.stderr.strip().splitlines()
        assert [("transform T7" in line, "transform T8" in line) for line in lines] == [(True, False), (False, True)]


@pytest.mark.parametrize(
    "flags, installed, accepted",
    [
        (0, "1.0.0.0", True),  # no version compared: every version of the product
        (0x0008 | 0x0100, "15.9.9.9", True),  # major version equal
        (0x0008 | 0x0100, "16.0.106.0", False),
        (0x0020 | 0x0100, "15.0.106.7", True),  # the fourth part is never compared
        (0x0020 | 0x0100, "15.0.107.0", False),
        (0x0020 | 0x0040, "15.0.105.0", True),
        (0x0020 | 0x0080, "15.0.106.0", True),
        (0x0020 | 0x0400, "15.0.106.0", False),
        (0x0010 | 0x0200, "15.1.0.0", True),
        (0x0010, "15.0.999.0", True),  # no relation given: equal
        (0x0010, "15.1.0.0", False),
    ],
)
def test_validation_flags_accept_a_range(flags, installed, accepted):
    transform = patch_transforms.Transform("T1", original_version="15.0.106.0", character_count=flags << 16)
    assert patch_transforms.accepts_by_flags(transform, installed) is accepted
