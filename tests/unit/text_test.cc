#include "driver/text.h"

#include <gtest/gtest.h>

#include <cstdarg>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "driver/log.h"
#include "key_oracles.h"

namespace {

std::string Unquoted(const std::string& source, size_t size = 2049) {
  std::string out(size, 'X');
  CopyUnquoted(source.c_str(), out.data(), size);
  return out.c_str();
}

std::string Trimmed(std::string text) {
  TrimBlanks(text.data());
  return text.c_str();
}

std::string Formatted(const char* format, ...) {
  char buffer[512];
  va_list args;
  va_start(args, format);
  FormatMessage(buffer, format, args);
  va_end(args);
  return std::string(buffer);
}

std::string FormattedIn(LogEncoding encoding, const char* format, ...) {
  char buffer[512];
  va_list args;
  va_start(args, format);
  FormatMessage(buffer, format, args, encoding);
  va_end(args);
  return std::string(buffer);
}

}  // namespace

TEST(CopyUnquoted, EachQuoteMakesTheNextByteData) {
  EXPECT_EQ(Unquoted("\"ab\"\"c\""), "ab\"c");
  EXPECT_EQ(Unquoted("\"a\""), "a");
  EXPECT_EQ(Unquoted("ab\"c"), "abc");
  EXPECT_EQ(Unquoted("\"\""), "\"");
  EXPECT_EQ(Unquoted("\"\"\""), "\"");
  EXPECT_EQ(Unquoted("\"\"\"\""), "\"\"");
  EXPECT_EQ(Unquoted("\""), "");
  EXPECT_EQ(Unquoted(""), "");
  // Shift_JIS bytes pass through, also a trail byte equal to a backslash.
  EXPECT_EQ(Unquoted("\"\x83\x5C\x8E\x71\""), "\x83\x5C\x8E\x71");
}

TEST(CopyUnquoted, NullSourceGivesEmptyText) {
  char out[4] = "zzz";
  CopyUnquoted(nullptr, out, sizeof out);
  EXPECT_STREQ(out, "");
}

TEST(CopyUnquoted, KeepsAtMostSizeMinusOneBytes) {
  std::string longText(3000, 'a');
  EXPECT_EQ(Unquoted(longText, 2049).size(), 2048u);
  EXPECT_EQ(Unquoted("\"abcdef\"", 4), "abc");
  EXPECT_EQ(Unquoted("abc", 1), "");
}

TEST(TrimBlanks, RemovesBlanksAtBothEndsOnly) {
  EXPECT_EQ(Trimmed("  1 "), "1");
  EXPECT_EQ(Trimmed(" a b "), "a b");
  EXPECT_EQ(Trimmed("   "), "");
  EXPECT_EQ(Trimmed(""), "");
  EXPECT_EQ(Trimmed("\t\r\nx\r\n"), "x");
  EXPECT_EQ(Trimmed("\x01z\x1f"), "z");
}

TEST(TrimBlanks, KeepsDoubleByteCharactersWhole) {
  // "ア" is 0x83 0x41 and "　" (ideographic space) is 0x81 0x40: neither is a blank.
  EXPECT_EQ(Trimmed(" \x83\x41 "), "\x83\x41");
  EXPECT_EQ(Trimmed("\x81\x40x\x81\x40"), "\x81\x40x\x81\x40");
}

TEST(CompareIgnoringCase, FoldsAsciiLettersOnly) {
  EXPECT_EQ(CompareIgnoringCase("abc", "ABC"), 0);
  EXPECT_LT(CompareIgnoringCase("_x", "Ax"), 0);  // 'A' folds to 0x61 > '_' 0x5F
  EXPECT_EQ(CompareIgnoringCase("\x83\x41", "\x83\x61"), 0);
  EXPECT_GT(CompareIgnoringCase("\xE0", "z"), 0);  // bytes compare unsigned
  EXPECT_LT(CompareIgnoringCase("ab", "abc"), 0);
}

