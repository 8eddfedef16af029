#!/usr/bin/env python3
"""A scripted application server (and load balancer) for the data-block protocol.

Started by the tests on 127.0.0.1 at an ephemeral port, which it prints first on standard
output. It speaks the launcher's wire over a plain socket ("socket" mode, optionally with the
test cipher and with calls back to the client) or over HTTP POST ("http", "https" with the
certificate the test made). Every request is logged, decoded and raw, as one JSON line.

    appserver.py --script SCRIPT.json --log LOG.jsonl

The script (JSON):
    {
      "mode": "socket" | "http" | "https",
      "cert": "cert.pem", "key": "key.pem",          (https)
      "cipher": false,                                (socket: the test cipher on payloads)
      "auth": {"user": "u", "password": "p"},         (web: Basic authentication demanded)
      "objects": [
        {"guid": "{...}", "name": "AppServer",
         "methods": {"login": SPEC, "kwDB": {"result": {"object": "kwDB"}}, ...}},
        {"name": "kwDB", "methods": {...}}
      ]
    }
An object is created by its braced GUID or its name (any case); an unknown one gets the error
reply "Objeto não disponível: <name>". A method name that the object lacks fails the lookup
with status 0x80020006. SPEC, or a list of SPECs taken one per call (the last one repeats):
    "result": VALUE                 the result (when the client wants one)
    "byref": {"6": VALUE, ...}      new values of by-reference arguments (1-based, in call
                                    order); the others come back as they were sent
    "status": 0 | "0x80020009", "code": N, "description": "..."
    "error": "text"                 an error reply (0xDB01) instead of a result
    "delay": seconds                before answering
    "drop": true                    close the connection without answering
    "malformed": "bad-signature" | "short-header" | "size-mismatch" | "negative-size" |
                 "huge-size"        a broken reply, then (socket) the connection closes
    "http_status": N, "http_reason": "text" (or "" for none), "body_hex": "..."   (web)
    "callback": {"arg": K, "method": "Eco", "args": [VALUE...], "result": true}
                                    (socket) before answering, call method on the object the
                                    client passed as argument K, and log its reply
VALUE: a JSON integer (32-bit), float, boolean, text or null; {"object": "kwDB"} (a new
object of that definition); {"empty": true}; {"type": CODE, "value": V} for another scalar.

Standard library only.
"""

import argparse
import binascii
import http.server
import json
import os
import socket
import socketserver
import ssl
import struct
import sys
import threading
import time

import peer_process

CALL, REPLY = 0xDA00, 0xDB00
A_ERROR, A_INVOKE, A_GETID, A_CREATE, A_FREE, A_SERVERS, A_APPSERVERS = 1, 2, 3, 4, 5, 0x10, 0x12
ACTION_NAMES = {A_ERROR: "error", A_INVOKE: "invoke", A_GETID: "lookup", A_CREATE: "create",
                A_FREE: "free", A_SERVERS: "servers", A_APPSERVERS: "appservers"}
BYREF, ARRAY = 0x4000, 0x2000
DISP_E_UNKNOWNNAME = 0x80020006
DISP_E_EXCEPTION = 0x80020009
PLAIN = {2: "<h", 3: "<i", 4: "<f", 5: "<d", 6: "<q", 7: "<d", 10: "<i", 11: "<H",
         16: "<b", 17: "<B", 18: "<H", 19: "<I"}
MAX_PAYLOAD = 64 * 1024 * 1024


class Malformed(Exception):
    pass


# ---- Values -----------------------------------------------------------------------------

class Reader:
    def __init__(self, data):
        self.data, self.pos = data, 0

    def take(self, n):
        if n < 0 or self.pos + n > len(self.data):
            raise Malformed("value cut short")
        b = self.data[self.pos:self.pos + n]
        self.pos += n
        return b

    def i32(self):
        return struct.unpack("<i", self.take(4))[0]

    def left(self):
        return len(self.data) - self.pos


