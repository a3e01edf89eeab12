// Opening and closing, the records themselves, writing, and the failures of
// the files: missing files, locks, write errors. (Reading is in
// record_reader_test.cc.)
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
#include <vector>

#include "csv/record_reader.h"
#include "csv_test_support.h"
#include "driver/exit_codes.h"
#include "driver/log.h"
#include "driver/messages.h"
#include "fatal_capture.h"
#include "platform/files.h"

namespace {

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

TEST_F(CsvFileTest, WriteRecordWritesOneLine) {
  CsvSortOption comma{};
  CsvSortOption tab{};
  tab.tabSeparated = true;
  CsvFile* out = OpenCsvFile(PathOf("w.csv").c_str(), "wb");
  OwnedRecord empty = OwnRecord({});
  out->record = empty.get();
  WriteRecord(out, comma);  // nothing at all
  EXPECT_EQ(out->lineCount, 0);
  OwnedRecord percent = OwnRecord({"%s%n", "", "%d"});
  out->record = percent.get();
  WriteRecord(out, comma);
  WriteRecord(out, tab);
  OwnedRecord one = OwnRecord({""});
  out->record = one.get();
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

// Records read and records made from texts, outside the record arena and in
// it, have one layout: the texts right after the slots (in the arena only the
// slots of the fields). Each is written as the line it holds and released
// without a double or a wrong free (the sanitizer build checks each free).
TEST_F(CsvFileTest, RecordsReadAndMadeHaveOneLayout) {
  CsvSortOption options{};
  const std::string lines = "a,bb,,c\r\n\"q,\"\"\",x\r\n\r\n";
  CsvFile* out = OpenCsvFile(PathOf("out.csv").c_str(), "wb");
  for (bool arena : {false, true}) {
    SCOPED_TRACE(arena ? "in the arena" : "on its own");
    if (arena) BeginRecordArena();
    CsvFile* in = OpenCsvFile(MakeFile("in.csv", lines).c_str(), "rb");
    std::vector<CsvRecord*> records;
    for (int line = 0; line < 3; ++line) {
      ReadRecord(in, options);
      records.push_back(in->record);
    }
    CloseCsvFile(in);
    for (const Fields& fields : Records{{"a", "bb", "", "c"}, {"\"q,\"\"\"", "x"}, {""}, {}}) {
      records.push_back(NewRecord(fields));
    }
    for (CsvRecord* record : records) {
      const int slots = arena ? record->fieldCount : kMaxFields;
      if (record->fieldCount > 0) {
        EXPECT_EQ(record->fields[0], reinterpret_cast<char*>(record->fields + slots));
      }
      for (int i = record->fieldCount; i < slots; ++i) {
        EXPECT_EQ(record->fields[i], nullptr);
      }
      out->record = record;
      WriteRecord(out, options);  // nothing for the record without fields
      ReleaseRecord(record);
    }
    if (arena) EndRecordArena();
  }
  // Closing an output whose record was released touches only the file.
  CloseCsvFile(out);
  EXPECT_EQ(Contents(PathOf("out.csv")), lines + lines + lines + lines);
}

TEST_F(CsvFileTest, MissingFileFailsToOpen) {
  std::string path = PathOf("missing.csv");
  EXPECT_FATAL((void)OpenCsvFile(path.c_str(), "rb"), exit_code::kOpen,
               Message(msg::kOpenFailed, path.c_str(), 2));
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

// A file opened for writing keeps yesterday's bytes until it is emptied: by
// EmptyCsvFile, by the first bytes written out, or by its close.
TEST_F(CsvFileTest, WriteOpenEmptiesTheFileOnlyBeforeWriting) {
  const std::string old = "old contents\r\n";
  std::string path = MakeFile("old.csv", old);
  // A run that ends before it writes leaves the file whole.
  CsvFile* out = OpenCsvFile(path.c_str(), "wb");
  EXPECT_FATAL(FatalError(msg::kOpenFailed, "x", 13), exit_code::kOpen, Message(msg::kOpenFailed, "x", 13));
  EXPECT_EQ(out->stream, kNoFile);
  EXPECT_EQ(Contents(path), old);
  out = OpenCsvFile(path.c_str(), "wb");
  EXPECT_EQ(Contents(path), old);
  EmptyCsvFile(out);
  EXPECT_EQ(Contents(path), "");
  CloseCsvFile(out);
  // Closed with nothing written, it is empty all the same.
  MakeFile("old.csv", old);
  CloseCsvFile(OpenCsvFile(path.c_str(), "wb"));
  EXPECT_EQ(Contents(path), "");
}

TEST_F(CsvFileTest, FatalEndFlushesAndClosesEveryFile) {
  // What was written takes the place of the old bytes.
  std::string path = MakeFile("partial.csv", std::string(500, 'o'));
  CsvSortOption options{};
  CsvFile* out = OpenCsvFile(path.c_str(), "wb");
  OwnedRecord record = OwnRecord({"kept", "\x82\xa0"});
  out->record = record.get();
  WriteRecord(out, options);
  WriteRecord(out, options);
  EXPECT_EQ(Contents(path), std::string(500, 'o'));  // still buffered
  EXPECT_FATAL(FatalError(msg::kRecordTooLong, 1), exit_code::kLimit, Message(msg::kRecordTooLong, 1));
  EXPECT_EQ(out->stream, kNoFile);
  EXPECT_EQ(Contents(path), "kept,\x82\xa0\r\nkept,\x82\xa0\r\n");
}

TEST_F(CsvFileTest, WriteBeyondTheFileSizeLimitFails) {
  CsvSortOption options{};
  OwnedRecord record = OwnRecord({std::string(100, 'w'), "x"});
  const std::string path = PathOf("limited.csv");
  const std::string failed = Message(msg::kWriteFailed, path.c_str(), EFBIG);
  {
    // The buffer spills while records are written.
    FileSizeLimit limit(100000);
    CsvFile* out = OpenCsvFile(path.c_str(), "wb");
    out->record = record.get();
    EXPECT_FATAL(for (int i = 0; i < 10000; ++i) WriteRecord(out, options), exit_code::kReadWrite, failed);
  }
  EXPECT_EQ(Contents(path).size(), 100000u);  // what fit, written once
  {
    // The last spill happens at the close.
    // (The limit leaves room for the captured log.)
    FileSizeLimit limit(4096);
    CsvFile* out = OpenCsvFile(path.c_str(), "wb");
    out->record = record.get();
    for (int i = 0; i < 50; ++i) WriteRecord(out, options);
    EXPECT_FATAL(CloseCsvFile(out), exit_code::kReadWrite, failed);
  }
  EXPECT_EQ(Contents(path).size(), 4096u);
}

}  // namespace
