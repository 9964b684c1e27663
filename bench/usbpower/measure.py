"""Measures the USB power daemons' idle cycle; see run.sh."""
import os
import re
import shutil
import signal
import subprocess
import sys
import time

build, prefix, out, seconds = sys.argv[1], sys.argv[2], sys.argv[3], float(sys.argv[4])
sim = os.path.join(build, "boardsim", "boardsim")
preload = os.path.join(build, "boardsim", "libboardsim.so")
# The drivers' paths and attribute names, from the protocol headers through `boardsim protocol`.
P = {k: v.strip("'") for k, v in (line.split("=", 1) for line in subprocess.run(
    [sim, "protocol"], check=True, capture_output=True, text=True).stdout.splitlines())}
PORT = P["OTG_PORT_DIR_PREFIX"]
SLEEPM, IDDQ = P["OTG_ATTR_SLEEPM"], P["OTG_ATTR_IDDQ"]
DAEMONS = [("otgpower", SLEEPM, []), ("otgpoweriddq", IDDQ, ["--profile", "otg-iddq"]),
           ("otgpowersave", SLEEPM, [])]

# The same idle cycle as otgpower, written as a shell script: per port switch on, wait, read the
# two status files, switch off; then wait.
REFERENCE = r"""
for p in 0 1; do printf usb$p >{mod}/{mod_off}; printf {off} >{port}$p/{phy}; done
while :; do
  for p in 0 1; do
    printf usb$p >{mod}/{mod_on}; printf {on} >{port}$p/{phy}
    sleep 0.5
    read g <{port}$p/{gotgctl}; read b <{port}$p/{busconnected}
    printf usb$p >{mod}/{mod_off}; printf {off} >{port}$p/{phy}
  done
  sleep 0.5
done
""".format(mod=P["OTG_MODULE_CLASS_DIR"], mod_on=P["OTG_MODULE_ATTR_ON"], mod_off=P["OTG_MODULE_ATTR_OFF"],
           port=PORT, phy=SLEEPM, on=P["OTG_PHY_POWERED"], off=P["OTG_PHY_UNPOWERED"],
           gotgctl=P["OTG_ATTR_GOTGCTL"], busconnected=P["OTG_ATTR_BUSCONNECTED"])


def make_board(name, args):
    d = os.path.join(out, name)
    shutil.rmtree(d, ignore_errors=True)
    subprocess.run([sim, "create", d] + args, check=True, stdout=subprocess.DEVNULL)
    return d


def port0_cycles(board, attr):
    """Idle cycles from the trace: port 0's PHY power attribute is opened for writing once in the
    first cycle (off) and twice in every later one (on, off)."""
    opens = 0
    with open(os.path.join(board, "trace.log")) as f:
        for line in f:
            t = line.rstrip("\n").split("\t")
            if len(t) >= 6 and t[2] == "open" and t[3] == PORT + "0/" + attr and t[4] in ("w", "0x241"):
                opens += 1
    return (opens + 1) // 2


def startup_cpu(argv, profile):
    """CPU time of starting and ending at once (a refused controller version; for the script, an
    empty one) on the board, the mean of five runs: taken off the whole run's time."""
    board = make_board("startup", profile + ["usb.version=2.20a"])
    env = dict(os.environ, BOARDSIM_DIR=board, LD_PRELOAD=preload)
    total = 0.0
    for _ in range(5):
        p = subprocess.Popen(argv, env=env, stdout=subprocess.DEVNULL)
        _, _, ru = os.wait4(p.pid, 0)
        total += ru.ru_utime + ru.ru_stime
    return total / 5


def cpu_on_board(board, argv):
    env = dict(os.environ, BOARDSIM_DIR=board, LD_PRELOAD=preload)
    p = subprocess.Popen(argv, env=env, stdout=subprocess.DEVNULL)
    time.sleep(seconds)
    os.kill(p.pid, signal.SIGTERM)
    _, _, ru = os.wait4(p.pid, 0)
    return ru.ru_utime + ru.ru_stime


SCRIPT = ('set -e; mount -t tmpfs boardsys /sys; [ "$(stat -f -c %T /sys)" = tmpfs ]; '
          'cp -a "$1/sys/." /sys/; exec strace -f -qq -o "$2" timeout -s TERM "$3" "$4"')


def namespace_ok():
    for cmd in (["unshare"], ["unshare", "--map-root-user"]):
        c = cmd + ["--mount", "--propagation", "private", "sh", "-c",
                   'mount -t tmpfs boardsys /sys && [ "$(stat -f -c %T /sys)" = tmpfs ]']
        if subprocess.run(c, stderr=subprocess.DEVNULL).returncode == 0:
            return cmd
    return None


def syscalls_per_cycle(unshare, board, program):
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
    if len(starts) < 2:
        return None, 0
    return (starts[-1] - starts[0]) / (len(starts) - 1), len(starts) - 1


print("USB power daemons, one idle cycle (both ports present, nothing attached)")
results = []
for program, attr, profile in DAEMONS:
    board = make_board("cpu-" + program, profile)
    argv = [os.path.join(prefix, "bin", program)]
    cpu = cpu_on_board(board, argv) - startup_cpu(argv, profile)
    cycles = port0_cycles(board, attr)
    results.append((program, cpu, cycles))
board = make_board("cpu-reference", [])
cpu = cpu_on_board(board, ["/bin/sh", "-c", REFERENCE]) - startup_cpu(["/bin/sh", "-c", "true"], [])
ref_cycles = port0_cycles(board, SLEEPM)
ref = cpu / max(ref_cycles, 1)
print(f"CPU per cycle on the simulated board ({seconds:g} s runs; reference: the same cycle as a shell script):")
for program, cpu, cycles in results:
    per = cpu / max(cycles, 1)
    print(f"  {program:13s} {1e3 * per:8.3f} ms/cycle over {cycles} cycles   ({per / ref:.3f} of the script's cost)")
print(f"  {'shell script':13s} {1e3 * ref:8.3f} ms/cycle over {ref_cycles} cycles")
print(f"  command: BOARDSIM_DIR=<board> LD_PRELOAD={preload} <program>, SIGTERM after {seconds:g} s, "
      "os.wait4 user+system time less that of a start that ends at once, / idle cycles counted in the trace")

unshare = namespace_ok() if shutil.which("strace") else None
if unshare is None:
    print("system calls per cycle: skipped (needs strace and a mount namespace with a tmpfs over /sys)")
else:
    print("system calls per cycle, tmpfs /sys in a private mount namespace, no preload:")
    for program, attr, profile in DAEMONS:
        board = make_board("sys-" + program, profile)
        per, n = syscalls_per_cycle(unshare, board, program)
        print(f"  {program:13s} " + (f"{per:6.1f} calls/cycle over {n} cycles" if per else "not measured"))
    print(f"  command: {' '.join(unshare)} --mount --propagation private sh -c '<mount tmpfs on /sys; copy the board>; "
          f"strace -f -qq -o <log> timeout -s TERM {seconds:g} <program>'")
