#!/usr/bin/python3
"""Renders the program's message boxes to PNG files, under Xvfb and Wine.

Every catalogued message and the running-application prompt in each of the fourteen
languages, and the information box of the sample package:

    PYTHONPATH=tests/support /usr/bin/python3 tools/render_boxes.py --build BUILD [--out DIR]
        [--locales de_DE.UTF-8,ja_JP.UTF-8] [--ids 300,321]

BUILD is the windows preset's build folder; PYTHONPATH finds the test harness. Files are named
<locale>-<id>.png (321 is the prompt) and info.png. It runs itself under `xvfb-run -a`; needs
xvfb, imagemagick and, for the CJK languages, fonts-wqy-microhei. Not a test: it shows what a
user would see.
"""

from __future__ import annotations

import argparse
import os
import shutil
import subprocess
import sys
import tempfile
import time
from pathlib import Path

import harness
import rc_strings

HERE = Path(__file__).resolve().parent


SCREEN = "640x360"
PRODUCT = "Corvane Sample"
ERROR = 4316
PROMPT_ID = 321
ALL_LOCALES = [loc for loc in rc_strings.LOCALE_LANGUAGES if loc != "nl_NL.UTF-8"]
MANIFEST = HERE.parent / "resources" / "servicepack.manifest"
PROBE_COPY = r"C:\probe\ui_probe.exe"


UNDER_XVFB = "RENDER_BOXES_UNDER_XVFB"


def shoot(prefix: harness.Prefix, out: Path, command: list, answer: int,
          lc_all: str | None) -> None:
    """Runs `command` on the virtual desktop, photographs its first box, answers it."""
    started = prefix.start(*command, lc_all=lc_all)
    box = prefix.wait_box(pid=started.pid, timeout=30)
    time.sleep(0.4)  # let it paint
    subprocess.run(["import", "-display", prefix.display, "-window", "root", "-trim",
                    "+repage", str(out)], check=True, timeout=30)
    prefix.answer(box, answer)
    started.wait(30)
    print(out, flush=True)


def with_manifest(prefix: harness.Prefix, probe: Path) -> str:
    """A copy of `probe` in the prefix that runs under the shipped manifest.

    The probe carries the string tables but not the manifest, and without it the boxes
    would be drawn with the old common controls, unlike servicepack.exe's; Wine, like
    Windows, reads a manifest file beside the program."""
    copy = prefix.c_path(PROBE_COPY)
    copy.parent.mkdir(parents=True, exist_ok=True)
    shutil.copy(probe, copy)
    shutil.copy(MANIFEST, copy.with_name(copy.name + ".manifest"))
    return PROBE_COPY


def main(argv=None) -> int:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--build", required=True, type=Path,
                        help="the windows preset's build directory")
    parser.add_argument("--out", type=Path, default=HERE.parent / "docs" / "boxes")
    parser.add_argument("--locales", default=",".join(ALL_LOCALES))
    parser.add_argument("--ids", default=",".join(
        str(i) for i in [*sorted(rc_strings.CATALOG), PROMPT_ID]))
    parser.add_argument("--no-info", action="store_true", help="skip the information box")
    args = parser.parse_args(argv)

    args.build = args.build.resolve()  # programs start inside the prefix, not here
    tools = args.build / "tests" / "support" / "wine"
    ui_probe = args.build / "tests" / "support" / "probes" / "ui_probe.exe"
    servicepack = args.build / "servicepack.exe"
    for needed in (tools / "runner.exe", tools / "boxhelper.exe", ui_probe, servicepack):
        if not needed.exists():
            parser.error(f"{needed} is missing: build the windows preset first")
    for program in ("xvfb-run", "import", "wine"):
        if shutil.which(program) is None:
            parser.error(f"{program} is not installed")
    if UNDER_XVFB not in os.environ:
        # xvfb-run -a picks a free display, starts Xvfb on it and ends it when this is done.
        server = f"-screen 0 {SCREEN}x24 -nolisten tcp"
        command = ["xvfb-run", "-a", "-s", server, "/usr/bin/python3", __file__,
                   *(sys.argv[1:] if argv is None else argv)]
        return subprocess.run(command, env={**os.environ, UNDER_XVFB: "1"}).returncode
    args.out.mkdir(parents=True, exist_ok=True)
    ids = [int(i) for i in args.ids.split(",") if i]
    locales = [loc for loc in args.locales.split(",") if loc]

    work = Path(tempfile.mkdtemp(prefix="render-boxes-"))
    display = os.environ["DISPLAY"]
    prefix = None
    try:
        template = harness.prepare_template(work / "template", screenshot_desktop=SCREEN)
        prefix = harness.Prefix(template, work / "prefix", tools, display=display)
        probe = [with_manifest(prefix, ui_probe)]
        # The prompt needs a watched application running.
        dmill = prefix.c_path(r"C:\apps\dmill.exe")
        dmill.parent.mkdir(parents=True)
        shutil.copy(tools / "sleeper.exe", dmill)
        prefix.start(r"C:\apps\dmill.exe", r"C:\apps\stop", "3600", timeout=3600)

        for locale in locales:
            name = locale.split(".")[0]
            for message_id in ids:
                out = args.out / f"{name}-{message_id}.png"
                if message_id == PROMPT_ID:
                    shoot(prefix, out, [*probe, "guard"], rc_strings.IDCANCEL, locale)
                else:
                    shoot(prefix, out,
                          [*probe, "message", str(message_id), str(ERROR), PRODUCT],
                          rc_strings.IDOK, locale)
        if not args.no_info:
            shoot(prefix, args.out / "info.png", [servicepack, "/i"],
                  rc_strings.IDOK, "en_US.UTF-8")
    finally:
        if prefix is not None:
            prefix.close()
        shutil.rmtree(work, ignore_errors=True)
    return 0


if __name__ == "__main__":
    os.umask(0o022)
    sys.exit(main())
