#!/usr/bin/env python3
"""The benchmarks' figures: each one printed in one form and gathered into bench.json.

A figure is a value measured once per round: it is printed as the median over the rounds with the
lowest and the highest value and the number of rounds, so that a reader sees at once whether a
difference between two runs is larger than the figure's own spread. Every figure carries its units
and the command that produced it.

    import benchjson
    benchjson.figure("pcmcapture", "cpu_ratio_192000", [1.21, 1.19, 1.23], "ratio",
                     "pcmcapture / reference, CPU time at 192000 bytes/s", command)

When BRINGUP_OUT is set (tools/run-bench.sh sets it), each figure is also appended to
BRINGUP_OUT/figures.jsonl, and at the end of the run

    python3 bench/benchjson.py write OUT_DIR

makes OUT_DIR/bench.json from them, with the commit of the tree the benchmarks ran from:

    {"commit": "<git rev-parse HEAD>", "dirty": false, "date": "...", "host": "...",
     "figures": {"<benchmark>.<name>": {"benchmark", "name", "label", "units", "median",
                                         "min", "max", "rounds", "values", "command"}}}

so that two commits' figures can be compared by a script:

    python3 bench/benchjson.py compare OLD/bench.json NEW/bench.json

prints each figure the two files share, with both medians and spreads, "agrees" when each median
lies within the other's lowest and highest and "differs" when not, and the count of each; the
ratios only with --ratios. It ends with 0 whatever the figures say (1 when a file cannot be read).
"""
import datetime
import json
import math
import os
import socket
import statistics
import subprocess
import sys

FIGURES_FILE = "figures.jsonl"
BENCH_FILE = "bench.json"
KEYS = ("benchmark", "name", "label", "units", "median", "min", "max", "rounds", "values", "command")


def spread(values):
    """(median, lowest, highest) of the per-round values."""
    return statistics.median(values), min(values), max(values)


def describe(values, digits=3):
    """'1.213 (lowest 1.190, highest 1.240: -1.9% +2.2%; 8 rounds)': the text every figure is
    printed with."""
    med, lo, hi = spread(values)
    text = "%.*f (lowest %.*f, highest %.*f" % (digits, med, digits, lo, digits, hi)
    if med > 0:
        text += ": %+.1f%% %+.1f%%" % (100 * (lo / med - 1), 100 * (hi / med - 1))
    return text + "; %d round%s)" % (len(values), "" if len(values) == 1 else "s")


def figure(benchmark, name, values, units, label, command, digits=3, show=True):
    """Prints one figure (when show) and records it for bench.json; returns its median."""
    values = [float(v) for v in values]
    if not values or not all(math.isfinite(v) for v in values):
        raise ValueError("%s.%s: no rounds, or a value that is not a number: %r" % (benchmark, name, values))
    med, lo, hi = spread(values)
    if show:
        print("  %-46s %s %s" % (label + ":", describe(values, digits), units))
    out = os.environ.get("BRINGUP_OUT")
    if out:
        record = {"benchmark": benchmark, "name": name, "label": label, "units": units, "median": med,
                  "min": lo, "max": hi, "rounds": len(values), "values": values, "command": command}
        with open(os.path.join(out, FIGURES_FILE), "a") as f:
            f.write(json.dumps(record) + "\n")
    return med


def commit_of(tree):
    """(commit, dirty) of the git tree the benchmarks ran from; (None, None) outside a git tree."""
    try:
        head = subprocess.run(["git", "-C", tree, "rev-parse", "HEAD"], capture_output=True, text=True,
                              check=True).stdout.strip()
        status = subprocess.run(["git", "-C", tree, "status", "--porcelain", "--untracked-files=no"],
                                capture_output=True, text=True, check=True).stdout
        return head, bool(status.strip())
    except (OSError, subprocess.CalledProcessError):
        return None, None


def write(out, tree):
    """Writes out/bench.json from the figures recorded in out/figures.jsonl; returns its path."""
    figures = {}
    path = os.path.join(out, FIGURES_FILE)
    if os.path.exists(path):
        with open(path) as f:
            for line in f:
                if line.strip():
                    record = json.loads(line)
                    figures["%s.%s" % (record["benchmark"], record["name"])] = {k: record[k] for k in KEYS}
    head, dirty = commit_of(tree)
    document = {"commit": head, "dirty": dirty,
                "date": datetime.datetime.now(datetime.timezone.utc).strftime("%Y-%m-%dT%H:%M:%SZ"),
                "host": socket.gethostname(), "figures": figures}
    target = os.path.join(out, BENCH_FILE)
    with open(target + ".new", "w") as f:
        json.dump(document, f, indent=2, allow_nan=False)
        f.write("\n")
    os.replace(target + ".new", target)
    return target


def agree(a, b):
    """Whether two figures' medians each lie within the other's lowest and highest."""
    return a["min"] <= b["median"] <= a["max"] and b["min"] <= a["median"] <= b["max"]


def compare(old_path, new_path, ratios_only=False, out=sys.stdout):
    """Prints the figures of two bench.json files side by side; returns (agreeing, differing)."""
    with open(old_path) as f:
        old = json.load(f)
    with open(new_path) as f:
        new = json.load(f)
    print("old: %s (%s)  new: %s (%s)" % (old.get("commit"), old.get("date"), new.get("commit"), new.get("date")),
          file=out)
    counts = [0, 0]
    for key, a in old["figures"].items():
        b = new["figures"].get(key)
        if b is None or (ratios_only and a["units"] != "ratio"):
            continue
        same = agree(a, b)
        counts[0 if same else 1] += 1
        print("  %-50s %.4g [%.4g, %.4g]  %.4g [%.4g, %.4g] %s  %s" % (
            key, a["median"], a["min"], a["max"], b["median"], b["min"], b["max"], a["units"],
            "agrees" if same else "differs"), file=out)
    print("%d agree, %d differ" % tuple(counts), file=out)
    return tuple(counts)


def main(argv):
    if len(argv) in (4, 5) and argv[1] == "compare" and argv[4:] in ([], ["--ratios"]):
        try:
            compare(argv[2], argv[3], argv[4:] == ["--ratios"])
        except (OSError, ValueError, KeyError, TypeError) as e:
            print("benchjson.py: cannot compare: %s" % e, file=sys.stderr)
            return 1
        return 0
    if len(argv) == 3 and argv[1] == "write":
        tree = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
        target = write(argv[2], tree)
        with open(target) as f:
            count = len(json.load(f)["figures"])
        print("%d figures with their spreads and commands: %s" % (count, target))
        return 0
    print("usage: benchjson.py write OUT_DIR\n       benchjson.py compare OLD.json NEW.json [--ratios]",
          file=sys.stderr)
    return 2


if __name__ == "__main__":
    sys.exit(main(sys.argv))
