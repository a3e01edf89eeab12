#include "cmdline/path_switches.h"

#include <cstdlib>
#include <cstring>

#include "driver/log.h"
#include "driver/messages.h"
#include "driver/text.h"

namespace {

// As ResolvePath; error receives 0, or the error number when the path has no
// canonical form that fits (out is then the empty text).
uint32_t ResolvePathReportingError(const char* path, char (&out)[kMaxPath], int& error) {
  error = 0;
  if (!path) return kInvalidFileAttributes;
  char work[kMaxPath] = {};
  error = GetCanonicalPath(path, work);
  std::memcpy(out, work, kMaxPath);
  return GetPathAttributes(work);
}

// The canonical form of a file that must exist and be no folder (an input or
// a merge file); otherwise the run ends with 3001 and the message that names
// the value as given.
void ResolveExistingFile(const char* value, char (&canonical)[kMaxPath], MessageEntry notFound,
                         MessageEntry isDirectory) {
  const uint32_t attributes = ResolvePath(value, canonical);
  if (attributes == kInvalidFileAttributes) FatalError(notFound, value);
  if (attributes & kAttributeDirectory) FatalError(isDirectory, value);
}

}  // namespace

uint32_t ResolvePath(const char* path, char (&out)[kMaxPath]) {
  int error;
  return ResolvePathReportingError(path, out, error);
}

void SetInputPath(const char* value, CsvSortOption& options) {
  if (!value) FatalError(msg::kInputNoValue);
  char canonical[kMaxPath];
  ResolveExistingFile(value, canonical, msg::kInputNotFound, msg::kInputIsDirectory);
  options.inputPath = DuplicateString(canonical);
}

void SetOutputPath(const char* value, CsvSortOption& options) {
  if (!value) FatalError(msg::kOutputNoValue);
  char canonical[kMaxPath];
  int error;
  uint32_t attributes = ResolvePathReportingError(value, canonical, error);
  // A name with no canonical form could never be opened: the run ends as a
  // failed open would.
  if (error != 0) FatalError(msg::kOpenFailed, value, error);
  if (attributes != kInvalidFileAttributes) {
    if (attributes & kAttributeDirectory) {
      FatalError(msg::kOutputIsDirectory, value);
    }
    if (attributes & kAttributeSystem) {
      FatalError(msg::kOutputIsSystem, value);
    }
    if (attributes & kAttributeReadOnly) {
      FatalError(msg::kOutputIsReadOnly, value);
    }
    LogMessage(msg::kOutputOverwrite, value);
  }
  // A new file is accepted silently; its directory is looked at when it is opened.
  options.outputPath = DuplicateString(canonical);
}

void SetWorkDirectory(const char* value, CsvSortOption& options) {
  if (!value) FatalError(msg::kWorkNoValue);
  char canonical[kMaxPath];
  uint32_t attributes = ResolvePath(value, canonical);
  if (attributes == kInvalidFileAttributes || !(attributes & kAttributeDirectory)) {
    FatalError(msg::kWorkNotDirectory, value);
  }
  options.workDirectory = DuplicateString(canonical);
}

void SetMergeFiles(const char* value, CsvSortOption& options) {
  if (!value) FatalError(msg::kMergeNoValue);
  char* names = DuplicateString(value);
  char* cursor = names;
  // A bar cuts only where it is a character of its own: in code page 932 the
  // second byte of ポ is 0x7C.
  char* name = NextItem(cursor, '|', IsPathLeadByte);
  if (!name) FatalError(msg::kMergeNotFound, "(null)");

  for (; name; name = NextItem(cursor, '|', IsPathLeadByte)) {
    // Counted before the name is looked at: the twentieth name is never examined.
    if (options.fileCount >= kMaxMergeFiles) {
      FatalError(msg::kMergeTooMany);
    }
    TrimBlanks(name);
    char canonical[kMaxPath];
    ResolveExistingFile(name, canonical, msg::kMergeNotFound, msg::kMergeIsDirectory);
    options.fileNames[options.fileCount++] = DuplicateString(canonical);
  }
  std::free(names);

  // Two names of one file, in pair order (0,1), (0,2), ... (1,2), ...
  for (int i = 0; i < kMaxMergeFiles; ++i) {
    if (!options.fileNames[i]) continue;
    for (int j = i + 1; j < kMaxMergeFiles; ++j) {
      if (options.fileNames[j] && IsSameFile(options.fileNames[i], options.fileNames[j])) {
        FatalError(msg::kMergeDuplicate, options.fileNames[i]);
      }
    }
  }
}
