// Run files on a POSIX system: the temporary directory is $TMPDIR, else /tmp;
// a new file is made with O_CREAT | O_EXCL, so a name that exists is never
// reused, and the next number is tried instead.
#include "platform/temp_files.h"

#include <fcntl.h>
#include <sys/stat.h>
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

bool CreateTempFile(const char* directory, const char* prefix, char (&out)[kMaxPath]) {
  out[0] = '\0';
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
    int fd = open(name, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd >= 0) {
      close(fd);
      std::memcpy(out, name, static_cast<size_t>(length) + 1);
      return true;
    }
    // Only a name that is taken is worth another try; a missing or closed
    // directory refuses every name.
    if (errno != EEXIST) return false;
  }
  return false;
}
