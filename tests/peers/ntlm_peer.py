#!/usr/bin/env python3
"""An HTTP server that demands NTLM (or Basic) authentication, for the HTTP client's tests.

Usage: ntlm_peer.py --script SCRIPT.json --log LOG.jsonl [--squid-helper]

Started by the tests on 127.0.0.1 at an ephemeral port, which it prints first on standard
output; it ends when stopped or when the process that started it is gone. With --squid-helper
it is instead an NTLM authenticator for squid (the protocol is at squid_helper below), so squid
demands of its clients what this server does. Needs Debian's
python3-ntlm-auth (an NTLM implementation of its own, run by /usr/bin/python3): it builds the
target information of the challenge, reads the challenge back as a client would, and gives the
NTOWFv2 hash with which the client's NTLMv2 response is checked. The script:

    {"user": "kw", "password": "secret", "domain": "KWDOM",   the account the server knows
     "offer": ["NTLM", "Basic realm=\\"kw\\""],                WWW-Authenticate values of a 401
     "document": "text"}                                      the body of the 200

HTTP/1.1, connections kept open (the exchange is bound to its connection). A request without
an Authorization line, or with one that fails, gets 401 with the offers; "NTLM <negotiate>"
gets 401 with "NTLM <challenge>"; "NTLM <authenticate>" is checked (user, domain, the NTLMv2
proof over this connection's challenge, the server's target information echoed) and gets
200 with the document or 401; "Basic" is checked against user and password. Every request is
logged as one JSON line: the connection number, the path, the scheme of its Authorization
line, the message read (type 1: its flags; type 3: user, domain, workstation, whether the
response is NTLMv2, whether it echoed the target information and says it carries a MIC,
"verified") and the status answered.

Standard library and python3-ntlm-auth only.
"""

import argparse
import base64
import hashlib
import hmac
import http.server
import itertools
import json
import os
import struct
import sys
import threading
import time

import peer_process


def ensure_md4():
    """The NT hash is MD4, which OpenSSL 3 keeps in its legacy provider: without it the peer
    starts itself again with a configuration that loads that provider."""
    try:
        hashlib.new("md4")
    except ValueError:
        if os.environ.get("KW_NTLM_PEER_LEGACY"):
            raise
        os.environ["KW_NTLM_PEER_LEGACY"] = "1"
        os.environ["OPENSSL_CONF"] = os.path.join(os.path.dirname(os.path.abspath(__file__)), "openssl-legacy.cnf")
        # squid starts its helpers under another name: the interpreter is found by its file.
        python = sys.executable or os.path.realpath("/proc/self/exe")
        os.execv(python, [python] + sys.argv)


ensure_md4()

from ntlm_auth import compute_hash, messages  # noqa: E402

SIGNATURE = b"NTLMSSP\0"
# MS-NLMP 2.2.2.5
UNICODE = 0x00000001
OEM = 0x00000002
REQUEST_TARGET = 0x00000004
NTLM = 0x00000200
ALWAYS_SIGN = 0x00008000
TARGET_TYPE_DOMAIN = 0x00010000
EXTENDED_SESSIONSECURITY = 0x00080000
TARGET_INFO = 0x00800000
VERSION = 0x02000000
NEGOTIATE_128 = 0x20000000
KEY_EXCH = 0x40000000
NEGOTIATE_56 = 0x80000000
# What this server agrees to of what the client asks for.
SUPPORTED = (UNICODE | OEM | REQUEST_TARGET | NTLM | ALWAYS_SIGN | EXTENDED_SESSIONSECURITY |
             VERSION | NEGOTIATE_128 | KEY_EXCH | NEGOTIATE_56)
COMPUTER = "KWSERVER"


class BadMessage(Exception):
    pass


def field(msg, at):
    """The bytes a (length, maximum, offset) field at `at` points to, checked against the message."""
    if at + 8 > len(msg):
        raise BadMessage("field at %d past the message's end" % at)
    length, _, offset = struct.unpack_from("<HHI", msg, at)
    if offset + length > len(msg):
        raise BadMessage("field at %d points past the message's end" % at)
    return msg[offset:offset + length]


def message_type(msg):
    if len(msg) < 12 or msg[:8] != SIGNATURE:
        raise BadMessage("no NTLMSSP signature")
    return struct.unpack_from("<I", msg, 8)[0]


def filetime_now():
    return int((time.time() + 11644473600) * 10000000)


def av_pairs(blob):
    """MS-NLMP 2.2.2.1: (id, value) pairs up to MsvAvEOL."""
    pairs = {}
    at = 0
    while True:
        if at + 4 > len(blob):
            raise BadMessage("target information without its end")
        av_id, length = struct.unpack_from("<HH", blob, at)
        at += 4
        if av_id == 0:
            return pairs
        if at + length > len(blob):
            raise BadMessage("target information pair past its end")
        pairs[av_id] = blob[at:at + length]
        at += length


