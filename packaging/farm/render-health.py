#!/usr/bin/python3
"""Prints the qemu device type's health check: the deploy and boot actions of the board image's job
(packaging/lava/board-image-job.yaml) with the images taken from the folder given, then the test
part of packaging/farm/health-check.yaml.
Usage: render-health.py IMAGE_FOLDER"""
import os
import sys

import yaml

here = os.path.dirname(os.path.abspath(__file__))
with open(os.path.join(here, "..", "lava", "board-image-job.yaml")) as f:
    job = yaml.safe_load(f)
with open(os.path.join(here, "health-check.yaml")) as f:
    health = yaml.safe_load(f)
actions = [a for a in job["actions"] if "deploy" in a or "boot" in a]
for a in actions:
    for image in a.get("deploy", {}).get("images", {}).values():
        image["url"] = "file://" + os.path.join(os.path.abspath(sys.argv[1]), os.path.basename(image["url"]))
job["job_name"] = health["job_name"]
job["timeouts"]["job"] = health["timeouts"]["job"]
job["actions"] = actions + [{"test": health["test"]}]
yaml.safe_dump(job, sys.stdout, sort_keys=False)
