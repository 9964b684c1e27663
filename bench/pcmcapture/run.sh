#!/bin/sh
# pcmcapture benchmarks: CPU cost per data rate against a reference reader (ROUNDS rounds of
# PAIRS captures by each at the same time; on a quiet 2-core machine the ratios' medians agree
# within 2% from run to run, while a round's ratio lies within about -6% and +6% of the median, now
# and then +15%; each program's own CPU time moves by about +-15%), and the highest rate at which a capture stays gapless. Figures, their spread and the
# commands that produced them go to standard output; it takes about 2.5 minutes (measure.py says
# more).
# Usage: bench/pcmcapture/run.sh    (tools/run-bench.sh sets BRINGUP_BUILD, BRINGUP_PREFIX, BRINGUP_OUT)
#        ... ROUNDS=2 PAIRS=1 sh bench/pcmcapture/run.sh
set -e
exec python3 "$(dirname "$0")/measure.py"
