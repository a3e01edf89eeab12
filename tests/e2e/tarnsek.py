"""Helpers for end-to-end tests: run the built tool in a scratch directory and
look at the exact bytes it wrote.

Expected messages are written here as Unicode text and encoded with Python's
own cp932 codec, so they do not come from the tool's message table.
"""
import os
import re
import shutil
import subprocess
import tempfile
import unittest

BIN = os.environ.get("TARNSEK_BIN", os.path.join(
    os.path.dirname(__file__), "..", "..", "build", "release", "tarnsek"))

LOG_LINE = re.compile(rb"^\d+/\d\d/\d\d \d\d:\d\d:\d\d (.*)$")

# Exit status as a POSIX shell sees it: the code modulo 256.
STATUS = {0: 0, 1001: 233, 1002: 234, 1003: 235, 1004: 236, 2001: 209,
          2002: 210, 3001: 185, 4001: 161}


# Log lines that every run of the merge (and so every sort) writes.
def opened(path):
    return "[%s] ファイルをオープンしました." % path


def closed(path):
    return "[%s] ファイルをクローズしました." % path


def read_count(path, count):
    return "[%s] ファイルから [%d] 行読み込みました." % (path, count)


def merge_written(count):
    return "マージファイルへレコードを [%d] 行出力しました." % count


def sj(text):
    """The code page 932 bytes of a text."""
    return text.encode("cp932")


class Result:
    def __init__(self, completed):
        self.status = completed.returncode
        self.stdout = completed.stdout
        self.stderr = completed.stderr

    @property
    def lines(self):
        """The stdout lines, without their line ends."""
        return self.stdout.split(b"\n")[:-1] if self.stdout.endswith(b"\n") \
            else self.stdout.split(b"\n")

    @property
    def messages(self):
        """The message part of every log line, as cp932 bytes. Fails when a
        line is not a log line."""
        out = []
        for line in self.lines:
            match = LOG_LINE.match(line)
            if not match:
                raise AssertionError("not a log line: %r" % line)
            out.append(match.group(1))
        return out

    @property
    def texts(self):
        """The messages decoded from cp932, for readable assertions."""
        return [m.decode("cp932") for m in self.messages]


class TarnsekTestCase(unittest.TestCase):
    """Each test runs in a fresh scratch directory that is removed afterwards,
    even when an assertion fails."""

    def setUp(self):
        self.dir = tempfile.mkdtemp(prefix="tarnsek-e2e-")
        self.addCleanup(shutil.rmtree, self.dir, True)

    def path(self, name):
        return os.path.join(self.dir, name)

    def write(self, name, data):
        """Writes bytes (or a text, as cp932) to a file in the scratch dir."""
        if isinstance(data, str):
            data = sj(data)
        with open(self.path(name), "wb") as f:
            f.write(data)
        return self.path(name)

    def read(self, name):
        with open(self.path(name), "rb") as f:
            return f.read()

    def run_tool(self, *args, env=None, timeout=600, **kwargs):
        full_env = dict(os.environ)
        full_env.setdefault("TZ", "UTC")
        if env:
            full_env.update(env)
        completed = subprocess.run(
            [BIN] + [str(a) for a in args], cwd=self.dir, env=full_env,
            stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=timeout,
            **kwargs)
        result = Result(completed)
        # Nothing is ever written to standard error.
        self.assertEqual(result.stderr, b"", "stderr must stay empty")
        return result

    def assertFails(self, result, code, last_message):
        """The run ended with the code and its last log line is the message."""
        self.assertEqual(result.status, STATUS[code], result.stdout.decode("cp932", "replace"))
        self.assertEqual(result.texts[-1], last_message)

    def assertSucceeds(self, result):
        self.assertEqual(result.status, 0, result.stdout.decode("cp932", "replace"))
