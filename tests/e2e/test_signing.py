"""An Authenticode-signed servicepack.exe: built with a throwaway self-signed code-signing
certificate, verified, and run under Wine to show it does what the unsigned one does.

One build directory of a fresh copy of the sources (the second of fresh_builds.py, already
built unsigned) is configured with the PKCS#12 signer and built, then configured without a
signer and built again, so that the signed and the unsigned executable of the same build can
be compared.
"""

from __future__ import annotations

import hashlib
import os
import shutil
import subprocess
from pathlib import Path

import pefile
import pytest

from test_info import IDOK, expected_info_text
from fresh_builds import SOURCE_DIR, build_servicepack, printed_sha256

PASSWORD_ENV = "SERVICEPACK_TEST_SIGN_PASSWORD"
# Spaces, quotes and shell characters: the password must never pass through a shell.
PASSWORD = "pass phrase $HOME ' \" ;|"
SUBJECT = "Corvane Test Signer"
DESCRIPTION = "Corvane Sample Service Pack"
SIGN_SCRIPT = SOURCE_DIR / "tools" / "sign.cmake"


def _run(args, **kwargs):
    return subprocess.run([str(a) for a in args], capture_output=True, text=True, timeout=300,
                          **kwargs)


@pytest.fixture(scope="module")
def signer(tmp_path_factory):
    for program in ("openssl", "osslsigncode"):
        if shutil.which(program) is None:
            pytest.skip(f"{program} is not installed")
    folder = tmp_path_factory.mktemp("signer")
    cert, key, pkcs12 = folder / "cert.pem", folder / "key.pem", folder / "signer.p12"
    made = _run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", key,
                 "-out", cert, "-days", "2", "-subj", f"/CN={SUBJECT}",
                 "-addext", "extendedKeyUsage=codeSigning"])
    assert made.returncode == 0, made.stderr
    made = _run(["openssl", "pkcs12", "-export", "-inkey", key, "-in", cert, "-out", pkcs12,
                 "-passout", f"env:{PASSWORD_ENV}"], env={**os.environ, PASSWORD_ENV: PASSWORD})
    assert made.returncode == 0, made.stderr
    return {"cert": cert, "key": key, "pkcs12": pkcs12}


@pytest.fixture(scope="module")
def built(signer, sample_package, two_builds, tmp_path_factory):
    """The signed and the unsigned executable of one build directory, and its outputs."""
    folder = tmp_path_factory.mktemp("signed-build")
    source, build = two_builds[1].source, two_builds[1].build
    exe = build / "servicepack.exe"
    package = f"-DSERVICEPACK_PACKAGE={sample_package}"
    signed_output = build_servicepack(
        source, build, package, f"-DSERVICEPACK_SIGN_PKCS12={signer['pkcs12']}",
        f"-DSERVICEPACK_SIGN_PASSWORD_ENV={PASSWORD_ENV}",
        f"-DSERVICEPACK_SIGN_CAFILE={signer['cert']}",
        f"-DSERVICEPACK_SIGN_DESCRIPTION={DESCRIPTION}", env={PASSWORD_ENV: PASSWORD})
    shutil.copy(exe, folder / "signed.exe")
    leaks = [path for path in build.rglob("*")
             if path.is_file() and PASSWORD.encode() in path.read_bytes()]
    cache = (build / "CMakeCache.txt").read_text()
    # Turning signing off must relink: the signed file is not up to date any more.
    unsigned_output = build_servicepack(source, build, package,
                                        "-DSERVICEPACK_SIGN_PKCS12=",
                                        "-DSERVICEPACK_SIGN_PASSWORD_ENV=")
    shutil.copy(exe, folder / "unsigned.exe")
    return {"build": build, "exe": exe, "signed": folder / "signed.exe",
            "unsigned": folder / "unsigned.exe", "signed_output": signed_output,
            "unsigned_output": unsigned_output, "leaks": leaks, "signed_cache": cache}


def verify(exe: Path, cafile: Path) -> subprocess.CompletedProcess:
    return _run(["osslsigncode", "verify", "-CAfile", cafile, "-in", exe])


def security_directory(exe: Path):
    image = pefile.PE(str(exe), fast_load=True)
    entry = image.OPTIONAL_HEADER.DATA_DIRECTORY[
        pefile.DIRECTORY_ENTRY["IMAGE_DIRECTORY_ENTRY_SECURITY"]]
    return image, (entry.VirtualAddress, entry.Size)


