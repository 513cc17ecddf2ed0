#!/usr/bin/env python3
"""A real headless Chromium talks to OstrelaExtension through a test web extension.

The extension sends native messages with runtime.sendNativeMessage (one host
process per message) and runtime.connectNative (one process, several messages),
and posts the replies to a collector of this test. A test agent listens on the
real agent address, 127.0.0.1:47653.
"""
import argparse
import json
import os
import shutil
import signal
import subprocess
import sys
import tempfile
import threading
import time
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer

SECRET = "s3cret-for-the-browser-test"
EXTENSION_ID = "ekfgpjddkkddijfidbnihfiiebjmbofb"  # from the key in web_extension/manifest.json
SUITE = "K7W2RQ9D4F.group.com.ostrela.safari-extension"


class Agent(BaseHTTPRequestHandler):
    requests = []

    def do_POST(self):
        body = json.loads(self.rfile.read(int(self.headers["Content-Length"])))
        Agent.requests.append({"path": self.path, "auth": self.headers.get("Authorization"),
                               "body": body})
        if body.get("id") == "slow":
            time.sleep(0.5)
        reply = json.dumps({"ok": True, "answered": body["type"], "id": "agent's own"}).encode()
        self.send_response(200)
        self.send_header("Content-Type", "application/json")
        self.send_header("Content-Length", str(len(reply)))
        self.end_headers()
        self.wfile.write(reply)

    def log_message(self, *args):
        pass


class Collector(BaseHTTPRequestHandler):
    results = None
    arrived = threading.Event()

    def do_POST(self):
        Collector.results = json.loads(self.rfile.read(int(self.headers["Content-Length"])))
        self.send_response(204)
        self.send_header("Access-Control-Allow-Origin", "*")
        self.end_headers()
        Collector.arrived.set()

    def log_message(self, *args):
        pass


def serve(handler, port):
    server = ThreadingHTTPServer(("127.0.0.1", port), handler)
    threading.Thread(target=server.serve_forever, daemon=True).start()
    return server


failures = []


def check(condition, what):
    print(("ok    " if condition else "FAIL  ") + what)
    if not condition:
        failures.append(what)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--host", required=True, help="the OstrelaExtension executable")
    parser.add_argument("--manifests", required=True, help="the manifest-writing script")
    parser.add_argument("--chromium", default="/usr/lib/chromium/chromium")
    parser.add_argument("--managed-folder", required=True,
                        help="the installed folder of forced preferences, mounted over in a namespace")
    args = parser.parse_args()
    if os.geteuid() != 0:
        print("skipped: needs root for a private mount namespace")
        return 0

    work = tempfile.mkdtemp(prefix="ostrela-browser-")
    browser = None
    try:
        home = os.path.join(work, "home")
        config = os.path.join(home, ".config")
        managed = os.path.join(work, "managed")
        # What any user could write: it must have no effect.
        forged = os.path.join(work, "forged")
        os.makedirs(os.path.join(forged, "ostrela/managed-preferences"))
        with open(os.path.join(forged, "ostrela/managed-preferences",
                               "com.ostrela.safari-extension.extension.json"), "w") as f:
            json.dump({"organizationName": "Forged", "endpoint": "http://forged.example"}, f)
        group = os.path.join(config, "ostrela/group-containers", SUITE)
        os.makedirs(managed)
        os.makedirs(group)
        with open(os.path.join(managed, "com.ostrela.safari-extension.extension.json"), "w") as f:
            json.dump({"organizationName": "Acme", "apiToken": "t0k", "Misspelt": 1}, f)
        with open(os.path.join(group, "preferences.json"), "w") as f:
            json.dump({"machineId": "machine-7", "agentRelaySecret": SECRET}, f)

        extension = os.path.join(work, "extension")
        shutil.copytree(os.path.join(os.path.dirname(__file__), "web_extension"), extension)
        collector = serve(Collector, 0)
        script = os.path.join(extension, "background.js")
        with open(script) as f:
            text = f.read().replace("__COLLECTOR_PORT__", str(collector.server_port))
        with open(script, "w") as f:
            f.write(text)
        serve(Agent, 47653)

        # Registered for this user as the README says; Chromium's profile is then
        # ~/.config/chromium, whose NativeMessagingHosts folder the registration wrote.
        env = dict(os.environ, HOME=home, XDG_CONFIG_HOME=config, XDG_CONFIG_DIRS=forged,
                   OSTRELA_LOG_LEVEL="debug")
        subprocess.run([args.manifests, "--user", "--executable", os.path.abspath(args.host),
                        "--chrome-id", EXTENSION_ID],
                       check=True, stdout=subprocess.DEVNULL, env=env)
        profile = os.path.join(config, "chromium")
        # The browser, and so every host it starts, sees the test's folder as the installed one.
        wrap = os.path.join(os.path.dirname(os.path.abspath(__file__)),
                            "../support/with_managed_preferences.sh")
        browser = subprocess.Popen(
            [wrap, args.managed_folder, managed, args.chromium, "--headless=new", "--no-sandbox", "--disable-gpu", "--disable-quic",
             "--no-first-run", "--disable-background-networking", "--disable-component-update",
             "--disable-sync", "--user-data-dir=" + profile, "--load-extension=" + extension,
             "about:blank"],
            env=env, stdout=subprocess.DEVNULL, stderr=open(os.path.join(work, "chromium.log"), "w"),
            start_new_session=True)
        if not Collector.arrived.wait(60):
            with open(os.path.join(work, "chromium.log")) as f:
                sys.stderr.write(f.read()[-4000:])
            print("FAIL  no results from the browser within 60 s")
            return 1

        results = Collector.results
        print(json.dumps(results, indent=1))
        check(isinstance(results, list) and len(results) == 5, "five results arrived")
        config_reply, token, scrub, unknown, port = results
        check(config_reply["reply"] == {"ok": True, "config": {"apiToken": "t0k", "organizationName": "Acme",
                                                               "machineId": "machine-7"},
                                        "id": 1, "unrecognizedForcedKeys": ["Misspelt"]},
              "getManagedConfig answered from the managed file and the App Group copy")
        check(token["reply"] == {"ok": True, "answered": "getToken", "id": "tok-1"},
              "getToken relayed, the agent's reply carries the message's id")
        check(scrub["reply"] == {"ok": True, "answered": "scrub", "id": 3}, "scrub relayed")
        check(unknown["reply"] == {"ok": False, "error": "Unknown native message type 'getLdap'", "id": 4},
              "a message without a host is answered with the routing error")
        check(port["error"] is None and len(port["replies"]) == 3, "connectNative got three replies")
        by_id = {json.dumps(r.get("id")): r for r in port["replies"]}
        check([r["id"] for r in port["replies"]][-1] == "slow",
              "the slow relayed reply came last: replies in completion order")
        check(by_id.get('"fast"', {}).get("ok") is True, "local answer on the same connection")
        check(by_id.get("true", {}).get("error") == "Unknown native message type 'nothing'",
              "boolean id echoed as a boolean")
        check(len(Agent.requests) == 3 and all(r["auth"] == "Bearer " + SECRET for r in Agent.requests),
              "the agent saw three requests, each with the bearer secret")
        check(all(r["path"] == "/browser-extension/native-message" for r in Agent.requests),
              "requests went to the agent's path")
        return 1 if failures else 0
    finally:
        if browser is not None:
            try:
                os.killpg(browser.pid, signal.SIGKILL)
            except ProcessLookupError:
                pass
            browser.wait()
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
