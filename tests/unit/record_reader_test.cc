// The record reader: the record syntax of both file formats, the record
// limits, the end of a file and read errors, read from real files through
// ReadRecord, and the round trip through WriteRecord. The short-read run of
// the fault library (tests/faults) runs these again with reads of a few bytes,
// where nearly every record straddles a refill and goes byte by byte through
// the field scanners.
#include "csv/record_reader.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include "csv_test_support.h"
#include "driver/exit_codes.h"
#include "driver/messages.h"
#include "fatal_capture.h"

using namespace std::string_literals;

namespace {

// Copies every record of input to output through ReadRecord and WriteRecord.
void CopyRecords(const std::string& input, const std::string& output, bool tab) {
  CsvSortOption options{};
  options.tabSeparated = tab;
  CsvFile* in = OpenCsvFile(input.c_str(), "rb");
  CsvFile* out = OpenCsvFile(output.c_str(), "wb");
  for (;;) {
    ReadRecord(in, options);
    out->record = in->record;
    WriteRecord(out, options);
    ReleaseRecord(in->record);
    if (IsEndOfFile(in)) break;
  }
  EXPECT_EQ(out->lineCount, in->lineCount);
  CloseCsvFile(in);
  CloseCsvFile(out);
}

struct GoodCase {
  const char* name;
  std::string bytes;
  bool tab;
  Records expected;
};

struct BadCase {
  const char* name;
  std::string bytes;
  bool tab;
  int line;  // the record named in the message
};

class RecordReaderTest : public CsvFileTest {
 protected:
  // Reads the whole file expecting it to end the run with code and message.
  void ExpectReadFails(const std::string& bytes, bool tab, int code, const std::string& message,
                       bool runFile = false) {
    EXPECT_FATAL(ReadBytes(bytes, tab, runFile), code, message);
  }
};

TEST_F(RecordReaderTest, AcceptsEveryWellFormedShape) {
  const std::string a62(62, 'a');
  const std::string high = [] {
    std::string bytes;
    for (int byte = 0x80; byte <= 0xFF; ++byte) bytes += static_cast<char>(byte);
    return bytes;
  }();
  const GoodCase cases[] = {
      {"plain fields", "a,b,c\r\nd\r\n", false, {{"a", "b", "c"}, {"d"}}},
      {"quoted comma", "\"a,b\",c\r\n", false, {{"\"a,b\"", "c"}}},
      {"quoted tab", "\"a\tb\"\r\n", false, {{"\"a\tb\""}}},
      {"quoted LF", "\"a\nb\",x\r\n", false, {{"\"a\nb\"", "x"}}},
      {"quoted CR LF", "\"a\r\nb\"\r\nz\r\n", false, {{"\"a\r\nb\""}, {"z"}}},
      {"quoted lone CR", "\"a\rb\"\r\n", false, {{"\"a\rb\""}}},
      {"two quotes only", "\"\"\r\n", false, {{"\"\""}}},
      {"doubled quote inside", "\"a\"\"b\"\r\n", false, {{"\"a\"\"b\""}}},
      {"doubled quote last", "\"x\"\"\",y\r\n", false, {{"\"x\"\"\"", "y"}}},
      {"empty fields", ",,\r\n", false, {{"", "", ""}}},
      {"separator then CR LF", "a,\r\n", false, {{"a", ""}}},
      {"separator then end", "a,", false, {{"a"}}},
      {"empty lines", "\r\n\r\nx\r\n", false, {{""}, {""}, {"x"}}},
      {"tab is data in comma mode", "a\tb,c\r\n", false, {{"a\tb", "c"}}},
      {"last line without CR LF", "a\r\nb,c", false, {{"a"}, {"b", "c"}}},
      {"quoted field at the end", "\"a\"", false, {{"\"a\""}}},
      {"CR last byte after closing quote", "x,\"a\"\r", false, {{"x", "\"a\""}}},
      {"high bytes", high + "," + high + "\r\n", false, {{high, high}}},
      {"Shift_JIS trail bytes", "\x83\x5c,\x95\x5c\x82\xa0\r\n", false, {{"\x83\x5c", "\x95\x5c\x82\xa0"}}},
      {"tab mode fields", "a\tb\t\r\n", true, {{"a", "b", ""}}},
      {"tab mode quote and comma", "\"a\tb,c\"\r\n", true, {{"\"a", "b,c\""}}},
      {"tab mode lone LF", "a\nb\tc\r\n", true, {{"a\nb", "c"}}},
      {"tab mode last line", "a\tb", true, {{"a", "b"}}},
      // The whole-record loop looks at 64 bytes at a time: quotes and
      // separators at bytes 63 and 64.
      {"doubled quote across byte 64", "\"" + a62 + "\"\"b\",c\r\n", false, {{"\"" + a62 + "\"\"b\"", "c"}}},
      {"opening quote at byte 64", a62 + "x,\"a,b\"\r\n", false, {{a62 + "x", "\"a,b\""}}},
      {"separator after a closing quote at 63", "\"" + a62 + "\",z\r\n", false, {{"\"" + a62 + "\"", "z"}}},
      {"comma within quotes at byte 64", "\"" + a62 + "a,\"\r\n", false, {{"\"" + a62 + "a,\""}}},
  };
  for (const GoodCase& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(ReadBytes(c.bytes, c.tab), c.expected);
  }
}

TEST_F(RecordReaderTest, QuotedLinesCountAsOneRecord) {
  int lines = 0;
  EXPECT_EQ(ReadBytes("\"a\r\nb\r\nc\"\r\nz\r\n", false, false, &lines).size(), 2u);
  EXPECT_EQ(lines, 2);
  // The third physical line is record 2.
  ExpectReadFails("\"a\r\nb\"\r\nx\"y\r\n", false, exit_code::kInvalidSequence,
                  Message(msg::kInvalidSequence, 2));
}

TEST_F(RecordReaderTest, RefusesInvalidSequencesWithTheRecordNumber) {
  const BadCase cases[] = {
      {"text after closing quote", "ok\r\n\"a\"b\r\n", false, 2},
      {"space after closing quote", "\"a\" ,b\r\n", false, 1},
      {"LF after closing quote", "\"a\"\nb\r\n", false, 1},
      {"space before opening quote", "ok\r\nok\r\n \"a\"\r\n", false, 3},
      {"quote inside unquoted field", "ab\"c\r\n", false, 1},
      {"bare LF", "ok\r\na\nb\r\n", false, 2},
      {"bare LF at line end", "a\n", false, 1},
      {"bare LF as a field", "a,\n", false, 1},
      {"CR before a byte", "a\rb\r\n", false, 1},
      {"CR before CR", "a\r\r\n", false, 1},
      {"CR before a byte, tab mode", "a\tb\rc\r\n", true, 1},
      {"CR before a byte after closing quote", "\"a\"\rb\r\n", false, 1},
      {"CR last byte of unquoted field", "ok\r\na\r", false, 2},
      {"CR last byte of empty field", "a,\r", false, 1},
      {"CR last byte, tab mode", "a\tb\r", true, 1},
      {"end inside quotes", "ok\r\n\"abc", false, 2},
      {"end inside quotes after CR LF", "\"abc\r\n", false, 1},
      {"end after a doubled quote", "\"a\"\"", false, 1},
      {"zero byte first in record", "ok\r\n\0a\r\n"s, false, 2},
      {"zero byte first in field", "a,\0b\r\n"s, false, 1},
      {"zero byte inside unquoted field", "ok\r\nab\0c\r\n"s, false, 2},
      {"zero byte at end of unquoted field", "ab\0"s, false, 1},
      {"zero byte in tab mode", "a\tb\0c\r\n"s, true, 1},
      {"zero byte first in tab field", "a\t\0\r\n"s, true, 1},
      {"zero byte inside quotes", "\"a\0b\"\r\n"s, false, 1},
      {"zero byte after closing quote", "ok\r\n\"a\"\0\r\n"s, false, 2},
      {"quote at byte 64 of an unquoted field", std::string(64, 'x') + "\"y\r\n", false, 1},
      {"text after a closing quote at byte 63", "\"" + std::string(62, 'a') + "\"b\r\n", false, 1},
      {"LF at byte 64", std::string(64, 'x') + "\ny\r\n", false, 1},
      {"LF at byte 51", std::string(50, 'x') + "\ny\r\n", false, 1},
  };
  for (const BadCase& c : cases) {
    SCOPED_TRACE(c.name);
    ExpectReadFails(c.bytes, c.tab, exit_code::kInvalidSequence, Message(msg::kInvalidSequence, c.line));
  }
}

TEST_F(RecordReaderTest, RecordLengthCountsEveryByteUpTo2048) {
  const std::string tooLong = Message(msg::kRecordTooLong, 2);
  // 2046 bytes and CR LF make 2048.
  EXPECT_EQ(ReadBytes("a\r\n" + std::string(2046, 'x') + "\r\nb\r\n").size(), 3u);
  // One byte more fails when the LF is read, with the record-length message
  // and never the field buffer one.
  ExpectReadFails("a\r\n" + std::string(2047, 'x') + "\r\n", false, exit_code::kLimit, tooLong);
  ExpectReadFails("a\r\n" + std::string(2047, 'x') + "\r\n", true, exit_code::kLimit, tooLong);
  ExpectReadFails("a\r\n" + std::string(5000, 'x') + "\r\n", false, exit_code::kLimit, tooLong);
  // The end of the file counts nothing: a last line may hold 2048 bytes.
  EXPECT_EQ(ReadBytes("a\r\n" + std::string(2048, 'x')), (Records{{"a"}, {std::string(2048, 'x')}}));
  ExpectReadFails("a\r\n" + std::string(2049, 'x'), false, exit_code::kLimit, tooLong);
  // Quotes and separators count.
  std::string quoted = "\"" + std::string(2044, 'q') + "\"";
  EXPECT_EQ(ReadBytes("a\r\n" + quoted + "\r\n"), (Records{{"a"}, {quoted}}));
  ExpectReadFails("a\r\n\"" + std::string(2045, 'q') + "\"\r\n", false, exit_code::kLimit, tooLong);
  std::string half = std::string(1022, 'h');
  EXPECT_EQ(ReadBytes("a\r\n" + half + "," + half + "y\r\n").size(), 2u);
  ExpectReadFails("a\r\n" + half + "," + half + "yy\r\n", false, exit_code::kLimit, tooLong);
  // An invalid byte beyond the limit is never reached.
  ExpectReadFails("a\r\n" + std::string(2048, 'x') + "\"\r\n", false, exit_code::kLimit, tooLong);
}

TEST_F(RecordReaderTest, RunFilesLeaveTheClosingCrLfOutOfTheCount) {
  const std::string full(2048, 'r');
  const std::string tooLong = Message(msg::kRecordTooLong, 2);
  // A full record written back with its CR LF reads back from a run file only.
  EXPECT_EQ(ReadBytes("a\r\n" + full + "\r\nb\r\n", false, true), (Records{{"a"}, {full}, {"b"}}));
  EXPECT_EQ(ReadBytes("a\r\n" + full + "\r\n", true, true), (Records{{"a"}, {full}}));
  std::string quoted = "\"" + std::string(2046, 'q') + "\"";
  EXPECT_EQ(ReadBytes(quoted + "\r\n", false, true), (Records{{quoted}}));
  ExpectReadFails("a\r\n" + full + "\r\n", false, exit_code::kLimit, tooLong);
  // A record of 2047 bytes: its CR within the limit, its LF beyond.
  const std::string short1 = full.substr(1);
  const std::string quoted1 = "\"" + std::string(2045, 'q') + "\"";
  EXPECT_EQ(ReadBytes("a\r\n" + short1 + "\r\nb\r\n", false, true), (Records{{"a"}, {short1}, {"b"}}));
  EXPECT_EQ(ReadBytes("a\r\n" + short1 + "\r\n", true, true), (Records{{"a"}, {short1}}));
  EXPECT_EQ(ReadBytes(quoted1 + "\r\nb\r\n", false, true), (Records{{quoted1}, {"b"}}));
  ExpectReadFails("a\r\n" + short1 + "\r\n", false, exit_code::kLimit, tooLong);
  // Everything else keeps the limit.
  ExpectReadFails("a\r\n" + full + "x\r\n", false, exit_code::kLimit, tooLong, true);
  ExpectReadFails("a\r\n" + full + "\r", false, exit_code::kLimit, tooLong, true);
  ExpectReadFails("a\r\n" + full + "\rx", false, exit_code::kLimit, tooLong, true);
  ExpectReadFails("a\r\n" + full + "\n", false, exit_code::kLimit, tooLong, true);
  ExpectReadFails("a\r\n" + full + "\n", true, exit_code::kLimit, tooLong, true);
  ExpectReadFails("a\r\n\"" + std::string(2046, 'q') + "\"\n", false, exit_code::kLimit, tooLong, true);
  ExpectReadFails("a\r\n\"" + std::string(2046, 'q') + "\"\r", false, exit_code::kLimit, tooLong, true);
  ExpectReadFails("a\r\n" + short1 + "\r\r\n", false, exit_code::kLimit, tooLong, true);
  // CR LF within quotes is data, not the record's end.
  ExpectReadFails("a\r\n\"" + std::string(2047, 'q') + "\r\nq\"\r\n", false, exit_code::kLimit, tooLong,
                  true);
}

TEST_F(RecordReaderTest, SixtyFourFieldsAtMost) {
  std::string fields64 = "f";
  for (int i = 1; i < 64; ++i) fields64 += ",f";
  const std::string tooMany = Message(msg::kTooManyFields, 2);
  Records read = ReadBytes("a\r\n" + fields64 + "\r\n");
  ASSERT_EQ(read.size(), 2u);
  EXPECT_EQ(read[1].size(), 64u);
  ExpectReadFails("a\r\n" + fields64 + ",g\r\n", false, exit_code::kLimit, tooMany);
  // The empty field after a trailing comma is a 65th field...
  ExpectReadFails("a\r\n" + fields64 + ",\r\n", false, exit_code::kLimit, tooMany);
  // ... but a trailing comma at the end of the file opens none.
  read = ReadBytes("a\r\n" + fields64 + ",");
  ASSERT_EQ(read.size(), 2u);
  EXPECT_EQ(read[1].size(), 64u);
  std::string tabs64 = "f";
  for (int i = 1; i < 64; ++i) tabs64 += "\tf";
  EXPECT_EQ(ReadBytes(tabs64 + "\r\n", true)[0].size(), 64u);
  ExpectReadFails("a\r\n" + tabs64 + "\t\r\n", true, exit_code::kLimit, tooMany);
}

TEST_F(RecordReaderTest, EndOfFileIsSetByTheFirstReadThatMeetsIt) {
  CsvSortOption options{};
  // A last line with CR LF: the indicator comes with the next, empty record.
  CsvFile* file = OpenCsvFile(MakeFile("crlf.csv", "a,b\r\n").c_str(), "rb");
  EXPECT_EQ(file->record, nullptr);
  ReadRecord(file, options);
  EXPECT_EQ(file->record->fieldCount, 2);
  EXPECT_EQ(file->record->fields[2], nullptr);
  EXPECT_FALSE(IsEndOfFile(file));
  EXPECT_EQ(file->lineCount, 1);
  CsvRecord* first = file->record;
  ReadRecord(file, options);
  EXPECT_NE(file->record, first);  // the first record is still the caller's
  EXPECT_STREQ(first->fields[1], "b");
  EXPECT_EQ(file->record->fieldCount, 0);
  EXPECT_TRUE(IsEndOfFile(file));
  EXPECT_EQ(file->lineCount, 1);
  ReleaseRecord(first);
  ReleaseRecord(file->record);
  // Every further read stays at the end.
  ReadRecord(file, options);
  EXPECT_EQ(file->record->fieldCount, 0);
  EXPECT_EQ(file->lineCount, 1);
  ReleaseRecord(file->record);
  CloseCsvFile(file);

  // A last line without CR LF: the very read that returns it sets it.
  for (const std::string bytes : {"x\r\na,b", "x\r\na,b,", "x\r\n\"a\",b", "x\r\na,\"b\"\r"}) {
    SCOPED_TRACE(bytes);
    file = OpenCsvFile(MakeFile("last.csv", bytes).c_str(), "rb");
    ReadRecord(file, options);
    EXPECT_FALSE(IsEndOfFile(file));
    ReleaseRecord(file->record);
    ReadRecord(file, options);
    EXPECT_EQ(file->record->fieldCount, 2);
    EXPECT_TRUE(IsEndOfFile(file));
    EXPECT_EQ(file->lineCount, 2);
    ReleaseRecord(file->record);
    CloseCsvFile(file);
  }

  // An empty file.
  file = OpenCsvFile(MakeFile("empty.csv", "").c_str(), "rb");
  ReadRecord(file, options);
  EXPECT_EQ(file->record->fieldCount, 0);
  EXPECT_TRUE(IsEndOfFile(file));
  EXPECT_EQ(file->lineCount, 0);
  ReleaseRecord(file->record);
  CloseCsvFile(file);
}

TEST_F(RecordReaderTest, RoundTripGivesBackTheSameBytes) {
  const std::string corpus =
      "\x83\x5c\x83\x7b\x95\x5c,\x82\xa0\x82\xa2\r\n"  // Shift_JIS with 0x5C trail bytes
      "\x80\x81\xfe\xff,\xa0\xdf\r\n"                  // single high bytes
      "%s%d%n%%,100%,%\r\n"                            // format characters
      ",,\r\n"                                         // empty fields
      "\r\n"                                           // an empty line
      "\"multi\r\nline, \"\"quoted\"\"\",\"\"\r\n"     // quoted with CR LF and doubled quotes
      "\"\",\"a\tb\",tab\tinside\r\n"
      "last,line";  // no CR LF: comes back with one
  CopyRecords(MakeFile("in.csv", corpus), PathOf("out.csv"), false);
  EXPECT_EQ(Contents(PathOf("out.csv")), corpus + "\r\n");

  const std::string tabCorpus = "\"a\tb,\"\t\x83\x5c\r\n\t\r\n%d\t\"\"\"\r\n";
  CopyRecords(MakeFile("tab.csv", tabCorpus), PathOf("tab.out"), true);
  EXPECT_EQ(Contents(PathOf("tab.out")), tabCorpus);
}

TEST_F(RecordReaderTest, LargeFilesCrossTheReadBufferAnywhere) {
  // Records of every length near the buffer size, so that fields, quotes and
  // CR LF pairs fall on the refill boundaries.
  std::string corpus;
  for (int i = 0; corpus.size() < 700 * 1024; ++i) {
    corpus += std::to_string(i) + ",\"q" + std::string(i % 97, '"') + std::string(i % 97, '"') + "\r\n\"," +
              std::string(i % 331, static_cast<char>(0x81 + i % 100)) + "\r\n";
  }
  CopyRecords(MakeFile("big.csv", corpus), PathOf("big.out"), false);
  EXPECT_EQ(Contents(PathOf("big.out")), corpus);

  // A record that straddles a refill is still measured whole, and named right.
  std::string lines;
  int count = 0;
  while (lines.size() < 256 * 1024 - 1000) {
    lines += "line\r\n";
    ++count;
  }
  EXPECT_FATAL(ReadBytes(lines + std::string(2047, 'x') + "\r\n"), exit_code::kLimit,
               Message(msg::kRecordTooLong, count + 1));
}

TEST_F(RecordReaderTest, ReadErrorIsNotTheEndOfTheFile) {
  std::string path = MakeFile("in.csv", "a\r\n");
  CsvSortOption options{};
  CsvFile* in = OpenCsvFile(path.c_str(), "rb");
  // Put a descriptor that cannot be read in place of the stream.
  int writeOnly = open(PathOf("other").c_str(), O_WRONLY | O_CREAT, 0600);
  ASSERT_GE(writeOnly, 0);
  ASSERT_GE(dup2(writeOnly, static_cast<int>(in->stream)), 0);
  close(writeOnly);
  EXPECT_FATAL(ReadRecord(in, options), exit_code::kReadWrite,
               Message(msg::kReadFailed, path.c_str(), EBADF));
  EXPECT_FALSE(IsEndOfFile(in));
}

}  // namespace
