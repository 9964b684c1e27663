#!/usr/bin/python3
"""The board farm made, used and unmade on this machine (make farm): LAVA's server and two workers
from Debian's packages (packaging/farm/lab.sh), the boards of boards.conf as devices, and our job run
on them through the server's REST API by bringup-farm.

Cases, each a line "ok"/"FAILED":
  health   every board, put into service, passed the device type's health check; with --broken, the broken
           board failed it, went offline (health Bad) and gets no job
  boards   one job for each board (by its tag), all at once: every job Complete, bringup-check's
           verdicts as farm.json has them equal to the results.json the guest wrote, exactly the
           board's failing checks of boards.conf failed, the main figures there with their units
  queue    --queue jobs for any board of the type (more jobs than boards): all complete, each
           with its wait and run time
The lab is stopped whatever happens, and nothing of it may be left listening. Prints the timings
and "N passed, N failed". Two runs at once: the second refuses.

Usage: packaging/farm/run-farm.py --tool BRINGUP_FARM [--boards N] [--queue N] [--broken]
                                  [--queue-args ARGS] [--out DIR] [--skip-install] [--serial]
Run as root with the system Python; FARM_IMAGE names the board image (default build/image).
"""
import argparse
import fcntl
import json
import os
import subprocess
import sys
import time
import urllib.request

HERE = os.path.dirname(os.path.abspath(__file__))
TOP = os.path.realpath(os.path.join(HERE, "..", ".."))
LAB = os.path.join(HERE, "lab.sh")
JOB = os.path.join(TOP, "packaging", "lava", "board-image-job.yaml")
STATE = os.environ.get("FARM_STATE", "/var/lib/bringup-farm")
LOCK = "/run/lock/bringup-farm.lock"
URL = "http://127.0.0.1/"
# The job's definition whose output folder the collect step copies to the share (its OUT).
CHECK_DEFINITION = "bringup-check"
# A job on the emulated board takes about 3 minutes alone; several at once on a 2-core host share it.
WAIT_S = 60 * 60

passed = failed = 0
timings = []


def say(msg):
    print("run-farm: " + msg, flush=True)


def result(name, problems):
    global passed, failed
    if problems:
        failed += 1
        for p in problems:
            say("%s: FAILED: %s" % (name, p))
    else:
        passed += 1
        say("%s: ok" % name)


def timed(label, fn):
    t = time.time()
    out = fn()
    timings.append((label, time.time() - t))
    say("%s took %.0f s" % (label, timings[-1][1]))
    return out


def lab(cmd, env):
    subprocess.check_call([LAB, cmd], env=env)


def boards_conf():
    """(name, worker, role, settings, failing) of each line of boards.conf."""
    out = []
    with open(os.path.join(HERE, "boards.conf")) as f:
        for line in f:
            words = line.split("#")[0].split()
            if words:
                name, worker, role, settings, failing = words[0], words[1], words[2], words[3:-1], words[-1]
                out.append((name, worker, role, settings,
                            set() if failing == "-" else set(failing.split(","))))
    return out


def api(path):
    with open(os.path.join(STATE, "admin-token")) as f:
        token = f.read().strip()
    req = urllib.request.Request(URL + "api/v0.2/" + path, headers={"Authorization": "Token " + token})
    with urllib.request.urlopen(req, timeout=60) as r:
        return json.load(r)


def devices():
    return {d["hostname"]: d for d in api("devices/?limit=100")["results"]}


def into_service(names, serial):
    """Puts the boards into service (health Unknown): the scheduler health-checks each first. Waits
    until every one has had its health check, one board after the other when `serial`, and returns
    the devices."""
    for group in ([[n] for n in names] if serial else [names]):
        for n in group:
            subprocess.check_call(["lava-server", "manage", "devices", "update", "--health", "UNKNOWN", n])
        deadline = time.time() + WAIT_S
        while time.time() < deadline:
            devs = devices()
            if all(devs[n]["health"] not in ("Unknown", "Maintenance") and devs[n]["state"] == "Idle" for n in group):
                break
            time.sleep(3)
    return devices()


def farm(tool, args, out):
    return subprocess.call([tool] + args + ["--token-file", os.path.join(STATE, "admin-token"), "--out", out])


def run_jobs(tool, out, tags, count, params):
    """Submits, waits and reports; returns farm.json or None."""
    os.makedirs(out, exist_ok=True)
    submit = ["submit", "--url", URL, "--job", JOB, "--image", os.environ["FARM_IMAGE"], "--repository", TOP,
              "--count", str(count)]
    for t in tags:
        submit += ["--tag", t]
    for p in params:
        submit += ["--param", p]
    if farm(tool, submit, out) != 0:
        return None
    farm(tool, ["wait", "--timeout", str(WAIT_S)], out)
    farm(tool, ["report", "--reports", "file://" + os.path.join(STATE, "shares", "{device}", "job-{job}",
                                                               CHECK_DEFINITION, "report.html")], out)
    try:
        with open(os.path.join(out, "farm.json")) as f:
            return json.load(f)
    except (OSError, ValueError) as e:
        say("no farm.json in %s: %s" % (out, e))
        return None


