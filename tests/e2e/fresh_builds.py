"""servicepack.exe built from scratch with cmake and MinGW-w64, outside the tree under test.

Two builds of the windows preset, each in its own source tree, in folders of different
depths, one with a space: the reproducibility tests compare them, the signing tests sign the
second. The first is the tree's own build, the one every other test runs, when it is
configured like a fresh one (the same cache once the folders are set aside); otherwise a
second copy of the sources is built. A build takes longer than anything else in the suite, so
they are made once per run (conftest's `two_builds`), and what the comparison needs is kept
apart before the signing tests build the copy again.
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
    output: str | None  # what the build printed; None for the tree's own build
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


def _settings(build: Path, source: Path) -> dict[str, str]:
    """The cache entries a user can set, with the two folders replaced by placeholders."""
    settings = {}
    for line in (build / "CMakeCache.txt").read_text(encoding="utf-8").splitlines():
        name, _, value = line.partition("=")
        if line.startswith(("#", "//")) or not value or name.endswith((":INTERNAL", ":STATIC")):
            continue
        settings[name] = value.replace(str(build), "<build>").replace(str(source), "<source>")
    return settings


def _tree_build(fresh: Path, fresh_source: Path) -> Path | None:
    """The build folder of the executable under test, if it is configured like `fresh`."""
    exe = os.environ.get("SERVICEPACK_EXE")
    if not exe or not (Path(exe).parent / "CMakeCache.txt").exists():
        return None
    tree = Path(exe).parent.resolve()
    same = _settings(tree, SOURCE_DIR) == _settings(fresh, fresh_source)
    return tree if same else None


def _keep(build: Path, kept: Path) -> None:
    for name in KEPT:
        (kept / name).parent.mkdir(parents=True, exist_ok=True)
        shutil.copy2(build / name, kept / name)


def make(root: Path) -> None:
    """Both builds under `root`, with their outputs and kept files beside them."""
    # Copies are taken before any build, so that they are the same sources even while
    # someone edits the tree.
    copy = copy_sources(_paths(root, 1)[0])
    shutil.copytree(copy, _paths(root, 0)[0], symlinks=True)
    source, build, output, kept = _paths(root, 1)
    output.write_text(build_servicepack(source, build), encoding="utf-8")
    _keep(build, kept)
    first_source, first_build, first_output, first_kept = _paths(root, 0)
    tree = _tree_build(build, source)
    if tree is not None:
        shutil.rmtree(first_source)
        (root / "tree.txt").write_text(str(tree), encoding="utf-8")
        _keep(tree, first_kept)
        return
    first_output.write_text(build_servicepack(first_source, first_build), encoding="utf-8")
    _keep(first_build, first_kept)


def load(root: Path) -> list[FreshBuild]:
    """The two builds; the tree's own has no output (it was built before the tests ran)."""
    builds = []
    for index in range(len(FOLDERS)):
        source, build, output, kept = _paths(root, index)
        text = output.read_text(encoding="utf-8") if output.exists() else None
        builds.append(FreshBuild(source, build, text, kept))
    tree = root / "tree.txt"
    if tree.exists():
        builds[0].source = SOURCE_DIR
        builds[0].build = Path(tree.read_text(encoding="utf-8"))
    return builds