def read_value(r, depth=0):
    """A value as a JSON-able dict: {"type", "value"} plus "byref" / "variant_ref"."""
    if depth > 32:
        raise Malformed("nested too deep")
    code = r.i32()
    if code == BYREF:
        inner = read_value(r, depth + 1)
        return {"type": inner["type"], "value": inner.get("value"), "variant_ref": True,
                **({"bounds": inner["bounds"]} if "bounds" in inner else {})}
    byref = bool(code & BYREF)
    code &= ~BYREF
    out = {"type": code}
    if byref:
        out["byref"] = True
    if code & ARRAY:
        elem = code & 0xFFF
        dims = r.i32()
        if dims <= 0 or dims > 64:
            raise Malformed("bad dimensions")
        lows = [r.i32() for _ in range(dims)]
        highs = [r.i32() for _ in range(dims)]
        count = 1
        for lo, hi in zip(lows, highs):
            count *= max(0, hi - lo + 1)
        out["bounds"] = [[lo, hi] for lo, hi in zip(lows, highs)]
        if elem in PLAIN:
            size = struct.calcsize(PLAIN[elem])
            nbytes = r.i32()
            if nbytes != count * size:
                raise Malformed("array byte count")
            raw = r.take(nbytes)
            out["value"] = [struct.unpack(PLAIN[elem], raw[i * size:(i + 1) * size])[0] for i in range(count)]
        else:
            if count > r.left() // 4:
                raise Malformed("array too large")
            out["value"] = [read_value(r, depth + 1) for _ in range(count)]
        return out
    if code in (0, 1, 14, 15):
        out["value"] = None
    elif code == 8:
        n = r.i32()
        if n < 0 or n * 2 > r.left():
            raise Malformed("text count")
        out["value"] = r.take(n * 2).decode("utf-16-le", errors="surrogatepass")
    elif code == 9:
        out["value"] = r.i32()
    elif code in PLAIN:
        v = struct.unpack(PLAIN[code], r.take(struct.calcsize(PLAIN[code])))[0]
        out["value"] = (v != 0) if code == 11 else v
    else:
        raise Malformed("type %04X" % code)
    return out


