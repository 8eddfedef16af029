"""What the scripted peers that serve on one port share (standard library only): they print
their port first, serve until stopped, and end by themselves when the process that started
them is gone (so a test that crashes leaves no server behind)."""

import os
import threading
import time


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
