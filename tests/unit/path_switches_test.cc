#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "cmdline/path_switches.h"
#include "driver/exit_codes.h"
#include "driver/messages.h"
#include "driver/text.h"
#include "fatal_capture.h"
#include "platform/paths.h"

namespace {

// A scratch directory (its real path, links resolved) that is the current
// directory during the test.
class PathTest : public testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/tarnsek-paths-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    char* real = realpath(pattern, nullptr);
    dir_ = real;
    std::free(real);
    char previous[4096];
    ASSERT_NE(getcwd(previous, sizeof previous), nullptr);
    previous_ = previous;
    ASSERT_EQ(chdir(dir_.c_str()), 0);
  }
  void TearDown() override {
    ASSERT_EQ(chdir(previous_.c_str()), 0);
    std::string command = "rm -rf '" + dir_ + "'";
    ASSERT_EQ(std::system(command.c_str()), 0);
  }
  std::string Touch(const std::string& name, mode_t mode = 0644) {
    std::string path = dir_ + "/" + name;
    int fd = open(path.c_str(), O_CREAT | O_WRONLY | O_TRUNC, mode);
    EXPECT_GE(fd, 0) << path;
    close(fd);
    chmod(path.c_str(), mode);
    return path;
  }
  std::string MakeDirectory(const std::string& name) {
    std::string path = dir_ + "/" + name;
    EXPECT_EQ(mkdir(path.c_str(), 0755), 0) << path;
    return path;
  }
  std::string Canonical(const char* path) {
    char out[kMaxPath];
    EXPECT_EQ(GetCanonicalPath(path, out), 0) << path;
    return out;
  }

  std::string dir_;
  std::string previous_;
};

using CanonicalPathTest = PathTest;

TEST_F(CanonicalPathTest, AbsoluteAndNormalised) {
  MakeDirectory("sub");
  EXPECT_EQ(Canonical("a.csv"), dir_ + "/a.csv");
  EXPECT_EQ(Canonical("./sub/../a.csv"), dir_ + "/a.csv");
  EXPECT_EQ(Canonical("sub//x/./y/../a.csv"), dir_ + "/sub/x/a.csv");
  EXPECT_EQ(Canonical("."), dir_);
  EXPECT_EQ(Canonical("/.."), "/");
  EXPECT_EQ(Canonical((dir_ + "//sub/").c_str()), dir_ + "/sub");
}

TEST_F(CanonicalPathTest, LinksOfTheExistingPartAreResolved) {
  MakeDirectory("real");
  std::string file = Touch("real/a.csv");
  ASSERT_EQ(symlink("real", (dir_ + "/link").c_str()), 0);
  ASSERT_EQ(symlink("real/a.csv", (dir_ + "/alias.csv").c_str()), 0);
  EXPECT_EQ(Canonical("link/a.csv"), file);
  EXPECT_EQ(Canonical("alias.csv"), file);
  // The part below the link that does not exist yet is kept as written.
  EXPECT_EQ(Canonical("link/new/../b.csv"), dir_ + "/real/b.csv");
}

TEST_F(CanonicalPathTest, EmptyTextNamesNothing) {
  char out[kMaxPath] = "previous";
  EXPECT_EQ(GetCanonicalPath("", out), 0);
  EXPECT_STREQ(out, "");
  EXPECT_EQ(GetPathAttributes(out), kInvalidFileAttributes);
}

TEST_F(CanonicalPathTest, NeverLongerThan259Bytes) {
  // "/tmp/.../" + name: pad the name so that the whole form is 259 or 260 bytes.
  std::string prefix = dir_ + "/";
  std::string fits(259 - prefix.size(), 'f');
  std::string tooLong(260 - prefix.size(), 'l');
  char out[kMaxPath];
  EXPECT_EQ(GetCanonicalPath(fits.c_str(), out), 0);
  EXPECT_EQ(std::strlen(out), 259u);
  EXPECT_EQ(GetCanonicalPath(tooLong.c_str(), out), ENAMETOOLONG);
  EXPECT_STREQ(out, "");
  // Long only as written: the normalised form decides.
  std::string detour = "x/" + std::string(300, 'y') + "/../../" + fits;
  EXPECT_EQ(GetCanonicalPath(detour.c_str(), out), 0);
  EXPECT_EQ(out, prefix + fits);
}

using AttributesTest = PathTest;

