#!/usr/bin/env python3
"""pcmcapture's CPU cost per data rate against a reference reader, and the highest gapless rate.

Environment (from tools/run-bench.sh): BRINGUP_BUILD, BRINGUP_PREFIX, BRINGUP_OUT.
Every figure is printed with the commands that produced it.
"""
import os
import shutil
import subprocess
import threading

BUILD = os.environ["BRINGUP_BUILD"]
PREFIX = os.environ["BRINGUP_PREFIX"]
OUT = os.path.join(os.environ["BRINGUP_OUT"], "pcmcapture")
SIM = os.path.join(BUILD, "boardsim", "boardsim")
CAPTURE = os.path.join(PREFIX, "bin", "pcmcapture")
REFERENCE = os.path.join(BUILD, "bench", "pcmcapture", "pcmcapture_reference")
CHECK = os.path.join(BUILD, "bench", "pcmcapture", "pcmjudge")
CPU_RATES = [192000, 768000, 1536000]
RING = 65536
KEEP_UP = 0.97


def board(name, rate, ring):
    path = os.path.join(OUT, name)
    shutil.rmtree(path, ignore_errors=True)
    subprocess.run([SIM, "create", path + "/board", "audio.content=counter", "audio.rate=%d" % rate,
                    "audio.ring=%d" % ring], check=True, stdout=subprocess.DEVNULL)
    os.makedirs(path + "/run")
    return path


def timed(path, program, result):
    """Runs program on the board in path; stores user+sys seconds of the program."""
    with open(path + "/run/stdout.log", "wb") as log:
        p = subprocess.Popen([SIM, "run", path + "/board", "--", program], cwd=path + "/run", stdout=log)
        _, status, usage = os.wait4(p.pid, 0)
        p.returncode = os.waitstatus_to_exitcode(status)
    result["cpu"] = usage.ru_utime + usage.ru_stime
    result["status"] = p.returncode


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
    return ("%s create %s/board audio.content=counter audio.rate=R audio.ring=%d && cd %s/run && "
            "%s run ../board -- %s" % (SIM, path, ring, path, SIM, program))


def capture_at(rate, with_reference, ring=RING):
    cap = board("capture-%d" % rate, rate, ring)
    got = {}
    threads = [threading.Thread(target=timed, args=(cap, CAPTURE, got))]
    ref_got = {}
    if with_reference:
        ref = board("reference-%d" % rate, rate, ring)
        threads.append(threading.Thread(target=timed, args=(ref, REFERENCE, ref_got)))
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    blocks, gapless = check(cap, rate)
    return got.get("cpu", 0.0), ref_got.get("cpu", 0.0), blocks, gapless


def main():
    os.makedirs(OUT, exist_ok=True)
    print("CPU time (user + sys) of one 10 s capture, counter content, %d-byte ring; the reference "
          "reader runs side by side on a board of its own; load average %.1f" % (RING, os.getloadavg()[0]))
    for rate in CPU_RATES:
        cpu, ref, blocks, gapless = capture_at(rate, True)
        ratio = cpu / ref if ref > 0 else float("inf")
        print("  %8d bytes/s: pcmcapture %.3f s, reference %.3f s, ratio %.2f; %d blocks, %s"
              % (rate, cpu, ref, ratio, blocks, "gapless" if gapless else "NOT gapless"))
    print("  command: %s  (time: wait4 rusage of the program; R the rate)"
          % command(os.path.join(OUT, "capture-R"), CAPTURE))
    print("  reference: %s" % command(os.path.join(OUT, "reference-R"), REFERENCE))

    # Highest rate at which a 10 s capture is gapless, by bisection: with the default ring, where a
    # busy machine holding the capture thread up for longer than the ring lasts loses data, and with
    # a ring of 4 MiB, where only the reader's pace (at most 19200 bytes per read) sets the limit.
    for ring in (RING, 4 << 20):
        lo, hi = 1536000, 4096000
        if not capture_at(lo, False, ring)[3]:
            lo, hi = 0, lo
        for _ in range(4):
            mid = (lo + hi) // 2 // 4 * 4
            if capture_at(mid, False, ring)[3]:
                lo = mid
            else:
                hi = mid
        print("highest gapless rate found with a %d-byte ring: %d bytes/s (at %d bytes/s it was not); "
              "load average %.1f" % (ring, lo, hi, os.getloadavg()[0]))
        print("  command: %s, at each rate R of the bisection; gapless: pcmjudge "
              "output.pcm --log stdout.log --content counter finds every block intact and 0 gaps, the board's "
              "trace.log has no overrun, and output.pcm holds at least %d%% of the 10 s played" % (command(os.path.join(OUT, "capture-R"), CAPTURE, ring), int(KEEP_UP * 100)))


if __name__ == "__main__":
    main()
