"""The plain logger edition end to end: framing, stamps, keys, log files,
full speed, interrupts and a full disk."""

import os
import random
import subprocess
import sys
import unittest

import kit_e2e as k
import instrument


class Recorder:
    """Stands in for the instrument's line: keeps what it would send."""

    def __init__(self):
        self.data = bytearray()

    def send(self, data):
        self.data += data

    def wait(self, seconds):
        pass


class PlainLoggerTest(k.LoggerCases, k.KitCase):
    C_LINE = "C   -- Break log-file."
    PROGRAM = k.PLAIN_LOGGER

    def test_runs_with_keys_from_a_pipe(self):
        # No terminal for input: keys are the bytes of stdin.
        st = self.station(self.PROGRAM)
        src = self.line()
        st.write_ini(k.logger_ini(self.PROGRAM, src.name, autobreak="N"))
        prog = self.start(st, stdin=subprocess.PIPE)
        prog.wait_for(k.HELP_END)
        st.wait_logging(prog)
        src.write(b"ab\rcd")
        prog.wait_for(b"cd")
        self.finish(prog, k.ESC)
        self.assertEqual([d for _, d in k.logged_lines(st)], [b"ab\r", b"cd"])

    def test_logs_the_instrument_through_a_linked_port(self):
        # The instrument as the operator runs it: its port behind a fixed link
        # that the ini file names.
        link = "/tmp/kit%d" % (os.getpid() % 100000)
        self.addCleanup(lambda: os.path.islink(link) and os.unlink(link))
        inst = self.spawn([sys.executable, os.path.join(k.KIT_TOOLS, "instrument.py"),
                           "--link", link, "--count", "10", "--seed", "7",
                           "--start-delay", "1.5", "--linger", "5"],
                          stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
        announced = inst.stdout.readline()
        self.assertRegex(announced, rb"\APORT /dev/pts/\d+\n\Z")
        self.assertEqual(os.readlink(link).encode(), announced.split()[1])
        st = self.station(self.PROGRAM)
        st.write_ini(k.logger_ini(self.PROGRAM, link, autobreak="N"))
        prog = self.start(st)
        prog.wait_for(k.HELP_END)
        st.wait_logging(prog)
        self.assertEqual(inst.wait(30), 0)
        self.finish(prog, b"Q")

        expected = Recorder()
        instrument.run_demo(expected, random.Random(7), 10, instrument.EOL)
        lines = k.logged_lines(st)
        self.assertEqual(b"".join(d for _, d in lines), bytes(expected.data))
        self.assertEqual(len(lines), 10)

    def test_full_disk_stops_with_disk_full(self):
        root, preexec = k.full_disk(self)
        st, prog, src, _ = self.logger(root=root, preexec=preexec)
        src.write_in_background(instrument.flood_data(1 << 20, 64))
        self.assertEqual(prog.wait_exit(30), 217)
        k.assert_report_at_end(self, prog.output(), "EInOutError : Disk Full")


if __name__ == "__main__":
    unittest.main()
