"""The path switches /I, /O, /W and /M: values checked against the file
system, canonical forms, and the same-file checks that rest on them.

Accepted command lines go on to run the whole sort or merge."""
import os
import re
import unittest

import tarnsek
from tarnsek import ENAMETOOLONG, MAX_PATH, RUN_FILE_NAME, TarnsekTestCase, disk_name, native, sj, tool_path

IN_NO_VALUE = "入力ファイル [/i] にファイルの指定がありません."
IN_NOT_FOUND = "入力ファイル [/i] [%s] は見つかりません."
IN_DIRECTORY = "入力ファイル [/i] [%s] はディレクトリです."
OUT_NO_VALUE = "出力ファイル [/o] にファイルの指定がありません."
OUT_DIRECTORY = "出力ファイル [/o] [%s] はディレクトリです."
OUT_SYSTEM = "出力ファイル [/o] [%s] はシステムファイルです."
OUT_READ_ONLY = "出力ファイル [/o] [%s] は読み取り専用ファイルです."
OUT_OVERWRITE = "出力ファイル [/o] [%s] を上書きします."
WORK_NO_VALUE = "テンポラリパス [/w] にパスの指定がありません."
WORK_NOT_DIRECTORY = "テンポラリパス [/w] [%s] はディレクトリではありません."
MERGE_NO_VALUE = "マージファイル [/m] の指定がありません."
MERGE_TOO_MANY = "マージファイル [/m] のファイル数が規定値を超えました."
MERGE_NOT_FOUND = "マージファイル [/m] [%s] は見つかりません."
MERGE_DIRECTORY = "マージファイル [/m] [%s] はディレクトリです."
MERGE_DUPLICATE = "マージファイル [/m] [%s] は重複しています."
INPUT_IS_OUTPUT = "入力ファイル [/i] と出力ファイル [/o] が同じファイルです."
OUTPUT_IS_MERGE_FILE = "出力ファイル [/o] と同じファイルがマージファイル [/m] に指定されています."
OPEN_FAILED = "[%s] (%d) ファイルのオープンに失敗しました."
OPENED = "[%s] ファイルをオープンしました."

TOO_LONG = "n" * 300  # no canonical form of this fits in 259 bytes
SJIS_NAME = os.fsdecode(sj("表データ.csv"))  # 表 ends in the byte 0x5C


class PathCase(TarnsekTestCase):
    def setUp(self):
        super().setUp()
        self.write("in.csv", b"b\r\na\r\n")

    def real(self, name):
        return self.canonical(name)

    def sort(self, *args):
        return self.run_tool("/I", "in.csv", "/K", "1", *args)

    def merge(self, value, *args):
        return self.run_tool("/M", value, "/O", "out.csv", "/K", "1", *args)


class InputTest(PathCase):
    def test_refusals_show_the_value_as_typed(self):
        os.mkdir(self.path("d"))
        cases = [
            (("/I",), IN_NO_VALUE),
            (("/I", "/C"), IN_NO_VALUE),
            (("/I", "./nope.csv"), IN_NOT_FOUND % "./nope.csv"),
            (("/I", SJIS_NAME), IN_NOT_FOUND % "表データ.csv"),
            (("/I", ""), IN_NOT_FOUND % ""),
            (("/I", TOO_LONG), IN_NOT_FOUND % TOO_LONG),
            (("/I", "in.csv/"), IN_NOT_FOUND % "in.csv/"),
            (("/I", "d"), IN_DIRECTORY % "d"),
            (("/I", "./d/"), IN_DIRECTORY % "./d/"),
        ]
        for args, message in cases:
            with self.subTest(args=args):
                result = self.run_tool("/O", "out.csv", "/K", "1", *args)
                self.assertFails(result, 3001, message)

    def test_relative_name_is_opened_by_its_absolute_form(self):
        os.mkdir(self.path("sub"))
        result = self.run_tool("/I", "sub/../in.csv", "/O", "out.csv", "/K", "1")
        self.assertSucceeds(result)
        self.assertIn(OPENED % self.real("in.csv"), result.texts)
        self.assertEqual(self.read("out.csv"), b"a\r\nb\r\n")

    def test_shift_jis_name(self):
        os.rename(self.path("in.csv"), self.path(disk_name("表データ.csv")))
        result = self.run_tool("/I", SJIS_NAME, "/O", "out.csv", "/K", "1")
        self.assertSucceeds(result)
        self.assertEqual(self.read("out.csv"), b"a\r\nb\r\n")


