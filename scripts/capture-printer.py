#!/usr/bin/env python3
"""A stand-in network printer: accepts raw-socket print connections on
127.0.0.1 and saves what each one delivers.

  capture-printer.py --port N --dir DIR [--drop-after BYTES] [--throttle BYTES_PER_S]
                     [--lifetime SECONDS]

Connection n is written to DIR/conn-n.bin; DIR/conn-n.done appears once the
connection is over and the file is complete.  With --drop-after the printer
resets the first connection after that many bytes, like a printer that is
switched off in the middle of a job; later connections are served normally.  With --throttle it reads slowly
through a small receive buffer, so the sender is held back the way a busy
printer holds it back.
"""
import argparse
import os
import socket
import struct
import sys
import time


def serve(conn, path, drop_after, throttle):
    """Returns (bytes received, whether the connection was dropped)."""
    total = 0
    started = time.monotonic()
    dropped = False
    conn.settimeout(120)
    with open(path, "wb") as out:
        while True:
            want = 4096 if throttle else 65536
            want = want if drop_after is None else min(want, drop_after - total)
            data = conn.recv(want) if want > 0 else b""
            if drop_after is not None and total >= drop_after:
                dropped = True
                break
            if not data:
                break       # the sender shut its side down: job complete
            out.write(data)
            total += len(data)
            if throttle:
                ahead = total / throttle - (time.monotonic() - started)
                if ahead > 0:
                    time.sleep(ahead)
    if dropped:
        # RST instead of FIN: the sender's next write fails at once.
        conn.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
    # The raw-socket backend waits for the printer to close before it
    # reports the job done.
    conn.close()
    return total, dropped


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--port", type=int, required=True)
    ap.add_argument("--dir", required=True)
    ap.add_argument("--drop-after", type=int)
    ap.add_argument("--throttle", type=float)
    ap.add_argument("--lifetime", type=float, default=900)
    args = ap.parse_args()

    os.makedirs(args.dir, exist_ok=True)
    srv = socket.socket()
    srv.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    if args.throttle:
        srv.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, 4096)
    srv.bind(("127.0.0.1", args.port))
    srv.listen(4)
    srv.settimeout(1.0)
    print(f"listening on 127.0.0.1:{args.port}", flush=True)

    deadline = time.monotonic() + args.lifetime
    drop_after = args.drop_after
    n = 0
    while time.monotonic() < deadline:
        try:
            conn, peer = srv.accept()
        except socket.timeout:
            continue
        n += 1
        path = os.path.join(args.dir, f"conn-{n}.bin")
        total, dropped = serve(conn, path, drop_after, args.throttle)
        if dropped:
            drop_after = None
        open(os.path.join(args.dir, f"conn-{n}.done"), "w").close()
        print(f"connection {n} from {peer[0]}:{peer[1]}: {total} bytes"
              f"{' (dropped)' if dropped else ''}", flush=True)
    return 0


if __name__ == "__main__":
    sys.exit(main())