def guest_results(job):
    path = os.path.join(STATE, "shares", job["device"], "job-%d" % job["id"], CHECK_DEFINITION, "results.json")
    try:
        with open(path) as f:
            return json.load(f), path
    except (OSError, ValueError) as e:
        return None, "%s: %s" % (path, e)


def check_job(job, failing):
    """What is wrong with one job of farm.json against its board and the guest's results.json."""
    problems = []
    where = "job %s on %s" % (job["id"], job["device"] or "no board")
    if job["outcome"] != "checked":
        return ["%s: not checked: %s" % (where, job["why"])]
    guest, path = guest_results(job)
    if guest is None:
        return ["%s: no results.json from the guest (%s)" % (where, path)]
    lava = {c["name"]: c for c in job["checks"]}
    mine = {c["name"]: c for c in guest["checks"]}
    if sorted(lava) != sorted(mine):
        problems.append("%s: LAVA's checks %s, the guest's %s" % (where, sorted(lava), sorted(mine)))
    for name, c in mine.items():
        l = lava.get(name)
        if l and l["verdict"] != c["verdict"]:
            problems.append("%s: %s is %s in LAVA, %s in results.json" % (where, name, l["verdict"], c["verdict"]))
        if l and "measurement" in l and l["units"] == "":
            problems.append("%s: %s measured without units" % (where, name))
        main = c.get("main_figure")
        if l and main and ("measurement" not in l or l.get("units") != main["units"]
                           or abs(float(l["measurement"]) - main["value"]) > 1e-6 * max(1, abs(main["value"]))):
            problems.append("%s: %s measured %s %s in LAVA, %s %s in results.json" % (
                where, name, l.get("measurement"), l.get("units"), main["value"], main["units"]))
    failed_checks = {n for n, c in mine.items() if c["verdict"] == "fail"}
    if failed_checks != failing:
        problems.append("%s: failed %s, the board fails %s" % (where, sorted(failed_checks), sorted(failing)))
    for s in job["setup"]:
        if s["verdict"] != "pass":
            problems.append("%s: %s %s: %s" % (where, s.get("suite", ""), s["name"], s["verdict"]))
    return problems


def job_lines(doc):
    for j in doc["jobs"]:
        say("  job %s on %-13s %-9s waited %5s s, ran %5s s%s" % (
            j["id"], j["device"], j["outcome"], "%.0f" % j["waited_s"] if j["waited_s"] is not None else "-",
            "%.0f" % j["ran_s"] if j["ran_s"] is not None else "-",
            "" if j["outcome"] == "checked" else ": " + j["why"]))


def memory_mib():
    """Memory in use on the machine, MiB (the lab's share is the difference from before it)."""
    info = {}
    with open("/proc/meminfo") as f:
        for line in f:
            k, v = line.split(":")
            info[k] = int(v.split()[0])
    return (info["MemTotal"] - info["MemAvailable"]) // 1024


