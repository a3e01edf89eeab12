"""Hostile surroundings: a run started without standard streams, a log reader
that goes away, run files in a directory others may write, and interrupts in
the middle of a sort."""
import contextlib
import fcntl
import os
import random
import resource
import signal
import stat
import subprocess
import unittest

import tarnsek
from tarnsek import WINDOWS, native, opened, sj
from test_sort import MERGE_FINISHED, MERGE_STARTED, SORT_FINISHED, SortTestCase, run_written

CHUNK = 65536
CHUNKS = 4


def make_input(count):
    """count records in no order, and the same records sorted on key 1 as a
    number (the keys are distinct)."""
    rng = random.Random(14)
    keys = rng.sample(range(10 ** 8), count)
    memo = sj("表示,ソ") + b"x" * 12
    records = [b"%d,%s" % (k, memo) for k in keys]
    data = b"".join(r + b"\r\n" for r in records)
    ordered = b"".join(b"%d,%s\r\n" % (k, memo) for k in sorted(keys))
    return data, ordered


class SurroundingsTestCase(SortTestCase):
    # Four chunks: time enough to act while the sort runs.
    RECORDS = CHUNK * CHUNKS

    @classmethod
    def setUpClass(cls):
        cls.data, cls.ordered = make_input(cls.RECORDS)

    def sort_args(self):
        self.write("in.csv", self.data)
        return ["/I", "in.csv", "/O", "out.csv", "/K", "1,N", "/W", native(self.work)]

    def merge_args(self):
        half = self.ordered.split(b"\r\n")[:-1]
        self.write("a.csv", b"".join(r + b"\r\n" for r in half[0::2]))
        self.write("b.csv", b"".join(r + b"\r\n" for r in half[1::2]))
        return ["/M", "a.csv|b.csv", "/O", "out.csv", "/K", "1,N"]

    def assertComplete(self, status):
        """The run ended normally with the whole output and no run file."""
        self.assertEqual(status, 0)
        self.assertTrue(self.read("out.csv") == self.ordered, "the output is not complete")
        self.assertEqual(os.listdir(self.work), [])

    def signal_once_logged(self, args, text, number, **kwargs):
        """Runs the tool, sends it the signal once its log holds text, and
        returns its status."""
        run = self.popen(args, stdout=subprocess.PIPE, **kwargs)
        try:
            log = b""
            while text not in log:
                line = run.stdout.readline()
                self.assertTrue(line, "the run ended before the signal")
                log += line
            os.kill(run.pid, number)
            run.communicate(timeout=600)
        finally:
            if run.poll() is None:
                run.kill()
                run.wait()
        return run.returncode

    @staticmethod
    def logged(stdout):
        """The log of a run started by popen."""
        return tarnsek.Result(subprocess.CompletedProcess([], 0, stdout, b""))

    def popen(self, args, **kwargs):
        return subprocess.Popen([tarnsek.BIN] + args, cwd=self.dir, env=tarnsek.linux_env(), stderr=subprocess.PIPE,
                                **kwargs)


class StandardStreamsTest(SurroundingsTestCase):
    RECORDS = 1000

    def test_missing_standard_streams_are_the_null_device(self):
        # A file opened first would otherwise take descriptor (or handle) 1
        # and receive the log.
        for mode in ("sort", "merge"):
            for missing in ("1", "012", "0", "2", "12"):
                with self.subTest(mode=mode, missing=missing):
                    args = self.sort_args() if mode == "sort" else self.merge_args()
                    result = self.run_tool(*args, closed=missing)
                    self.assertComplete(result.status)
                    if "1" in missing:
                        self.assertEqual(result.stdout, b"")
                    else:
                        self.assertEqual(result.texts[-1], SORT_FINISHED if mode == "sort" else MERGE_FINISHED)
                    for name in ("in.csv", "a.csv", "b.csv"):
                        if os.path.exists(self.path(name)):
                            os.remove(self.path(name))


