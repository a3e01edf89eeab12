"""The Japanese guide's message table agrees with the tool's own messages.

docs/guide.ja.md lists every message the tool can print, as printed (its
placeholders shown as words: [LINE:n], [パス] ...), with its exit code and what
a POSIX shell sees. The messages and their codes are read from
driver/messages.h, where each message is one entry with its exit code
(exit_code::kNormal for a log line), so a message whose
text or code changes without the guide fails here. The chapter of surprises
quotes messages in its text, each as `message` with "(終了コード N)" after it
where it names the code: those are held against the same table.
"""
import os
import re
import unittest

ROOT = os.path.normpath(os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", ".."))
MESSAGES_H = os.path.join(ROOT, "driver", "messages.h")
EXIT_CODES_H = os.path.join(ROOT, "driver", "exit_codes.h")
GUIDE = os.path.join(ROOT, "docs", "guide.ja.md")

DECLARATION = re.compile(r'inline constexpr MessageEntry (k\w+) =\s*\{\s*exit_code::(k\w+),\s*((?:"(?:[^"\\]|\\.)*"\s*)+)\};')
LITERAL = re.compile(r'"((?:[^"\\]|\\.)*)"')
PLACEHOLDER = re.compile(r"%(?:0?\d+)?[sd]")
# A placeholder is shown as one word: no blank, bracket or parenthesis, so
# that it cannot stand in for the text around the value.
SHOWN_VALUE = r"[^\s\[\]()%]+"


def read_messages():
    """Name -> (text, exit code or None for a log line), in file order: each
    entry of driver/messages.h names its exit code (exit_code::kNormal for a
    log line)."""
    with open(MESSAGES_H, encoding="utf-8") as header:
        text = header.read()
    text = text[: text.index("kUsage")]
    with open(EXIT_CODES_H, encoding="utf-8") as header:
        codes = {name: int(code) for name, code in re.findall(r"(k\w+)\s*=\s*(\d+);", header.read())}

    messages = {}
    for declaration in DECLARATION.finditer(text):
        name, code_name = declaration.group(1), declaration.group(2)
        assert code_name in codes, f"messages.h names the unknown exit code {code_name}"
        value = "".join(LITERAL.findall(declaration.group(3))).replace('\\"', '"')
        code = codes[code_name]
        messages[name] = (value, code if code != 0 else None)
    assert len(messages) == text.count("inline constexpr MessageEntry "), "an entry of messages.h was not read"
    return messages


def guide_section(title):
    """The text of the guide's chapter whose heading (## ...) holds title."""
    with open(GUIDE, encoding="utf-8") as guide:
        text = guide.read()
    start = re.search(r"^## .*%s.*$" % re.escape(title), text, re.M)
    assert start, "the guide has no chapter ## ... %s" % title
    end = re.search(r"^## ", text[start.end() :], re.M)
    return text[start.end() : start.end() + end.start()] if end else text[start.end() :]


def read_guide_rows():
    """(text as shown, code or None, shell value or None) of every table row
    in the guide's message section."""
    section = guide_section("メッセージ一覧")
    rows = []
    for line in section.splitlines():
        if not line.startswith("| `"):
            continue
        cells = [cell.strip() for cell in re.split(r"(?<!\\)\|", line)[1:-1]]
        shown = cells[0].strip("`").replace("\\|", "|")
        code = None if cells[1] == "-" else int(cells[1])
        shell = None if cells[2] == "-" else int(cells[2])
        rows.append((shown, code, shell))
    return rows


def read_quoted_messages(title):
    """(text as shown, code or None) of every message quoted in a chapter: a
    code span that holds a character beyond ASCII and ends in a full stop, and
    the code of "(終了コード N)" right after it."""
    quoted = re.finditer(r"`([^`]*[^\x00-\x7f][^`]*\.)`(?: \(終了コード (\d+)\))?", guide_section(title))
    return [(m.group(1), int(m.group(2)) if m.group(2) else None) for m in quoted]


def pattern_of(message):
    parts = PLACEHOLDER.split(message)
    return re.compile(SHOWN_VALUE.join(re.escape(part) for part in parts) + r"\Z")


class GuideMessageTable(unittest.TestCase):
    def setUp(self):
        self.messages = read_messages()
        self.rows = read_guide_rows()

    def test_every_message_has_one_row_with_its_exit_code(self):
        self.assertGreater(len(self.messages), 60, "messages.h was not read")
        for name, (text, code) in self.messages.items():
            with self.subTest(message=name, text=text):
                pattern = pattern_of(text)
                rows = [row for row in self.rows if pattern.match(row[0])]
                self.assertEqual(len(rows), 1, f"guide rows for {text!r}: {rows}")
                shown, guide_code, shell = rows[0]
                self.assertEqual(guide_code, code, f"exit code of {shown!r}")
                self.assertEqual(shell, None if code is None else code % 256,
                                 f"what a shell sees for {shown!r}")

    def test_every_exit_code_is_in_the_code_table(self):
        with open(EXIT_CODES_H, encoding="utf-8") as header:
            codes = [int(code) for code in re.findall(r"=\s*(\d+);", header.read())]
        with open(GUIDE, encoding="utf-8") as guide:
            table = dict(re.findall(r"^\| (\d+) \| (\d+) \|", guide.read(), re.M))
        for code in codes:
            with self.subTest(code=code):
                self.assertEqual(table.get(str(code)), str(code % 256))

    def test_every_row_is_a_message_of_the_tool(self):
        patterns = [pattern_of(text) for text, _ in self.messages.values()]
        for shown, _, _ in self.rows:
            with self.subTest(row=shown):
                self.assertNotIn("%", shown, "a placeholder is shown as a word, not as %s/%d")
                self.assertEqual(sum(1 for p in patterns if p.match(shown)), 1,
                                 f"{shown!r} is not exactly one of the tool's messages")


class GuideSurprisesChapter(unittest.TestCase):
    def test_quoted_messages_are_the_tool_s_with_their_codes(self):
        messages = read_messages()
        quoted = read_quoted_messages("つまずきやすいところ")
        self.assertGreater(len(quoted), 5, "the chapter's messages were not found")
        for shown, code in quoted:
            with self.subTest(text=shown):
                codes = [c for text, c in messages.values() if pattern_of(text).match(shown)]
                self.assertEqual(len(codes), 1, f"{shown!r} is not exactly one of the tool's messages")
                if code is not None:
                    self.assertEqual(code, codes[0], f"exit code given for {shown!r}")


if __name__ == "__main__":
    unittest.main()
