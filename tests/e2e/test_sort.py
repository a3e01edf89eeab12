"""Sort mode (/I): chunks of 65536 records sorted into run files, merged into
the output behind the /C title record, run files deleted."""
import os
import re
import shutil
import unittest

from tarnsek import (LINE_END, MAX_PATH, RUN_FILE_NAME, WINDOWS, TarnsekTestCase, closed, disk_name,
                     merge_written, native, opened, read_count, sj, temp_env, tool_path)

SORT_STARTED = "ソートを開始しました."
SORT_FINISHED = "ソートが終了しました."
MERGE_STARTED = "マージを開始しました."
MERGE_FINISHED = "マージが終了しました."
TOO_MANY_RUN_FILES = "テンポラリファイル数が規定値 [19] を超えました."
NO_TEMP_NAME = "テンポラリファイル名の取得に失敗しました."
RUN_FILE = re.compile(r"^\[(.*%s%s)\] ファイルをオープンしました\.$"
                      % (re.escape(tool_path.sep), RUN_FILE_NAME))


def loaded(count):
    return "バッファへ [%d] 行ロードしました." % count


def run_written(count):
    return "テンポラリファイルへレコードを [%d] 行出力しました." % count


def deleted(path):
    return "[%s] ファイルを削除しました." % path


def numbered(count, start=0):
    """count distinct records, already in key order: 7-digit numbers."""
    return b"".join(b"%07d\r\n" % i for i in range(start, start + count))


class SortTestCase(TarnsekTestCase):
    def setUp(self):
        super().setUp()
        self.work = self.path("work")
        os.mkdir(self.work)

    def full(self, name):
        return self.canonical(name)

    def sort(self, data, keys="1", *extra, env=None, work=True):
        self.write("in.csv", data)
        args = ["/I", "in.csv", "/O", "out.csv", "/K", keys]
        if work:
            args += ["/W", native(self.work)]
        return self.run_tool(*(args + list(extra)), env=env)

    def run_files(self, result):
        """The run files in the order the log opened them first."""
        names = []
        for text in result.texts:
            match = RUN_FILE.match(text)
            if match and match.group(1) not in names:
                names.append(match.group(1))
        return names

    def sort_log(self, result):
        texts = result.texts
        self.assertIn(SORT_STARTED, texts, result.stdout.decode("cp932", "replace"))
        return texts[texts.index(SORT_STARTED):]


