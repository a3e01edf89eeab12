// Run file names: a new empty file "sot" + four upper-case hex digits + ".tmp"
// in the given directory, never one that exists; false when none can be made.
// A run file is the owner's alone and is read again only while its name still
// leads to the file made.
#include "platform/temp_files.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <set>
#include <string>

#include "platform/files.h"
#include "test_support.h"

namespace {

namespace fs = std::filesystem;

// A scratch directory per test; TMPDIR is put back as it was.
class TempFiles : public testing::Test {
 protected:
  void SetUp() override {
    const char* tmpdir = std::getenv("TMPDIR");
    hadTmpdir_ = tmpdir != nullptr;
    if (tmpdir) savedTmpdir_ = tmpdir;
  }
  void TearDown() override {
    if (hadTmpdir_) {
      setenv("TMPDIR", savedTmpdir_.c_str(), 1);
    } else {
      unsetenv("TMPDIR");
    }
  }

  ScratchDirectory scratch_;
  const std::string directory_ = scratch_.path();
  bool hadTmpdir_ = false;
  std::string savedTmpdir_;
};

bool IsRunFileName(const std::string& base) {
  return base.size() == 11 && base.compare(0, 3, "sot") == 0 && base.compare(7, 4, ".tmp") == 0 &&
         base.substr(3, 4).find_first_not_of("0123456789ABCDEF") == std::string::npos;
}

TEST_F(TempFiles, MakesNewEmptyFilesOfDistinctNames) {
  std::set<std::string> names;
  for (const std::string& directory : {directory_, directory_ + "/"}) {
    for (int k = 0; k < 20; ++k) {
      char name[kMaxPath];
      ASSERT_TRUE(CreateTempFile(directory.c_str(), "sot", name));
      fs::path path(name);
      EXPECT_EQ(path.parent_path(), fs::path(directory_)) << name;
      EXPECT_TRUE(IsRunFileName(path.filename().string())) << name;
      EXPECT_TRUE(fs::is_regular_file(path));
      EXPECT_EQ(fs::file_size(path), 0u);
      names.insert(name);
    }
  }
  EXPECT_EQ(names.size(), 40u);
}

TEST_F(TempFiles, NeverTakesANameThatExists) {
  // Occupy a run of 300 names; every new name must avoid all of them.
  char first[kMaxPath];
  ASSERT_TRUE(CreateTempFile(directory_.c_str(), "sot", first));
  std::string base = fs::path(first).filename().string();
  unsigned number = std::stoul(base.substr(3, 4), nullptr, 16);
  for (unsigned k = 1; k < 300; ++k) {
    char name[16];
    std::snprintf(name, sizeof name, "sot%04X.tmp", (number + k) % 0x10000);
    FILE* file = std::fopen((fs::path(directory_) / name).c_str(), "wb");
    ASSERT_NE(file, nullptr);
    std::fputs("taken", file);
    std::fclose(file);
  }
  for (int k = 0; k < 50; ++k) {
    char name[kMaxPath];
    ASSERT_TRUE(CreateTempFile(directory_.c_str(), "sot", name));
    EXPECT_EQ(fs::file_size(name), 0u) << name;
  }
  for (const auto& entry : fs::directory_iterator(directory_)) {
    if (entry.file_size() != 0) {
      std::ifstream in(entry.path());
      std::string text;
      in >> text;
      EXPECT_EQ(text, "taken") << entry.path();
    }
  }
}

TEST_F(TempFiles, RunFilesAreTheOwnersAndReadAgainOnlyWhileTheyAreTheFilesMade) {
  // Mode 0600 whatever the umask; written through the handle that made it.
  mode_t saved = umask(0);
  char name[kMaxPath];
  FileHandle handle = kNoFile;
  ASSERT_TRUE(CreateRunFile(directory_.c_str(), "sot", name, &handle));
  umask(saved);
  struct stat status;
  ASSERT_EQ(lstat(name, &status), 0);
  EXPECT_EQ(status.st_mode & 07777, 0600u);
  EXPECT_EQ(WritePlatformFile(handle, "a\r\n", 3), 0);
  // The exclusive hold of a file being written.
  FileHandle other = kNoFile;
  EXPECT_EQ(OpenPlatformFile(name, FileMode::kRead, &other), 13);
  EXPECT_EQ(ClosePlatformFile(handle), 0);
  ASSERT_EQ(OpenPlatformFile(name, FileMode::kRead, &other), 0);
  EXPECT_EQ(ClosePlatformFile(other), 0);

  // Another file put under its name is refused; so is a link to the file.
  std::string aside = std::string(name) + ".aside";
  fs::rename(name, aside);
  std::ofstream(name) << "forged\r\n";
  EXPECT_EQ(OpenPlatformFile(name, FileMode::kRead, &other), ESTALE);
  fs::remove(name);
  fs::create_symlink(aside, name);
  EXPECT_EQ(OpenPlatformFile(name, FileMode::kRead, &other), ELOOP);
  EXPECT_EQ(RemovePlatformFile(name), 0);
  EXPECT_TRUE(fs::exists(aside));
}

TEST_F(TempFiles, FailsWhereNoFileCanBeMade) {
  char name[kMaxPath];
  EXPECT_FALSE(CreateTempFile((directory_ + "/missing").c_str(), "sot", name));
  EXPECT_FALSE(CreateTempFile("", "sot", name));
  // A file is no directory.
  char file[kMaxPath];
  ASSERT_TRUE(CreateTempFile(directory_.c_str(), "sot", file));
  EXPECT_FALSE(CreateTempFile(file, "sot", name));
  // A name longer than a path may be.
  std::string deep = directory_ + "/" + std::string(250, 'd');
  EXPECT_FALSE(CreateTempFile(deep.c_str(), "sot", name));
  if (geteuid() != 0) {
    fs::permissions(directory_, fs::perms::owner_read | fs::perms::owner_exec);
    EXPECT_FALSE(CreateTempFile(directory_.c_str(), "sot", name));
  }
}

TEST_F(TempFiles, TemporaryDirectoryIsTmpdirElseTmp) {
  char directory[kMaxPath];
  setenv("TMPDIR", directory_.c_str(), 1);
  GetTempDirectory(directory);
  EXPECT_EQ(std::string(directory), fs::canonical(directory_).string() + "/");
  setenv("TMPDIR", (directory_ + "/").c_str(), 1);
  GetTempDirectory(directory);
  EXPECT_EQ(std::string(directory), fs::canonical(directory_).string() + "/");
  unsetenv("TMPDIR");
  GetTempDirectory(directory);
  EXPECT_STREQ(directory, "/tmp/");
  setenv("TMPDIR", "", 1);
  GetTempDirectory(directory);
  EXPECT_STREQ(directory, "/tmp/");
}

}  // namespace
