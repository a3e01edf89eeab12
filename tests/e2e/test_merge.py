"""Merge mode (/M): files already in key order merged into one output, and the
record comparison as the merge shows it."""
import unittest

from tarnsek import STATUS, TarnsekTestCase, closed, merge_written, opened, read_count

STARTED = "マージを開始しました."
FINISHED = "マージが終了しました."
MISSING_KEY = "比較フィールドがないレコードが見つかりました."


class MergeTestCase(TarnsekTestCase):
    def full(self, name):
        """The canonical form the tool prints for a file of the scratch dir."""
        return self.canonical(name)

    def merge(self, files, keys="1", *extra):
        """Writes the inputs ({name: bytes}, in list order) and merges them
        into out.csv."""
        for name, data in files.items():
            self.write(name, data)
        return self.run_tool("/M", "|".join(files), "/O", "out.csv", "/K", keys, *extra)

    def merge_log(self, result):
        """The log lines from the merge's start on."""
        texts = result.texts
        self.assertIn(STARTED, texts, result.stdout.decode("cp932", "replace"))
        return texts[texts.index(STARTED):]


class MergeLogTest(MergeTestCase):
    def test_exact_log_sequence(self):
        result = self.merge({"a.csv": b"1\r\n3\r\n", "b.csv": b"2\r\n4\r\n5\r\n"})
        self.assertSucceeds(result)
        a, b, out = self.full("a.csv"), self.full("b.csv"), self.full("out.csv")
        self.assertTrue(result.texts[0].startswith("TARNSEK Version "))
        self.assertEqual(result.texts[1:], [
            "ソートキー: [1]",
            STARTED,
            opened(out),
            opened(a),
            opened(b),
            # a ends when its third read finds nothing, after 3 is written.
            read_count(a, 2),
            closed(a),
            read_count(b, 3),
            closed(b),
            merge_written(5),
            closed(out),
            FINISHED,
        ])
        self.assertEqual(self.read("out.csv"), b"1\r\n2\r\n3\r\n4\r\n5\r\n")

    def test_inputs_are_left_in_place(self):
        files = {"a.csv": b"b\r\nd\r\n", "b.csv": b"a\r\nc"}
        result = self.merge(files)
        self.assertSucceeds(result)
        for name, data in files.items():
            self.assertEqual(self.read(name), data)
        self.assertNotIn("ファイルを削除しました.", result.stdout.decode("cp932"))
        self.assertEqual(self.read("out.csv"), b"a\r\nb\r\nc\r\nd\r\n")

    def test_empty_inputs_end_at_their_first_read(self):
        result = self.merge({"a.csv": b"", "b.csv": b"x\r\n", "c.csv": b""})
        self.assertSucceeds(result)
        a, b, c, out = (self.full(n) for n in ("a.csv", "b.csv", "c.csv", "out.csv"))
        self.assertEqual(self.merge_log(result), [
            STARTED, opened(out), opened(a), opened(b), opened(c),
            read_count(a, 0), closed(a), read_count(c, 0), closed(c),
            read_count(b, 1), closed(b),
            merge_written(1), closed(out), FINISHED,
        ])
        self.assertEqual(self.read("out.csv"), b"x\r\n")

    def test_all_inputs_empty(self):
        result = self.merge({"a.csv": b"", "b.csv": b""})
        self.assertSucceeds(result)
        self.assertEqual(self.merge_log(result)[-3:], [merge_written(0), closed(self.full("out.csv")), FINISHED])
        self.assertEqual(self.read("out.csv"), b"")

    def test_last_record_without_line_end(self):
        result = self.merge({"a.csv": b"1\r\n3", "b.csv": b"2\r\n"})
        self.assertSucceeds(result)
        self.assertEqual(self.read("out.csv"), b"1\r\n2\r\n3\r\n")
        log = self.merge_log(result)
        self.assertIn(read_count(self.full("a.csv"), 2), log)
        self.assertIn(read_count(self.full("b.csv"), 1), log)
        self.assertIn(merge_written(3), log)

    def test_single_input(self):
        result = self.merge({"a.csv": b"only\r\n"})
        self.assertSucceeds(result)
        self.assertEqual(self.read("out.csv"), b"only\r\n")


