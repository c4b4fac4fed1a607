"""Fixtures of the end-to-end tests: the built programs, one prepared Wine prefix per run and
a clean copy of it per test case.

The paths come from the environment that tests/e2e/CMakeLists.txt gives ctest:
SERVICEPACK_EXE, SERVICEPACK_BIG_EXE, SERVICEPACK_PACKAGE, SERVICEPACK_BIG_PACKAGE,
SERVICEPACK_PROBES_DIR, SERVICEPACK_WINE_TOOLS_DIR, SERVICEPACK_STANDIN_MSI and
SERVICEPACK_SOURCE_DIR. A test whose program is not configured is skipped, so the suite also
runs from a partly built tree.
"""

from __future__ import annotations

import fcntl
import itertools
import os
import re
import shutil
import subprocess
import tempfile
from pathlib import Path

import pytest

import fresh_builds
import harness

SOURCE_DIR = Path(os.environ.get("SERVICEPACK_SOURCE_DIR",
                                 Path(__file__).resolve().parents[2]))


def _configured_file(variable: str) -> Path:
    value = os.environ.get(variable)
    if not value:
        pytest.skip(f"{variable} is not set")
    path = Path(value)
    if not path.exists():
        pytest.fail(f"{variable} names {path}, which does not exist")
    return path


@pytest.fixture(scope="session")
def servicepack_exe() -> Path:
    return _configured_file("SERVICEPACK_EXE")


@pytest.fixture(scope="session")
def big_exe() -> Path:
    return _configured_file("SERVICEPACK_BIG_EXE")


@pytest.fixture(scope="session")
def sample_package() -> Path:
    return _configured_file("SERVICEPACK_PACKAGE")


@pytest.fixture(scope="session")
def big_package() -> Path:
    return _configured_file("SERVICEPACK_BIG_PACKAGE")


@pytest.fixture(scope="session")
def tools_dir() -> Path:
    tools = _configured_file("SERVICEPACK_WINE_TOOLS_DIR")
    for name in ("runner.exe", "boxhelper.exe", "sleeper.exe", "stationrun.exe",
                 "argecho.exe"):
        if not (tools / name).exists():
            pytest.fail(f"{name} is missing from {tools}")
    return tools


@pytest.fixture(scope="session")
def probes_dir() -> Path:
    return _configured_file("SERVICEPACK_PROBES_DIR")


@pytest.fixture(scope="session")
def summary_probe(probes_dir) -> Path:
    return _probe(probes_dir, "summary_probe.exe")


@pytest.fixture(scope="session")
def ui_probe(probes_dir) -> Path:
    return _probe(probes_dir, "ui_probe.exe")


@pytest.fixture(scope="session")
def extract_probe(probes_dir) -> Path:
    return _probe(probes_dir, "extract_probe.exe")


@pytest.fixture(scope="session")
def packaged_extract_probe(probes_dir) -> Path:
    return _probe(probes_dir, "extract_probe_packaged.exe")


def _probe(probes_dir: Path, name: str) -> Path:
    path = probes_dir / name
    if not path.exists():
        pytest.fail(f"{name} is missing from {probes_dir}")
    return path


# The workers take whole modules in collection order. The longest go first, so that the run does
# not end with one worker alone on a long module while the others have nothing left: the one
# that builds servicepack.exe again with cmake and MinGW (the signing tests reuse that build, so
# they stay late), then the ones with the most Wine cases.
LONGEST_MODULES = ("test_reproducible.py", "test_messages.py", "test_install_standin.py")


def pytest_collection_modifyitems(items):
    def rank(item):
        name = item.path.name
        return LONGEST_MODULES.index(name) if name in LONGEST_MODULES else len(LONGEST_MODULES)

    items.sort(key=rank)


# Scratch space of the whole run, shared by the pytest-xdist workers that run modules side by
# side: the main process makes it before they start (they inherit the variable) and removes it
# after they have ended.
RUN_ROOT_VARIABLE = "SERVICEPACK_E2E_RUN_ROOT"


def pytest_configure(config):
    if hasattr(config, "workerinput") or RUN_ROOT_VARIABLE in os.environ:
        return
    config.servicepack_run_root = tempfile.mkdtemp(prefix="servicepack-e2e-")
    os.environ[RUN_ROOT_VARIABLE] = config.servicepack_run_root


def pytest_unconfigure(config):
    root = getattr(config, "servicepack_run_root", None)
    if root:
        shutil.rmtree(root, ignore_errors=True)
        del os.environ[RUN_ROOT_VARIABLE]


@pytest.fixture(scope="session")
def run_root() -> Path:
    if shutil.which("wine") is None:
        pytest.skip("wine is not installed")
    return Path(os.environ[RUN_ROOT_VARIABLE])


@pytest.fixture(scope="session")
def run_dir(run_root, worker_id):
    """Scratch space of this worker (or of the only process); removed at the end."""
    path = run_root / worker_id
    path.mkdir()
    yield path
    shutil.rmtree(path, ignore_errors=True)


