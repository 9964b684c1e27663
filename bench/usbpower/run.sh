#!/bin/sh
# Cost of one idle cycle of each USB power daemon (both ports present, nothing attached):
#  - CPU time per cycle on the simulated board against a shell script doing the same idle cycle
#    (the board's redirection and trace cost is in both): ROUNDS rounds (default 6) in which the
#    three daemons and the script run at the same time, each on a board of its own, for CYCLES
#    cycles (default 8; a cycle is about 1.5 s). A daemon's CPU time is read from the scheduler's
#    count at the same point of each cycle, so start-up and the end are left out; the script runs
#    CYCLES cycles and ends, less the cost of the same script with none. On a quiet 2-core machine
#    the script's CPU time spreads within about +-11% and the daemons' ratios within about -25% and
#    +35% (a daemon's cycle costs a few milliseconds, near the scheduler's own noise), while the
#    ratios' medians of two runs in a row agree within 5%; the figures print their lowest and
#    highest. It takes about ROUNDS x 15 s.
#  - system calls per cycle with a tmpfs "/sys" in a private mount namespace and no preload, so
#    only the daemon's own calls are counted, each cycle of a SECONDS_PER_RUN run (default 9) a
#    round (skipped where namespaces are refused).
# Usage: bench/usbpower/run.sh              (from tools/run-bench.sh, which sets the variables)
#        BRINGUP_BUILD=build/dev BRINGUP_PREFIX=<installed tree> ROUNDS=3 CYCLES=4 sh bench/usbpower/run.sh
set -e
: "${BRINGUP_BUILD:?set BRINGUP_BUILD to a build tree}" "${BRINGUP_PREFIX:?set BRINGUP_PREFIX to an installed tree}"
here=$(cd "$(dirname "$0")" && pwd)
out=${BRINGUP_OUT:-$(mktemp -d)}/usbpower
mkdir -p "$out"
exec python3 "$here/measure.py" "$BRINGUP_BUILD" "$BRINGUP_PREFIX" "$out" "${SECONDS_PER_RUN:-9}"
