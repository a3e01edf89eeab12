// Run files on a POSIX system: the temporary directory is $TMPDIR, else /tmp;
// a new file is made with O_CREAT | O_EXCL, so a name that exists (a link
// someone put there included) is never reused, and the next number is tried
// instead. The descriptor that made the file is the one it is written
// through: in a directory that others may write, the name can be made to
// point elsewhere between a creation and a second open.
#include "platform/temp_files.h"

#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

constexpr unsigned kNameNumbers = 0x10000;  // four hex digits

// Copies text and a trailing "/" into out; the empty text when it does not fit.
void SetDirectory(const char* text, char (&out)[kMaxPath]) {
  size_t length = std::strlen(text);
  bool slash = length > 0 && text[length - 1] == '/';
  if (length + (slash ? 0 : 1) >= kMaxPath) {
    out[0] = '\0';
    return;
  }
  std::memcpy(out, text, length);
  if (!slash) out[length++] = '/';
  out[length] = '\0';
}

// Where the numbers start: different for runs that follow each other, so that
// they rarely meet the names of an earlier run left in place.
unsigned StartNumber() {
  struct timespec now;
  clock_gettime(CLOCK_REALTIME, &now);
  return static_cast<unsigned>(now.tv_nsec / 1000) ^ static_cast<unsigned>(getpid());
}

}  // namespace

void GetTempDirectory(char (&out)[kMaxPath]) {
  const char* tmpdir = std::getenv("TMPDIR");
  if (!tmpdir || !*tmpdir) tmpdir = "/tmp";
  // A relative $TMPDIR is taken from the current directory.
  char canonical[kMaxPath];
  if (GetCanonicalPath(tmpdir, canonical) != 0 || !*canonical) {
    out[0] = '\0';
    return;
  }
  SetDirectory(canonical, out);
}

bool CreateRunFile(const char* directory, const char* prefix, char (&out)[kMaxPath], FileHandle* handle) {
  out[0] = '\0';
  *handle = kNoFile;
  if (!directory || !*directory) return false;
  char folder[kMaxPath];
  SetDirectory(directory, folder);
  if (!*folder) return false;
  const unsigned start = StartNumber();
  for (unsigned k = 0; k < kNameNumbers; ++k) {
    unsigned number = (start + k) % kNameNumbers;
    char name[kMaxPath];
    int length = std::snprintf(name, sizeof name, "%s%s%04X.tmp", folder, prefix, number);
    if (length < 0 || length >= static_cast<int>(sizeof name)) return false;
    int error = CreatePlatformFile(name, handle);
    if (error == 0) {
      std::memcpy(out, name, static_cast<size_t>(length) + 1);
      return true;
    }
    // Only a name that is taken is worth another try; a missing or closed
    // directory refuses every name.
    if (error != EEXIST) return false;
  }
  return false;
}

bool CreateTempFile(const char* directory, const char* prefix, char (&out)[kMaxPath]) {
  FileHandle handle = kNoFile;
  if (!CreateRunFile(directory, prefix, out, &handle)) return false;
  (void)ClosePlatformFile(handle);
  return true;
}
