"""Frame time and CPU time per frame of each ETC1 demo against barequads; see run.sh.

Usage: measure.py BUILD PREFIX OUT   (FRAMES, WARMUP, ROUNDS from the environment; needs DISPLAY)
"""
import os
import subprocess
import sys
import time

sys.dont_write_bytecode = True  # no __pycache__ in the source tree
sys.path.insert(0, os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
import benchjson  # noqa: E402

build, prefix, out = sys.argv[1], sys.argv[2], sys.argv[3]
FRAMES = int(os.environ.get("FRAMES", "400"))
WARMUP = int(os.environ.get("WARMUP", "30"))
ROUNDS = int(os.environ.get("ROUNDS", "6"))
DEMOS = ["lanterna", "veilglass", "tilemosaic"]
clock = os.path.join(build, "bench", "samples", "libframeclock.so")
bare = os.path.join(build, "bench", "samples", "barequads")
result = os.path.join(out, "frame.txt")


def timed(argv, folder):
    """(wall seconds, CPU seconds) of FRAMES frames after WARMUP, by the preloaded frame clock."""
    if os.path.exists(result):
        os.remove(result)
    env = dict(os.environ, LD_PRELOAD=clock, FRAMECLOCK_WARMUP=str(WARMUP), FRAMECLOCK_FRAMES=str(FRAMES),
               FRAMECLOCK_OUT=result)
    subprocess.run(argv, cwd=folder, env=env, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                   stderr=subprocess.DEVNULL)
    with open(result) as f:
        frames, wall, cpu = f.read().split()
    return float(wall), float(cpu)


def main():
    began = time.monotonic()
    renderer = subprocess.run("es2_info 2>/dev/null | sed -n 's/^GL_RENDERER: //p' | head -n 1", shell=True,
                              capture_output=True, text=True).stdout.strip()
    print("X server %s; renderer: %s; %d rounds of %d frames after %d, the demo and barequads alternating; "
          "load average %.1f" % (os.environ.get("DISPLAY"), renderer, ROUNDS, FRAMES, WARMUP, os.getloadavg()[0]))
    for demo in DEMOS:
        folder = os.path.join(prefix, "share", "board-bringup", "samples", demo)
        programs = [[os.path.join(prefix, "bin", demo)], [bare, demo, "assets"]]
        rounds = []
        for r in range(ROUNDS):
            got = [None, None]
            for i in ((0, 1) if r % 2 == 0 else (1, 0)):
                got[i] = timed(programs[i], folder)
            rounds.append(got)
        command = ("cd %s && LD_PRELOAD=%s FRAMECLOCK_WARMUP=%d FRAMECLOCK_FRAMES=%d FRAMECLOCK_OUT=frame.txt "
                   "%s/bin/%s  vs  the same with %s %s assets; %d rounds, alternating"
                   % (folder, clock, WARMUP, FRAMES, prefix, demo, bare, demo, ROUNDS))
        print("%s:" % demo)
        benchjson.figure("samples", demo + "_fps", [FRAMES / g[0][0] for g in rounds], "frames/s",
                         demo + " frame rate", command, digits=1)
        benchjson.figure("samples", demo + "_bare_fps", [FRAMES / g[1][0] for g in rounds], "frames/s",
                         "barequads frame rate", command, digits=1)
        benchjson.figure("samples", demo + "_cpu_ms_per_frame", [1000 * g[0][1] / FRAMES for g in rounds],
                         "ms CPU/frame", demo + " CPU per frame", command)
        benchjson.figure("samples", demo + "_bare_cpu_ms_per_frame", [1000 * g[1][1] / FRAMES for g in rounds],
                         "ms CPU/frame", "barequads CPU per frame", command)
        benchjson.figure("samples", demo + "_frame_time_ratio", [g[0][0] / g[1][0] for g in rounds], "ratio",
                         "ratio demo/bare, frame time", command)
        benchjson.figure("samples", demo + "_cpu_ratio", [g[0][1] / g[1][1] for g in rounds], "ratio",
                         "ratio demo/bare, CPU per frame", command)
    print("  command: cd <P>/share/board-bringup/samples/<demo> && LD_PRELOAD=%s FRAMECLOCK_WARMUP=%d "
          "FRAMECLOCK_FRAMES=%d FRAMECLOCK_OUT=frame.txt <P>/bin/<demo>, and the same with %s <demo> assets"
          % (clock, WARMUP, FRAMES, bare))
    print("took %.0f s; load average %.1f" % (time.monotonic() - began, os.getloadavg()[0]))


main()
