#!/usr/bin/env python3
"""Says what a capture of pcmcapture holds and checks it against the simulated board's stream.

Usage: pcmcheck.py OUTPUT_PCM [--log STDOUT] [--content tone|counter] [--rate BYTES_PER_S]
                   [--tone-hz HZ]

The block lengths come from pcmcapture's debug lines (--log), else the file is taken as 9600-byte
halves. Every block must be an intact slice of the driver's stream (the counter pattern, or the
tone's 16-bit stereo sine, checked to within its period), and the number of places where a block
does not continue where the one before ended is reported. Exit status 0 when every block is intact,
1 when not, 2 on a usage error.
"""
import argparse
import math
import re
import struct
import sys

HALF = 9600
WHOLE = 19200
AMPLITUDE = 12000.0  # the board's tone: lrint(12000 * sin(2 pi phase))


def block_lengths(log_path, size):
    if not log_path:
        return [HALF] * (size // HALF)
    lengths = []
    with open(log_path, encoding="ascii", errors="replace") as log:
        for line in log:
            m = re.match(r"D/qvAudio_Test: write [0-9a-f]+ ([0-9a-f]+) to file$", line.rstrip("\n"))
            if m:
                lengths.append(int(m.group(1), 16))
    return lengths


def counter_start(data):
    """Stream offset of a run of counter bytes, or None."""
    if len(data) < 8:
        return None
    for k in range(4):
        (w,) = struct.unpack_from("<I", data, k)
        start = w * 4 - k
        if start < 0:
            continue
        first = start // 4
        count = (len(data) + (start % 4) + 3) // 4 + 1
        words = struct.pack("<%dI" % count, *[(first + i) & 0xFFFFFFFF for i in range(count)])
        skip = start % 4
        if words[skip:skip + len(data)] == data:
            return start
    return None


class Tone:
    def __init__(self, rate, hz):
        fs = rate // 4
        self.fs, self.hz = fs, hz
        self.period = fs // math.gcd(fs, hz) if fs and hz else 1
        self.table = [self.sample(f) for f in range(self.period)]

    def sample(self, frame):
        phase = math.fmod(frame * self.hz / self.fs, 1.0)
        return int(round(AMPLITUDE * math.sin(2.0 * math.pi * phase)))

    def start(self, data):
        """Frame offset (modulo the period) of a run of tone frames, or None."""
        n = len(data) // 4
        if n == 0 or len(data) % 4:
            return None
        samples = struct.unpack("<%dh" % (2 * n), data)
        probe = min(n, 16)
        for p in range(self.period):
            if all(abs(self.table[(p + i) % self.period] - samples[2 * i]) <= 1 for i in range(probe)):
                if all(abs(self.table[(p + i) % self.period] - samples[2 * i]) <= 1 and
                       samples[2 * i] == samples[2 * i + 1] for i in range(n)):
                    return p
        return None


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("pcm")
    ap.add_argument("--log")
    ap.add_argument("--content", choices=["tone", "counter"], default="tone")
    ap.add_argument("--rate", type=int, default=192000)
    ap.add_argument("--tone-hz", type=int, default=440)
    args = ap.parse_args()

    with open(args.pcm, "rb") as f:
        data = f.read()
    lengths = block_lengths(args.log, len(data))
    halves = sum(1 for n in lengths if n == HALF)
    wholes = sum(1 for n in lengths if n == WHOLE)
    seconds = len(data) / args.rate if args.rate else 0.0
    print("%s: %d blocks (%d of %d bytes, %d of %d), %d bytes, %.3f s of audio at %d bytes/s"
          % (args.pcm, len(lengths), halves, HALF, wholes, WHOLE, len(data), seconds, args.rate))
    if sum(lengths) != len(data):
        print("the blocks add up to %d bytes, not the file's %d" % (sum(lengths), len(data)))
        return 1
    if len(data) % HALF:
        print("the file is not a whole number of %d-byte halves" % HALF)
        return 1

    tone = Tone(args.rate, args.tone_hz) if args.content == "tone" else None
    at, expected, gaps, broken = 0, None, 0, 0
    for i, n in enumerate(lengths):
        block = data[at:at + n]
        if tone:
            start = tone.start(block)
            following = (start + n // 4) % tone.period if start is not None else None
        else:
            start = counter_start(block)
            following = start + n if start is not None else None
        if start is None:
            broken += 1
            print("block %d at byte %d is not a slice of the stream" % (i, at))
        elif expected is not None and start != expected:
            gaps += 1
        expected = following
        at += n
    what = ("tone of %d Hz, continuity checked to within its period of %d frames"
            % (args.tone_hz, tone.period) if tone else "counter pattern")
    print("content: %s; %d of %d blocks intact; %d gaps between blocks"
          % (what, len(lengths) - broken, len(lengths), gaps))
    return 1 if broken else 0


if __name__ == "__main__":
    sys.exit(main())
