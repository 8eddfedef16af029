#!/usr/bin/env python3
"""A scripted HTTP server for the HTTP client's tests (standard library only).

Usage: http_peer.py DIR SCRIPTFILE

Listens on 127.0.0.1 at as many ports as the script names (the system chooses them) and writes
them, one a line, to DIR/ports. SCRIPTFILE is a JSON list of exchanges, played in order:

  {"listener": N,       which port (default 0)
   "response": TEXT,    the bytes sent back (each character U+0000..U+00FF is one byte);
                        "{PORT1}" and the like become that listener's port
   "close": BOOL,       close the connection after the response (default true)
   "new": BOOL}         accept a new connection first (default true)

Each exchange reads one request from the client: the request line and header lines up to the
empty line, then a body of its Content-Length. Request N (from 0) is written as it arrives to
DIR/request-N (the exact bytes); for a body of type application/x-www-form-urlencoded,
DIR/form-N holds the body as urllib.parse.parse_qs decodes it (UTF-8), one "name TAB value"
line per value. DIR/count holds the number of requests read when the peer ends. The peer
exits 0 when every exchange ran, 1 otherwise (the reason on stderr).
"""
import json
import os
import socket
import sys
import urllib.parse

from peer_process import accept, listen, write_atomically


def read_request(conn, pending):
    data = pending
    while b"\r\n\r\n" not in data:
        chunk = conn.recv(65536)
        if not chunk:
            raise EOFError("client closed inside a request's header block: %r" % data)
        data += chunk
    head, _, rest = data.partition(b"\r\n\r\n")
    head += b"\r\n\r\n"
    headers = {}
    for line in head.split(b"\r\n")[1:]:
        if b":" in line:
            name, _, value = line.partition(b":")
            headers[name.strip().lower()] = value.strip()
    body = b""
    if headers.get(b"transfer-encoding", b"").lower() == b"chunked":
        raise ValueError("chunked requests are not expected")
    length = int(headers.get(b"content-length", b"0"))
    while len(rest) < length:
        chunk = conn.recv(65536)
        if not chunk:
            raise EOFError("client closed inside a request body")
        rest += chunk
    body, rest = rest[:length], rest[length:]
    return head + body, headers, body, rest


def main():
    folder, scriptfile = sys.argv[1:3]
    with open(scriptfile, encoding="utf-8") as f:
        script = json.load(f)
    count = 1 + max([e.get("listener", 0) for e in script] + [0])
    listeners = []
    for _ in range(count):
        listeners.append(listen(8))
    ports = [s.getsockname()[1] for s in listeners]
    write_atomically(os.path.join(folder, "ports"), "\n".join(map(str, ports)).encode())

    requests = []
    conn = None
    pending = b""
    ok = False
    try:
        for exchange in script:
            n = exchange.get("listener", 0)
            if exchange.get("new", True) or conn is None:
                if conn is not None:
                    conn.close()
                conn = accept(listeners[n])
                pending = b""
            raw, headers, body, pending = read_request(conn, pending)
            index = len(requests)
            write_atomically(os.path.join(folder, "request-%d" % index), raw)
            if headers.get(b"content-type", b"").startswith(b"application/x-www-form-urlencoded"):
                form = urllib.parse.parse_qs(body.decode("ascii"), keep_blank_values=True, encoding="utf-8",
                                             errors="strict")
                lines = "".join("%s\t%s\n" % (k, v) for k, vs in form.items() for v in vs)
                write_atomically(os.path.join(folder, "form-%d" % index), lines.encode("utf-8"))
            requests.append(n)
            response = exchange.get("response", "")
            for i, p in enumerate(ports):
                response = response.replace("{PORT%d}" % i, str(p))
            conn.sendall(response.encode("latin-1"))
            if exchange.get("close", True):
                conn.shutdown(socket.SHUT_WR)
                conn.close()
                conn = None
        ok = True
    except Exception as e:
        print("http_peer: %s: %s" % (type(e).__name__, e), file=sys.stderr)
    finally:
        if conn is not None:
            conn.close()
        for s in listeners:
            s.close()
        write_atomically(os.path.join(folder, "count"), str(len(requests)).encode())
    sys.exit(0 if ok else 1)


if __name__ == "__main__":
    main()
