#!/usr/bin/env python3
"""A simulated instrument on a pseudo-terminal pair.

The kit opens one end of the pair as its serial port; this program writes
instrument lines into the other end. It keeps its own descriptor of the kit's
end open, so the line never looks hung up while the kit opens and closes it,
and it reads and discards whatever the kit writes back.

    instrument.py                      # demo: readings, bursts, pauses, binary bytes
    instrument.py --link /tmp/ttyMETER --seconds 30
    instrument.py --mode flood --bytes 4000000 --line 64

The name of the kit's end is printed as "PORT <name>" (or written to the file
given by --port-file) before the first byte is sent.

As a module:  master, slave, name = instrument.open_line()
"""

import argparse
import errno
import fcntl
import os
import random
import select
import signal
import sys
import termios
import time

EOL = 0x0D


def set_raw(fd):
    """Raw mode: no echo, no line editing, no flow control, 8 data bits."""
    attrs = termios.tcgetattr(fd)
    iflag, oflag, cflag, lflag, ispeed, ospeed, cc = attrs
    iflag &= ~(termios.IGNBRK | termios.BRKINT | termios.PARMRK | termios.ISTRIP
               | termios.INLCR | termios.IGNCR | termios.ICRNL | termios.IXON
               | termios.IXOFF | termios.IXANY)
    oflag &= ~termios.OPOST
    lflag &= ~(termios.ECHO | termios.ECHONL | termios.ICANON | termios.ISIG
               | termios.IEXTEN)
    cflag &= ~(termios.CSIZE | termios.PARENB)
    cflag |= termios.CS8 | termios.CREAD | termios.CLOCAL
    cc = list(cc)
    cc[termios.VMIN] = 1
    cc[termios.VTIME] = 0
    termios.tcsetattr(fd, termios.TCSANOW,
                      [iflag, oflag, cflag, lflag, ispeed, ospeed, cc])


def open_line():
    """Make a pseudo-terminal pair standing in for a serial line.

    Returns (master_fd, slave_fd, slave_name). Both ends are in raw mode; the
    kit opens slave_name, the caller writes to and reads from master_fd and
    keeps slave_fd open for as long as the line is to stay up.
    """
    master, slave = os.openpty()
    for fd in (master, slave):
        set_raw(fd)
        os.set_inheritable(fd, False)
    return master, slave, os.ttyname(slave)


def close_line(master, slave):
    for fd in (master, slave):
        try:
            os.close(fd)
        except OSError:
            pass


def pending_input(slave):
    """Bytes written into the line that the kit has not read yet."""
    buf = bytearray(4)
    try:
        fcntl.ioctl(slave, termios.FIONREAD, buf)
    except OSError:
        return 0
    return int.from_bytes(buf, sys.byteorder)


