# The shell tests' common part, sourced (POSIX sh, busybox's too): one line per check, counted,
# a figure in one format, the closing count with its exit status, and an X server on a display.
#
#   ok WHAT / fail WHAT / skip WHAT    count a check and print "ok: WHAT", "FAILED: WHAT" or
#                                      "skipped: WHAT"
#   check WHAT COMMAND [ARG...]        runs the command (its output kept aside); ok when it
#                                      succeeds, otherwise fail and its output shown under the line
#   detail FILE                        shows a file under the last line, each line as "  | LINE"
#   measure NAME VALUE UNITS           prints "figure: NAME = VALUE UNITS"
#   say TEXT                           prints a line as the checks are printed
#   summary                            prints "N passed, N failed, N skipped"; status 0 when none
#                                      failed, 1 otherwise (the script's last command)
#   xserver_start [DISPLAY]            starts Xvfb on DISPLAY (":7") or on the first free display
#                                      from :90; sets TESTLIB_DISPLAY and TESTLIB_XPID; its output
#                                      goes to TESTLIB_XLOG; status 1 when it does not come up
#   xserver_stop                       stops the X server xserver_start started
#
# Settings, read when used:
#   TESTLIB_NAME   prefix of every line ("vmtest" gives "vmtest: ok: ..."), for a reader that
#                  picks the lines out of a console; none when empty
#   TESTLIB_LOG    a file every line is appended to as well, without the prefix
#   TESTLIB_CLOCK  a command printing seconds; when set, ok and fail add how long the check took
#                  "(N.N s)", counted from the line before
#   TESTLIB_TMP    the folder of the library's own files (default TMPDIR, /tmp)
#   TESTLIB_XLOG   the file the X server's output goes to (default none)
tl_passed=0 tl_failed=0 tl_skipped=0
tl_since=

say() {
    if [ -n "${TESTLIB_NAME:-}" ]; then echo "$TESTLIB_NAME: $*"; else echo "$*"; fi
    [ -z "${TESTLIB_LOG:-}" ] || echo "$*" >>"$TESTLIB_LOG"
}

# Sets tl_took to " (N.N s)" since the count started, when there is a clock; starts it again.
tl_took() {
    tl_took=
    [ -n "${TESTLIB_CLOCK:-}" ] || return 0
    tl_now=$($TESTLIB_CLOCK)
    [ -z "$tl_since" ] || tl_took=$(awk -v a="$tl_since" -v b="$tl_now" 'BEGIN { printf " (%.1f s)", b - a }')
    tl_since=$tl_now
}
# Starts the count of the next check's time (the time between checks is not a check's).
begin() {
    [ -z "${TESTLIB_CLOCK:-}" ] || tl_since=$($TESTLIB_CLOCK)
}

ok() { tl_passed=$((tl_passed + 1)); tl_took; say "ok: $*$tl_took"; }
fail() { tl_failed=$((tl_failed + 1)); tl_took; say "FAILED: $*$tl_took"; }
skip() { tl_skipped=$((tl_skipped + 1)); say "skipped: $*"; begin; }

detail() {
    while IFS= read -r tl_line || [ -n "$tl_line" ]; do say "  | $tl_line"; done <"$1"
}

check() {
    tl_what=$1
    shift
    tl_out="${TESTLIB_TMP:-${TMPDIR:-/tmp}}/testlib.$$.out"
    if "$@" >"$tl_out" 2>&1; then ok "$tl_what"; else fail "$tl_what"; detail "$tl_out"; fi
    rm -f "$tl_out"
}

measure() {
    say "figure: $1 = $2 $3"
}

summary() {
    say "$tl_passed passed, $tl_failed failed, $tl_skipped skipped"
    [ "$tl_failed" -eq 0 ]
}

TESTLIB_DISPLAY= TESTLIB_XPID=
xserver_start() {
    command -v Xvfb >/dev/null || { echo "Xvfb not installed" >"${TESTLIB_XLOG:-/dev/null}"; return 1; }
    if [ $# -gt 0 ]; then tl_n=${1#:} tl_last=${1#:}; else tl_n=90 tl_last=399; fi
    while [ "$tl_n" -le "$tl_last" ]; do
        if [ $# -gt 0 ] || { [ ! -e /tmp/.X$tl_n-lock ] && [ ! -e /tmp/.X11-unix/X$tl_n ]; }; then
            # A session of its own: a terminal's or a test runner's signals to the caller's group
            # do not reach it; xserver_stop ends it.
            $(command -v setsid) Xvfb :$tl_n -noreset -nolisten tcp -screen 0 1280x1024x24 \
                >"${TESTLIB_XLOG:-/dev/null}" 2>&1 </dev/null &
            TESTLIB_XPID=$!
            tl_tries=300
            while [ $tl_tries -gt 0 ] && kill -0 "$TESTLIB_XPID" 2>/dev/null; do
                if [ -S /tmp/.X11-unix/X$tl_n ]; then
                    TESTLIB_DISPLAY=:$tl_n
                    return 0
                fi
                sleep 0.1
                tl_tries=$((tl_tries - 1))
            done
            kill "$TESTLIB_XPID" 2>/dev/null
            TESTLIB_XPID=
        fi
        tl_n=$((tl_n + 1))
    done
    return 1
}
xserver_stop() {
    [ -z "$TESTLIB_XPID" ] || kill "$TESTLIB_XPID" 2>/dev/null
    TESTLIB_XPID= TESTLIB_DISPLAY=
}
