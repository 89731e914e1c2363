#!/usr/bin/python3
"""A local OAuth2 authorization server for the tests (standard library only).

    oauth_server.py [--host 127.0.0.1] [--port 0] [--port-file FILE]
                    [--user NAME] [--client-id ID] [--client-secret SECRET]
                    [--expires-in SECONDS] [--rotate] [--until-pid PID]

Prints "ready HOST PORT" once it listens (and writes PORT to FILE), then
serves until SIGTERM or SIGINT, or until process PID has ended:

  GET  /authorize   checks response_type=code, client_id and an S256
                    code_challenge, then answers as the authorize mode says:
                    "redirect" (302 to redirect_uri with code and state),
                    "wrong-state" (the same with another state), "error"
                    (error=access_denied), "hang" (never answers).
  POST /token       grant_type=authorization_code (checks the code, client_id,
                    redirect_uri, the PKCE verifier against the challenge and
                    the client secret when one is set) or refresh_token;
                    answers access_token, token_type, expires_in and, for a
                    code (and each refresh with --rotate), refresh_token.
                    RFC 6749 errors: invalid_grant, invalid_client, ...
  POST /introspect  RFC 7662: token=... (GET ?token=... and an
                    "Authorization: Bearer" header work too) gives
                    {"active": true, "username": ..., "email": ...} for a live
                    access token, {"active": false} otherwise (what Dovecot's
                    oauth2 passdb asks with introspection_mode = post).
  POST /control     action=authorize-MODE | expire | revoke | refuse | accept
                    | reset: expire ends every access token issued so far,
                    revoke every token, refuse makes /token answer
                    invalid_client until accept, reset forgets all. Answers
                    "ok".
  GET  /stats       {"authorize": n, "code": n, "refresh": n, "introspect": n,
                    "last_authorize": "<query of the last /authorize>"}.

The user a token belongs to is the login_hint of the authorization request,
else --user.

Dovecot 2.3 checks the tokens here with
    passdb { driver = oauth2  mechanisms = xoauth2 oauthbearer  args = FILE }
    auth_mechanisms = xoauth2 oauthbearer
and in FILE:
    introspection_mode = post
    introspection_url = http://127.0.0.1:PORT/introspect
    username_attribute = username
    active_attribute = active
    active_value = true
An expired or revoked token then gets Dovecot's "+ " error challenge.
"""
import argparse
import base64
import hashlib
import json
import os
import secrets
import signal
import sys
import threading
import time
import urllib.parse
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer


class State:
    def __init__(self, args):
        self.args = args
        self.lock = threading.Lock()
        self.reset()

    def reset(self):
        self.mode = "redirect"
        self.refusing = False
        self.codes = {}  # code -> (challenge, client_id, redirect_uri, user)
        self.access = {}  # token -> (user, expiry)
        self.refresh = {}  # token -> user
        self.stats = {"authorize": 0, "code": 0, "refresh": 0, "introspect": 0, "last_authorize": ""}


def s256(verifier):
    digest = hashlib.sha256(verifier.encode("ascii")).digest()
    return base64.urlsafe_b64encode(digest).rstrip(b"=").decode("ascii")