class OldOutputTest(SurroundingsTestCase):
    """An output that cannot be written as it should be is refused or left
    whole: the log's own file, and a merge that fails before it writes keeps
    yesterday's output as it was."""
    RECORDS = 1000
    OLD = b"yesterday,1\r\n" * 50

    def refused(self, name):
        return "[%s] (13) ファイルのオープンに失敗しました." % self.full(name)

    def test_log_redirected_into_the_output_is_refused(self):
        # The records and the log would overwrite each other: refused as a
        # file that another holds, and the file keeps the log alone.
        cases = [("sort", "> out.csv"), ("merge", "> out.csv")]
        if not WINDOWS:  # no device names a standard stream there
            cases += [("sort", "/O /dev/stdout"), ("merge", "/O /dev/stdout")]
        for mode, how in cases:
            with self.subTest(mode=mode, how=how):
                args = self.sort_args() if mode == "sort" else self.merge_args()
                if how.startswith("/O"):
                    args[args.index("out.csv")] = "/dev/stdout"
                result = self.run_tool(*args, log_to=self.path("out.csv"))
                self.assertFails(result, 1002, self.refused("out.csv"))
                self.assertEqual(self.read("out.csv"), result.stdout)
                self.assertTrue(result.messages)  # every line a log line

    def test_failed_merge_leaves_the_old_output(self):
        # A merge input held by another program (as a spreadsheet holds it).
        args = self.merge_args()
        self.write("out.csv", self.OLD)
        with self.held("b.csv", writing=True):
            result = self.run_tool(*args)
        self.assertFails(result, 1002, self.refused("b.csv"))
        self.assertEqual(result.texts[-3:-1], [opened(self.full("out.csv")), opened(self.full("a.csv"))])
        self.assertEqual(self.read("out.csv"), self.OLD)

    @unittest.skipIf(WINDOWS, "a run file cannot be held from outside the runner under wine")
    def test_failed_sort_leaves_the_old_output(self):
        # The first run file, locked by another process once it is written:
        # the whole sort runs, and its merge cannot open that file.
        self.RECORDS = CHUNK * CHUNKS
        self.data, self.ordered = make_input(self.RECORDS)
        self.write("out.csv", self.OLD)
        run = self.popen(self.sort_args(), stdout=subprocess.PIPE)
        with contextlib.ExitStack() as stack:
            log = b""
            while sj(run_written(CHUNK)) not in log:
                line = run.stdout.readline()
                self.assertTrue(line, "the run ended before its first run file was written")
                log += line
            first = self.run_files(self.logged(log))[0]
            held = stack.enter_context(open(first, "rb"))
            fcntl.flock(held.fileno(), fcntl.LOCK_EX)  # once the sort has closed it
            after, errors = run.communicate(timeout=600)
        self.assertEqual(errors, b"")
        self.assertEqual(run.returncode, tarnsek.STATUS[1002])
        self.assertEqual(self.logged(log + after).texts[-1], "[%s] (13) ファイルのオープンに失敗しました." % first)
        self.assertEqual(self.read("out.csv"), self.OLD)


@unittest.skipIf(WINDOWS, "pipes whose reader goes away are tested on Linux")
class LogReaderTest(SurroundingsTestCase):
    def test_log_reader_gone_before_the_start(self):
        # Every log line fails with EPIPE; the run goes on as if it were read.
        for mode in ("sort", "merge"):
            with self.subTest(mode=mode):
                args = self.sort_args() if mode == "sort" else self.merge_args()
                reader, writer = os.pipe()
                os.close(reader)
                try:
                    run = self.popen(args, stdout=writer)
                finally:
                    os.close(writer)
                _, errors = run.communicate(timeout=600)
                self.assertEqual(errors, b"")
                self.assertComplete(run.returncode)

    def test_log_reader_that_goes_away_half_way(self):
        # As "| head" does: the first lines of the log are read, up to the
        # first run file written, then the pipe is closed while the sort
        # still has chunks to write.
        run = self.popen(self.sort_args(), stdout=subprocess.PIPE)
        try:
            head = b""
            while sj(run_written(CHUNK)) not in head:
                line = run.stdout.readline()
                self.assertTrue(line, "the log ended early")
                head += line
            run.stdout.close()
            _, errors = run.communicate(timeout=600)
        finally:
            if run.poll() is None:
                run.kill()
                run.wait()
        self.assertEqual(errors, b"")
        self.assertComplete(run.returncode)

    def test_failed_run_keeps_its_exit_code_without_a_log_reader(self):
        # A 20th run file is refused: the fatal path ends with its own code.
        self.write("in.csv", b"".join(b"%d\r\n" % (k % 7) for k in range(CHUNK * 19 + 1)))
        reader, writer = os.pipe()
        os.close(reader)
        try:
            run = self.popen(["/I", "in.csv", "/O", "out.csv", "/K", "1", "/W", self.work], stdout=writer)
        finally:
            os.close(writer)
        _, errors = run.communicate(timeout=600)
        self.assertEqual(errors, b"")
        self.assertEqual(run.returncode, tarnsek.STATUS[2002])
        self.assertEqual(len(os.listdir(self.work)), 19)


@unittest.skipIf(WINDOWS, "file modes are POSIX's")
class RunFileModeTest(SurroundingsTestCase):
    def test_run_files_are_for_the_owner_alone(self):
        # Even with no umask at all; the fatal end leaves the run file to see.
        records = self.data.split(b"\r\n")[:CHUNK]
        self.write("in.csv", b"".join(r + b"\r\n" for r in records) + b"y" * 3000 + b"\r\n")
        result = self.run_tool("/I", "in.csv", "/O", "out.csv", "/K", "1,N", "/W", self.work,
                               preexec_fn=lambda: os.umask(0))
        self.assertEqual(result.status, tarnsek.STATUS[2002])
        runs = self.run_files(result)
        self.assertEqual(len(runs), 1)
        self.assertEqual(os.listdir(self.work), [os.path.basename(runs[0])])
        self.assertEqual(stat.S_IMODE(os.lstat(runs[0]).st_mode), 0o600)
        with open(runs[0], "rb") as f:
            self.assertEqual(len(f.read()), len(b"".join(r + b"\r\n" for r in records)))


