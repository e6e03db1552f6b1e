#!/usr/bin/env python3
"""Throughput, CPU and forward-latency benchmark of the two loggers.

Measures, in one run, on pseudo-terminal pairs standing in for serial lines:

1. Throughput at full speed: a flood of 64-byte lines (63 printable bytes and
   CR) fed as fast as the line takes them, into Tarvik20170104 (plain edition)
   and Tarvik20191117 (echo edition, whose echo line is drained and checked),
   against `cat` and `picocom` on the same kind of line, and `cat` on a line
   with XON/XOFF flow control on (as the loggers' input port has it with line
   control "11"). Reports MB/s (1 MB = 1 000 000 bytes), the bytes lost and the
   ratios.
2. CPU at a paced rate: 11 520 bytes/s (a 115200-baud line) in 64-byte writes,
   180 per second: CPU seconds per second of the logger and of `cat`.
3. Forward latency of the echo edition: one byte into the input line until it
   comes out of the echo line, one at a time, against `socat` forwarding
   between two pairs.

It measures and prints; no figure makes it fail. The exit status is 0 unless a
program could not be started at all.

    bench/throughput.py                       # both editions, 20 MB, 10 s paced
    bench/throughput.py --program echo --mb 50
    bench/throughput.py --quick               # a smoke run with small sizes
    KIT_BIN=/tmp/b/bin bench/throughput.py    # or --build /tmp/b/bin
"""

import argparse
import atexit
import errno
import fcntl
import glob
import os
import re
import select
import shutil
import signal
import statistics
import struct
import subprocess
import sys
import tempfile
import termios
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tools"))
from instrument import set_raw  # noqa: E402  (the simulated instrument's raw mode)

PLAIN = "Tarvik20170104"
ECHO = "Tarvik20191117"
EOL = 0x0D
EOL_TIME_MS = 500
BUFSIZE = 65536
HEADER = 10  # C1, eight digits, C2
LINE = 64
MB = 1_000_000
ESC = b"\x1b"
READY_TEXT = b"...data waiting."

# Every child started here, killed at the end whatever happens.
CHILDREN = []


# ---------------------------------------------------------------- lines


class Pair:
    """A pseudo-terminal pair. The program under test opens `name` (the slave);
    the benchmark writes to or reads from `master` and keeps its own `slave`
    descriptor open so the line never looks hung up."""

    def __init__(self, rows=0, cols=0):
        self.master, self.slave = os.openpty()
        for fd in (self.master, self.slave):
            set_raw(fd)
            os.set_inheritable(fd, False)
        if rows:
            fcntl.ioctl(self.master, termios.TIOCSWINSZ, struct.pack("HHHH", rows, cols, 0, 0))
        os.set_blocking(self.master, False)
        self.name = os.ttyname(self.slave)

    def pending(self):
        """Bytes written into the line that the reader has not taken yet."""
        buf = bytearray(4)
        try:
            fcntl.ioctl(self.slave, termios.FIONREAD, buf)
        except OSError:
            return 0
        return int.from_bytes(buf, sys.byteorder)

    def close(self):
        for fd in (self.master, self.slave):
            try:
                os.close(fd)
            except OSError:
                pass


# ---------------------------------------------------------------- children


def start(argv, console=None, stdin_path=None, stdout_path=None, cwd=None):
    """Starts a child in a session of its own. With `console` its stdin,
    stdout and stderr are that pair's slave; otherwise stdin/stdout are the
    given paths."""
    if console is not None:
        fin = fout = console.slave
        ferr = console.slave
        extra = []
    else:
        fin = os.open(stdin_path, os.O_RDONLY | os.O_NOCTTY) if stdin_path else subprocess.DEVNULL
        fout = open(stdout_path, "wb") if stdout_path else subprocess.DEVNULL
        ferr = subprocess.DEVNULL
        extra = [fin, fout]
    try:
        p = subprocess.Popen(argv, stdin=fin, stdout=fout, stderr=ferr, cwd=cwd,
                             start_new_session=True, close_fds=True)
    finally:
        for f in extra:
            if isinstance(f, int) and f >= 0:
                os.close(f)
            elif hasattr(f, "close"):
                f.close()
    CHILDREN.append(p)
    return p


def kill(p, sig=signal.SIGKILL):
    """Ends one child of ours (and its process group, which it leads); a
    SIGKILL is followed by the reaping."""
    if p.poll() is not None:
        return
    try:
        os.killpg(p.pid, sig)
    except ProcessLookupError:
        pass
    if sig == signal.SIGKILL:
        try:
            p.wait(5)
        except subprocess.TimeoutExpired:
            pass


