#!/usr/bin/python3
"""The main job, for a newcomer: servicepack.exe really patches an installed product.

    /usr/bin/python3 tools/demo.py --build build/windows

In a fresh private Wine prefix it installs the sample product (the sample patch's target),
prints its version, runs servicepack.exe without options, prints every box as it is answered,
then the version afterwards, the installer's log and what is left in the temporary directory;
last, "servicepack.exe /i" and its box. Wine's own msi.dll is the installer.
"""

from __future__ import annotations

import argparse
import shutil
import subprocess
import sys
import tempfile
import time
from pathlib import Path

import harness

HERE = Path(__file__).resolve().parent


IDOK = 1
SAMPLE_PACKAGE = HERE.parent / "resources" / "sample.msp"


def installed_version(prefix: harness.Prefix, probe: Path) -> str:
    """The sample product as the installer reports it: code, name and installed version."""
    result = prefix.run(probe, "discover", harness.to_windows(SAMPLE_PACKAGE))
    targets = harness.output_fields(result.output).get("target", [])
    if not targets:
        return "not installed"
    code, name, version = targets[0].split("|")[:3]
    return f"{name} {code} at {version}"


def run_answering(prefix: harness.Prefix, exe: Path, *args: str) -> None:
    """Runs the exe to its end, printing and answering (OK) each box it shows."""
    started = prefix.start(exe, *args, lc_all="en_US.UTF-8")
    while started.running():
        for box in prefix.boxes(pid=started.pid):
            print(f"  [{box.caption}]")
            for line in box.text.splitlines():
                print(f"    {line}")
            prefix.answer(box, IDOK if IDOK in box.buttons else box.buttons[0])
        time.sleep(0.1)
    print(f"  exit status {started.wait()}")


def show_temporary_directory(prefix: harness.Prefix) -> None:
    temp = prefix.default_temp()
    names = sorted(p.name for p in temp.iterdir())
    print(f"\nThe temporary directory now holds: {names}")
    packages = [n for n in names if n.startswith("MSP")]
    print("The temporary package is gone." if not packages else f"Left behind: {packages}")
    for log in temp.glob("*.log"):
        lines = log.read_bytes().decode("latin-1").splitlines()
        print(f"\nThe installer's log {log.name}, last lines:")
        for line in [l for l in lines if l.strip()][-5:]:
            print(f"    {line}")


def main(argv=None) -> int:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--build", type=Path, required=True, help="the windows build tree")
    args = parser.parse_args(argv)
    build = args.build.resolve()
    exe = build / "servicepack.exe"
    probe = build / "tests" / "support" / "probes" / "summary_probe.exe"
    tools = build / "tests" / "support" / "wine"

    work = Path(tempfile.mkdtemp(prefix="servicepack-demo-"))
    print(f"Preparing a private Wine prefix in {work} ...")
    template = harness.prepare_template(work / "template")
    prefix = harness.Prefix(template, work / "prefix", tools)
    try:
        msi = work / "corvane-sample.msi"
        subprocess.run(["wixl", "-a", "x64", "-o", str(msi),
                        str(harness.SAMPLE_PRODUCT_WXS)], check=True)
        prefix.install_msi(msi)
        print(f"\nInstalled: {installed_version(prefix, probe)}")

        print("\nservicepack.exe (install mode) shows:")
        run_answering(prefix, exe)
        print(f"\nAfterwards: {installed_version(prefix, probe)}")
        show_temporary_directory(prefix)

        print("\nservicepack.exe /i shows:")
        run_answering(prefix, exe, "/i")
    finally:
        prefix.close()
        shutil.rmtree(work, ignore_errors=True)
    return 0


if __name__ == "__main__":
    sys.exit(main())
