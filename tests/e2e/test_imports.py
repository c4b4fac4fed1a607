"""What the built executables import, where they take the other system libraries from, and
where the loader looks for the DLLs of their imports.

The executable runs with the highest available rights, usually from a downloads folder, so
nothing the loader maps before the entry point may come from that folder: it imports only
KERNEL32 and the C runtime, its load configuration keeps the loader to the system directory,
and it loads msi.dll, USER32 and SHELL32 from the system directory at run time. A DLL planted
beside it under any name the process loads has to stay unused.
"""

import os
import re
import shutil
import signal
import subprocess
import tempfile
from pathlib import Path, PureWindowsPath

import pefile
import pytest

OBJDUMP = "x86_64-w64-mingw32-objdump"
GCC = "x86_64-w64-mingw32-gcc"
SYSTEM_DLLS = {"kernel32.dll", "msvcrt.dll"}
# Loaded at run time from the system directory, with the functions looked up there.
RUN_TIME_LIBRARIES = {
    "msi.dll": [],  # by ordinal
    "user32.dll": ["MessageBoxW", "GetProcessWindowStation",
                   "GetUserObjectInformationW"],
    "shell32.dll": ["CommandLineToArgvW"],
}


def _exe_from_env(name):
    value = os.environ.get(name)
    return Path(value) if value else None


def _executables():
    found = []
    for name in ("SERVICEPACK_EXE", "SERVICEPACK_BIG_EXE"):
        exe = _exe_from_env(name)
        if exe:
            found.append(pytest.param(exe, True, id=exe.name))
    probes = _exe_from_env("SERVICEPACK_PROBES_DIR")
    if probes:
        for probe in ("summary_probe.exe", "ui_probe.exe", "extract_probe.exe",
                      "library_probe.exe"):
            found.append(pytest.param(probes / probe, False, id=probe))
    return found or [pytest.param(None, True, id="unset")]


def _headers(exe):
    if exe is None:
        pytest.skip("SERVICEPACK_EXE is not set")
    if shutil.which(OBJDUMP) is None:
        pytest.skip(f"{OBJDUMP} is not installed")
    return subprocess.run([OBJDUMP, "-p", str(exe)], check=True, capture_output=True,
                          text=True).stdout


@pytest.mark.parametrize("exe,gui", _executables())
def test_pe_kind_and_imports(exe, gui):
    headers = _headers(exe)
    assert re.search(r"^Magic\s+020b\s+\(PE32\+\)", headers, re.M), "not PE32+"
    assert "file format pei-x86-64" in headers
    subsystem = re.search(r"^Subsystem\s+([0-9a-fA-F]+)", headers, re.M)
    assert subsystem and int(subsystem.group(1), 16) == (2 if gui else 3)

    imported = {name.lower() for name in re.findall(r"DLL Name:\s*(\S+)", headers)}
    # Static runtime: without it libstdc++/libgcc DLLs would be needed on a clean system. A
    # probe that needs fewer of them imports fewer.
    assert imported == SYSTEM_DLLS if gui else imported <= SYSTEM_DLLS
    assert "msi.dll" not in imported


@pytest.mark.parametrize("library", sorted(RUN_TIME_LIBRARIES))
def test_system_libraries_are_loaded_by_name_at_run_time(library):
    exe = _exe_from_env("SERVICEPACK_EXE")
    if exe is None:
        pytest.skip("SERVICEPACK_EXE is not set")
    data = exe.read_bytes()
    # The loader names the library in UTF-16 for LoadLibraryExW; no import descriptor
    # names it in ASCII. Its functions are looked up by their ASCII names.
    assert library.encode("utf-16-le") in data
    assert library not in _headers(exe).lower()
    for name in RUN_TIME_LIBRARIES[library]:
        assert name.encode() + b"\0" in data, name


LOAD_CONFIG = pefile.DIRECTORY_ENTRY["IMAGE_DIRECTORY_ENTRY_LOAD_CONFIG"]
LOAD_CONFIG_SIZE = 0x140  # IMAGE_LOAD_CONFIG_DIRECTORY64 as Windows 11 defines it
DEPENDENT_LOAD_FLAGS = 0x4E  # its offset there (a WORD)
LOAD_LIBRARY_SEARCH_SYSTEM32 = 0x800
IMAGE_DLLCHARACTERISTICS_GUARD_CF = 0x4000