def test_signed_executable_verifies_against_its_certificate(built, signer):
    checked = verify(built["signed"], signer["cert"])
    assert checked.returncode == 0, checked.stdout + checked.stderr
    assert "Signature verification: ok" in checked.stdout
    assert f"Subject: /CN={SUBJECT}" in checked.stdout
    assert "Message digest algorithm  : SHA256" in checked.stdout
    assert f"Text description: {DESCRIPTION}" in checked.stdout
    # The package is checked before the link, the signature comes after it.
    output = built["signed_output"]
    assert output.index("upgrades to: 15.0.205.0") < output.index("Signed and verified")
    assert "Signed and verified" not in built["unsigned_output"]
    # The hash the build prints is the one of the signed file it ships.
    assert printed_sha256(built["signed_output"], built["exe"]) == hashlib.sha256(
        built["signed"].read_bytes()).hexdigest()


def test_signing_only_appends_the_certificate_table(built, tmp_path):
    image, (offset, size) = security_directory(built["signed"])
    assert image.verify_checksum()
    assert size > 0 and offset + size == built["signed"].stat().st_size
    assert security_directory(built["unsigned"])[1] == (0, 0)
    stripped = tmp_path / "stripped.exe"
    done = _run(["osslsigncode", "remove-signature", "-in", built["signed"], "-out", stripped])
    assert done.returncode == 0, done.stdout + done.stderr
    assert stripped.read_bytes() == built["unsigned"].read_bytes()


def test_password_is_in_no_file_of_the_build_tree(built):
    # Only the name of the variable that holds it is kept.
    assert f"SERVICEPACK_SIGN_PASSWORD_ENV:STRING={PASSWORD_ENV}\n" in built["signed_cache"]
    assert built["leaks"] == []


def _info_box(prefix, exe):
    started = prefix.start(exe, "/i")
    box = prefix.wait_box(pid=started.pid)
    shown = (box.caption, box.text, box.buttons)
    prefix.answer(box, IDOK)
    assert started.wait(30) == 0
    return shown


def test_signed_executable_shows_the_same_info_box(prefix, built, sample_summary):
    signed = _info_box(prefix, built["signed"])
    assert signed == ("Info", expected_info_text(*sample_summary), [IDOK])
    assert signed == _info_box(prefix, built["unsigned"])


# --- the signing script on its own ------------------------------------------------------------

def sign(exe: Path, env: dict | None = None, **settings) -> subprocess.CompletedProcess:
    defines = [f"-D{name.upper()}={value}" for name, value in settings.items()]
    return _run(["cmake", f"-DOSSLSIGNCODE={shutil.which('osslsigncode')}", f"-DEXE={exe}",
                 *defines, "-P", SIGN_SCRIPT], env={**os.environ, **(env or {})})


def test_script_signs_with_a_pem_pair_reproducibly_given_the_source_date(built, signer,
                                                                          tmp_path):
    signed = []
    for folder in ("one", "two"):
        exe = tmp_path / folder / "servicepack.exe"
        exe.parent.mkdir()
        shutil.copy(built["unsigned"], exe)
        done = sign(exe, {"SOURCE_DATE_EPOCH": "1700000000"}, cert=signer["cert"],
                    key=signer["key"], cafile=signer["cert"])
        assert done.returncode == 0, done.stdout + done.stderr
        assert verify(exe, signer["cert"]).returncode == 0
        assert os.access(exe, os.X_OK)
        signed.append(exe.read_bytes())
    assert signed[0] == signed[1]


@pytest.mark.parametrize("env, complaint", [
    ({PASSWORD_ENV: "not the password"}, "Wrong password"),
    ({}, f"{PASSWORD_ENV} that holds the password is not set"),
], ids=["wrong-password", "unset-password"])
def test_failed_signature_removes_the_executable(built, signer, tmp_path, monkeypatch, env,
                                                  complaint):
    monkeypatch.delenv(PASSWORD_ENV, raising=False)
    exe = tmp_path / "servicepack.exe"
    shutil.copy(built["unsigned"], exe)
    done = sign(exe, env, pkcs12=signer["pkcs12"], password_env=PASSWORD_ENV)
    assert done.returncode != 0
    # CMake wraps a long message at spaces, wherever the temporary path's length puts them.
    assert complaint in " ".join(done.stderr.split())
    # Removed, so that the next build links and signs again instead of shipping it unsigned.
    assert not exe.exists() and not exe.with_name(exe.name + ".signed").exists()


def test_unverifiable_signature_removes_the_executable(built, signer, tmp_path):
    # Signed fine, but self-signed: the system's certificate authorities do not trust it.
    exe = tmp_path / "servicepack.exe"
    shutil.copy(built["unsigned"], exe)
    done = sign(exe, cert=signer["cert"], key=signer["key"])
    assert done.returncode != 0
    assert "osslsigncode verify" in done.stderr
    assert not exe.exists()
