// Paths on a POSIX system: the canonical form is the absolute, normalised path
// with the symbolic links of its existing part resolved; file identity is the
// device and inode pair.
#include "platform/paths.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <string>
#include <system_error>

namespace fs = std::filesystem;

int GetCanonicalPath(const char* path, char (&out)[kMaxPath]) {
  out[0] = '\0';
  // The empty text names nothing; its canonical form is the empty text.
  if (!path || !*path) return 0;

  std::error_code error;
  fs::path absolute = fs::absolute(path, error);
  if (error) return error.value();  // e.g. the current directory is gone

  // Links are resolved up to the last component that exists; the rest is
  // normalised by its text alone. When the file system cannot answer (a name
  // too long for it, a loop of links, no search permission) the text alone
  // decides, and the attributes will then say that nothing of that name exists.
  fs::path canonical = fs::weakly_canonical(absolute, error);
  if (error) canonical = absolute.lexically_normal();

  const std::string& text = canonical.native();
  if (text.size() >= kMaxPath) return ENAMETOOLONG;
  std::memcpy(out, text.c_str(), text.size() + 1);
  return 0;
}

uint32_t GetPathAttributes(const char* canonicalPath) {
  struct stat status;
  if (!canonicalPath || stat(canonicalPath, &status) != 0) return kInvalidFileAttributes;
  if (S_ISDIR(status.st_mode)) return kAttributeDirectory;
  // A device, a pipe or a socket: something that is not a data file.
  if (!S_ISREG(status.st_mode)) return kAttributeSystem;
  // No write bit at all is read-only even for a process that could write anyway
  // (the superuser); otherwise whether this process may write decides.
  if ((status.st_mode & 0222) == 0 || access(canonicalPath, W_OK) != 0) {
    return kAttributeReadOnly;
  }
  return 0;
}

bool IsSameFile(const char* canonicalA, const char* canonicalB) {
  struct stat a;
  struct stat b;
  if (stat(canonicalA, &a) == 0 && stat(canonicalB, &b) == 0) {
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
  }
  // A name that does not exist yet is the same file only by the same text.
  return std::strcmp(canonicalA, canonicalB) == 0;
}

bool IsPathLeadByte(unsigned char) { return false; }

bool SlashMayStartPath() { return true; }
