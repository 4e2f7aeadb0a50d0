"""A log file left with a torn last line, by a crash in the middle of a write, gets its line end
when the daemon opens it, so the next record starts a line of its own."""

import signal
import unittest

from quenbytest import Workspace, read_bytes, split_record, wait_for


class TornLineTest(unittest.TestCase):
    def test_existing_file_is_continued_on_a_new_line(self):
        # (what the file holds at start, what it holds before the first new record)
        cases = [
            (b"whole\ntorn record", b"whole\ntorn record\n"),
            (b"torn\x1a", b"torn\n"),
            (b"whole\n\x1a", b"whole\n"),
            (b"\x1a", b""),
            (b"whole\n", b"whole\n"),
            (b"", b""),
        ]
        for existing, kept in cases:
            with self.subTest(existing=existing):
                ws = Workspace(self)
                ws.configure()
                path = ws.log_path("syslog.log")
                with open(path, "wb") as f:
                    f.write(existing)
                d = ws.start("-d")
                d.wait_ready()
                d.send(b"<13>next record")
                wait_for(lambda: read_bytes(path).endswith(b" next record\n"),
                         f"the record in {path}")
                self.assertEqual(d.stop(signal.SIGINT), 1, d.describe())
                data = read_bytes(path)
                self.assertTrue(data.startswith(kept), data)
                # Exactly the record line follows: no blank line, nothing glued on.
                _, sender, rest = split_record(data[len(kept):])
                self.assertEqual((sender, rest), (b"127.0.0.1", b"user.notice next record\n"))


if __name__ == "__main__":
    unittest.main()
