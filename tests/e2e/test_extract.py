"""Extract mode and the option scan of the real executable under Wine.

Every run goes through runner.exe, so the exit status checked is the full 32-bit one. A run
that ends by itself within its timeout has shown no box: with the null graphics driver a box
would wait for an answer and the runner would have to terminate the program.
"""

from __future__ import annotations

import re
from pathlib import Path

import pytest

import harness

TEMP = r"C:\sptemp"  # TMP of the runs below, without a trailing backslash
TEMP_NAME = re.compile(r"MSP([1-9][0-9]*)")


def temp_files(folder: Path) -> dict[int, Path]:
    """The temporary package names in `folder`, by number."""
    if not folder.is_dir():
        return {}
    found = {}
    for entry in folder.iterdir():
        match = TEMP_NAME.fullmatch(entry.name)
        if match:
            found[int(match.group(1))] = entry
    return found


def run_ok(prefix, exe, *args, **kwargs):
    result = prefix.run(exe, *args, **kwargs)
    assert result.exit_code == 0, f"{exe.name} {' '.join(args)}: {result.output!r}"
    return result


@pytest.fixture
def temp_dir(prefix) -> Path:
    folder = prefix.c_path(TEMP)
    folder.mkdir()
    return folder


def with_temp():
    return {"TMP": TEMP}


@pytest.mark.parametrize("which", ["sample", "big"])
def test_extract_to_a_path_writes_the_embedded_package(prefix, request, which):
    exe = request.getfixturevalue("servicepack_exe" if which == "sample" else "big_exe")
    package = request.getfixturevalue("sample_package" if which == "sample" else "big_package")
    if which == "big":
        assert package.stat().st_size == 24_629_248
    out = prefix.c_path(r"C:\out\copy.msp")
    out.parent.mkdir()
    # A stale file of that name is overwritten without a question.
    out.write_bytes(b"stale" * 1_000_000 if which == "sample" else b"stale")

    run_ok(prefix, exe, "/e", r"C:\out\copy.msp", timeout=60)

    data = out.read_bytes()
    assert data[:8] == bytes.fromhex("D0CF11E0A1B11AE1")
    assert len(data) == package.stat().st_size
    assert data == package.read_bytes()


def test_a_program_file_replaced_while_it_runs_is_never_read(prefix, packaged_extract_probe,
                                                            sample_package):
    # The package may be read from the program's file instead of its image, which is only
    # sound while the file at the program's name is the one it started from. The stand-in
    # differs from the program in one byte of the package, where a read of it would show.
    program = packaged_extract_probe.read_bytes()
    package = sample_package.read_bytes()
    at = program.find(package) + len(package) // 2
    altered = program[:at] + bytes([program[at] ^ 0xFF]) + program[at + 1:]
    run = prefix.c_path(r"C:\run")
    run.mkdir()
    (run / "probe.exe").write_bytes(program)
    (run / "altered.exe").write_bytes(altered)
    prefix.c_path(r"C:\out").mkdir()

    result = run_ok(prefix, run / "probe.exe", "--replace-own-file", r"C:\run\altered.exe",
                    r"C:\out\x.msp")

    assert harness.output_fields(result.output)["ok"] == ["1"]
    assert (run / "probe.exe").read_bytes() == altered
    assert prefix.c_path(r"C:\out\x.msp").read_bytes() == package


def test_extract_without_path_writes_numbered_temporary_files(prefix, servicepack_exe,
                                                              sample_package, temp_dir):
    run_ok(prefix, servicepack_exe, "/e", env=with_temp())
    first = temp_files(temp_dir)
    assert len(first) == 1, sorted(p.name for p in temp_dir.iterdir())
    (number, path), = first.items()
    assert path.read_bytes() == sample_package.read_bytes()

    # Each process starts counting afresh: with the first number taken by a planted file,
    # the package goes to the next one and the planted file stays as it was.
    path.unlink()
    path.write_bytes(b"planted")
    run_ok(prefix, servicepack_exe, "/e", env=with_temp())
    assert path.read_bytes() == b"planted"
    assert set(temp_files(temp_dir)) == {number, number + 1}
    assert temp_files(temp_dir)[number + 1].read_bytes() == sample_package.read_bytes()