class Account:
    def __init__(self, script):
        self.user = script["user"]
        self.password = script["password"]
        self.domain = script["domain"]
        self.offer = script.get("offer", ["NTLM"])
        self.document = script.get("document", "").encode("latin-1")


def challenge_message(negotiate_flags, account):
    """A type 2 message answering a type 1 with these flags."""
    flags = (negotiate_flags & SUPPORTED) | TARGET_TYPE_DOMAIN | TARGET_INFO
    unicode = bool(flags & UNICODE)
    if unicode:
        flags &= ~OEM
    encode = (lambda s: s.encode("utf-16-le")) if unicode else (lambda s: s.encode("ascii"))
    info = messages.TargetInfo()
    info[messages.AvId.MSV_AV_NB_DOMAIN_NAME] = account.domain.encode("utf-16-le")
    info[messages.AvId.MSV_AV_NB_COMPUTER_NAME] = COMPUTER.encode("utf-16-le")
    info[messages.AvId.MSV_AV_DNS_DOMAIN_NAME] = (account.domain.lower() + ".test").encode("utf-16-le")
    info[messages.AvId.MSV_AV_DNS_COMPUTER_NAME] = (COMPUTER.lower() + ".test").encode("utf-16-le")
    info[messages.AvId.MSV_AV_TIMESTAMP] = struct.pack("<Q", filetime_now())
    target_info = info.pack()
    target_name = encode(account.domain)
    server_challenge = os.urandom(8)
    header = 56
    msg = (SIGNATURE + struct.pack("<I", 2) +
           struct.pack("<HHI", len(target_name), len(target_name), header) +
           struct.pack("<I", flags) + server_challenge + b"\0" * 8 +
           struct.pack("<HHI", len(target_info), len(target_info), header + len(target_name)) +
           bytes([6, 1]) + struct.pack("<H", 7601) + b"\0\0\0\x0f" + target_name + target_info)
    # The message must read back as an NTLM client reads it.
    parsed = messages.ChallengeMessage(msg)
    if parsed.server_challenge != server_challenge or parsed.negotiate_flags != flags:
        raise BadMessage("ntlm_auth reads the challenge differently")
    return msg, server_challenge


def check_authenticate(msg3, msg2, server_challenge, account, entry):
    """Reads a type 3 message into entry; True when it proves the account's password."""
    if len(msg3) < 64:
        raise BadMessage("authenticate message too short")
    flags = struct.unpack_from("<I", msg3, 60)[0]
    decode = (lambda b: b.decode("utf-16-le")) if flags & UNICODE else (lambda b: b.decode("latin-1"))
    nt_response = field(msg3, 20)
    user = decode(field(msg3, 36))
    domain = decode(field(msg3, 28))
    entry.update(user=user, domain=domain, workstation=decode(field(msg3, 44)), flags=flags,
                 ntlmv2=len(nt_response) > 24)
    if not entry["ntlmv2"]:
        return False
    # MS-NLMP 3.3.2: NTProofStr = HMAC_MD5(NTOWFv2, server challenge + temp).
    proof, temp = nt_response[:16], nt_response[16:]
    if len(temp) < 28:
        raise BadMessage("NTLMv2 response too short")
    client_pairs = av_pairs(temp[28:])
    response_key = compute_hash._ntowfv2(user, account.password, domain)
    expected = hmac.new(response_key, server_challenge + temp, hashlib.md5).digest()
    proven = hmac.compare_digest(proof, expected)
    # The client echoes the server's target information in its blob.
    echoed = all(client_pairs.get(k) == v for k, v in av_pairs(field(msg2, 40)).items()
                 if k != messages.AvId.MSV_AV_TIMESTAMP)
    entry["echoed"] = echoed
    # MS-NLMP 3.1.5.1.2: MsvAvFlags bit 2 says the message carries a MIC (logged only).
    avflags = struct.unpack("<I", client_pairs.get(messages.AvId.MSV_AV_FLAGS, b"\0\0\0\0"))[0]
    entry["mic"] = bool(avflags & 2)
    names = user == account.user and domain.upper() == account.domain.upper()
    return proven and names and echoed


