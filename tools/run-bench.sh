#!/bin/sh
# Runs every benchmark under bench/ and prints its figures.
# Usage: tools/run-bench.sh <build-dir>
set -e
build=$(cd "${1:-build/dev}" && pwd)
here=$(cd "$(dirname "$0")" && pwd)
out="$(cd "$here/.." && pwd)/out/bench"
rm -rf "$out" && mkdir -p "$out"
cmake --install "$build" --prefix "$out/board" >/dev/null
export BRINGUP_BUILD="$build" BRINGUP_PREFIX="$out/board" BRINGUP_OUT="$out"
for b in "$here"/../bench/*/run.sh; do
    [ -e "$b" ] || continue
    echo "==== $(basename "$(dirname "$b")")"
    sh "$b"
done
