#!/usr/bin/python3
"""Runs the board image's LAVA job on this machine with Debian's lava-run, twice: on the good
kernel board, where LAVA must report every check of bringup-check as passed, and on a failing one,
where LAVA must report as failed exactly the checks the board breaks. Each time, LAVA's results
(the results entries of its log) are checked against the results.json bringup-check wrote in the
guest, which the job copies to the device's results share: the checks that bringup-check --list
names for the board's arguments, the same verdicts, each main figure as a measurement with its
units.

Usage: packaging/lava/run-jobs.py [--checker BRINGUP_CHECK] [good|failing ...]   (both by default)
Needs root, lava-run, build/image (make image), a bringup-check built from this tree for the host
(--checker, default build/dev/bin/bringup-check) and a commit of this tree: LAVA clones the test
definition from the repository. Writes build/lava/<job>/: job.yaml, device.yaml, the lava-run
output folder and its log, and the results share. Prints each job's time by stage and its LAVA
results table; exits 1 when a job's results are not as they should be.
Run with the system Python: lava_common and yaml are Debian's.
"""
import json
import os
import shutil
import subprocess
import sys
import time

import yaml

TOP = os.path.realpath(os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", ".."))
HERE = os.path.join(TOP, "packaging", "lava")
IMAGE = os.path.join(TOP, "build", "image")
OUT = os.path.join(TOP, "build", "lava")
# The suite whose test cases are bringup-check's checks: the test definition's name.
SUITE = "bringup-check"
# The bringup-check whose --list names the checks a job's run makes: one built from this tree, for
# the host (the image's own is built for the board).
CHECKER = os.path.join(TOP, "build", "dev", "bin", "bringup-check")
# The failing kernel board: a controller version no daemon drives and an audio driver whose
# hardware position query always fails; only the audio and USB checks are run on it. "args" None:
# the test definition's own ARGS.
BOARDS = {
    "good": {"module_args": None, "args": None, "failing": None},
    "failing": {
        "module_args": "usb_version=2.20a audio_fault_hwpos_fail=1-",
        "args": "--switch --only audio,usb",
        "failing": {"audio.capture", "usb.controller"},
    },
}
# lava-run's own limit is the job's timeout, set for slow boards; the emulated board's job takes
# about three minutes, and a dispatcher that hangs is stopped after this.
LIMIT_S = 20 * 60


def die(msg):
    print("run-jobs: " + msg, file=sys.stderr)
    sys.exit(1)


def supermin_env():
    """libguestfs, which builds the test overlay's disk, boots a small appliance with the host's
    kernel; a machine with none in /boot gets Debian's amd64 kernel, unpacked by fetch-kernel.sh."""
    env = dict(os.environ)
    # A /dev/kvm that a nested host offers may refuse the appliance's CPU set-up; emulation works
    # everywhere, and the appliance does little.
    env.setdefault("LIBGUESTFS_BACKEND_SETTINGS", "force_tcg")
    if any(f.startswith("vmlinuz-") for f in os.listdir("/boot")):
        return env
    fetch = os.path.join(TOP, "kernel", "fetch-kernel.sh")
    release = subprocess.check_output([fetch, "amd64", "release"], text=True).strip()
    root = subprocess.check_output([fetch, "amd64", "root"], text=True).strip()
    modules = os.path.join(root, "lib", "modules", release)
    if not os.path.exists(os.path.join(modules, "modules.dep")):
        subprocess.check_call(["depmod", "-b", root, release])
    env["SUPERMIN_KERNEL"] = os.path.join(root, "boot", "vmlinuz-" + release)
    env["SUPERMIN_MODULES"] = modules
    env["SUPERMIN_KERNEL_VERSION"] = release
    return env


def stop_leftovers(marker):
    """Ends what a killed lava-run left behind: its qemu is detached from it (setsid), and is known
    by the job's share folder on its command line."""
    for pid in os.listdir("/proc"):
        if not pid.isdigit() or int(pid) == os.getpid():
            continue
        try:
            with open("/proc/%s/cmdline" % pid, "rb") as f:
                cmdline = f.read().decode(errors="replace")
        except OSError:
            continue
        if marker in cmdline and "qemu-system" in cmdline:
            print("run-jobs: stopping qemu %s, left running" % pid)
            try:
                os.kill(int(pid), 9)
            except OSError:
                pass


def definitions(job):
    for action in job["actions"]:
        for d in action.get("test", {}).get("definitions", []):
            yield d


def render(name, board, folder, share):
    """The job with this tree's image and repository, and the board's settings; the device with a
    results share in the folder."""
    with open(os.path.join(HERE, "board-image-job.yaml")) as f:
        job = yaml.safe_load(f)
    job["job_name"] += " (%s kernel board)" % name
    for action in job["actions"]:
        for image in action.get("deploy", {}).get("images", {}).values():
            image["url"] = "file://" + os.path.join(IMAGE, os.path.basename(image["url"]))
    for d in definitions(job):
        if d["from"] == "git":
            d["repository"] = TOP
            if board["args"]:
                d["parameters"]["ARGS"] = board["args"]
        elif d["name"] == "kernel-board" and board["module_args"]:
            d["parameters"]["MODULE_ARGS"] = board["module_args"]
    with open(os.path.join(HERE, "qemu-arm64-device.yaml")) as f:
        device = yaml.safe_load(f)
    device["actions"]["boot"]["methods"]["qemu"]["parameters"]["options"].append(
        "-virtfs local,path=%s,mount_tag=results,security_model=none,id=results" % share)
    for what, data in (("job", job), ("device", device)):
        with open(os.path.join(folder, what + ".yaml"), "w") as f:
            yaml.safe_dump(data, f, sort_keys=False)


def log_entries(path):
    """lava-run's log: one YAML mapping in flow style a line (time, level, message)."""
    entries = []
    loader = getattr(yaml, "CSafeLoader", yaml.SafeLoader)
    with open(path, errors="replace") as f:
        for line in f:
            try:
                e = yaml.load(line, Loader=loader)
            except yaml.YAMLError:
                continue
            if isinstance(e, dict):
                entries.append(e)
    return entries


def stages(entries):
    """Seconds of each top-level action (deploy, boot, test), from the log's start and end lines."""
    times, starts = [], {}
    for e in entries:
        msg = e.get("msg")
        if not isinstance(msg, str):
            continue
        t = time.mktime(time.strptime(e["dt"].split(".")[0], "%Y-%m-%dT%H:%M:%S"))
        if msg.startswith("start: ") and msg.split()[1].isdigit():
            starts[msg.split()[2]] = t
        elif msg.startswith("end: ") and msg.split()[1].isdigit():
            action = msg.split()[2]
            if action in starts:
                times.append((action, t - starts.pop(action)))
    return times


def steps(entries):
    """Seconds of the steps that take time within the stages: the overlay's disk, each image's
    copy, the boot to the login prompt, each test definition."""
    out = []
    for e in entries:
        r = e.get("msg")
        if e.get("lvl") != "results" or not isinstance(r, dict) or r.get("definition") != "lava":
            continue
        case = r.get("case", "")
        if case in ("apply-overlay-guest", "file-download", "login-action") or case[:1].isdigit():
            label = (r.get("extra") or {}).get("label") if case == "file-download" else None
            out.append(("%s %s" % (case, label) if label else case, float(r.get("duration", 0))))
    return out


def lava_results(entries):
    """Every test case LAVA recorded: (suite, case, result, measurement, units)."""
    out = []
    for e in entries:
        if e.get("lvl") != "results" or not isinstance(e.get("msg"), dict):
            continue
        r = e["msg"]
        out.append((r.get("definition", ""), r.get("case", ""), r.get("result", ""),
                    r.get("measurement"), r.get("units")))
    return out


def listed_checks(board, checker):
    """The checks bringup-check makes with the board's arguments, in their order, as its --list
    names them."""
    args = board["args"]
    if args is None:
        with open(os.path.join(HERE, "bringup-check.yaml")) as f:
            args = yaml.safe_load(f)["params"]["ARGS"]
    out = subprocess.check_output([checker, "--list"] + args.split(), text=True)
    return [line.split()[0] for line in out.splitlines()]


def compare(name, board, results, guest, expected_checks):
    """What is wrong with LAVA's results against the guest's results.json, one line each."""
    problems = []
    cases = {case: (result, m, u) for suite, case, result, m, u in results if suite.endswith(SUITE)}
    for suite, case, result, _, _ in results:
        if not suite.endswith(SUITE) and suite != "lava" and result != "pass":
            problems.append("%s %s: %s" % (suite, case, result))
    checks = guest["checks"]
    if [c["name"] for c in checks] != expected_checks:
        problems.append("the checks %s ran, not %s" % ([c["name"] for c in checks], expected_checks))
    if sorted(cases) != sorted(c["name"] for c in checks):
        problems.append("LAVA's cases %s are not the guest's checks %s"
                        % (sorted(cases), sorted(c["name"] for c in checks)))
    for c in checks:
        if c["name"] not in cases:
            continue
        result, m, u = cases[c["name"]]
        if result != c["verdict"]:
            problems.append("%s: LAVA says %s, results.json %s" % (c["name"], result, c["verdict"]))
        main = c.get("main_figure")
        if main and (m is None or float(m) != float(main["value"]) or u != main["units"]):
            problems.append("%s: measurement %s %s in LAVA, %s %s in results.json"
                            % (c["name"], m, u, main["value"], main["units"]))
    failing = {c["name"] for c in checks if c["verdict"] == "fail"}
    expected = board["failing"] or set()
    if failing != expected:
        problems.append("failed checks %s, expected %s" % (sorted(failing), sorted(expected)))
    if not board["failing"] and any(c["verdict"] != "pass" for c in checks):
        problems.append("not every check passed on the good board")
    return problems


def run(name, env, job_id, checker):
    board = BOARDS[name]
    expected_checks = listed_checks(board, checker)
    folder = os.path.join(OUT, name)
    share = os.path.join(folder, "share")
    subprocess.call(["rm", "-rf", folder])
    os.makedirs(share)
    render(name, board, folder, share)
    print("run-jobs: %s: lava-run %s/job.yaml" % (name, folder), flush=True)
    started = time.time()
    with open(os.path.join(folder, "lava-run.log"), "w") as log:
        status = subprocess.call(["timeout", "-k", "30", str(LIMIT_S), "lava-run", "--job-id", str(job_id),
                                  "--output-dir", os.path.join(folder, "output"),
                                  "--device", os.path.join(folder, "device.yaml"),
                                  os.path.join(folder, "job.yaml")],
                                 stdout=log, stderr=subprocess.STDOUT, env=env)
    stop_leftovers("path=%s," % share)
    took = time.time() - started
    entries = log_entries(os.path.join(folder, "lava-run.log"))
    results = lava_results(entries)
    print("run-jobs: %s: lava-run ended with %d after %.0f s; by stage: %s" % (
        name, status, took, ", ".join("%s %.0f s" % s for s in stages(entries))))
    print("run-jobs: %s: steps: %s" % (name, ", ".join("%s %.1f s" % s for s in steps(entries))))
    print("run-jobs: %s: LAVA's results (its own actions' aside):" % name)
    print("  %-16s %-20s %-6s %s" % ("suite", "case", "result", "measurement"))
    for suite, case, result, m, u in results:
        if suite != "lava" or case == "job":
            print("  %-16s %-20s %-6s %s" % (suite, case, result, "" if m is None else "%s %s" % (m, u)))
    path = os.path.join(share, "job-%d" % job_id, os.path.basename(
        next(d for d in definitions(yaml.safe_load(open(os.path.join(folder, "job.yaml"))))
             if d["from"] == "git")["parameters"]["OUT"]), "results.json")
    try:
        with open(path) as f:
            guest = json.load(f)
    except (OSError, ValueError) as e:
        return ["no results.json from the guest (%s): see %s/lava-run.log" % (e, folder)]
    return compare(name, board, results, guest, expected_checks)


def main():
    args = sys.argv[1:]
    checker = CHECKER
    if args[:1] == ["--checker"] and len(args) > 1:
        checker, args = os.path.abspath(args[1]), args[2:]
    names = args or list(BOARDS)
    for n in names:
        if n not in BOARDS:
            die("no such board: %s (good or failing)" % n)
    if os.geteuid() != 0:
        die("needs root, as lava-run does")
    if not os.access(checker, os.X_OK):
        die("no bringup-check at %s (build it, or name one with --checker)" % checker)
    if not shutil.which("lava-run"):
        die("no lava-run (make lava installs it: tools/packages-lava.txt)")
    for f in ("vmlinuz", "initrd.img", "disk.ext4"):
        if not os.path.exists(os.path.join(IMAGE, f)):
            die("no %s/%s (make image)" % (IMAGE, f))
    env = supermin_env()
    bad = 0
    for i, n in enumerate(names):
        # The dispatcher works in a folder named after the job id: two runs at once use their own.
        problems = run(n, env, os.getpid() * 10 + i, checker)
        for p in problems:
            print("run-jobs: %s: FAILED: %s" % (n, p))
        print("run-jobs: %s: %s" % (n, "ok" if not problems else "%d problems" % len(problems)), flush=True)
        bad += bool(problems)
    print("run-jobs: %d passed, %d failed" % (len(names) - bad, bad))
    return 1 if bad else 0


if __name__ == "__main__":
    sys.exit(main())
