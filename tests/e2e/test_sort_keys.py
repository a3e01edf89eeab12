"""The /K value: key items, their parts, limits and messages.

Accepted keys are shown by a whole merge of one-record files: the output order
is the order the keys give."""
import os
import unittest

from tarnsek import TarnsekTestCase, native, sj

KEYS_NO_VALUE = "ソートキー [/k] の指定がありません."
KEYS_TOO_MANY = "ソートキー [/k] のキーが規定数を超えています."
KEYS_INVALID = "ソートキー [/k] の値が不正です."
KEY_ITEM_INVALID = "ソートキー [/k] の値 [%s] が不正です."
KEY_FIELD_DUPLICATE = "ソートキー [/k] のフィールド [%d] が重複しています."
SORT_KEYS = "ソートキー: [%s]"


def wide(field, low, high):
    """Two records of 64 fields: the first holds high in the field and low
    elsewhere, the second the reverse, so that only that field puts the second
    first."""
    first = [low] * 64
    second = [high] * 64
    first[field - 1], second[field - 1] = high, low
    return ",".join(first), ",".join(second)


class AcceptedKeysTest(TarnsekTestCase):
    def merged(self, keys, records):
        """Merges one file per record under the keys; returns the output's
        records and checks the run and its log line."""
        names = []
        for i, record in enumerate(records):
            names.append(native(self.write("r%02d.csv" % i, sj(record) + b"\r\n")))
        result = self.run_tool("/M", "|".join(names), "/O", "out.csv", "/K", keys)
        self.assertSucceeds(result)
        self.assertIn(SORT_KEYS % keys, result.texts)
        return self.read("out.csv").decode("cp932").split("\r\n")[:-1]

    def test_types_and_orders_decide_the_order(self):
        # What keys a value gives is checked in tests/unit/sort_keys_test.cc;
        # here each type and order reaches the output, and the log shows the
        # value as typed.
        cases = [
            ("2,n,d", ["x,2", "y,10", "z,1"], ["y,10", "x,2", "z,1"]),
            # Field 3 as a date: 2/1 before 12/31, which text order reverses.
            ("1,S,A:3,D", ["a,_,2023/12/31", "a,_,2024/1/1", "B,_,2000/1/1", "a,_,2023/2/1"],
             ["B,_,2000/1/1", "a,_,2023/2/1", "a,_,2023/12/31", "a,_,2024/1/1"]),
            ("1::2", ["a,2", "a,1", "b,0"], ["a,1", "a,2", "b,0"]),
            (" 1 , s :: 2,N,d:", ["a,2", "a,10", "b,1"], ["a,10", "a,2", "b,1"]),
            ("2,i", ["x,B", "y,a"], ["y,a", "x,B"]),
        ]
        for keys, records, expected in cases:
            with self.subTest(keys=keys):
                self.assertEqual(self.merged(keys, records), expected)

    def test_position_is_a_decimal_number(self):
        # Read by the C runtime of each build; the integer part names the field.
        for keys, field in (("3.7", 3), ("1e1", 10), ("0x10", 16), ("64.0", 64), ("64", 64),
                            ("1.0", 1), ("1.9999", 1)):
            with self.subTest(keys=keys):
                first, second = wide(field, "1", "2")
                self.assertEqual(self.merged(keys, [first, second]), [second, first])

    def test_sixty_four_keys_fill_every_slot(self):
        # Only the last key, field 1, tells the records apart.
        keys = ":".join(str(i) for i in range(64, 0, -1))
        first, second = wide(1, "s", "s")
        first, second = "b" + first[1:], "a" + second[1:]
        self.assertEqual(self.merged(keys, [first, second]), [second, first])


class RefusedKeysTest(TarnsekTestCase):
    def setUp(self):
        super().setUp()
        self.write("in.csv", b"b\r\na\r\n")

    def refused(self, *keys):
        return self.run_tool("/I", "in.csv", "/O", "out.csv", "/K", *keys)

    def test_no_value(self):
        self.assertFails(self.refused(), 3001, KEYS_NO_VALUE)
        # A value that begins with "-" is a switch of its own.
        self.assertFails(self.refused("-1"), 3001, KEYS_NO_VALUE)
        self.assertFails(self.run_tool("/K", "/I", "in.csv", "/O", "out.csv"), 3001,
                         KEYS_NO_VALUE)

    def test_no_item(self):
        for keys in ("", ":", ":::"):
            with self.subTest(keys=keys):
                self.assertFails(self.refused(keys), 3001, KEYS_INVALID)

    def test_more_than_sixty_four_items(self):
        # Counted before any item is examined: the bad first item is not seen.
        keys = "x:" + ":".join(str(i) for i in range(1, 65))
        self.assertFails(self.refused(keys), 3001, KEYS_TOO_MANY)
        self.assertFails(self.refused(keys + ":::"), 3001, KEYS_TOO_MANY)

    def test_bad_items_are_shown_as_written(self):
        items = ["0", "65", "x", "2x", "-1", "0.5", "64.5", "1,x", "1,s,x", "1,s,a,x",
                 ",,,", "1, ", " 1 ,s,a,x ", "nan", "NaN", "NAN", "-nan", "nan(1)", "inf", "1e999",
                 "1e-999", "1,sn", "1,表"]
        for item in items:
            with self.subTest(item=item):
                result = self.refused(os.fsdecode(sj("2,n:" + item)))
                self.assertFails(result, 3001, KEY_ITEM_INVALID % item)

    def test_first_bad_item_is_reported(self):
        self.assertFails(self.refused("1:y:z"), 3001, KEY_ITEM_INVALID % "y")
        # A bad item is found before any duplicate.
        self.assertFails(self.refused("1:1:z"), 3001, KEY_ITEM_INVALID % "z")

    def test_duplicate_fields(self):
        for keys, field in (("1:1", 1), ("2.2:2", 2), ("5,n:7:5.9,s,d:7", 5)):
            with self.subTest(keys=keys):
                self.assertFails(self.refused(keys), 3001, KEY_FIELD_DUPLICATE % field)


if __name__ == "__main__":
    unittest.main()
