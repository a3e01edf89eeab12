#include "sort/compare.h"

#include <gtest/gtest.h>

#include <cstring>
#include <initializer_list>
#include <random>
#include <string>
#include <vector>

#include "driver/exit_codes.h"
#include "driver/messages.h"
#include "driver/text.h"
#include "fatal_capture.h"
#include "key_oracles.h"

namespace {

// A record of these field texts, released with the object.
struct Record {
  OwnedRecord owned;
  Record(std::initializer_list<std::string> fields) : owned(OwnRecord(fields)) {}
};

// Options holding the keys; the key records live with the options.
struct Keys {
  std::vector<CsvSortKey> keys;
  CsvSortOption options{};

  // Each key: type letter, 1-based field, order letter ("1SA", "3ND").
  Keys(std::initializer_list<const char*> written) {
    for (const char* item : written) keys.push_back(Make(item));
    for (size_t i = 0; i < keys.size(); ++i) options.sortKeys[i] = &keys[i];
  }
  explicit Keys(const std::vector<CsvSortKey>& list) : keys(list) {
    for (size_t i = 0; i < keys.size() && i < kMaxSortKeys; ++i) options.sortKeys[i] = &keys[i];
  }
  static CsvSortKey Make(const char* item) {
    std::string s(item);
    CsvSortKey key{};
    key.fieldIndex = std::stoi(s) - 1;
    char type = s[s.size() - 2];
    key.keyType = type == 'S'   ? KeyType::kText
                  : type == 'I' ? KeyType::kTextIgnoreCase
                  : type == 'N' ? KeyType::kNumber
                                : KeyType::kDateTime;
    key.order = s.back() == 'D' ? -1 : 1;
    return key;
  }
};

int Compare(const Record& a, const Record& b, const Keys& keys) {
  return CompareRecords(a.owned.get(), b.owned.get(), keys.options);
}

// The sign a one-field comparison gives under one key (checks both orders of
// the arguments against each other on the way).
int Sign(const std::string& a, const std::string& b, const char* key) {
  Keys keys{key};
  Record x{a};
  Record y{b};
  int forward = Compare(x, y, keys);
  int backward = Compare(y, x, keys);
  EXPECT_EQ((forward > 0) - (forward < 0), -((backward > 0) - (backward < 0)))
      << "exchanging [" << a << "] and [" << b << "] under " << key;
  return (forward > 0) - (forward < 0);
}

// The date-time value as its 14 digits.
std::string Normalized(const std::string& text) {
  char out[32];
  std::snprintf(out, sizeof out, "%014llu", static_cast<unsigned long long>(DateTimeValue(text.c_str())));
  return out;
}

}  // namespace

TEST(ParseNumberField, TakesDigitsSignsAndStopsSkipsSeparators) {
  EXPECT_EQ(ParseNumberField("1,234"), 1234);
  EXPECT_EQ(ParseNumberField("\\1,000"), 1000);  // yen sign and thousands separator
  EXPECT_EQ(ParseNumberField("@5"), 5);
  EXPECT_EQ(ParseNumberField(" -3.5"), -3.5);
  EXPECT_EQ(ParseNumberField("   +7"), 7);
  EXPECT_EQ(ParseNumberField("12kg"), 12);
  EXPECT_EQ(ParseNumberField("1e5"), 1);  // no exponent forms
  EXPECT_EQ(ParseNumberField("1.2.3"), 1.2);
  EXPECT_EQ(ParseNumberField("12 34"), 12);     // a space inside ends the scan
  EXPECT_EQ(ParseNumberField("\t5"), 0);        // only spaces are skipped in front
  EXPECT_EQ(ParseNumberField("5\x82\x4F"), 5);  // a double-byte character ends it
  EXPECT_EQ(ParseNumberField("--5"), 0);
  EXPECT_EQ(ParseNumberField("-"), 0);
  EXPECT_EQ(ParseNumberField("abc"), 0);
  EXPECT_EQ(ParseNumberField(""), 0);
  double negativeZero = ParseNumberField("-0");
  EXPECT_EQ(negativeZero, 0);
}