def enc_text(s, code=8):
    units = s.encode("utf-16-le", errors="surrogatepass")
    return struct.pack("<ii", code, len(units) // 2) + units


def enc_scalar(code, v, flag=0):
    if code in (0, 1):
        return struct.pack("<i", code)
    if code == 8:
        return enc_text(str(v), code | flag)
    if code == 11:
        return struct.pack("<iH", code | flag, 0xFFFF if v else 0)
    if code == 9:
        return struct.pack("<ii", code, int(v))
    return struct.pack("<i", code | flag) + struct.pack(PLAIN[code], v)


class Session:
    """The objects created on one connection (socket) or on the server (web)."""

    def __init__(self, server):
        self.server = server
        self.instances = {}
        self.next_index = 1
        self.lock = threading.Lock()

    def new_instance(self, definition):
        with self.lock:
            idx = self.next_index
            self.next_index += 1
            self.instances[idx] = definition
            return idx

    def encode(self, v, flag=0):
        """Script VALUE to wire bytes; flag 0x4000 for by-reference values."""
        if isinstance(v, dict):
            if "object" in v:
                definition = self.server.find_object(v["object"])
                if definition is None:
                    raise KeyError("no object " + v["object"])
                return enc_scalar(9, self.new_instance(definition))
            if v.get("empty"):
                return struct.pack("<i", 0)
            if "type" in v:
                return enc_scalar(int(v["type"]), v.get("value"), flag)
            raise ValueError("bad value " + json.dumps(v))
        if v is None:
            return struct.pack("<i", 1)
        if isinstance(v, bool):
            return enc_scalar(11, v, flag)
        if isinstance(v, int):
            return enc_scalar(3, v, flag)
        if isinstance(v, float):
            return enc_scalar(5, v, flag)
        return enc_text(v, 8 | flag)

    def echo(self, arg, override):
        """The new value of a by-reference argument, in the form it was sent."""
        if arg.get("variant_ref"):
            return struct.pack("<i", BYREF) + self.encode(arg.get("value") if override is None else override)
        if override is None:
            if "bounds" in arg:
                raise ValueError("echo of arrays is not scripted")
            return enc_scalar(arg["type"], arg["value"], BYREF)
        if isinstance(override, (dict, bool, float)) or override is None:
            return self.encode(override, BYREF)
        if arg["type"] in PLAIN and isinstance(override, int):
            return enc_scalar(arg["type"], override, BYREF)
        if arg["type"] == 8:
            return enc_text(str(override), 8 | BYREF)
        return self.encode(override, BYREF)


def block(signature, payload):
    return struct.pack("<ii", signature, len(payload)) + payload


def cipher(payload):
    """The test cipher: each byte after the payload's first four XORed with (0x5A + 7 i)."""
    if len(payload) < 4:
        return payload
    head, rest = payload[:4], bytearray(payload[4:])
    for i in range(len(rest)):
        rest[i] ^= (0x5A + 7 * i) & 0xFF
    return head + bytes(rest)


def parse_status(v):
    if isinstance(v, str):
        return int(v, 16) if v.lower().startswith("0x") else int(v)
    return int(v or 0)


def malformed_reply(kind, signature):
    if kind == "bad-signature":
        return struct.pack("<ii", 0x1234, 0)
    if kind == "short-header":
        return struct.pack("<i", signature) + b"\x00"
    if kind == "size-mismatch":
        return struct.pack("<ii", signature, 100) + b"\x03\x00\x00\x00\x00\x00\x00\x00\x00\x00"
    if kind == "negative-size":
        return struct.pack("<ii", signature, -5)
    if kind == "huge-size":
        return struct.pack("<ii", signature, 0x7FFFFFF0)
    raise ValueError("unknown malformed kind " + kind)


class Drop(Exception):
    """Close the connection without answering."""


class Server:
    def __init__(self, script, log_path):
        self.script = script
        self.log_file = open(log_path, "a", encoding="utf-8")
        self.log_lock = threading.Lock()
        self.seq = 0
        self.calls = {}
        self.calls_lock = threading.Lock()

    def log(self, entry):
        with self.log_lock:
            self.seq += 1
            entry["seq"] = self.seq
            self.log_file.write(json.dumps(entry, sort_keys=True, ensure_ascii=False) + "\n")
            self.log_file.flush()

    def find_object(self, name):
        for o in self.script.get("objects", []):
            if name and (name.lower() == o.get("guid", "").lower() or name.lower() == o.get("name", "").lower()):
                return o
        return None

    def spec_for(self, definition, method):
        spec = definition.get("methods", {}).get(method)
        if isinstance(spec, list):
            key = (definition.get("name"), method)
            with self.calls_lock:
                n = self.calls.get(key, 0)
                self.calls[key] = n + 1
            spec = spec[min(n, len(spec) - 1)] if spec else {}
        return spec if spec is not None else {}

    def handle(self, session, data, entry, call_client=None):
        """One call block in; answers (reply bytes or None, the scripted answer used)."""
        entry["raw"] = binascii.hexlify(data).decode()
        if len(data) < 8:
            entry["action"] = "invalid"
            entry["error"] = "short block"
            self.log(entry)
            return None, {}
        signature, size = struct.unpack("<ii", data[:8])
        action = signature & 0xFF
        entry["signature"] = "0x%04X" % (signature & 0xFFFF)
        entry["action"] = ACTION_NAMES.get(action, "unknown")
        if size != len(data) - 8 or (signature & 0xFF00) not in (CALL, REPLY):
            entry["action"] = "invalid"
            entry["error"] = "bad header"
            self.log(entry)
            return None, {}
        r = Reader(data[8:])
        spec = {}
        try:
            if action == A_CREATE:
                name = read_value(r)["value"]
                entry["name"] = name
                definition = self.find_object(name)
                self.log(entry)
                if definition is None:
                    return block(REPLY | A_ERROR, enc_text("Objeto não disponível: %s" % name)), {}
                return block(REPLY | A_CREATE, enc_scalar(9, session.new_instance(definition))), {}
            if action == A_GETID:
                idx = read_value(r)["value"]
                name = read_value(r)["value"]
                definition = session.instances.get(idx)
                entry.update(index=idx, name=name, object=definition.get("name") if definition else None)
                self.log(entry)
                methods = list((definition or {}).get("methods", {}).keys())
                if name in methods:
                    return block(REPLY | A_GETID, enc_scalar(3, 0) + enc_scalar(3, methods.index(name) + 1)), {}
                return block(REPLY | A_GETID, enc_scalar(3, DISP_E_UNKNOWNNAME - (1 << 32))), {}
            if action == A_FREE:
                idx = read_value(r)["value"]
                definition = session.instances.pop(idx, None)
                entry.update(index=idx, object=definition.get("name") if definition else None)
                self.log(entry)
                return None, {}
            if action == A_INVOKE:
                idx = read_value(r)["value"]
                dispid = read_value(r)["value"]
                flags = read_value(r)["value"]
                wanted = read_value(r)["value"]
                argc = read_value(r)["value"]
                named = read_value(r)["value"]
                named_ids = [read_value(r)["value"] for _ in range(named)]
                wire_args = [read_value(r) for _ in range(argc)]
                definition = session.instances.get(idx)
                methods = list((definition or {}).get("methods", {}).keys())
                method = methods[dispid - 1] if definition and 0 < dispid <= len(methods) else None
                entry.update(index=idx, object=definition.get("name") if definition else None, method=method,
                             dispid=dispid, flags=flags, result_wanted=wanted, argc=argc, named=named_ids,
                             args=list(reversed(wire_args)))
                self.log(entry)
                spec = self.spec_for(definition, method) if method else {}
                return self.answer_invoke(session, spec, wire_args, wanted, call_client), spec
            if action in (A_SERVERS, A_APPSERVERS):
                self.log(entry)
                names = [o["name"] for o in self.script.get("objects", []) if o.get("guid")]
                payload = struct.pack("<iiii", 8 | ARRAY, 1, 0, len(names) - 1) + b"".join(enc_text(n) for n in names)
                return block(REPLY | action, payload if names else struct.pack("<i", 1)), {}
            self.log(entry)
            return block(REPLY | A_ERROR, enc_text("Ação recebida: %d inválida" % action)), {}
        except Malformed as e:
            entry["action"] = "invalid"
            entry["error"] = str(e)
            self.log(entry)
            return block(REPLY | A_ERROR, enc_text("Base de dados inválida")), {}

    def answer_invoke(self, session, spec, wire_args, wanted, call_client):
        if spec.get("delay"):
            time.sleep(float(spec["delay"]))
        if spec.get("drop"):
            raise Drop()
        if spec.get("malformed"):
            return malformed_reply(spec["malformed"], REPLY | A_INVOKE)
        if "error" in spec:
            return block(REPLY | A_ERROR, enc_text(spec["error"]))
        callback_result = None
        if spec.get("callback") and call_client is not None:
            callback_result = call_client(spec["callback"], list(reversed(wire_args)))
        status = parse_status(spec.get("status", 0))
        payload = struct.pack("<ii", 3, status - (1 << 32) if status >= 1 << 31 else status)
        if status == DISP_E_EXCEPTION:
            payload += enc_scalar(3, int(spec.get("code", 0))) + enc_text(spec.get("description", ""))
        overrides = spec.get("byref", {})
        argc = len(wire_args)
        for wire_index, arg in enumerate(wire_args):
            if arg.get("byref") or arg.get("variant_ref"):
                call_index = argc - wire_index
                payload += session.echo(arg, overrides.get(str(call_index)))
        if wanted:
            if spec.get("result") == "callback" and callback_result is not None:
                payload += callback_result
            else:
                payload += session.encode(spec.get("result"))
        return block(REPLY | A_INVOKE, payload)


# ---- Socket mode ------------------------------------------------------------------------

def recv_exact(sock, n):
    out = b""
    while len(out) < n:
        chunk = sock.recv(n - len(out))
        if not chunk:
            return None
        out += chunk
    return out


class SocketHandler(socketserver.BaseRequestHandler):
    def setup(self):
        self.server_obj = self.server.app
        self.session = Session(self.server_obj)
        self.cipher = bool(self.server_obj.script.get("cipher"))
        self.conn_id = "%s:%d" % self.client_address

    def read_block(self):
        header = recv_exact(self.request, 8)
        if header is None:
            return None, None
        size = struct.unpack("<i", header[4:])[0]
        if size < 0 or size > MAX_PAYLOAD:
            return header, None
        payload = recv_exact(self.request, size)
        if payload is None:
            return None, None
        wire = header + payload
        return wire, header + (cipher(payload) if self.cipher else payload)

    def send_block(self, data):
        if self.cipher and len(data) >= 8:
            data = data[:8] + cipher(data[8:])
        self.request.sendall(data)

    def call_client(self, cb, call_args):
        """Calls a method of the object the client passed, and answers that call's result bytes."""
        target = call_args[int(cb["arg"]) - 1]["value"]
        self.send_block(block(CALL | A_GETID, enc_scalar(3, target) + enc_text(cb["method"])))
        wire, data = self.read_block()
        r = Reader(data[8:])
        status = read_value(r)["value"]
        dispid = read_value(r)["value"] if status == 0 else 0
        self.server_obj.log({"conn": self.conn_id, "transport": "socket", "action": "callback-lookup-reply",
                             "status": status, "dispid": dispid, "raw": binascii.hexlify(data).decode()})
        args = [self.session.encode(v) for v in cb.get("args", [])]
        wanted = bool(cb.get("result", True))
        payload = (enc_scalar(3, target) + enc_scalar(3, dispid) + enc_scalar(3, 1) + enc_scalar(11, wanted) +
                   enc_scalar(3, len(args)) + enc_scalar(3, 0) + b"".join(reversed(args)))
        self.send_block(block(CALL | A_INVOKE, payload))
        wire, data = self.read_block()
        r = Reader(data[8:])
        values = []
        while r.left():
            values.append(read_value(r))
        self.server_obj.log({"conn": self.conn_id, "transport": "socket", "action": "callback-invoke-reply",
                             "values": values, "raw": binascii.hexlify(data).decode()})
        # The result is the last value; its bytes go back as the original call's result.
        result = values[-1] if values and wanted else {"type": 0, "value": None}
        return enc_scalar(result["type"], result["value"]) if result["type"] != 9 else enc_scalar(9, result["value"])

    def handle(self):
        while True:
            try:
                wire, data = self.read_block()
            except OSError:
                return
            if wire is None:
                return
            entry = {"conn": self.conn_id, "transport": "socket"}
            if data is None:
                entry.update(action="invalid", error="bad size", raw=binascii.hexlify(wire).decode())
                self.server_obj.log(entry)
                return
            if self.cipher:
                entry["wire"] = binascii.hexlify(wire).decode()
            try:
                reply, spec = self.server_obj.handle(self.session, data, entry, self.call_client)
            except Drop:
                return
            if reply is not None:
                if spec.get("malformed"):
                    self.request.sendall(reply)
                    return
                self.send_block(reply)


class ThreadingTCP(socketserver.ThreadingMixIn, socketserver.TCPServer):
    daemon_threads = True
    allow_reuse_address = True


# ---- Web mode ---------------------------------------------------------------------------

class WebHandler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"

    def log_message(self, *args):
        pass

    def do_POST(self):
        app = self.server.app
        length = int(self.headers.get("Content-Length", "0"))
        data = self.rfile.read(length) if length > 0 else b""
        entry = {"conn": "%s:%d" % self.client_address, "transport": "https" if self.server.tls else "http",
                 "http": {"method": "POST", "path": self.path,
                          "headers": {k.lower(): v for k, v in self.headers.items()}}}
        auth = app.script.get("auth")
        if auth:
            import base64
            expected = "Basic " + base64.b64encode(("%s:%s" % (auth["user"], auth["password"])).encode()).decode()
            if self.headers.get("Authorization") != expected:
                entry["action"] = "challenged"
                app.log(entry)
                body = b"auth"
                self.send_response(401, "Unauthorized")
                self.send_header("WWW-Authenticate", 'Basic realm="kw"')
                self.send_header("Content-Length", str(len(body)))
                self.end_headers()
                self.wfile.write(body)
                return
        try:
            reply, spec = app.handle(self.server.session, data, entry)
        except Drop:
            self.close_connection = True
            self.connection.shutdown(socket.SHUT_RDWR)
            return
        status = int(spec.get("http_status", 200))
        reason = spec.get("http_reason")
        if "body_hex" in spec:
            reply = binascii.unhexlify(spec["body_hex"])
        body = reply or b""
        self.send_response_only(status, reason)
        self.send_header("Content-Type", "application/octet-stream")
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        self.wfile.write(body)


class ThreadingHTTP(socketserver.ThreadingMixIn, http.server.HTTPServer):
    daemon_threads = True
    allow_reuse_address = True


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--script", required=True)
    ap.add_argument("--log", required=True)
    args = ap.parse_args()
    with open(args.script, encoding="utf-8") as f:
        script = json.load(f)
    app = Server(script, args.log)
    mode = script.get("mode", "socket")
    if mode == "socket":
        server = ThreadingTCP(("127.0.0.1", 0), SocketHandler)
    else:
        server = ThreadingHTTP(("127.0.0.1", 0), WebHandler)
        server.session = Session(app)
        server.tls = mode == "https"
        if server.tls:
            ctx = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
            ctx.load_cert_chain(script["cert"], script["key"])
            server.socket = ctx.wrap_socket(server.socket, server_side=True)
    server.app = app
    peer_process.serve(server)


if __name__ == "__main__":
    sys.exit(main())
