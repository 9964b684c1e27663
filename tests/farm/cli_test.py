#!/usr/bin/python3
"""bringup-farm against a stand-in LAVA server (the REST API v0.2 as a LAVA server answers it,
served on 127.0.0.1 by this script, with the server's submission schema where it is installed): submit, wait and report on a good run, then each kind of bad
input: a server that does not answer, a refused token, a token others can read, a proxy's passing
502, malformed results, an unknown parameter. Prints each failure, then "N passed, N failed".
Usage: cli_test.py BRINGUP_FARM SOURCE_DIR"""
import http.server
import json
import os
import shutil
import socket
import subprocess
import sys
import tempfile
import threading

import yaml

# Where lava-server is installed, the stand-in refuses what the real server's submission schema
# refuses, so the jobs bringup-farm renders are the ones a server takes.
try:
    from django.conf import settings

    settings.configure(EXTRA_CONTEXT_VARIABLES=[])
    from lava_scheduler_app.schema import validate_submission
except ImportError:
    validate_submission = None

TOOL, TOP = sys.argv[1], sys.argv[2]
JOB = os.path.join(TOP, "packaging", "lava", "board-image-job.yaml")
TOKEN = "s3cret"
passed = failed = 0


def check(what, ok, detail=""):
    global passed, failed
    if ok:
        passed += 1
    else:
        failed += 1
        print("FAILED: %s%s" % (what, ("\n  " + detail.replace("\n", "\n  ")) if detail else ""))


# The server's state: the jobs it was given, how each ends, and faults to answer with.
server = {"jobs": {}, "polls": {}, "fail_502": 0, "malformed": False, "posts": 0}
ENDINGS = {
    # tag: (health, suites, tests as (suite, name, result, measurement, unit, metadata))
    "good": ("Complete", [(1, "lava"), (2, "0_kernel-board"), (3, "1_bringup-check")],
             [(2, "module", "pass", None, "", ""), (3, "audio.capture", "pass", "10.0400000000", "seconds", ""),
              (3, "usb.controller", "fail", None, "", ""), (3, "gpu.lanterna", "pass", "29.5000000000", "fps", ""),
              (1, "job", "pass", None, "", "")]),
    "dead": ("Incomplete", [(1, "lava")],
             [(1, "auto-login-action", "fail", None, "", ""),
              (1, "job", "fail", None, "", "error_msg: auto-login-action timed out after 600 seconds\n"
                                           "error_type: Infrastructure\n")]),
}


class Lava(http.server.BaseHTTPRequestHandler):
    def log_message(self, *args):
        pass

    def answer(self, status, body):
        data = body.encode() if isinstance(body, str) else json.dumps(body).encode()
        self.send_response(status)
        self.send_header("Content-Type", "application/json")
        self.send_header("Content-Length", str(len(data)))
        self.end_headers()
        self.wfile.write(data)

    def authorised(self):
        if self.headers.get("Authorization") != "Token " + TOKEN:
            self.answer(401, {"detail": "Invalid token."})
            return False
        return True

    def do_POST(self):
        if not self.authorised():
            return
        server["posts"] += 1
        body = json.loads(self.rfile.read(int(self.headers["Content-Length"])))
        if validate_submission:
            try:
                validate_submission(yaml.safe_load(body["definition"]))
            except Exception as e:
                self.answer(400, {"message": "Invalid job definition: %s" % e})
                return
        tag = "good" if "- good" in body["definition"] else "dead"
        jid = 100 + len(server["jobs"])
        server["jobs"][jid] = tag
        self.answer(201, {"message": "job(s) successfully submitted", "job_ids": [jid]})

    def do_GET(self):
        if not self.authorised():
            return
        parts = self.path.split("?")[0].strip("/").split("/")  # api v0.2 jobs ID [suites|tests]
        jid = int(parts[3])
        health, suites, tests = ENDINGS[server["jobs"][jid]]
        if len(parts) == 4:
            # Running on the first poll, finished after.
            polls = server["polls"][jid] = server["polls"].get(jid, 0) + 1
            done = polls > 1
            self.answer(200, {"id": jid, "state": "Finished" if done else "Running",
                              "health": health if done else "Unknown", "actual_device": "board-" + server["jobs"][jid],
                              "health_check": False, "submit_time": "2026-12-08T23:00:00.000000Z",
                              "start_time": "2026-12-08T23:00:30.000000Z",
                              "end_time": "2026-12-08T23:03:00.000000Z" if done else None})
        elif parts[4] == "suites":
            self.answer(200, {"next": None, "results": [{"id": i, "name": n, "job": jid} for i, n in suites]})
        elif server["fail_502"] > 0:
            server["fail_502"] -= 1
            self.answer(502, "<html>502 Proxy Error</html>")
        elif server["malformed"]:
            self.answer(200, '{"results": [{"name": "audio.capture", "suite": 3')
        else:
            # Two pages, as the API pages a long list.
            offset = 2 if "offset=2" in self.path else 0
            rows = [{"name": n, "result": r, "suite": s, "measurement": m, "unit": u, "metadata": "case: %s\n%s" % (n, meta)}
                    for s, n, r, m, u, meta in tests]
            nxt = "http://127.0.0.1:%d/api/v0.2/jobs/%d/tests/?limit=2&offset=2" % (port, jid) if offset == 0 else None
            self.answer(200, {"next": nxt, "results": rows[offset:offset + 2] if offset == 0 else rows[2:]})