class OutputTest(PathCase):
    def test_new_name_is_accepted_silently(self):
        result = self.sort("/O", "out.csv")
        self.assertFalse([t for t in result.texts if "出力ファイル" in t])
        self.assertSucceeds(result)
        self.assertEqual(self.read("out.csv"), b"a\r\nb\r\n")

    def test_existing_file_is_overwritten_with_a_log_line(self):
        # Longer than what takes its place: none of it stays.
        self.write("old.csv", b"old records, longer than the new ones\r\n")
        result = self.sort("/O", "./old.csv")
        self.assertIn(OUT_OVERWRITE % "./old.csv", result.texts)
        self.assertSucceeds(result)
        self.assertEqual(self.read("old.csv"), b"a\r\nb\r\n")

    def test_refusals_in_order_of_tests(self):
        os.mkdir(self.path("d"))
        os.mkdir(self.path("ro-dir"))
        os.chmod(self.path("ro-dir"), 0o555)
        self.addCleanup(os.chmod, self.path("ro-dir"), 0o755)
        self.write("ro.csv", b"x\r\n")
        os.chmod(self.path("ro.csv"), 0o444)
        self.make_system_file("special")
        cases = [
            (("/O",), OUT_NO_VALUE),
            (("/O", "/W", "."), OUT_NO_VALUE),
            (("/O", "d"), OUT_DIRECTORY % "d"),
            # A directory that cannot be written is still a directory first.
            (("/O", "ro-dir/"), OUT_DIRECTORY % "ro-dir/"),
            (("/O", "special"), OUT_SYSTEM % "special"),
            # No write bit is read-only even for the superuser.
            (("/O", "ro.csv"), OUT_READ_ONLY % "ro.csv"),
        ]
        if not tarnsek.WINDOWS:  # a device: no Windows path names one
            cases.insert(4, (("/O", "/dev/null"), OUT_SYSTEM % "/dev/null"))
        for args, message in cases:
            with self.subTest(args=args):
                self.assertFails(self.sort(*args), 3001, message)
        self.assertEqual(self.read("ro.csv"), b"x\r\n")

    @unittest.skipIf(tarnsek.WINDOWS, "Windows does not see symbolic links")
    def test_link_to_a_file_not_made_yet_is_shown_where_it_leads(self):
        # Written through, and named by the path it resolves to: directly,
        # along a chain, and into a folder that does not exist.
        os.symlink("new.csv", self.path("dl"))
        os.symlink("dl", self.path("chain"))
        os.symlink("missing/new.csv", self.path("nodir"))
        for name in ("dl", "chain"):
            with self.subTest(name=name):
                result = self.sort("/O", name, "/W", ".")
                self.assertSucceeds(result)
                new = os.path.join(os.path.realpath(self.dir), "new.csv")
                self.assertIn(OPENED % new, result.texts)
                self.assertIn("[%s] ファイルをクローズしました." % new, result.texts)
                self.assertEqual(self.read("new.csv"), b"a\r\nb\r\n")
                self.assertTrue(os.path.islink(self.path(name)))
                os.remove(self.path("new.csv"))
        missing = os.path.join(os.path.realpath(self.dir), "missing", "new.csv")
        self.assertFails(self.sort("/O", "nodir", "/W", "."), 1002, OPEN_FAILED % (missing, 2))

    def test_name_too_long_fails_as_an_open(self):
        result = self.sort("/O", TOO_LONG)
        self.assertFails(result, 1002, OPEN_FAILED % (TOO_LONG, ENAMETOOLONG))

    def test_empty_name_fails_when_opened(self):
        # The run files go to the scratch directory, which is removed.
        result = self.sort("/O", "", "/W", ".")
        self.assertFails(result, 1002, OPEN_FAILED % ("", 2))

    def test_input_given_again_as_output(self):
        os.link(self.path("in.csv"), self.path("hard.csv"))
        os.symlink("in.csv", self.path("soft.csv"))
        for name in ("in.csv", "./in.csv", "hard.csv", "soft.csv", self.real("in.csv")):
            with self.subTest(name=name):
                self.assertFails(self.sort("/O", name), 3001, INPUT_IS_OUTPUT)
        self.assertEqual(self.read("in.csv"), b"b\r\na\r\n")

    def test_names_that_differ_in_a_second_byte_are_two_files(self):
        # Names as the system writes them: code page 932 under Windows, where
        # ア is 0x83 0x41 and ヂ 0x83 0x61; UTF-8 on Linux.
        def refused(result, message, name=""):
            # Bytes: on Linux the log holds the name in UTF-8.
            self.assertEqual(result.status, tarnsek.STATUS[3001], result.stdout)
            name = sj(name) if tarnsek.WINDOWS else os.fsencode(name)
            self.assertEqual(result.messages[-1], sj(message).replace(b"%s", name))

        self.write("ア.csv", b"b\r\na\r\n")
        refused(self.run_tool("/I", "ア.csv", "/O", "./ア.csv", "/K", "1"), INPUT_IS_OUTPUT)
        # ヂ.csv new, then existing.
        for _ in range(2):
            result = self.run_tool("/I", "ア.csv", "/O", "ヂ.csv", "/K", "1")
            self.assertSucceeds(result)
            self.assertEqual(self.read("ヂ.csv"), b"a\r\nb\r\n")
        self.assertEqual(self.read("ア.csv"), b"b\r\na\r\n")
        result = self.run_tool("/M", "ア.csv|ヂ.csv", "/O", "out.csv", "/K", "1")
        self.assertSucceeds(result)
        self.assertEqual(self.read("out.csv"), b"a\r\nb\r\nb\r\na\r\n")
        os.remove(self.path("ヂ.csv"))
        result = self.run_tool("/M", "ア.csv", "/O", "ヂ.csv", "/K", "1")
        self.assertSucceeds(result)
        self.assertEqual(self.read("ヂ.csv"), b"b\r\na\r\n")
        refused(self.run_tool("/M", "ヂ.csv|ア.csv", "/O", "ア.csv", "/K", "1"), OUTPUT_IS_MERGE_FILE)
        refused(self.merge("ア.csv|ヂ.csv|./ア.csv"), MERGE_DUPLICATE, self.real("ア.csv"))

    def test_another_letter_case(self):
        # The same file on Windows, whose file names ignore letter case.
        if tarnsek.WINDOWS:
            self.assertFails(self.sort("/O", "IN.CSV"), 3001, INPUT_IS_OUTPUT)
            self.assertEqual(self.read("in.csv"), b"b\r\na\r\n")
            return
        self.write("IN.csv", b"old\r\n")
        result = self.sort("/O", "IN.csv")
        self.assertSucceeds(result)
        self.assertEqual(self.read("IN.csv"), b"a\r\nb\r\n")
        self.assertEqual(self.read("in.csv"), b"b\r\na\r\n")


