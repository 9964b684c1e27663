#!/bin/sh
# pcmcapture on a default simulated board: ten seconds of a 48 kHz stereo 16-bit tone
# (192000 bytes/s) from a 64 KiB ring, then what "output.pcm" holds and its spectrogram.
# Uses BRINGUP_BUILD, BRINGUP_PREFIX and BRINGUP_OUT from tools/run-suite.sh.
set -e
tools=$(cd "$(dirname "$0")/.." && pwd)
sim="$BRINGUP_BUILD/boardsim/boardsim"
out="$BRINGUP_OUT/pcmcapture"
rm -rf "$out" && mkdir -p "$out/run"

"$sim" create "$out/board" >/dev/null
rate=$(sed -n 's/^audio.rate *= *//p' "$out/board/board.conf" | tail -n 1)
echo "board $out/board: $(grep '^audio\.' "$out/board/board.conf" | tr '\n' ' ')"

echo "\$ cd $out/run && boardsim run ../board -- $BRINGUP_PREFIX/bin/pcmcapture"
cd "$out/run"
status=0
"$sim" run "$out/board" -- "$BRINGUP_PREFIX/bin/pcmcapture" >pcmcapture.log || status=$?
# The debug line of every block is in pcmcapture.log; show the others and a count.
grep -v '^D/' pcmcapture.log || true
echo "($(grep -c '^D/' pcmcapture.log || true) debug lines \"D/qvAudio_Test: write <address> <length> to file\" in $out/run/pcmcapture.log)"
echo "exit status $status"

python3 "$tools/pcmcheck.py" output.pcm --log pcmcapture.log --content tone --rate "$rate" || true
if [ "$(grep -c 'overrun' "$out/board/trace.log" || true)" != 0 ]; then
    echo "the driver's ring overran: the machine held the capture thread up for longer than the ring lasts"
fi
if command -v sox >/dev/null 2>&1; then
    sox -t raw -r $((rate / 4)) -e signed-integer -b 16 -c 2 output.pcm -n \
        spectrogram -t "pcmcapture output.pcm" -o "$out/spectrogram.png"
    echo "spectrogram: $out/spectrogram.png"
else
    echo "sox is not installed: no spectrogram"
fi