def stop(p, grace=2.0):
    """SIGTERM, then SIGKILL after `grace` seconds; reaps the child."""
    if p.poll() is None:
        kill(p, signal.SIGTERM)
        try:
            p.wait(grace)
        except subprocess.TimeoutExpired:
            kill(p)
            p.wait(5)


def kill_all():
    for p in CHILDREN:
        kill(p)
        try:
            p.wait(5)
        except subprocess.TimeoutExpired:
            pass


def cpu_ns(pid):
    """CPU time of a process so far in nanoseconds: /proc/<pid>/schedstat when
    the kernel keeps it, otherwise utime+stime of /proc/<pid>/stat."""
    try:
        with open("/proc/%d/schedstat" % pid) as f:
            ns = int(f.read().split()[0])
        if ns > 0:
            return ns
    except (OSError, ValueError, IndexError):
        pass
    try:
        with open("/proc/%d/stat" % pid) as f:
            fields = f.read().rsplit(")", 1)[1].split()
        ticks = int(fields[11]) + int(fields[12])
        return ticks * 1_000_000_000 // os.sysconf("SC_CLK_TCK")
    except (OSError, ValueError, IndexError):
        return 0


def find_descendant(root, exe):
    """A process below `root` whose first argument is `exe`, or None."""
    children = {}
    for name in os.listdir("/proc"):
        if not name.isdigit():
            continue
        try:
            with open("/proc/%s/stat" % name) as f:
                ppid = int(f.read().rsplit(")", 1)[1].split()[1])
        except (OSError, ValueError, IndexError):
            continue
        children.setdefault(ppid, []).append(int(name))
    todo = [root]
    while todo:
        pid = todo.pop()
        try:
            with open("/proc/%d/cmdline" % pid, "rb") as f:
                if f.read().split(b"\0")[0] == exe.encode():
                    return pid
        except OSError:
            pass
        todo += children.get(pid, [])
    return None


def has_open(pid, path):
    try:
        for fd in os.listdir("/proc/%d/fd" % pid):
            try:
                if os.readlink("/proc/%d/fd/%s" % (pid, fd)) == path:
                    return True
            except OSError:
                pass
    except OSError:
        pass
    return False


# ---------------------------------------------------------------- pumping


class Sink:
    """Reads and discards (or checks) what arrives on a master."""

    def __init__(self, fd, expect=None, keep=False):
        self.fd = fd
        self.count = 0
        self.expect = expect  # bytes the stream must equal, checked as it comes
        self.mismatch = False
        self.keep = keep
        self.data = bytearray()

    def drain(self):
        got = 0
        while True:
            try:
                chunk = os.read(self.fd, 65536)
            except BlockingIOError:
                return got
            except OSError as e:
                if e.errno == errno.EIO:
                    return got
                raise
            if not chunk:
                return got
            if self.expect is not None and not self.mismatch:
                if self.expect[self.count:self.count + len(chunk)] != chunk:
                    self.mismatch = True
            if self.keep:
                self.data += chunk
            self.count += len(chunk)
            got += len(chunk)


class Feed:
    """Writes `data` into a master as fast as the line takes it."""

    def __init__(self, fd, data):
        self.fd = fd
        self.view = memoryview(data)
        self.pos = 0

    def done(self):
        return self.pos >= len(self.view)

    def push(self):
        while self.pos < len(self.view):
            try:
                n = os.write(self.fd, self.view[self.pos:self.pos + 65536])
            except BlockingIOError:
                return
            if n <= 0:
                return
            self.pos += n


def pump(sinks, feed=None, until=None, timeout=10.0, step=0.05):
    """Drains the sinks and pushes the feed until `until()` holds or the
    timeout passes. Returns True when `until()` held."""
    poller = select.poll()
    for s in sinks:
        poller.register(s.fd, select.POLLIN)
    if feed is not None:
        poller.register(feed.fd, select.POLLOUT)
    end = time.monotonic() + timeout
    while True:
        if until is not None and until():
            return True
        left = end - time.monotonic()
        if left <= 0:
            return False
        for fd, ev in poller.poll(min(left, step) * 1000):
            if feed is not None and fd == feed.fd and ev & select.POLLOUT:
                feed.push()
                if feed.done():
                    poller.unregister(feed.fd)
            elif ev & (select.POLLIN | select.POLLHUP | select.POLLERR):
                for s in sinks:
                    if s.fd == fd:
                        s.drain()
        if feed is not None and feed.done():
            feed = None


def wait_for_text(sink, text, timeout):
    return pump([sink], until=lambda: text in sink.data, timeout=timeout)


# ---------------------------------------------------------------- data


