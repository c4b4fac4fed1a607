import os
import subprocess
import sys

import pytest

import cfb
import make_msp

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
TOOLS = os.path.join(ROOT, "tools")


SAMPLE = os.path.join(ROOT, "resources", "sample.msp")
PRODUCT = "{3F2A8C41-7B5D-4E19-A6C2-9D0E1B7F4A53}"
OTHER = "{0B1C2D3E-4F50-4617-8293-A4B5C6D7E8F9}"


def check(path, *extra):
    return subprocess.run(
        [sys.executable, os.path.join(TOOLS, "check_package.py"), str(path), *extra], capture_output=True, text=True
    )


def package(tmp_path, name="p.msp", **kwargs):
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

    @pytest.mark.parametrize(
        "keywords, accepted",
        [
            ("15.0.205.0;15.0.106.0,15.0.107.0,", "15.0.106.0, 15.0.107.0"),
            ("15,0,205,0;15.0.106.0,", "15.0.106.0"),
            ("1.0;a;b,", "a;b"),  # only the first ';' splits
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
