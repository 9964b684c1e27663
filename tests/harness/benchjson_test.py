#!/usr/bin/env python3
"""out/bench/bench.json as make bench writes it: canned figures recorded through bench/benchjson.py
the way each benchmark records its own, then `benchjson.py write` as tools/run-bench.sh calls it;
the file must parse and name every figure with its units, spread, command and the commit.

Usage: benchjson_test.py SOURCE_DIR
"""
import json
import os
import re
import subprocess
import sys
import tempfile

sys.dont_write_bytecode = True
source = sys.argv[1]
sys.path.insert(0, os.path.join(source, "bench"))
import benchjson  # noqa: E402

CANNED = [
    ("pcmcapture", "cpu_ratio_192000", [1.21, 1.19, 1.25, 1.20], "ratio", "ratio pcmcapture/reference",
     "boardsim run board -- pcmcapture  vs  boardsim run board -- pcmcapture_reference"),
    ("usbpower", "otgpower_syscalls_per_cycle", [83, 83, 83], "calls/cycle", "otgpower system calls",
     "strace -f timeout 9 otgpower"),
    ("bringupcheck", "sim_output_bytes", [2540948], "bytes", "output folder", "bringup-check --sim board --out run"),
]
failures = []


def expect(condition, what):
    if not condition:
        failures.append(what)


with tempfile.TemporaryDirectory() as out:
    os.environ["BRINGUP_OUT"] = out
    for bench, name, values, units, label, command in CANNED:
        benchjson.figure(bench, name, values, units, label, command)
    run = subprocess.run([sys.executable, os.path.join(source, "bench", "benchjson.py"), "write", out],
                         capture_output=True, text=True)
    expect(run.returncode == 0, "benchjson.py write ended with %d: %s" % (run.returncode, run.stderr))
    with open(os.path.join(out, "bench.json")) as f:
        document = json.load(f)

commit = document.get("commit")
expect(commit is None or re.fullmatch("[0-9a-f]{40}", commit), "commit %r is not a git commit" % commit)
expect(isinstance(document.get("figures"), dict), "no figures object")
figures = document.get("figures", {})
expect(len(figures) == len(CANNED), "%d figures written, %d recorded" % (len(figures), len(CANNED)))
for bench, name, values, units, label, command in CANNED:
    key = "%s.%s" % (bench, name)
    f = figures.get(key)
    if f is None:
        failures.append("%s is not named" % key)
        continue
    ordered = sorted(values)
    expect(f["units"] == units and f["command"] == command and f["label"] == label,
           "%s: units, command or label differ: %r" % (key, f))
    expect(f["rounds"] == len(values) and f["values"] == values, "%s: rounds or values differ: %r" % (key, f))
    expect(f["min"] == ordered[0] and f["max"] == ordered[-1], "%s: lowest or highest differs: %r" % (key, f))
    expect(abs(f["median"] - (ordered[(len(values) - 1) // 2] + ordered[len(values) // 2]) / 2) < 1e-12,
           "%s: median differs: %r" % (key, f))

# Two runs compared: a median inside the other's spread agrees, one outside it differs.
with tempfile.TemporaryDirectory() as folder:
    paths = []
    for n, shift in enumerate((0.0, 0.2)):
        changed = json.loads(json.dumps(document))
        ratio = changed["figures"]["pcmcapture.cpu_ratio_192000"]
        for k in ("median", "min", "max"):
            ratio[k] += shift
        paths.append(os.path.join(folder, "%d.json" % n))
        with open(paths[-1], "w") as f:
            json.dump(changed, f)
    run = subprocess.run([sys.executable, os.path.join(source, "bench", "benchjson.py"), "compare"] + paths,
                         capture_output=True, text=True)
    expect(run.returncode == 0 and run.stdout.endswith("%d agree, 1 differ\n" % (len(CANNED) - 1))
           and re.search(r"cpu_ratio_192000 .* ratio  differs", run.stdout),
           "compare: %d %r %r" % (run.returncode, run.stdout, run.stderr))

for failure in failures:
    print("FAIL: " + failure)
print("%d figures named in bench.json; %d failures" % (len(figures), len(failures)))
sys.exit(1 if failures else 0)
