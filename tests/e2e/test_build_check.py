"""The windows build checks the package it embeds before it links servicepack.exe.

Each case configures a scratch build tree around a generated package and builds only the
check target, so no compiler runs.
"""

from __future__ import annotations

import os
import subprocess
from pathlib import Path

import pytest

import make_msp

SOURCE_DIR = Path(os.environ.get("SERVICEPACK_SOURCE_DIR", Path(__file__).resolve().parents[2]))


@pytest.fixture(scope="module")
def build_tree(tmp_path_factory):
    tree = tmp_path_factory.mktemp("check-build")

    def check(package: Path, *options: str) -> subprocess.CompletedProcess:
        configure = subprocess.run(
            ["cmake", "--preset", "windows", "-B", str(tree),
             f"-DSERVICEPACK_PACKAGE={package}", *options],
            cwd=SOURCE_DIR, capture_output=True, text=True, timeout=300)
        assert configure.returncode == 0, configure.stdout + configure.stderr
        return subprocess.run(
            ["cmake", "--build", str(tree), "--target", "servicepack_package_check"],
            capture_output=True, text=True, timeout=120)

    return check


def write_package(directory: Path, name: str, **options) -> Path:
    path = directory / name
    path.write_bytes(make_msp.build(**options))
    return path


def test_the_sample_package_passes_and_is_described(build_tree):
    result = build_tree(SOURCE_DIR / "resources" / "sample.msp",
                        "-DSERVICEPACK_ALLOW_BAD_PACKAGE=OFF")
    assert result.returncode == 0, result.stdout + result.stderr
    assert "{3F2A8C41-7B5D-4E19-A6C2-9D0E1B7F4A53}" in result.stdout
    assert "15.0.205.0" in result.stdout


def test_accepted_versions_without_the_trailing_comma_stop_the_build(build_tree, tmp_path):
    package = write_package(tmp_path, "no-comma.msp", keywords="15.0.205.0;15.0.106.0",
                            transform_per_product=True)
    result = build_tree(package, "-DSERVICEPACK_ALLOW_BAD_PACKAGE=OFF")
    assert result.returncode != 0
    output = result.stdout + result.stderr
    assert "no-comma.msp" in output
    assert "do not end in ','" in output


def test_the_option_builds_a_bad_package_anyway(build_tree, tmp_path):
    # No transform either: a package that fixture-makers may want to embed all the same.
    package = write_package(tmp_path, "no-semicolon.msp", keywords="15.0.205.0")
    result = build_tree(package, "-DSERVICEPACK_ALLOW_BAD_PACKAGE=ON")
    assert result.returncode == 0, result.stdout + result.stderr
    output = result.stdout + result.stderr
    assert "warning" in output and "lists no transform" in output


def test_a_transform_to_another_version_than_the_keywords_stop_the_build(build_tree, tmp_path):
    package = write_package(tmp_path, "to-204.msp", template=make_msp.SAMPLE_PRODUCT_CODE,
                            transforms=[make_msp.Transform(make_msp.SAMPLE_PRODUCT_CODE,
                                                               to_version="15.0.204.0")])
    result = build_tree(package, "-DSERVICEPACK_ALLOW_BAD_PACKAGE=OFF")
    assert result.returncode != 0
    output = result.stdout + result.stderr
    assert "to-204.msp" in output
    assert (f"transform T1 brings {make_msp.SAMPLE_PRODUCT_CODE} from 15.0.106.0 to 15.0.204.0, "
            "but the keywords' upgrade version is 15.0.205.0") in output
