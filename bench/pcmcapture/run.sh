#!/bin/sh
# pcmcapture benchmarks: CPU cost per data rate against a reference reader (ROUNDS rounds of
# PAIRS captures by each at the same time; on a quiet 2-core machine the ratios' lowest and highest
# lie within about -5% and +4% of their median, each program's own CPU time within about +-15%), and the highest rate at which a capture stays gapless. Figures, their spread and the
# commands that produced them go to standard output; it takes about 2.5 minutes (measure.py says
# more).
# Usage: bench/pcmcapture/run.sh    (tools/run-bench.sh sets BRINGUP_BUILD, BRINGUP_PREFIX, BRINGUP_OUT)
#        ... ROUNDS=2 PAIRS=1 sh bench/pcmcapture/run.sh
set -e
exec python3 "$(dirname "$0")/measure.py"
