// The path switches: what each handler stores. Their refusals, messages and
// exit codes are checked end to end in tests/e2e/test_path_switches.py.
#include "cmdline/path_switches.h"

#include <gtest/gtest.h>

#include <string>

#include "platform/paths.h"
#include "test_support.h"

namespace {

// A scratch directory that is the current directory during the test.
class PathSwitchTest : public testing::Test {
 protected:
  ScratchDirectory scratch_;
  ScopedCurrentDirectory current_{scratch_.path()};
  const std::string dir_ = scratch_.path();
};

TEST_F(PathSwitchTest, ResolvePathOfNullLeavesTheAreaAlone) {
  char out[kMaxPath] = "untouched";
  EXPECT_EQ(ResolvePath(nullptr, out), kInvalidFileAttributes);
  EXPECT_STREQ(out, "untouched");
  EXPECT_EQ(ResolvePath("", out), kInvalidFileAttributes);
  EXPECT_STREQ(out, "");
}

// What each handler stores: the canonical form, whatever the form typed.
TEST_F(PathSwitchTest, HandlersStoreCanonicalForms) {
  std::string input = scratch_.Write("in.csv");
  std::string b = scratch_.Write("b.csv");
  scratch_.MakeDirectory("w");
  CsvSortOption options{};
  SetInputPath("w/../in.csv", options);
  SetOutputPath("./w//out.csv", options);
  SetWorkDirectory("./w/", options);
  SetMergeFiles("| in.csv\t||  w/../b.csv |", options);
  EXPECT_EQ(options.inputPath, input);
  EXPECT_EQ(options.outputPath, dir_ + "/w/out.csv");
  EXPECT_EQ(options.workDirectory, dir_ + "/w");
  ASSERT_EQ(options.fileCount, 2);
  EXPECT_EQ(options.fileNames[0], input);
  EXPECT_EQ(options.fileNames[1], b);
  EXPECT_EQ(options.fileNames[2], nullptr);

  // The empty output name is a new file; opening it fails later.
  SetOutputPath("", options);
  EXPECT_STREQ(options.outputPath, "");
}

}  // namespace
