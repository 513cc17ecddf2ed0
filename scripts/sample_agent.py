#!/usr/bin/env python3
"""A stand-in for the local agent, for the demonstration: listens on
127.0.0.1:47653, prints each request it receives and answers like an agent."""
import json
import sys
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer


class SampleAgent(BaseHTTPRequestHandler):
    def do_POST(self):
        body = self.rfile.read(int(self.headers.get("Content-Length", 0)))
        auth = self.headers.get("Authorization", "")
        shown = "Bearer <" + str(len(auth) - 7) + " characters>" if auth else "(none)"
        print(f"agent:   {self.command} {self.path}  Authorization: {shown}  body: {body.decode()}",
              flush=True)
        message = json.loads(body)
        kind = message.get("type")
        if kind == "getLdap":
            reply = {"ok": True, "ldap": {"uid": "jdoe", "mail": "jdoe@example.org"}}
        elif kind == "getToken":
            reply = {"ok": True, "token": "eyJhbGciOiJub25lIn0.e30."}
        elif kind == "scrub":
            reply = {"ok": False, "error": "redaction service is warming up"}
        else:
            reply = {"ok": False, "error": "unsupported"}
        data = json.dumps(reply).encode()
        self.send_response(200)
        self.send_header("Content-Type", "application/json")
        self.send_header("Content-Length", str(len(data)))
        self.end_headers()
        self.wfile.write(data)

    def log_message(self, *args):
        pass


if __name__ == "__main__":
    server = ThreadingHTTPServer(("127.0.0.1", 47653), SampleAgent)
    print("sample agent listening on http://127.0.0.1:47653", flush=True)
    try:
        server.serve_forever()
    except KeyboardInterrupt:
        sys.exit(0)
