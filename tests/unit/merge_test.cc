// The merge as the sort calls it: header record first, run files read as run
// files and deleted afterwards. (Merge mode itself is covered end to end.)
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "driver/exit_codes.h"
#include "driver/messages.h"
#include "driver/text.h"
#include "fatal_capture.h"
#include "platform/files.h"
#include "sort/merge.h"

namespace {

namespace fs = std::filesystem;

std::string Format(const char* format, const std::string& text) {
  char buffer[512];
  std::snprintf(buffer, sizeof buffer, format, text.c_str());
  return buffer;
}

std::string Format(const char* format, const std::string& text, int number) {
  char buffer[512];
  std::snprintf(buffer, sizeof buffer, format, text.c_str(), number);
  return buffer;
}

std::string Format(const char* format, int number) {
  char buffer[512];
  std::snprintf(buffer, sizeof buffer, format, number);
  return buffer;
}

// The messages of the captured log lines, without their timestamps.
std::vector<std::string> Messages(const std::string& output) {
  std::vector<std::string> messages;
  size_t start = 0;
  while (start < output.size()) {
    size_t end = output.find('\n', start);
    if (end == std::string::npos) end = output.size();
    std::string line = output.substr(start, end - start);
    size_t blank = line.find(' ');
    blank = blank == std::string::npos ? blank : line.find(' ', blank + 1);
    messages.push_back(blank == std::string::npos ? line : line.substr(blank + 1));
    start = end + 1;
  }
  return messages;
}

class SortMerge : public testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/tarnsek-merge-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir_ = pattern;
    options_.outputPath = DuplicateString((dir_ + "/out.csv").c_str());
    options_.sortKeys[0] = &key_;
  }
  void TearDown() override {
    SetHeaderRecord(nullptr);
    fs::remove_all(dir_);
  }

  // Adds an input file with the bytes; returns its path.
  std::string AddInput(const std::string& name, const std::string& bytes) {
    std::string path = dir_ + "/" + name;
    std::ofstream(path, std::ios::binary) << bytes;
    options_.fileNames[options_.fileCount++] = DuplicateString(path.c_str());
    return path;
  }

  std::string Output() const {
    std::ifstream in(options_.outputPath, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }

  // Runs the merge and returns its log messages.
  std::vector<std::string> Merge() {
    testing::internal::CaptureStdout();
    MergeCsvFiles(options_);
    return Messages(testing::internal::GetCapturedStdout());
  }

  std::string dir_;
  CsvSortKey key_{kKeyText, 0, 1};
  CsvSortOption options_{};
};

}  // namespace

TEST_F(SortMerge, WritesHeaderFirstThenDeletesRunFilesInListOrder) {
  std::string first = AddInput("sot1.tmp", "b,1\r\nd,2\r\n");
  std::string second = AddInput("sot2.tmp", "a,3\r\nc,4\r\n");
  options_.deleteFiles = true;
  options_.hasCaption = true;
  std::string titles[] = {"name", "\"no.\""};
  CsvRecord header{};
  header.fieldCount = 2;
  header.fields[0] = titles[0].data();
  header.fields[1] = titles[1].data();
  SetHeaderRecord(&header);

  std::vector<std::string> log = Merge();

  EXPECT_EQ(Output(), "name,\"no.\"\r\na,3\r\nb,1\r\nc,4\r\nd,2\r\n");
  EXPECT_FALSE(fs::exists(first));
  EXPECT_FALSE(fs::exists(second));
  std::string out = options_.outputPath;
  std::vector<std::string> expected = {
      msg::kMergeStarted,
      Format(msg::kFileOpened, out),
      Format(msg::kFileOpened, first),
      Format(msg::kFileOpened, second),
      Format(msg::kInputRead, second, 2),  // c is written before d
      Format(msg::kFileClosed, second),
      Format(msg::kInputRead, first, 2),
      Format(msg::kFileClosed, first),
      Format(msg::kMergeWritten, 5),  // the header counts
      Format(msg::kFileClosed, out),
      Format(msg::kFileDeleted, first),
      Format(msg::kFileDeleted, second),
      msg::kMergeFinished,
  };
  EXPECT_EQ(log, expected);
}

TEST_F(SortMerge, HeaderWithoutFieldWritesAndCountsNothing) {
  AddInput("sot1.tmp", "x\r\n");
  options_.deleteFiles = true;
  options_.hasCaption = true;
  CsvRecord empty{};
  SetHeaderRecord(&empty);
  std::vector<std::string> log = Merge();
  EXPECT_EQ(Output(), "x\r\n");
  ASSERT_GE(log.size(), 4u);
  EXPECT_EQ(log[log.size() - 4], Format(msg::kMergeWritten, 1));
}

TEST_F(SortMerge, HeaderIsWrittenOnlyWithCaption) {
  AddInput("in.csv", "x\r\n");
  std::string title = "title";
  CsvRecord header{};
  header.fieldCount = 1;
  header.fields[0] = title.data();
  SetHeaderRecord(&header);
  Merge();
  EXPECT_EQ(Output(), "x\r\n");
}

