"""The echo logger edition end to end: everything the plain edition does, plus
the forward of every byte to the echo line and the writer's failure ending."""

import unittest

import kit_e2e as k
import instrument


class EchoLoggerTest(k.LoggerCases, k.KitCase):
    C_LINE = "C   -- New log-file."
    PROGRAM = k.ECHO_LOGGER

    def test_forwards_every_byte_value_unchanged(self):
        # Line-control characters other than 0 and 1 leave the input port's
        # flow control off, so XON and XOFF are data like any other byte.
        data = bytes(range(256)) * 3
        st, prog, src, echo = self.logger(lines="--")
        src.write(data)
        fwd = echo.wait_received(len(data), 5)
        self.assertEqual(fwd, data)
        self.finish(prog, k.ESC)
        self.assertEqual(k.logged_data(st), data)

    def test_stalled_echo_port_never_stalls_the_log(self):
        # Nobody reads the echo line: it takes a few KB and then holds back.
        st = self.station(self.PROGRAM)
        src, echo = self.line(), self.line()
        st.write_ini(k.logger_ini(self.PROGRAM, src.name, echo.name, autobreak="N"))
        prog = self.start(st)
        prog.wait_for(k.HELP_END)
        st.wait_logging(prog)
        data = instrument.flood_data(512 * 1024, 64)
        src.write_in_background(data)
        src.join_writer(20)
        src.wait_drained(10)
        self.finish(prog, k.ESC, timeout=5)
        self.assertTrue(k.logged_data(st) == data, "log differs from the data sent")

    def test_full_disk_ends_with_the_writer_error(self):
        root, preexec = k.full_disk(self)
        st, prog, src, _ = self.logger(root=root, preexec=preexec)
        src.write_in_background(instrument.flood_data(1 << 20, 64))
        self.assertEqual(prog.wait_exit(30), 1)
        text = k.strip_controls(prog.output())
        self.assertRegex(text[-200:], rb"(GetOverlappedResult|WriteFile) Error=\d+\r\n\Z")


if __name__ == "__main__":
    unittest.main()
