#!/usr/bin/env bash
# The main job on the embedded sample: builds servicepack.exe, installs the sample product into
# a fresh private Wine prefix, runs servicepack.exe without options and shows the patch really
# applied: every box, the product's version before and after, the installer's log; then "/i".
set -euo pipefail
cd "$(dirname "$0")/.."

tools/install-deps.sh
cmake --preset windows >/dev/null
cmake --build --preset windows --target servicepack runner boxhelper summary_probe

PYTHONPATH=tests/support /usr/bin/python3 tools/demo.py --build build/windows