TEST_F(SortMerge, NoInputsGiveAnEmptyOutput) {
  std::ofstream(options_.outputPath, std::ios::binary) << "old\r\n";
  options_.deleteFiles = true;
  std::vector<std::string> log = Merge();
  EXPECT_EQ(Output(), "");
  std::string out = options_.outputPath;
  EXPECT_EQ(log, (std::vector<std::string>{msg::kMergeStarted, Format(msg::kFileOpened, out),
                                           Format(msg::kMergeWritten, 0),
                                           Format(msg::kFileClosed, out), msg::kMergeFinished}));
}

TEST_F(SortMerge, RunFileLineEndsDoNotCountTowardsTheRecordLimit) {
  // 2048 bytes of data and CR LF: a full record of a run file.
  AddInput("sot1.tmp", std::string(2048, 'r') + "\r\n");
  options_.deleteFiles = true;
  Merge();
  EXPECT_EQ(Output(), std::string(2048, 'r') + "\r\n");
}

TEST_F(SortMerge, MergeFilesKeepTheRecordLimit) {
  AddInput("in.csv", std::string(2048, 'r') + "\r\n");
  EXPECT_FATAL(MergeCsvFiles(options_), exit_code::kLimit, Format(msg::kRecordTooLong, 1));
}

TEST_F(SortMerge, FileThatCannotBeDeletedEndsTheRunAfterACompleteOutput) {
  std::string first = AddInput("sot1.tmp", "a\r\n");
  std::string second = AddInput("sot2.tmp", "b\r\n");
  std::string third = AddInput("sot3.tmp", "c\r\n");
  options_.deleteFiles = true;
  FileHandle held = kNoFile;
  ASSERT_EQ(OpenPlatformFile(second.c_str(), FileMode::kRead, &held), 0);

  FatalOutcome outcome = RunExpectingFatal([&] { MergeCsvFiles(options_); });
  (void)ClosePlatformFile(held);

  EXPECT_TRUE(outcome.ended);
  EXPECT_EQ(outcome.exitCode, exit_code::kTempFile);
  EXPECT_EQ(outcome.lastMessage, Format(msg::kDeleteFailed, second));
  std::vector<std::string> log = Messages(outcome.output);
  ASSERT_GE(log.size(), 2u);
  EXPECT_EQ(log[log.size() - 2], Format(msg::kFileDeleted, first));
  EXPECT_EQ(Output(), "a\r\nb\r\nc\r\n");
  EXPECT_FALSE(fs::exists(first));
  EXPECT_TRUE(fs::exists(second));
  EXPECT_TRUE(fs::exists(third));
}

// The record chosen next is the one the plain scan over the inputs chooses:
// the smallest, the latest input among equals, and with a record lacking a
// key field (whose comparisons tell nothing) the scan's own order of
// comparisons. Random inputs with many ties, some with short records.
TEST_F(SortMerge, ChoosesAsTheScanOverTheInputsDoes) {
  CsvSortKey number{kKeyNumber, 1, -1};
  options_.sortKeys[1] = &number;
  std::srand(7);
  for (int round = 0; round < 40; ++round) {
    const int count = 2 + std::rand() % 18;
    const bool shortRecords = round % 2 == 1;
    std::vector<std::vector<std::string>> inputs(count);
    options_.fileCount = 0;
    for (int i = 0; i < count; ++i) {
      std::string bytes;
      for (int n = std::rand() % 6; n > 0; --n) {
        std::string line(1, static_cast<char>('a' + std::rand() % 3));
        if (!shortRecords || std::rand() % 5 != 0) {
          line.push_back(',');
          line.push_back(static_cast<char>('0' + std::rand() % 3));
        }
        inputs[i].push_back(line);
        bytes += line + "\r\n";
      }
      AddInput("in" + std::to_string(round) + "_" + std::to_string(i) + ".csv", bytes);
    }
    // The scan, on the lines: field 1 as text, then field 2 as a number
    // (descending) when both records have it.
    auto compare = [](const std::string& a, const std::string& b) {
      if (a[0] != b[0]) return a[0] < b[0] ? -1 : 1;
      if (a.size() < 3 || b.size() < 3) return 0;
      return a[2] == b[2] ? 0 : (a[2] > b[2] ? -1 : 1);
    };
    std::vector<size_t> next(count, 0);
    std::string expected;
    for (;;) {
      int best = -1;
      for (int i = 0; i < count; ++i) {
        if (next[i] == inputs[i].size()) continue;
        if (best < 0 || compare(inputs[i][next[i]], inputs[best][next[best]]) <= 0) best = i;
      }
      if (best < 0) break;
      expected += inputs[best][next[best]++] + "\r\n";
    }
    (void)Merge();
    ASSERT_EQ(Output(), expected) << "round " << round;
  }
}
