// What the unit tests share: a scratch directory that is removed however the
// test ends, whole-file contents, expected messages formatted from the message
// table, the messages of captured log lines, and records built from field
// texts. The unit tests run on the Linux build only.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <system_error>
#include <vector>

#include "csv/csv_file.h"

namespace test_support {

// A new empty directory (its real path, links resolved) under the system's
// temporary directory, removed with all it holds when the object goes out of
// scope: also after a failed assertion, and also when a test took away its
// own permissions on some of it.
class ScratchDirectory {
 public:
  ScratchDirectory() {
    std::string pattern = (std::filesystem::temp_directory_path() / "tarnsek-test.XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) {
      ADD_FAILURE() << "cannot make a scratch directory from " << pattern;
      return;
    }
    std::error_code error;
    path_ = std::filesystem::canonical(pattern, error).string();
    if (error) path_ = pattern;
  }
  ~ScratchDirectory() {
    if (path_.empty()) return;
    std::error_code error;
    std::filesystem::permissions(path_, std::filesystem::perms::owner_all, error);
    for (auto it = std::filesystem::recursive_directory_iterator(
             path_, std::filesystem::directory_options::skip_permission_denied, error);
         !error && it != std::filesystem::recursive_directory_iterator(); it.increment(error)) {
      if (it->is_directory(error) && !it->is_symlink(error)) {
        std::filesystem::permissions(it->path(), std::filesystem::perms::owner_all,
                                     std::filesystem::perm_options::add, error);
      }
    }
    std::filesystem::remove_all(path_, error);
  }
  ScratchDirectory(const ScratchDirectory&) = delete;
  ScratchDirectory& operator=(const ScratchDirectory&) = delete;

  const std::string& path() const { return path_; }
  std::string PathOf(const std::string& name) const { return path_ + "/" + name; }

  // Writes a file of the directory with exactly these bytes; returns its path.
  std::string Write(const std::string& name, const std::string& bytes = "") const;

  // Makes a directory inside; returns its path.
  std::string MakeDirectory(const std::string& name) const {
    std::string path = PathOf(name);
    std::error_code error;
    EXPECT_TRUE(std::filesystem::create_directory(path, error)) << path << ": " << error.message();
    return path;
  }

 private:
  std::string path_;
};

// Makes a directory the current one for the object's lifetime.
class ScopedCurrentDirectory {
 public:
  explicit ScopedCurrentDirectory(const std::string& directory) {
    char previous[4096];
    if (getcwd(previous, sizeof previous) == nullptr) {
      ADD_FAILURE() << "getcwd failed";
      return;
    }
    previous_ = previous;
    if (chdir(directory.c_str()) != 0) ADD_FAILURE() << "cannot enter " << directory;
  }
  ~ScopedCurrentDirectory() {
    if (!previous_.empty() && chdir(previous_.c_str()) != 0)
      ADD_FAILURE() << "cannot go back to " << previous_;
  }
  ScopedCurrentDirectory(const ScopedCurrentDirectory&) = delete;
  ScopedCurrentDirectory& operator=(const ScopedCurrentDirectory&) = delete;

 private:
  std::string previous_;
};

// The bytes of a file; empty when it cannot be read.
inline std::string FileContents(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream bytes;
  bytes << in.rdbuf();
  return bytes.str();
}

// Makes or replaces a file with exactly these bytes.
inline void WriteFileContents(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << bytes;
  out.close();
  EXPECT_TRUE(out) << "cannot write " << path;
}

inline std::string ScratchDirectory::Write(const std::string& name, const std::string& bytes) const {
  std::string path = PathOf(name);
  WriteFileContents(path, bytes);
  return path;
}

// A message of the table with its arguments, as the log prints it (the
// product's own formatter is tested against this in text_test.cc).
__attribute__((format(printf, 1, 2))) inline std::string Message(const char* format, ...) {
  char buffer[512];
  va_list args;
  va_start(args, format);
  std::vsnprintf(buffer, sizeof buffer, format, args);
  va_end(args);
  return buffer;
}

// The message of one log line "YYYY/MM/DD hh:mm:ss message". A line without
// that timestamp comes back marked, so that it never equals an expected message.
inline std::string LogLineMessage(const std::string& line) {
  static const char kShape[] = "dddd/dd/dd dd:dd:dd ";
  constexpr size_t kLength = sizeof kShape - 1;
  bool stamped = line.size() >= kLength;
  for (size_t i = 0; stamped && i < kLength; ++i) {
    bool digit = line[i] >= '0' && line[i] <= '9';
    stamped = kShape[i] == 'd' ? digit : line[i] == kShape[i];
  }
  return stamped ? line.substr(kLength) : "(no timestamp) " + line;
}

// The messages of captured log lines, in order.
inline std::vector<std::string> LogMessages(const std::string& output) {
  std::vector<std::string> messages;
  size_t start = 0;
  while (start < output.size()) {
    size_t end = output.find('\n', start);
    if (end == std::string::npos) end = output.size();
    messages.push_back(LogLineMessage(output.substr(start, end - start)));
    start = end + 1;
  }
  return messages;
}

// ---------------------------------------------------------------------------
// Records built from field texts by the record constructor, laid out as
// ReadRecord lays out the records it reads (in the record arena while one is
// open). A text holds no zero byte.

inline CsvRecord* NewRecord(const std::vector<std::string>& fields) {
  std::string texts;
  std::vector<int32_t> starts;
  for (const std::string& field : fields) {
    starts.push_back(static_cast<int32_t>(texts.size()));
    texts += field;
    texts += '\0';
  }
  return MakeRecord(texts.data(), static_cast<uint32_t>(texts.size()), starts.data(),
                    static_cast<int32_t>(fields.size()));
}

struct RecordReleaser {
  void operator()(CsvRecord* record) const { ReleaseRecord(record); }
};
// A record released with ReleaseRecord when it goes out of scope.
using OwnedRecord = std::unique_ptr<CsvRecord, RecordReleaser>;

inline OwnedRecord OwnRecord(const std::vector<std::string>& fields) {
  return OwnedRecord(NewRecord(fields));
}

}  // namespace test_support

using test_support::FileContents;
using test_support::LogMessages;
using test_support::Message;
using test_support::NewRecord;
using test_support::OwnedRecord;
using test_support::OwnRecord;
using test_support::ScopedCurrentDirectory;
using test_support::ScratchDirectory;
using test_support::WriteFileContents;
