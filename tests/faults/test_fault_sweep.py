"""Fault injection: every file-system call that a small sort and a small merge
make on their files is made to fail in turn, with each of several error
numbers, by the preload library (FAULT_PRELOAD). Each run must end cleanly:
one of the tool's own exit codes and no signal, nothing on stderr, only log
lines on stdout with a last message that names the failure class, the input
files untouched, and exit status 0 only with the complete, correct output and
no run file left behind.
"""
import errno
import os
import random
import re
import sys
import unittest

from preload import PreloadTestCase, preload_env
from tarnsek import STATUS, sj

ERRNOS = ["EIO", "ENOSPC", "EACCES", "EMFILE"]

# The message that a failure of each class ends with; (%d) is the error number.
OPEN_FAILED = re.compile(re.escape(sj("] (")) + rb"(\d+)" + re.escape(sj(") ファイルのオープンに失敗しました.")) + b"$")
READ_WRITE_FAILED = re.compile(re.escape(sj("] (")) + rb"(\d+)" + re.escape(sj(") ファイルの")) +
                               b"(" + re.escape(sj("書き込み")) + b"|" + re.escape(sj("読み込み")) + b")" +
                               re.escape(sj("に失敗しました.")) + b"$")
TEMP_NAME_FAILED = sj("テンポラリファイル名の取得に失敗しました.")
DELETE_FAILED = re.compile(re.escape(sj("] ファイルが削除できません.")) + b"$")