def flood(total):
    """`total` bytes of 64-byte lines: a line number, letters, CR. No byte is
    a delimiter, so headers can be told from data."""
    fill = b"abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789"
    out = bytearray()
    n = 0
    while len(out) < total:
        body = (b"%08d " % n + fill)[: LINE - 1]
        out += body + bytes([EOL])
        n += 1
    return bytes(out[:total])


HEADER_RE = re.compile(rb"\[\d{8}\]")


def logged_bytes(folder, ext):
    """The data bytes of every log file of a station, headers stripped, and
    the number of headers."""
    data = bytearray()
    for path in sorted(glob.glob(os.path.join(folder, "*" + ext))):
        with open(path, "rb") as f:
            data += f.read()
    heads = len(HEADER_RE.findall(data))
    return HEADER_RE.sub(b"", bytes(data)), heads


def log_size(folder, ext):
    total = 0
    for path in glob.glob(os.path.join(folder, "*" + ext)):
        try:
            total += os.path.getsize(path)
        except OSError:
            pass
    return total


# ---------------------------------------------------------------- the loggers


class Station:
    """A station folder with a link to the program and its ini file, an input
    line, an echo line (echo edition) and a console."""

    EXT = ".log"
    # The line-control line: "11" drives RTS and DTR and sets XON/XOFF output
    # flow control (IXON) on the input port, as a station normally has it.
    LINE_CONTROL = "11"

    def __init__(self, root, program, bindir, wrap=()):
        self.program = program
        self.wrap = list(wrap)
        self.folder = tempfile.mkdtemp(prefix="st-%s-" % program, dir=root)
        self.exe = os.path.join(self.folder, program)
        os.symlink(os.path.join(bindir, program), self.exe)
        self.line = Pair()
        self.echo = Pair() if program == ECHO else None
        self.console = Pair(rows=25, cols=80)
        lines = [self.line.name]
        if self.echo:
            lines.append(self.echo.name)
        lines += ["115200 8 0 0", "%d %d" % (EOL, EOL_TIME_MS), str(BUFSIZE), self.EXT,
                  "N", "[]", self.LINE_CONTROL]
        with open(self.exe + ".ini", "wb") as f:
            f.write(b"".join(s.encode() + b"\r\n" for s in lines))
        self.con = Sink(self.console.master, keep=True)
        self.proc = None

    def sinks(self):
        return [self.con] + ([self.echo_sink] if self.echo else [])

    def run(self, expect_echo=None):
        self.echo_sink = Sink(self.echo.master, expect=expect_echo) if self.echo else None
        self.proc = start(self.wrap + [self.exe], console=self.console, cwd=self.folder)
        if not wait_for_text(self.con, READY_TEXT, 10.0):
            tail = bytes(self.con.data[-400:]).decode("latin-1")
            raise RuntimeError("%s did not start: %r" % (self.program, tail))
        # The ports are purged right after the help block: let that pass.
        pump(self.sinks(), timeout=0.3)
        self.con.keep = False
        self.con.data = bytearray()

    def pid(self):
        """The logger's own process: the child, or under a wrapper the
        descendant that runs the station's program."""
        if not self.wrap:
            return self.proc.pid
        return find_descendant(self.proc.pid, self.exe) or self.proc.pid

    def settle(self, quiet=0.3, timeout=10.0):
        """Waits until the input line is empty and the console has been
        silent for `quiet` seconds."""
        state = {"count": -1, "since": time.monotonic()}

        def until():
            now = time.monotonic()
            if self.con.count != state["count"] or self.line.pending():
                state["count"], state["since"] = self.con.count, now
            return now - state["since"] >= quiet

        pump(self.sinks(), until=until, timeout=timeout)

    def end(self):
        """ESC, then wait for the exit. Returns the exit status (None: killed)."""
        os.write(self.console.master, ESC)
        pump(self.sinks(), until=lambda: self.proc.poll() is not None, timeout=10.0)
        if self.proc.poll() is None:
            kill(self.proc)
            self.proc.wait(5)
            return None
        return self.proc.returncode

    def close(self):
        if self.proc is not None:
            # Reaped at once: a zombie would keep its port lock file alive.
            kill(self.proc)
            try:
                self.proc.wait(5)
            except subprocess.TimeoutExpired:
                pass
        for pair in (self.line, self.echo, self.console):
            if pair:
                pair.close()


