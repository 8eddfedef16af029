#!/usr/bin/env python3
"""A scripted download-distribution server for the download-server client's tests.

Started by the tests on 127.0.0.1 at an ephemeral port, which it prints first on standard
output; it ends when stopped or when the process that started it is gone. It speaks HTTP, or
HTTPS with the certificate the test made. Every request is logged as one JSON line: the port,
method, path, query, headers (names in lower case), the form fields of a POST as
urllib.parse.parse_qs decodes them (UTF-8), and the status answered.

    ddsserver.py --script SCRIPT.json --log LOG.jsonl [--folder DIR] [--cert PEM --key PEM]

The script is read again at every request, so a test may rewrite it (atomically) while the
server runs, for example to name another instance's address. "{SELF}" in any text of it
stands for this server's own base address ("http://127.0.0.1:PORT" or "https://localhost:PORT").

    {
      "oauth": {                             POST /oauth/token
        "access_token": "tokA",              answered as {"access_token": ..., "token_type": "bearer"}
        "username": "u", "password": "p",    when given, the form must carry them, else 401
        "status": 500, "body": "text"        (optional) answer this instead,
        "location": "URL"                    with this Location line (a redirect)
      },
      "files": {                             GET /file/downloadFile?fileName=NAME (bearer checked)
        "NAME": [ANSWER, ...]                one answer per question; the last one repeats
      },
      "params": {"timeout": 60, "pollingTime": 5}      GET /misc/params (no bearer)
                or {"status": 500} or {"body": "raw text"},
      "content": {                           the files themselves, by path
        "/files/x": {"data": "text" | "file": "name in --folder",
                     "mode": "whole" | "cut" | "error" | "silent" | "redirect",
                     "to": "URL (redirect)", "bearer": true}
      }
    }
ANSWER: {"isFile": B, "url": U, "status": S, "patchStatus": P} becomes
    {"fileLocation": {"isFile": B, "url": U, "status": S}, "patchResponse": {"status": P}}
(a key left out of ANSWER is left out of the answer; JSON null stays null), or
{"body": "raw text"}, or {"httpStatus": 500}. A question without the bearer line of this
server's token gets 401. Modes of a file: "whole" sends it (with sendfile), "cut" promises its
length and sends half, "error" answers 500, "silent" never answers (until the client goes),
"redirect" answers 302 to "to". "bearer" (default true) makes the file need the token too.

Standard library only.
"""

import argparse
import http.server
import json
import os
import socket
import socketserver
import ssl
import sys
import threading
import urllib.parse

import peer_process


class Server:
    def __init__(self, script_path, log_path, folder, base):
        self.script_path = script_path
        self.log_path = log_path
        self.folder = folder
        self.base = base
        self.lock = threading.Lock()
        self.questions = {}

    def script(self):
        with open(self.script_path, encoding="utf-8") as f:
            text = f.read()
        return json.loads(text.replace("{SELF}", self.base))

    def log(self, entry):
        with self.lock:
            with open(self.log_path, "a", encoding="utf-8") as f:
                f.write(json.dumps(entry) + "\n")

    def next_answer(self, name, answers):
        with self.lock:
            n = self.questions.get(name, 0)
            self.questions[name] = n + 1
        return answers[min(n, len(answers) - 1)]


