#!/bin/sh
# Runs every fuzz target of a fuzz build for a bounded time each, starting from its committed seed
# corpus; new inputs go to a scratch folder, so the committed seeds stay as they are. Prints the
# executions of each target. A crash leaves its input in the scratch folder and fails the run.
# Targets run FUZZ_JOBS at a time (default: one for each processor); each has its seconds whole.
#   tests/fuzz/run.sh <fuzz build dir> [seconds per target]
set -u
BUILD=$(cd "$1" && pwd)
SECONDS_EACH=${2:-60}
SCRATCH=$BUILD/fuzz-runs
JOBS=${FUZZ_JOBS:-$(nproc)}
rm -rf "$SCRATCH" && mkdir -p "$SCRATCH"
# Runs one target; what it says goes to <name>.said, and <name>.fault marks a fault found.
run() {
    name=$1 binary=$2 corpus=$3
    mkdir -p "$SCRATCH/$name"
    log=$SCRATCH/$name.log
    # -timeout bounds one input; -rss_limit_mb keeps a runaway input from taking the machine.
    ( cd "$SCRATCH/$name" && "$binary" -max_total_time="$SECONDS_EACH" -timeout=10 -rss_limit_mb=1024 \
        -print_final_stats=1 "$SCRATCH/$name" "$corpus" ) </dev/null >"$log" 2>&1
    rc=$?
    execs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n 1)
    printf '%-20s %10s executions in %ss   (%s -max_total_time=%s %s %s)\n' \
        "$name" "${execs:-?}" "$SECONDS_EACH" "$binary" "$SECONDS_EACH" "$SCRATCH/$name" "$corpus"
    if [ $rc -ne 0 ]; then
        echo "$name FOUND A FAULT (exit $rc); its log: $log"
        grep -E 'ERROR|SUMMARY|fuzz_|Test unit written' "$log" | head -n 20
        : >"$SCRATCH/$name.fault"
    fi
}
# One line per target, written by the build: name, binary and seed corpus, separated by tabs.
tab=$(printf '\t')
names="" running=0
while IFS=$tab read -r name binary corpus; do
    run "$name" "$binary" "$corpus" >"$SCRATCH/$name.said" 2>&1 &
    names="$names $name" running=$((running + 1))
    if [ "$running" -ge "$JOBS" ]; then wait; running=0; fi
done <"$BUILD/tests/fuzz/targets.txt"
wait
# In the targets' order, whatever order they ended in.
status=0
for name in $names; do
    cat "$SCRATCH/$name.said"
    [ ! -e "$SCRATCH/$name.fault" ] || status=1
done
exit $status