def quiet_end(progress, sent_all, settle=3.0):
    """An `until` for pump: holds once everything is sent and `progress()`
    says the goal is reached, or its value has not moved for `settle` seconds
    (data lost, or still in a buffer that only the end flushes). `progress()`
    returns (value, reached). state['t'] keeps the time of the last progress."""
    state = {"last": None, "t": None, "since": None, "reached": False}

    def until():
        if not sent_all():
            return False
        now = time.monotonic()
        value, reached = progress()
        if value != state["last"]:
            state["last"], state["since"], state["t"] = value, now, now
        if reached:
            state["t"] = now
            state["reached"] = True
            return True
        return now - state["since"] >= settle

    return until, state


def logger_throughput(root, program, bindir, wrap, total):
    data = flood(total)
    lines = (total + LINE - 1) // LINE
    st = Station(root, program, bindir, wrap)
    try:
        st.run(expect_echo=data)
        feed = Feed(st.line.master, data)
        # Everything but the last partial buffer reaches the file while the
        # logger runs; the rest is written at the end.
        goal = total + HEADER * lines - (BUFSIZE + HEADER + 1)
        def progress():
            size = log_size(st.folder, st.EXT)
            echoed = st.echo_sink.count if st.echo else total
            queued = st.line.pending()
            return (size, echoed, queued), size >= goal and echoed >= total and queued == 0

        until, state = quiet_end(progress, feed.done)
        t0 = time.monotonic()
        pump(st.sinks(), feed=feed, until=until, timeout=max(60.0, total / MB * 10))
        t1 = state["t"] or time.monotonic()
        if not state["reached"]:
            print("    the output stopped short of the input; the time runs to its last growth",
                  flush=True)
        not_sent = total - feed.pos
        # ESC ends the logger in the middle of whatever it is reading, and the
        # closing purge drops what it has not read: let the line and the
        # console fall quiet first (not timed).
        st.settle()
        status = st.end()
        got, heads = logged_bytes(st.folder, st.EXT)
        sent = feed.pos
        return {
            "name": program,
            "seconds": t1 - t0,
            "sent": sent,
            "logged": len(got),
            "lost": sent - len(got),
            "intact": got == data[:sent],
            "headers": heads,
            "echo": st.echo_sink.count if st.echo else None,
            "echo_lost": (sent - st.echo_sink.count) if st.echo else None,
            "echo_intact": (not st.echo_sink.mismatch) if st.echo else None,
            "console": st.con.count,
            "status": status,
            "not_sent": not_sent,
        }
    finally:
        st.close()


# ---------------------------------------------------------------- reference tools


def set_ixon(fd):
    """XON/XOFF output flow control on, as the loggers' flag adjustment sets it
    on their input port: the kernel then looks at every received byte."""
    attrs = termios.tcgetattr(fd)
    attrs[0] |= termios.IXON
    termios.tcsetattr(fd, termios.TCSANOW, attrs)


def cat_throughput(root, total, ixon=False):
    data = flood(total)
    line = Pair()
    if ixon:
        set_ixon(line.slave)
    out = unique(root, "cat", ".out")
    p = start(["cat"], stdin_path=line.name, stdout_path=out)
    try:
        feed = Feed(line.master, data)
        until, state = quiet_end(lambda: (os.path.getsize(out), os.path.getsize(out) >= total),
                                 feed.done)
        t0 = time.monotonic()
        pump([], feed=feed, until=until, timeout=max(60.0, total / MB * 10))
        t1 = state["t"] or time.monotonic()
        if not state["reached"]:
            print("    the output stopped short of the input; the time runs to its last growth",
                  flush=True)
        stop(p)
        with open(out, "rb") as f:
            got = f.read()
        return {"name": "cat+IXON" if ixon else "cat", "seconds": t1 - t0, "sent": feed.pos,
                "logged": len(got),
                "lost": feed.pos - len(got), "intact": got == data[:feed.pos]}
    finally:
        kill(p)
        line.close()


def picocom_throughput(root, total):
    data = flood(total)
    line = Pair()
    console = Pair(rows=25, cols=80)
    out = unique(root, "picocom", ".log")
    p = start(["picocom", "--logfile", out, "-b", "115200", "--quiet", line.name],
              console=console)
    con = Sink(console.master)
    try:
        ok = pump([con], until=lambda: has_open(p.pid, line.name) or p.poll() is not None,
                  timeout=10.0)
        if not ok or p.poll() is not None:
            raise RuntimeError("picocom did not open the line")
        pump([con], timeout=0.3)
        feed = Feed(line.master, data)
        size = lambda: os.path.getsize(out) if os.path.exists(out) else 0  # noqa: E731
        until, state = quiet_end(lambda: (size(), size() >= total), feed.done)
        t0 = time.monotonic()
        pump([con], feed=feed, until=until, timeout=max(60.0, total / MB * 10))
        t1 = state["t"] or time.monotonic()
        if not state["reached"]:
            print("    the output stopped short of the input; the time runs to its last growth",
                  flush=True)
        stop(p)
        with open(out, "rb") as f:
            got = f.read()
        return {"name": "picocom", "seconds": t1 - t0, "sent": feed.pos, "logged": len(got),
                "lost": feed.pos - len(got), "intact": got == data[:feed.pos],
                "console": con.count}
    finally:
        kill(p)
        line.close()
        console.close()


