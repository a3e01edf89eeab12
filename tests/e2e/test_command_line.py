"""The command line: usage text, switch counts and their order of checks."""
import os
import re
import unittest

from tarnsek import LINE_END, STATUS, WINDOWS, TarnsekTestCase, native, sj

USAGE = (
    "TARNSEK [/I ファイルパス] [/O ファイルパス] [/W ディレクトリパス]\n"
    "  [/K [フィールド位置],[フィールド型],[ソート順][:]...]\n"
    "  [/M \"[ファイルパス][|]...\"] [/C] [/T]\n"
    "/I\t\t\t入力ファイルパスを指定します。\n"
    "/O\t\t\t出力ファイルパスを指定します。\n"
    "/W\t\t\t省略できます。テンポラリファイル用のディレクトリを指定します。\n"
    "/K\t\t\tソートキーを指定します(最大 64)。\n"
    "フィールド位置\t\tフィールドの位置(1-64)を指定します。\n"
    "フィールド型\t\tS 文字列, I 文字列(英字大小文字を区別しない), N 数値, D 日付時刻\n"
    "ソート順\t\tA 昇順, D 降順\n"
    "/M\t\t\tマージファイルパスを指定します(最大 19)。\n"
    "\t\t\t必ずダブルクォーテーションで括ります。\n"
    "/C\t\t\tタイトル付きのデータをソートするときに指定します。\n"
    "\t\t\tマージには指定できません。\n"
    "/T\t\t\tタブ区切りオプションです。\n"
    "\t\t\tタブをエスケープすることはできません。\n"
)

BANNER = re.compile(rb"^\d{4}/\d\d/\d\d \d\d:\d\d:\d\d TARNSEK Version \d+\.\d+\.\d+\.\d+ \S.*\n")
# The version and company the build was given, when the test runner names
# them: the banner shows exactly these (on Windows from the version resource).
FILE_VERSION = os.environ.get("TARNSEK_FILE_VERSION")
COMPANY = os.environ.get("TARNSEK_COMPANY")

NO_INPUT = "入力ファイル [/i] スイッチがありません."
DUP_INPUT = "入力ファイル [/i] スイッチが重複しています."
NO_OUTPUT = "出力ファイル [/o] スイッチがありません."
DUP_OUTPUT = "出力ファイル [/o] スイッチが重複しています."
DUP_WORK = "テンポラリフォルダ [/w] スイッチが重複しています."
NO_KEYS = "ソートキー [/k] スイッチがありません."
DUP_KEYS = "ソートキー [/k] スイッチが重複しています."
INPUT_AND_MERGE = "入力ファイル [/i] とマージ [/m] スイッチが混在しています."
MERGE_AND_CAPTION = "マージ [/m] とキャプション [/c] は併用できません."
DUP_MERGE = "マージ [/m] スイッチが重複しています."


