#!/usr/bin/env python3
"""Checks of the benchmark's data: the generator's format and determinism,
the merge inputs of run.py, and that the tool accepts the files.

    python3 -m unittest -v bench/test_generate.py      (or ctest in build/bench)

The tool is taken from $TARNSEK_BIN, else build/release/tarnsek; its checks
are skipped when neither exists.
"""
import csv
import io
import os
import re
import shutil
import subprocess
import sys
import tempfile
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
import generate  # noqa: E402
import run  # noqa: E402

RECORDS = 20000


def make(records=RECORDS, tab=False, seed=generate.DEFAULT_SEED, title=True):
    out = io.BytesIO()
    generate.generate(out, records, tab, seed, title)
    return out.getvalue()


def tool_path():
    path = os.environ.get("TARNSEK_BIN") or os.path.join(HERE, "..", "build", "release", "tarnsek")
    return path if os.access(path, os.X_OK) else None


class GeneratedFile(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.comma = make()
        cls.tab = make(tab=True)

    def lines(self, data):
        self.assertTrue(data.endswith(b"\r\n"))
        return data[:-2].split(b"\r\n")

    def test_same_seed_same_bytes_other_seed_other_bytes(self):
        self.assertEqual(make(500), make(500))
        self.assertNotEqual(make(500), make(500, seed=1))
        # The title takes nothing from the random stream.
        self.assertEqual(make(500, title=False), make(500).split(b"\r\n", 1)[1])

    def test_every_line_is_one_record_of_nine_fields_within_the_limits(self):
        for data, tab in ((self.comma, False), (self.tab, True)):
            lines = self.lines(data)
            self.assertEqual(len(lines), RECORDS + 1)
            for line in lines:
                self.assertNotIn(b"\r", line)
                self.assertNotIn(b"\n", line)
                self.assertLess(len(line) + 2, 2048)
                if tab:
                    self.assertEqual(line.count(b"\t"), 8, line)

    def test_comma_mode_quotes_exactly_what_needs_it_and_holds_the_tab_values(self):
        text = self.comma.decode("cp932")
        rows = list(csv.reader(io.StringIO(text, newline=""), strict=True))
        tab_rows = [line.split("\t") for line in self.tab.decode("cp932").split("\r\n")[:-1]]
        self.assertEqual(rows, tab_rows)
        self.assertEqual(rows[0], ["ID", "氏名", "フリガナ", "市区町村", "価格", "日時", "分類", "数量", "備考"])
        # A field is quoted exactly when it holds a comma or a quote.
        def written(value):
            return '"%s"' % value.replace('"', '""') if "," in value or '"' in value else value
        lines = text.split("\r\n")[:-1]
        for row, line in zip(rows, lines):
            self.assertEqual(",".join(written(v) for v in row), line)
        self.assertGreater(sum("," in r[8] or '"' in r[8] for r in rows), RECORDS // 20)
        self.assertGreater(sum("," in r[4] for r in rows), RECORDS // 2)
        self.assertIn(b'""', self.comma)

    def test_fields_have_the_intended_shape_and_spread(self):
        rows = [line.split("\t") for line in self.tab.decode("cp932").split("\r\n")[1:-1]]
        self.assertEqual([int(r[0]) for r in rows], list(range(1, RECORDS + 1)))
        cities = {r[3] for r in rows}
        self.assertTrue(250 <= len(cities) <= 400, len(cities))
        self.assertEqual(len({r[6] for r in rows}), 20)
        for r in rows[:2000]:
            self.assertRegex(r[5], r"^20(19|2[0-4])/([1-9]|1[0-2])/([1-9]|[12]\d) ([1-9]|1\d|2[0-3]|0):[0-5]\d:[0-5]\d$")
            self.assertTrue(1 <= int(r[7]) <= 500)
        self.assertTrue(any(r[8] == "" for r in rows))
        self.assertTrue(any(any(ord(c) > 0x7F for c in r[1]) for r in rows))

    def test_the_header_of_the_micro_benchmarks_holds_the_same_tables(self):
        for name, values in generate.TABLES.items():
            self.assertTrue(values, name)
            for value in values:
                for text in value if isinstance(value, tuple) else (value,):
                    self.assertTrue(text and not re.search(r"[\t\r\n]", text), (name, value))
                    text.encode("cp932")
        cmake = shutil.which("cmake")
        if not cmake:
            self.skipTest("no cmake")
        with tempfile.TemporaryDirectory() as scratch:
            header = os.path.join(scratch, "bench_values.h")
            subprocess.run([cmake, "-DVALUES=" + generate.VALUES, "-DHEADER=" + header,
                            "-P", os.path.join(HERE, "values_header.cmake")], check=True, capture_output=True)
            with open(header, encoding="utf-8") as f:
                text = f.read()
        tables = {}
        for name, pairs, body in re.findall(r"const char\* k(\w+)\[\](\[2\])? = \{\n(.*?)\n\};", text, re.S):
            rows = [tuple(re.sub(r"\\(.)", r"\1", literal) for literal in re.findall(r'"((?:[^"\\]|\\.)*)"', line))
                    for line in body.split("\n")]
            tables[name] = rows if pairs else [row for row, in rows]
        self.assertEqual(tables, {name.title().replace("_", ""): values for name, values in generate.TABLES.items()})

    def test_merge_inputs_are_each_in_order_and_together_the_records(self):
        with tempfile.TemporaryDirectory() as scratch:
            lines = self.lines(self.comma)
            body = sorted(lines[1:], key=lambda line: line.split(b",")[3])
            source = os.path.join(scratch, "sorted.csv")
            with open(source, "wb") as f:
                f.write(lines[0] + b"\r\n" + b"".join(line + b"\r\n" for line in body))
            paths = [os.path.join(scratch, "m%d" % k) for k in range(run.MERGE_FILES)]
            run.split_round_robin(source, paths)
            dealt = []
            for path in paths:
                with open(path, "rb") as f:
                    part = self.lines(f.read())
                keys = [line.split(b",")[3] for line in part]
                self.assertEqual(keys, sorted(keys))
                self.assertTrue(abs(len(part) - RECORDS / run.MERGE_FILES) <= 1)
                dealt += part
            self.assertEqual(sorted(dealt), sorted(body))


@unittest.skipUnless(tool_path(), "no tarnsek binary (set TARNSEK_BIN)")
class ToolAcceptsTheFiles(unittest.TestCase):
    def sort(self, data, keys, tab):
        with tempfile.TemporaryDirectory() as scratch:
            source = os.path.join(scratch, "in")
            target = os.path.join(scratch, "out")
            with open(source, "wb") as f:
                f.write(data)
            args = [tool_path(), "/I", source, "/O", target, "/K", keys, "/C", "/W", scratch]
            if tab:
                args.append("/T")
            result = subprocess.run(args, capture_output=True)
            self.assertEqual(result.returncode, 0, result.stdout.decode("cp932", "replace"))
            with open(target, "rb") as f:
                return f.read()

    def test_every_benchmark_key_sorts_both_modes_with_title(self):
        comma, tab = make(3000), make(3000, tab=True)
        for keys in ("4", "1,N,D", "4:1,N,D"):
            out = self.sort(comma, keys, False)
            self.assertEqual(sorted(out.split(b"\r\n")), sorted(comma.split(b"\r\n")))
            self.assertTrue(out.startswith(comma.split(b"\r\n", 1)[0] + b"\r\n"))
        out = self.sort(tab, "7:6,D,D", True)
        self.assertEqual(sorted(out.split(b"\r\n")), sorted(tab.split(b"\r\n")))
        ids = [int(line.split(b"\t")[0]) for line in out.split(b"\r\n")[1:-1]]
        self.assertEqual(len(ids), 3000)

    def test_numeric_key_descending_gives_the_ids_in_reverse(self):
        out = self.sort(make(3000), "1,N,D", False)
        ids = [int(line.split(b",")[0]) for line in out.split(b"\r\n")[1:-1]]
        self.assertEqual(ids, list(range(3000, 0, -1)))


if __name__ == "__main__":
    unittest.main()
