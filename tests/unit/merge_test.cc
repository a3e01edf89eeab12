// The merge as the sort calls it: header record first, run files read as run
// files and deleted afterwards. (Merge mode itself is covered end to end.)
#include "sort/merge.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "driver/exit_codes.h"
#include "driver/messages.h"
#include "driver/text.h"
#include "fatal_capture.h"
#include "platform/files.h"
#include "test_support.h"

namespace {

namespace fs = std::filesystem;

class SortMerge : public testing::Test {
 protected:
  void SetUp() override {
    options_.outputPath = DuplicateString((dir_ + "/out.csv").c_str());
    options_.sortKeys[0] = &key_;
  }
  void TearDown() override { SetHeaderRecord(nullptr); }

  // Adds an input file with the bytes; returns its path.
  std::string AddInput(const std::string& name, const std::string& bytes) {
    std::string path = scratch_.Write(name, bytes);
    options_.fileNames[options_.fileCount++] = DuplicateString(path.c_str());
    return path;
  }

  std::string Output() const { return FileContents(options_.outputPath); }

  // Runs the merge and returns its log messages.
  std::vector<std::string> Merge() {
    testing::internal::CaptureStdout();
    MergeCsvFiles(options_);
    return LogMessages(testing::internal::GetCapturedStdout());
  }

  ScratchDirectory scratch_;
  const std::string dir_ = scratch_.path();
  CsvSortKey key_{KeyType::kText, 0, 1};
  CsvSortOption options_{};
};

}  // namespace

TEST_F(SortMerge, WritesHeaderFirstThenDeletesRunFilesInListOrder) {
  std::string first = AddInput("sot1.tmp", "b,1\r\nd,2\r\n");
  std::string second = AddInput("sot2.tmp", "a,3\r\nc,4\r\n");
  options_.deleteFiles = true;
  options_.hasCaption = true;
  OwnedRecord header = OwnRecord({"name", "\"no.\""});
  SetHeaderRecord(header.get());

  std::vector<std::string> log = Merge();

  EXPECT_EQ(Output(), "name,\"no.\"\r\na,3\r\nb,1\r\nc,4\r\nd,2\r\n");
  EXPECT_FALSE(fs::exists(first));
  EXPECT_FALSE(fs::exists(second));
  std::string out = options_.outputPath;
  std::vector<std::string> expected = {
      msg::kMergeStarted.text,
      Message(msg::kFileOpened, out.c_str()),
      Message(msg::kFileOpened, first.c_str()),
      Message(msg::kFileOpened, second.c_str()),
      Message(msg::kInputRead, second.c_str(), 2),  // c is written before d
      Message(msg::kFileClosed, second.c_str()),
      Message(msg::kInputRead, first.c_str(), 2),
      Message(msg::kFileClosed, first.c_str()),
      Message(msg::kMergeWritten, 5),  // the header counts
      Message(msg::kFileClosed, out.c_str()),
      Message(msg::kFileDeleted, first.c_str()),
      Message(msg::kFileDeleted, second.c_str()),
      msg::kMergeFinished.text,
  };
  EXPECT_EQ(log, expected);
}

TEST_F(SortMerge, HeaderWithoutFieldWritesAndCountsNothing) {
  AddInput("sot1.tmp", "x\r\n");
  options_.deleteFiles = true;
  options_.hasCaption = true;
  OwnedRecord empty = OwnRecord({});
  SetHeaderRecord(empty.get());
  std::vector<std::string> log = Merge();
  EXPECT_EQ(Output(), "x\r\n");
  ASSERT_GE(log.size(), 4u);
  EXPECT_EQ(log[log.size() - 4], Message(msg::kMergeWritten, 1));
}

TEST_F(SortMerge, HeaderIsWrittenOnlyWithCaption) {
  AddInput("in.csv", "x\r\n");
  OwnedRecord header = OwnRecord({"title"});
  SetHeaderRecord(header.get());
  Merge();
  EXPECT_EQ(Output(), "x\r\n");
}