def unique(root, stem, ext):
    """A path in `root` that no run has used yet (picocom appends to its log)."""
    n = 0
    while os.path.exists(os.path.join(root, "%s-%d%s" % (stem, n, ext))):
        n += 1
    return os.path.join(root, "%s-%d%s" % (stem, n, ext))


def ensure_tool(tool):
    """The tool's path; installs its Debian package when it is missing."""
    path = shutil.which(tool)
    if path:
        return path
    print("%s is missing: apt-get install -y %s" % (tool, tool), flush=True)
    for steps in ([["apt-get", "install", "-y", tool]],
                  [["apt-get", "update"], ["apt-get", "install", "-y", tool]]):
        for argv in steps:
            try:
                subprocess.run(argv, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                               stdin=subprocess.DEVNULL, timeout=300, check=False)
            except (OSError, subprocess.TimeoutExpired):
                break
        if shutil.which(tool):
            return shutil.which(tool)
    return None


# ---------------------------------------------------------------- paced CPU


def paced(sinks, master, seconds, pid):
    """Writes 64-byte lines 180 times a second for `seconds` while draining the
    sinks. Returns (CPU seconds per second of `pid`, bytes sent)."""
    data = flood(int(seconds * 180 + 1) * LINE)
    period = 1.0 / 180
    poller = select.poll()
    for s in sinks:
        poller.register(s.fd, select.POLLIN)
    c0 = cpu_ns(pid)
    t0 = time.monotonic()
    n = 0
    count = int(seconds * 180)
    while n < count:
        due = t0 + n * period
        now = time.monotonic()
        if now >= due:
            chunk = data[n * LINE:(n + 1) * LINE]
            written = 0
            stuck = time.monotonic() + 5.0
            while written < LINE:
                try:
                    written += os.write(master, chunk[written:])
                except BlockingIOError:
                    if time.monotonic() > stuck:
                        raise RuntimeError("the line has taken nothing for 5 s")
                    select.select([], [master], [], 0.1)
            n += 1
            continue
        for fd, _ in poller.poll(max(0.0, due - now) * 1000):
            for s in sinks:
                if s.fd == fd:
                    s.drain()
    # One more period so the last line is handled inside the window.
    end = t0 + count * period
    while time.monotonic() < end:
        for fd, _ in poller.poll(max(0.0, end - time.monotonic()) * 1000):
            for s in sinks:
                if s.fd == fd:
                    s.drain()
    t1 = time.monotonic()
    c1 = cpu_ns(pid)
    return (c1 - c0) / 1e9 / (t1 - t0), n * LINE


def logger_paced(root, program, bindir, wrap, seconds):
    st = Station(root, program, bindir, wrap)
    try:
        st.run()
        rate, sent = paced(st.sinks(), st.line.master, seconds, st.pid())
        st.settle()
        status = st.end()
        got, _ = logged_bytes(st.folder, st.EXT)
        return {"name": program, "cpu": rate, "sent": sent, "lost": sent - len(got),
                "status": status}
    finally:
        st.close()


def cat_paced(root, seconds):
    line = Pair()
    out = unique(root, "cat-paced", ".out")
    p = start(["cat"], stdin_path=line.name, stdout_path=out)
    try:
        pump([], until=lambda: has_open(p.pid, line.name), timeout=5.0)
        rate, sent = paced([], line.master, seconds, p.pid)
        pump([], until=lambda: os.path.getsize(out) >= sent, timeout=5.0)
        stop(p)
        return {"name": "cat", "cpu": rate, "sent": sent, "lost": sent - os.path.getsize(out)}
    finally:
        kill(p)
        line.close()


# ---------------------------------------------------------------- latency


