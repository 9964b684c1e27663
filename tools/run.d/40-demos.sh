#!/bin/sh
# The three ETC1 demos, each started from its installed folder in a 640x480 window on an X server
# (the user's DISPLAY, or a private Xvfb), pictured, then closed as a window manager closes it.
# Then a GPU without ETC1, which each demo refuses with exit status 1.
set -e
prefix="$BRINGUP_PREFIX" out="$BRINGUP_OUT" build="$BRINGUP_BUILD"
here=$(cd "$(dirname "$0")/../.." && pwd)
demoshot="$build/tests/samples/demoshot"

[ -n "$DISPLAY" ] || exec "$here/tests/xvfb/with-display.sh" "$out/demos.xvfb" sh "$0" "$@"

for demo in lanterna veilglass tilemosaic; do
    folder="$prefix/share/board-bringup/samples/$demo"
    (cd "$folder" && exec "$prefix/bin/$demo") >"$out/$demo.out" 2>"$out/$demo.err" &
    pid=$!
    if [ -x "$demoshot" ]; then
        "$demoshot" "$demo" "$out/$demo.ppm" 1
        shot="$out/$demo.ppm"
        if command -v convert >/dev/null && convert "$out/$demo.ppm" "$out/$demo.png" 2>/dev/null; then
            rm -f "$out/$demo.ppm"
            shot="$out/$demo.png"
        fi
        status=0
        wait $pid || status=$?
        echo "$demo: ran from $folder; picture of its window: $shot; closed by the window manager's request: exit status $status"
    else
        # Without the test tools (a build without tests) the demo is shown for two seconds.
        sleep 2
        kill $pid 2>/dev/null || true
        wait $pid 2>/dev/null || true
        echo "$demo: ran from $folder for two seconds (build with tests for its picture and a proper close)"
    fi
done

for demo in lanterna veilglass tilemosaic; do
    status=0
    (cd "$prefix/share/board-bringup/samples/$demo" &&
        MESA_EXTENSION_OVERRIDE=-GL_OES_compressed_ETC1_RGB8_texture exec "$prefix/bin/$demo") \
        >"$out/$demo-noetc1.out" 2>"$out/$demo-noetc1.err" || status=$?
    echo "$demo on a GPU without ETC1: standard output \"$(cat "$out/$demo-noetc1.out")\", exit status $status"
done
