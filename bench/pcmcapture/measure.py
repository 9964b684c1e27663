#!/usr/bin/env python3
"""pcmcapture's CPU cost per data rate against a reference reader, and the highest gapless rate.

CPU: ROUNDS rounds (default 8) of one 10 s capture period each. In a round, at each of the three
rates, PAIRS captures by pcmcapture and PAIRS by the reference reader (default 2 each) run at the
same time, each on a board of its own, started in turn (pcmcapture first in odd rounds, the
reference first in even ones), so that whatever else the machine does in that period hits both;
all of them together use less than a third of one core. A round's ratio is pcmcapture's CPU time
(user + system, wait4) over the reference's, summed over the pairs. On a quiet 2-core machine the
ratios' spread is within about +-3% (see the figures' lowest and highest); the CPU part takes
about ROUNDS x 11 s.

Highest gapless rate: a bisection of 10 s captures with a 64 KiB ring and with a 4 MiB one (the
two bisections run at the same time), about 60 s; each is one round.

Environment (from tools/run-bench.sh): BRINGUP_BUILD, BRINGUP_PREFIX, BRINGUP_OUT; ROUNDS, PAIRS.
Every figure is printed with its spread and the commands that produced it.
"""
import os
import shutil
import subprocess
import sys
import threading
import time

