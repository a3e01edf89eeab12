#include "platform/temp_files.h"

#include <windows.h>

void GetTempDirectory(char (&out)[kMaxPath]) {
  out[0] = '\0';
  DWORD length = GetTempPathA(kMaxPath, out);
  // A directory name that does not fit leaves the empty text, so no run file
  // can be made in it.
  if (length == 0 || length >= kMaxPath) out[0] = '\0';
}

bool CreateTempFile(const char* directory, const char* prefix, char (&out)[kMaxPath]) {
  // With the unique number 0 the system picks a free name and creates the
  // empty file itself.
  return GetTempFileNameA(directory, prefix, 0, out) != 0;
}
