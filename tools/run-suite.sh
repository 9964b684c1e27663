#!/bin/sh
# make run: the suite on a simulated board, judged by bringup-check exactly as on a real board;
# then a failing board and what the check says of it.
# Usage: tools/run-suite.sh <build-dir>
set -e
build=$(cd "${1:-build/dev}" && pwd)
root=$(cd "$(dirname "$0")/.." && pwd)
out="$root/out"
sim="$build/boardsim/boardsim"
suite="$out/suite"
rm -rf "$out/run" "$out/run-failing" "$out/boards" "$suite"
mkdir -p "$out/boards"

# Lay the suite out as a board holds it; bringup-check finds the programs beside it.
cmake --install "$build" --prefix "$suite" >/dev/null
check="$suite/bin/bringup-check"

# The demos need an X server: the caller's, or a private Xvfb.
if [ -z "$DISPLAY" ]; then
    "$root/tests/xvfb/start.sh" "$out/xvfb.state" >/dev/null
    DISPLAY=$(cut -d' ' -f1 "$out/xvfb.state")
    export DISPLAY
    trap '"$root/tests/xvfb/stop.sh" "$out/xvfb.state"' EXIT
    echo "(the demos draw on a private X server, Xvfb $DISPLAY)"
fi

echo "==== A good board: controller 2.94a with two idle host ports, a 48 kHz stereo tone playing"
echo "     from a 1 MiB ring;"
echo "     a device comes and goes on port 1 during each USB daemon's run"
# A ring of 1 MiB (5 s of audio), so that a busy machine cannot make it overrun.
"$sim" create "$out/boards/good" audio.ring=1048576 >/dev/null
echo "\$ bringup-check --sim out/boards/good --switch --attach 1 --seconds 5 --out out/run"
status=0
"$check" --sim "$out/boards/good" --switch --attach 1 --seconds 5 --boardsim "$sim" --out "$out/run" || status=$?

echo
echo "==== A failing board: controller 2.20a, which no power daemon supports, and an audio driver"
echo "     whose read position query fails from its 300th answer on"
"$sim" create "$out/boards/failing" --profile otg-2.20a "audio.fault.readpos_fail=300-" >/dev/null
echo "     compared with the good board's run: what regressed, which figures drifted, what changed"
echo "\$ bringup-check --sim out/boards/failing --switch --only audio,usb --seconds 3 --out out/run-failing \\"
echo "      --baseline out/run"
failing=0
"$check" --sim "$out/boards/failing" --switch --only audio,usb --seconds 3 --boardsim "$sim" \
    --out "$out/run-failing" --baseline "$out/run" || failing=$?
echo "(exit status $failing: the report names each failing check with its reason and evidence, and"
echo " opens with what changed since the good board's run)"

echo
echo "report of the good board: $out/run/report.html"
echo "report of the failing board, compared with it: $out/run-failing/report.html"
exit $status
