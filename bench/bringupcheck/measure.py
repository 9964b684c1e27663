"""bringup-check's own cost on the good simulated board, and on the booted image; see run.sh.

Usage: measure.py BUILD PREFIX OUT VMTEST_FOLDER   (ROUNDS, CHECK_SECONDS from the environment)
"""
import json
import os
import re
import shutil
import subprocess
import sys
import time

sys.dont_write_bytecode = True  # no __pycache__ in the source tree
sys.path.insert(0, os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
import benchjson  # noqa: E402

build, prefix, out, vmtest = sys.argv[1], sys.argv[2], sys.argv[3], sys.argv[4]
ROUNDS = int(os.environ.get("ROUNDS", "3"))
SECONDS = int(os.environ.get("CHECK_SECONDS", "5"))
sim = os.path.join(build, "boardsim", "boardsim")
check = os.path.join(prefix, "bin", "bringup-check")
# pcmcapture captures ten seconds (pcmcapture/main.cpp); each USB daemon and each demo runs for
# --seconds; the other checks' programs are meant to end at once.
CAPTURE_S = 10
SUBFOLDERS = ["audio", "usb", "wifi", "egl", "gpu"]
LINE = re.compile(r"^(PASS|FAIL|SKIP)  (\S+)")


def need(name, seconds):
    """Seconds the check's program itself needs."""
    if name == "audio.capture":
        return CAPTURE_S
    if name.startswith("usb.otg") or name.startswith("gpu."):
        return seconds
    return 0


def folder_bytes(path):
    """{subfolder or "results": bytes} of the regular files in an output folder, and the file count."""
    sizes, files = {}, 0
    for top, _, names in os.walk(path):
        part = os.path.relpath(top, path).split(os.sep)[0]
        part = part if part in SUBFOLDERS else "results"
        for n in names:
            p = os.path.join(top, n)
            if os.path.isfile(p) and not os.path.islink(p):
                sizes[part] = sizes.get(part, 0) + os.path.getsize(p)
                files += 1
    return sizes, files


def self_cpu(pid):
    """CPU seconds of an ended, not yet reaped, single-threaded process by itself (its children apart):
    the scheduler's count, in nanoseconds, or the clock ticks of /proc/PID/stat where there is none."""
    try:
        with open("/proc/%d/schedstat" % pid) as f:
            return int(f.read().split()[0]) / 1e9
    except (OSError, ValueError, IndexError):
        with open("/proc/%d/stat" % pid) as f:
            fields = f.read().rsplit(")", 1)[1].split()
        return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")


def one_run(number):
    """One bringup-check run on a fresh good board: {"checks": {name: wall s}, "last": s after the last
    check, "wall", "self_cpu", "children_cpu", "bytes": {part: n}, "files", "verdicts": {name: v}}."""
    board = os.path.join(out, "board-%d" % number)
    run = os.path.join(out, "run-%d" % number)
    for p in (board, run):
        shutil.rmtree(p, ignore_errors=True)
    subprocess.run([sim, "create", board, "audio.ring=1048576"], check=True, stdout=subprocess.DEVNULL)
    began = time.perf_counter()
    child = subprocess.Popen([check, "--sim", board, "--switch", "--attach", "1", "--seconds", str(SECONDS),
                              "--boardsim", sim, "--out", run], stdout=subprocess.PIPE, stdin=subprocess.DEVNULL,
                             text=True)
    checks, verdicts, last = {}, {}, began
    for line in child.stdout:
        m = LINE.match(line)
        if m:
            now = time.perf_counter()
            checks[m.group(2)] = now - last
            verdicts[m.group(2)] = m.group(1)
            last = now
    os.waitid(os.P_PID, child.pid, os.WEXITED | os.WNOWAIT)
    ended = time.perf_counter()
    own = self_cpu(child.pid)
    _, status, ru = os.wait4(child.pid, 0)
    child.returncode = os.waitstatus_to_exitcode(status)
    sizes, files = folder_bytes(run)
    return {"checks": checks, "verdicts": verdicts, "last": ended - last, "wall": ended - began, "self_cpu": own,
            "children_cpu": ru.ru_utime + ru.ru_stime - own, "bytes": sizes, "files": files,
            "status": child.returncode}


def simulated():
    command = ("%s create <board> audio.ring=1048576 && %s --sim <board> --switch --attach 1 --seconds %d "
               "--boardsim %s --out <folder>  (a check's wall time: from the line before to its line; CPU: "
               "/proc/<pid>/schedstat of bringup-check once it ended, and wait4 for its children)"
               % (sim, check, SECONDS, sim))
    print("On the good simulated board (as make run's), every check, --seconds %d, %d rounds; display %s; "
          "load average %.1f" % (SECONDS, ROUNDS, os.environ.get("DISPLAY"), os.getloadavg()[0]))
    runs = [one_run(n) for n in range(ROUNDS)]
    for n, r in enumerate(runs):
        failed = [c for c, v in r["verdicts"].items() if v != "PASS"]
        if r["status"] != 0 or failed:
            print("  round %d: exit status %d; not passed: %s (see %s)"
                  % (n + 1, r["status"], " ".join(failed) or "-", os.path.join(out, "run-%d" % n)))
    names = [c for c in runs[0]["checks"] if all(c in r["checks"] for r in runs)]
    print("  wall time of each check beyond what its program needs (the capture 10 s, each daemon and demo "
          "%d s, the others nothing):" % SECONDS)
    for name in names:
        benchjson.figure("bringupcheck", "sim_%s_overhead_s" % name.replace(".", "_"),
                         [r["checks"][name] - need(name, SECONDS) for r in runs], "s",
                         "%s (needs %g s)" % (name, need(name, SECONDS)), command)
    benchjson.figure("bringupcheck", "sim_final_outputs_s", [r["last"] for r in runs], "s",
                     "after the last check, until it ended", command)
    total_need = sum(need(n, SECONDS) for n in names)
    print("  the whole run:")
    benchjson.figure("bringupcheck", "sim_wall_s", [r["wall"] for r in runs], "s",
                     "wall time (the programs need %g s)" % total_need, command, digits=2)
    benchjson.figure("bringupcheck", "sim_wall_ratio", [r["wall"] / total_need for r in runs], "ratio",
                     "ratio wall time / what the programs need", command)
    benchjson.figure("bringupcheck", "sim_self_cpu_s", [r["self_cpu"] for r in runs], "s",
                     "bringup-check's own CPU time", command)
    benchjson.figure("bringupcheck", "sim_children_cpu_s", [r["children_cpu"] for r in runs], "s",
                     "its programs' CPU time", command)
    benchjson.figure("bringupcheck", "sim_output_bytes", [sum(r["bytes"].values()) for r in runs], "bytes",
                     "output folder", command, digits=0)
    for part in SUBFOLDERS + ["results"]:
        benchjson.figure("bringupcheck", "sim_output_bytes_%s" % part, [r["bytes"].get(part, 0) for r in runs],
                         "bytes", "  of it " + (part + "/" if part != "results" else
                                                 "results.json, results.xml, verdicts.txt, report.html"),
                         command, digits=0)
    benchjson.figure("bringupcheck", "sim_output_files", [r["files"] for r in runs], "files",
                     "files in the output folder", command, digits=0)
    print("  command: " + command)


def booted_image():
    """The same from the booted image's run (make vmtest): its results.json and output folder."""
    results = os.path.join(vmtest, "results.json")
    if not os.path.isfile(results):
        print("On the booted image: no %s (make vmtest leaves the good kernel board's run there)" % results)
        return
    with open(results) as f:
        document = json.load(f)
    checks = document["checks"]
    # A daemon runs for exactly --seconds before bringup-check stops it: its time says what the
    # run's --seconds was.
    seconds = round(next((c["seconds"] for c in checks if c["name"] == "usb.otgpower"), 10))
    command = ("make vmtest: bringup-check --switch --out good in the booted arm64 image under qemu-system-aarch64 "
               "(packaging/vm/guest-test.sh), read back from %s; one run" % vmtest)
    print("On the booted image (%s, started %s): each check's program time, as results.json has it, beyond what "
          "the program needs (the capture 10 s, each daemon and demo %d s); the log holds no wall or CPU time of "
          "bringup-check itself:" % (vmtest, document.get("started", "?"), seconds))
    for c in checks:
        name = c["name"]
        benchjson.figure("bringupcheck", "image_%s_overhead_s" % name.replace(".", "_"),
                         [c.get("seconds", 0) - need(name, seconds)], "s",
                         "%s (needs %g s)" % (name, need(name, seconds)), command)
    total_need = sum(need(c["name"], seconds) for c in checks)
    total = sum(c.get("seconds", 0) for c in checks)
    benchjson.figure("bringupcheck", "image_checks_s", [total], "s",
                     "the checks' times together (the programs need %g s)" % total_need, command, digits=2)
    sizes, files = folder_bytes(vmtest)
    benchjson.figure("bringupcheck", "image_output_bytes", [sum(sizes.values())], "bytes", "output folder",
                     command, digits=0)
    benchjson.figure("bringupcheck", "image_output_files", [files], "files", "files in the output folder",
                     command, digits=0)
    print("  command: " + command)


def main():
    began = time.monotonic()
    os.makedirs(out, exist_ok=True)
    simulated()
    booted_image()
    print("took %.0f s; load average %.1f" % (time.monotonic() - began, os.getloadavg()[0]))


main()