TEST(ParseNumberField, ReadsTheUnquotedText) {
  EXPECT_EQ(ParseNumberField("\"1,000\""), 1000);
  EXPECT_EQ(ParseNumberField("\" 42\""), 42);
  EXPECT_EQ(ParseNumberField("\"1\"\"2\""), 1);  // 1"2: the quote ends the scan
  // Only the first 2048 unquoted bytes take part.
  EXPECT_EQ(ParseNumberField((std::string(2040, ' ') + "1234567890123").c_str()), 12345678);
  EXPECT_EQ(ParseNumberField((std::string(2048, ' ') + "1234567890123").c_str()), 0);
}

TEST(ParseNumberField, TwelveTakenCharactersAtMost) {
  EXPECT_EQ(ParseNumberField("123,456,789,012"), 123456789012.0);
  EXPECT_EQ(ParseNumberField("-12345678901"), -12345678901.0);
  EXPECT_EQ(ParseNumberField("1234567890.1"), 1234567890.1);
  EXPECT_FATAL((void)ParseNumberField("1,234,567,890,123"), exit_code::kLimit,
               "[1,234,567,890,123] " + std::string(msg::kTooManyDigits + 5));
  EXPECT_FATAL((void)ParseNumberField("-123456789012"), exit_code::kLimit,
               "[-123456789012] " + std::string(msg::kTooManyDigits + 5));
  // The message names the text as stored, quotes included.
  EXPECT_FATAL((void)ParseNumberField("\"1234567890123\""), exit_code::kLimit,
               "[\"1234567890123\"] " + std::string(msg::kTooManyDigits + 5));
}

TEST(DateTimeValue, FirstSixDigitGroups) {
  EXPECT_EQ(Normalized("2023/12/31 23:59:59"), "20231231235959");
  EXPECT_EQ(Normalized("2023/1/5 9:03"), "20230105090300");
  EXPECT_EQ(Normalized("2023-01-05 09:03:00"), "20230105090300");
  EXPECT_EQ(Normalized("2023年1月5日"), "20230105000000");
  EXPECT_EQ(Normalized("20231231"), "20230000000000");
  EXPECT_EQ(Normalized("12/31/2023"), "00123120000000");
  EXPECT_EQ(Normalized("no date"), "00000000000000");
  EXPECT_EQ(Normalized(""), "00000000000000");
  EXPECT_EQ(Normalized("2023/13/00 99:123:7 1 2 3"), "20231300991207");
  EXPECT_EQ(Normalized("  \"2023/02/03\"  "), "20230203000000");
  // A doubled quote stands for one quote, which ends a group; a lone quote is
  // dropped before the groups are cut and splits nothing.
  EXPECT_EQ(Normalized("\"20\"\"23\""), "00202300000000");
  EXPECT_EQ(Normalized("20\"23/4"), "20230400000000");
}

TEST(CompareRecords, TextKeyComparesUnsignedBytes) {
  EXPECT_LT(Sign("B", "a", "1SA"), 0);
  EXPECT_LT(Sign("abc", "abcd", "1SA"), 0);
  EXPECT_GT(Sign("\x80", "~", "1SA"), 0);
  EXPECT_GT(Sign("\x83\x41", "z", "1SA"), 0);
  EXPECT_NE(Sign("\x83"
                 "A",
                 "\x83"
                 "a",
                 "1SA"),
            0);
  EXPECT_EQ(Sign("", "", "1SA"), 0);
  EXPECT_LT(Sign("", "a", "1SA"), 0);
}

TEST(CompareRecords, IgnoringCaseFoldsAsciiLettersOnly) {
  EXPECT_EQ(Sign("abc", "ABC", "1IA"), 0);
  EXPECT_LT(Sign("_x", "Ax", "1IA"), 0);  // A folds to 0x61, above '_'
  EXPECT_GT(Sign("_x", "Ax", "1SA"), 0);
  // The second byte of a double-byte character is folded too.
  EXPECT_EQ(Sign("\x83"
                 "A",
                 "\x83"
                 "a",
                 "1IA"),
            0);
  EXPECT_LT(Sign("abc", "ABCD", "1IA"), 0);
  // The result is order times the folded byte difference.
  Keys ascending{"1IA"};
  Keys descending{"1ID"};
  Record a{"Ab"};
  Record b{"aD"};
  EXPECT_EQ(Compare(a, b, ascending), 'b' - 'd');
  EXPECT_EQ(Compare(a, b, descending), 'd' - 'b');
}

