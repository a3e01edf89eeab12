"""Short reads: the preload library (FAULT_PRELOAD, FAULT_SHORT_READ) cuts
every read of the files in the scratch directory to a few bytes, as a pipe or
a slow device may. Nearly every record then straddles a refill, so the
whole-record loop gives way and the field scanners read it byte by byte,
limits and run-file record ends included.

- The record reader's unit tests (TARNSEK_UNIT_TESTS, the RecordReaderTest
  cases: every syntax case, the limits, the end of a file, read errors and the
  round trip) run again under reads of 1, 2, 3 and 7 bytes.
- A sort of two chunks (its run files read back by the merge) and a tab-mode
  merge give the very output that whole reads give.
"""
import os
import random
import re
import subprocess
import unittest

from preload import PreloadTestCase, preload_env
from tarnsek import sj

UNIT_TESTS = os.environ.get("TARNSEK_UNIT_TESTS", "")


class ShortReads(PreloadTestCase):

    def short_env(self, most):
        return preload_env(DIR=self.dir, SHORT_READ=most, REPORT=self.report)

    def shortened(self):
        """How many reads the last run had cut short."""
        return int(re.search(r"shortened=(\d+)", self.report_text()).group(1))

    def test_record_reader_unit_tests(self):
        if not UNIT_TESTS or not os.path.exists(UNIT_TESTS):
            self.skipTest("TARNSEK_UNIT_TESTS names no test program")
        for most in (1, 2, 3, 7):
            with self.subTest(most=most):
                # The tests make their files under TMPDIR, which is the
                # directory whose reads are cut.
                env = dict(os.environ, TMPDIR=self.dir, **self.short_env(most))
                run = subprocess.run([UNIT_TESTS, "--gtest_filter=RecordReaderTest.*", "--gtest_brief=1"],
                                     env=env, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, timeout=600)
                output = run.stdout.decode("cp932", "replace")
                self.assertEqual(run.returncode, 0, output[-4000:])
                passed = re.search(r"\[  PASSED  \] (\d+) test", output)
                self.assertTrue(passed and int(passed.group(1)) >= 10, output[-2000:])
                self.assertGreater(self.shortened(), 100000)

    def test_sort_of_two_chunks_and_a_tab_merge(self):
        rng = random.Random(5)
        special = [b"\"multi\r\nline, \"\"quoted\"\"\",x", b"\"\",\"a\tb\"", sj("表示,ソ") + b"\x83\x5c",
                   b"x" * 2046, b"\"" + b"q" * 2044 + b"\"", b",,", b""]
        lines = [b"%d,%s" % (rng.randrange(100000), b"v" * rng.randrange(40)) for _ in range(65600)]
        lines[100:100] = special
        # The last line, without CR LF, holds 2048 bytes: its run-file copy
        # ends with CR LF beyond the record-length limit.
        self.write("in.csv", b"\r\n".join(lines) + b"\r\n" + b"y" * 2048)
        os.mkdir(self.path("work"))
        tab_a = b"\"a\tb,c\"\r\n1\tx\ny\r\n3\t\"\r\n"
        tab_b = b"2\t\x83\x5c\r\n4\t" + b"t" * 2044 + b"\r\n"
        self.write("a.tsv", tab_a)
        self.write("b.tsv", tab_b)
        runs = [("out.csv", ["/I", "in.csv", "/O", "out.csv", "/W", "work", "/K", "1"]),
                ("out.tsv", ["/M", "a.tsv|b.tsv", "/O", "out.tsv", "/K", "1", "/T"])]
        for output, args in runs:
            whole = self.run_tool(*args)
            self.assertSucceeds(whole)
            expected = self.read(output)
            self.assertGreater(len(expected), 0)
            for most in (1, 3):
                with self.subTest(output=output, most=most):
                    os.remove(self.path(output))
                    result = self.run_tool(*args, env=self.short_env(most))
                    self.assertSucceeds(result)
                    self.assertEqual(self.read(output), expected)
                    self.assertGreater(self.shortened(), 500)
                    self.assertEqual(os.listdir(self.path("work")), [])


if __name__ == "__main__":
    unittest.main()