class FaultSweep(PreloadTestCase):

    def setUp(self):
        super().setUp()
        self.work = self.path("work")
        os.mkdir(self.work)

    def run_with_fault(self, args, call, error):
        env = preload_env(DIR=self.dir, CALL=call, ERRNO=error, REPORT=self.report)
        result = self.run_tool(*args, env=env, timeout=60)
        calls, injected = re.match(r"calls=(\d+) injected=(\S+)", self.report_text()).groups()
        return result, int(calls), injected

    def snapshot(self, names):
        out = {}
        for name in names:
            st = os.stat(self.path(name))
            out[name] = (self.read(name), st.st_mtime_ns)
        return out

    def sweep(self, args, inputs, output, expected, last_message):
        """Runs the clean run, then every call failing with every error number."""
        before = self.snapshot(inputs)
        result, total, injected = self.run_with_fault(args, 0, "EIO")
        self.assertSucceeds(result)
        self.assertEqual(self.read(output), expected)
        self.assertEqual(injected, "-")
        self.assertGreater(total, 5)
        tally = {}
        for call in range(1, total + 1):
            for name in ERRNOS:
                where = "call %d of %d failing with %s" % (call, total, name)
                with self.subTest(call=call, errno=name):
                    for leftover in os.listdir(self.work):
                        os.remove(os.path.join(self.work, leftover))
                    if os.path.exists(self.path(output)):
                        os.remove(self.path(output))
                    result, calls, injected = self.run_with_fault(args, call, name)
                    self.assertNotEqual(injected, "-", where)
                    self.check_run(result, where, getattr(errno, name), output, expected, last_message)
                    self.assertEqual(self.snapshot(inputs), before, where + ": an input changed")
                    key = (injected, result.status)
                    tally[key] = tally.get(key, 0) + 1
        runs = sum(tally.values())
        print("\n%s: %d calls x %d error numbers = %d injected faults; (call, status): %s"
              % (self.id().split(".")[-1], total, len(ERRNOS), runs,
                 ", ".join("%s %d: %d" % (k[0], k[1], v) for k, v in sorted(tally.items()))),
              file=sys.stderr)
        self.assertEqual(runs, total * len(ERRNOS))

    def check_run(self, result, where, number, output, expected, last_message):
        self.assertGreaterEqual(result.status, 0, where + ": ended by a signal")
        self.assertIn(result.status, STATUS.values(), where)
        self.assertTrue(result.stdout.endswith(b"\n"), where + ": last line cut")
        messages = result.messages  # every line is a log line
        self.assertTrue(messages, where)
        last = messages[-1]
        if result.status == 0:
            self.assertEqual(self.read(output), expected, where + ": exit 0 with a wrong output")
            self.assertEqual(os.listdir(self.work), [], where + ": exit 0 left run files")
            self.assertEqual(last, sj(last_message), where)
            return
        # Whatever failed, the message says so, with the error number given.
        if result.status == STATUS[1002]:
            match = OPEN_FAILED.search(last)
        elif result.status == STATUS[1004]:
            match = READ_WRITE_FAILED.search(last)
        elif result.status == STATUS[1003]:
            match = last == TEMP_NAME_FAILED or DELETE_FAILED.search(last)
        else:
            self.fail("%s: unexpected status %d, %r" % (where, result.status, last.decode("cp932", "replace")))
        self.assertTrue(match, "%s: %r" % (where, last.decode("cp932", "replace")))
        if match is not True and result.status != STATUS[1003]:
            self.assertEqual(int(match.group(1)), number, where)
        # A failed run leaves only its own run files in the work directory.
        for name in os.listdir(self.work):
            self.assertRegex(name, r"^sot[0-9A-F]{4}\.tmp$", where)

    def test_sort_with_title_record(self):
        rows = [b"%d,%s" % (k, sj("値%d" % k)) for k in (5, 3, 9, 1, 7, 2, 8, 4, 6, 0)]
        self.write("in.csv", b"key,value\r\n" + b"\r\n".join(rows) + b"\r\n")
        expected = b"key,value\r\n" + b"".join(
            r + b"\r\n" for r in sorted(rows, key=lambda r: int(r.split(b",")[0])))
        self.sweep(["/I", "in.csv", "/O", "out.csv", "/W", "work", "/K", "1,N", "/C"],
                   ["in.csv"], "out.csv", expected, "ソートが終了しました.")

    def test_merge_of_three_files(self):
        data = {"a.csv": [b"1,a", b"4,a", b"7,a"], "b.csv": [b"2,b", b"5,b"], "c.csv": [b"3,c", b"6,c"]}
        for name, rows in data.items():
            self.write(name, b"".join(r + b"\r\n" for r in rows))
        expected = b"".join(r + b"\r\n" for r in sorted(sum(data.values(), []), key=lambda r: r[:1]))
        self.sweep(["/M", "a.csv|b.csv|c.csv", "/O", "out.csv", "/K", "1"],
                   list(data), "out.csv", expected, "マージが終了しました.")

    def test_sort_of_two_chunks(self):
        # 65,537 records: two run files, merged and deleted. EIO alone, to keep
        # the sweep short; the calls are those of the small sort, twice over.
        keys = list(range(65537))
        random.Random(9).shuffle(keys)
        self.write("big.csv", b"".join(b"%d\r\n" % k for k in keys))
        expected = b"".join(b"%d\r\n" % k for k in range(65537))
        global ERRNOS
        saved, ERRNOS = ERRNOS, ["EIO"]
        try:
            self.sweep(["/I", "big.csv", "/O", "out.csv", "/W", "work", "/K", "1,N"],
                       ["big.csv"], "out.csv", expected, "ソートが終了しました.")
        finally:
            ERRNOS = saved

    def test_no_null_device_for_a_missing_standard_stream(self):
        # Started without standard output and unable to open the null device
        # (the first call on /dev fails): the run ends at once with 1002,
        # before any file is opened, so nothing can take descriptor 1.
        self.write("in.csv", b"2\r\n1\r\n")
        env = preload_env(DIR="/dev", CALL=1, ERRNO="EACCES", REPORT=self.report)
        result = self.run_tool("/I", "in.csv", "/O", "out.csv", "/W", "work", "/K", "1", env=env, closed="1")
        self.assertRegex(self.report_text(), r"calls=\d+ injected=open")
        self.assertEqual(result.status, STATUS[1002])
        self.assertFalse(os.path.exists(self.path("out.csv")))
        self.assertEqual(os.listdir(self.work), [])

    def test_a_link_in_place_of_a_run_file_is_never_followed(self):
        # Another user of a shared work directory moves a run file aside as
        # soon as it is made and puts a symbolic link to a file of theirs in
        # its place.
        rows = [b"%d,x" % k for k in (3, 1, 2)]
        self.write("in.csv", b"".join(r + b"\r\n" for r in rows))
        for target in ("victim.csv", "absent.csv"):
            with self.subTest(target=target):
                for leftover in os.listdir(self.work):
                    os.remove(os.path.join(self.work, leftover))
                self.write("victim.csv", b"victim,0\r\n")
                before = self.snapshot(["victim.csv"])
                if os.path.exists(self.path("absent.csv")):
                    os.remove(self.path("absent.csv"))
                env = preload_env(DIR=self.dir, LINK=self.path(target))
                result = self.run_tool("/I", "in.csv", "/O", "out.csv", "/W", "work", "/K", "1,N", env=env)
                # Nothing was written or made through the link: the records
                # went to the file the run made, now moved aside.
                self.assertEqual(self.snapshot(["victim.csv"]), before)
                self.assertFalse(os.path.exists(self.path("absent.csv")))
                taken = [n for n in os.listdir(self.work) if n.endswith(".taken")]
                self.assertEqual(len(taken), 1)
                with open(os.path.join(self.work, taken[0]), "rb") as f:
                    self.assertEqual(f.read(), b"1,x\r\n2,x\r\n3,x\r\n")
                # Nor is the file behind the link merged: the run file is
                # refused when it is opened again (ELOOP, 40) and the run
                # ends with an open failure, the output empty.
                run = os.path.join(self.work, taken[0][:-len(".taken")])
                self.assertEqual(result.status, STATUS[1002], result.stdout.decode("cp932", "replace"))
                self.assertEqual(result.texts[-1], "[%s] (%d) ファイルのオープンに失敗しました." % (run, errno.ELOOP))
                self.assertEqual(self.read("out.csv"), b"")


if __name__ == "__main__":
    unittest.main()
