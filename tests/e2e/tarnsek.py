"""Helpers for end-to-end tests: run the built tool in a scratch directory and
look at the exact bytes it wrote.

Expected messages are written here as Unicode text and encoded with Python's
own cp932 codec, so they do not come from the tool's message table.

The same tests run the Linux build and the Windows build (under wine). What
differs between the two is kept here, as parameters: the command that starts
the tool, the line end of the log, the exit status the caller sees, how an
absolute path is written, the run-file names, the temporary directory's
variables, how another process holds a file open, and error numbers.
"""
import atexit
import contextlib
import fcntl
import ntpath
import os
import posixpath
import re
import shutil
import subprocess
import tempfile
import unittest

BIN = os.environ.get("TARNSEK_BIN", os.path.join(
    os.path.dirname(__file__), "..", "..", "build", "release", "tarnsek"))

# True when the tests run the Windows build (under wine).
WINDOWS = BIN.lower().endswith(".exe")

LOG_LINE = re.compile(rb"^\d+/\d\d/\d\d \d\d:\d\d:\d\d (.*)$")

CODES = (0, 1001, 1002, 1003, 1004, 2001, 2002, 3001, 4001)
if WINDOWS:
    # Standard output is in text mode there: every line ends in CR LF.
    LINE_END = b"\r\n"
    # The caller sees the whole exit code.
    STATUS = {code: code for code in CODES}
    # The runtime's error number for a name too long.
    ENAMETOOLONG = 38
    # The longest canonical path, in bytes.
    MAX_PATH = 259
    # The path module of the names the tool takes and prints.
    tool_path = ntpath
    # Run files: "sot", the unique number in hex digits of either case, ".tmp".
    RUN_FILE_NAME = r"sot[0-9A-Fa-f]{1,4}\.tmp"
else:
    LINE_END = b"\n"
    # Exit status as a POSIX shell sees it: the code modulo 256.
    STATUS = {code: code % 256 for code in CODES}
    ENAMETOOLONG = 36
    MAX_PATH = 4095  # PATH_MAX less its terminator
    tool_path = posixpath
    RUN_FILE_NAME = r"sot[0-9A-F]{4}\.tmp"


def native(path):
    """An absolute Linux path as the tool takes it on the command line. Under
    wine a leading "/" starts a switch: the path goes through drive Z:, the
    root of the Linux file system."""
    if not WINDOWS:
        return path
    text = os.fsencode(os.path.abspath(path)).decode("utf-8", "surrogateescape")
    return "Z:" + text.replace("/", "\\")


def disk_name(text):
    """The name on disk of a file the tool names by this text (code page 932
    bytes on the command line). Linux keeps the bytes; wine stores names in
    UTF-8."""
    return text if WINDOWS else os.fsdecode(sj(text))


def temp_env(directory):
    """The environment that makes directory the system's temporary directory."""
    if WINDOWS:
        return {"TMP": native(directory), "TEMP": native(directory)}
    return {"TMPDIR": directory}


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
        return self.stdout.split(LINE_END)[:-1] if self.stdout.endswith(LINE_END) \
            else self.stdout.split(LINE_END)

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


def linux_env(env=None):
    """The environment of a run of the Linux build: this process's, in UTC
    unless a zone is set, with the locale pinned to C (LC_ALL=C, no other
    locale variable), so that the log is in code page 932 as the tests expect,
    whatever the terminal's locale. env adds variables; a value None removes
    one."""
    full_env = {k: v for k, v in os.environ.items() if not k.startswith("LC_") and k != "LANG"}
    full_env.setdefault("TZ", "UTC")
    full_env["LC_ALL"] = "C"
    for name, value in (env or {}).items():
        if value is None:
            full_env.pop(name, None)
        else:
            full_env[name] = value
    return full_env


