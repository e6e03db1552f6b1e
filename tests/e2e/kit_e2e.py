"""Shared harness of the end-to-end tests.

A test builds a station (a temporary folder holding a link to the built
program and its ini file), makes pseudo-terminal pairs that stand in for serial
lines, runs the program with a pseudo-terminal as its console, and then looks at
the console output, the bytes on the lines, the log files and the exit status.

Environment: KIT_BIN is the folder of the built programs, KIT_TOOLS the tools/
folder (for instrument.py). Every wait is bounded; tearDown ends whatever a
test left running.
"""

import datetime
import fcntl
import os
import re
import resource
import select
import shutil
import signal
import struct
import subprocess
import sys
import tempfile
import termios
import threading
import time
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
KIT_BIN = os.environ.get("KIT_BIN", os.path.join(HERE, "..", "..", "build", "bin"))
KIT_TOOLS = os.environ.get("KIT_TOOLS", os.path.join(HERE, "..", "..", "tools"))
sys.path.insert(0, KIT_TOOLS)

import instrument  # noqa: E402  (found through KIT_TOOLS)

ECHO_LOGGER = "Tarvik20191117"
PLAIN_LOGGER = "Tarvik20170104"
GENERATOR = "Pelmar20190524"
RELAY = "Dorvel20161004"

WEB = "serialkit.example.net"
ESC = b"\x1b"
CTRL_C = b"\x03"
PAGE_DOWN = b"\x1b[6~"

# Terminal control sequences the console puts around its text (clear screen,
# cursor home, autowrap off and on).
_CONTROL = re.compile(rb"\x1b\[[0-9;?]*[A-Za-z]|\x1b\][^\x07]*\x07")

# What the failure reports put where a code address stands.
ADDRESS = r"\$[0-9A-F]{8}"


def banner(name):
    return "---%s//%s---" % (name, WEB)


def program_path(name):
    return os.path.join(KIT_BIN, name)


def have_program(name):
    p = program_path(name)
    return os.path.isfile(p) and os.access(p, os.X_OK)


def strip_controls(data):
    return _CONTROL.sub(b"", data)


def console_lines(data):
    """The console output as text lines (CR LF separated, controls removed).
    Bytes are decoded as UTF-8, the console's encoding of its glyphs."""
    return strip_controls(data).decode("utf-8", "replace").split("\r\n")


def day_ms(t=None):
    """Local time of day in milliseconds of a time.time() value."""
    t = time.time() if t is None else t
    d = datetime.datetime.fromtimestamp(t)
    return ((d.hour * 60 + d.minute) * 60 + d.second) * 1000 + d.microsecond // 1000


def ms_distance(a, b):
    """Distance of two times of day in ms, across midnight."""
    d = abs(a - b) % 86400000
    return min(d, 86400000 - d)


def log_name(t, ext):
    """The log file name of the second of time.time() value t."""
    return time.strftime("%Y%m%d_%H%M%S", time.localtime(t)) + ext


def name_time(name):
    """time.time() value of the second a log file name stands for."""
    return time.mktime(time.strptime(name[:15], "%Y%m%d_%H%M%S"))


def parse_log(data, c1=b"[", c2=b"]"):
    """Split log content into (stamp, line bytes) pairs. Headers are found by
    the delimiters and eight digits, so data must not itself hold that form."""
    pat = re.compile(re.escape(c1) + rb"(\d{8})" + re.escape(c2))
    parts = pat.split(data)
    if parts[0] != b"":
        raise AssertionError("log does not start with a header: %r" % data[:40])
    return [(int(parts[i]), parts[i + 1]) for i in range(1, len(parts), 2)]


def ini_bytes(lines, ending=b"\r\n"):
    out = bytearray()
    for line in lines:
        out += line.encode("latin-1") if isinstance(line, str) else line
        out += ending
    return bytes(out)


