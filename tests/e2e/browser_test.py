#!/usr/bin/env python3
"""A real headless Chromium or Firefox ESR talks to OstrelaExtension through a test web extension.

The extension sends native messages with runtime.sendNativeMessage (one host
process per message) and runtime.connectNative (one process, several messages),
and posts the replies to a collector of this test. A test agent listens on the
real agent address, 127.0.0.1:47653: scripts/sample_agent.py.
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
import zipfile
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "../../scripts"))
from sample_agent import SampleAgent, app_group_file, reply_to, serve as serve_agent  # noqa: E402

SECRET = "s3cret-for-the-browser-test"
EXTENSION_ID = "ekfgpjddkkddijfidbnihfiiebjmbofb"  # from the key in web_extension/manifest.json
FIREFOX_EXTENSION_ID = "native-test@ostrela.example"


class Quiet(BaseHTTPRequestHandler):
    def log_message(self, *args):
        pass


class Collector(Quiet):
    results = None
    arrived = threading.Event()

    def do_POST(self):
        Collector.results = json.loads(self.rfile.read(int(self.headers["Content-Length"])))
        self.send_response(204)
        self.send_header("Access-Control-Allow-Origin", "*")
        self.end_headers()
        Collector.arrived.set()


def serve(handler, port):
    server = ThreadingHTTPServer(("127.0.0.1", port), handler)
    threading.Thread(target=server.serve_forever, daemon=True).start()
    return server


failures = []


def write(path, text):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "w") as f:
        f.write(text)


def check(condition, what):
    print(("ok    " if condition else "FAIL  ") + what)
    if not condition:
        failures.append(what)


def chromium_profile(work, extension, config):
    # The per-user registration writes ~/.config/chromium/NativeMessagingHosts,
    # the folder of the profile Chromium then uses.
    profile = os.path.join(config, "chromium")
    return profile, ["--headless=new", "--no-sandbox", "--disable-gpu", "--disable-quic",
                     "--no-first-run", "--disable-background-networking",
                     "--disable-component-update", "--disable-sync", "--user-data-dir=" + profile,
                     "--load-extension=" + extension, "about:blank"]


def firefox_profile(work, extension, config):
    # ESR loads an unsigned add-on placed in the profile's extensions folder as
    # <id>.xpi when signatures are not required and that scope is not disabled.
    with open(os.path.join(extension, "manifest.json")) as f:
        manifest = json.load(f)
    del manifest["key"], manifest["host_permissions"]
    manifest.update(manifest_version=2, background={"scripts": ["background.js"]},
                    permissions=["nativeMessaging", "http://127.0.0.1/*"],
                    browser_specific_settings={"gecko": {"id": FIREFOX_EXTENSION_ID}})
    profile = os.path.join(work, "firefox-profile")
    os.makedirs(os.path.join(profile, "extensions"))
    with zipfile.ZipFile(os.path.join(profile, "extensions", FIREFOX_EXTENSION_ID + ".xpi"), "w") as z:
        z.writestr("manifest.json", json.dumps(manifest))
        z.write(os.path.join(extension, "background.js"), "background.js")
    prefs = {"xpinstall.signatures.required": False, "extensions.autoDisableScopes": 0,
             "extensions.enabledScopes": 15, "browser.shell.checkDefaultBrowser": False,
             "datareporting.policy.dataSubmissionEnabled": False, "extensions.update.enabled": False,
             "toolkit.telemetry.reportingpolicy.firstRun": False, "app.update.disabledForTesting": True,
             "browser.startup.homepage_override.mstone": "ignore", "network.connectivity-service.enabled": False,
             "network.captive-portal-service.enabled": False}
    write(os.path.join(profile, "user.js"), "".join("user_pref(%s, %s);\n" % (json.dumps(name), json.dumps(value))
                                                    for name, value in prefs.items()))
    return profile, ["--headless", "--no-remote", "--profile", profile, "about:blank"]


BROWSERS = {"chromium": ("/usr/lib/chromium/chromium", chromium_profile),
            "firefox": ("/usr/lib/firefox-esr/firefox-esr", firefox_profile)}


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--browser", choices=BROWSERS, default="chromium")
    parser.add_argument("--host", help="the OstrelaExtension executable, registered for the test user")
    parser.add_argument("--manifests", help="the manifest-writing script")
    parser.add_argument("--installed", action="store_true", help="use the host the system's manifests name")
    parser.add_argument("--managed-dir", required=True, help="the installed folder of forced preferences")
    # Without it the test writes into --managed-dir itself.
    parser.add_argument("--mount-with", help="runs the browser with a folder mounted over --managed-dir")
    args = parser.parse_args()
    if not args.installed and not (args.host and args.manifests):
        parser.error("--host and --manifests, or --installed")

    work = tempfile.mkdtemp(prefix="ostrela-browser-")
    browser = None
    try:
        home = os.path.join(work, "home")
        config = os.path.join(home, ".config")
        managed = os.path.join(work, "managed") if args.mount_with else args.managed_dir
        # What any user could write: it must have no effect.
        forged = os.path.join(work, "forged")
        policy = "com.ostrela.safari-extension.extension.json"
        write(os.path.join(forged, "ostrela/managed-preferences", policy),
              json.dumps({"organizationName": "Forged", "endpoint": "http://forged.example"}))
        write(os.path.join(managed, policy), json.dumps({"organizationName": "Acme", "apiToken": "t0k", "Misspelt": 1}))
        write(os.path.join(config, app_group_file()),
              json.dumps({"machineId": "machine-7", "agentRelaySecret": SECRET}))

        extension = os.path.join(work, "extension")
        shutil.copytree(os.path.join(os.path.dirname(__file__), "web_extension"), extension)
        collector = serve(Collector, 0)
        script = os.path.join(extension, "background.js")
        with open(script) as f:
            write(script, f.read().replace("__COLLECTOR_PORT__", str(collector.server_port)))
        serve_agent(quiet=True)

        env = dict(os.environ, HOME=home, XDG_CONFIG_HOME=config, XDG_CONFIG_DIRS=forged,
                   OSTRELA_LOG_LEVEL="debug")
        if not args.installed:
            # Registered for this user, as the README tells users to.
            subprocess.run([args.manifests, "--user", "--executable", os.path.abspath(args.host),
                            "--chrome-id", EXTENSION_ID, "--firefox-id", FIREFOX_EXTENSION_ID],
                           check=True, stdout=subprocess.DEVNULL, env=env)
        program, make_profile = BROWSERS[args.browser]
        profile, arguments = make_profile(work, extension, config)
        log = os.path.join(work, "browser.log")
        mount = [args.mount_with, args.managed_dir, managed] if args.mount_with else []
        browser = subprocess.Popen(mount + [program] + arguments, env=env, stdout=subprocess.DEVNULL,
                                   stderr=open(log, "w"), start_new_session=True)
        if not Collector.arrived.wait(60):
            with open(log) as f:
                sys.stderr.write(f.read()[-4000:])
            print("FAIL  no results from the browser within 60 s")
            return 1

        results = Collector.results
        print(json.dumps(results, indent=1))
        check(isinstance(results, list) and len(results) == 4, "four results arrived")
        config_reply, token, scrub, port = results
        check(config_reply["reply"] == {"ok": True, "config": {"apiToken": "t0k", "organizationName": "Acme",
                                                               "machineId": "machine-7"},
                                        "id": 1, "unrecognizedForcedKeys": ["Misspelt"]},
              "getManagedConfig answered from the managed file and the App Group copy")
        check(token["reply"] == dict(reply_to({"type": "getToken"}), id="tok-1"),
              "getToken relayed, the agent's reply carries the message's id")
        check(scrub["reply"] == dict(reply_to({"type": "scrub"}), id=3), "scrub relayed")
        check(port["error"] is None and len(port["replies"]) == 3, "connectNative got three replies")
        by_id = {json.dumps(r.get("id")): r for r in port["replies"]}
        check(by_id.get('"relayed"', {}).get("ok") is True, "relayed answer on the same connection")
        check(by_id.get('"fast"', {}).get("ok") is True, "local answer on the same connection")
        check(by_id.get("true", {}).get("error") == "Unknown native message type 'nothing'",
              "boolean id echoed as a boolean")
        agent = SampleAgent.requests
        check(len(agent) == 3 and all(r["auth"] == "Bearer " + SECRET for r in agent),
              "the agent saw three requests, each with the bearer secret")
        check(all(r["path"] == "/browser-extension/native-message" for r in agent),
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
