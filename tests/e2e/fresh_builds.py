"""servicepack.exe built from scratch with cmake and MinGW-w64, outside the tree under test.

Two builds, each of the windows preset configured afresh in its own copy of the source tree,
in folders of different depths, one with a space: the reproducibility tests compare them, the
signing tests sign the second. They take longer than anything else in the suite, so they are
made once per run (conftest's `fresh_builds`) and what the comparison needs is kept apart
before the signing tests build that tree again.
"""

from __future__ import annotations

import dataclasses
import os
import re
import shutil
import subprocess
from pathlib import Path

import pytest

SOURCE_DIR = Path(os.environ.get("SERVICEPACK_SOURCE_DIR",
                                 Path(__file__).resolve().parents[2])).resolve()
NOT_COPIED = {".git", "__pycache__", ".pytest_cache"}
# Folders with a space and of different depths: neither may leave a trace in the image.
FOLDERS = ["tree-one", "tree two/one level deeper"]
ARCHIVES = ["libservicepack_core.a", "platform/windows/libservicepack_win32.a"]
KEPT = ["servicepack.exe", *ARCHIVES]


@dataclasses.dataclass
class FreshBuild:
    source: Path  # the copy of the source tree
    build: Path  # its build folder
    output: str  # what the build printed
    kept: Path  # servicepack.exe and the archives as this build made them


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


def _paths(root: Path, index: int) -> tuple[Path, Path, Path, Path]:
    source = root / FOLDERS[index] / "servicepack"
    return source, source / "build" / "release", root / f"output-{index}.txt", \
        root / f"kept-{index}"


def make(root: Path) -> None:
    """Both builds under `root`, with their outputs and kept files beside them."""
    # Both copies are taken before either build, so that they are the same sources even
    # while someone edits the tree.
    first = copy_sources(_paths(root, 0)[0])
    shutil.copytree(first, _paths(root, 1)[0], symlinks=True)
    for index in range(len(FOLDERS)):
        source, build, output, kept = _paths(root, index)
        output.write_text(build_servicepack(source, build), encoding="utf-8")
        for name in KEPT:
            (kept / name).parent.mkdir(parents=True, exist_ok=True)
            shutil.copy2(build / name, kept / name)


def load(root: Path) -> list[FreshBuild]:
    builds = []
    for index in range(len(FOLDERS)):
        source, build, output, kept = _paths(root, index)
        builds.append(FreshBuild(source, build, output.read_text(encoding="utf-8"), kept))
    return builds
