#!/usr/bin/env python3
"""A stand-in for the local agent on 127.0.0.1:47653, for the demonstration, the
start-up layout script and the browser tests: answers like an agent, records each
request, and prints it unless quiet. A message with "delayMs" is answered that much
later. Run on its own, or import it and call serve()."""
import json
import os
import sys
import threading
import time
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer

AGENT_PORT = 47653


def app_group_file():
    """The App Group store's file below $XDG_CONFIG_HOME, as scripts/app_group.sh spells it."""
    with open(os.path.join(os.path.dirname(os.path.abspath(__file__)), "app_group.sh")) as f:
        return next(line.split("=", 1)[1].strip() for line in f if line.startswith("app_group_file="))


def reply_to(message):
    """The agent's answer to a relayed message (its "id" is its own: the extension
    puts the message's id in the reply)."""
    kind = message.get("type")
    if kind == "getLdap":
        return {"ok": True, "ldap": {"uid": "jdoe", "mail": "jdoe@example.org"}, "id": "agent's own"}
    if kind == "getToken":
        return {"ok": True, "token": "eyJhbGciOiJub25lIn0.e30.", "id": "agent's own"}
    if kind == "scrub":
        return {"ok": False, "error": "redaction service is warming up"}
    return {"ok": False, "error": "unsupported"}


class SampleAgent(BaseHTTPRequestHandler):
    requests = []  # {"path", "auth", "body"} of each request, in arrival order
    quiet = False

    def do_POST(self):
        body = json.loads(self.rfile.read(int(self.headers.get("Content-Length", 0))))
        auth = self.headers.get("Authorization")
        SampleAgent.requests.append({"path": self.path, "auth": auth, "body": body})
        if not SampleAgent.quiet:
            shown = "Bearer <" + str(len(auth) - 7) + " characters>" if auth else "(none)"
            print(f"agent:   {self.command} {self.path}  Authorization: {shown}  "
                  f"body: {json.dumps(body)}", flush=True)
        time.sleep(body.get("delayMs", 0) / 1000)
        data = json.dumps(reply_to(body)).encode()
        self.send_response(200)
        self.send_header("Content-Type", "application/json")
        self.send_header("Content-Length", str(len(data)))
        self.end_headers()
        self.wfile.write(data)

    def log_message(self, *args):
        pass


def serve(quiet=False):
    """Starts the agent on a thread of its own; returns the server."""
    SampleAgent.quiet = quiet
    server = ThreadingHTTPServer(("127.0.0.1", AGENT_PORT), SampleAgent)
    threading.Thread(target=server.serve_forever, daemon=True).start()
    return server


if __name__ == "__main__":
    serve()
    print(f"sample agent listening on http://127.0.0.1:{AGENT_PORT}", flush=True)
    try:
        threading.Event().wait()
    except KeyboardInterrupt:
        sys.exit(0)