@pytest.mark.parametrize("variable", ["SERVICEPACK_EXE", "SERVICEPACK_BIG_EXE"])
def test_load_configuration_keeps_the_loader_to_the_system_directory(variable):
    exe = _exe_from_env(variable)
    if exe is None:
        pytest.skip(f"{variable} is not set")
    image = pefile.PE(str(exe), fast_load=True)
    entry = image.OPTIONAL_HEADER.DATA_DIRECTORY[LOAD_CONFIG]
    assert entry.VirtualAddress and entry.Size == LOAD_CONFIG_SIZE
    structure = image.get_data(entry.VirtualAddress, entry.Size)
    size = int.from_bytes(structure[:4], "little")
    assert size == LOAD_CONFIG_SIZE  # the loader reads what the structure's own Size covers
    flags = int.from_bytes(structure[DEPENDENT_LOAD_FLAGS:DEPENDENT_LOAD_FLAGS + 2], "little")
    assert flags == LOAD_LIBRARY_SEARCH_SYSTEM32
    # Every other field zero: no security cookie for the loader to set up, no exception handler
    # table, GuardFlags 0 and no Control Flow Guard tables for it to check.
    rest = structure[4:DEPENDENT_LOAD_FLAGS] + structure[DEPENDENT_LOAD_FLAGS + 2:]
    assert rest == bytes(len(rest))
    assert not image.OPTIONAL_HEADER.DllCharacteristics & IMAGE_DLLCHARACTERISTICS_GUARD_CF
    # Read-only where the image maps it, and the header checksum made after the entry was set.
    (section,) = [s for s in image.sections if s.contains_rva(entry.VirtualAddress)]
    assert not section.Characteristics & pefile.SECTION_CHARACTERISTICS["IMAGE_SCN_MEM_WRITE"]
    assert image.verify_checksum()


def _functions_imported_from(headers, dll):
    for block in re.split(r"^\s*DLL Name:\s*", headers, flags=re.M)[1:]:
        name, _, rest = block.partition("\n")
        if name.strip().lower() == dll:
            return set(re.findall(r"^\s*[0-9a-f]+\s+\d+\s+(\w+)$", rest, re.M))
    return set()


def test_functions_newer_systems_add_are_looked_up_not_imported():
    # A static import of any of them would keep the executable from starting where the system
    # lacks it (Windows 7 without its update, Wine 8); the entry point looks them up first
    # thing instead and does without where they are missing.
    exe = _exe_from_env("SERVICEPACK_EXE")
    imported = _functions_imported_from(_headers(exe), "kernel32.dll")
    data = exe.read_bytes()
    for name in ("SetDefaultDllDirectories", "SetProcessMitigationPolicy", "GetTempPath2W"):
        assert name not in imported
        assert name.encode() + b"\0" in data, name


# --- Under Wine: a planted msi.dll ------------------------------------------------------------

PLANTED_DLL = r"""
#include <windows.h>
BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
    (void)reserved;
    if (reason != DLL_PROCESS_ATTACH) return TRUE;
    /* The marker goes beside the DLL, in the folder of the test case that planted it. */
    WCHAR marker[MAX_PATH + sizeof MARKER_NAME];
    DWORD length = GetModuleFileNameW(instance, marker, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return FALSE;
    while (length > 0 && marker[length - 1] != L'\\') length--;
    lstrcpyW(marker + length, MARKER_NAME);
    HANDLE file = CreateFileW(marker, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, 0, NULL);
    if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
    return FALSE; /* and refuse to load, so any use of it fails loudly */
}
"""

# What a careless loader does: the plain search order, the program's folder first.
NAIVE_LOADER = r"""
#include <windows.h>
#include <stdio.h>
int main(void) {
    HMODULE module = LoadLibraryW(L"msi.dll");
    printf("loaded=%d\n", module != NULL);
    return 0;
}
"""


def _windows_path(path):
    return "Z:" + str(path).replace("/", "\\")


