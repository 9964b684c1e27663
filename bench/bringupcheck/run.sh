#!/bin/sh
# bringup-check's own cost, the figure a board farm running it every day asks for:
#  - on the good simulated board (as make run's, every check, --switch, a device coming and going
#    on port 1), ROUNDS runs (default 3) with --seconds CHECK_SECONDS (default 5): each check's
#    wall time beyond what its program needs (pcmcapture's 10 s, each daemon's and demo's
#    --seconds), the whole run's wall time against that need, bringup-check's own CPU time apart
#    from its programs', and the size of its output folder;
#  - on the booted image, from what `make vmtest` left in build/vmtest/results/good when it is
#    there: each check's time against the same need, and the output folder's size.
# The wall-time ratio spreads within about +-1% on a quiet 2-core machine and a few per cent on a
# busy one (a run is mostly waiting for its programs); the overheads are fractions of a second, so
# their spread is wide in per cent and small in seconds. It takes about ROUNDS x 45 s.
# Usage: bench/bringupcheck/run.sh   (tools/run-bench.sh sets BRINGUP_BUILD, BRINGUP_PREFIX, BRINGUP_OUT)
#        VMTEST_RESULTS=<a bringup-check output folder> reads that one as the booted image's
set -e
: "${BRINGUP_BUILD:?set BRINGUP_BUILD to a build tree}" "${BRINGUP_PREFIX:?set BRINGUP_PREFIX to an installed tree}"
here=$(cd "$(dirname "$0")" && pwd)
out=${BRINGUP_OUT:-$(mktemp -d)}
vmtest=${VMTEST_RESULTS:-$(cd "$here/../.." && pwd)/build/vmtest/results/good}
mkdir -p "$out/bringupcheck"
exec "$here/../../tests/xvfb/with-display.sh" "$out/bringupcheck.xvfb" \
    python3 "$here/measure.py" "$BRINGUP_BUILD" "$BRINGUP_PREFIX" "$out/bringupcheck" "$vmtest"
