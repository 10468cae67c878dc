#!/usr/bin/env python3
"""A small OAuth2 authorization server for the tests, on 127.0.0.1: it signs every user in without
asking, issues, refreshes and revokes tokens, and answers a POP3 server's token introspection.

usage: oauth_server.py [--port N] [--expires-in SECONDS] [--user NAME]... [--on-refresh keep|rotate|omit]

Prints the port on stdout as one line once it accepts connections, and runs until SIGTERM or
SIGINT, or until the process that started it ends. Python 3 standard library only.

Endpoints (form bodies are application/x-www-form-urlencoded, answers JSON):

  GET  /authorize   response_type=code, client_id, redirect_uri (must be http://127.0.0.1:PORT/...),
                    scope, state, code_challenge, code_challenge_method=S256, and login_hint=NAME
                    (the user signed in; the first --user when missing). Answers 302 to
                    redirect_uri?code=...&state=...; with an unknown user, a redirect with
                    error=access_denied; without PKCE S256, error=invalid_request.
  POST /token       grant_type=authorization_code with code, redirect_uri, client_id, code_verifier
                    (checked against the challenge: SHA-256, base64url without padding); or
                    grant_type=refresh_token with refresh_token and client_id. Answers
                    {"access_token", "token_type": "Bearer", "expires_in", "refresh_token"};
                    a refresh keeps the refresh token. Refused: 400 {"error": "invalid_grant"}.
                    --on-refresh rotate: a refresh answers with a new refresh token and revokes the
                    one it was given; omit: its answer has no refresh_token (the old one stays good).
  POST /introspect  token=... (Dovecot's introspection_mode = post). Answers
                    {"active": true, "email": NAME, "username": NAME} for a live access token,
                    {"active": false} otherwise.
  POST /control/issue   user=NAME: tokens for NAME without the browser, answered as /token does.
  POST /control/expire  user=NAME: every access token of NAME expires now (its refresh token lives).
  POST /control/revoke  user=NAME: every token of NAME, refresh tokens included, is revoked.
  GET  /control/log     the requests seen so far, one JSON object a line ({"path", "form"}).
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

lock = threading.Lock()
codes = {}  # code -> (user, client_id, redirect_uri, challenge)
access = {}  # token -> (user, expiry)
refresh = {}  # token -> user
seen = []
options = None


def s256(verifier):
    digest = hashlib.sha256(verifier.encode("ascii")).digest()
    return base64.urlsafe_b64encode(digest).rstrip(b"=").decode("ascii")


def issue(user, refresh_token=None):
    token = "at-" + secrets.token_urlsafe(24)
    access[token] = (user, time.time() + options.expires_in)
    if refresh_token is None:
        refresh_token = "rt-" + secrets.token_urlsafe(24)
        refresh[refresh_token] = user
    return {"access_token": token, "token_type": "Bearer", "expires_in": options.expires_in,
            "refresh_token": refresh_token}


class Handler(BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"

    def log_message(self, *args):
        pass

    def answer(self, status, body=None, headers=()):
        data = json.dumps(body).encode() if body is not None else b""
        self.send_response(status)
        for name, value in headers:
            self.send_header(name, value)
        if body is not None:
            self.send_header("Content-Type", "application/json")
        self.send_header("Content-Length", str(len(data)))
        self.end_headers()
        self.wfile.write(data)

    def redirect(self, uri, params):
        glue = "&" if "?" in uri else "?"
        self.answer(302, None, [("Location", uri + glue + urllib.parse.urlencode(params))])

    def do_GET(self):
        url = urllib.parse.urlsplit(self.path)
        q = dict(urllib.parse.parse_qsl(url.query))
        with lock:
            seen.append({"path": url.path, "form": q})
            if url.path == "/control/log":
                text = "".join(json.dumps(r) + "\n" for r in seen[:-1]).encode()
                self.send_response(200)
                self.send_header("Content-Length", str(len(text)))
                self.end_headers()
                self.wfile.write(text)
                return
            if url.path != "/authorize":
                return self.answer(404, {"error": "not_found"})
            redirect_uri = q.get("redirect_uri", "")
            if not redirect_uri.startswith("http://127.0.0.1:"):
                return self.answer(400, {"error": "invalid_request"})
            state = q.get("state", "")
            user = q.get("login_hint") or options.user[0]
            if q.get("response_type") != "code" or q.get("code_challenge_method") != "S256" \
                    or not q.get("code_challenge"):
                return self.redirect(redirect_uri, {"error": "invalid_request", "state": state})
            if user not in options.user:
                return self.redirect(redirect_uri, {"error": "access_denied", "state": state})
            code = "c-" + secrets.token_urlsafe(16)
            codes[code] = (user, q.get("client_id", ""), redirect_uri, q["code_challenge"])
            self.redirect(redirect_uri, {"code": code, "state": state})

    def do_POST(self):
        length = int(self.headers.get("Content-Length") or 0)
        form = dict(urllib.parse.parse_qsl(self.rfile.read(length).decode("utf-8", "replace")))
        path = urllib.parse.urlsplit(self.path).path
        with lock:
            seen.append({"path": path, "form": form})
            if path == "/token":
                return self.token(form)
            if path == "/introspect":
                user, expiry = access.get(form.get("token", ""), (None, 0))
                if user is None or expiry <= time.time():
                    return self.answer(200, {"active": False})
                return self.answer(200, {"active": True, "email": user, "username": user})
            if path == "/control/issue":
                if form.get("user") not in options.user:
                    return self.answer(400, {"error": "access_denied"})
                return self.answer(200, issue(form["user"]))
            if path in ("/control/expire", "/control/revoke"):
                user = form.get("user", "")
                for token, (owner, _) in list(access.items()):
                    if owner == user:
                        access[token] = (owner, 0) if path.endswith("expire") else None
                        if access[token] is None:
                            del access[token]
                if path.endswith("revoke"):
                    for token, owner in list(refresh.items()):
                        if owner == user:
                            del refresh[token]
                return self.answer(200, {})
            self.answer(404, {"error": "not_found"})

    def token(self, form):
        grant = form.get("grant_type")
        if grant == "authorization_code":
            entry = codes.pop(form.get("code", ""), None)
            if entry is None:
                return self.answer(400, {"error": "invalid_grant"})
            user, client_id, redirect_uri, challenge = entry
            if form.get("client_id") != client_id or form.get("redirect_uri") != redirect_uri \
                    or s256(form.get("code_verifier", "")) != challenge:
                return self.answer(400, {"error": "invalid_grant"})
            return self.answer(200, issue(user))
        if grant == "refresh_token":
            token = form.get("refresh_token", "")
            user = refresh.get(token)
            if user is None:
                return self.answer(400, {"error": "invalid_grant",
                                         "error_description": "refresh token revoked"})
            if options.on_refresh == "rotate":
                del refresh[token]
                return self.answer(200, issue(user))
            tokens = issue(user, token)
            if options.on_refresh == "omit":
                del tokens["refresh_token"]
            return self.answer(200, tokens)
        self.answer(400, {"error": "unsupported_grant_type"})


def main():
    global options
    parser = argparse.ArgumentParser()
    parser.add_argument("--port", type=int, default=0)
    parser.add_argument("--expires-in", type=int, default=3600)
    parser.add_argument("--user", action="append")
    parser.add_argument("--on-refresh", choices=("keep", "rotate", "omit"), default="keep")
    options = parser.parse_args()
    options.user = options.user or ["user"]
    server = ThreadingHTTPServer(("127.0.0.1", options.port), Handler)
    server.daemon_threads = True
    signal.signal(signal.SIGTERM, lambda *_: os._exit(0))
    parent = os.getppid()

    def watch_parent():
        while os.getppid() == parent:
            time.sleep(0.5)
        os._exit(0)

    threading.Thread(target=watch_parent, daemon=True).start()
    print(server.server_address[1], flush=True)
    try:
        server.serve_forever()
    except KeyboardInterrupt:
        pass


if __name__ == "__main__":
    main()
