"""Port set-up of the four programs, end to end: pseudo-terminal pairs stand in
for the serial lines (the test holds the far ends) and a pseudo-terminal is the
console. Checks the report lines, the open and config errors with their exit
frame, and that a second program cannot take a port that is in use."""

import fcntl
import os
import pty
import select
import shutil
import signal
import struct
import subprocess
import tempfile
import termios
import time
import unittest

BIN = os.environ.get("KIT_BIN", "")
PROGRAMS = ("Tarvik20191117", "Tarvik20170104", "Pelmar20190524", "Dorvel20161004")
TIMEOUTS = b"TimeOuts: ReadInterv=0ms; ReadTotalMulti=0ms; ReadTotalConst=1000ms"
PRESS = b"Press any key for Exit"


def built():
    return all(os.path.isfile(os.path.join(BIN, p)) for p in PROGRAMS)


class Line:
    """A pty pair as a serial line; the test keeps both ends open."""

    def __init__(self):
        self.master, self.slave = pty.openpty()
        self.name = os.ttyname(self.slave)

    def close(self):
        os.close(self.master)
        os.close(self.slave)


class Run:
    """One program in a station folder of its own, on a pty console."""

    def __init__(self, program, ini_lines):
        self.dir = tempfile.mkdtemp(prefix="kit-ports-")
        self.path = os.path.join(self.dir, program)
        os.symlink(os.path.join(BIN, program), self.path)
        with open(self.path + ".ini", "wb") as f:
            f.write(b"".join(line.encode() + b"\r\n" for line in ini_lines))
        self.console, slave = pty.openpty()
        fcntl.ioctl(slave, termios.TIOCSWINSZ, struct.pack("HHHH", 60, 160, 0, 0))
        self.proc = subprocess.Popen([self.path], stdin=slave, stdout=slave, stderr=slave,
                                     cwd=self.dir, start_new_session=True)
        os.close(slave)
        self.out = b""

    def _pump(self, wait):
        r, _, _ = select.select([self.console], [], [], wait)
        if r:
            try:
                self.out += os.read(self.console, 65536)
            except OSError:
                return False
        return True

    def wait_for(self, text, timeout=5.0):
        end = time.monotonic() + timeout
        while text not in self.out and time.monotonic() < end:
            if not self._pump(0.05) and self.proc.poll() is not None:
                break
        return text in self.out

    def key(self, data):
        os.write(self.console, data)

    def wait_exit(self, timeout=5.0):
        end = time.monotonic() + timeout
        while self.proc.poll() is None and time.monotonic() < end:
            self._pump(0.05)
        while self._pump(0):
            if not select.select([self.console], [], [], 0)[0]:
                break
        return self.proc.poll()

    def lines(self):
        return self.out.split(b"\r\n")

    def close(self):
        if self.proc.poll() is None:
            os.killpg(self.proc.pid, signal.SIGKILL)
            self.proc.wait()
        os.close(self.console)
        shutil.rmtree(self.dir, ignore_errors=True)


def plain_ini(port, settings="9600 8 0 0", zzz="10"):
    return [port, settings, "13 500", "4096", ".txt", "H", "[]", zzz]


def echo_ini(port, echo, settings="9600 8 0 0", zzz="10"):
    return [port, echo, settings, "13 500", "4096", ".txt", "H", "[]", zzz]


