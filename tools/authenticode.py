"""Who signed an executable, and whether the signature holds, as osslsigncode sees it.

osslsigncode finds the signer among the certificates the signature carries and checks the
chain, the image's digest and the time stamp; its report is read here, line by line. A
self-signed test certificate verifies only against itself: pass it as the CA file.
"""

from __future__ import annotations

import re
import shutil
import subprocess
from datetime import datetime, timezone

VERIFY_TIMEOUT = 120  # seconds; a chain check may look up revocation lists


def _after(text: str, marker: str) -> str:
    at = text.find(marker)
    return text[at + len(marker):] if at >= 0 else ""


def _field(text: str, name: str) -> str | None:
    match = re.search(rf"^\s*{re.escape(name)}\s*:\s*(.*?)\s*$", text, re.M)
    return match.group(1) if match else None


def iso_time(text: str | None) -> str | None:
    """osslsigncode's "Nov 14 22:13:20 2023 GMT" as 2023-11-14T22:13:20Z."""
    if not text:
        return None
    try:
        moment = datetime.strptime(text.replace(" GMT", ""), "%b %d %H:%M:%S %Y")
    except ValueError:
        return text
    return moment.replace(tzinfo=timezone.utc).strftime("%Y-%m-%dT%H:%M:%SZ")


def _failure_reason(out: str, err: str) -> str:
    if "MISMATCH" in out:
        return "the executable's digest does not match the signed one (changed after signing)"
    chain = _after(out, "Signing certificate chain verified using:")
    for text in (chain, err, out):
        match = re.search(r"(?:Verify error|Error): (.+)", text)
        if match:
            return match.group(1).strip()
    lines = [line.strip() for line in err.splitlines() if line.strip()]
    return lines[0] if lines else "osslsigncode verify failed"


def _timestamp(out: str) -> dict | None:
    counter = _after(out, "Countersignatures:")
    time = _field(counter, "Timestamp time")
    if time is None:
        return None
    verdict = _after(out, "Timestamp Server Signature verification:").split("\n", 1)[0]
    verifies = verdict.strip() == "ok"
    reason = None
    if not verifies:
        match = re.search(r"Error: (.+)", _after(out, "Timestamp verified using:"))
        reason = match.group(1).strip() if match else "the time stamp was not checked"
    return {"time": iso_time(time), "issuer": _field(counter, "Issuer"),
            "verifies": verifies, "reason": reason}


def _verify(path: str, cafile: str | None, tsa_cafile: str | None):
    command = ["osslsigncode", "verify"]
    if cafile:
        command += ["-CAfile", cafile]
    if tsa_cafile:
        command += ["-TSA-CAfile", tsa_cafile]
    return subprocess.run(command + ["-in", path], capture_output=True, text=True,
                          errors="replace", timeout=VERIFY_TIMEOUT, stdin=subprocess.DEVNULL)


def _unchecked(reason: str) -> dict:
    return {"signed": True, "subject": None, "issuer": None, "digest_algorithm": None,
            "signing_time": None, "timestamp": None, "verifies": False, "reason": reason}


def signature(path: str, cafile: str | None = None, tsa_cafile: str | None = None) -> dict:
    """The facts of a signed executable's primary signature."""
    if shutil.which("osslsigncode") is None:
        return _unchecked("osslsigncode is not installed: nothing was checked")
    try:
        done = _verify(path, cafile, tsa_cafile)
    except subprocess.TimeoutExpired:
        return _unchecked(f"osslsigncode verify did not finish in {VERIFY_TIMEOUT} s")
    signer = _after(done.stdout, "Signer's certificate:")
    attributes = _after(done.stdout, "Authenticated attributes:").split("\n\n", 1)[0]
    verifies = done.returncode == 0 and "Signature verification: ok" in done.stdout
    return {
        "signed": True,
        "subject": _field(signer, "Subject"),
        "issuer": _field(signer, "Issuer"),
        "digest_algorithm": _field(done.stdout, "Message digest algorithm"),
        "signing_time": iso_time(_field(attributes, "Signing time")),
        "timestamp": _timestamp(done.stdout),
        "verifies": verifies,
        "reason": None if verifies else _failure_reason(done.stdout, done.stderr),
    }
