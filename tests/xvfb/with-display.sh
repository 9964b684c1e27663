#!/bin/sh
# Runs a command with an X display: the caller's DISPLAY when one is set, otherwise a private Xvfb
# (start.sh) started for the command and stopped after it; the command's exit status is returned.
# Usage: with-display.sh <state-file> <command> [args...]
state="$1"; shift
[ -n "$DISPLAY" ] && exec "$@"
here=$(cd "$(dirname "$0")" && pwd)
"$here/start.sh" "$state" >/dev/null || exit 1
trap '"$here/stop.sh" "$state"; rm -f "$state.log"' EXIT
trap 'exit 130' INT TERM
DISPLAY=$(cut -d' ' -f1 "$state")
export DISPLAY
echo "on a private X server $DISPLAY (Xvfb)"
status=0
"$@" || status=$?
exit $status