TEST(CompareRecords, EqualUnderFirstKeyLetsTheNextDecide) {
  Keys keys{"1IA", "2NA"};
  Record a{"abc", "10"};
  Record b{"ABC", "9"};
  EXPECT_EQ(Compare(a, b, keys), 1);
  EXPECT_EQ(Compare(b, a, keys), -1);
}

TEST(CompareRecords, NumberKeyComparesValues) {
  EXPECT_GT(Sign("1,000", "999", "1NA"), 0);
  EXPECT_EQ(Sign("\\1,000", "1000", "1NA"), 0);
  EXPECT_EQ(Sign(" -3.5", "-3.50", "1NA"), 0);
  EXPECT_EQ(Sign("12kg", "12", "1NA"), 0);
  EXPECT_EQ(Sign("1e5", "1", "1NA"), 0);
  EXPECT_EQ(Sign("1.2.3", "1.2", "1NA"), 0);
  EXPECT_EQ(Sign("-0", "0", "1NA"), 0);
  EXPECT_EQ(Sign("abc", "0", "1NA"), 0);
  EXPECT_EQ(Sign("abc", "", "1NA"), 0);
  EXPECT_LT(Sign("-1", "", "1NA"), 0);
  EXPECT_LT(Sign("9", "10", "1NA"), 0);
  EXPECT_GT(Sign("9", "10", "1SA"), 0);
}

TEST(CompareRecords, DateKeyComparesNormalizedTexts) {
  EXPECT_EQ(Sign("2023/1/5 9:03", "2023-01-05 09:03:00", "1DA"), 0);
  EXPECT_EQ(Sign("2023年1月5日", "2023/01/05", "1DA"), 0);
  EXPECT_LT(Sign("20231231", "2023/01/01", "1DA"), 0);  // 20231231 reads as year 2023 alone
  EXPECT_LT(Sign("2023/1/5 9:03", "2023/1/5 10:00", "1DA"), 0);
  EXPECT_LT(Sign("12/31/2023", "0013/1/1", "1DA"), 0);  // year 12 against 13
  EXPECT_EQ(Sign("none", "", "1DA"), 0);
}

TEST(CompareRecords, QuotedAndUnquotedTextsAreEqualUnderEveryType) {
  for (const char* key : {"1SA", "1IA", "1NA", "1DA"}) {
    EXPECT_EQ(Sign("\"2023/1/5\"", "2023/1/5", key), 0) << key;
    EXPECT_EQ(Sign("\"1,000\"", "1,000", key), 0) << key;
    EXPECT_EQ(Sign("\"x y\"", "x y", key), 0) << key;
  }
}

TEST(CompareRecords, DescendingOrderReversesEveryNonZeroResult) {
  struct Case {
    const char* a;
    const char* b;
    char type;
  };
  for (Case c : {Case{"a", "b", 'S'}, Case{"a", "B", 'I'}, Case{"2", "10", 'N'},
                 Case{"2023/1/1", "2024/1/1", 'D'}, Case{"x", "x", 'S'}, Case{"x", "X", 'I'},
                 Case{"1", "1.0", 'N'}, Case{"2023/1/1", "2023-01-01", 'D'}}) {
    std::string up = std::string("1") + c.type + "A";
    std::string down = std::string("1") + c.type + "D";
    Keys ascending{up.c_str()};
    Keys descending{down.c_str()};
    Record a{c.a};
    Record b{c.b};
    int result = Compare(a, b, ascending);
    EXPECT_EQ(Compare(a, b, descending), -result) << c.a << " " << c.b << " " << c.type;
    if (c.type != 'I') {
      EXPECT_TRUE(result == -1 || result == 0 || result == 1);
    }
  }
}

