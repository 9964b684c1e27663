"""configlist's run time against the system's eglinfo; see run.sh.

Usage: measure.py PREFIX   (ROUNDS, RUNS from the environment)
"""
import os
import shutil
import subprocess
import sys
import time

sys.dont_write_bytecode = True  # no __pycache__ in the source tree
sys.path.insert(0, os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
import benchjson  # noqa: E402

prefix = sys.argv[1]
ROUNDS = int(os.environ.get("ROUNDS", "12"))
RUNS = int(os.environ.get("RUNS", "24"))
lister = os.path.join(prefix, "bin", "configlist")


def timed(argv, env):
    """(wall seconds, user + system seconds) of one run, output discarded."""
    began = time.perf_counter()
    child = subprocess.Popen(argv, env=env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    _, _, ru = os.wait4(child.pid, 0)
    wall = time.perf_counter() - began
    child.returncode = 0
    return wall, ru.ru_utime + ru.ru_stime


def compare(platform, display):
    """RUNS runs of each program a round, alternating one by one (the first program alternating
    from round to round); prints and records the figures."""
    env = dict(os.environ, EGL_PLATFORM=platform)
    env.pop("DISPLAY", None)
    if display:
        env["DISPLAY"] = display
    programs = [[lister], ["eglinfo"]]
    for argv in programs:  # one run each first, so that neither pays for a cold cache in the rounds
        timed(argv, env)
    rounds = []
    for r in range(ROUNDS):
        totals = [[0.0, 0.0], [0.0, 0.0]]
        for _ in range(RUNS):
            for i in ((0, 1) if r % 2 == 0 else (1, 0)):
                wall, cpu = timed(programs[i], env)
                totals[i][0] += wall
                totals[i][1] += cpu
        rounds.append(totals)
    command = ("EGL_PLATFORM=%s%s %s  vs  the same with eglinfo; %d runs of each a round, alternating, %d rounds; "
               "wall time and wait4 user+system time" % (platform, " DISPLAY=" + display if display else "",
                                                          lister, RUNS, ROUNDS))
    name = platform
    print("%s:" % platform)
    benchjson.figure("configlist", name + "_configlist_ms", [1000 * t[0][0] / RUNS for t in rounds], "ms/run",
                     "configlist run time", command, digits=2)
    benchjson.figure("configlist", name + "_eglinfo_ms", [1000 * t[1][0] / RUNS for t in rounds], "ms/run",
                     "eglinfo run time", command, digits=2)
    benchjson.figure("configlist", name + "_time_ratio", [t[0][0] / t[1][0] for t in rounds], "ratio",
                     "ratio configlist/eglinfo, run time", command)
    benchjson.figure("configlist", name + "_cpu_ratio", [t[0][1] / t[1][1] for t in rounds], "ratio",
                     "ratio configlist/eglinfo, CPU time", command)
    print("  command: " + command)


def main():
    if not shutil.which("eglinfo"):
        print("eglinfo is not installed (package mesa-utils-bin)")
        return
    began = time.monotonic()
    print("load average %.1f" % os.getloadavg()[0])
    compare("surfaceless", None)
    if os.environ.get("DISPLAY"):
        compare("x11", os.environ["DISPLAY"])
    print("took %.0f s; load average %.1f" % (time.monotonic() - began, os.getloadavg()[0]))


main()