class SortLogTest(SortTestCase):
    def test_one_record_exact_log(self):
        result = self.sort(b"only,1\r\n")
        self.assertSucceeds(result)
        runs = self.run_files(result)
        self.assertEqual(len(runs), 1)
        run = runs[0]
        self.assertEqual(tool_path.dirname(run), self.canonical("work"))
        inp, out = self.full("in.csv"), self.full("out.csv")
        self.assertEqual(self.sort_log(result), [
            SORT_STARTED,
            opened(inp),
            loaded(1),
            opened(run),
            run_written(1),
            closed(run),
            closed(inp),
            MERGE_STARTED,
            opened(out),
            opened(run),
            read_count(run, 1),
            closed(run),
            merge_written(1),
            closed(out),
            deleted(run),
            MERGE_FINISHED,
            SORT_FINISHED,
        ])
        self.assertEqual(self.read("out.csv"), b"only,1\r\n")
        self.assertEqual(os.listdir(self.work), [])

    def test_empty_input_without_caption(self):
        result = self.sort(b"")
        self.assertSucceeds(result)
        inp, out = self.full("in.csv"), self.full("out.csv")
        self.assertEqual(self.sort_log(result), [
            SORT_STARTED, opened(inp), loaded(0), closed(inp),
            MERGE_STARTED, opened(out), merge_written(0), closed(out), MERGE_FINISHED,
            SORT_FINISHED,
        ])
        self.assertEqual(self.read("out.csv"), b"")

    def test_empty_input_with_caption(self):
        result = self.sort(b"", "1", "/C")
        self.assertSucceeds(result)
        inp, out = self.full("in.csv"), self.full("out.csv")
        self.assertEqual(self.sort_log(result), [
            SORT_STARTED, opened(inp), closed(inp),
            MERGE_STARTED, opened(out), merge_written(0), closed(out), MERGE_FINISHED,
            SORT_FINISHED,
        ])
        self.assertEqual(self.read("out.csv"), b"")

    def test_run_files_follow_tmpdir_without_work_directory(self):
        tmp = self.path("tmp")
        os.mkdir(tmp)
        result = self.sort(b"b\r\na\r\n", work=False, env=temp_env(tmp))
        self.assertSucceeds(result)
        runs = self.run_files(result)
        self.assertEqual([tool_path.dirname(r) for r in runs], [self.canonical("tmp")])
        self.assertIn(deleted(runs[0]), result.texts)
        self.assertEqual(os.listdir(tmp), [])
        self.assertEqual(self.read("out.csv"), b"a\r\nb\r\n")

    def test_control_bytes_of_values_stay_inside_one_log_line(self):
        # A field that would end the log line, forge a timestamped one and
        # clear the terminal; on Linux the input's name holds a line feed too
        # (a Windows name cannot hold a control byte).
        name = "in.csv" if WINDOWS else "in\nput.csv"
        self.write(name, b'1\r\n"1234567890123\r\n2026/01/01 00:00:00 fake\tline\x1b[2J"\r\n')
        result = self.run_tool("/I", name, "/O", "out.csv", "/K", "1,N", "/W", native(self.work))
        # A tab neither ends the line nor moves the terminal: it stays a tab.
        self.assertFails(result, 2002, '["1234567890123\\x0D\\x0A2026/01/01 00:00:00 fake\tline'
                                       '\\x1B[2J"] 数値の有効桁数を超えました.')
        self.assertEqual(result.texts[:-1][-2:], [
            opened(self.full(name).replace("\n", "\\x0A")), loaded(2)])
        # Every line is a log line, and no control byte is left but tabs and line ends.
        self.assertEqual(len(result.messages), result.stdout.count(LINE_END))
        self.assertIsNone(re.search(rb"[\x00-\x08\x0a-\x1f\x7f]", result.stdout.replace(LINE_END, b"")))
        # A switch value is echoed the same way.
        result = self.run_tool("/I", name, "/O", "out.csv", "/K", "1,N:2\x7f")
        self.assertFails(result, 3001, "ソートキー [/k] の値 [2\\x7F] が不正です.")
        result = self.run_tool("/I", name, "/O", "out.csv", "/K", "\t1\t,\tn\t", "/W", native(self.work))
        self.assertIn("ソートキー: [\t1\t,\tn\t]", result.texts)

    def test_run_file_name_must_fit_in_the_longest_path(self):
        # A run file is the directory, a separator and "sotXXXX.tmp": it fits
        # only in a directory of at most MAX_PATH - 12 bytes (247 on Windows,
        # 4083 on Linux). The one a byte longer ends in "表", whose second
        # byte 0x5C is no separator.
        fits = MAX_PATH - 12
        for length, last in [(fits, "d"), (fits + 1, "表"), (MAX_PATH, "d")]:
            with self.subTest(length=length):
                tool, disk = self.long_name(length, last, under="work")
                self.assertEqual(len(sj(tool)), length)
                os.mkdir(disk)
                self.write("in.csv", b"b\r\na\r\n")
                result = self.run_tool("/I", "in.csv", "/O", "out.csv", "/K", "1", "/W", native(disk))
                if length == fits:
                    self.assertSucceeds(result)
                    if length < 400:  # the log shows the whole name
                        runs = self.run_files(result)
                        self.assertEqual([tool_path.dirname(r) for r in runs], [tool])
                        self.assertLessEqual(len(sj(runs[0])), MAX_PATH)
                    self.assertEqual(self.read("out.csv"), b"a\r\nb\r\n")
                    os.remove(self.path("out.csv"))
                else:
                    self.assertFails(result, 1003, NO_TEMP_NAME)
                    self.assertFalse(os.path.exists(self.path("out.csv")))
                self.assertEqual(os.listdir(disk), [])
                shutil.rmtree(self.path("work"))
                os.mkdir(self.path("work"))

    def test_no_run_file_can_be_made(self):
        result = self.sort(b"b\r\na\r\n", work=False, env=temp_env(self.path("missing")))
        self.assertFails(result, 1003, NO_TEMP_NAME)
        self.assertEqual(result.texts[-2], loaded(2))
        self.assertFalse(os.path.exists(self.path("out.csv")))


