#!/usr/bin/python3
"""A token introspection endpoint (RFC 7662) for the tests' Dovecot.

    token_check_server.py TOKENS_FILE

Listens on a free port of 127.0.0.1 and prints "ready PORT". Each POST
with a form body "token=..." is answered from TOKENS_FILE, read afresh for
every request: a line "TOKEN USER" makes that token active for that user;
any other token is inactive. Runs until SIGTERM.
"""
import http.server
import json
import signal
import sys
import threading
import time
import urllib.parse


def load(path):
    tokens = {}
    try:
        with open(path, encoding="utf-8") as f:
            for line in f:
                parts = line.split()
                if len(parts) == 2:
                    tokens[parts[0]] = parts[1]
    except OSError:
        pass
    return tokens


class Handler(http.server.BaseHTTPRequestHandler):
    def do_POST(self):
        length = int(self.headers.get("Content-Length") or 0)
        form = urllib.parse.parse_qs(self.rfile.read(length).decode("utf-8", "replace"))
        token = (form.get("token") or [""])[0]
        # Dovecot may send the token as a bearer header instead of the body.
        auth = self.headers.get("Authorization") or ""
        if not token and auth.lower().startswith("bearer "):
            token = auth[7:].strip()
        user = load(self.server.tokens_file).get(token)
        body = json.dumps({"active": True, "username": user} if user else {"active": False}).encode()
        self.send_response(200)
        self.send_header("Content-Type", "application/json")
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        self.wfile.write(body)

    do_GET = do_POST

    def log_message(self, *args):
        pass


def main():
    server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Handler)
    server.tokens_file = sys.argv[1]
    threading.Thread(target=server.serve_forever, daemon=True).start()
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(0))
    print("ready %d" % server.server_address[1], flush=True)
    while True:
        time.sleep(1)


if __name__ == "__main__":
    main()