def _made_once(run_root: Path, name: str, make) -> Path:
    """run_root/name, made by `make` in whichever worker needs it first; the others wait."""
    path = run_root / name
    ready = run_root / f"{name}.ready"
    with open(run_root / f"{name}.lock", "w") as lock:
        fcntl.flock(lock, fcntl.LOCK_EX)
        if not ready.exists():
            make(path)
            ready.touch()
    return path


@pytest.fixture(scope="session")
def wine_template(run_root) -> Path:
    """The one prepared prefix of the run."""
    return _made_once(run_root, "template", harness.prepare_template)


@pytest.fixture(scope="session")
def installed_template(wine_template, run_root, tools_dir, product_msi) -> Path:
    """The prepared prefix with the sample product installed by Wine's installer, once per
    run: a case copies it in a tenth of the time that installing the product takes."""
    def install(path):
        case = harness.Prefix(wine_template, path, tools_dir)
        case.install_msi(product_msi)
        case.stop()

    return _made_once(run_root, "installed", install)


@pytest.fixture(scope="session")
def two_builds(run_root) -> list[fresh_builds.FreshBuild]:
    """Two builds of servicepack.exe to compare, once per run (fresh_builds.py)."""
    fresh_builds.needs_cross_build()
    return fresh_builds.load(_made_once(run_root, "fresh-builds", fresh_builds.make))


_case_numbers = itertools.count(1)


def _case(template: Path, run_dir: Path, tools_dir: Path, kind: str = "case"):
    case = harness.Prefix(template, run_dir / f"{kind}-{next(_case_numbers)}", tools_dir)
    try:
        yield case
    finally:
        case.close()


@pytest.fixture
def prefix(wine_template, run_dir, tools_dir):
    """A clean copy of the prepared prefix for one test case, torn down afterwards."""
    yield from _case(wine_template, run_dir, tools_dir)


@pytest.fixture(scope="module")
def shared_prefix(wine_template, run_dir, tools_dir):
    """One clean prefix for a whole module whose tests only read (probes of packages)."""
    yield from _case(wine_template, run_dir, tools_dir, "shared")


@pytest.fixture
def machine(installed_template, run_dir, tools_dir):
    """A clean prefix with the sample product installed by Wine's installer."""
    yield from _case(installed_template, run_dir, tools_dir)


@pytest.fixture(scope="module")
def shared_machine(installed_template, run_dir, tools_dir):
    """One prefix with the sample product installed, for a whole module of probes."""
    yield from _case(installed_template, run_dir, tools_dir, "shared")


@pytest.fixture
def standin(prefix):
    """A clean prefix whose programs get the stand-in msi.dll when run with native_msi."""
    prefix.install_standin_msi(_configured_file("SERVICEPACK_STANDIN_MSI"))
    return prefix


@pytest.fixture(scope="session")
def product_msi(run_root) -> Path:
    """The sample product (the sample patch's target) as an MSI built with wixl, once per run:
    the installed template's product keeps this file as its source."""
    def build(out):
        subprocess.run(["wixl", "-a", "x64", "-o", str(out),
                        str(harness.SAMPLE_PRODUCT_WXS)],
                       check=True, capture_output=True, timeout=120)

    return _made_once(run_root, "corvane-sample.msi", build)


@pytest.fixture(scope="session")
def product_variant(run_dir):
    """Builds (once per name and version) the sample product under another name or version."""
    source = harness.SAMPLE_PRODUCT_WXS.read_text(encoding="utf-8")
    built: dict[tuple[str, str], Path] = {}

    def build(name: str = "Corvane Sample", version: str = "15.0.106.0") -> Path:
        if (name, version) not in built:
            # Only the Product element's attributes: the folder keeps its plain name. A
            # function as the replacement, so that backslashes in the name stay as written.
            text, count = re.subn(
                r'(<Product\b[^>]*?)\bName="[^"]*"(\s+)Version="[^"]*"',
                lambda m: f'{m.group(1)}Name="{name}"{m.group(2)}Version="{version}"', source)
            assert count == 1
            wxs = run_dir / f"variant-{len(built)}.wxs"
            wxs.write_text(text, encoding="utf-8")
            msi = wxs.with_suffix(".msi")
            subprocess.run(["wixl", "-a", "x64", "-o", str(msi), str(wxs)], check=True,
                           capture_output=True, timeout=120)
            built[(name, version)] = msi
        return built[(name, version)]

    return build


@pytest.fixture
def scratch(tmp_path) -> Path:
    return tmp_path


def read_summary(package: Path) -> tuple[str, str]:
    """The template (target product codes) and keywords of a package, as stored."""
    import olefile

    with olefile.OleFileIO(str(package)) as ole:
        meta = ole.get_metadata()
    return (meta.template or b"").decode("cp1252"), (meta.keywords or b"").decode("cp1252")


@pytest.fixture(scope="session")
def sample_summary(sample_package) -> tuple[str, str]:
    return read_summary(sample_package)
