// Opening, closing, reading to the end, writing, and the failures of the
// files themselves: missing files, locks, write and read errors.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <string>

#include "csv_test_support.h"
#include "driver/exit_codes.h"
#include "driver/log.h"
#include "driver/messages.h"
#include "driver/text.h"
#include "fatal_capture.h"
#include "platform/files.h"

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

// A hand-made record for writing.
struct OwnedRecord {
  explicit OwnedRecord(const Fields& fields) : texts(fields), record{} {
    record.fieldCount = static_cast<int32_t>(texts.size());
    for (size_t i = 0; i < texts.size(); ++i) record.fields[i] = texts[i].data();
  }
  Fields texts;
  CsvRecord record;
};

// Another process that holds a lock on a file until it is let go.
class LockHolder {
 public:
  LockHolder(const std::string& path, int operation) {
    int ready[2];
    if (pipe(ready) != 0 || pipe(release_) != 0) std::abort();
    pid_ = fork();
    if (pid_ == 0) {
      int descriptor = open(path.c_str(), O_RDONLY);
      char byte = descriptor >= 0 && flock(descriptor, operation) == 0 ? 'y' : 'n';
      if (write(ready[1], &byte, 1) != 1) _exit(1);
      close(release_[1]);
      if (read(release_[0], &byte, 1) < 0) _exit(1);  // returns at the parent's close
      _exit(0);
    }
    char byte = 'n';
    if (read(ready[0], &byte, 1) != 1) byte = 'n';
    holding_ = byte == 'y';
    close(ready[0]);
    close(ready[1]);
    close(release_[0]);
  }
  ~LockHolder() {
    close(release_[1]);
    waitpid(pid_, nullptr, 0);
  }
  bool holding() const { return holding_; }

 private:
  pid_t pid_ = -1;
  int release_[2] = {-1, -1};
  bool holding_ = false;
};

// A lower file-size limit for the time of one test.
class FileSizeLimit {
 public:
  explicit FileSizeLimit(rlim_t bytes) {
    PreparePlatform();
    getrlimit(RLIMIT_FSIZE, &saved_);
    rlimit lower = saved_;
    lower.rlim_cur = bytes;
    setrlimit(RLIMIT_FSIZE, &lower);
  }
  ~FileSizeLimit() { setrlimit(RLIMIT_FSIZE, &saved_); }

 private:
  rlimit saved_{};
};