class Line:
    """A pseudo-terminal pair standing in for a serial line. The test holds
    both ends for the whole test, so the line never hangs up."""

    def __init__(self):
        self.master, self.slave, self.name = instrument.open_line()
        os.set_blocking(self.master, False)
        self._lock = threading.Condition()
        self._received = bytearray()
        self._reader = None
        self._writer = None
        self._stop = False
        self.closed = False

    # -- bytes towards the program
    def write(self, data, timeout=30.0):
        """Write all of data into the line (blocks while the program does not
        read, at most `timeout` seconds)."""
        view = memoryview(data)
        end = time.monotonic() + timeout
        while view:
            left = end - time.monotonic()
            if left <= 0 or self._stop:
                raise AssertionError("line %s: %d bytes not taken" % (self.name, len(view)))
            _, w, _ = select.select([], [self.master], [], min(left, 0.2))
            if not w:
                continue
            try:
                n = os.write(self.master, view)
            except BlockingIOError:
                continue
            view = view[n:]

    def write_in_background(self, data, chunk=4096):
        """Write data from a thread; join with join_writer()."""
        self.write_error = None

        def run():
            try:
                for i in range(0, len(data), chunk):
                    self.write(data[i:i + chunk], timeout=60.0)
            except BaseException as e:  # reported by join_writer
                self.write_error = e

        self._writer = threading.Thread(target=run, daemon=True)
        self._writer.start()

    def join_writer(self, timeout=60.0):
        self._writer.join(timeout)
        if self._writer.is_alive():
            raise AssertionError("line %s: writer still busy after %.0fs" % (self.name, timeout))
        if self.write_error:
            raise self.write_error

    def pending(self):
        """Bytes in the line that the program has not read yet."""
        return instrument.pending_input(self.slave)

    def wait_drained(self, timeout=30.0, quiet=0.3):
        end = time.monotonic() + timeout
        empty_since = None
        while time.monotonic() < end:
            now = time.monotonic()
            if self.pending() > 0:
                empty_since = None
            elif empty_since is None:
                empty_since = now
            elif now - empty_since >= quiet:
                return
            time.sleep(0.02)
        raise AssertionError("line %s: %d bytes still unread" % (self.name, self.pending()))

    # -- bytes from the program
    def start_reader(self):
        """Collect everything the program writes into the line."""

        def run():
            while not self._stop:
                try:
                    r, _, _ = select.select([self.master], [], [], 0.1)
                except (OSError, ValueError):
                    return
                if not r:
                    continue
                try:
                    data = os.read(self.master, 65536)
                except BlockingIOError:
                    continue
                except OSError:
                    return
                with self._lock:
                    self._received += data
                    self._lock.notify_all()

        self._reader = threading.Thread(target=run, daemon=True)
        self._reader.start()

    def wait_received(self, count, timeout=10.0):
        end = time.monotonic() + timeout
        with self._lock:
            while len(self._received) < count:
                left = end - time.monotonic()
                if left <= 0:
                    break
                self._lock.wait(left)
            return bytes(self._received)

    def close(self):
        if self.closed:
            return
        self._stop = True
        for t in (self._reader, self._writer):
            if t is not None:
                t.join(2.0)
        instrument.close_line(self.master, self.slave)
        self.closed = True


