#!/usr/bin/env python3
"""A scripted TCP peer for the internet library's tests (standard library only).

Usage: script_peer.py PORTFILE SCRIPTFILE TRANSCRIPTFILE [--ipv6]

Listens on 127.0.0.1 (or ::1) at a port the system chooses, writes that port to PORTFILE,
accepts one connection and plays SCRIPTFILE, a JSON list of steps, each a list whose first
item names the step:

  ["send", TEXT]        send TEXT (each character U+0000..U+00FF is one byte)
  ["send_hex", HEX]     send the bytes written in hexadecimal
  ["sync"]              wait until the client acknowledged every byte sent so far: a client
                        in acknowledging mode answers each receive with its byte count as a
                        4-byte big-endian number, so the next piece is sent only after the
                        previous one was received on its own
  ["recv", N]           read exactly N bytes from the client into the transcript
  ["recv_until", TEXT]  read until the transcript ends with TEXT
  ["recv_all"]          read until the client closes
  ["sleep", MS]         pause
  ["shut_wr"]           shut the sending side down (the client sees an orderly close)
  ["close"]             close the connection
  ["accept"]            close the connection, if any, and accept the next one

When the script ends (or the client goes), everything received is written to TRANSCRIPTFILE
and the peer exits: 0 when the script ran to its end, 1 otherwise (the reason on stderr).
"""
import json
import socket
import struct
import sys

from peer_process import accept, listen, recv_until_closed, write_atomically


def recv_exactly(conn, n):
    out = bytearray()
    while len(out) < n:
        chunk = conn.recv(n - len(out))
        if not chunk:
            raise EOFError("client closed after %d of %d bytes" % (len(out), n))
        out += chunk
    return bytes(out)


def main():
    portfile, scriptfile, transcriptfile = sys.argv[1:4]
    ipv6 = "--ipv6" in sys.argv[4:]
    server = listen(8, "::1" if ipv6 else "127.0.0.1", reuse_address=True)
    with open(scriptfile, encoding="utf-8") as f:
        steps = json.load(f)
    write_atomically(portfile, str(server.getsockname()[1]).encode())

    received = bytearray()
    conn = None
    sent = acked = 0
    ok = False
    try:
        conn = accept(server)
        for step in steps:
            op = step[0]
            if op == "send":
                data = step[1].encode("latin-1")
                conn.sendall(data)
                sent += len(data)
            elif op == "send_hex":
                data = bytes.fromhex(step[1])
                conn.sendall(data)
                sent += len(data)
            elif op == "sync":
                while acked < sent:
                    acked += struct.unpack(">I", recv_exactly(conn, 4))[0]
            elif op == "recv":
                received += recv_exactly(conn, int(step[1]))
            elif op == "recv_until":
                want = step[1].encode("latin-1")
                while not received.endswith(want):
                    chunk = conn.recv(1)
                    if not chunk:
                        raise EOFError("client closed before %r" % want)
                    received += chunk
            elif op == "recv_all":
                received += recv_until_closed(conn)
            elif op == "sleep":
                import time
                time.sleep(step[1] / 1000.0)
            elif op == "shut_wr":
                conn.shutdown(socket.SHUT_WR)
            elif op == "close":
                conn.close()
                conn = None
            elif op == "accept":
                if conn is not None:
                    conn.close()
                conn = accept(server)
                sent = acked = 0
            else:
                raise ValueError("unknown step %r" % (op,))
        ok = True
    except Exception as e:  # the test reads the reason from stderr and the exit code
        print("script_peer: %s: %s" % (type(e).__name__, e), file=sys.stderr)
    finally:
        if conn is not None:
            conn.close()
        server.close()
        write_atomically(transcriptfile, bytes(received))
    sys.exit(0 if ok else 1)


if __name__ == "__main__":
    main()
