#include "platform/temp_files.h"

#include <windows.h>

#include <algorithm>
#include <cstring>

void GetTempDirectory(char (&out)[kMaxPath]) {
  out[0] = '\0';
  DWORD length = GetTempPathA(kMaxPath, out);
  // A directory name that does not fit leaves the empty text, so no run file
  // can be made in it.
  if (length == 0 || length >= kMaxPath) out[0] = '\0';
}

namespace {

// The length of the longest name GetTempFileNameA can make in directory: a
// separator unless the directory ends in one, the first three characters of
// the prefix, up to four hex digits and ".tmp". A 0x5C that is the second
// byte of a double-byte character is no separator.
size_t LongestTempFileName(const char* directory, const char* prefix) {
  size_t length = 0;
  bool endsInSeparator = false;
  for (const char* p = directory; *p; ++p, ++length) {
    if (IsDBCSLeadByte(static_cast<unsigned char>(*p)) && p[1] != '\0') {
      ++p;
      ++length;
      endsInSeparator = false;
      continue;
    }
    endsInSeparator = *p == '\\' || *p == '/';
  }
  return length + (endsInSeparator ? 0 : 1) + std::min<size_t>(std::strlen(prefix), 3) + 4 + 4;
}

}  // namespace

bool CreateTempFile(const char* directory, const char* prefix, char (&out)[kMaxPath]) {
  out[0] = '\0';
  // The call does not refuse a name that does not fit: for a directory of 248
  // to 259 bytes it has been seen to succeed with the name cut (an empty file
  // of another name left behind) or to crash. A name must fit in 259 bytes.
  if (LongestTempFileName(directory, prefix) >= kMaxPath) return false;
  // With the unique number 0 the system picks a free name and creates the
  // empty file itself.
  return GetTempFileNameA(directory, prefix, 0, out) != 0;
}