class LongPathTest(PathCase):
    def test_paths_up_to_the_longest_the_system_takes(self):
        # 259 bytes on Windows; on Linux 4095 (PATH_MAX less its terminator),
        # which a folder of Japanese names on a shared drive soon reaches.
        for length in sorted({min(300, MAX_PATH), MAX_PATH}):
            with self.subTest(length=length):
                tool_in, disk_in = self.long_name(length, "i")
                tool_out, disk_out = self.long_name(length, "o")
                with open(disk_in, "wb") as f:
                    f.write(b"b\r\na\r\n")
                result = self.run_tool("/I", tool_in, "/O", tool_out, "/K", "1", "/W", ".")
                self.assertSucceeds(result)
                with open(disk_out, "rb") as f:
                    self.assertEqual(f.read(), b"a\r\nb\r\n")
        # One byte more: refused as before, the message cut at 511 bytes.
        tool_in, _ = self.long_name(MAX_PATH + 1, "i")
        tool_out, _ = self.long_name(MAX_PATH + 1, "o")
        cut = lambda text: sj(text)[:511].decode("cp932")
        result = self.run_tool("/I", tool_in, "/O", "out.csv", "/K", "1")
        self.assertFails(result, 3001, cut(IN_NOT_FOUND % tool_in))
        result = self.run_tool("/I", "in.csv", "/O", tool_out, "/K", "1")
        self.assertFails(result, 1002, cut(OPEN_FAILED % (tool_out, ENAMETOOLONG)))