def _run(prefix, exe, *args, overrides, cwd):
    """Runs `exe` with plain wine and the given DLL overrides; (status, UTF-8 output)."""
    import harness

    env = harness.quiet_environment(
        prefix.path, {"WINEDLLOVERRIDES": f"{harness.DLL_OVERRIDES};{overrides}"})
    # Output through a file: Wine's helper processes inherit it and may outlive the program.
    with tempfile.TemporaryFile() as out:
        status = subprocess.run(["wine", str(exe), *args], env=env, cwd=cwd,
                                stdin=subprocess.DEVNULL, stdout=out,
                                stderr=subprocess.DEVNULL, timeout=120).returncode
        out.seek(0)
        return status, out.read().decode("utf-8", "replace").replace("\r", "")


MARKER = "planted-msi-was-loaded"


@pytest.fixture(scope="module")
def planted_build(tmp_path_factory):
    """The planted msi.dll and the careless loader, compiled once for the module."""
    if shutil.which(GCC) is None:
        pytest.skip(f"{GCC} is not installed")
    folder = tmp_path_factory.mktemp("planted")
    (folder / "planted.c").write_text(PLANTED_DLL)
    (folder / "naive.c").write_text(NAIVE_LOADER)
    subprocess.run([GCC, "-shared", "-O2", f'-DMARKER_NAME=L"{MARKER}"', "-o",
                    str(folder / "msi.dll"), str(folder / "planted.c")], check=True)
    subprocess.run([GCC, "-O2", "-o", str(folder / "naive.exe"), str(folder / "naive.c")],
                   check=True)
    return folder


@pytest.fixture
def planted(tmp_path, planted_build, servicepack_exe, summary_probe, probes_dir):
    """A folder holding copies of the programs and a msi.dll that leaves a marker if loaded."""
    folder = tmp_path / "downloads"
    folder.mkdir()
    for name in ("msi.dll", "naive.exe"):
        shutil.copy(planted_build / name, folder / name)
    shutil.copy(servicepack_exe, folder / "servicepack.exe")
    shutil.copy(summary_probe, folder / "summary_probe.exe")
    shutil.copy(probes_dir / "library_probe.exe", folder / "library_probe.exe")
    shutil.copy(folder / "msi.dll", folder / "planted.dll")
    return folder, folder / MARKER


# Wine prefers its own msi.dll unless told to take a native one first; with "n,b" a DLL in
# the program's folder wins for any plain LoadLibrary, as it would on Windows.
NATIVE_FIRST = "msi=n,b"


def test_planted_library_would_be_found_by_a_plain_search(prefix, planted):
    folder, marker = planted
    status, out = _run(prefix, folder / "naive.exe", overrides=NATIVE_FIRST, cwd=folder)
    assert status == 0
    assert marker.exists(), "the planted msi.dll is not reachable: the next tests prove nothing"
    assert "loaded=0" in out


def temporary_packages(prefix):
    return sorted(p.name for p in prefix.default_temp().iterdir() if p.name.startswith("MSP"))


def test_planted_library_is_never_loaded(machine, planted, sample_package):
    folder, marker = planted
    status, out = _run(machine, folder / "summary_probe.exe", "versions",
                       _windows_path(sample_package), overrides=NATIVE_FIRST, cwd=folder)
    assert status == 0
    assert "ok=1\n" in out and "last_error=0\n" in out
    # A quiet install run that gets through the installer (it patches the product and then
    # deletes its temporary package) has loaded msi.dll, and not the planted one.
    status, _ = _run(machine, folder / "servicepack.exe", "/q", overrides=NATIVE_FIRST,
                     cwd=folder)
    assert status == 0
    assert not marker.exists()
    assert temporary_packages(machine) == []


def test_libraries_loaded_later_come_from_the_system_directory_only(prefix, planted):
    # A library of a name nothing loads yet, loaded by a plain load by name, as a system
    # library loads its own dependencies: only the restriction keeps the folder out.
    folder, marker = planted
    status, out = _run(prefix, folder / "library_probe.exe", "--unrestricted", "planted.dll",
                       overrides="", cwd=folder)
    assert status == 0 and marker.exists(), "the planted library is not reachable"
    marker.unlink()
    status, out = _run(prefix, folder / "library_probe.exe", "planted.dll", overrides="",
                       cwd=folder)
    assert status == 0
    assert "loaded=0\n" in out and "last_error=126\n" in out
    assert not marker.exists()


