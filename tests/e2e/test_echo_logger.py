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

    def test_full_disk_ends_with_the_writer_error(self):
        root, preexec = k.full_disk(self)
        st, prog, src, _ = self.logger(root=root, preexec=preexec)
        src.write_in_background(instrument.flood_data(1 << 20, 64))
        self.assertEqual(prog.wait_exit(30), 1)
        text = k.strip_controls(prog.output())
        self.assertRegex(text[-200:], rb"(GetOverlappedResult|WriteFile) Error=\d+\r\n\Z")


if __name__ == "__main__":
    unittest.main()