TEST(FormatMessage, ValuesAreNeverFormats) { EXPECT_EQ(Formatted("[%s] x", "100%s%d"), "[100%s%d] x"); }

TEST(FormatMessage, ControlBytesOfValuesAreWrittenAsHexEscapes) {
  // A field text that would end the line and forge a timestamped one.
  EXPECT_EQ(Formatted("[%s] x.", "\"1234567890123\r\n2026/01/01 00:00:00 fake"),
            "[\"1234567890123\\x0D\\x0A2026/01/01 00:00:00 fake] x.");
  EXPECT_EQ(Formatted("%s", "\x1b[2J\x01\x1f\x7f"), "\\x1B[2J\\x01\\x1F\\x7F");
  EXPECT_EQ(Formatted("[%c%c]", '\n', 'a'), "[\\x0Aa]");
  // Bytes 0x80 and above and a backslash stay, also a trail byte 0x5C ("ソ")
  // and a lead byte that a control byte follows (never a character).
  EXPECT_EQ(Formatted("%s", "\x83\x5C\\x0A\xFF\x81\n"), "\x83\x5C\\x0A\xFF\x81\\x0A");
  // The format's own text, numbers and padding are as printf writes them.
  EXPECT_EQ(Formatted("a\tb [%d] [%02d] [%-3s] [%3s] [%.2s] %%", -7, 5, "x", "y", "abc"),
            "a\tb [-7] [05] [x  ] [  y] [ab] %");
  EXPECT_EQ(Formatted("[%s] (%d) %lu %zu %lld", "\x82\xA0", 13, 4ul, size_t{9}, -1ll),
            "[\x82\xA0] (13) 4 9 -1");
}

TEST(FormatMessage, WithoutControlBytesEqualsPrintf) {
  // Random values of printable and double-byte bytes, short and long: the
  // text and the cut are those of the plain formatting.
  std::mt19937 random(7);
  for (int round = 0; round < 2000; ++round) {
    std::string value(random() % 600, ' ');
    for (char& c : value) {
      unsigned byte = 0x20 + random() % 0xE0;
      c = static_cast<char>(byte == 0x7F ? 0x83 : byte);
    }
    int number = static_cast<int>(random() % 100000);
    char plain[512];
    int length = std::snprintf(plain, sizeof plain, "[%s] (%d) \x83\x74\x83\x40", value.c_str(), number);
    std::string expected = plain;
    if (length > 511) {
      // The plain text cut back to the last character boundary.
      size_t keep = 0;
      while (keep < 511) {
        size_t width = IsLeadByte(static_cast<unsigned char>(plain[keep])) ? 2 : 1;
        if (keep + width > 511) break;
        keep += width;
      }
      expected.resize(keep);
    }
    ASSERT_EQ(Formatted("[%s] (%d) \x83\x74\x83\x40", value.c_str(), number), expected) << round;
  }
}

TEST(FormatMessage, LongMessageIsCutAt511BytesOnACharacterBoundary) {
  std::string ascii(600, 'a');
  EXPECT_EQ(Formatted("%s", ascii.c_str()).size(), 511u);

  // 'b' then double-byte characters: the 511th byte would be a lead byte, so
  // the cut falls before it.
  std::string wide = "b";
  for (int i = 0; i < 300; ++i) wide += "\x83\x41";
  std::string cut = Formatted("%s", wide.c_str());
  EXPECT_EQ(cut.size(), 511u);
  std::string evenStart;
  for (int i = 0; i < 300; ++i) evenStart += "\x83\x41";
  cut = Formatted("%s", evenStart.c_str());
  EXPECT_EQ(cut.size(), 510u);
  EXPECT_EQ(cut, evenStart.substr(0, 510));

  // An escaped control byte goes in whole or not at all.
  EXPECT_EQ(Formatted("%s", (std::string(507, 'a') + "\n").c_str()), std::string(507, 'a') + "\\x0A");
  EXPECT_EQ(Formatted("%s", (std::string(508, 'a') + "\n").c_str()), std::string(508, 'a'));
  EXPECT_EQ(Formatted("%s", (std::string(508, 'a') + "\x83\n").c_str()), std::string(508, 'a') + "\x83");
}