class UsageTest(TarnsekTestCase):
    def assertUsage(self, result):
        self.assertEqual(result.status, 0)
        banner = BANNER.match(result.stdout)
        self.assertIsNotNone(banner, result.stdout[:200])
        if FILE_VERSION is not None:
            self.assertEqual(result.stdout[20:banner.end()].rstrip(b"\r\n"),
                             sj("TARNSEK Version %s %s" % (FILE_VERSION, COMPANY)))
        self.assertEqual(result.stdout[banner.end():], sj(USAGE).replace(b"\n", LINE_END))

    def test_no_arguments(self):
        self.assertUsage(self.run_tool())

    def test_help_switches(self):
        for switch in ("/?", "-h", "/H", "-?", "/h", "--help"):
            with self.subTest(switch=switch):
                self.assertUsage(self.run_tool(switch))

    def test_help_wins_over_wrong_switches(self):
        self.assertUsage(self.run_tool("/I", "/I", "/x", "-bad", "/K", "/?"))
        self.assertUsage(self.run_tool("/M", "a|b", "/I", "x", "/C", "-H"))
        self.assertUsage(self.run_tool("/O", "--help", "/K", "1"))

    def test_version_is_one_line_alone(self):
        # Anywhere on the command line, before the banner and every check.
        for args in (("--version",), ("/I", "a", "/I", "b", "--version", "/?")):
            with self.subTest(args=args):
                result = self.run_tool(*args)
                self.assertEqual(result.status, 0)
                self.assertRegex(result.stdout, rb"\ATARNSEK \d+\.\d+\.\d+\.\d+" + re.escape(LINE_END) + rb"\Z")
                if FILE_VERSION is not None:
                    self.assertEqual(result.stdout, sj("TARNSEK " + FILE_VERSION) + LINE_END)

    def test_help_beyond_36_recorded_arguments_is_not_seen(self):
        words = ["w%d" % i for i in range(36)]
        result = self.run_tool(*(words + ["/?"]))
        self.assertFails(result, 3001, NO_INPUT)
        # The 36th recorded argument is still seen.
        self.assertUsage(self.run_tool(*(words[:35] + ["/?"])))

    def test_a_value_taken_by_a_switch_takes_no_place(self):
        # /K 1 is one record: 34 words, /K 1 and /? make 36 records.
        words = ["w%d" % i for i in range(34)]
        self.assertUsage(self.run_tool(*(words + ["/K", "1", "/?"])))


class SwitchCountTest(TarnsekTestCase):
    CASES = [
        ((), NO_INPUT),
        (("/O", "o", "/K", "1"), NO_INPUT),
        (("/I", "a", "/I", "b", "/M", "m"), DUP_INPUT),
        (("/I", "a", "/K", "1"), NO_OUTPUT),
        (("/I", "a", "/O", "o", "/O", "p", "/K", "1"), DUP_OUTPUT),
        (("/I", "a", "/O", "o", "/W", "w", "/W", "v", "/K", "1"), DUP_WORK),
        (("/I", "a", "/O", "o"), NO_KEYS),
        (("/M", "a|b", "/O", "o"), NO_KEYS),
        (("/I", "a", "/O", "o", "/K", "1", "-k", "2"), DUP_KEYS),
        (("/I", "a", "/M", "m", "/O", "o", "/K", "1"), INPUT_AND_MERGE),
        (("/M", "m", "/C", "/O", "o", "/K", "1"), MERGE_AND_CAPTION),
        (("/M", "m", "/M", "n", "/O", "o", "/K", "1"), DUP_MERGE),
        # A switch without a value still counts.
        (("/I", "/O", "/O", "/K", "1"), DUP_OUTPUT),
    ]

    def test_each_check_in_its_order(self):
        for args, message in self.CASES:
            with self.subTest(args=args):
                # Every run is given at least one word so that no-argument usage is not hit.
                result = self.run_tool(*(args or ("word",)))
                self.assertFails(result, 3001, message)
                self.assertEqual(len(result.texts), 2)  # banner, message
                self.assertTrue(result.texts[0].startswith("TARNSEK Version "), result.texts[0])

    def test_plain_words_and_unknown_switches_are_ignored(self):
        result = self.run_tool("/I", "a", "-x", "-in", "--i", "--HELP", "-version", "word", "/O", "o")
        self.assertFails(result, 3001, NO_KEYS)

    def test_value_beginning_with_dash_is_never_taken(self):
        # -out.csv is an unknown switch, so /O has no value and the handler says so.
        result = self.run_tool("/O", "-out.csv", "/M", "x", "/K", "1")
        self.assertEqual(result.status, STATUS[3001])
        self.assertNotIn("-out.csv", result.stdout.decode("cp932"))

    def test_absolute_path_is_taken_as_a_value(self):
        missing = native(self.path("missing.csv"))
        result = self.run_tool("/I", missing, "/O", "o.csv", "/K", "1")
        self.assertFails(result, 3001, "入力ファイル [/i] [%s] は見つかりません." % missing)

    def test_switch_letters_in_either_case_and_prefix(self):
        result = self.run_tool("-i", "a", "/I", "b", "-O", "o", "-K", "1")
        self.assertFails(result, 3001, DUP_INPUT)