TEST_F(CsvFileTest, EndOfFileIsSetByTheFirstReadThatMeetsIt) {
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
  EXPECT_EQ(file->byteCount, 5);
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

TEST_F(CsvFileTest, ReadCharDeliversBytesThenTheEnd) {
  CsvFile* file = OpenCsvFile(MakeFile("bytes.csv", "\xff\x00"s).c_str(), "rb");
  EXPECT_EQ(ReadChar(file), 0xFF);
  EXPECT_EQ(ReadChar(file), 0);
  EXPECT_FALSE(IsEndOfFile(file));
  EXPECT_EQ(ReadChar(file), -1);
  EXPECT_TRUE(IsEndOfFile(file));
  EXPECT_EQ(file->byteCount, 2);
  CloseCsvFile(file);
}

TEST_F(CsvFileTest, RoundTripGivesBackTheSameBytes) {
  const std::string corpus =
      "\x83\x5c\x83\x7b\x95\x5c,\x82\xa0\x82\xa2\r\n"       // Shift_JIS with 0x5C trail bytes
      "\x80\x81\xfe\xff,\xa0\xdf\r\n"                       // single high bytes
      "%s%d%n%%,100%,%\r\n"                                 // format characters
      ",,\r\n"                                              // empty fields
      "\r\n"                                                // an empty line
      "\"multi\r\nline, \"\"quoted\"\"\",\"\"\r\n"          // quoted with CR LF and doubled quotes
      "\"\",\"a\tb\",tab\tinside\r\n"
      "last,line";                                          // no CR LF: comes back with one
  CopyRecords(MakeFile("in.csv", corpus), PathOf("out.csv"), false);
  EXPECT_EQ(Contents(PathOf("out.csv")), corpus + "\r\n");

  const std::string tabCorpus = "\"a\tb,\"\t\x83\x5c\r\n\t\r\n%d\t\"\"\"\r\n";
  CopyRecords(MakeFile("tab.csv", tabCorpus), PathOf("tab.out"), true);
  EXPECT_EQ(Contents(PathOf("tab.out")), tabCorpus);
}

TEST_F(CsvFileTest, LargeFilesCrossTheReadBufferAnywhere) {
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

TEST_F(CsvFileTest, WriteRecordWritesOneLine) {
  CsvSortOption comma{};
  CsvSortOption tab{};
  tab.tabSeparated = true;
  CsvFile* out = OpenCsvFile(PathOf("w.csv").c_str(), "wb");
  OwnedRecord empty({});
  out->record = &empty.record;
  WriteRecord(out, comma);  // nothing at all
  EXPECT_EQ(out->lineCount, 0);
  OwnedRecord percent({"%s%n", "", "%d"});
  out->record = &percent.record;
  WriteRecord(out, comma);
  WriteRecord(out, tab);
  OwnedRecord one({""});
  out->record = &one.record;
  WriteRecord(out, comma);
  EXPECT_EQ(out->lineCount, 3);
  CloseCsvFile(out);
  EXPECT_EQ(Contents(PathOf("w.csv")), "%s%n,,%d\r\n%s%n\t\t%d\r\n\r\n");
}

TEST_F(CsvFileTest, OpenAndCloseAreLogged) {
  std::string path = MakeFile("log.csv", "a\r\n");
  testing::internal::CaptureStdout();
  CsvFile* file = OpenCsvFile(path.c_str(), "rb");
  CloseCsvFile(file);
  std::string output = testing::internal::GetCapturedStdout();
  EXPECT_NE(output.find(Message(msg::kFileOpened, path.c_str()) + "\n"), std::string::npos);
  EXPECT_NE(output.find(Message(msg::kFileClosed, path.c_str()) + "\n"), std::string::npos);
}

// Records as read, with a text replaced, and made elsewhere: each is written
// as it now stands and released without a double or a wrong free (the
// sanitizer build checks each free).
TEST_F(CsvFileTest, RecordsAreWrittenAndReleasedAsTheyNowStand) {
  CsvSortOption options{};
  CsvFile* in = OpenCsvFile(MakeFile("in.csv", "a,bb,,c\r\nd,bb,,c\r\na,\r\n").c_str(), "rb");
  CsvFile* out = OpenCsvFile(PathOf("out.csv").c_str(), "wb");
  for (int line = 0; line < 3; ++line) {
    ReadRecord(in, options);
    if (line == 1) in->record->fields[1] = DuplicateString("new");
    out->record = in->record;
    WriteRecord(out, options);
    ReleaseRecord(in->record);
  }
  // Closing an output whose record was released touches only the file.
  CloseCsvFile(in);
  CloseCsvFile(out);
  EXPECT_EQ(Contents(PathOf("out.csv")), "a,bb,,c\r\nd,new,,c\r\na,\r\n");

  auto* record = static_cast<CsvRecord*>(std::calloc(1, sizeof(CsvRecord)));
  record->fieldCount = 2;
  record->fields[0] = DuplicateString("own");
  record->fields[1] = DuplicateString("texts");
  ReleaseRecord(record);
}

TEST_F(CsvFileTest, MissingFileFailsToOpen) {
  std::string path = PathOf("missing.csv");
  EXPECT_FATAL((void)OpenCsvFile(path.c_str(), "rb"), exit_code::kOpen, Message(msg::kOpenFailed, path.c_str(), 2));
  std::string inMissingFolder = PathOf("no/such.csv");
  EXPECT_FATAL((void)OpenCsvFile(inMissingFolder.c_str(), "wb"), exit_code::kOpen,
               Message(msg::kOpenFailed, inMissingFolder.c_str(), 2));
}

TEST_F(CsvFileTest, LocksOfOtherProcessesRefuseTheOpen) {
  const std::string held = "held\r\nbytes\r\n";
  std::string path = MakeFile("held.csv", held);
  const std::string refused = Message(msg::kOpenFailed, path.c_str(), 13);
  {
    LockHolder writer(path, LOCK_EX);  // as a process writing the file
    ASSERT_TRUE(writer.holding());
    EXPECT_FATAL((void)OpenCsvFile(path.c_str(), "wb"), exit_code::kOpen, refused);
    EXPECT_FATAL((void)OpenCsvFile(path.c_str(), "rb"), exit_code::kOpen, refused);
    EXPECT_EQ(RemovePlatformFile(path.c_str()), 13);
  }
  {
    LockHolder reader(path, LOCK_SH);  // as a process reading the file
    ASSERT_TRUE(reader.holding());
    EXPECT_FATAL((void)OpenCsvFile(path.c_str(), "wb"), exit_code::kOpen, refused);
    EXPECT_EQ(ReadAll(path), (Records{{"held"}, {"bytes"}}));
  }
  EXPECT_EQ(Contents(path), held);

  // Within the process too: a file being read cannot be opened for writing
  // or deleted, and a file being written cannot be opened at all.
  CsvFile* in = OpenCsvFile(path.c_str(), "rb");
  EXPECT_EQ(RemovePlatformFile(path.c_str()), 13);
  EXPECT_FATAL((void)OpenCsvFile(path.c_str(), "wb"), exit_code::kOpen, refused);
  EXPECT_EQ(Contents(path), held);
  std::string outPath = PathOf("out.csv");
  CsvFile* out = OpenCsvFile(outPath.c_str(), "wb");
  EXPECT_FATAL((void)OpenCsvFile(outPath.c_str(), "rb"), exit_code::kOpen,
               Message(msg::kOpenFailed, outPath.c_str(), 13));
  // The fatal end closed both files; once closed, the file may go.
  EXPECT_EQ(in->stream, kNoFile);
  EXPECT_EQ(out->stream, kNoFile);
  EXPECT_EQ(RemovePlatformFile(path.c_str()), 0);
}

TEST_F(CsvFileTest, WriteOpenEmptiesTheFile) {
  std::string path = MakeFile("old.csv", "old contents\r\n");
  CsvFile* out = OpenCsvFile(path.c_str(), "wb");
  EXPECT_EQ(Contents(path), "");
  CloseCsvFile(out);
}

TEST_F(CsvFileTest, FatalEndFlushesAndClosesEveryFile) {
  std::string path = PathOf("partial.csv");
  CsvSortOption options{};
  CsvFile* out = OpenCsvFile(path.c_str(), "wb");
  OwnedRecord record({"kept", "\x82\xa0"});
  out->record = &record.record;
  WriteRecord(out, options);
  WriteRecord(out, options);
  EXPECT_EQ(Contents(path), "");  // still buffered
  EXPECT_FATAL(FatalError(exit_code::kLimit, msg::kRecordTooLong, 1), exit_code::kLimit,
               Message(msg::kRecordTooLong, 1));
  EXPECT_EQ(out->stream, kNoFile);
  EXPECT_EQ(Contents(path), "kept,\x82\xa0\r\nkept,\x82\xa0\r\n");
}

TEST_F(CsvFileTest, WriteBeyondTheFileSizeLimitFails) {
  CsvSortOption options{};
  OwnedRecord record({std::string(100, 'w'), "x"});
  const std::string path = PathOf("limited.csv");
  const std::string failed = Message(msg::kWriteFailed, path.c_str(), EFBIG);
  {
    // The buffer spills while records are written.
    FileSizeLimit limit(100000);
    CsvFile* out = OpenCsvFile(path.c_str(), "wb");
    out->record = &record.record;
    EXPECT_FATAL(for (int i = 0; i < 10000; ++i) WriteRecord(out, options), exit_code::kReadWrite, failed);
  }
  EXPECT_EQ(Contents(path).size(), 100000u);  // what fit, written once
  {
    // The last spill happens at the close.
    // (The limit leaves room for the captured log.)
    FileSizeLimit limit(4096);
    CsvFile* out = OpenCsvFile(path.c_str(), "wb");
    out->record = &record.record;
    for (int i = 0; i < 50; ++i) WriteRecord(out, options);
    EXPECT_FATAL(CloseCsvFile(out), exit_code::kReadWrite, failed);
  }
  EXPECT_EQ(Contents(path).size(), 4096u);
}

TEST_F(CsvFileTest, ReadErrorIsNotTheEndOfTheFile) {
  std::string path = MakeFile("in.csv", "a\r\n");
  CsvSortOption options{};
  CsvFile* in = OpenCsvFile(path.c_str(), "rb");
  // Put a descriptor that cannot be read in place of the stream.
  int writeOnly = open(PathOf("other").c_str(), O_WRONLY | O_CREAT, 0600);
  ASSERT_GE(writeOnly, 0);
  ASSERT_GE(dup2(writeOnly, static_cast<int>(in->stream)), 0);
  close(writeOnly);
  EXPECT_FATAL(ReadRecord(in, options), exit_code::kReadWrite, Message(msg::kReadFailed, path.c_str(), EBADF));
  EXPECT_FALSE(IsEndOfFile(in));
}

}  // namespace
