#!/bin/sh
# Cost of one idle cycle of each USB power daemon (both ports present, nothing attached):
#  - CPU time (user + system) per cycle on the simulated board (start-up cost taken off), side by
#    side with a shell script that does the same idle cycle (the board's redirection and trace
#    cost is in both figures);
#  - system calls per cycle with a tmpfs "/sys" in a private mount namespace and no preload, so
#    only the daemon's own calls are counted (skipped where namespaces are refused).
# Usage: bench/usbpower/run.sh              (from tools/run-bench.sh, which sets the variables)
#        BRINGUP_BUILD=build/dev BRINGUP_PREFIX=<installed tree> SECONDS_PER_RUN=9 sh bench/usbpower/run.sh
set -e
: "${BRINGUP_BUILD:?set BRINGUP_BUILD to a build tree}" "${BRINGUP_PREFIX:?set BRINGUP_PREFIX to an installed tree}"
here=$(cd "$(dirname "$0")" && pwd)
out=${BRINGUP_OUT:-$(mktemp -d)}/usbpower
mkdir -p "$out"
exec python3 "$here/measure.py" "$BRINGUP_BUILD" "$BRINGUP_PREFIX" "$out" "${SECONDS_PER_RUN:-9}"
