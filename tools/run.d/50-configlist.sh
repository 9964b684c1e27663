#!/bin/sh
# configlist: the EGL configurations of the host's EGL (standing in for the board's GPU driver),
# on the surfaceless platform and, with an X server (the caller's or an Xvfb of our own), on X11.
set -e
: "${BRINGUP_PREFIX:?}" "${BRINGUP_OUT:?}"
here=$(cd "$(dirname "$0")" && pwd)
lister="$BRINGUP_PREFIX/bin/configlist"

show() {
    platform=$1
    report="$BRINGUP_OUT/configlist-$platform.txt"
    status=0
    EGL_PLATFORM=$platform "$lister" >"$report" 2>"$report.err" || status=$?
    echo "-- EGL_PLATFORM=$platform $lister   (exit status $status)"
    # The vendor line and the first block, then how many blocks followed.
    head -n 10 "$report"
    echo "   ... $(grep -c '^Config number' "$report") configurations in all; full report in $report"
    [ -s "$report.err" ] && sed 's/^/   stderr: /' "$report.err"
    return 0
}

# X11 needs an X server: the caller's, or an Xvfb of our own (this script again, for X11 alone).
if [ -n "$X11_ONLY" ]; then
    show x11
    exit 0
fi
show surfaceless
if [ -n "$DISPLAY" ]; then
    show x11
elif command -v Xvfb >/dev/null; then
    X11_ONLY=1 "$here/../../tests/xvfb/with-display.sh" "$BRINGUP_OUT/configlist-xvfb.state" sh "$0" "$@"
fi

# Without any X display the default display cannot be initialised: the error report and status 1.
echo "-- EGL_PLATFORM=x11 DISPLAY= $lister   (no X server)"
status=0
out=$(env -u DISPLAY EGL_PLATFORM=x11 "$lister" 2>"$BRINGUP_OUT/configlist-nox.err") || status=$?
echo "   stdout: $out"
echo "   stderr: $(cat "$BRINGUP_OUT/configlist-nox.err")"
echo "   exit status $status"
