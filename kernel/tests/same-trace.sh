#!/bin/sh
# Whether two traces of the same program show the same operations: one from the preloaded board
# (`boardsim run BOARD -- PROGRAM`, the board's trace.log), one from a kernel board
# (`boardsim run --trace-only --trace FILE -- PROGRAM`).
#
# Usage: same-trace.sh [--first N | --prefix N | --differ N] EXPECTED ACTUAL
#
# Times, pids and descriptor numbers are left out, and so is what depends on when the audio
# requests came (positions, read sizes, the preloaded board's overrun lines). By default the two
# must agree line for line. A program that was stopped after a while leaves a trace that is a
# prefix of a longer run's: with --prefix N, the shorter of the two must be the start of the
# longer and have N lines at least. With --first N only the first N lines of each are compared,
# for a program whose later requests depend on timing (the audio capture). With --differ N the
# first N - 1 lines must agree and line N must not: a difference the two boards have on purpose,
# shown where it is. Prints the first difference; exit status 0 when they agree (or, with
# --differ, differ as they should), 1 when not, 2 on a usage error. POSIX sh and awk only (busybox will do), and the `boardsim` command (on PATH,
# or named by BOARDSIM) for the protocol's request numbers.
mode=all lines=0
case "$1" in --first|--prefix|--differ) mode=${1#--} lines=$2; shift 2 ;; esac
[ $# -eq 2 ] || { echo "usage: same-trace.sh [--first N | --prefix N | --differ N] EXPECTED ACTUAL" >&2; exit 2; }

# The audio requests whose answers or arguments are positions, from the protocol headers.
eval "$(${BOARDSIM:-boardsim} protocol)" || exit 2
hwpos=$QVAUDIO_CMD_OUT_HW_POS readpos=$QVAUDIO_CMD_OUT_READ_POS
setreadpos=$QVAUDIO_CMD_OUT_SET_READ_POS node=$QVAUDIO_NODE

normal() {
    awk -F '\t' -v OFS='\t' -v hw=$hwpos -v rd=$readpos -v set=$setreadpos -v node=$node '
        $3 == "fault" && $4 == node { next }
        {
            op = $3; path = $4; detail = $5; result = $6
            split(detail, req, " ")
            if (op == "open" && result >= 0) result = "fd"
            if (path == node && op == "ioctl" && (req[1] == hw || req[1] == rd) && result >= 0)
                result = "pos"
            if (path == node && op == "ioctl" && req[1] == set) detail = set " pos"
            if (path == node && op == "read") { detail = "n"; if (result >= 0) result = "n" }
            print op, path, detail, result
        }' "$1"
}

tmp=${TMPDIR:-/tmp}/same-trace.$$
trap 'rm -f "$tmp.a" "$tmp.b"' EXIT
normal "$1" > "$tmp.a" || exit 2
normal "$2" > "$tmp.b" || exit 2
a=$(wc -l < "$tmp.a")
b=$(wc -l < "$tmp.b")
n=$a
[ "$b" -lt "$n" ] && n=$b
if [ "$n" -lt "$lines" ]; then
    echo "same-trace: only $n lines, $lines wanted ($1: $a, $2: $b)"
    exit 1
fi
if [ "$mode" = differ ]; then
    a_line=$(sed -n "${lines}p" "$tmp.a")
    b_line=$(sed -n "${lines}p" "$tmp.b")
    head -n $((lines - 1)) "$tmp.a" > "$tmp.a1"
    head -n $((lines - 1)) "$tmp.b" > "$tmp.b1"
    if ! cmp -s "$tmp.a1" "$tmp.b1" || [ "$a_line" = "$b_line" ]; then
        echo "same-trace: line $lines should be the first to differ"
        rm -f "$tmp.a1" "$tmp.b1"
        exit 1
    fi
    rm -f "$tmp.a1" "$tmp.b1"
    echo "same-trace: line $lines differs as it should: $a_line | $b_line"
    exit 0
fi
[ "$mode" = first ] && n=$lines
awk -v n="$n" -v fa="$1" -v fb="$2" '
    NR == FNR { if (FNR <= n) want[FNR] = $0; next }
    FNR <= n && $0 != want[FNR] {
        printf "same-trace: line %d differs\n  %s: %s\n  %s: %s\n", FNR, fa, want[FNR], fb, $0
        bad = 1; exit
    }
    END { exit bad }' "$tmp.a" "$tmp.b" || exit 1
if [ "$mode" = all ] && [ "$a" -ne "$b" ]; then
    echo "same-trace: $1 has $a lines, $2 has $b"
    exit 1
fi
echo "same-trace: $n lines agree"
