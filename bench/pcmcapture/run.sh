#!/bin/sh
# pcmcapture benchmarks: CPU cost per data rate against a reference reader, and the highest rate at
# which a capture stays gapless. Figures and the commands that produced them go to standard output.
set -e
exec python3 "$(dirname "$0")/measure.py"