class SortOrderTest(SortTestCase):
    def test_equal_records_leave_in_the_quicksort_order(self):
        # Two equal records: second, first; three: third, second, first;
        # four: third, fourth, first, second.
        for count, order in ((2, [2, 1]), (3, [3, 2, 1]), (4, [3, 4, 1, 2])):
            data = b"".join(b"same,%d\r\n" % i for i in range(1, count + 1))
            result = self.sort(data)
            self.assertSucceeds(result)
            self.assertEqual(self.read("out.csv"),
                             b"".join(b"same,%d\r\n" % i for i in order), count)

    def test_keys_types_and_orders(self):
        data = b'b,"1,000"\r\nA,999\r\na,"1,000"\r\nB,-0\r\nc,1000\r\n'
        # Number descending, then text ascending.
        result = self.sort(data, "2,N,D:1")
        self.assertSucceeds(result)
        self.assertEqual(self.read("out.csv"),
                         b'a,"1,000"\r\nb,"1,000"\r\nc,1000\r\nA,999\r\nB,-0\r\n')

    def test_last_record_without_line_end_and_empty_line(self):
        result = self.sort(b"c\r\n\r\nb\r\na")
        self.assertSucceeds(result)
        self.assertEqual(self.read("out.csv"), b"\r\na\r\nb\r\nc\r\n")
        self.assertIn(loaded(4), result.texts)

    def test_every_record_length_near_the_limit_reads_back_from_its_run_file(self):
        # (name, the record of n bytes as read, its data as written back, extra switches).
        # Every byte read counts, the end of the file nothing; the run file
        # holds each record with CR LF added.
        def shapes(n):
            z = b"z" * n
            return [
                ("CR LF", z[2:] + b"\r\n", z[2:], ()),
                ("end of file", z, z, ()),
                ("two fields, end of file", b"z," + z[2:], b"z," + z[2:], ()),
                ("quoted, end of file", b'"' + z[2:] + b'"', b'"' + z[2:] + b'"', ()),
                ("quote and lone CR", b'"' + z[3:] + b'"\r', b'"' + z[3:] + b'"', ()),
                ("separator, end of file", z[1:] + b",", z[1:], ()),
                ("tab mode, CR LF", b"z\t" + z[4:] + b"\r\n", b"z\t" + z[4:], ("/T",)),
                ("tab mode, end of file", b'z"\t' + z[3:], b'z"\t' + z[3:], ("/T",)),
            ]
        for n in range(2044, 2050):
            for name, record, written, extra in shapes(n):
                with self.subTest(n=n, ending=name):
                    result = self.sort(b"a\r\n" + record, "1", *extra)
                    if n > 2048:
                        self.assertFails(result, 2002, "[LINE:2] 最大レコード長を超えました.")
                        continue
                    self.assertSucceeds(result)
                    self.assertEqual(self.read("out.csv"), b"a\r\n" + written + b"\r\n")
            # The title record is written by the merge, with CR LF.
            for name, title, written in (("CR LF", b"z" * (n - 2) + b"\r\n", b"z" * (n - 2)),
                                         ("end of file", b"z" * n, b"z" * n)):
                with self.subTest(n=n, title=name):
                    data = title + (b"b\r\na\r\n" if title.endswith(b"\n") else b"")
                    result = self.sort(data, "1", "/C")
                    if n > 2048:
                        self.assertFails(result, 2002, "[LINE:1] 最大レコード長を超えました.")
                        continue
                    self.assertSucceeds(result)
                    self.assertEqual(self.read("out.csv"), written + b"\r\n" +
                                     (b"a\r\nb\r\n" if title.endswith(b"\n") else b""))

    def test_caption_heads_the_output_and_is_never_compared(self):
        # The title lacks the key field: no missing-key warning from it.
        result = self.sort(b"title\r\nc,3\r\na,1\r\nb,2\r\n", "2,N", "/C")
        self.assertSucceeds(result)
        self.assertEqual(self.read("out.csv"), b"title\r\na,1\r\nb,2\r\nc,3\r\n")
        self.assertIn(loaded(3), result.texts)
        self.assertIn(merge_written(4), result.texts)

    def test_caption_counts_in_line_numbers(self):
        result = self.sort(b"title\r\n" + b"x" * 2047 + b"\r\n", "1", "/C")
        self.assertFails(result, 2002, "[LINE:2] 最大レコード長を超えました.")
        self.assertEqual(os.listdir(self.work), [])

    def test_missing_key_field_ends_with_4001_after_the_output(self):
        # A key that either record lacks is skipped for the pair: here only
        # b,2,9 holds field 3, so field 1 decides every pair.
        for records, keys, expected in [
                (b"c,1\r\nb,2,9\r\na,3\r\n", "3,N:1", b"a,3\r\nb,2,9\r\nc,1\r\n"),
                (b"b,2\r\na\r\nc,1\r\n", "2,N:1", b"a\r\nc,1\r\nb,2\r\n")]:
            with self.subTest(keys=keys):
                result = self.sort(records, keys)
                self.assertFails(result, 4001, "比較フィールドがないレコードが見つかりました.")
                self.assertEqual(self.read("out.csv"), expected)

    def test_first_too_long_number_in_input_order(self):
        result = self.sort(b"1,1\r\n2,1234567890123\r\n99999999999999,1\r\n", "1,N:2,N")
        self.assertFails(result, 2002, "[1234567890123] 数値の有効桁数を超えました.")


