#!/usr/bin/env python3
"""A serial line that only listens: makes a pseudo-terminal pair, links the end
a program should open to --link, and appends whatever arrives to --out (or
discards it) until it is stopped."""
import argparse
import os
import select
import signal
import sys
import tty


def main():
    ap = argparse.ArgumentParser(description=__doc__)
    ap.add_argument("--link", required=True, help="path of the link to the end to open")
    ap.add_argument("--out", help="file that receives the bytes (default: discard)")
    args = ap.parse_args()

    master, slave = os.openpty()
    tty.setraw(master)
    tty.setraw(slave)
    name = os.ttyname(slave)
    try:
        os.unlink(args.link)
    except FileNotFoundError:
        pass
    os.symlink(name, args.link)
    running = True

    def stop(*_):
        nonlocal running
        running = False

    signal.signal(signal.SIGTERM, stop)
    signal.signal(signal.SIGINT, stop)
    out = open(args.out, "ab") if args.out else None
    try:
        while running:
            try:
                ready, _, _ = select.select([master], [], [], 0.2)
            except InterruptedError:
                continue
            if ready:
                data = os.read(master, 65536)
                if out and data:
                    out.write(data)
                    out.flush()
    finally:
        if out:
            out.close()
        try:
            os.unlink(args.link)
        except OSError:
            pass
    return 0


if __name__ == "__main__":
    sys.exit(main())
