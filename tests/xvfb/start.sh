#!/bin/sh
# Starts Xvfb on a free display for the gl tests; writes "<display> <pid>" to the state file.
# Usage: start.sh <state-file>
state="$1"
TESTLIB_XLOG="$state.log"
. "$(dirname "$0")/../lib/testlib.sh"
if ! xserver_start; then
    cat "$state.log" >&2
    echo "no Xvfb started on a free display" >&2
    exit 1
fi
echo "$TESTLIB_DISPLAY $TESTLIB_XPID" >"$state"
echo "Xvfb $TESTLIB_DISPLAY started, pid $TESTLIB_XPID"