def test_missing_installer_library_fails_every_call_with_the_load_error(prefix, planted,
                                                                        sample_package):
    folder, _ = planted
    package = _windows_path(sample_package)
    status, out = _run(prefix, folder / "summary_probe.exe", "codes", package,
                       overrides="msi=", cwd=folder)
    assert status == 0
    assert "ok=0\n" in out
    assert "last_error=126\n" in out  # ERROR_MOD_NOT_FOUND from the failed load
    status, out = _run(prefix, folder / "summary_probe.exe", "discover", package,
                       overrides="msi=", cwd=folder)
    assert status == 0
    assert out.startswith("count=0\n")
    # Without the library install mode stops at reading the package, quietly, and ends
    # normally; the temporary package stays.
    status, _ = _run(prefix, folder / "servicepack.exe", "/q", overrides="msi=", cwd=folder)
    assert status == 0
    assert len(temporary_packages(prefix)) == 1


# --- Under Wine: DLLs planted under every name the process loads -----------------------------

LOADED = re.compile(r'^([0-9a-f]+):[0-9a-f]+:trace:loaddll:\w+ Loaded L"(.*?)" at \w+: (\w+)',
                    re.M)


def _loaded_modules(trace, exe_name):
    """(path, "native" or "builtin") of each module Wine's loader reports for the process of
    `exe_name`, from a +pid,+loaddll trace. A builtin module is Wine's own code, whatever
    path it is reported under."""
    loads = [(pid, path.replace("\\\\", "\\"), kind) for pid, path, kind in LOADED.findall(trace)]
    pids = {pid for pid, path, _ in loads if PureWindowsPath(path).name.lower() == exe_name}
    return [(path, kind) for pid, path, kind in loads if pid in pids]


def _run_traced(prefix, exe, *args, box=False):
    """Runs `exe` from its own folder with Wine's loader trace, answering its one box with OK
    if `box`; (exit status, trace)."""
    import harness
    from rc_strings import IDOK

    env = harness.quiet_environment(prefix.path, {"WINEDEBUG": "+pid,+loaddll"})
    with tempfile.TemporaryFile() as trace:
        process = subprocess.Popen(["wine", str(exe), *args], env=env, cwd=exe.parent,
                                   stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                                   stderr=trace, start_new_session=True)
        try:
            if box:
                prefix.answer(prefix.wait_box(exe=exe.name), IDOK)
            status = process.wait(timeout=120)
        finally:
            if process.poll() is None:
                os.killpg(process.pid, signal.SIGKILL)
                process.wait()
        trace.seek(0)
        return status, trace.read().decode("utf-8", "replace")


def _program_folder(parent, servicepack_exe):
    folder = parent / "downloads"
    folder.mkdir(parents=True)
    shutil.copy(servicepack_exe, folder / "servicepack.exe")
    return folder / "servicepack.exe"


def test_dlls_planted_under_every_name_the_process_loads_stay_unused(
        shared_machine, machine, servicepack_exe, summary_probe, sample_package, tools_dir,
        tmp_path):
    from test_install import UPGRADE, installed_target

    # The names: every module an install run and an information run load, in a clean folder.
    clean = _program_folder(tmp_path / "clean", servicepack_exe)
    names = set()
    for args, box in ((["/q"], False), (["/i"], True)):
        status, trace = _run_traced(shared_machine, clean, *args, box=box)
        assert status == 0
        names |= {PureWindowsPath(path).name.lower()
                  for path, _ in _loaded_modules(trace, clean.name)}
    # SHELL32 brings shcore.dll, which Wine takes from the program's folder when it finds it
    # there: the DLL that shows a search of that folder.
    assert {"msi.dll", "user32.dll", "shell32.dll", "shcore.dll"} <= names, sorted(names)
    names.discard(clean.name)

    exe = _program_folder(tmp_path / "planted", servicepack_exe)
    for name in names:
        shutil.copy(tools_dir / "planted.dll", exe.parent / name)
    for args, box in ((["/q"], False), (["/i"], True)):
        status, trace = _run_traced(machine, exe, *args, box=box)
        assert sorted(p.name for p in exe.parent.glob("*.loaded")) == [], args
        assert [path for path, kind in _loaded_modules(trace, exe.name)
                if kind == "native" and PureWindowsPath(path).name != exe.name] == [], args
        assert status == 0
    # The install run got through: the product is patched.
    assert installed_target(machine, summary_probe, sample_package)[2] == UPGRADE
