"""Measures the USB power daemons' idle cycle; see run.sh.

Usage: measure.py BUILD PREFIX OUT SECONDS   (ROUNDS, CYCLES from the environment)
"""
import os
import re
import shutil
import signal
import subprocess
import sys
import threading
import time

sys.dont_write_bytecode = True  # no __pycache__ in the source tree
sys.path.insert(0, os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
import benchjson  # noqa: E402

build, prefix, out, seconds = sys.argv[1], sys.argv[2], sys.argv[3], float(sys.argv[4])
ROUNDS = int(os.environ.get("ROUNDS", "6"))
CYCLES = int(os.environ.get("CYCLES", "8"))
sim = os.path.join(build, "boardsim", "boardsim")
# The drivers' paths and attribute names, from the protocol headers through `boardsim protocol`.
P = {k: v.strip("'") for k, v in (line.split("=", 1) for line in subprocess.run(
    [sim, "protocol"], check=True, capture_output=True, text=True).stdout.splitlines())}
PORT = P["OTG_PORT_DIR_PREFIX"]
SLEEPM, IDDQ = P["OTG_ATTR_SLEEPM"], P["OTG_ATTR_IDDQ"]
DAEMONS = [("otgpower", SLEEPM, []), ("otgpoweriddq", IDDQ, ["--profile", "otg-iddq"]),
           ("otgpowersave", SLEEPM, [])]

# The same idle cycle as otgpower, written as a shell script: per port switch on, wait, read the
# two status files, switch off; then wait. It runs {cycles} cycles and ends.
REFERENCE = r"""
for p in 0 1; do printf usb$p >{mod}/{mod_off}; printf {off} >{port}$p/{phy}; done
i=0
while [ $i -lt {cycles} ]; do
  for p in 0 1; do
    printf usb$p >{mod}/{mod_on}; printf {on} >{port}$p/{phy}
    sleep 0.5
    read g <{port}$p/{gotgctl}; read b <{port}$p/{busconnected}
    printf usb$p >{mod}/{mod_off}; printf {off} >{port}$p/{phy}
  done
  sleep 0.5
  i=$((i + 1))
done
"""


def reference(cycles):
    return REFERENCE.format(mod=P["OTG_MODULE_CLASS_DIR"], mod_on=P["OTG_MODULE_ATTR_ON"],
                            mod_off=P["OTG_MODULE_ATTR_OFF"], port=PORT, phy=SLEEPM, on=P["OTG_PHY_POWERED"],
                            off=P["OTG_PHY_UNPOWERED"], gotgctl=P["OTG_ATTR_GOTGCTL"],
                            busconnected=P["OTG_ATTR_BUSCONNECTED"], cycles=cycles)


def make_board(name, args):
    d = os.path.join(out, name)
    shutil.rmtree(d, ignore_errors=True)
    subprocess.run([sim, "create", d] + args, check=True, stdout=subprocess.DEVNULL)
    return d


def start_on_board(board, argv):
    """The program on the board, as every program is run on one: boardsim run, which becomes it."""
    return subprocess.Popen([sim, "run", board, "--"] + argv, stdout=subprocess.DEVNULL)


def cpu_ns(pid):
    """CPU time of a single-threaded process so far, in nanoseconds (the scheduler's own count)."""
    with open("/proc/%d/schedstat" % pid) as f:
        return int(f.read().split()[0])


def is_port0_write(line, attr):
    t = line.split("\t")
    return len(t) >= 6 and t[2] == "open" and t[3] == PORT + "0/" + attr and t[4] in ("w", "0x241")


def cycle_samples(pid, board, attr, wanted, limit):
    """The daemon's CPU time at the same point of each idle cycle: port 0 has just been switched on
    (every cycle's first power change; port 0's power attribute is opened for writing once in the
    first cycle, to switch it off, and twice in every later one, on and off) and the trace has
    then been still for 50 ms, so the daemon waits for the port to settle. Successive samples are
    one whole cycle apart, start-up excluded. Returns up to `wanted` samples in ns."""
    samples, opens, pending, rest = [], 0, False, ""
    quiet_since, deadline = time.monotonic(), time.monotonic() + limit
    path = os.path.join(board, "trace.log")
    while not os.path.exists(path) and time.monotonic() < deadline:
        time.sleep(0.01)
    with open(path) as trace:
        while len(samples) < wanted and time.monotonic() < deadline:
            data = trace.read()
            if data:
                quiet_since = time.monotonic()
                lines = (rest + data).split("\n")
                rest = lines.pop()
                for line in lines:
                    if is_port0_write(line, attr):
                        opens += 1
                        pending = opens % 2 == 0
            elif pending and time.monotonic() - quiet_since > 0.05:
                samples.append(cpu_ns(pid))
                pending = False
            time.sleep(0.01)
    return samples


def daemon_run(program, attr, profile, got):
    """One round of a daemon: got[program] = CPU ms per idle cycle over CYCLES cycles."""
    board = make_board("cpu-" + program, profile)
    child = start_on_board(board, [os.path.join(prefix, "bin", program)])
    samples = cycle_samples(child.pid, board, attr, CYCLES + 1, 3 * CYCLES + 10)
    child.terminate()
    child.wait()
    if len(samples) == CYCLES + 1:
        got[program] = (samples[-1] - samples[0]) / 1e6 / CYCLES


def script_cpu(board, cycles):
    """User + system seconds of the reference script running `cycles` cycles (its sleeps included)."""
    child = start_on_board(board, ["/bin/sh", "-c", reference(cycles)])
    _, _, ru = os.wait4(child.pid, 0)
    child.returncode = 0
    return ru.ru_utime + ru.ru_stime


def script_run(startup, got):
    board = make_board("cpu-reference", [])
    got["script"] = 1000 * (script_cpu(board, CYCLES) - startup) / CYCLES


def one_round(number, startup):
    got = {}
    runs = [threading.Thread(target=daemon_run, args=(program, attr, profile, got))
            for program, attr, profile in DAEMONS]
    runs.append(threading.Thread(target=script_run, args=(startup, got)))
    if number % 2 == 1:
        runs.reverse()
    for r in runs:
        r.start()
    for r in runs:
        r.join()
    return got


SCRIPT = ('set -e; mount -t tmpfs boardsys /sys; [ "$(stat -f -c %T /sys)" = tmpfs ]; '
          'cp -a "$1/sys/." /sys/; exec strace -f -qq -o "$2" timeout -s TERM "$3" "$4"')


def namespace_ok():
    for cmd in (["unshare"], ["unshare", "--map-root-user"]):
        c = cmd + ["--mount", "--propagation", "private", "sh", "-c",
                   'mount -t tmpfs boardsys /sys && [ "$(stat -f -c %T /sys)" = tmpfs ]']
        if subprocess.run(c, stderr=subprocess.DEVNULL).returncode == 0:
            return cmd
    return None


def syscalls_per_cycle(unshare, board, program, got):
    """got[program] = the daemon's system calls in each whole idle cycle of its run."""
    log = os.path.join(board, "strace.log")
    cmd = unshare + ["--mount", "--propagation", "private", "sh", "-c", SCRIPT, "sh", board, log,
                     str(seconds), os.path.join(prefix, "bin", program)]
    subprocess.run(cmd, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    daemon_pid, calls = None, []
    with open(log) as f:
        for line in f:
            pid, _, rest = line.partition(" ")
            rest = rest.strip()
            if daemon_pid is None and rest.startswith("execve(") and program in rest and "timeout" not in rest.split(",")[0]:
                daemon_pid = pid
            if pid == daemon_pid and re.match(r"[a-z_0-9]+\(", rest):
                calls.append(rest)
    # Cycle boundaries: port 0's control word is read 3 times in the first cycle and 4 times
    # in every later one (on, query, and the off request's two reads).
    reads = [i for i, c in enumerate(calls) if PORT + "0/" + P["OTG_ATTR_GOTGCTL"] in c]
    starts = reads[3::4]
    got[program] = [b - a for a, b in zip(starts, starts[1:])]


def main():
    began = time.monotonic()
    print("USB power daemons, one idle cycle (both ports present, nothing attached); load average %.1f"
          % os.getloadavg()[0])
    # The script's start and its first switching off, taken off each of its runs: the median of five
    # runs of the same script with no cycle.
    board = make_board("startup", [])
    startup = sorted(script_cpu(board, 0) for _ in range(5))[2]
    rounds = [one_round(n, startup) for n in range(ROUNDS)]
    command = ("%s run <board> -- <program>: CPU time from /proc/<pid>/schedstat at the same point of "
               "%d successive idle cycles (port 0 just switched on), / %d; the script: sh -c '<the cycle, %d times>' "
               "on the same board, wait4 user+system time less that of the script with no cycle, / %d; "
               "all four at once, %d rounds" % (sim, CYCLES + 1, CYCLES, CYCLES, CYCLES, ROUNDS))
    print("CPU per idle cycle on the simulated board, %d rounds of %d cycles; the daemons and the script "
          "(the same cycle as a shell script) run at the same time, each on a board of its own:" % (ROUNDS, CYCLES))
    script = [r["script"] for r in rounds if "script" in r]
    for program, _, _ in DAEMONS:
        pairs = [(r[program], r["script"]) for r in rounds if program in r and "script" in r]
        if not pairs:
            print("  %s: no whole cycles seen" % program)
            continue
        benchjson.figure("usbpower", program + "_cpu_ms_per_cycle", [p[0] for p in pairs], "ms/cycle",
                         program + " CPU", command)
        benchjson.figure("usbpower", program + "_cpu_ratio", [p[0] / p[1] for p in pairs], "ratio",
                         "ratio %s/script" % program, command)
    if script:
        benchjson.figure("usbpower", "script_cpu_ms_per_cycle", script, "ms/cycle", "shell script CPU", command)
    print("  command: " + command)

    unshare = namespace_ok() if shutil.which("strace") else None
    if unshare is None:
        print("system calls per cycle: skipped (needs strace and a mount namespace with a tmpfs over /sys)")
    else:
        print("system calls per idle cycle, tmpfs /sys in a private mount namespace, no preload; the three "
              "daemons at once, each cycle of a %g s run a round:" % seconds)
        got = {}
        runs = [threading.Thread(target=syscalls_per_cycle, args=(unshare, make_board("sys-" + p, profile), p, got))
                for p, _, profile in DAEMONS]
        for r in runs:
            r.start()
        for r in runs:
            r.join()
        command = ("%s --mount --propagation private sh -c '<mount tmpfs on /sys; copy the board>; strace -f -qq "
                   "-o <log> timeout -s TERM %g <program>'" % (" ".join(unshare), seconds))
        for program, _, _ in DAEMONS:
            if got.get(program):
                benchjson.figure("usbpower", program + "_syscalls_per_cycle", got[program], "calls/cycle",
                                 program + " system calls", command, digits=1)
            else:
                print("  %s: not measured" % program)
        print("  command: " + command)
    print("took %.0f s; load average %.1f" % (time.monotonic() - began, os.getloadavg()[0]))


main()
