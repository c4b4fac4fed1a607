#!/bin/sh
# Runs one fuzz target from its committed corpus without writing into it: the inputs it finds
# go to a scratch directory that is removed afterwards.
# Usage: run_target.sh TARGET CORPUS [libFuzzer options...]
set -eu
target=$1
corpus=$2
shift 2
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
"$target" "$@" "$scratch" "$corpus"
