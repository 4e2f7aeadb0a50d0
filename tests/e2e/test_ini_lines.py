"""How the lines of Quenby.ini are read: long lines, blanks, quotes, what is no comment."""

import os
import signal
import socket
import unittest

from quenbytest import BANNER, Workspace, config_echo, free_udp_port, wait_lines

MAX_LOG_DIR = 258


def directory_of_length(ws, length):
    """A directory below the workspace whose path, with its final '/', has length characters."""
    path = os.path.join(ws.root, "d" * (length - len(ws.root) - 2)) + "/"
    assert len(path) == length, path
    os.mkdir(path)
    return path


def long_log_dir(ws):
    path = directory_of_length(ws, MAX_LOG_DIR)
    return "LogDir=" + path, path, None


def longer_than_kept(ws):
    # The line has 300 characters; what is past the 258th of the value is dropped.
    path = directory_of_length(ws, MAX_LOG_DIR)
    line = "LogDir=" + path + "x" * (300 - 7 - MAX_LOG_DIR)
    assert len(line) == 300
    return line, path, None


def indented_after_key(ws):
    # An indented line is a key of its own, not the continuation of the key before it.
    return "  LogDir=" + ws.logdir, ws.logdir, None


def quoted(ws):
    return f'LogDir="{ws.logdir}"', ws.logdir, None


def semicolon_inside(ws):
    # Only a line that starts with ';' is a comment.
    path = os.path.join(ws.root, "notes ;kept") + "/"
    os.mkdir(path)
    return "LogDir=" + path, path, None


def key_past_line_buffer(ws):
    # A reader that reads long lines in pieces would take the text after its first
    # 199 characters for a line of its own: a Port key that the file does not have.
    port = free_udp_port()
    path = directory_of_length(ws, 192)
    return f"LogDir={path}Port={port}", f"{path}Port={port}", port


class IniLineTest(unittest.TestCase):
    def test_log_dir_line(self):
        for make_line in (long_log_dir, longer_than_kept, indented_after_key, quoted,
                          semicolon_inside, key_past_line_buffer):
            with self.subTest(make_line.__name__):
                ws = Workspace(self)
                # The line, the log directory read from it, and a port that
                # the daemon must not listen on.
                line, log_dir, other_port = make_line(ws)
                ws.write_ini(["[Syslog]", "LogType=1", line, "RotateLogs=0", f"Port={ws.port}",
                              "[Permit]", "127.0.0.1"])
                ws.permit = ["127.0.0.1"]
                d = ws.start("-d")
                self.assertEqual(d.wait_ready(), BANNER + config_echo(ws, log_dir=log_dir))
                if other_port:
                    with socket.socket(socket.AF_INET, socket.SOCK_DGRAM) as s:
                        s.bind(("0.0.0.0", other_port))
                d.send(b"<13>stored there")
                (record,) = wait_lines(log_dir + "syslog.log", 1)
                self.assertTrue(record.endswith(b" user.notice stored there\n"), record)
                self.assertEqual(d.stop(signal.SIGINT), 1, d.describe())


if __name__ == "__main__":
    unittest.main()