class Handler(BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"
    state = None

    def log_message(self, *args):
        pass

    def reply(self, status, body, content_type="application/json", headers=()):
        data = body.encode("utf-8") if isinstance(body, str) else body
        self.send_response(status)
        self.send_header("Content-Type", content_type)
        self.send_header("Content-Length", str(len(data)))
        self.send_header("Cache-Control", "no-store")
        for name, value in headers:
            self.send_header(name, value)
        self.end_headers()
        self.wfile.write(data)

    def error(self, status, code, description=""):
        body = {"error": code}
        if description:
            body["error_description"] = description
        self.reply(status, json.dumps(body))

    def form(self):
        length = int(self.headers.get("Content-Length") or 0)
        text = self.rfile.read(length).decode("utf-8", "replace") if length else ""
        return dict(urllib.parse.parse_qsl(text, keep_blank_values=True))

    def do_GET(self):
        url = urllib.parse.urlsplit(self.path)
        query = dict(urllib.parse.parse_qsl(url.query, keep_blank_values=True))
        if url.path == "/authorize":
            self.authorize(url.query, query)
        elif url.path == "/introspect":
            self.introspect(query)
        elif url.path == "/stats":
            with self.state.lock:
                self.reply(200, json.dumps(self.state.stats))
        else:
            self.reply(404, "not found", "text/plain")

    def do_POST(self):
        path = urllib.parse.urlsplit(self.path).path
        fields = self.form()
        if path == "/token":
            self.token(fields)
        elif path == "/introspect":
            self.introspect(fields)
        elif path == "/control":
            self.control(fields.get("action", ""))
        else:
            self.reply(404, "not found", "text/plain")

    def authorize(self, raw, q):
        st = self.state
        with st.lock:
            st.stats["authorize"] += 1
            st.stats["last_authorize"] = raw
            mode = st.mode
        redirect = q.get("redirect_uri", "")
        if (q.get("response_type") != "code" or q.get("client_id") != st.args.client_id
                or q.get("code_challenge_method") != "S256" or len(q.get("code_challenge", "")) != 43
                or not redirect.startswith("http://127.0.0.1:")):
            self.reply(400, "bad authorization request", "text/plain")
            return
        if mode == "hang":
            # The user never finishes: hold the browser until the server stops.
            while True:
                time.sleep(3600)
        answer = {"state": q.get("state", "")}
        if mode == "error":
            answer["error"] = "access_denied"
            answer["error_description"] = "The user declined."
        else:
            code = secrets.token_urlsafe(16)
            with st.lock:
                st.codes[code] = (q["code_challenge"], q["client_id"], redirect,
                                  q.get("login_hint") or st.args.user)
            answer["code"] = code
            if mode == "wrong-state":
                answer["state"] = "not-" + answer["state"]
        location = redirect + ("&" if "?" in redirect else "?") + urllib.parse.urlencode(answer)
        self.reply(302, "", "text/plain", [("Location", location)])

    def issue(self, user, with_refresh):
        st = self.state
        access = secrets.token_urlsafe(24)
        st.access[access] = (user, time.time() + st.args.expires_in)
        body = {"access_token": access, "token_type": "Bearer", "expires_in": st.args.expires_in}
        if with_refresh:
            refresh = secrets.token_urlsafe(24)
            st.refresh[refresh] = user
            body["refresh_token"] = refresh
        return body

    def token(self, f):
        st = self.state
        with st.lock:
            if st.refusing:
                self.error(401, "invalid_client", "Refused by the test.")
                return
            if f.get("client_id") != st.args.client_id or f.get("client_secret") != st.args.client_secret:
                self.error(401, "invalid_client", "Unknown client or wrong secret.")
                return
            grant = f.get("grant_type")
            if grant == "authorization_code":
                entry = st.codes.pop(f.get("code", ""), None)
                if entry is None:
                    self.error(400, "invalid_grant", "Unknown or used code.")
                    return
                challenge, client_id, redirect, user = entry
                if f.get("redirect_uri") != redirect:
                    self.error(400, "invalid_grant", "redirect_uri differs.")
                    return
                if s256(f.get("code_verifier", "")) != challenge:
                    self.error(400, "invalid_grant", "PKCE verification failed.")
                    return
                st.stats["code"] += 1
                self.reply(200, json.dumps(self.issue(user, True)))
            elif grant == "refresh_token":
                old = f.get("refresh_token", "")
                user = st.refresh.get(old)
                if user is None:
                    self.error(400, "invalid_grant", "Token has been expired or revoked.")
                    return
                st.stats["refresh"] += 1
                if st.args.rotate:
                    del st.refresh[old]
                self.reply(200, json.dumps(self.issue(user, st.args.rotate)))
            else:
                self.error(400, "unsupported_grant_type")

    def introspect(self, fields):
        token = fields.get("token", "")
        auth = self.headers.get("Authorization", "")
        if not token and auth.lower().startswith("bearer "):
            token = auth[7:].strip()
        st = self.state
        with st.lock:
            st.stats["introspect"] += 1
            entry = st.access.get(token)
            if entry is None or entry[1] <= time.time():
                self.reply(200, json.dumps({"active": False}))
                return
            user, expiry = entry
            self.reply(200, json.dumps({"active": True, "username": user, "email": user,
                                        "client_id": st.args.client_id, "exp": int(expiry)}))

    def control(self, action):
        st = self.state
        with st.lock:
            if action.startswith("authorize-") and action[10:] in ("redirect", "wrong-state", "error", "hang"):
                st.mode = action[10:]
            elif action == "expire":
                st.access = {t: (u, 0) for t, (u, _) in st.access.items()}
            elif action == "revoke":
                st.access.clear()
                st.refresh.clear()
            elif action in ("refuse", "accept"):
                st.refusing = action == "refuse"
            elif action == "reset":
                st.reset()
            else:
                self.reply(400, "unknown action", "text/plain")
                return
        self.reply(200, "ok", "text/plain")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--host", default="127.0.0.1")
    parser.add_argument("--port", type=int, default=0)
    parser.add_argument("--port-file")
    parser.add_argument("--user", default="user")
    parser.add_argument("--client-id", default="boxsweeper-test")
    parser.add_argument("--client-secret")
    parser.add_argument("--expires-in", type=int, default=3600)
    parser.add_argument("--rotate", action="store_true")
    parser.add_argument("--until-pid", type=int)
    args = parser.parse_args()

    Handler.state = State(args)
    server = ThreadingHTTPServer((args.host, args.port), Handler)
    server.daemon_threads = True
    port = server.server_address[1]
    if args.port_file:
        with open(args.port_file + ".tmp", "w") as f:
            f.write("%d\n" % port)
        os.replace(args.port_file + ".tmp", args.port_file)

    def stop(*_):
        threading.Thread(target=server.shutdown, daemon=True).start()

    signal.signal(signal.SIGTERM, stop)
    signal.signal(signal.SIGINT, stop)
    if args.until_pid:
        def watch():
            while True:
                try:
                    os.kill(args.until_pid, 0)
                except OSError:
                    stop()
                    return
                time.sleep(0.5)
        threading.Thread(target=watch, daemon=True).start()

    print("ready %s %d" % (args.host, port), flush=True)
    server.serve_forever(poll_interval=0.2)
    server.server_close()
    os._exit(0)  # a hanging /authorize thread must not hold the exit


if __name__ == "__main__":
    sys.exit(main())