class SortChunkTest(SortTestCase):
    def test_exactly_one_full_chunk(self):
        data = b"".join(reversed(numbered(65536).splitlines(keepends=True)))
        result = self.sort(data)
        self.assertSucceeds(result)
        log = self.sort_log(result)
        self.assertEqual([t for t in log if "ロードしました" in t], [loaded(65536), loaded(0)])
        self.assertEqual(len(self.run_files(result)), 1)
        self.assertEqual(self.read("out.csv"), numbered(65536))

    def test_one_record_more_makes_a_second_run_file(self):
        result = self.sort(numbered(65537))
        self.assertSucceeds(result)
        log = self.sort_log(result)
        self.assertEqual([t for t in log if "ロードしました" in t or "行出力しました" in t],
                         [loaded(65536), run_written(65536), loaded(1), run_written(1),
                          merge_written(65537)])
        runs = self.run_files(result)
        self.assertEqual(len(runs), 2)
        self.assertEqual([t for t in log if "ファイルを削除しました" in t], [deleted(r) for r in runs])
        self.assertEqual(os.listdir(self.work), [])
        self.assertEqual(self.read("out.csv"), numbered(65537))

    def test_nineteen_full_chunks_are_the_limit(self):
        total = 19 * 65536
        # Each chunk holds every 19th number, so the merge interleaves all runs.
        lines = numbered(total).splitlines(keepends=True)
        data = b"".join(b"".join(lines[k::19]) for k in range(19))
        result = self.sort(data)
        self.assertSucceeds(result)
        self.assertEqual(len(self.run_files(result)), 19)
        self.assertIn(merge_written(total), result.texts)
        self.assertEqual(self.read("out.csv"), numbered(total))
        self.assertEqual(os.listdir(self.work), [])

        # One record more: the 20th chunk is loaded and sorted, then refused,
        # before the output is opened.
        os.remove(self.path("out.csv"))
        result = self.sort(data + b"9999999\r\n")
        self.assertFails(result, 2002, TOO_MANY_RUN_FILES)
        self.assertEqual(result.texts[-2], loaded(1))
        self.assertEqual(len(os.listdir(self.work)), 19)
        self.assertEqual(sorted(self.canonical(os.path.join("work", n)) for n in os.listdir(self.work)),
                         sorted(self.run_files(result)))
        self.assertFalse(os.path.exists(self.path("out.csv")))


if __name__ == "__main__":
    unittest.main()
