#!/bin/sh
# Stops the Xvfb that start.sh started (by its process id).
state="$1"
[ -f "$state" ] || exit 0
pid=$(cut -d' ' -f2 "$state")
kill "$pid" 2>/dev/null
rm -f "$state"
exit 0
