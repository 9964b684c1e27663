#!/bin/sh
# The shell test library (tests/lib/testlib.sh) as its users see it: the lines of a run of checks,
# the closing count and the exit status, a figure's format, the prefix and the log.
# Usage: testlib_test.sh SOURCE_DIR
lib="$1/tests/lib/testlib.sh"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
problems=0
# expect <what> <wanted> <actual>
expect() {
    [ "$2" = "$3" ] && return
    problems=$((problems + 1))
    printf 'FAILED: %s\n  wanted: [%s]\n  actual: [%s]\n' "$1" "$2" "$3"
}
# run <script>: the script's output and exit status, with the library sourced first.
run() {
    out=$(TESTLIB_TMP=$work sh -c ". '$lib'; $1" 2>&1)
    status=$?
}

run 'ok one; fail two; skip three; check "four" true
    check "five" sh -c "echo why; echo more; exit 3"; summary'
expect "the lines of a run, with a failed check's output under it" "ok: one
FAILED: two
skipped: three
ok: four
FAILED: five
  | why
  | more
2 passed, 2 failed, 1 skipped" "$out"
expect "a run with failures ends with status 1" 1 "$status"

run 'ok one; skip two; summary'
expect "a run without failures ends with status 0" "0:1 passed, 0 failed, 1 skipped" \
    "$status:$(echo "$out" | tail -n 1)"

run 'summary'
expect "a run of no checks passes" "0:0 passed, 0 failed, 0 skipped" "$status:$out"

run 'measure "boot to the shell" 23.5 s'
expect "a figure: name, value, units" "figure: boot to the shell = 23.5 s" "$out"

run "TESTLIB_NAME=vm TESTLIB_LOG=$work/log; ok one; check two false; summary"
expect "every line with the prefix" "vm: ok: one
vm: FAILED: two
vm: 1 passed, 1 failed, 0 skipped" "$out"
expect "the log without it" "ok: one
FAILED: two
1 passed, 1 failed, 0 skipped" "$(cat "$work/log")"

# A clock that moves 2 s each time it is read.
echo 10 >"$work/clock"
run "clock() { read -r t <'$work/clock'; echo \$((t + 2)) >'$work/clock'; echo \$t.25; }
    TESTLIB_CLOCK=clock; begin; ok one; fail two"
expect "each check's time from the line before" "ok: one (2.0 s)
FAILED: two (2.0 s)" "$out"

[ -z "$(ls "$work" | grep -v -x -e log -e clock)" ] || { problems=$((problems + 1)); echo "FAILED: files left: $(ls "$work")"; }
echo "testlib: $problems problems"
[ "$problems" -eq 0 ]