def latency(into, out_fd, count, sinks=()):
    """Writes one byte at a time into `into` and waits for it on `out_fd`.
    Returns (list of latencies in seconds, bytes that never came)."""
    poller = select.poll()
    poller.register(out_fd, select.POLLIN)
    for s in sinks:
        poller.register(s.fd, select.POLLIN)
    lat = []
    missing = 0
    pattern = b"abcdefghijklmnopqrstuvwxyz0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZ+-*/=!"
    for i in range(count):
        byte = bytes([EOL]) if i % LINE == LINE - 1 else pattern[i % len(pattern):][:1]
        t0 = time.perf_counter()
        try:
            os.write(into, byte)
        except BlockingIOError:
            raise RuntimeError("the line takes no more bytes")
        got = False
        deadline = t0 + 2.0
        while not got:
            left = deadline - time.perf_counter()
            if left <= 0:
                break
            for fd, _ in poller.poll(left * 1000):
                if fd == out_fd:
                    try:
                        chunk = os.read(out_fd, 4096)
                    except BlockingIOError:
                        continue
                    if chunk:
                        t1 = time.perf_counter()
                        got = True
                        lat.append(t1 - t0)
                else:
                    for s in sinks:
                        if s.fd == fd:
                            s.drain()
        if not got:
            missing += 1
    return lat, missing


def logger_latency(root, bindir, wrap, count):
    st = Station(root, ECHO, bindir, wrap)
    try:
        st.run()
        lat, missing = latency(st.line.master, st.echo.master, count, sinks=[st.con])
        status = st.end()
        return {"name": ECHO, "lat": lat, "missing": missing, "status": status}
    finally:
        st.close()


def socat_latency(root, count):
    a, b = Pair(), Pair()
    p = start(["socat", "-u", "FILE:%s,raw,echo=0" % a.name, "FILE:%s,raw,echo=0" % b.name])
    try:
        ok = pump([], until=lambda: has_open(p.pid, a.name) and has_open(p.pid, b.name),
                  timeout=5.0)
        if not ok:
            raise RuntimeError("socat did not open the lines")
        time.sleep(0.2)
        lat, missing = latency(a.master, b.master, count)
        return {"name": "socat", "lat": lat, "missing": missing}
    finally:
        stop(p)
        a.close()
        b.close()


# ---------------------------------------------------------------- report


def pct(values, q):
    s = sorted(values)
    if not s:
        return float("nan")
    k = min(len(s) - 1, max(0, int(round(q / 100.0 * (len(s) - 1)))))
    return s[k]


def verdict(ok):
    return "met" if ok else "MISSED"


def print_table(title, head, rows):
    print()
    print(title)
    widths = [max(len(str(r[i])) for r in [head] + rows) for i in range(len(head))]
    line = "  ".join("%-*s" % (widths[0], head[0]) if i == 0 else "%*s" % (widths[i], h)
                     for i, h in enumerate(head))
    print(line)
    print("-" * len(line))
    for r in rows:
        print("  ".join("%-*s" % (widths[0], c) if i == 0 else "%*s" % (widths[i], c)
                        for i, c in enumerate(r)))


def median_of(values):
    return statistics.median(values) if values else float("nan")


def spread(values, fmt):
    if len(values) < 2:
        return "-"
    return (fmt + "-" + fmt) % (min(values), max(values))


