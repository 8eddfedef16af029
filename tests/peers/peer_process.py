"""What the scripted peers share (standard library only).

The servers of one port print it first, serve until stopped, and end by themselves when the
process that started them is gone (so a test that crashes leaves no server behind). The peers
that play one script write their ports and results to files renamed into place (a test never
reads half of one), listen on loopback with a time-out on every wait for the client, and read
a connection to its end the same way."""

import os
import socket
import threading
import time

TIMEOUT = 60.0  # seconds any single wait for the client may take


def write_atomically(path, data):
    tmp = path + ".tmp"
    with open(tmp, "wb") as f:
        f.write(data)
    os.replace(tmp, path)


def listen(backlog, host="127.0.0.1", reuse_address=False):
    """A socket listening on host at a port the system chooses, its waits bounded by TIMEOUT."""
    s = socket.socket(socket.AF_INET6 if ":" in host else socket.AF_INET, socket.SOCK_STREAM)
    if reuse_address:
        s.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    s.bind((host, 0))
    s.listen(backlog)
    s.settimeout(TIMEOUT)
    return s


def accept(listener):
    """The next connection, its waits bounded by TIMEOUT."""
    conn, _ = listener.accept()
    conn.settimeout(TIMEOUT)
    return conn


def recv_until_closed(conn):
    """Everything the client sends until it closes."""
    got = bytearray()
    while True:
        chunk = conn.recv(65536)
        if not chunk:
            return bytes(got)
        got += chunk


def watch_parent():
    parent = os.getppid()
    while True:
        time.sleep(0.5)
        if os.getppid() != parent:
            os._exit(0)


def serve(server):
    """Prints the server's port, then serves until stopped or orphaned."""
    threading.Thread(target=watch_parent, daemon=True).start()
    print(server.server_address[1], flush=True)
    try:
        server.serve_forever()
    except KeyboardInterrupt:
        pass