class Program:
    """A running program with a pseudo-terminal as its console. Its output is
    collected by a thread, so the program never blocks on the console."""

    def __init__(self, path, cwd, stdin=None, preexec=None, cols=250, rows=50):
        self.path = path
        master, slave = os.openpty()
        fcntl.ioctl(slave, termios.TIOCSWINSZ, struct.pack("HHHH", rows, cols, 0, 0))
        self.master = master
        self._out = bytearray()
        self._cond = threading.Condition()
        self._eof = False
        self._stop = False
        self._closed = False

        def child_setup():
            # A session of its own with the console as controlling terminal, so
            # that Ctrl+C typed on it raises SIGINT as on a real terminal.
            os.setsid()
            fcntl.ioctl(1, termios.TIOCSCTTY, 0)
            if preexec is not None:
                preexec()

        try:
            self.proc = subprocess.Popen(
                [path], executable=path, cwd=cwd,
                stdin=slave if stdin is None else stdin, stdout=slave, stderr=slave,
                close_fds=True, preexec_fn=child_setup)
        finally:
            os.close(slave)
        self.pid = self.proc.pid
        self._thread = threading.Thread(target=self._collect, daemon=True)
        self._thread.start()

    def _collect(self):
        while not self._stop:
            try:
                r, _, _ = select.select([self.master], [], [], 0.2)
            except (OSError, ValueError):
                break
            if not r:
                # The program has ended and nothing more is readable (the kit
                # starts no other process that could hold the terminal).
                if self.proc.poll() is not None:
                    break
                continue
            try:
                data = os.read(self.master, 65536)
            except OSError:  # EIO: every slave descriptor is closed
                break
            if not data:
                break
            with self._cond:
                self._out += data
                self._cond.notify_all()
        with self._cond:
            self._eof = True
            self._cond.notify_all()

    def _close_master(self):
        self._stop = True
        self._thread.join(2.0)
        if not self._closed:
            self._closed = True
            os.close(self.master)

    # -- console output
    def output(self):
        with self._cond:
            return bytes(self._out)

    def text_lines(self):
        return console_lines(self.output())

    def wait_for(self, needle, timeout=5.0, start=0):
        """Wait until the console output holds `needle` (bytes, or a compiled
        bytes regex) at or after `start`; return the offset just past it."""
        end = time.monotonic() + timeout
        with self._cond:
            while True:
                if isinstance(needle, bytes):
                    i = self._out.find(needle, start)
                    if i >= 0:
                        return i + len(needle)
                else:
                    m = needle.search(bytes(self._out), start)
                    if m:
                        return m.end()
                left = end - time.monotonic()
                if left <= 0 or (self._eof and self.proc.poll() is not None):
                    tail = bytes(self._out[-600:])
                    raise AssertionError("console never showed %r within %.1fs; status %r; "
                                         "output ends with %r"
                                         % (needle, timeout, self.proc.poll(), tail))
                self._cond.wait(min(left, 0.2))

    # -- keys
    def keys(self, data):
        """Type keys: bytes into the console, or into stdin when that is a pipe."""
        if self.proc.stdin is not None:
            self.proc.stdin.write(data)
            self.proc.stdin.flush()
        else:
            os.write(self.master, data)

    def esc(self):
        """ESC alone, then a pause so that it cannot be taken as the start of a
        terminal key sequence."""
        self.keys(ESC)
        time.sleep(0.1)

    # -- the end
    def hang_up(self):
        """Close the console's terminal, as when its window goes away."""
        self._close_master()

    def running(self):
        return self.proc.poll() is None

    def wait_exit(self, timeout=10.0):
        try:
            status = self.proc.wait(timeout)
        except subprocess.TimeoutExpired:
            raise AssertionError("%s still running after %.1fs; output ends with %r"
                                 % (os.path.basename(self.path), timeout,
                                    self.output()[-600:]))
        self._thread.join(2.0)
        return status

    def kill(self):
        if self.proc.stdin is not None:
            try:
                self.proc.stdin.close()
            except OSError:
                pass
        if self.proc.poll() is None:
            try:
                self.proc.kill()
            except OSError:
                pass
            try:
                self.proc.wait(5)
            except subprocess.TimeoutExpired:
                pass
        self._close_master()


