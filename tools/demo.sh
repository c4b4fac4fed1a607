#!/usr/bin/env bash
# The main job on the embedded sample: builds servicepack.exe, runs it under Wine in a private
# prefix to extract its package, and shows what was written and what the package targets.
set -euo pipefail
cd "$(dirname "$0")/.."

tools/install-deps.sh
cmake --preset windows >/dev/null
cmake --build --preset windows --target servicepack

exe=build/windows/servicepack.exe
work=$(mktemp -d /tmp/servicepack-demo.XXXXXX)
export WINEPREFIX="$work/prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" WINEARCH=win64
trap 'wineserver -k 2>/dev/null || true' EXIT

echo "Preparing a private Wine prefix in $WINEPREFIX ..."
wineboot -i >/dev/null 2>&1
wineserver -w

cp "$exe" "$work/"
(cd "$work" && wine servicepack.exe /e extracted.msp)

echo
echo "servicepack.exe /e extracted.msp wrote:"
ls -l "$work/extracted.msp"
if cmp -s "$work/extracted.msp" "$(grep '^SERVICEPACK_PACKAGE:' build/windows/CMakeCache.txt | cut -d= -f2-)"; then
    echo "byte-identical to the embedded package"
else
    echo "DIFFERS from the embedded package" >&2
    exit 1
fi
echo
/usr/bin/python3 tools/check_package.py "$work/extracted.msp"
