#!/usr/bin/python3
"""Validates every LAVA file of packaging/lava with the board farm's own schemas (lava_common, as
the server and the dispatcher use them): each job, also as packaging/lava/run-jobs.py renders it
for the good and the failing kernel board, each device dictionary, each test definition (the
inline ones of the jobs too). Checks that a job's test definitions taken from the repository are
there. Prints each failure, then "N passed, M failed".
Usage: lava_schemas_test.py <source-dir>
Run with the system Python: lava_common (lava-common) and yaml are Debian's."""
import glob
import os
import sys
import tempfile
import types

import yaml
from lava_common.schemas import device as device_schema
from lava_common.schemas import validate as validate_job
from lava_common.schemas.test import testdef as testdef_schema

top = sys.argv[1]
folder = os.path.join(top, "packaging", "lava")
passed = failed = 0


def check(what, fn):
    global passed, failed
    try:
        fn()
    except Exception as e:  # voluptuous' Invalid, yaml's errors, a missing file: all say why
        failed += 1
        print("FAILED: %s: %s" % (what, e))
    else:
        passed += 1


def job_definitions(job):
    for action in job["actions"]:
        for d in action.get("test", {}).get("definitions", []):
            yield d


def check_job(name, job):
    # Not strict: the strict job schema refuses "parameters" on an inline definition, which is where
    # the server's submission schema wants them (it refuses "params" inside an inline repository);
    # the server itself applies this schema only loosely, and its own submission schema strictly
    # (tests/farm/server_schema_test.py).
    check(name, lambda: validate_job(job, strict=False))
    for d in job_definitions(job):
        if d["from"] == "inline":
            check("%s: inline definition %s" % (name, d["name"]),
                  lambda d=d: testdef_schema.validate(d["repository"]))
        else:
            check("%s: definition %s is %s in this tree" % (name, d["name"], d["path"]),
                  lambda d=d: open(os.path.join(top, d["path"])).close())


files = sorted(glob.glob(os.path.join(folder, "*.yaml")))
kinds = {"job": 0, "device": 0, "definition": 0}
for path in files:
    name = os.path.relpath(path, top)
    with open(path) as f:
        data = yaml.safe_load(f)
    if isinstance(data, dict) and "job_name" in data:
        kinds["job"] += 1
        check_job(name, data)
    elif isinstance(data, dict) and "constants" in data:
        kinds["device"] += 1
        check(name, lambda: device_schema.validate(data))
    elif isinstance(data, dict) and "metadata" in data:
        kinds["definition"] += 1
        check(name, lambda: testdef_schema.validate(data))
    else:
        failed += 1
        print("FAILED: %s is neither a job, a device dictionary nor a test definition" % name)
for kind, n in kinds.items():
    if n == 0:
        failed += 1
        print("FAILED: no %s in %s" % (kind, folder))

# The files run-jobs.py writes for each board, as lava-run is given them (its code run as a module
# of its own, leaving no compiled code in the source tree).
run_jobs_path = os.path.join(folder, "run-jobs.py")
run_jobs = types.ModuleType("run_jobs")
run_jobs.__file__ = run_jobs_path
with open(run_jobs_path) as f:
    exec(compile(f.read(), run_jobs_path, "exec"), run_jobs.__dict__)
for board in run_jobs.BOARDS:
    with tempfile.TemporaryDirectory() as work:
        run_jobs.render(board, run_jobs.BOARDS[board], work, os.path.join(work, "share"))
        with open(os.path.join(work, "job.yaml")) as f:
            check_job("the %s board's job" % board, yaml.safe_load(f))
        with open(os.path.join(work, "device.yaml")) as f:
            rendered = yaml.safe_load(f)
        check("the %s board's device" % board, lambda: device_schema.validate(rendered))

print("%d passed, %d failed" % (passed, failed))
sys.exit(1 if failed else 0)