TEST(CompareRecords, RecordAgainstItselfIsZero) {
  Keys keys{"1SA", "2ID", "3NA", "4DD"};
  Record a{"abc", "XyZ", "1,000", "2023/1/5"};
  EXPECT_EQ(Compare(a, a, keys), 0);
}

TEST(CompareRecords, MissingKeyFieldIsSkippedAndRecordedOnce) {
  Keys keys{"3NA", "1SA"};
  Record full{"b", "x", "1"};
  Record fuller{"b", "x", "2"};
  const char* before = MissingKeyWarning();
  EXPECT_LT(Compare(full, fuller, keys), 0);
  EXPECT_EQ(MissingKeyWarning(), before) << "complete records record nothing";

  Record shortRecord{"a", "y"};
  EXPECT_GT(Compare(full, shortRecord, keys), 0);  // key 3 skipped, field 1 decides
  EXPECT_LT(Compare(shortRecord, full, keys), 0);
  const char* warning = MissingKeyWarning();
  ASSERT_NE(warning, nullptr);
  EXPECT_STREQ(warning, msg::kMissingKeyField);
  EXPECT_EQ(std::strlen(warning), 45u);
  Record other{"a"};
  EXPECT_EQ(Compare(shortRecord, other, keys), 0);
  EXPECT_EQ(MissingKeyWarning(), warning) << "set once, never replaced";
}

TEST(CompareRecords, SixtyFourKeysAtMost) {
  // 64 keys on field 1 that tie; a 65th slot would be read past the list.
  std::vector<CsvSortKey> list(kMaxSortKeys, CsvSortKey{KeyType::kText, 0, 1});
  Keys keys(list);
  Record a{"same", "1"};
  Record b{"same", "2"};
  EXPECT_EQ(Compare(a, b, keys), 0);
  keys.keys[63].fieldIndex = 1;
  keys.options.sortKeys[63] = &keys.keys[63];
  EXPECT_LT(Compare(a, b, keys), 0);
}

TEST(CompareRecords, FirstRecordsNumberIsReadFirst) {
  Keys keys{"1NA"};
  Record a{"\"1111111111111\""};
  Record b{"2222222222222"};
  EXPECT_FATAL((void)Compare(a, b, keys), exit_code::kLimit,
               "[\"1111111111111\"] " + std::string(msg::kTooManyDigits + 5));
  EXPECT_FATAL((void)Compare(b, a, keys), exit_code::kLimit,
               "[2222222222222] " + std::string(msg::kTooManyDigits + 5));
  Record fine{"1"};
  EXPECT_FATAL((void)Compare(fine, b, keys), exit_code::kLimit,
               "[2222222222222] " + std::string(msg::kTooManyDigits + 5));
}

// Reading the stored texts in place gives the results of comparing their
// unquoted copies (2049-byte areas), whatever the quotes and lengths.
TEST(CompareRecords, SameResultsAsComparingUnquotedCopies) {
  std::mt19937 random(5);
  const char alphabet[] = "\"\"\"aAbB_z0\x83\x41\x61";
  auto makeText = [&] {
    size_t length = random() % 8;
    if (random() % 10 == 0) length = 2040 + random() % 20;  // around the 2048-byte cut
    std::string text;
    for (size_t i = 0; i < length; ++i) text += alphabet[random() % (sizeof alphabet - 1)];
    return text;
  };
  Keys text{"1SA"};
  Keys folded{"1IA"};
  static char x[2049];
  static char y[2049];
  for (int round = 0; round < 20000; ++round) {
    std::string a = makeText();
    std::string b = random() % 4 == 0 ? a : makeText();
    if (random() % 3 == 0 && !a.empty()) b = a.substr(0, a.size() - 1) + '"';
    CopyUnquoted(a.c_str(), x, sizeof x);
    CopyUnquoted(b.c_str(), y, sizeof y);
    Record ra{a};
    Record rb{b};
    int bytes = std::strcmp(x, y);  // compares as unsigned char
    ASSERT_EQ(Compare(ra, rb, text), (bytes > 0) - (bytes < 0)) << a << " | " << b;
    ASSERT_EQ(Compare(ra, rb, folded), CompareIgnoringCase(x, y)) << a << " | " << b;
  }
}