TEST_F(AttributesTest, FourAnswers) {
  std::string dir = MakeDirectory("d");
  std::string file = Touch("f.csv");
  std::string readOnly = Touch("r.csv", 0444);
  std::string fifo = dir_ + "/pipe";
  ASSERT_EQ(mkfifo(fifo.c_str(), 0644), 0);

  EXPECT_EQ(GetPathAttributes(dir.c_str()), kAttributeDirectory);
  EXPECT_EQ(GetPathAttributes(file.c_str()), 0u);
  // No write bit is read-only even for a process that may write anyway.
  EXPECT_EQ(GetPathAttributes(readOnly.c_str()), kAttributeReadOnly);
  EXPECT_EQ(GetPathAttributes(fifo.c_str()), kAttributeSystem);
  EXPECT_EQ(GetPathAttributes("/dev/null"), kAttributeSystem);
  EXPECT_EQ(GetPathAttributes((dir_ + "/missing").c_str()), kInvalidFileAttributes);
  // A file name used as a directory names nothing.
  EXPECT_EQ(GetPathAttributes((file + "/x").c_str()), kInvalidFileAttributes);
}

using SameFileTest = PathTest;

TEST_F(SameFileTest, IdentityWhenBothExistTextOtherwise) {
  std::string a = Touch("a.csv");
  std::string upper = Touch("A.csv");
  std::string hard = dir_ + "/hard.csv";
  ASSERT_EQ(link(a.c_str(), hard.c_str()), 0);
  std::string soft = dir_ + "/soft.csv";
  ASSERT_EQ(symlink(a.c_str(), soft.c_str()), 0);

  EXPECT_TRUE(IsSameFile(a.c_str(), a.c_str()));
  EXPECT_TRUE(IsSameFile(a.c_str(), hard.c_str()));
  EXPECT_TRUE(IsSameFile(soft.c_str(), a.c_str()));
  EXPECT_FALSE(IsSameFile(a.c_str(), upper.c_str()));  // two files on this system
  std::string missing = dir_ + "/new.csv";
  EXPECT_TRUE(IsSameFile(missing.c_str(), missing.c_str()));
  EXPECT_FALSE(IsSameFile(missing.c_str(), (dir_ + "/NEW.csv").c_str()));
  EXPECT_FALSE(IsSameFile(missing.c_str(), a.c_str()));
}

using PathSwitchTest = PathTest;

TEST_F(PathSwitchTest, ResolvePathOfNullLeavesTheAreaAlone) {
  char out[kMaxPath] = "untouched";
  EXPECT_EQ(ResolvePath(nullptr, out), kInvalidFileAttributes);
  EXPECT_STREQ(out, "untouched");
  EXPECT_EQ(ResolvePath("", out), kInvalidFileAttributes);
  EXPECT_STREQ(out, "");
}

// What each handler stores: the canonical form, whatever the form typed.
TEST_F(PathSwitchTest, HandlersStoreCanonicalForms) {
  std::string input = Touch("in.csv");
  std::string b = Touch("b.csv");
  MakeDirectory("w");
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

// The /M value is cut only at a bar that is a character of its own. With the
// lead bytes of code page 932, as the Windows build sees them, ポ (0x83 0x7C)
// holds no bar; ソ (0x83 0x5C) ends in a backslash and a lead byte that ends
// the text stands alone.
TEST(MergeValueCut, LeadByteTakesTheNextByteAlong) {
  char value[] = "|\x83\x5C.csv|\x83\x7C.csv||\x83\x7C|\x83";
  char* cursor = value;
  std::vector<std::string> items;
  auto lead = [](unsigned char byte) { return IsLeadByte(byte); };
  while (char* item = NextItem(cursor, '|', lead)) items.push_back(item);
  EXPECT_EQ(items, (std::vector<std::string>{"\x83\x5C.csv", "\x83\x7C.csv", "\x83\x7C", "\x83"}));
}

TEST_F(PathSwitchTest, OutputNameTooLongEndsAsAFailedOpen) {
  std::string name(300, 'o');
  CsvSortOption options{};
  EXPECT_FATAL(SetOutputPath(name.c_str(), options), exit_code::kOpen,
               Message(msg::kOpenFailed, name.c_str(), ENAMETOOLONG));
  EXPECT_EQ(options.outputPath, nullptr);
}

}  // namespace
