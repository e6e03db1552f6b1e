"""Start-up and endings of the four programs: banner, folder and ini path, the
echo line of every configuration line, the exit frame after a port that cannot
be opened, and the failure reports of a missing ini file and a malformed number."""

import re
import subprocess
import time
import unittest

import kit_e2e as k

NO_PORT1 = "/dev/kitnone1"
NO_PORT2 = "/dev/kitnone2"

# Per program: an example-style ini whose ports do not exist, the echo lines it
# must give, the open error that follows, and where a malformed number goes.
CASES = {
    k.ECHO_LOGGER: dict(
        ini=[NO_PORT1, NO_PORT2, "0x4B00 7 2 1", "10 250", "8192", ".log", "D", "<>", "10"],
        echo=["Read: COM Name=" + NO_PORT1,
              "Read: COM_Out Name=" + NO_PORT2,
              "Read: BaudRate=19200; ByteSize=7; Parity=2; StopBits=1",
              "Read: EOL code=10; EOL time=250ms",
              "Read: BufferSize=8192byte",
              "Read: log files extension=.log",
              "Read: autobreak code=D",
              "Read: LeftDelim='<'; RightDelim='>'",
              "Read: DTR='1'; RTS='0'"],
        error="Error: can not open Com",
        bad_line=2),
    k.PLAIN_LOGGER: dict(
        ini=[NO_PORT1, "9600 8 0 0", "13 500", "4096", ".txt", "H", "[]", "11"],
        echo=["Read: COM Name=" + NO_PORT1,
              "Read: BaudRate=9600; ByteSize=8; Parity=0; StopBits=0",
              "Read: EOL code=13; EOL time=500ms",
              "Read: BufferSize=4096byte",
              "Read: log files extension=.txt",
              "Read: autobreak code=H",
              "Read: LeftDelim='['; RightDelim=']'",
              "Read: DTR='1'; RTS='1'"],
        error="Error: can not open Com",
        bad_line=1),
    k.GENERATOR: dict(
        ini=[NO_PORT1, "115200 8 0 2", ".cnt", "H", "{}"],
        echo=["Read: COM Name=" + NO_PORT1,
              "Read: BaudRate=115200; ByteSize=8; Parity=0; StopBits=2",
              "Read: log files extension=.cnt",
              "Read: autobreak code=H",
              "Read: LeftDelim='{'; RightDelim='}'"],
        error="Error: can not open Com",
        bad_line=1),
    k.RELAY: dict(
        ini=[NO_PORT1, "S1 R2", "0042", NO_PORT2, "4800 8 0 0", "01"],
        echo=["Read CC: COM Name=" + NO_PORT1,
              "Read CC: Init CC string=S1 R2",
              "Read CC: Init CC value=0042",
              "Read Relay: COM Name=" + NO_PORT2,
              "Read Relay: BaudRate=4800; ByteSize=8; Parity=0; StopBits=0",
              "Read Relay: DTR='0'; RTS='1'"],
        error="Error: can not open CC Com",
        bad_line=4),
}

TRACE = re.compile(r"  " + k.ADDRESS + r"\Z")


def head(station):
    return [k.banner(station.name),
            "Path to work folder: " + station.dir + "/",
            "Expect ini-file name: " + station.ini]


class FrameTest(k.KitCase):

    def run_to_exit(self, station, timeout=5.0):
        prog = self.start(station)
        status = prog.wait_exit(timeout)
        return prog, status

    def assert_report(self, lines, name, message):
        """The failure report: its fixed lines, one or more trace lines and an
        empty line, and nothing after it."""
        if name == k.RELAY:
            self.assertRegex(lines[0], r"\ARuntime error %d at %s\Z" % (message, k.ADDRESS))
            rest = lines[1:]
        else:
            self.assertRegex(lines[0], r"\AAn unhandled exception occurred at %s :\Z" % k.ADDRESS)
            self.assertEqual(lines[1], "EInOutError : " + message)
            rest = lines[2:]
        traces = 0
        while traces < len(rest) and TRACE.match(rest[traces]):
            traces += 1
        self.assertGreaterEqual(traces, 1, "no trace line in %r" % rest)
        # The empty line that closes the report, then the end of the output.
        self.assertEqual(rest[traces:], ["", ""], "after the trace: %r" % rest[traces:])

    def test_start_up_lines_and_exit_frame(self):
        for name, case in CASES.items():
            with self.subTest(program=name):
                st = self.station(name)
                st.write_ini(case["ini"])
                prog = self.start(st)
                prog.wait_for(b"Press any key for Exit\r\n")
                time.sleep(0.2)
                self.assertTrue(prog.running(), "ended without waiting for a key")
                expected = head(st) + case["echo"] + [case["error"], "Press any key for Exit"]
                self.assertEqual(prog.text_lines(), expected + [""])
                prog.keys(b"x")
                self.assertEqual(prog.wait_exit(5), 0)
                self.assertEqual(prog.text_lines(), expected + [""], "output after the key")

    def test_missing_ini_file(self):
        for name in CASES:
            with self.subTest(program=name):
                st = self.station(name)
                prog, status = self.run_to_exit(st)
                lines = prog.text_lines()
                self.assertEqual(lines[:3], head(st))
                if name == k.RELAY:
                    self.assertEqual(status, 2)
                    self.assert_report(lines[3:], name, 2)
                else:
                    self.assertEqual(status, 217)
                    self.assert_report(lines[3:], name, "File not found")
                self.assertEqual(st.log_files(".txt"), [])

    def test_malformed_number(self):
        for name, case in CASES.items():
            with self.subTest(program=name):
                st = self.station(name)
                ini = list(case["ini"])
                bad = case["bad_line"]
                # A character attached to the number makes the token malformed.
                first, _, rest = ini[bad].partition(" ")
                ini[bad] = first + "; " + rest
                st.write_ini(ini)
                prog, status = self.run_to_exit(st)
                lines = prog.text_lines()
                # The lines before the bad one are echoed; the bad one is not.
                self.assertEqual(lines[:3 + bad], head(st) + case["echo"][:bad])
                if name == k.RELAY:
                    self.assertEqual(status, 106)
                    self.assert_report(lines[3 + bad:], name, 106)
                else:
                    self.assertEqual(status, 217)
                    self.assert_report(lines[3 + bad:], name, "Invalid input")

    def test_no_terminal_never_hangs_in_the_exit_frame(self):
        # With stdin at its end the key wait of the exit frame must not block.
        for name, case in CASES.items():
            with self.subTest(program=name):
                st = self.station(name)
                st.write_ini(case["ini"])
                t0 = time.monotonic()
                try:
                    r = subprocess.run([st.exe], cwd=st.dir, stdin=subprocess.DEVNULL,
                                       stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                                       timeout=5)
                except subprocess.TimeoutExpired as e:
                    self.fail("%s hangs with stdin from /dev/null; output %r"
                              % (name, e.output))
                self.assertLess(time.monotonic() - t0, 3.0)
                self.assertEqual(r.returncode, 0)
                lines = k.console_lines(r.stdout)
                expected = head(st) + case["echo"] + [case["error"], "Press any key for Exit"]
                self.assertEqual(lines, expected + [""])


if __name__ == "__main__":
    unittest.main()
