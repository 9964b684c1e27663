#!/bin/sh
# The preloaded board's traces of every run in kernel/tests/scenarios, one <name>.trace each, for
# guest.sh to compare the kernel board's runs with (on any architecture: traces name paths,
# requests and values only).
#
# Usage: kernel/tests/expected-traces.sh BUILD OUT
#   BUILD  the suite's build folder (build/dev): its bin/ and boardsim/
#   OUT    the folder that receives the traces; the boards are made in OUT/boards
set -e
top=$(cd "$(dirname "$0")/../.." && pwd)
build=$(cd "$1" && pwd)
mkdir -p "$2/boards"
out=$(cd "$2" && pwd)
boardsim=$build/boardsim/boardsim
# A scenario's program "@probe" is kernel/tests/probe.c, built here for this host.
cc -O2 -I"$top/include" -o "$out/probe" "$top/kernel/tests/probe.c"
while IFS='|' read -r name profile settings seconds lines program; do
    case "$name" in ''|'#'*) continue ;; esac
    board=$out/boards/$name
    rm -rf "$board.run"
    mkdir -p "$board.run"
    "$boardsim" create "$board" --profile "$profile" $settings > /dev/null
    case "$program" in @probe*) run="$out/probe${program#@probe}" ;; *) run="$build/bin/$program" ;; esac
    (cd "$board.run" && timeout "${seconds:-30}" "$boardsim" run "$board" -- $run > /dev/null 2>&1) || true
    cp "$board/trace.log" "$out/$name.trace"
done < "$top/kernel/tests/scenarios"