sys.dont_write_bytecode = True  # no __pycache__ in the source tree
sys.path.insert(0, os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
import benchjson  # noqa: E402

BUILD = os.environ["BRINGUP_BUILD"]
PREFIX = os.environ["BRINGUP_PREFIX"]
OUT = os.path.join(os.environ["BRINGUP_OUT"], "pcmcapture")
SIM = os.path.join(BUILD, "boardsim", "boardsim")
CAPTURE = os.path.join(PREFIX, "bin", "pcmcapture")
REFERENCE = os.path.join(BUILD, "bench", "pcmcapture", "pcmcapture_reference")
CHECK = os.path.join(BUILD, "judge", "pcmjudge")
CPU_RATES = [192000, 768000, 1536000]
RING = 65536
KEEP_UP = 0.97
ROUNDS = int(os.environ.get("ROUNDS", "8"))
PAIRS = int(os.environ.get("PAIRS", "2"))


def board(name, rate, ring):
    path = os.path.join(OUT, name)
    shutil.rmtree(path, ignore_errors=True)
    subprocess.run([SIM, "create", path + "/board", "audio.content=counter", "audio.rate=%d" % rate,
                    "audio.ring=%d" % ring], check=True, stdout=subprocess.DEVNULL)
    os.makedirs(path + "/run")
    return path


def start(path, program):
    """Starts program on the board in path; returns the child and its log file."""
    log = open(path + "/run/stdout.log", "wb")
    return subprocess.Popen([SIM, "run", path + "/board", "--", program], cwd=path + "/run", stdout=log), log


def cpu_of(started):
    """Waits for a started program; its user + system seconds."""
    child, log = started
    _, _, usage = os.wait4(child.pid, 0)
    child.returncode = 0
    log.close()
    return usage.ru_utime + usage.ru_stime


def check(path, rate):
    """(blocks, gapless) of the capture in path."""
    r = subprocess.run([CHECK, path + "/run/output.pcm", "--log", path + "/run/stdout.log", "--trace",
                        path + "/board/trace.log", "--content", "counter", "--rate", str(rate)],
                       capture_output=True, text=True)
    lines = r.stdout.splitlines()
    blocks = int(lines[0].split(": ")[1].split()[0]) if lines else 0
    with open(path + "/board/trace.log") as t:
        overrun = "\toverrun " in t.read()
    # Keeping up: the file holds nearly all of the 10 s played (a reader that falls behind but is
    # not yet lapped loses nothing within the run, yet could not go on).
    size = os.path.getsize(path + "/run/output.pcm")
    kept_up = size >= KEEP_UP * rate * 10
    gapless = "; 0 gaps" in r.stdout and "not an intact slice" not in r.stdout and not overrun and kept_up
    return blocks, gapless


def command(path, program, ring=RING):
    return ("%s create %s/board audio.content=counter audio.rate=R audio.ring=%s && cd %s/run && "
            "%s run ../board -- %s" % (SIM, path, ring, path, SIM, program))


def cpu_round(number):
    """One round at every rate: {rate: (pcmcapture seconds, reference seconds, captures, gapless)}."""
    order = [(CAPTURE, "capture"), (REFERENCE, "reference")]
    if number % 2 == 1:
        order.reverse()
    # Every board is made before the first program starts, so that they all start together.
    boards = [(rate, kind, program, board("%s-%d-%d" % (kind, rate, pair), rate, RING))
              for rate in CPU_RATES for pair in range(PAIRS) for program, kind in order]
    running = [(rate, kind, path, start(path, program)) for rate, kind, program, path in boards]
    got = {rate: [0.0, 0.0, 0, 0] for rate in CPU_RATES}
    for rate, kind, path, started in running:
        got[rate][0 if kind == "capture" else 1] += cpu_of(started)
    for rate, kind, path, _ in running:
        if kind == "capture":
            got[rate][2] += 1
            got[rate][3] += check(path, rate)[1]
    return got


def capture_at(rate, ring):
    """Whether a 10 s capture at rate with ring is gapless."""
    path = board("bisect-%d" % ring, rate, ring)
    cpu_of(start(path, CAPTURE))
    return check(path, rate)[1]


def bisect(ring, found):
    """Highest rate at which a 10 s capture is gapless, to 1/16 of the searched range: found[ring] =
    (last gapless rate, first rate that was not)."""
    lo, hi = 1536000, 4096000
    if not capture_at(lo, ring):
        lo, hi = 0, lo
    for _ in range(4):
        mid = (lo + hi) // 2 // 4 * 4
        if capture_at(mid, ring):
            lo = mid
        else:
            hi = mid
    found[ring] = (lo, hi)


def main():
    began = time.monotonic()
    os.makedirs(OUT, exist_ok=True)
    print("CPU time (user + sys) of 10 s captures, counter content, %d-byte ring: %d rounds, each with %d "
          "pcmcapture and %d reference captures at the same time at each rate; load average %.1f"
          % (RING, ROUNDS, PAIRS, PAIRS, os.getloadavg()[0]))
    rounds = [cpu_round(n) for n in range(ROUNDS)]
    cmd = "%s  vs  %s  (%d of each at once, CPU: wait4 rusage of each program, summed; R the rate)" % (
        command(os.path.join(OUT, "capture-R-N"), CAPTURE), command(os.path.join(OUT, "reference-R-N"), REFERENCE),
        PAIRS)
    for rate in CPU_RATES:
        mine = [1000 * r[rate][0] / PAIRS for r in rounds]
        ref = [1000 * r[rate][1] / PAIRS for r in rounds]
        ratio = [r[rate][0] / r[rate][1] for r in rounds if r[rate][1] > 0]
        captures = sum(r[rate][2] for r in rounds)
        gapless = sum(r[rate][3] for r in rounds)
        print("  at %d bytes/s (%d of %d captures gapless)" % (rate, gapless, captures))
        benchjson.figure("pcmcapture", "cpu_ms_%d" % rate, mine, "ms per 10 s capture",
                         "pcmcapture CPU", cmd, digits=1)
        benchjson.figure("pcmcapture", "reference_cpu_ms_%d" % rate, ref, "ms per 10 s capture",
                         "reference reader CPU", cmd, digits=1)
        benchjson.figure("pcmcapture", "cpu_ratio_%d" % rate, ratio, "ratio",
                         "ratio pcmcapture/reference", cmd)
    print("  command: %s" % cmd)
    print("  (the CPU part took %.0f s; load average %.1f)" % (time.monotonic() - began, os.getloadavg()[0]))

    # Highest rate at which a 10 s capture is gapless, by bisection: with the default ring, where a
    # busy machine holding the capture thread up for longer than the ring lasts loses data, and with
    # a ring of 4 MiB, where only the reader's pace (at most 19200 bytes per read) sets the limit.
    found = {}
    searches = [threading.Thread(target=bisect, args=(ring, found)) for ring in (RING, 4 << 20)]
    for s in searches:
        s.start()
    for s in searches:
        s.join()
    for ring in (RING, 4 << 20):
        lo, hi = found[ring]
        cmd = ("%s, at each rate R of the bisection; gapless: pcmjudge output.pcm --log stdout.log --content "
               "counter finds every block intact and 0 gaps, the board's trace.log has no overrun, and output.pcm "
               "holds at least %d%% of the 10 s played" % (command(os.path.join(OUT, "bisect-%d" % ring), CAPTURE, ring),
                                                           int(KEEP_UP * 100)))
        benchjson.figure("pcmcapture", "highest_gapless_rate_ring_%d" % ring, [lo], "bytes/s",
                         "highest gapless rate, %d-byte ring" % ring, cmd, digits=0)
        print("    (at %d bytes/s it was not)" % hi)
    print("  command: %s" % command(os.path.join(OUT, "bisect-<ring>"), CAPTURE, "<ring>"))
    print("  gapless: pcmjudge output.pcm --log stdout.log --content counter finds every block intact and 0 gaps, "
          "the board's trace.log has no overrun, and output.pcm holds at least %d%% of the 10 s played"
          % int(KEEP_UP * 100))
    print("took %.0f s; load average %.1f" % (time.monotonic() - began, os.getloadavg()[0]))


if __name__ == "__main__":
    main()