class WorkDirectoryTest(PathCase):
    def test_refusals(self):
        cases = [
            (("/W",), WORK_NO_VALUE),
            (("/W", "/C"), WORK_NO_VALUE),
            (("/W", "in.csv"), WORK_NOT_DIRECTORY % "in.csv"),
            (("/W", "nope"), WORK_NOT_DIRECTORY % "nope"),
            (("/W", ""), WORK_NOT_DIRECTORY % ""),
            (("/W", TOO_LONG), WORK_NOT_DIRECTORY % TOO_LONG),
        ]
        for args, message in cases:
            with self.subTest(args=args):
                self.assertFails(self.sort("/O", "out.csv", *args), 3001, message)

    def test_run_files_go_to_the_directory(self):
        os.mkdir(self.path("runs"))
        result = self.sort("/O", "out.csv", "/W", "./runs/")
        self.assertSucceeds(result)
        self.assertEqual(self.read("out.csv"), b"a\r\nb\r\n")
        # Its run file was made there.
        opened_run = re.escape("[" + self.real("runs") + tool_path.sep) + RUN_FILE_NAME + \
            re.escape("] ファイルをオープンしました.")
        self.assertTrue(any(re.fullmatch(opened_run, text) for text in result.texts), result.texts)
        self.assertEqual(os.listdir(self.path("runs")), [])


