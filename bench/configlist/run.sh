#!/bin/sh
# configlist's run time against the system's eglinfo, on the same EGL platform, side by side in the
# same run (a ratio, so that a busy machine does not mislead).
# Usage: bench/configlist/run.sh            (from tools/run-bench.sh, which sets BRINGUP_PREFIX)
#        BRINGUP_PREFIX=<installed tree> RUNS=40 sh bench/configlist/run.sh
# Note: eglinfo always walks every platform the host offers (GBM, Wayland, X11, surfaceless,
# device), while configlist lists the one default display; the ratio is the cost of a full
# configuration listing as each program does it.
set -e
prefix=${BRINGUP_PREFIX:?set BRINGUP_PREFIX to an installed tree}
here=$(cd "$(dirname "$0")" && pwd)
runs=${RUNS:-20}
rounds=5
lister="$prefix/bin/configlist"
command -v eglinfo >/dev/null || { echo "eglinfo is not installed (package mesa-utils-bin)"; exit 0; }

now() { date +%s.%N; }

# Runs "$@" $1 times, output discarded; prints the seconds taken.
timed() {
    n=$1; shift
    start=$(now); i=0
    while [ $i -lt "$n" ]; do "$@" >/dev/null 2>&1 || true; i=$((i + 1)); done
    end=$(now)
    echo "$start $end" | awk '{ printf "%.6f", $2 - $1 }'
}

# Alternates the two programs in rounds and prints the totals.
compare() {
    platform=$1
    per=$((runs / rounds)); [ "$per" -gt 0 ] || per=1
    mine=0; theirs=0; r=0
    while [ $r -lt $rounds ]; do
        t=$(EGL_PLATFORM=$platform timed $per "$lister"); mine=$(echo "$mine $t" | awk '{ print $1 + $2 }')
        t=$(EGL_PLATFORM=$platform timed $per eglinfo); theirs=$(echo "$theirs $t" | awk '{ print $1 + $2 }')
        r=$((r + 1))
    done
    total=$((per * rounds))
    echo "$platform: configlist $(echo "$mine $total" | awk '{ printf "%.2f", 1000 * $1 / $2 }') ms/run," \
         "eglinfo $(echo "$theirs $total" | awk '{ printf "%.2f", 1000 * $1 / $2 }') ms/run," \
         "ratio configlist/eglinfo $(echo "$mine $theirs" | awk '{ printf "%.3f", $1 / $2 }')  ($total runs each)"
    echo "  command: EGL_PLATFORM=$platform $lister  vs  EGL_PLATFORM=$platform eglinfo"
}

# The X11 platform needs an X server: the caller's, or an Xvfb of our own (this script again, for
# the X11 comparison alone).
if [ -n "$X11_ONLY" ]; then
    compare x11
    exit 0
fi
compare surfaceless
if [ -n "$DISPLAY" ]; then
    compare x11
elif command -v Xvfb >/dev/null; then
    state=$(mktemp /tmp/configlist-bench-xvfb.XXXXXX)
    { X11_ONLY=1 "$here/../../tests/xvfb/with-display.sh" "$state" sh "$0" "$@" || true; } | grep -v "^on a private X server" || true
    rm -f "$state"
fi
echo "  figures from: BRINGUP_PREFIX=$prefix RUNS=$runs sh bench/configlist/run.sh"
