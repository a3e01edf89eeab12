// The path layer: canonical forms, the four attribute answers, and whether
// two names lead to one file.
#include "platform/paths.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>
#include <utility>

#include "test_support.h"

namespace {

// A scratch directory that is the current directory during the test.
class PathTest : public testing::Test {
 protected:
  std::string Touch(const std::string& name, mode_t mode = 0644) {
    std::string path = scratch_.Write(name);
    EXPECT_EQ(chmod(path.c_str(), mode), 0) << path;
    return path;
  }
  std::string MakeDirectory(const std::string& name) { return scratch_.MakeDirectory(name); }
  std::string Canonical(const char* path) {
    char out[kMaxPath];
    EXPECT_EQ(GetCanonicalPath(path, out), 0) << path;
    return out;
  }

  ScratchDirectory scratch_;
  ScopedCurrentDirectory current_{scratch_.path()};
  const std::string dir_ = scratch_.path();
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
  // A link to a file not made yet is followed: directly, along a chain, into
  // a folder that does not exist, and in the middle of a path. A loop of
  // links leads nowhere and keeps its name.
  const std::pair<const char*, const char*> links[] = {
      {"dangling", "real/new.csv"}, {"chain", "dangling"}, {"absent", "nowhere/new.csv"},
      {"nodir", "missing"},         {"loop1", "loop2"},    {"loop2", "loop1"}};
  for (const auto& [name, target] : links) ASSERT_EQ(symlink(target, (dir_ + "/" + name).c_str()), 0);
  EXPECT_EQ(Canonical("dangling"), dir_ + "/real/new.csv");
  EXPECT_EQ(Canonical("chain"), dir_ + "/real/new.csv");
  EXPECT_EQ(Canonical("absent"), dir_ + "/nowhere/new.csv");
  EXPECT_EQ(Canonical("nodir/x/../b.csv"), dir_ + "/missing/b.csv");
  EXPECT_EQ(Canonical("loop1"), dir_ + "/loop1");
}

TEST_F(CanonicalPathTest, EmptyTextNamesNothing) {
  char out[kMaxPath] = "previous";
  EXPECT_EQ(GetCanonicalPath("", out), 0);
  EXPECT_STREQ(out, "");
  EXPECT_EQ(GetPathAttributes(out), kInvalidFileAttributes);
}

TEST_F(CanonicalPathTest, NeverLongerThanTheSystemTakes) {
  // "/tmp/.../" + names of at most 200 bytes, so that the whole form is 4095
  // or 4096 bytes: PATH_MAX with and without its terminator.
  auto padded = [&](size_t total, char letter) {
    std::string name(total - dir_.size() - 1, letter);
    for (size_t slash = 200; slash < name.size() - 1; slash += 201) name[slash] = '/';
    return name;
  };
  std::string fits = padded(kMaxPath - 1, 'f');
  std::string tooLong = padded(kMaxPath, 'l');
  char out[kMaxPath];
  EXPECT_EQ(GetCanonicalPath(fits.c_str(), out), 0);
  EXPECT_EQ(std::strlen(out), kMaxPath - 1);
  EXPECT_EQ(GetCanonicalPath(tooLong.c_str(), out), ENAMETOOLONG);
  EXPECT_STREQ(out, "");
  // Long only as written: the normalised form decides.
  std::string detour = "x/" + std::string(300, 'y') + "/../../" + fits;
  EXPECT_EQ(GetCanonicalPath(detour.c_str(), out), 0);
  EXPECT_EQ(out, dir_ + "/" + fits);
  // A name longer than the file system takes can never be made.
  EXPECT_EQ(GetCanonicalPath(std::string(300, 'n').c_str(), out), ENAMETOOLONG);
  EXPECT_STREQ(out, "");
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

}  // namespace
