#!/usr/bin/env python3
"""A scripted FTP server for the FTP client's tests (standard library only).

Usage: ftp_peer.py DIR SCRIPTFILE

Listens on 127.0.0.1 at a port the system chooses, writes it to DIR/port, accepts one control
connection and plays SCRIPTFILE, a JSON list of steps, each a list whose first item names it:

  ["send", TEXT]       send TEXT on the control connection (U+0000..U+00FF are the bytes)
  ["cmd"]              read one command line (up to LF) into the transcript
  ["cmd", N]           read N command lines
  ["pasv"]             open a data listener and send "227 Entering Passive Mode (...)" for it;
                       a second item (text) replaces the reply's words and numbers, where
                       "{ADDR}" stands for the listener's six numbers
  ["accept"]           accept the data connection on the listener of the last "pasv"
  ["port"]             connect to the address of the last PORT command read
  ["data", TEXT]       send TEXT on the data connection
  ["data_recv"]        read the data connection until the client closes it into DIR/data-N
                       (N counts these steps from 0)
  ["data_close"]       close the data connection
  ["sleep", MS]        pause
  ["close"]            close the control connection

DIR/transcript holds the command lines read (each with its line end). The peer exits 0 when
the script ran to its end, 1 otherwise (the reason on stderr).
"""
import json
import os
import socket
import sys
import time

from peer_process import TIMEOUT, accept, listen, recv_until_closed, write_atomically


def main():
    folder, scriptfile = sys.argv[1:3]
    with open(scriptfile, encoding="utf-8") as f:
        steps = json.load(f)
    server = listen(4)
    write_atomically(os.path.join(folder, "port"), str(server.getsockname()[1]).encode())

    transcript = bytearray()
    control = data = listener = None
    pending = b""
    last_port = None
    received = 0
    ok = False

    def read_line():
        nonlocal pending
        while b"\n" not in pending:
            chunk = control.recv(4096)
            if not chunk:
                raise EOFError("client closed the control connection")
            pending += chunk
        line, _, pending = pending.partition(b"\n")
        return line + b"\n"

    try:
        control = accept(server)
        for step in steps:
            op = step[0]
            if op == "send":
                control.sendall(step[1].encode("latin-1"))
            elif op == "cmd":
                for _ in range(step[1] if len(step) > 1 else 1):
                    line = read_line()
                    transcript += line
                    if line.upper().startswith(b"PORT "):
                        n = [int(x) for x in line[5:].strip().split(b",")]
                        last_port = ("%d.%d.%d.%d" % tuple(n[:4]), n[4] * 256 + n[5])
            elif op == "pasv":
                if listener is not None:
                    listener.close()
                listener = listen(1)
                p = listener.getsockname()[1]
                addr = "127,0,0,1,%d,%d" % (p // 256, p % 256)
                text = step[1] if len(step) > 1 else "227 Entering Passive Mode ({ADDR}).\r\n"
                control.sendall(text.replace("{ADDR}", addr).encode("latin-1"))
            elif op == "accept":
                data = accept(listener)
            elif op == "port":
                data = socket.create_connection(last_port, timeout=TIMEOUT)
            elif op == "data":
                data.sendall(step[1].encode("latin-1"))
            elif op == "data_recv":
                write_atomically(os.path.join(folder, "data-%d" % received), recv_until_closed(data))
                received += 1
            elif op == "data_close":
                data.close()
                data = None
            elif op == "sleep":
                time.sleep(step[1] / 1000.0)
            elif op == "close":
                control.close()
                control = None
            else:
                raise ValueError("unknown step %r" % (op,))
        ok = True
    except Exception as e:
        print("ftp_peer: %s: %s" % (type(e).__name__, e), file=sys.stderr)
    finally:
        for s in (data, control, listener, server):
            if s is not None:
                s.close()
        write_atomically(os.path.join(folder, "transcript"), bytes(transcript))
    sys.exit(0 if ok else 1)


if __name__ == "__main__":
    main()
