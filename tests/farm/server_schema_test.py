#!/usr/bin/python3
"""The farm's LAVA files as a LAVA server takes them, checked with the server's own code: every job
(the board image's job, as run-jobs.py renders it for each board, and the device type's health check
as packaging/farm/render-health.py makes it) against the server's submission schema, strictly as the
server applies it; every board's device dictionary (packaging/farm/lab.sh dictionaries) rendered
through the server's qemu device-type template and checked with the server's device schema, with the
QEMU options that make each board what it is. Exits 77 (skipped) where lava-server is not installed.
Prints each failure, then "N passed, N failed".
Usage: server_schema_test.py SOURCE_DIR"""
import os
import subprocess
import sys
import tempfile
import types

import yaml

try:
    from django.conf import settings

    settings.configure(EXTRA_CONTEXT_VARIABLES=[])
    import jinja2
    from lava_common.schemas import validate as validate_job
    from lava_scheduler_app.schema import validate_device, validate_submission
except ImportError as e:
    print("skipped: no lava-server here (%s); make farm installs it" % e)
    sys.exit(77)

TOP = sys.argv[1]
TEMPLATES = "/usr/share/lava-server/device-types"
passed = failed = 0


def check(what, fn):
    global passed, failed
    try:
        fn()
    except Exception as e:  # the schemas' own errors say what is wrong
        failed += 1
        print("FAILED: %s: %s" % (what, e))
    else:
        passed += 1


# The server refuses a job its submission schema refuses; the job schema it applies loosely (its
# strict form refuses "parameters" on an inline definition, where the submission schema wants them).
def server_accepts(name, job):
    check(name + ": submission schema", lambda: validate_submission(job))
    check(name + ": job schema", lambda: validate_job(job, strict=False))


with open(os.path.join(TOP, "packaging", "lava", "board-image-job.yaml")) as f:
    server_accepts("board-image-job.yaml", yaml.safe_load(f))

run_jobs = types.ModuleType("run_jobs")
path = os.path.join(TOP, "packaging", "lava", "run-jobs.py")
run_jobs.__file__ = path
with open(path) as f:
    exec(compile(f.read(), path, "exec"), run_jobs.__dict__)
for board in run_jobs.BOARDS:
    with tempfile.TemporaryDirectory() as work:
        run_jobs.render(board, run_jobs.BOARDS[board], work, os.path.join(work, "share"))
        with open(os.path.join(work, "job.yaml")) as f:
            server_accepts("run-jobs.py's %s job" % board, yaml.safe_load(f))

health = subprocess.run(["/usr/bin/python3", os.path.join(TOP, "packaging", "farm", "render-health.py"), "/srv/image"],
                        capture_output=True, text=True, check=True).stdout
server_accepts("the health check", yaml.safe_load(health))

with tempfile.TemporaryDirectory() as work:
    env = dict(os.environ, FARM_BROKEN="1", FARM_BOARDS="100", FARM_STATE="/srv/farm")
    subprocess.run([os.path.join(TOP, "packaging", "farm", "lab.sh"), "dictionaries", work], env=env, check=True)
    names = sorted(n[:-len(".jinja2")] for n in os.listdir(work))
    with open(os.path.join(TOP, "packaging", "farm", "boards.conf")) as f:
        conf = [line.split() for line in f if line.split() and not line.startswith("#")]
    check("a dictionary for every board of boards.conf",
          lambda: None if names == sorted(c[0] for c in conf) else (_ for _ in ()).throw(AssertionError(names)))
    loader = jinja2.FileSystemLoader([work, TEMPLATES])
    env = jinja2.Environment(loader=loader, trim_blocks=True, autoescape=False)
    for c in conf:
        name, settings_ = c[0], c[3:-1]

        def device(name=name, settings_=settings_):
            rendered = yaml.safe_load(env.get_template(name + ".jinja2").render())
            validate_device(rendered)
            qemu = rendered["actions"]["boot"]["methods"]["qemu"]["parameters"]
            options = " ".join(qemu["options"]) + " " + " ".join(qemu.get("extra", []))
            wanted = ["qemu-system-aarch64" in qemu["command"], "-m 2048" in options,
                      rendered["actions"]["deploy"]["methods"]["image"]["parameters"]["guest"]["interface"] == "virtio",
                      "/srv/farm/shares/%s,mount_tag=results" % name in options]
            wanted += ["-fw_cfg name=opt/bringup_sim/%s,string=%s" % tuple(s.split("=", 1)) in options
                       for s in settings_ if s != "-"]
            if not all(wanted):
                raise AssertionError("not the board's QEMU set-up: %s %s" % (qemu["command"], options))

        check("%s's dictionary" % name, device)

print("%d passed, %d failed" % (passed, failed))
sys.exit(1 if failed else 0)
