#!/bin/sh
# Frame rate and CPU time per frame of each ETC1 demo against barequads, a bare OpenGL ES 2.0
# program drawing the same scene with the same textures, filtering, shaders and GL state, measured
# alternately in the same run on the same X server. Both are timed by the same preloaded clock
# (frameclock.cpp): FRAMES frames after WARMUP, ROUNDS rounds each, medians compared.
# Usage: bench/samples/run.sh   (tools/run-bench.sh sets BRINGUP_BUILD, BRINGUP_PREFIX, BRINGUP_OUT)
set -e
build=${BRINGUP_BUILD:-build/dev} prefix=${BRINGUP_PREFIX:-build/dev/installed} out=${BRINGUP_OUT:-out/bench}
frames=${FRAMES:-300} warmup=${WARMUP:-30} rounds=${ROUNDS:-5}
here=$(cd "$(dirname "$0")/../.." && pwd)
clock="$build/bench/samples/libframeclock.so"
bare="$build/bench/samples/barequads"
mkdir -p "$out"

[ -n "$DISPLAY" ] || exec "$here/tests/xvfb/with-display.sh" "$out/samples.xvfb" sh "$0" "$@"
echo "X server $DISPLAY; renderer: $(es2_info 2>/dev/null | sed -n 's/^GL_RENDERER: //p' | head -n 1)"

# timed <result-file> <command...>: one run of FRAMES frames, appended to the result file.
timed() {
    result=$1; shift
    LD_PRELOAD="$clock" FRAMECLOCK_WARMUP=$warmup FRAMECLOCK_FRAMES=$frames FRAMECLOCK_OUT="$out/frame.txt" "$@" \
        >/dev/null 2>&1 </dev/null
    cat "$out/frame.txt" >>"$result"
}

# median <file> <column>: the median of a column (2 wall seconds, 3 CPU seconds).
median() {
    sort -n -k"$2" "$1" | awk -v c="$2" '{ v[NR] = $c } END { print v[int((NR + 1) / 2)] }'
}

for demo in lanterna veilglass tilemosaic; do
    folder="$prefix/share/board-bringup/samples/$demo"
    rm -f "$out/$demo.demo" "$out/$demo.bare"
    i=0
    while [ $i -lt "$rounds" ]; do
        (cd "$folder" && timed "$out/$demo.demo" "$prefix/bin/$demo")
        (cd "$folder" && timed "$out/$demo.bare" "$bare" "$demo" assets)
        i=$((i + 1))
    done
    dw=$(median "$out/$demo.demo" 2) dc=$(median "$out/$demo.demo" 3)
    bw=$(median "$out/$demo.bare" 2) bc=$(median "$out/$demo.bare" 3)
    awk -v d="$demo" -v f="$frames" -v dw="$dw" -v dc="$dc" -v bw="$bw" -v bc="$bc" 'BEGIN {
        printf "%-10s demo %7.1f fps %6.3f ms CPU/frame | bare %7.1f fps %6.3f ms CPU/frame | ratio demo/bare: frame time %.3f, CPU %.3f\n",
            d, f / dw, 1000 * dc / f, f / bw, 1000 * bc / f, dw / bw, dc / bc }'
done
echo "command: cd <P>/share/board-bringup/samples/<demo> && LD_PRELOAD=$clock FRAMECLOCK_WARMUP=$warmup FRAMECLOCK_FRAMES=$frames FRAMECLOCK_OUT=frame.txt <P>/bin/<demo>"
echo "         and the same with $bare <demo> assets; $rounds rounds alternating, medians (bench/samples/run.sh)"