class Station:
    """A folder holding a link to one program and its ini file; its log files
    are made there."""

    def __init__(self, name, root=None):
        self.name = name
        if root is None:
            # No dot anywhere in the folder path: the ini path is found by the
            # last dot of the program's path.
            self.dir = tempfile.mkdtemp(prefix="kit_", dir="/tmp")
        else:
            self.dir = root
        self.exe = os.path.join(self.dir, name)
        os.symlink(os.path.abspath(program_path(name)), self.exe)
        self.ini = self.exe + ".ini"

    def write_ini(self, lines, ending=b"\r\n"):
        with open(self.ini, "wb") as f:
            f.write(ini_bytes(lines, ending))

    def start(self, **kw):
        return Program(self.exe, self.dir, **kw)

    def log_files(self, ext=".txt"):
        pat = re.compile(r"^\d{8}_\d{6}" + re.escape(ext) + "$")
        return sorted(n for n in os.listdir(self.dir) if pat.match(n))

    def read(self, name):
        with open(os.path.join(self.dir, name), "rb") as f:
            return f.read()

    def open_log_files(self, prog, ext=".txt"):
        """Log files of this station that the program holds open."""
        pat = re.compile(re.escape(self.dir) + r"/\d{8}_\d{6}" + re.escape(ext) + "$")
        fd_dir = "/proc/%d/fd" % prog.pid
        found = []
        try:
            fds = os.listdir(fd_dir)
        except OSError:
            return found
        for fd in fds:
            try:
                target = os.readlink(os.path.join(fd_dir, fd))
            except OSError:
                continue
            if pat.match(target):
                found.append(os.path.basename(target))
        return sorted(found)

    def wait_logging(self, prog, ext=".txt", timeout=5.0):
        """Wait for the start of logging: the port has been purged and the
        first log file opened. Bytes sent before it may be purged."""
        if not wait_until(lambda: self.open_log_files(prog, ext), timeout):
            raise AssertionError("no log file open after %.1fs; output ends with %r"
                                 % (timeout, prog.output()[-400:]))

    def wait_log_files(self, count, ext=".txt", timeout=5.0):
        end = time.monotonic() + timeout
        while True:
            files = self.log_files(ext)
            if len(files) >= count or time.monotonic() >= end:
                return files
            time.sleep(0.02)


def logger_ini(name, port, echo_port=None, eol=13, eol_time=500, bufsize=4096, ext=".txt",
               autobreak="H", delims="[]", lines="11", baud="9600 8 0 0"):
    rows = [port]
    if name == ECHO_LOGGER:
        rows.append(echo_port if echo_port is not None else port)
    rows += [baud, "%d %d" % (eol, eol_time), str(bufsize), ext, autobreak, delims, lines]
    return rows