def _linux_run(args, cwd, env, holds, timeout, closed="", log_to=None, **kwargs):
    """closed: the standard descriptors ("0", "1", "2") the run starts without;
    log_to: a file that receives standard output, emptied first as a shell's
    "> file" does."""
    if log_to:
        with open(log_to, "wb") as log:
            completed = _linux_run(args, cwd, env, holds, timeout, closed, stdout=log, **kwargs)
        with open(log_to, "rb") as log:
            completed.stdout = log.read()
        return completed
    kwargs.setdefault("stdout", subprocess.PIPE)
    if closed:
        kwargs["preexec_fn"] = lambda: [os.close(int(d)) for d in closed]
    full_env = linux_env(env)
    with contextlib.ExitStack() as stack:
        for path, writing in holds:
            held = stack.enter_context(open(path, "rb"))
            fcntl.flock(held.fileno(), fcntl.LOCK_EX if writing else fcntl.LOCK_SH)
        return subprocess.run(
            [BIN] + args, cwd=cwd, env=full_env, stderr=subprocess.PIPE, timeout=timeout, **kwargs)


class _Wine:
    """One runner process under wine (tests/windows/e2e_runner.cc) that starts
    every run of this test process, so wine starts once. The prefix and the
    Japanese locale wine needs live in the build tree; the ctest fixture makes
    them, or the first run here when they are missing."""

    _instance = None

    def __init__(self):
        build = os.path.dirname(os.path.abspath(BIN))
        self.prefix = os.environ.get("WINEPREFIX") or os.path.join(build, "wineprefix")
        self.locales = os.environ.get("TARNSEK_WINE_LOCALES") or os.path.join(build, "wine-locales")
        runner = os.environ.get("TARNSEK_WINE_RUNNER") or os.path.join(build, "tarnsek_e2e_runner.exe")
        wine = os.environ.get("TARNSEK_WINE") or "wine"
        setup = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "windows", "wine_setup.sh")
        if not (os.path.isdir(self.prefix) and os.path.isdir(self.locales)):
            subprocess.run(["bash", setup, self.prefix, self.locales], check=True,
                           stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL)
        # Captured output of each run, outside the scratch directories.
        self.capture = tempfile.mkdtemp(prefix="tarnsek-wine-")
        self.runs = 0
        env = {k: v for k, v in os.environ.items() if not k.startswith("LC_")}
        # Code page 932 for the Windows side (ja_JP), UTF-8 file names on the
        # Linux side; wine reads only the POSIX form of a time zone.
        env.update(WINEDEBUG="-all", WINEPREFIX=self.prefix, LANG="ja_JP.UTF-8",
                   LOCPATH=self.locales, TZ="UTC")
        self.log = open(os.path.join(self.capture, "wine.log"), "wb")
        # No terminal: wine would rewrite the bytes on one.
        self.process = subprocess.Popen(
            wine.split() + [runner], stdin=subprocess.PIPE, stdout=subprocess.PIPE,
            stderr=self.log, env=env, cwd=self.capture)
        atexit.register(self.close)

    def close(self):
        """End of input ends the runner."""
        self.process.stdin.close()
        self.process.wait(timeout=60)
        self.log.close()
        shutil.rmtree(self.capture, True)

    @classmethod
    def get(cls):
        if cls._instance is None or cls._instance.process.poll() is not None:
            cls._instance = cls()
        return cls._instance

    @staticmethod
    def encode(text):
        # Texts reach the tool as code page 932 bytes; bytes that came in as
        # surrogates (os.fsdecode of cp932 bytes) pass as they are.
        return text.encode("cp932", "surrogateescape")

    def send(self, keyword, value):
        if isinstance(value, str):
            value = self.encode(value)
        self.process.stdin.write(keyword.encode() + b" " + value.hex().encode() + b"\n")

    def run(self, args, cwd, env, holds, timeout, closed="", log_to=None, **kwargs):
        """Runs the tool. closed: the standard handles ("0", "1", "2") the run
        starts without; log_to: a file that receives standard output."""
        if kwargs:
            raise TypeError("not supported for the Windows build: %s" % ", ".join(kwargs))
        extra = [("closed", closed)] if closed else []
        return self.start([native(BIN)] + args, cwd, env, holds, timeout, extra, log_to)

    def start(self, words, cwd, env=None, holds=(), timeout=600, extra=(), log_to=None):
        """Runs a Windows program: words[0] is its name or path; extra: more
        (keyword, value) fields of the request; log_to: a file that receives
        standard output (created or emptied, as cmd's "> file" does) in place
        of a capture file."""
        # New capture files for each run: a process left behind by a run that
        # timed out may still hold the old ones.
        self.runs += 1
        out = log_to or os.path.join(self.capture, "stdout-%d" % self.runs)
        err = os.path.join(self.capture, "stderr-%d" % self.runs)
        variables = {"TZ": os.environ.get("TZ", "UTC")}
        if "/" in variables["TZ"]:
            variables["TZ"] = "UTC"
        # None unsets a variable, as on Linux; the runner's environment has
        # no locale variable of its own to pass on.
        variables.update({name: value for name, value in (env or {}).items() if value is not None})
        self.send("dir", native(cwd))
        for name, value in variables.items():
            self.send("env", "%s=%s" % (name, value))
        for path, writing in holds:
            self.send("hold-write" if writing else "hold-read", native(path))
        self.send("out", native(out))
        self.send("err", native(err))
        self.send("timeout", str(int(timeout * 1000)))
        for keyword, value in extra:
            self.send(keyword, value)
        line = subprocess.list2cmdline([self.encode(w).decode("latin-1") for w in words])
        self.send("run", line.encode("latin-1"))
        self.process.stdin.flush()
        answer = self.process.stdout.readline().decode("ascii", "replace").split()
        if answer[:1] == ["timeout"]:
            raise subprocess.TimeoutExpired(words, timeout)
        if answer[:1] != ["exit"]:
            self.log.flush()
            with open(self.log.name, "rb") as log:
                raise RuntimeError("the wine runner failed: %r\n%s" % (
                    " ".join(answer), log.read()[-2000:].decode("utf-8", "replace")))
        with open(out, "rb") as f:
            stdout = f.read()
        with open(err, "rb") as f:
            stderr = f.read()
        if not log_to:
            os.remove(out)
        os.remove(err)
        return subprocess.CompletedProcess(words, int(answer[1]), stdout, stderr)