// In a UTF-8 log a character of up to four bytes goes in whole or not at all;
// bytes that begin no character, such as a code page 932 file name's, stand
// alone, so the same value is cut elsewhere than in code page 932.
TEST(FormatMessage, Utf8MessageIsCutAt511BytesOnACharacterBoundary) {
  constexpr LogEncoding kUtf8 = LogEncoding::kUtf8;
  // prefix, then unit count times
  auto repeated = [](const std::string& prefix, const std::string& unit, int count) {
    std::string text = prefix;
    for (int i = 0; i < count; ++i) text += unit;
    return text;
  };
  const std::string a3 = "\xE3\x81\x82";      // あ
  const std::string b4 = "\xF0\xA0\x80\x8B";  // a character beyond the first plane
  struct Case {
    std::string value;
    std::string expected;
  };
  const Case cases[] = {
      {repeated("a", a3, 200), repeated("a", a3, 170)},  // 511 bytes
      {repeated("ab", a3, 200), repeated("ab", a3, 169)},
      {repeated("abc", b4, 200), repeated("abc", b4, 127)},  // 511 bytes
      {repeated("ab", b4, 200), repeated("ab", b4, 127)},
      // Code page 932 bytes: 0x83 begins no UTF-8 character.
      {repeated("", "\x83\x41", 300), repeated("", "\x83\x41", 255) + "\x83"},
      // A character broken off by a plain byte stands as what it has.
      {std::string(509, 'a') + "\xE3\x81" + "b", std::string(509, 'a') + "\xE3\x81"},
      {std::string(510, 'a') + "\xE3\x81" + "b", std::string(510, 'a')},
      // An escaped control byte after a lead byte: the lead byte alone, then
      // the escape if it fits.
      {std::string(507, 'a') + "\xE3\n", std::string(507, 'a') + "\xE3"},
      {std::string(506, 'a') + "\xE3\n", std::string(506, 'a') + "\xE3\\x0A"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(FormattedIn(kUtf8, "%s", c.value.c_str()), c.expected) << c.value.size();
  }
  // Code page 932 pairs the same bytes: 0xE3 is a lead byte there.
  EXPECT_EQ(FormattedIn(LogEncoding::kCp932, "%s", repeated("ab", a3, 200).c_str()).size(), 510u);
  // The format's own text is cut the same way; a message that fits is as printf writes it.
  EXPECT_EQ(FormattedIn(kUtf8, (repeated("a", a3, 200) + "%s").c_str(), "x"), repeated("a", a3, 170));
  EXPECT_EQ(FormattedIn(kUtf8, "[%s] (%d) \xE3\x81\x82", "\xE5\xA3\xB2.csv", 2),
            "[\xE5\xA3\xB2.csv] (2) \xE3\x81\x82");
}

// The /M value is cut only at a bar that is a character of its own. With the
// lead bytes of code page 932, as the Windows build sees them, ポ (0x83 0x7C)
// holds no bar; ソ (0x83 0x5C) ends in a backslash and a lead byte that ends
// the text stands alone.
TEST(NextItem, LeadByteTakesTheNextByteAlong) {
  char value[] = "|\x83\x5C.csv|\x83\x7C.csv||\x83\x7C|\x83";
  char* cursor = value;
  std::vector<std::string> items;
  auto lead = [](unsigned char byte) { return IsLeadByte(byte); };
  while (char* item = NextItem(cursor, '|', lead)) items.push_back(item);
  EXPECT_EQ(items, (std::vector<std::string>{"\x83\x5C.csv", "\x83\x7C.csv", "\x83\x7C", "\x83"}));
}
