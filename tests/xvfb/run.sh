#!/bin/sh
# Runs a command with DISPLAY set to the fixture's Xvfb.
# Usage: run.sh <state-file> <command> [args...]
state="$1"; shift
DISPLAY=$(cut -d' ' -f1 "$state") || exit 1
export DISPLAY
exec "$@"