def flood_data(total, line=64, eol=EOL):
    """Deterministic flood content: numbered lines of `line` bytes, the last
    one ending in `eol`; the final line is cut so that exactly `total` bytes
    result."""
    line = max(line, 2)
    out = bytearray()
    n = 0
    fill = b"abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789"
    while len(out) < total:
        head = b"%08d " % n
        body = (head + fill * (line // len(fill) + 1))[: line - 1]
        out += body + bytes([eol])
        n += 1
    return bytes(out[:total])


class Stop(Exception):
    pass


class Instrument:
    """Writes into the master end, paced by --rate, reading back whatever
    the kit writes, until stopped by a signal, a count or a deadline."""

    def __init__(self, master, slave, rate=0, deadline=None, stop_flag=None):
        self.master = master
        self.slave = slave
        self.rate = rate  # bytes per second, 0: as fast as the line takes them
        self.deadline = deadline
        self.stop_flag = stop_flag if stop_flag is not None else [False]
        self.sent = 0
        self.received = 0
        os.set_blocking(master, False)

    def _check(self):
        if self.stop_flag[0]:
            raise Stop()
        if self.deadline is not None and time.monotonic() >= self.deadline:
            raise Stop()

    def _drain(self):
        while True:
            try:
                data = os.read(self.master, 65536)
            except BlockingIOError:
                return
            except OSError as e:
                if e.errno == errno.EIO:
                    return
                raise
            if not data:
                return
            self.received += len(data)

    def wait(self, seconds):
        """Pause, still draining the line and honouring a stop."""
        end = time.monotonic() + seconds
        while True:
            self._check()
            left = end - time.monotonic()
            if left <= 0:
                return
            r, _, _ = select.select([self.master], [], [], min(left, 0.1))
            if r:
                self._drain()

    def send(self, data):
        """Write all of data, paced by the rate."""
        view = memoryview(data)
        start = time.monotonic()
        done = 0
        while done < len(view):
            self._check()
            if self.rate > 0:
                due = start + done / self.rate
                now = time.monotonic()
                if due > now:
                    self.wait(due - now)
                chunk = max(1, min(len(view) - done, int(self.rate // 100) or 1))
            else:
                chunk = len(view) - done
            r, w, _ = select.select([self.master], [self.master], [], 0.1)
            if r:
                self._drain()
            if not w:
                continue
            try:
                n = os.write(self.master, view[done:done + chunk])
            except BlockingIOError:
                continue
            done += n
            self.sent += n

    def linger(self, seconds, quiet=0.3):
        """After the last byte: wait until the kit has read everything that is
        still in the line (at most `seconds`). The queue must stay empty for
        `quiet` seconds, since bytes pass through the kernel's own buffer
        before they count as pending."""
        end = time.monotonic() + seconds
        empty_since = None
        while time.monotonic() < end and not self.stop_flag[0]:
            now = time.monotonic()
            if pending_input(self.slave) > 0:
                empty_since = None
            elif empty_since is None:
                empty_since = now
            elif now - empty_since >= quiet:
                return
            r, _, _ = select.select([self.master], [], [], 0.05)
            if r:
                self._drain()


def reading(rng):
    return b"T=%.2f P=%.1f" % (rng.uniform(18.0, 28.0), rng.uniform(990.0, 1030.0))


def run_demo(inst, rng, count, eol, ending=None):
    """Readings one by one, bursts of several lines at once, long pauses and
    now and then a few binary bytes. Each line ends in `ending` (default: the
    end-of-line byte alone)."""
    end = ending if ending is not None else bytes([eol])
    binary = [b for b in range(256) if b not in (eol, 0x11, 0x13) and b not in end]
    lines = 0
    while count is None or lines < count:
        pick = rng.random()
        if pick < 0.15:
            n = rng.randint(3, 6)
            if count is not None:
                n = min(n, count - lines)
            inst.send(b"".join(reading(rng) + end for _ in range(n)))
            lines += n
        elif pick < 0.22:
            inst.send(bytes(rng.choice(binary) for _ in range(rng.randint(1, 4))) + end)
            lines += 1
        else:
            inst.send(reading(rng) + end)
            lines += 1
        if count is not None and lines >= count:
            break
        if rng.random() < 0.2:
            inst.wait(0.7)
        else:
            inst.wait(rng.uniform(0.05, 0.3))


def main(argv=None):
    ap = argparse.ArgumentParser(description="Simulated serial instrument on a pseudo-terminal.")
    ap.add_argument("--mode", choices=("demo", "flood"), default="demo")
    ap.add_argument("--bytes", type=int, default=1 << 20, help="flood: bytes to send")
    ap.add_argument("--line", type=int, default=64, help="flood: line length, EOL included")
    ap.add_argument("--eol", type=int, default=EOL, help="end-of-line byte (default 13)")
    ap.add_argument("--crlf", action="store_true",
                    help="demo: end lines with CR and then the end-of-line byte (use --eol 10)")
    ap.add_argument("--rate", type=float, default=0, help="bytes per second (0: unpaced)")
    ap.add_argument("--count", type=int, help="demo: stop after this many lines")
    ap.add_argument("--seconds", type=float, help="stop after this many seconds")
    ap.add_argument("--seed", type=int, default=1)
    ap.add_argument("--port-file", help="write the port name into this file")
    ap.add_argument("--link", help="make a symlink with this path to the port")
    ap.add_argument("--start-delay", type=float, default=0.0,
                    help="seconds to wait after announcing the port before sending")
    ap.add_argument("--linger", type=float, default=10.0,
                    help="at the end, seconds to wait for the kit to read what is left")
    args = ap.parse_args(argv)

    stop_flag = [False]

    def on_signal(_sig, _frame):
        stop_flag[0] = True

    signal.signal(signal.SIGTERM, on_signal)
    signal.signal(signal.SIGINT, on_signal)
    signal.signal(signal.SIGHUP, on_signal)

    master, slave, name = open_line()
    link_made = False
    try:
        if args.link:
            try:
                if os.path.islink(args.link):
                    os.unlink(args.link)
                os.symlink(name, args.link)
                link_made = True
            except OSError as e:
                print("instrument: cannot make link %s: %s" % (args.link, e), file=sys.stderr)
                return 2
        if args.port_file:
            tmp = args.port_file + ".tmp"
            with open(tmp, "w") as f:
                f.write(name + "\n")
            os.replace(tmp, args.port_file)
        print("PORT " + name, flush=True)

        deadline = None
        if args.seconds is not None:
            deadline = time.monotonic() + args.seconds
        inst = Instrument(master, slave, rate=args.rate, deadline=deadline, stop_flag=stop_flag)
        try:
            if args.start_delay > 0:
                inst.wait(args.start_delay)
            if args.mode == "flood":
                inst.send(flood_data(args.bytes, args.line, args.eol))
            else:
                ending = (b"\r" + bytes([args.eol])) if args.crlf else None
                run_demo(inst, random.Random(args.seed), args.count, args.eol, ending)
            inst.deadline = None
            inst.linger(args.linger)
        except Stop:
            pass
        print("SENT %d" % inst.sent, file=sys.stderr, flush=True)
    finally:
        if link_made:
            try:
                os.unlink(args.link)
            except OSError:
                pass
        close_line(master, slave)
    return 0


if __name__ == "__main__":
    sys.exit(main())