class TarnsekTestCase(unittest.TestCase):
    """Each test runs in a fresh scratch directory that is removed afterwards,
    even when an assertion fails."""

    def setUp(self):
        self.dir = tempfile.mkdtemp(prefix="tarnsek-e2e-")
        self._holds = []
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

    def canonical(self, name):
        """The canonical form the tool prints for a file of the scratch dir:
        with symbolic links resolved on Linux; Windows does not see them."""
        if WINDOWS:
            return native(os.path.normpath(self.path(name)))
        return os.path.realpath(self.path(name))

    def long_name(self, length, last="d", under=""):
        """A name in the scratch directory (below under) whose canonical form
        is length bytes, made of parts of at most 120 bytes, each ending in
        last; the folders above the last part are made. Returns the form the
        tool prints and the path on disk."""
        tool, disk = self.canonical(under), os.path.join(self.dir, under) if under else self.dir
        need = length - len(sj(tool))
        parts = -(-need // 120)
        for i in range(parts):
            size = need // parts + (1 if i < need % parts else 0)
            text = "d" * (size - 1 - len(sj(last))) + last
            tool, disk = tool + tool_path.sep + text, os.path.join(disk, disk_name(text))
        os.makedirs(os.path.dirname(disk), exist_ok=True)
        return tool, disk

    def make_system_file(self, name):
        """Makes a file the tool calls a system file: on Linux one that is
        neither a regular file nor a directory (a FIFO), on Windows an empty
        file with the system attribute."""
        if WINDOWS:
            self.write(name, b"")
            result = _Wine.get().start(["attrib", "+s", name], self.dir)
            self.assertEqual(result.returncode, 0, result.stdout)
        else:
            os.mkfifo(self.path(name))

    @contextlib.contextmanager
    def held(self, name, writing=False):
        """Another process holds the file open while the runs inside the
        block: as a reader (others may only read it) or as a writer (nobody
        else may open it)."""
        self._holds.append((self.path(name), writing))
        try:
            yield
        finally:
            self._holds.pop()

    def run_tool(self, *args, env=None, timeout=600, **kwargs):
        run = _Wine.get().run if WINDOWS else _linux_run
        completed = run([str(a) for a in args], self.dir, env, list(getattr(self, "_holds", [])),
                        timeout, **kwargs)
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
