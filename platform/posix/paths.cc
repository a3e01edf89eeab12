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

namespace {

// The system follows at most 40 links in one path (MAXSYMLINKS).
constexpr int kMaxLinksFollowed = 40;

// The canonical form with the links in its part that does not exist
// followed too: a link to a file not made yet ("dl -> new.csv"), a chain of
// such links, or a link into a folder that does not exist. Writing through
// the name writes where the link leads, so that is the path to show.
fs::path FollowDanglingLinks(const fs::path& canonical) {
  fs::path path = canonical;
  for (int hop = 0; hop < kMaxLinksFollowed; ++hop) {
    // The first component that does not exist: the links before it are
    // resolved already.
    fs::path existing;
    auto part = path.begin();
    for (; part != path.end(); ++part) {
      const fs::path next = existing / *part;
      struct stat status;
      if (stat(next.c_str(), &status) != 0) break;
      existing = next;
    }
    if (part == path.end()) return path;
    const fs::path missing = existing / *part;
    char target[kMaxPath];
    const ssize_t length = readlink(missing.c_str(), target, sizeof target);
    if (length <= 0 || static_cast<size_t>(length) >= sizeof target) return path;  // no link
    fs::path next = existing / std::string(target, static_cast<size_t>(length));
    for (++part; part != path.end(); ++part) next /= *part;
    std::error_code error;
    path = fs::weakly_canonical(next, error);
    if (error) path = next.lexically_normal();
  }
  return canonical;  // a loop of links: the name as it was
}

}  // namespace

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
  if (error) {
    canonical = absolute.lexically_normal();
  } else {
    canonical = FollowDanglingLinks(canonical);
  }

  const std::string& text = canonical.native();
  if (text.size() >= kMaxPath) return ENAMETOOLONG;
  // A component longer than the file system takes: the name can never be
  // made, as a path over the limit cannot.
  struct stat status;
  if (stat(text.c_str(), &status) != 0 && errno == ENAMETOOLONG) return ENAMETOOLONG;
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