TEST_F(SortMerge, NoInputsGiveAnEmptyOutput) {
  std::ofstream(options_.outputPath, std::ios::binary) << "old\r\n";
  options_.deleteFiles = true;
  std::vector<std::string> log = Merge();
  EXPECT_EQ(Output(), "");
  std::string out = options_.outputPath;
  EXPECT_EQ(log,
            (std::vector<std::string>{msg::kMergeStarted.text, Message(msg::kFileOpened, out.c_str()),
                                      Message(msg::kMergeWritten, 0), Message(msg::kFileClosed, out.c_str()),
                                      msg::kMergeFinished.text}));
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
  EXPECT_FATAL(MergeCsvFiles(options_), exit_code::kLimit, Message(msg::kRecordTooLong, 1));
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
  EXPECT_EQ(outcome.lastMessage, Message(msg::kDeleteFailed, second.c_str()));
  std::vector<std::string> log = LogMessages(outcome.output);
  ASSERT_GE(log.size(), 2u);
  EXPECT_EQ(log[log.size() - 2], Message(msg::kFileDeleted, first.c_str()));
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
  // The first key in turn: text ascending, text descending, number ascending,
  // text ignoring case. The texts share their first 8 or 16 bytes or are
  // shorter, some are quoted, some differ only in the case of a letter (a
  // Shift_JIS second byte among them): the tree orders by the first 16
  // unquoted bytes, folded for the I key, before it compares values, and takes
  // equal words of shorter texts for equal texts.
  struct Value {
    const char* field;
    const char* unquoted;
    double number;
  };
  const Value texts[] = {{"abcdefgh1", "abcdefgh1", 0},
                         {"abcdefgh", "abcdefgh", 0},
                         {"\"abcdefgh\"\"0\"", "abcdefgh\"0", 0},
                         {"abc", "abc", 0},
                         {"\"ab,c\"", "ab,c", 0},
                         {"b", "b", 0},
                         {"abcdefghijklmnopB", "abcdefghijklmnopB", 0},
                         {"\"abcdefghijklmnop\"\"\"", "abcdefghijklmnop\"", 0},
                         {"ABCDEFGH", "ABCDEFGH", 0},
                         {"abcdefghijklmnoPb", "abcdefghijklmnoPb", 0},
                         {"\x83\x41", "\x83\x41", 0},
                         {"\"\x83\x61\"", "\x83\x61", 0}};
  const Value numbers[] = {{"10", "", 10},   {"9", "", 9},  {"-1", "", -1}, {"\"1,000\"", "", 1000},
                           {"1.5", "", 1.5}, {"-0", "", 0}, {"2", "", 2},   {"-2.5", "", -2.5}};
  CsvSortKey number{KeyType::kNumber, 1, -1};
  options_.sortKeys[1] = &number;
  std::srand(7);
  for (int round = 0; round < 80; ++round) {
    const int firstKey = round % 4;
    key_ = firstKey == 2   ? CsvSortKey{KeyType::kNumber, 0, 1}
           : firstKey == 3 ? CsvSortKey{KeyType::kTextIgnoreCase, 0, 1}
                           : CsvSortKey{KeyType::kText, 0, firstKey == 0 ? 1 : -1};
    const Value* values = firstKey == 2 ? numbers : texts;
    const int valueCount = firstKey == 2 ? 8 : 12;
    const int count = 2 + std::rand() % 18;
    const bool shortRecords = round / 4 % 2 == 1;
    struct Line {
      int value;
      char second;  // the digit of field 2, or 0 for none
      std::string text;
    };
    std::vector<std::vector<Line>> inputs(count);
    options_.fileCount = 0;
    for (int i = 0; i < count; ++i) {
      std::string bytes;
      for (int n = std::rand() % 6; n > 0; --n) {
        Line line{std::rand() % valueCount, 0, ""};
        line.text = values[line.value].field;
        if (!shortRecords || std::rand() % 5 != 0) {
          line.second = static_cast<char>('0' + std::rand() % 3);
          line.text += std::string(",") + line.second;
        }
        inputs[i].push_back(line);
        bytes += line.text + "\r\n";
      }
      AddInput("in" + std::to_string(round) + "_" + std::to_string(i) + ".csv", bytes);
    }
    // The scan, on the lines: the first key, then field 2 as a number
    // (descending) when both records have it.
    auto compare = [&](const Line& a, const Line& b) {
      int first = 0;
      if (firstKey == 2) {
        const double x = values[a.value].number;
        const double y = values[b.value].number;
        first = x < y ? -1 : (x > y ? 1 : 0);
      } else {
        std::string x = values[a.value].unquoted;
        std::string y = values[b.value].unquoted;
        if (firstKey == 3) {
          for (std::string* text : {&x, &y}) {
            for (char& c : *text) c = (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 0x20) : c;
          }
        }
        first = x.compare(y);
        first = (first > 0) - (first < 0);
        if (firstKey == 1) first = -first;
      }
      if (first != 0) return first;
      if (a.second == 0 || b.second == 0) return 0;
      return a.second == b.second ? 0 : (a.second > b.second ? -1 : 1);
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
      expected += inputs[best][next[best]++].text + "\r\n";
    }
    (void)Merge();
    ASSERT_EQ(Output(), expected) << "round " << round;
  }
}