@unittest.skipUnless(built(), "the programs are not built (KIT_BIN)")
class PortSetup(unittest.TestCase):
    def setUp(self):
        self.cleanups = []

    def tearDown(self):
        for c in reversed(self.cleanups):
            c()

    def line(self):
        l = Line()
        self.cleanups.append(l.close)
        return l

    def start(self, program, ini):
        r = Run(program, ini)
        self.cleanups.append(r.close)
        return r

    def assert_in_order(self, run, expected):
        lines = run.lines()
        at = -1
        for want in expected:
            self.assertIn(want, lines[at + 1:], run.out.decode(errors="replace"))
            at = lines.index(want, at + 1)

    def assert_ends_in_exit_frame(self, run, error):
        self.assertTrue(run.wait_for(PRESS), run.out)
        self.assert_in_order(run, [error, PRESS])
        self.assertNotIn(b"Configed", run.out.split(error)[1])
        run.key(b"x")
        self.assertEqual(run.wait_exit(), 0)

    def end_with_esc(self, run):
        run.key(b"\x1b")
        self.assertEqual(run.wait_exit(), 0)

    def test_plain_logger_reports_what_the_port_took(self):
        cases = [
            ("9600 8 0 0", b"Configed: BaudRate=9600; ByteSize=8; Parity=0; StopBits=0"),
            ("12345 8 0 2", b"Configed: BaudRate=12345; ByteSize=8; Parity=0; StopBits=2"),
        ]
        for settings, report in cases:
            with self.subTest(settings=settings):
                port = self.line()
                run = self.start("Tarvik20170104", plain_ini(port.name, settings))
                self.assertTrue(run.wait_for(b"...data waiting."), run.out)
                self.assert_in_order(run, [report, TIMEOUTS, b"================="])
                self.end_with_esc(run)

    def test_refused_settings_end_in_the_exit_frame(self):
        # A pseudo-terminal takes neither parity nor 7 data bits.
        for settings in ("9600 8 2 0", "9600 7 0 0", "0 8 0 0"):
            with self.subTest(settings=settings):
                port = self.line()
                run = self.start("Tarvik20170104", plain_ini(port.name, settings))
                self.assert_ends_in_exit_frame(run, b"Error: can not config Com")

    def test_missing_port_ends_in_the_exit_frame(self):
        run = self.start("Tarvik20170104", plain_ini("/dev/kit-no-such-port"))
        self.assert_ends_in_exit_frame(run, b"Error: can not open Com")

    def test_echo_edition(self):
        port, echo = self.line(), self.line()
        run = self.start("Tarvik20191117", echo_ini(port.name, echo.name, "19200 8 0 0"))
        self.assertTrue(run.wait_for(b"...data waiting."), run.out)
        self.assert_in_order(run, [
            b"Configed: BaudRate=19200; ByteSize=8; Parity=0; StopBits=0",
            b"Configed2: BaudRate=19200; ByteSize=8; Parity=0; StopBits=0",
            TIMEOUTS,
        ])
        self.end_with_esc(run)

    def test_echo_edition_reports_what_a_refused_call_left(self):
        # The first, untested call is refused (a pseudo-terminal has no parity):
        # the report shows what the port holds, and the tested call then reports
        # the refusal instead of logging on settings that were not configured.
        port, echo = self.line(), self.line()
        run = self.start("Tarvik20191117", echo_ini(port.name, echo.name, "9600 8 2 0"))
        self.assert_ends_in_exit_frame(run, b"Error: can not config Com")
        self.assertIn(b"Configed: BaudRate=9600; ByteSize=8; Parity=0; StopBits=0", run.out)
        self.assertNotIn(b"Configed2", run.out)

    def test_echo_edition_missing_echo_port(self):
        port = self.line()
        run = self.start("Tarvik20191117", echo_ini(port.name, "/dev/kit-no-such-port"))
        self.assert_ends_in_exit_frame(run, b"Error: can not open Com_Out")
        self.assertNotIn(b"Configed", run.out)

    def test_generator(self):
        port = self.line()
        run = self.start("Pelmar20190524", [port.name, "115200 8 0 0", ".txt", "H", "[]"])
        self.assertTrue(run.wait_for(b"...data waiting."), run.out)
        self.assert_in_order(run, [
            b"Configed: BaudRate=115200; ByteSize=8; Parity=0; StopBits=0", TIMEOUTS])
        self.end_with_esc(run)

    def test_relay(self):
        cc, relay = self.line(), self.line()
        run = self.start("Dorvel20161004",
                         [cc.name, "S", "1", relay.name, "19200 8 0 2", "11"])
        self.assertTrue(run.wait_for(TIMEOUTS), run.out)
        self.assert_in_order(run, [
            b"Configed CC: BaudRate=4800; ByteSize=8; Parity=0; StopBits=0",
            b"Configed Relay: BaudRate=19200; ByteSize=8; Parity=0; StopBits=2",
            TIMEOUTS])
        self.assertEqual(run.out.count(b"TimeOuts:"), 1)
        self.end_with_esc(run)

    def test_relay_errors(self):
        cc, relay = self.line(), self.line()
        cases = [
            ([ "/dev/kit-no-such-port", "S", "1", relay.name, "9600 8 0 0", "11"],
             b"Error: can not open CC Com"),
            ([cc.name, "S", "1", "/dev/kit-no-such-port", "9600 8 0 0", "11"],
             b"Error: can not open Com"),
            ([cc.name, "S", "1", relay.name, "9600 8 1 0", "11"], b"Error: can not config Com"),
        ]
        for ini, error in cases:
            with self.subTest(error=error):
                run = self.start("Dorvel20161004", ini)
                self.assert_ends_in_exit_frame(run, error)

    def test_port_in_use_is_refused_to_a_second_program(self):
        port = self.line()
        first = self.start("Tarvik20170104", plain_ini(port.name))
        self.assertTrue(first.wait_for(b"...data waiting."), first.out)
        link_dir = tempfile.mkdtemp(prefix="kit-ports-link-")
        self.cleanups.append(lambda: shutil.rmtree(link_dir, ignore_errors=True))
        link = os.path.join(link_dir, "ttyKIT")
        os.symlink(port.name, link)
        for name in (port.name, link):
            with self.subTest(name=name):
                second = self.start("Pelmar20190524", [name, "9600 8 0 0", ".txt", "H", "[]"])
                self.assert_ends_in_exit_frame(second, b"Error: can not open Com")
        self.end_with_esc(first)
        # Released at the normal end: the port opens again.
        again = self.start("Pelmar20190524", [port.name, "9600 8 0 0", ".txt", "H", "[]"])
        self.assertTrue(again.wait_for(b"...data waiting."), again.out)
        self.end_with_esc(again)


if __name__ == "__main__":
    unittest.main()