def test_extract_without_path_or_tmp_override_uses_the_users_temp(prefix, servicepack_exe,
                                                                  sample_package):
    temp = prefix.default_temp()
    before = temp_files(temp)
    run_ok(prefix, servicepack_exe, "/e")
    new = {n: p for n, p in temp_files(temp).items() if n not in before}
    assert len(new) == 1
    assert next(iter(new.values())).read_bytes() == sample_package.read_bytes()


def test_tmp_naming_a_missing_folder_falls_back_without_creating_it(prefix, servicepack_exe,
                                                                    sample_package):
    # GetTempPathW itself answers from TMP, so with TMP missing neither the variable nor the
    # system's answer names an existing folder: the root of the current drive is next.
    prefix.c_path(r"C:\work").mkdir()
    before = temp_files(prefix.drive_c)
    run_ok(prefix, servicepack_exe, "/e", env={"TMP": r"C:\no such folder"}, cwd=r"C:\work")
    assert not prefix.c_path(r"C:\no such folder").exists()
    new = {n: p for n, p in temp_files(prefix.drive_c).items() if n not in before}
    assert len(new) == 1
    assert next(iter(new.values())).read_bytes() == sample_package.read_bytes()
    assert not temp_files(prefix.c_path(r"C:\work"))


def test_extract_into_a_missing_folder_creates_nothing(prefix, servicepack_exe, temp_dir):
    run_ok(prefix, servicepack_exe, "/e", r"C:\missing\out.msp", env=with_temp())
    assert not prefix.c_path(r"C:\missing").exists()
    assert not temp_files(temp_dir)


def test_relative_paths_are_taken_from_the_current_directory(prefix, servicepack_exe,
                                                              sample_package):
    work = prefix.c_path(r"C:\work")
    (work / "sub").mkdir(parents=True)
    run_ok(prefix, servicepack_exe, "/e", "plain.msp", cwd=r"C:\work")
    run_ok(prefix, servicepack_exe, "/e", r"sub\nested.msp", cwd=r"C:\work")
    assert (work / "plain.msp").read_bytes() == sample_package.read_bytes()
    assert (work / "sub" / "nested.msp").read_bytes() == sample_package.read_bytes()


def test_option_words(prefix, servicepack_exe, sample_package, temp_dir):
    """Upper case matches; /pi runs nothing; words after /e are its path; last /e wins."""
    package = sample_package.read_bytes()
    out = prefix.c_path(r"C:\opts")
    out.mkdir()

    run_ok(prefix, servicepack_exe, "/E", r"C:\opts\upper.msp", env=with_temp())
    assert (out / "upper.msp").read_bytes() == package

    run_ok(prefix, servicepack_exe, "/pi", env=with_temp())
    run_ok(prefix, servicepack_exe, "/PI", env=with_temp())
    run_ok(prefix, servicepack_exe, "/Pi", "/i", env=with_temp())
    assert not temp_files(temp_dir)

    # Extraction requested before /pi still runs, and nothing after /pi is looked at.
    run_ok(prefix, servicepack_exe, "/e", r"C:\opts\before-pi.msp", "/pi", "/i",
           env=with_temp())
    assert (out / "before-pi.msp").read_bytes() == package

    # Two /e options: one extraction, to the second path.
    run_ok(prefix, servicepack_exe, "/e", r"C:\opts\first.msp", "/e", r"C:\opts\second.msp",
           env=with_temp())
    assert not (out / "first.msp").exists()
    assert (out / "second.msp").read_bytes() == package

    # The word after /e is the path whatever it reads. (Not tried with "/q" here: Wine
    # takes a path beginning with "/" as a Linux path and would write the host's /q.)
    run_ok(prefix, servicepack_exe, "/e", "-q", cwd=r"C:\opts", env=with_temp())
    assert (out / "-q").read_bytes() == package

    assert not temp_files(temp_dir)
    assert sorted(p.name for p in out.iterdir()) == [
        "-q", "before-pi.msp", "second.msp", "upper.msp"]