def main():
    ap = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    ap.add_argument("--program", choices=["plain", "echo", "both"], default="both")
    ap.add_argument("--build", default=os.environ.get("KIT_BIN", "/work/main/build/bin"),
                    help="folder of the built programs (default: $KIT_BIN or build/bin)")
    ap.add_argument("--mb", type=float, default=None,
                    help="flood size in MB of 1 000 000 bytes (default 20)")
    ap.add_argument("--paced-seconds", type=float, default=None,
                    help="length of the paced CPU run (default 10)")
    ap.add_argument("--latency-bytes", type=int, default=None,
                    help="bytes sent one at a time for the latency run (default 1000)")
    ap.add_argument("--repeat", type=int, default=None,
                    help="rounds of the throughput and CPU runs, medians reported (default 3)")
    ap.add_argument("--quick", action="store_true", help="small sizes, for a smoke run")
    ap.add_argument("--line-control", default=Station.LINE_CONTROL, metavar="CHARS",
                    help="the two line-control characters of the loggers' ini files "
                         "(default 11, which also turns XON/XOFF flow control on; "
                         "xx leaves the port's flags alone)")
    ap.add_argument("--wrap", default="",
                    help="command put in front of the logger, for profiling, e.g. "
                         "'perf record -o /tmp/p.data --' or 'strace -c -f -o /tmp/s.txt'")
    args = ap.parse_args()
    mb = args.mb if args.mb is not None else (2.0 if args.quick else 20.0)
    paced_s = args.paced_seconds if args.paced_seconds is not None else (
        2.0 if args.quick else 10.0)
    lat_n = args.latency_bytes if args.latency_bytes is not None else (
        200 if args.quick else 1000)
    rounds = max(1, args.repeat if args.repeat is not None else (1 if args.quick else 3))
    total = int(mb * MB) // LINE * LINE
    wrap = args.wrap.split()
    Station.LINE_CONTROL = (args.line_control + "--")[:2]

    programs = {"plain": [PLAIN], "echo": [ECHO], "both": [PLAIN, ECHO]}[args.program]
    bindir = os.path.abspath(args.build)
    for prog in programs:
        if not os.access(os.path.join(bindir, prog), os.X_OK):
            print("no %s in %s (build it, or give --build / KIT_BIN)" % (prog, bindir))
            return 2

    def on_signal(signum, _frame):
        kill_all()
        sys.exit(128 + signum)

    signal.signal(signal.SIGTERM, on_signal)
    signal.signal(signal.SIGINT, on_signal)
    signal.signal(signal.SIGHUP, on_signal)
    atexit.register(kill_all)

    root = tempfile.mkdtemp(prefix="kit-bench-")
    print("programs from %s; work folder %s" % (bindir, root))
    print("flood %.1f MB of %d-byte lines (EOL 13, EOL time %d ms, BufferSize %d); "
          "paced %.0f s; latency %d bytes; %d round(s)"
          % (total / MB, LINE, EOL_TIME_MS, BUFSIZE, paced_s, lat_n, rounds))
    print("line-control characters of the loggers: %r" % Station.LINE_CONTROL)
    if wrap:
        print("loggers run under: %s" % " ".join(wrap))

    def load():
        try:
            with open("/proc/loadavg") as f:
                return " ".join(f.read().split()[:3])
        except OSError:
            return "?"

    print("load average at start: %s" % load(), flush=True)

    def attempt(what, fn, *a):
        print("... %s" % what, flush=True)
        try:
            return fn(*a)
        except Exception as e:  # a failed measurement is reported, the rest goes on
            print("    failed: %s" % e, flush=True)
            return None

    have_picocom = bool(ensure_tool("picocom"))
    if not have_picocom:
        print("picocom cannot be had: its runs are skipped")

    # 1. Throughput, the contenders taking turns so that a change of load
    # touches all of them alike.
    refs = ["cat", "cat+IXON", "picocom"]
    thr = {k: [] for k in programs + refs}
    for n in range(rounds):
        for prog in programs:
            thr[prog].append(attempt("round %d: %s at full speed" % (n + 1, prog),
                                     logger_throughput, root, prog, bindir, wrap, total))
        thr["cat"].append(attempt("round %d: cat at full speed" % (n + 1), cat_throughput,
                                  root, total))
        thr["cat+IXON"].append(attempt("round %d: cat at full speed, IXON on its line"
                                       % (n + 1), cat_throughput, root, total, True))
        if have_picocom:
            thr["picocom"].append(attempt("round %d: picocom at full speed" % (n + 1),
                                          picocom_throughput, root, total))

    # 2. Paced CPU.
    cpu = {k: [] for k in programs + ["cat"]}
    for n in range(rounds):
        for prog in programs:
            cpu[prog].append(attempt("round %d: %s paced" % (n + 1, prog), logger_paced, root,
                                     prog, bindir, wrap, paced_s))
        cpu["cat"].append(attempt("round %d: cat paced" % (n + 1), cat_paced, root, paced_s))

    # 3. Latency.
    lat = {}
    if ECHO in programs:
        lat[ECHO] = attempt("%s forward latency" % ECHO, logger_latency, root, bindir, wrap,
                            lat_n)
        if ensure_tool("socat"):
            lat["socat"] = attempt("socat forward latency", socat_latency, root, lat_n)
        else:
            print("socat cannot be had: skipped")
    print("load average at end: %s" % load())

    # ------------------------------------------------------------ report
    mbs = {}
    best = {}
    rows = []
    for key in programs + refs:
        runs = [r for r in thr[key] if r]
        if not runs:
            rows.append([key] + ["-"] * 9)
            continue
        rates = [r["sent"] / MB / r["seconds"] for r in runs if r["seconds"] > 0]
        mbs[key] = median_of(rates)
        best[key] = max(rates) if rates else float("nan")
        echo_lost = [r["echo_lost"] for r in runs if r.get("echo_lost") is not None]
        echo_ok = [r["echo_intact"] for r in runs if r.get("echo_intact") is not None]
        statuses = sorted({str(r["status"]) for r in runs if r.get("status", 0) != 0})
        console = [r["console"] for r in runs if r.get("console") is not None]
        rows.append([
            key, str(len(runs)), "%.2f" % mbs[key], spread(rates, "%.1f"),
            str(sum(r["lost"] for r in runs)),
            "yes" if all(r["intact"] for r in runs) else "NO",
            str(sum(echo_lost)) if echo_lost else "-",
            ("yes" if all(echo_ok) else "NO") if echo_ok else "-",
            "%.2f" % (median_of(console) / MB) if console else "-",
            ",".join(statuses) if statuses else "-",
        ])
    print_table("1. Throughput at full speed, %.1f MB a run (1 MB = 10^6 bytes; lost: "
                "summed over the runs)" % (total / MB),
                ["program", "runs", "MB/s", "range", "lost", "intact", "echo lost",
                 "echo intact", "console MB", "bad exit"], rows)
    print("MB/s of each round: " + "; ".join(
        "%s %s" % (k, " ".join("%.1f" % (r["sent"] / MB / r["seconds"]) if r else "-"
                               for r in thr[k]))
        for k in programs + refs if thr[k]))
    print()
    for prog in programs:
        if prog not in mbs:
            continue
        for ref, goal in (("cat", 0.3), ("picocom", None), ("cat+IXON", "")):
            if ref not in mbs:
                print("%s/%s throughput ratio: -" % (prog, ref))
                continue
            ratio = mbs[prog] / mbs[ref]
            also = "best rounds %.2f" % (best[prog] / best[ref])
            if goal == "":
                print("%s/%s throughput ratio: %.2f   (%s; for information: the same kernel "
                      "input path as a port with XON/XOFF on)" % (prog, ref, ratio, also))
            elif goal is None:
                print("%s/%s throughput ratio: %.2f   (%s; goal > 1: %s)"
                      % (prog, ref, ratio, also, verdict(ratio > 1.0)))
            else:
                print("%s/%s throughput ratio: %.2f   (%s; goal >= %.1f: %s)"
                      % (prog, ref, ratio, also, goal, verdict(ratio >= goal)))
        runs = [r for r in thr[prog] if r]
        ok = all(r["lost"] == 0 and r["intact"] and r["echo_lost"] in (None, 0)
                 and r["echo_intact"] in (None, True) for r in runs)
        print("%s nothing lost: %s" % (prog, verdict(ok)))

    rates = {}
    least = {}
    rows = []
    for key in programs + ["cat"]:
        runs = [r for r in cpu[key] if r]
        if not runs:
            rows.append([key, "-", "-", "-", "-", "-"])
            continue
        values = [r["cpu"] for r in runs]
        rates[key] = median_of(values)
        least[key] = min(values)
        rows.append([key, str(len(runs)), "%.5f" % rates[key], "%.1f" % (rates[key] / 180 * 1e6),
                     spread(values, "%.5f"),
                     str(sum(r["lost"] for r in runs))])
    print_table("2. CPU at 11520 bytes/s (64 bytes every 1/180 s, %.0f s a run)" % paced_s,
                ["program", "runs", "CPU s/s", "µs/line", "range", "lost"], rows)
    print("CPU s/s of each round: " + "; ".join(
        "%s %s" % (k, " ".join("%.5f" % r["cpu"] if r else "-" for r in cpu[k]))
        for k in programs + ["cat"] if cpu[k]))
    print()
    for prog in programs:
        if prog in rates and rates.get("cat", 0) > 0:
            ratio = rates[prog] / rates["cat"]
            print("%s/cat CPU ratio: %.2f   (least rounds %.2f; goal <= 1.5: %s)"
                  % (prog, ratio, least[prog] / least["cat"], verdict(ratio <= 1.5)))

    if lat:
        rows = []
        for key in (ECHO, "socat"):
            r = lat.get(key)
            if not r or not r["lat"]:
                rows.append([key, "-", "-", "-", "-", "-"])
                continue
            v = r["lat"]
            r["median"] = statistics.median(v)
            rows.append([key, str(len(v)), "%.1f" % (r["median"] * 1e6),
                         "%.1f" % (pct(v, 99) * 1e6), "%.1f" % (max(v) * 1e6),
                         str(r["missing"])])
        print_table("3. Forward latency, input line to echo line, one byte at a time (µs)",
                    ["program", "bytes", "median", "p99", "max", "never came"], rows)
        r, q = lat.get(ECHO), lat.get("socat")
        if r and q and r["lat"] and q["lat"]:
            ratio = r["median"] / q["median"]
            print()
            print("%s/socat median latency ratio: %.2f   (goal <= 2: %s)"
                  % (ECHO, ratio, verdict(ratio <= 2.0)))
    print(flush=True)
    shutil.rmtree(root, ignore_errors=True)
    return 0


if __name__ == "__main__":
    try:
        sys.exit(main())
    finally:
        kill_all()
