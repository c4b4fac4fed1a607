"""Two builds of servicepack.exe from the same sources and package, in two different folders,
give the same bytes.

Each build configures the windows preset afresh in a copy of the source tree and builds the
servicepack target only. Needs cmake and MinGW-w64, not Wine.
"""

from __future__ import annotations

import hashlib
import os
import re
import shutil
import subprocess
from pathlib import Path

import pefile
import pytest

SOURCE_DIR = Path(os.environ.get("SERVICEPACK_SOURCE_DIR",
                                 Path(__file__).resolve().parents[2])).resolve()
NOT_COPIED = {".git", "__pycache__", ".pytest_cache"}
# Folders with a space and of different depths: neither may leave a trace in the image.
FOLDERS = ["tree-one", "tree two/one level deeper"]
ARCHIVES = ["libservicepack_core.a", "platform/windows/libservicepack_win32.a"]


def needs_cross_build():
    for program in ("cmake", "x86_64-w64-mingw32-g++"):
        if shutil.which(program) is None:
            pytest.skip(f"{program} is not installed")


def copy_sources(target: Path) -> Path:
    """A copy of the source tree without build trees, Git data or caches."""
    def ignored(folder, names):
        return [n for n in names if n in NOT_COPIED
                or (Path(folder) == SOURCE_DIR and n == "build")
                or (Path(folder, n) / "CMakeCache.txt").exists()]

    shutil.copytree(SOURCE_DIR, target, ignore=ignored, symlinks=True)
    return target


def build_servicepack(source: Path, build: Path, *options: str,
                      env: dict | None = None) -> str:
    """Configures the windows preset of `source` in `build` and builds servicepack.exe;
    the build's output."""
    environment = {**os.environ, **(env or {})}
    subprocess.run(["cmake", "--preset", "windows", "-B", str(build), *options], cwd=source,
                   env=environment, check=True, capture_output=True, timeout=600)
    done = subprocess.run(["cmake", "--build", str(build), "--target", "servicepack", "-j2"],
                          env=environment, capture_output=True, text=True, timeout=1200)
    assert done.returncode == 0, done.stdout[-3000:] + done.stderr[-3000:]
    return done.stdout


def printed_sha256(output: str, exe: Path) -> str:
    hashes = re.findall(rf"^([0-9a-f]{{64}})  {re.escape(str(exe))}$", output, re.M)
    assert len(hashes) == 1, output[-2000:]
    return hashes[0]


@pytest.fixture(scope="module")
def builds(tmp_path_factory):
    needs_cross_build()
    root = tmp_path_factory.mktemp("reproducible")
    # Both copies are taken before either build, so that they are the same sources even
    # while someone edits the tree.
    first = copy_sources(root / FOLDERS[0] / "servicepack")
    second = shutil.copytree(first, root / FOLDERS[1] / "servicepack", symlinks=True)
    made = []
    for source in (first, second):
        build = source / "build" / "release"
        made.append((source, build, build_servicepack(source, build)))
    return made


def test_two_builds_in_two_folders_are_byte_identical(builds):
    (_, first, _), (_, second, _) = builds
    exe = (first / "servicepack.exe").read_bytes()
    assert exe[:2] == b"MZ"
    assert exe == (second / "servicepack.exe").read_bytes()
    # The archives linked into it carry no member times either.
    for archive in ARCHIVES:
        assert (first / archive).read_bytes() == (second / archive).read_bytes(), archive


def test_build_prints_the_sha256_of_the_executable(builds):
    hashes = set()
    for _, build, output in builds:
        exe = build / "servicepack.exe"
        printed = printed_sha256(output, exe)
        assert printed == hashlib.sha256(exe.read_bytes()).hexdigest()
        hashes.add(printed)
    assert len(hashes) == 1


def test_header_has_no_time_stamp_and_a_checksum_of_the_content(builds):
    image = pefile.PE(str(builds[0][1] / "servicepack.exe"))
    assert image.FILE_HEADER.TimeDateStamp == 0
    assert image.OPTIONAL_HEADER.CheckSum != 0
    assert image.verify_checksum()
    # Unsigned without the signing variables: no certificate table.
    security = image.OPTIONAL_HEADER.DATA_DIRECTORY[
        pefile.DIRECTORY_ENTRY["IMAGE_DIRECTORY_ENTRY_SECURITY"]]
    assert (security.VirtualAddress, security.Size) == (0, 0)


def test_image_names_neither_the_source_nor_the_build_folder(builds):
    for source, build, _ in builds:
        exe = (build / "servicepack.exe").read_bytes()
        for folder in (str(source), str(build)):
            for encoding in ("ascii", "utf-16-le"):
                assert folder.encode(encoding) not in exe, (folder, encoding)
