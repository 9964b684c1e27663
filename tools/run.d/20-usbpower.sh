#!/bin/sh
# USB port power: otgpower on a simulated board with both ports idle; a device is attached to
# port 1 and detached again while it runs. The ports' power timeline is taken from the board's
# trace, summarised in text and drawn as a picture.
set -e
: "${BRINGUP_BUILD:?}" "${BRINGUP_PREFIX:?}" "${BRINGUP_OUT:?}"
sim="$BRINGUP_BUILD/boardsim/boardsim"
out="$BRINGUP_OUT/usbpower"
board="$out/board"
rm -rf "$out" && mkdir -p "$out"
eval "$("$sim" protocol)"
now() { date +%s.%N; }

"$sim" create "$board" >/dev/null
echo "-- board: controller 2.94a, ports lm0 and lm1 (host role), nothing attached"
echo "-- $sim run $board -- $BRINGUP_PREFIX/bin/otgpower"
"$sim" run "$board" -- "$BRINGUP_PREFIX/bin/otgpower" >"$out/otgpower.out" 2>&1 &
daemon=$!
start=$(now)
sleep 3.2
"$sim" attach "$board" 1
attached=$(now)
sleep 4
"$sim" detach "$board" 1
detached=$(now)
sleep 3.2
kill "$daemon"
wait "$daemon" 2>/dev/null || true
stop=$(now)

# Power changes as the kernel model sees them: a peri_sleepm file closed after "0" (on) or "1" (off).
awk -F'\t' -v t0="$start" -v digit="$((OTG_PORT_DIGIT_INDEX + 1))" -v attr="/$OTG_ATTR_SLEEPM" \
    -v on="$OTG_PHY_POWERED" -v off="$OTG_PHY_UNPOWERED" '
    $3 == "open" && $5 == "w" && $6 >= 0 { open_w[$4] = 1; bytes[$4] = "" }
    $3 == "write" && open_w[$4] { d = $5; gsub(/"/, "", d); bytes[$4] = bytes[$4] d }
    $3 == "close" && open_w[$4] {
        tail = substr($4, length($4) - length(attr) + 1)
        if (tail == attr && (bytes[$4] == on || bytes[$4] == off))
            printf "%.3f %s %d\n", $1 - t0, substr($4, digit, 1), bytes[$4] == on
        open_w[$4] = 0
    }' "$board/trace.log" >"$out/timeline.dat"

end=$(echo "$stop $start" | awk '{ printf "%.3f", $1 - $2 }')
at=$(echo "$attached $start" | awk '{ printf "%.3f", $1 - $2 }')
dt=$(echo "$detached $start" | awk '{ printf "%.3f", $1 - $2 }')
echo "   device attached to port 1 at ${at} s, detached at ${dt} s, otgpower stopped at ${end} s"
echo "   otgpower printed: $(wc -l <"$out/otgpower.out") lines"
# Both ports start powered; summarise each port's powered time and its power-ons.
awk -v end="$end" '
    BEGIN { for (p = 0; p < 2; p++) { state[p] = 1; since[p] = 0; on_time[p] = 0; ons[p] = 0 } }
    {
        t = $1; p = $2; s = $3
        if (state[p]) on_time[p] += t - since[p]
        if (s && !state[p]) ons[p]++
        line[p] = line[p] sprintf(" %s@%.2f", s ? "on" : "off", t)
        state[p] = s; since[p] = t
    }
    END {
        for (p = 0; p < 2; p++) {
            if (state[p]) on_time[p] += end - since[p]
            printf "   port %d: %d power-ons, powered %.1f s of %.1f s (%.0f%%)\n", p, ons[p], on_time[p], end, 100 * on_time[p] / end
            printf "          changes:%s\n", line[p]
        }
    }' "$out/timeline.dat"

if command -v gnuplot >/dev/null; then
    # One step line per port (port 1 drawn above port 0), the attach and detach as vertical lines.
    awk -v end="$end" '
        BEGIN { for (p = 0; p < 2; p++) printf "0 %d\n", 1 + 2 * p >"'"$out"'/port" p ".dat" }
        { printf "%s %d\n", $1, $3 + 2 * $2 >"'"$out"'/port" $2 ".dat" }
' "$out/timeline.dat"
    for p in 0 1; do
        last=$(tail -n 1 "$out/port$p.dat" | cut -d' ' -f2)
        echo "$end $last" >>"$out/port$p.dat"
    done
    gnuplot <<PLOT
set terminal png size 900,360
set output "$out/usb-power.png"
set title "otgpower on the simulated board: USB port power (device on port 1 from ${at} s to ${dt} s)"
set xlabel "seconds"
set key outside right
set ytics ("port 0 off" 0, "port 0 on" 1, "port 1 off" 2, "port 1 on" 3)
set yrange [-0.5:3.5]
set xrange [0:$end]
set arrow from $at, graph 0 to $at, graph 1 nohead dashtype 2 lc rgb "dark-green"
set arrow from $dt, graph 0 to $dt, graph 1 nohead dashtype 2 lc rgb "dark-red"
plot "$out/port0.dat" using 1:2 with steps lw 2 title "port 0", \
     "$out/port1.dat" using 1:2 with steps lw 2 title "port 1"
PLOT
    echo "   picture: $out/usb-power.png"
fi
echo "   trace: $board/trace.log ($(wc -l <"$board/trace.log") lines)"