class LogEncodingTest(TarnsekTestCase):
    """On Linux the locale's names choose the encoding of the messages and the
    usage text: UTF-8 when the first of LC_ALL, LC_CTYPE and LANG that is set
    and not empty has the codeset UTF-8 (installed or not), code page 932
    otherwise. A value in a message, here a file name in UTF-8, is written as
    the bytes it is in both. The Windows build writes code page 932 whatever
    the environment says."""

    CASES = [
        ({"LC_ALL": "C.UTF-8"}, "utf-8"),
        ({"LC_ALL": None, "LANG": "ja_JP.UTF-8"}, "utf-8"),
        ({"LC_ALL": None, "LC_CTYPE": "en_US.utf8"}, "utf-8"),
        ({"LC_ALL": "C", "LANG": "ja_JP.UTF-8"}, "cp932"),
        ({"LC_ALL": None}, "cp932"),
        ({"LC_ALL": None, "LANG": "ja_JP.SJIS"}, "cp932"),
    ]

    @staticmethod
    def logged(message, encoding, value):
        """A message as the log writes it: its text in the encoding, the value
        ("{}") as its bytes."""
        before, after = message.split("{}")
        return before.encode(encoding) + value + after.encode(encoding)

    def test_sort_failure_and_usage_in_the_locale_s_encoding(self):
        # Linux keeps the file name's UTF-8 bytes; the Windows tool takes and
        # prints code page 932 names.
        name_bytes = sj if WINDOWS else (lambda text: text.encode("utf-8"))
        self.write("売上.csv", b"b,2\r\na,1\r\n")
        for env, encoding in self.CASES:
            if WINDOWS:
                encoding = "cp932"
            with self.subTest(env=env):
                result = self.run_tool("/I", "売上.csv", "/O", "out.csv", "/K", "1", env=env)
                self.assertEqual(result.status, 0, result.stdout)
                self.assertEqual(self.read("out.csv"), b"a,1\r\nb,2\r\n")
                self.assertIn(self.logged("[{}] ファイルをオープンしました.", encoding,
                                          name_bytes(self.canonical("売上.csv"))), result.messages)
                self.assertEqual(result.messages[-1], "ソートが終了しました.".encode(encoding))

                result = self.run_tool("/I", "無い.csv", "/O", "out.csv", "/K", "1", env=env)
                self.assertEqual(result.status, STATUS[3001], result.stdout)
                self.assertEqual(result.messages[-1], self.logged(
                    "入力ファイル [/i] [{}] は見つかりません.", encoding, name_bytes("無い.csv")))

                result = self.run_tool("--help", env=env)
                self.assertEqual(result.status, 0)
                banner = BANNER.match(result.stdout)
                self.assertIsNotNone(banner, result.stdout[:200])
                self.assertEqual(result.stdout[banner.end():], USAGE.encode(encoding).replace(b"\n", LINE_END))


class LogFormatTest(TarnsekTestCase):
    def test_every_line_is_a_timestamped_log_line(self):
        result = self.run_tool("/I", "a", "/I", "b")
        self.assertEqual(len(result.messages), 2)
        for line in result.lines:
            self.assertRegex(line, rb"^\d{4}/\d\d/\d\d \d\d:\d\d:\d\d \S")

    def test_local_time_is_used(self):
        import datetime
        stamp = lambda line: datetime.datetime.strptime(line[:19].decode(), "%Y/%m/%d %H:%M:%S")
        utc = stamp(self.run_tool("/I", "a", "/I", "b", env={"TZ": "UTC"}).lines[0])
        tokyo = stamp(self.run_tool("/I", "a", "/I", "b", env={"TZ": "JST-9"}).lines[0])
        offset = (tokyo - utc).total_seconds()
        self.assertLess(abs(offset - 9 * 3600), 5)


if __name__ == "__main__":
    unittest.main()
