// Run files on Windows: the system makes a new file of a free name, which is
// then opened for writing with the exclusive hold; a file that cannot be held
// is deleted again.
#include "platform/temp_files.h"

bool CreateRunFile(const char* directory, const char* prefix, char (&out)[kMaxPath], FileHandle* handle) {
  *handle = kNoFile;
  if (!CreateTempFile(directory, prefix, out)) return false;
  if (OpenPlatformFile(out, FileMode::kWrite, handle) == 0) return true;
  (void)RemovePlatformFile(out);
  out[0] = '\0';
  return false;
}
