#!/bin/sh
# Runs every benchmark under bench/, printing its figures (each with its median, lowest and highest
# over its rounds, and the command that made it), then writes them all with the commit to
# out/bench/bench.json (bench/benchjson.py).
# Usage: tools/run-bench.sh <build-dir>
set -e
build=$(cd "${1:-build/dev}" && pwd)
here=$(cd "$(dirname "$0")" && pwd)
out="$(cd "$here/.." && pwd)/out/bench"
began=$(date +%s)
rm -rf "$out" && mkdir -p "$out"
cmake --install "$build" --prefix "$out/board" >/dev/null
export BRINGUP_BUILD="$build" BRINGUP_PREFIX="$out/board" BRINGUP_OUT="$out" PYTHONDONTWRITEBYTECODE=1
for b in "$here"/../bench/*/run.sh; do
    [ -e "$b" ] || continue
    echo "==== $(basename "$(dirname "$b")")"
    sh "$b"
done
echo "===="
python3 "$here/../bench/benchjson.py" write "$out"
echo "all benchmarks took $(($(date +%s) - began)) s"