class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.0"

    def log_message(self, *args):
        pass

    def setup(self):
        ctx = self.server.tls
        if ctx is not None:
            # The handshake runs in this request's thread: a client that refuses our
            # certificate ends only its own connection.
            self.request.settimeout(60)
            self.request = ctx.wrap_socket(self.request, server_side=True)
        super().setup()

    def entry(self, form=None):
        url = urllib.parse.urlsplit(self.path)
        e = {"port": self.server.server_address[1], "method": self.command, "path": url.path,
             "rawPath": self.path, "query": urllib.parse.parse_qs(url.query, keep_blank_values=True),
             "headers": {k.lower(): v for k, v in self.headers.items()}}
        if form is not None:
            e["form"] = form
        return e

    def answer(self, entry, status, body, content_type="application/json", extra=()):
        entry["status"] = status
        self.server.app.log(entry)
        data = body.encode("utf-8") if isinstance(body, str) else body
        self.send_response(status)
        self.send_header("Content-Type", content_type)
        self.send_header("Content-Length", str(len(data)))
        for name, value in extra:
            self.send_header(name, value)
        self.end_headers()
        self.wfile.write(data)

    def bearer_ok(self, script):
        token = script.get("oauth", {}).get("access_token") or ""  # a null token admits no one
        return token != "" and self.headers.get("Authorization") == "Bearer " + token

    def do_POST(self):
        length = int(self.headers.get("Content-Length", "0"))
        raw = self.rfile.read(length) if length > 0 else b""
        fields = urllib.parse.parse_qs(raw.decode("utf-8", "replace"), keep_blank_values=True)
        form = {k: v[0] if len(v) == 1 else v for k, v in fields.items()}
        entry = self.entry(form)
        entry["body"] = raw.decode("latin-1")
        script = self.server.app.script()
        if urllib.parse.urlsplit(self.path).path != "/oauth/token":
            return self.answer(entry, 404, '{"error":"not_found"}')
        oauth = script.get("oauth", {})
        if "status" in oauth or "body" in oauth:
            extra = [("Location", oauth["location"])] if "location" in oauth else []
            return self.answer(entry, int(oauth.get("status", 200)), oauth.get("body", ""),
                               extra=extra)
        for key in ("username", "password"):
            if key in oauth and form.get(key) != oauth[key]:
                return self.answer(entry, 401, '{"error":"invalid_grant"}')
        body = json.dumps({"access_token": oauth.get("access_token", ""), "token_type": "bearer",
                           "expires_in": 43199})
        return self.answer(entry, 200, body)

    def do_GET(self):
        entry = self.entry()
        script = self.server.app.script()
        url = urllib.parse.urlsplit(self.path)
        if url.path == "/misc/params":
            params = script.get("params", {"timeout": 0, "pollingTime": 0})
            if "status" in params or "body" in params:
                return self.answer(entry, int(params.get("status", 200)), params.get("body", ""))
            return self.answer(entry, 200, json.dumps(params))
        if url.path == "/file/downloadFile":
            if not self.bearer_ok(script):
                return self.answer(entry, 401, '{"error":"unauthorized"}')
            # The name as the client put it into the address (not decoded): the client
            # places it unchanged.
            raw = url.query[len("fileName="):] if url.query.startswith("fileName=") else ""
            answers = script.get("files", {}).get(raw)
            if not answers:
                return self.answer(entry, 404, '{"error":"no such file"}')
            a = self.server.app.next_answer(raw, answers)
            if "httpStatus" in a:
                return self.answer(entry, int(a["httpStatus"]), a.get("body", ""))
            if "body" in a:
                return self.answer(entry, 200, a["body"])
            location = {k: a[k] for k in ("isFile", "url", "status") if k in a}
            body = {"fileLocation": location}
            if "patchStatus" in a:
                body["patchResponse"] = {"status": a["patchStatus"]}
            return self.answer(entry, 200, json.dumps(body))
        spec = script.get("content", {}).get(url.path)
        if spec is None:
            return self.answer(entry, 404, "not found", "text/plain")
        if spec.get("bearer", True) and not self.bearer_ok(script):
            return self.answer(entry, 401, "unauthorized", "text/plain")
        mode = spec.get("mode", "whole")
        if mode == "error":
            return self.answer(entry, 500, "server error", "text/plain")
        if mode == "redirect":
            return self.answer(entry, 302, "", "text/plain", [("Location", spec["to"])])
        if mode == "silent":
            entry["status"] = 0
            self.server.app.log(entry)
            self.request.settimeout(60)
            try:
                while self.request.recv(65536):
                    pass
            except OSError:
                pass
            self.close_connection = True
            return
        if "file" in spec:
            path = os.path.join(self.server.app.folder, spec["file"])
            size = os.path.getsize(path)
        else:
            data = spec.get("data", "").encode("utf-8")
            size = len(data)
        send = size if mode == "whole" else size // 2
        entry["status"] = 200
        self.server.app.log(entry)
        self.send_response(200)
        self.send_header("Content-Type", "application/octet-stream")
        self.send_header("Content-Length", str(size))
        self.end_headers()
        self.wfile.flush()
        if "file" in spec:
            with open(path, "rb") as f:
                self.connection.sendfile(f, 0, send)
        else:
            self.wfile.write(data[:send])
        if mode == "cut":
            self.close_connection = True
            try:
                self.connection.shutdown(socket.SHUT_RDWR)
            except OSError:
                pass


class ThreadingHTTP(socketserver.ThreadingMixIn, http.server.HTTPServer):
    daemon_threads = True
    allow_reuse_address = True

    def handle_error(self, request, client_address):
        pass  # a client that went away (or refused our certificate) ends its own request only


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--script", required=True)
    ap.add_argument("--log", required=True)
    ap.add_argument("--folder", default=".")
    ap.add_argument("--cert")
    ap.add_argument("--key")
    args = ap.parse_args()
    server = ThreadingHTTP(("127.0.0.1", 0), Handler)
    port = server.server_address[1]
    server.tls = None
    base = "http://127.0.0.1:%d" % port
    if args.cert:
        server.tls = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
        server.tls.load_cert_chain(args.cert, args.key)
        base = "https://localhost:%d" % port
    server.app = Server(args.script, args.log, args.folder, base)
    peer_process.serve(server)


if __name__ == "__main__":
    sys.exit(main())
