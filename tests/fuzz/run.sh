#!/bin/sh
# Runs every fuzz target of a fuzz build for a bounded time each, starting from its committed seed
# corpus; new inputs go to a scratch folder, so the committed seeds stay as they are. Prints the
# executions of each target. A crash leaves its input in the scratch folder and fails the run.
#   tests/fuzz/run.sh <fuzz build dir> [seconds per target]
set -u
BUILD=$(cd "$1" && pwd)
SECONDS_EACH=${2:-60}
SRC=$(cd "$(dirname "$0")/../.." && pwd)
SCRATCH=$BUILD/fuzz-runs
rm -rf "$SCRATCH" && mkdir -p "$SCRATCH"
status=0
run() {
    name=$1 binary=$2 corpus=$3
    mkdir -p "$SCRATCH/$name"
    log=$SCRATCH/$name.log
    # -timeout bounds one input; -rss_limit_mb keeps a runaway input from taking the machine.
    ( cd "$SCRATCH/$name" && "$binary" -max_total_time="$SECONDS_EACH" -timeout=10 -rss_limit_mb=1024 \
        -print_final_stats=1 "$SCRATCH/$name" "$corpus" ) >"$log" 2>&1
    rc=$?
    execs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n 1)
    printf '%-20s %10s executions in %ss   (%s -max_total_time=%s %s %s)\n' \
        "$name" "${execs:-?}" "$SECONDS_EACH" "$binary" "$SECONDS_EACH" "$SCRATCH/$name" "$corpus"
    if [ $rc -ne 0 ]; then
        echo "$name FOUND A FAULT (exit $rc); its log: $log"
        grep -E 'ERROR|SUMMARY|fuzz_|Test unit written' "$log" | head -n 20
        status=1
    fi
}
run fuzz_pkm          "$BUILD/demobase/fuzz_pkm"          "$SRC/tests/demobase/corpus"
run fuzz_sysfs_sleepm "$BUILD/tests/fuzz/fuzz_sysfs_sleepm" "$SRC/tests/usbpower/corpus_sysfs"
run fuzz_sysfs_iddq   "$BUILD/tests/fuzz/fuzz_sysfs_iddq"   "$SRC/tests/usbpower/corpus_sysfs"
run fuzz_configlist   "$BUILD/tests/fuzz/fuzz_configlist"   "$SRC/tests/configlist/corpus_walk"
run fuzz_boardconf    "$BUILD/tests/fuzz/fuzz_boardconf"    "$SRC/tests/boardsim/corpus_boardconf"
run fuzz_record       "$BUILD/boardsim/fuzz_record"         "$SRC/tests/boardsim/corpus_record"
run fuzz_bringup_files "$BUILD/bringupcheck/fuzz_bringup_files" "$SRC/tests/bringupcheck/corpus"
exit $status
