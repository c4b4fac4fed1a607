#!/bin/sh
# Regenerates resources/sample.msp byte for byte.
set -e
cd "$(dirname "$0")/.."
/usr/bin/python3 tools/make_msp.py -o resources/sample.msp --transform-per-product \
    --upgrade-code '{8E4C2B19-5A73-4D6F-B1E8-2C9A7F3D0E64}' \
    --from-version 15.0.106.0 --to-version 15.0.205.0