def cases(args, env, out):
    conf = [b for b in boards_conf()]
    boards = [b for b in conf if b[2] == "board"][:args.boards]
    broken = [b for b in conf if b[2] == "broken"] if args.broken else []
    names = [b[0] for b in boards + broken]

    devs = timed("health checks", lambda: into_service(names, args.serial))
    problems = []
    for b in boards:
        d = devs.get(b[0])
        if not d or d["health"] != "Good":
            problems.append("%s: health %s after its health check" % (b[0], d and d["health"]))
    for b in broken:
        d = devs.get(b[0])
        if not d or d["health"] != "Bad":
            problems.append("%s (broken): health %s, not Bad" % (b[0], d and d["health"]))
    say("after the health checks: %s; memory in use %d MiB" % (
        ", ".join("%s %s" % (n, devs[n]["health"]) for n in names if n in devs), memory_mib()))

    if args.serial:
        # One job at a time (a host busy with other VMs): the reports joined.
        docs = [timed("the job on %s alone" % b[0],
                      lambda b=b: run_jobs(args.tool, os.path.join(out, "boards", b[0]), [b[0]], 1, []))
                for b in boards]
        doc = None if None in docs else {"jobs": [j for d in docs for j in d["jobs"]]}
    else:
        doc = timed("one job on each of %d boards at once" % len(boards),
                    lambda: run_jobs(args.tool, os.path.join(out, "boards"), [b[0] for b in boards], 1, []))
    p = ["no farm report"] if doc is None else []
    if doc:
        job_lines(doc)
        by_board = {j["board"]: j for j in doc["jobs"]}
        for b in boards:
            j = by_board.get(b[0])
            p += ["%s: no job" % b[0]] if j is None else check_job(j, b[4])
            if j and j["device"] != b[0]:
                p.append("the job for %s ran on %s" % (b[0], j["device"]))
    result("boards", p)

    if args.queue and not args.serial:
        params = ["ARGS=" + args.queue_args] if args.queue_args else []
        doc = timed("%d jobs for %d boards" % (args.queue, len(boards)),
                    lambda: run_jobs(args.tool, os.path.join(out, "queue"), [], args.queue, params))
        p = ["no farm report"] if doc is None else []
        if doc:
            job_lines(doc)
            failing = {b[0]: b[4] for b in boards}
            only = args.queue_args.split("--only", 1)[1].split()[0].split(",") if "--only" in args.queue_args else None
            for j in doc["jobs"]:
                if j["device"] not in failing:
                    p.append("job %s ran on %s, not one of the boards" % (j["id"], j["device"]))
                    continue
                expected = {c for c in failing[j["device"]] if only is None or c.split(".")[0] in only}
                p += check_job(j, expected)
            waits = [j["waited_s"] for j in doc["jobs"] if j["waited_s"] is not None]
            if waits:
                say("queue: waits %s s" % ", ".join("%.0f" % w for w in sorted(waits)))
        result("queue", p)

    if broken:
        devs = devices()
        d = devs.get(broken[0][0], {})
        if d.get("health") != "Bad":
            problems.append("%s is %s at the end, not Bad" % (broken[0][0], d.get("health")))
        jobs = api("jobs/?limit=200&actual_device=%s" % broken[0][0])["results"]
        ours = [j["id"] for j in jobs if not j["health_check"]]
        if ours:
            problems.append("%s (broken) was given jobs %s" % (broken[0][0], ours))
    result("health", problems)


def main():
    ap = argparse.ArgumentParser(description="make farm: the board farm on this machine")
    ap.add_argument("--tool", required=True, help="the bringup-farm program")
    ap.add_argument("--boards", type=int, default=3)
    ap.add_argument("--queue", type=int, default=0, help="jobs for any board, more than there are boards")
    ap.add_argument("--queue-args", default="", help="bringup-check's ARGS for the queued jobs")
    ap.add_argument("--broken", action="store_true", help="add the broken board (the health check case)")
    ap.add_argument("--out", default=os.path.join(TOP, "build", "farm"))
    ap.add_argument("--skip-install", action="store_true")
    ap.add_argument("--serial", action="store_true", help="one job at a time (health checks too), no queue")
    args = ap.parse_args()
    if os.geteuid() != 0:
        say("needs root")
        return 2
    os.makedirs(os.path.dirname(LOCK), exist_ok=True)
    lock = open(LOCK, "a+")
    try:
        fcntl.flock(lock, fcntl.LOCK_EX | fcntl.LOCK_NB)
    except OSError:
        lock.seek(0)
        say("another make farm is running (pid %s): refusing to start a second" % (lock.read().strip() or "?"))
        return 2
    lock.truncate(0)
    lock.write(str(os.getpid()))
    lock.flush()

    env = dict(os.environ)
    env.setdefault("FARM_IMAGE", os.path.join(TOP, "build", "image"))
    os.environ["FARM_IMAGE"] = env["FARM_IMAGE"]
    env["FARM_BOARDS"] = str(args.boards)
    env["FARM_BROKEN"] = "1" if args.broken else "0"
    out = args.out
    subprocess.call(["rm", "-rf", out])
    os.makedirs(out)
    before = memory_mib()
    started = time.time()
    try:
        if not args.skip_install:
            timed("install", lambda: lab("install", env))
        timed("configure", lambda: lab("configure", env))
        timed("start", lambda: lab("start", env))
        say("idle instance: %d MiB more in use than before it" % (memory_mib() - before))
        cases(args, env, out)
    except subprocess.CalledProcessError as e:
        result("lab", ["%s failed with %d" % (" ".join(e.cmd), e.returncode)])
    finally:
        try:
            timed("stop", lambda: lab("stop", env))
        except subprocess.CalledProcessError:
            result("stop", ["the lab did not stop cleanly"])
    say("timings: " + ", ".join("%s %.0f s" % t for t in timings) + "; in all %.0f s" % (time.time() - started))
    for case in ("boards", "queue"):
        page = os.path.join(out, case, "farm.html")
        if os.path.exists(page):
            say("%s: %s" % (case, page))
    print("%d passed, %d failed" % (passed, failed))
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