class Exchange:
    """One NTLM exchange (they are bound to a connection): negotiate, challenge, authenticate."""

    def __init__(self, account):
        self.account = account
        self.msg2 = self.server_challenge = None

    def step(self, token, entry):
        """Takes the client's message; gives the challenge to send back (bytes), or True/False
        for an authenticate message that proves (or fails to prove) the password."""
        kind = message_type(token)
        entry["type"] = kind
        if kind == 1:
            if len(token) < 16:
                raise BadMessage("negotiate message too short")
            flags = struct.unpack_from("<I", token, 12)[0]
            entry["flags"] = flags
            self.msg2, self.server_challenge = challenge_message(flags, self.account)
            return self.msg2
        if kind == 3 and self.server_challenge is not None:
            msg2, challenge = self.msg2, self.server_challenge
            self.msg2 = self.server_challenge = None
            entry["verified"] = check_authenticate(token, msg2, challenge, self.account, entry)
            return entry["verified"]
        raise BadMessage("message type %d out of turn" % kind)


class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"

    def log_message(self, *args):
        pass

    def setup(self):
        super().setup()
        self.connection_number = next(self.server.counter)
        self.exchange = Exchange(self.server.account)

    def answer(self, entry, status, body=b"", challenges=()):
        entry["status"] = status
        self.server.log(entry)
        self.send_response(status)
        for c in challenges:
            self.send_header("WWW-Authenticate", c)
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        self.wfile.write(body)

    def do_GET(self):
        account = self.server.account
        entry = {"connection": self.connection_number, "path": self.path}
        authorization = self.headers.get("Authorization")
        denied = b"denied"
        if not authorization:
            return self.answer(entry, 401, denied, account.offer)
        scheme, _, data = authorization.partition(" ")
        entry["scheme"] = scheme
        try:
            token = base64.b64decode(data.strip(), validate=True)
            if scheme == "Basic":
                user, _, password = token.decode("latin-1").partition(":")
                entry.update(user=user, verified=user == account.user and password == account.password)
                if entry["verified"]:
                    return self.answer(entry, 200, account.document)
                return self.answer(entry, 401, denied, account.offer)
            if scheme != "NTLM":
                raise BadMessage("scheme %s" % scheme)
            result = self.exchange.step(token, entry)
            if isinstance(result, bytes):
                return self.answer(entry, 401, denied, ["NTLM " + base64.b64encode(result).decode("ascii")])
            if result:
                return self.answer(entry, 200, account.document)
            return self.answer(entry, 401, denied, account.offer)
        except (BadMessage, ValueError, UnicodeDecodeError, struct.error) as e:
            entry["error"] = str(e)
            self.exchange = Exchange(account)
            return self.answer(entry, 401, denied, account.offer)


def squid_helper(account, log_path):
    """squid's NTLM authenticator protocol on standard input and output, one line each: "YR
    <negotiate>" is answered "TT <challenge>", "KK <authenticate>" "AF DOMAIN\\user" when it
    proves the password and "NA <reason>" otherwise; anything else "BH <reason>". squid keeps a
    helper to one exchange until it ends."""
    exchange = Exchange(account)
    for line in sys.stdin:
        verb, _, data = line.strip().partition(" ")
        entry = {"request": verb}
        try:
            if verb not in ("YR", "KK"):
                raise BadMessage("request %r" % verb)
            result = exchange.step(base64.b64decode(data, validate=True), entry)
            if isinstance(result, bytes):
                reply = "TT " + base64.b64encode(result).decode("ascii")
            elif result:
                reply = "AF %s\\%s" % (entry["domain"], entry["user"])
            else:
                reply = "NA the NTLMv2 response does not prove the password"
        except (BadMessage, ValueError, UnicodeDecodeError, struct.error) as e:
            entry["error"] = str(e)
            exchange = Exchange(account)
            reply = "BH " + str(e)
        entry["reply"] = reply.split(" ")[0]
        with open(log_path, "a", encoding="utf-8") as f:
            f.write(json.dumps(entry) + "\n")
        sys.stdout.write(reply + "\n")
        sys.stdout.flush()


class Server(http.server.ThreadingHTTPServer):
    daemon_threads = True
    allow_reuse_address = True

    def log(self, entry):
        with self.lock:
            with open(self.log_path, "a", encoding="utf-8") as f:
                f.write(json.dumps(entry) + "\n")

    def handle_error(self, request, client_address):
        pass  # a client that went away ends its own connection only


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--script", required=True)
    ap.add_argument("--log", required=True)
    ap.add_argument("--squid-helper", action="store_true")
    args = ap.parse_args()
    with open(args.script, encoding="utf-8") as f:
        script = json.load(f)
    if args.squid_helper:
        return squid_helper(Account(script), args.log)
    server = Server(("127.0.0.1", 0), Handler)
    server.account = Account(script)
    server.log_path = args.log
    server.lock = threading.Lock()
    server.counter = itertools.count()
    peer_process.serve(server)


if __name__ == "__main__":
    sys.exit(main())