@unittest.skipIf(WINDOWS, "signals are POSIX's; wine delivers no console control event to "
                          "another process, so Ctrl-C and Ctrl-Break cannot be sent there")
class InterruptTest(SurroundingsTestCase):
    """An interrupt deletes the run files made so far, writes nothing more,
    and ends the run as the interrupt ends a program."""

    def first_run_file_line(self):
        # The start of the log line that opens the first run file.
        return sj("[%s%ssot" % (self.canonical("work"), tarnsek.tool_path.sep))

    def test_signals_delete_the_run_files_and_end_the_run(self):
        first = "the first run file is being written"
        cases = [
            (signal.SIGINT, first, None),
            (signal.SIGHUP, "the third chunk is being loaded", sj(run_written(CHUNK))),
            (signal.SIGTERM, "the merge is writing the output", sj(MERGE_STARTED)),
            # A limit of CPU time, a timer, the quit key, a batch system's word.
            (signal.SIGQUIT, first, None),
            (signal.SIGALRM, first, None),
            (signal.SIGUSR1, first, None),
            (signal.SIGUSR2, first, None),
            (signal.SIGXCPU, first, None),
            (signal.SIGVTALRM, first, None),
            (signal.SIGPROF, first, None),
            # A second signal waits until the first one's deletions are done.
            ((signal.SIGINT, signal.SIGQUIT), first, None),
        ]
        for numbers, when, marker in cases:
            numbers = numbers if isinstance(numbers, tuple) else (numbers,)
            number = numbers[0]
            with self.subTest(signal="+".join(n.name for n in numbers), when=when):
                for name in os.listdir(self.work):
                    os.remove(os.path.join(self.work, name))
                if os.path.exists(self.path("out.csv")):
                    os.remove(self.path("out.csv"))
                marker = marker or self.first_run_file_line()
                # SIGQUIT and SIGXCPU would leave a core dump.
                run = self.popen(self.sort_args(), stdout=subprocess.PIPE,
                                 preexec_fn=lambda: resource.setrlimit(resource.RLIMIT_CORE, (0, 0)))
                try:
                    log = b""
                    seen = 0
                    while True:
                        line = run.stdout.readline()
                        log += line
                        if not line:
                            break
                        if marker in line:
                            seen += 1
                            # The second run file written: the third chunk is loading.
                            if number != signal.SIGHUP or seen == 2:
                                break
                    self.assertIn(marker, log, "the run ended before the interrupt")
                    if number == signal.SIGTERM:
                        # Once the output is open the merge is writing it.
                        while sj(opened(self.full("out.csv"))) not in log:
                            line = run.stdout.readline()
                            self.assertTrue(line, "the merge never opened its output")
                            log += line
                    # Stopped, the run is looked at; the interrupt is taken as
                    # soon as it goes on.
                    os.kill(run.pid, signal.SIGSTOP)
                    # A signal sent is not yet taken: wait until the run has
                    # really stopped, or it may still write a line meanwhile.
                    os.waitpid(run.pid, os.WUNTRACED)
                    os.set_blocking(run.stdout.fileno(), False)
                    log += run.stdout.read() or b""
                    os.set_blocking(run.stdout.fileno(), True)
                    made = os.listdir(self.work)
                    self.assertTrue(made, "no run file made yet")
                    for name in made:
                        self.assertEqual(stat.S_IMODE(os.lstat(os.path.join(self.work, name)).st_mode), 0o600)
                    out_size = os.path.getsize(self.path("out.csv")) if os.path.exists(self.path("out.csv")) else None
                    for each in numbers:
                        os.kill(run.pid, each)
                    os.kill(run.pid, signal.SIGCONT)
                    after, errors = run.communicate(timeout=600)
                finally:
                    if run.poll() is None:
                        run.kill()
                        run.wait()
                self.assertEqual(run.returncode, -number)
                self.assertEqual(errors, b"")
                self.assertEqual(after, b"", "the log went on after the interrupt")
                self.assertEqual(os.listdir(self.work), [], "run files left")
                now = os.path.getsize(self.path("out.csv")) if os.path.exists(self.path("out.csv")) else None
                self.assertEqual(now, out_size, "the output was written after the interrupt")
                self.assertEqual(out_size is not None, number == signal.SIGTERM)
                self.assertEqual(self.read("in.csv"), self.data)

    def test_interrupted_merge_keeps_its_inputs(self):
        # Only the sort's own run files are deleted; /M files never are.
        args = self.merge_args()
        inputs = {name: self.read(name) for name in ("a.csv", "b.csv")}
        status = self.signal_once_logged(args, sj(opened(self.full("b.csv"))), signal.SIGINT)
        self.assertEqual(status, -signal.SIGINT)
        self.assertEqual({name: self.read(name) for name in inputs}, inputs)

    def test_ignored_hangup_stays_ignored(self):
        # As under nohup: the signal ignored at the start changes nothing.
        status = self.signal_once_logged(self.sort_args(), self.first_run_file_line(), signal.SIGHUP,
                                         preexec_fn=lambda: signal.signal(signal.SIGHUP, signal.SIG_IGN))
        self.assertComplete(status)


if __name__ == "__main__":
    unittest.main()