class KitCase(unittest.TestCase):
    """Base of the end-to-end tests: stations, lines and programs made through
    it are cleaned up in tearDown."""

    def setUp(self):
        self._programs = []
        self._lines = []
        self._dirs = []
        self._mounts = []
        self._helpers = []

    def tearDown(self):
        for p in self._programs:
            p.kill()
        for h in self._helpers:
            if h.poll() is None:
                h.terminate()
                try:
                    h.wait(5)
                except subprocess.TimeoutExpired:
                    h.kill()
                    h.wait(5)
            for f in (h.stdin, h.stdout, h.stderr):
                if f is not None:
                    f.close()
        for line in self._lines:
            line.close()
        for m in self._mounts:
            subprocess.run(["umount", "-l", m], stdout=subprocess.DEVNULL,
                           stderr=subprocess.DEVNULL)
        for d in self._dirs:
            shutil.rmtree(d, ignore_errors=True)

    def require(self, *names):
        for name in names:
            if not have_program(name):
                self.skipTest("%s is not built in %s" % (name, KIT_BIN))

    def station(self, name, root=None):
        self.require(name)
        s = Station(name, root)
        if root is None:
            self._dirs.append(s.dir)
        return s

    def line(self):
        line = Line()
        self._lines.append(line)
        return line

    def start(self, station, **kw):
        p = station.start(**kw)
        self._programs.append(p)
        return p

    def spawn(self, args, **kw):
        """A helper process (the instrument), ended in tearDown."""
        p = subprocess.Popen(args, **kw)
        self._helpers.append(p)
        return p

    def tmpfs(self, size="64k"):
        """A small tmpfs of its own, or None where mounting is not allowed."""
        d = tempfile.mkdtemp(prefix="kit_fs_", dir="/tmp")
        self._dirs.append(d)
        r = subprocess.run(["mount", "-t", "tmpfs", "-o", "size=" + size, "tmpfs", d],
                           stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        if r.returncode != 0:
            return None
        self._mounts.insert(0, d)
        return d

    def start_logger(self, name, ini=None, root=None, preexec=None, **ini_kw):
        """A logger station on fresh lines, started and past its help block.
        Returns (station, program, input line, echo line or None); the echo
        line's reader is running."""
        st = self.station(name, root)
        src = self.line()
        echo = self.line() if name == ECHO_LOGGER else None
        if echo is not None:
            echo.start_reader()
        st.write_ini(ini if ini is not None else
                     logger_ini(name, src.name, echo.name if echo else None, **ini_kw))
        prog = self.start(st, preexec=preexec)
        prog.wait_for(HELP_END)
        st.wait_logging(prog)
        return st, prog, src, echo


HELP_END = b"...data waiting.\r\n"


def wait_until(predicate, timeout, step=0.01):
    end = time.monotonic() + timeout
    while not predicate():
        if time.monotonic() >= end:
            return False
        time.sleep(step)
    return True


def logged_lines(station, ext=".txt", c1=b"[", c2=b"]"):
    """All log lines of a station, file after file in name order."""
    out = []
    for name in station.log_files(ext):
        out += parse_log(station.read(name), c1, c2)
    return out


def logged_data(station, ext=".txt"):
    return b"".join(data for _, data in logged_lines(station, ext))


def seconds_to_next_second():
    t = time.time()
    return 1.0 - (t - int(t))


def file_size_limit(limit):
    """preexec function: files of the program can grow to `limit` bytes, and
    a write beyond fails instead of raising SIGXFSZ (a full disk without a
    file system of its own)."""
    def setup():
        signal.signal(signal.SIGXFSZ, signal.SIG_IGN)
        resource.setrlimit(resource.RLIMIT_FSIZE, (limit, limit))
    return setup


def full_disk(test, size=64 * 1024):
    """Where the station of a full-disk test lives: (root folder or None,
    preexec function or None)."""
    root = test.tmpfs("%dk" % (size // 1024))
    return (root, None) if root else (None, file_size_limit(size))


def assert_report_at_end(test, output, kind_and_message):
    """The failure report of the loggers closes the console output."""
    text = strip_controls(output).decode("latin-1")
    pat = re.compile(r"An unhandled exception occurred at %s :\r\n%s\r\n(  %s\r\n)+\r\n\Z"
                     % (ADDRESS, re.escape(kind_and_message), ADDRESS))
    if not pat.search(text):
        test.fail("no report %r at the end of the output, which ends with %r"
                  % (kind_and_message, text[-400:]))


class LoggerCases:
    """What both logger editions do alike. Mixed into a KitCase with PROGRAM
    set to the edition's name."""

    PROGRAM = None
    C_LINE = None  # the edition's help line for key C
    FLOOD_BYTES = 4 << 20

    def logger(self, **kw):
        kw.setdefault("autobreak", "N")  # no hourly file change in the middle of a test
        return self.start_logger(self.PROGRAM, **kw)

    def finish(self, prog, key=ESC, timeout=4.0):
        """End the loop with a key; the status of a normal end is 0."""
        if key == ESC:
            prog.esc()
        else:
            prog.keys(key)
        self.assertEqual(prog.wait_exit(timeout), 0)
        self.assert_terminal_restored(prog)

    def assert_terminal_restored(self, prog):
        """The console's terminal is back in line mode with echo after the end."""
        lflag = termios.tcgetattr(prog.master)[3]
        self.assertTrue(lflag & termios.ICANON and lflag & termios.ECHO,
                        "terminal left in raw mode")

    def test_lines_by_end_of_line_byte_and_by_silence(self):
        st, prog, src, _ = self.logger(eol_time=200)
        t1 = time.time()
        src.write(b"ab\r")
        src.write(b"cd")
        time.sleep(0.5)
        t3 = time.time()
        src.write(b"ef\r")
        prog.wait_for(b"ef\r")
        # Page Down gives 0 and then 81, which acts as Q: at a line end the
        # loop ends at once.
        self.finish(prog, PAGE_DOWN)

        files = st.log_files()
        self.assertEqual(len(files), 1)
        lines = parse_log(st.read(files[0]))
        self.assertEqual([d for _, d in lines], [b"ab\r", b"cd", b"ef\r"])
        (s1, _), (s2, _), (s3, _) = lines
        # Stamps are the local time of day of each line's first byte.
        self.assertLess(ms_distance(s1, day_ms(t1)), 2000)
        self.assertLess(ms_distance(s3, day_ms(t3)), 2000)
        self.assertLess(ms_distance(s1, s2), 450, "cd followed ab at once")
        self.assertGreaterEqual(ms_distance(s2, s3), 300, "ef came after a 500 ms pause")
        self.assertLess(ms_distance(s2, s3), 2000)
        # The console shows exactly what the file holds.
        shown = strip_controls(prog.output()).split(HELP_END, 1)[1]
        self.assertEqual(shown, st.read(files[0]))

    def test_escape_ends_at_once_and_keeps_the_partial_line(self):
        st, prog, src, _ = self.logger()
        self.assertEqual(prog.text_lines()[-6:],
                         ["=================", "ESC -- Hard Exit.",
                          "Q   -- Soft Exit (EOL symbol wailing).", self.C_LINE,
                          "...data waiting.", ""])
        src.write(b"L1\rpart")
        prog.wait_for(b"part")
        t0 = time.monotonic()
        self.finish(prog, ESC)
        self.assertLess(time.monotonic() - t0, 3.0)
        self.assertEqual([d for _, d in logged_lines(st)], [b"L1\r", b"part"])

    def test_soft_exit_waits_for_the_line_end(self):
        st, prog, src, _ = self.logger(eol_time=10000)
        prog.keys(b"q")  # lower case does nothing
        time.sleep(1.3)
        self.assertTrue(prog.running(), "q ended the program")
        src.write(b"abc")
        off = prog.wait_for(b"abc")
        prog.keys(b"Q")
        time.sleep(1.3)
        self.assertTrue(prog.running(), "Q ended the program in the middle of a line")
        src.write(b"def\r")
        prog.wait_for(b"def\r", start=off)
        self.assertEqual(prog.wait_exit(3.0), 0)
        self.assertEqual([d for _, d in logged_lines(st)], [b"abcdef\r"])

    def test_key_c_starts_a_new_file_at_a_line_end(self):
        st, prog, src, _ = self.logger(bufsize=100000, eol_time=10000)
        first = st.wait_log_files(1)
        self.assertEqual(len(first), 1, "no log file at the start of logging")
        first = first[0]
        # C in the middle of a line waits for its end.
        src.write(b"L1")
        prog.wait_for(b"L1")
        prog.keys(b"C")
        time.sleep(1.2)  # the loop takes the key within one read time-out
        self.assertEqual(st.log_files(), [first], "C acted in the middle of a line")
        # Early in a second: the next file is named by the second of the
        # line's last byte, and what follows at once falls into the same second.
        time.sleep(seconds_to_next_second() + 0.02)
        t_eol = time.time()
        src.write(b"\r")
        files = st.wait_log_files(2)
        t_seen = time.time()
        self.assertEqual(len(files), 2, "C at the line end made no new file")
        second = files[1]
        self.assertGreaterEqual(name_time(second), int(t_eol))
        self.assertLessEqual(name_time(second), int(t_seen))
        # C again, with a whole line within the same second: the name repeats,
        # and the file already holding that line is continued.
        prog.keys(b"C")
        time.sleep(0.05)
        src.write(b"L2")
        time.sleep(0.1)
        src.write(b"\r")
        t_l2 = time.time()
        time.sleep(0.1)
        src.write(b"L3\r")
        prog.wait_for(b"L3\r")
        self.finish(prog, ESC)

        files = st.log_files()
        self.assertEqual(parse_log(st.read(first))[0][1], b"L1\r")
        self.assertEqual(len(parse_log(st.read(first))), 1)
        # Not a byte lost, whatever the names came to.
        self.assertEqual([d for _, d in logged_lines(st)], [b"L1\r", b"L2\r", b"L3\r"])
        if int(t_l2) == name_time(second):
            self.assertEqual(files, [first, second], "a repeated name made another file")
            self.assertEqual([d for _, d in parse_log(st.read(second))], [b"L2\r", b"L3\r"])

    def test_existing_log_file_is_continued(self):
        # Files named for the seconds around the start: the one the program
        # starts with must keep its content and get the new line after it.
        st = self.station(self.PROGRAM)
        now = time.time()
        old = {}
        for i in range(-1, 6):
            name = log_name(now + i, ".txt")
            old[name] = b"[00000000]old line of %s\r" % name.encode()
            with open(os.path.join(st.dir, name), "wb") as f:
                f.write(old[name])
        src = self.line()
        echo = self.line() if self.PROGRAM == ECHO_LOGGER else None
        if echo:
            echo.start_reader()
        st.write_ini(logger_ini(self.PROGRAM, src.name, echo.name if echo else None,
                                autobreak="N"))
        prog = self.start(st)
        prog.wait_for(HELP_END)
        st.wait_logging(prog)
        src.write(b"new\r")
        prog.wait_for(b"new\r")
        self.finish(prog, ESC)
        self.assertEqual(st.log_files(), sorted(old), "a log file other than the existing ones")
        changed = [n for n in old if st.read(n) != old[n]]
        self.assertEqual(len(changed), 1, "changed files: %r" % changed)
        content = st.read(changed[0])
        self.assertTrue(content.startswith(old[changed[0]]), "old content lost: %r" % content)
        self.assertEqual([d for _, d in parse_log(content)], [b"old line of %s\r"
                                                             % changed[0].encode(), b"new\r"])

    def test_full_speed_nothing_lost(self):
        data = instrument.flood_data(self.FLOOD_BYTES, 64)
        st, prog, src, echo = self.logger(eol_time=2000)
        src.write_in_background(data)
        src.join_writer(90)
        src.wait_drained(30)
        self.finish(prog, b"Q", timeout=15)
        got = logged_data(st)
        self.assertEqual(len(got), len(data))
        self.assertTrue(got == data, "log differs from the data sent")
        if echo is not None:
            fwd = echo.wait_received(len(data), 15)
            self.assertEqual(len(fwd), len(data))
            self.assertTrue(fwd == data, "echo line differs from the data sent")

    def test_interrupt_and_hang_up_end_through_the_shut_down(self):
        # A buffer larger than the data: nothing reaches the file before the
        # shut-down flushes it.
        data = b"one\rtwo\rthr"
        endings = {
            "SIGTERM": lambda p: os.kill(p.pid, signal.SIGTERM),
            "Ctrl+C": lambda p: p.keys(CTRL_C),
            "hang-up": lambda p: p.hang_up(),
        }
        for how, end in endings.items():
            with self.subTest(ending=how):
                st, prog, src, echo = self.logger(bufsize=1000000)
                src.write(data)
                prog.wait_for(b"thr")
                files = st.log_files()
                self.assertEqual(len(files), 1)
                self.assertEqual(st.read(files[0]), b"", "flushed before the end")
                end(prog)
                self.assertEqual(prog.wait_exit(5), 0)
                if how != "hang-up":
                    self.assert_terminal_restored(prog)
                self.assertEqual(b"".join(d for _, d in logged_lines(st)), data)
                if echo is not None:
                    self.assertEqual(echo.wait_received(len(data), 2), data)