class MergeOrderTest(MergeTestCase):
    def test_equal_records_of_a_later_input_come_first(self):
        result = self.merge({
            "a.csv": b"k,a1\r\nk,a2\r\n",
            "b.csv": b"k,b1\r\nk,b2\r\nk,b3\r\n",
        })
        self.assertSucceeds(result)
        self.assertEqual(self.read("out.csv"), b"k,b1\r\nk,b2\r\nk,b3\r\nk,a1\r\nk,a2\r\n")

    def test_three_equal_inputs(self):
        result = self.merge({"a.csv": b"1,a\r\n", "b.csv": b"1,b\r\n", "c.csv": b"1,c\r\n"})
        self.assertSucceeds(result)
        self.assertEqual(self.read("out.csv"), b"1,c\r\n1,b\r\n1,a\r\n")

    def test_unsorted_input_takes_the_smallest_current_record(self):
        result = self.merge({"a.csv": b"2\r\n9\r\n1\r\n", "b.csv": b"5\r\n0\r\n"}, "1,N")
        self.assertSucceeds(result)
        self.assertEqual(self.read("out.csv"), b"2\r\n5\r\n0\r\n9\r\n1\r\n")

    def test_quoted_fields_compare_unquoted_and_are_written_as_read(self):
        result = self.merge({"a.csv": b'"b,1",x\r\n', "b.csv": b'a\r\n"c"\r\n'})
        self.assertSucceeds(result)
        self.assertEqual(self.read("out.csv"), b'a\r\n"b,1",x\r\n"c"\r\n')

    def test_typed_and_descending_keys(self):
        # Both inputs in descending order of the date, then ascending number.
        result = self.merge({
            "a.csv": "2024年3月1日,5\r\n2023/1/5 9:03,2\r\n".encode("cp932"),
            "b.csv": b"2023-01-05 09:03:00,1,000\r\n2023/1/5 9:03,3\r\n20231231,0\r\n",
        }, "1,D,D:2,N")
        self.assertSucceeds(result)
        self.assertEqual(self.read("out.csv").decode("cp932"),
                         "2024年3月1日,5\r\n2023-01-05 09:03:00,1,000\r\n"
                         "2023/1/5 9:03,2\r\n2023/1/5 9:03,3\r\n20231231,0\r\n")

    def test_tab_separated_inputs(self):
        result = self.merge({"a.csv": b"B\t2\r\nb\t1\r\n", "b.csv": b"a\t\"q\r\n"}, "1,I", "/T")
        self.assertSucceeds(result)
        self.assertEqual(self.read("out.csv"), b"a\t\"q\r\nB\t2\r\nb\t1\r\n")


class MergeFailureTest(MergeTestCase):
    def test_missing_key_field_warns_last_after_a_complete_output(self):
        result = self.merge({"a.csv": b"x,1,5\r\nz,1,9\r\n", "b.csv": b"y,2\r\n"}, "3,N:1,S")
        self.assertFails(result, 4001, MISSING_KEY)
        self.assertEqual(result.status, STATUS[4001])
        self.assertEqual(result.texts[-2], FINISHED)
        self.assertEqual(result.texts.count(MISSING_KEY), 1)
        self.assertEqual(self.read("out.csv"), b"x,1,5\r\ny,2\r\nz,1,9\r\n")

    def test_complete_records_end_normally(self):
        result = self.merge({"a.csv": b"x,1,5\r\n", "b.csv": b"y,2,4\r\n"}, "3,N:1,S")
        self.assertSucceeds(result)
        self.assertEqual(result.texts[-1], FINISHED)
        self.assertEqual(self.read("out.csv"), b"y,2,4\r\nx,1,5\r\n")

    def test_input_that_cannot_be_opened_after_the_output_is_made_empty(self):
        self.write("a.csv", b"1\r\n")
        self.write("b.csv", b"2\r\n")
        # Held for writing elsewhere: the merge may not open it.
        with self.held("b.csv", writing=True):
            result = self.run_tool("/M", "a.csv|b.csv", "/O", "out.csv", "/K", "1")
        b = self.full("b.csv")
        self.assertFails(result, 1002, "[%s] (13) ファイルのオープンに失敗しました." % b)
        self.assertEqual(self.merge_log(result)[:3],
                         [STARTED, opened(self.full("out.csv")), opened(self.full("a.csv"))])
        self.assertEqual(self.read("out.csv"), b"")
        self.assertEqual(self.read("b.csv"), b"2\r\n")

    def test_number_of_thirteen_digits_ends_the_run(self):
        result = self.merge({"a.csv": b"1\r\n", "b.csv": b'"1,234,567,890,123"\r\n'}, "1,N")
        self.assertFails(result, 2002, '["1,234,567,890,123"] 数値の有効桁数を超えました.')
        self.assertEqual(result.status, STATUS[2002])

    def test_twelve_digits_with_separators_are_accepted(self):
        result = self.merge({"a.csv": b"123,456,789,012\r\n", "b.csv": b"99\r\n"}, "1,N")
        self.assertSucceeds(result)
        self.assertEqual(self.read("out.csv"), b"99\r\n123,456,789,012\r\n")

    def test_first_compared_record_is_named_when_both_are_too_long(self):
        # The later input's record is the first argument of the comparison.
        result = self.merge({"a.csv": b"1111111111111\r\n", "b.csv": b"2222222222222\r\n"}, "1,N")
        self.assertFails(result, 2002, "[2222222222222] 数値の有効桁数を超えました.")


if __name__ == "__main__":
    unittest.main()
