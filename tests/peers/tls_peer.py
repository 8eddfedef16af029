#!/usr/bin/env python3
"""A scripted TLS server for the TLS transport's tests (standard library only).

Usage: tls_peer.py DIR MODE CERT KEY

Listens on 127.0.0.1 at a port the system chooses, writes it to DIR/port, accepts one
connection and plays MODE:

  record16k     handshake, send one 16 KiB record, then stay silent until the client closes
  reset         handshake, read a line, then reset the connection (SO_LINGER 0) while the
                client is writing
  close_notify  handshake, send "bye\\n", then close_notify and close
  starttls      plain: read a line, answer "go\\n"; then the TLS handshake on the same socket,
                read a line and send it back with "tls:" in front; then close_notify
  split_record  handshake, then send the first 10 bytes of a record holding "hello world\\n"
                and nothing more until a line from the client arrives; then the rest of that
                record, and stay until the client closes
  records       handshake, then three records ("one\\n", "two\\n", "three\\n") in one send,
                and nothing more until a line from the client arrives; then stay until the
                client closes

Exits 0 when the mode ran to its end, 1 otherwise (the reason on stderr).
"""
import os
import socket
import ssl
import struct
import sys

from peer_process import accept, listen, write_atomically


def read_line(sock):
    data = b""
    while not data.endswith(b"\n"):
        chunk = sock.recv(1)
        if not chunk:
            raise EOFError("client closed before a line ended")
        data += chunk
    return data


def flush(raw, outgoing):
    data = outgoing.read()
    if data:
        raw.sendall(data)


def feed(raw, incoming):
    data = raw.recv(65536)
    if not data:
        raise EOFError("client closed")
    incoming.write(data)


def memory_tls(raw, context):
    """TLS over memory buffers, so records can be cut or joined where the test wants."""
    incoming, outgoing = ssl.MemoryBIO(), ssl.MemoryBIO()
    tls = context.wrap_bio(incoming, outgoing, server_side=True)
    while True:
        try:
            tls.do_handshake()
            break
        except ssl.SSLWantReadError:
            flush(raw, outgoing)
            feed(raw, incoming)
    flush(raw, outgoing)
    return tls, incoming, outgoing


def await_line(raw, tls, incoming):
    line = b""
    while not line.endswith(b"\n"):
        try:
            line += tls.read(65536)
        except ssl.SSLWantReadError:
            feed(raw, incoming)


def stay(raw, tls, incoming):
    while True:
        try:
            if not tls.read(65536):
                return
        except ssl.SSLWantReadError:
            data = raw.recv(65536)
            if not data:
                return
            incoming.write(data)
        except ssl.SSLZeroReturnError:
            return


def split_record(raw, context):
    tls, incoming, outgoing = memory_tls(raw, context)
    tls.write(b"hello world\n")
    record = outgoing.read()
    raw.sendall(record[:10])
    await_line(raw, tls, incoming)
    raw.sendall(record[10:])
    stay(raw, tls, incoming)


def records(raw, context):
    tls, incoming, outgoing = memory_tls(raw, context)
    for line in (b"one\n", b"two\n", b"three\n"):
        tls.write(line)
    raw.sendall(outgoing.read())
    await_line(raw, tls, incoming)
    stay(raw, tls, incoming)


def main():
    folder, mode, cert, key = sys.argv[1:5]
    context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    context.load_cert_chain(cert, key)
    server = listen(4)
    write_atomically(os.path.join(folder, "port"), str(server.getsockname()[1]).encode())
    ok = False
    try:
        raw = accept(server)
        if mode == "split_record":
            split_record(raw, context)
        elif mode == "records":
            records(raw, context)
        elif mode == "starttls":
            line = read_line(raw)
            raw.sendall(b"go\n")
            tls = context.wrap_socket(raw, server_side=True)
            line = read_line(tls)
            tls.sendall(b"tls:" + line)
            tls.unwrap()
        else:
            tls = context.wrap_socket(raw, server_side=True)
            if mode == "record16k":
                tls.sendall(b"R" * 16384)
                while tls.recv(65536):
                    pass
            elif mode == "reset":
                read_line(tls)
                raw.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
                raw.close()
            elif mode == "close_notify":
                tls.sendall(b"bye\n")
                tls.unwrap()
                raw.close()
            else:
                raise ValueError("unknown mode %r" % mode)
        ok = True
    except Exception as e:
        print("tls_peer: %s: %s" % (type(e).__name__, e), file=sys.stderr)
    finally:
        server.close()
    sys.exit(0 if ok else 1)


if __name__ == "__main__":
    main()
