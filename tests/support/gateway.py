#!/usr/bin/env python3
"""A local HTTPS test gateway.

Serves every path from a plan file (JSON, read at each request):
  {"/path": {"status": 200, "location": "/next", "set_cookie": "k=v", "body": "...", "delay": 5}}
("delay": seconds of silence after the request was read, before the answer).
Paths missing from the plan answer 404. Every request is appended to the log file
as one JSON line: method, path, headers (list of [name, value]) and body.
Writes its port to --port-file once it listens.
"""
import argparse
import http.server
import json
import ssl
import threading
import time

parser = argparse.ArgumentParser()
parser.add_argument("--cert", required=True)
parser.add_argument("--key", required=True)
parser.add_argument("--plan", required=True)
parser.add_argument("--log", required=True)
parser.add_argument("--port-file", required=True)
args = parser.parse_args()
lock = threading.Lock()


class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"

    def log_message(self, *unused):
        pass

    def handle_any(self):
        length = int(self.headers.get("Content-Length") or 0)
        body = self.rfile.read(length) if length else b""
        entry = {
            "method": self.command,
            "path": self.path,
            "headers": [[k, v] for k, v in self.headers.items()],
            "body": body.decode("latin-1"),
        }
        with lock:
            with open(args.log, "a", encoding="utf-8") as log:
                log.write(json.dumps(entry) + "\n")
        with open(args.plan, encoding="utf-8") as f:
            plan = json.load(f)
        step = plan.get(self.path.split("?")[0], {"status": 404})
        answer = step.get("body", "{}").encode()
        time.sleep(step.get("delay", 0))
        try:
            self.send_response(step["status"])
            if "location" in step:
                self.send_header("Location", step["location"])
            if "set_cookie" in step:
                self.send_header("Set-Cookie", step["set_cookie"])
            self.send_header("Content-Type", "application/json")
            self.send_header("Content-Length", str(len(answer)))
            self.end_headers()
            self.wfile.write(answer)
        except (ConnectionError, ssl.SSLError):
            pass  # the client gave up waiting (a delayed answer), as it should

    do_GET = do_POST = do_PUT = handle_any


server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Handler)
context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
context.load_cert_chain(args.cert, args.key)
server.socket = context.wrap_socket(server.socket, server_side=True)
with open(args.port_file + ".tmp", "w") as f:
    f.write(str(server.server_address[1]))
import os
os.replace(args.port_file + ".tmp", args.port_file)
server.serve_forever()
