#!/bin/sh
# Runs every program of the suite on a simulated board and tells what happened.
# Usage: tools/run-suite.sh <build-dir>
set -e
build=$(cd "${1:-build/dev}" && pwd)
here=$(cd "$(dirname "$0")" && pwd)
out="$(cd "$here/.." && pwd)/out/run"
rm -rf "$out" && mkdir -p "$out"
# Lay the suite out as a board holds it.
cmake --install "$build" --prefix "$out/board" >/dev/null
export BRINGUP_BUILD="$build" BRINGUP_PREFIX="$out/board" BRINGUP_OUT="$out"
for story in "$here"/run.d/*.sh; do
    [ -e "$story" ] || continue
    echo "==== $(basename "$story" .sh)"
    sh "$story"
done
echo "==== everything made by this run is in $out"