class MergeFilesTest(PathCase):
    def setUp(self):
        super().setUp()
        self.write("a.csv", b"a\r\nc\r\n")
        self.write("b.csv", b"b\r\n")

    def assertMerged(self, value):
        result = self.merge(value)
        self.assertSucceeds(result)
        self.assertEqual(self.read("out.csv"), b"a\r\nb\r\nc\r\n")

    def test_names_cut_at_bars_with_blanks_around(self):
        # Under Windows in code page 932 the second byte of ポ is "|", of ソ "\".
        self.write("ソ.csv", self.read("a.csv"))
        self.write("ポ.csv", self.read("b.csv"))
        for value in ("a.csv|b.csv", " a.csv | b.csv ", "a.csv||b.csv", "|a.csv|b.csv|",
                      "ソ.csv|ポ.csv", "ポ.csv|ソ.csv", "|ソ.csv | ポ.csv|"):
            with self.subTest(value=value):
                self.assertMerged(value)

    def test_no_name(self):
        self.assertFails(self.run_tool("/O", "out.csv", "/K", "1", "/M"), 3001, MERGE_NO_VALUE)
        for value in ("", "|", "|||"):
            with self.subTest(value=value):
                self.assertFails(self.merge(value), 3001, MERGE_NOT_FOUND % "(null)")

    def test_refused_names_are_shown_trimmed(self):
        os.mkdir(self.path("d"))
        cases = [
            ("a.csv| nope.csv |b.csv", MERGE_NOT_FOUND % "nope.csv"),
            ("a.csv|  |b.csv", MERGE_NOT_FOUND % ""),
            ("a.csv|" + TOO_LONG, MERGE_NOT_FOUND % TOO_LONG),
            ("a.csv|" + SJIS_NAME, MERGE_NOT_FOUND % "表データ.csv"),
            ("a.csv| ./d ", MERGE_DIRECTORY % "./d"),
        ]
        for value, message in cases:
            with self.subTest(value=value):
                self.assertFails(self.merge(value), 3001, message)

    def test_nineteen_files_and_no_more(self):
        names = []
        for i in range(19):
            name = "m%02d.csv" % i
            self.write(name, b"%02d\r\n" % (18 - i))
            names.append(name)
        result = self.merge("|".join(names))
        self.assertSucceeds(result)
        self.assertEqual(self.read("out.csv"), b"".join(b"%02d\r\n" % i for i in range(19)))
        # The twentieth name is refused by count before it is looked for.
        result = self.merge("|".join(names + ["missing.csv"]))
        self.assertFails(result, 3001, MERGE_TOO_MANY)

    def test_same_file_twice(self):
        os.link(self.path("a.csv"), self.path("hard.csv"))
        os.symlink("a.csv", self.path("soft.csv"))
        os.symlink("b.csv", self.path("B.csv"))
        cases = [
            ("a.csv|a.csv", "a.csv"),
            ("./a.csv|b.csv|" + native(self.dir) + tool_path.sep * 2 + "a.csv", "a.csv"),
            ("b.csv|a.csv|hard.csv", "a.csv"),
            ("hard.csv|b.csv|a.csv", "hard.csv"),
            ("soft.csv|a.csv", "soft.csv"),  # named a.csv where links resolve
            ("b.csv|B.csv", "b.csv"),
        ]
        for value, first in cases:
            with self.subTest(value=value):
                self.assertFails(self.merge(value), 3001, MERGE_DUPLICATE % self.real(first))

    def test_first_pair_in_order_is_reported(self):
        os.link(self.path("b.csv"), self.path("b2.csv"))
        # (0,3) comes before (1,2).
        result = self.merge("b.csv|a.csv|a.csv|b2.csv")
        self.assertFails(result, 3001, MERGE_DUPLICATE % self.real("b.csv"))

    def test_another_letter_case(self):
        # The same file on Windows, whose file names ignore letter case.
        if tarnsek.WINDOWS:
            self.assertFails(self.merge("a.csv|A.CSV|b.csv"), 3001, MERGE_DUPLICATE % self.real("a.csv"))
            return
        self.write("A.csv", b"d\r\n")
        result = self.merge("a.csv|A.csv|b.csv")
        self.assertSucceeds(result)
        self.assertEqual(self.read("out.csv"), b"a\r\nb\r\nc\r\nd\r\n")

    def test_output_among_the_merge_files(self):
        os.link(self.path("b.csv"), self.path("hard.csv"))
        for output in ("b.csv", "./b.csv", "hard.csv"):
            with self.subTest(output=output):
                result = self.run_tool("/M", "a.csv|b.csv", "/O", output, "/K", "1")
                self.assertFails(result, 3001, OUTPUT_IS_MERGE_FILE)
        self.assertEqual(self.read("b.csv"), b"b\r\n")


class OrderTest(PathCase):
    def test_values_are_checked_in_command_line_order(self):
        result = self.run_tool("/O", "d", "/I", "nope.csv", "/K", "1")
        self.assertFails(result, 3001, IN_NOT_FOUND % "nope.csv")
        os.mkdir(self.path("d"))
        result = self.run_tool("/O", "d", "/I", "nope.csv", "/K", "1")
        self.assertFails(result, 3001, OUT_DIRECTORY % "d")


if __name__ == "__main__":
    unittest.main()
