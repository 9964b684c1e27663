#!/bin/sh
# configlist's run time and CPU time against the system's eglinfo, on the same EGL platform:
# surfaceless (no DISPLAY for either program) and X11 (the caller's X server, or a private Xvfb).
# ROUNDS rounds (default 12) of RUNS runs of each program (default 24), the two alternating run by
# run, so that a change in the machine's load hits both; a round's ratio is the sum of one's times
# over the other's. On a quiet 2-core machine the ratios' lowest and highest lie within about +-4%
# of their median, now and then one round 7 to 10% off (with 8 runs a round, +-5 to 8%), and the
# medians of two runs in a row within 2%; it takes about 2.5 minutes.
# Usage: bench/configlist/run.sh            (from tools/run-bench.sh, which sets BRINGUP_PREFIX)
#        BRINGUP_PREFIX=<installed tree> ROUNDS=20 RUNS=8 sh bench/configlist/run.sh
# Note: eglinfo always walks every platform the host offers (GBM, Wayland, X11, surfaceless,
# device), while configlist lists the one default display; the ratio is the cost of a full
# configuration listing as each program does it.
set -e
prefix=${BRINGUP_PREFIX:?set BRINGUP_PREFIX to an installed tree}
here=$(cd "$(dirname "$0")" && pwd)
out=${BRINGUP_OUT:-/tmp}
command -v Xvfb >/dev/null || [ -n "$DISPLAY" ] || exec python3 "$here/measure.py" "$prefix"
exec "$here/../../tests/xvfb/with-display.sh" "$out/configlist.xvfb" python3 "$here/measure.py" "$prefix"
