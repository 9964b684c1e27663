#!/bin/sh
# Frame rate and CPU time per frame of each ETC1 demo against barequads, a bare OpenGL ES 2.0
# program drawing the same scene with the same textures, filtering, shaders and GL state, on the
# same X server (the caller's, or a private Xvfb). Both are timed by the same preloaded clock
# (frameclock.cpp): FRAMES frames (default 400) after WARMUP (30), ROUNDS rounds (6), the demo and
# barequads alternating within each round (which goes first alternating from round to round); a
# round's ratio is the demo's time over barequads'. On a quiet 2-core machine with llvmpipe and
# Xvfb a round's ratio still moves by 5 to 30% (the X server's copies and the renderer's threads
# share the two cores; one renderer thread, LP_NUM_THREADS=1, is no steadier), so only the median
# of many rounds, or a difference larger than the printed spread, says anything; it takes about 3
# minutes.
# Usage: bench/samples/run.sh   (tools/run-bench.sh sets BRINGUP_BUILD, BRINGUP_PREFIX, BRINGUP_OUT)
set -e
build=${BRINGUP_BUILD:-build/dev} prefix=${BRINGUP_PREFIX:-build/dev/installed} out=${BRINGUP_OUT:-out/bench}
here=$(cd "$(dirname "$0")" && pwd)
mkdir -p "$out"
exec "$here/../../tests/xvfb/with-display.sh" "$out/samples.xvfb" python3 "$here/measure.py" "$build" "$prefix" "$out"