httpd = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Lava)
port = httpd.server_address[1]
threading.Thread(target=httpd.serve_forever, daemon=True).start()
url = "http://127.0.0.1:%d/" % port

work = tempfile.mkdtemp(prefix="farm-cli-")
token = os.path.join(work, "token")
with open(token, "w") as f:
    f.write(TOKEN + "\n")
os.chmod(token, 0o600)


def farm(*args, token_file=token, out="out"):
    r = subprocess.run([TOOL] + list(args) + ["--token-file", token_file, "--out", os.path.join(work, out)],
                       capture_output=True, text=True, timeout=120)
    return r.returncode, r.stdout, r.stderr


def read(out, name):
    with open(os.path.join(work, out, name)) as f:
        return f.read()


# A good run: two boards, one checked, one that never booted.
rc, so, se = farm("submit", "--url", url, "--job", JOB, "--tag", "good", "--tag", "dead",
                  "--param", "ARGS=--switch --only audio,usb")
check("submit exits 0", rc == 0, se)
check("submit names each job", "job 100 submitted for good" in so and "job 101 submitted for dead" in so, so)
rc, so, se = farm("wait", "--timeout", "60")
check("wait exits 0 once every job has finished", rc == 0, se)
check("wait tells each job's state as it changes", "job 100: Running on board-good" in so and
      "job 100: Finished Complete on board-good" in so, so)
server["fail_502"] = 2
rc, so, se = farm("report")
check("report exits 1 when a board was not checked", rc == 1, so + se)
doc = json.loads(read("out", "farm.json"))
good, dead = doc["jobs"]
check("the proxy's 502 is retried and the checks read across pages",
      [(c["name"], c["verdict"]) for c in good["checks"]] ==
      [("audio.capture", "pass"), ("usb.controller", "fail"), ("gpu.lanterna", "pass")], json.dumps(good))
check("measurements with units", good["checks"][0].get("measurement") == 10.04 and good["checks"][2]["units"] == "fps")
check("waits and runs", good["waited_s"] == 30 and good["ran_s"] == 150, json.dumps(good))
check("a board that never booted is an infrastructure failure, with no verdict",
      dead["outcome"] == "boot failed" and dead["checks"] == [] and "auto-login-action timed out" in dead["why"],
      json.dumps(dead))
check("the report line says it", "job 101 (board-dead): not checked: boot failed" in so, so)
junit = read("out", "farm.xml")
check("JUnit: one suite a board", junit.count("<testsuite ") == 2 and 'error type="boot failed"' in junit)
html = read("out", "farm.html")
check("farm.html: the matrix", "29.5 fps" in html and "Not checked (boot failed)" in html)

# Bad input: each a clear line and the right status, nothing taken for a pass.
closed = socket.socket()
closed.bind(("127.0.0.1", 0))
dead_url = "http://127.0.0.1:%d/" % closed.getsockname()[1]
closed.close()
rc, so, se = farm("submit", "--url", dead_url, "--job", JOB, out="down")
check("a server that does not answer: exit 3, one line", rc == 3 and se.count("\n") == 1 and "no answer from" in se, se)
check("nothing kept of a failed submission", not os.path.exists(os.path.join(work, "down", "jobs.json")))

bad = os.path.join(work, "bad-token")
with open(bad, "w") as f:
    f.write("wrong\n")
os.chmod(bad, 0o600)
rc, so, se = farm("report", token_file=bad)
check("a refused token: exit 3", rc == 3 and "refused the token (HTTP 401)" in se, se)
check("no job passes on a refused token", all(j["outcome"] == "no results" for j in json.loads(read("out", "farm.json"))["jobs"]))

os.chmod(bad, 0o644)
rc, so, se = farm("report", token_file=bad)
check("a token others can read is refused", rc == 2 and "can be read by others" in se, se)

server["malformed"] = True
rc, so, se = farm("report")
check("malformed results: exit 3 and the board not checked", rc == 3 and "not JSON" in se, "%d %s %s" % (rc, so, se))
check("malformed results: no verdict shown",
      json.loads(read("out", "farm.json"))["jobs"][0]["outcome"] == "no results" and
      "results not read" in json.loads(read("out", "farm.json"))["jobs"][0]["why"])

posts = server["posts"]
rc, so, se = farm("submit", "--url", url, "--job", JOB, "--tag", "good", "--param", "NO_SUCH=1", out="badparam")
check("an unknown parameter: exit 2, nothing submitted", rc == 2 and server["posts"] == posts and "NO_SUCH" in se, se)

httpd.shutdown()
shutil.rmtree(work)
print("%d passed, %d failed" % (passed, failed))
sys.exit(1 if failed else 0)
