#!/bin/sh
# Starts Xvfb on a free display for the gl tests; writes "<display> <pid>" to the state file.
# Usage: start.sh <state-file>
state="$1"
command -v Xvfb >/dev/null || { echo "Xvfb not installed" >&2; exit 1; }
n=90
while [ $n -lt 400 ]; do
    if [ ! -e /tmp/.X$n-lock ] && [ ! -e /tmp/.X11-unix/X$n ]; then
        setsid Xvfb :$n -noreset -nolisten tcp -screen 0 1280x1024x24 \
            >"$state.log" 2>&1 </dev/null &
        pid=$!
        i=0
        while [ $i -lt 100 ]; do
            if [ -S /tmp/.X11-unix/X$n ]; then
                echo ":$n $pid" >"$state"
                echo "Xvfb :$n started, pid $pid"
                exit 0
            fi
            kill -0 $pid 2>/dev/null || break
            sleep 0.1
            i=$((i + 1))
        done
        kill $pid 2>/dev/null
    fi
    n=$((n + 1))
done
echo "no free display for Xvfb" >&2
exit 1
