#include "platform/files.h"

#include <fcntl.h>
#include <io.h>
#include <share.h>
#include <sys/stat.h>

#include <cerrno>
#include <climits>
#include <cstdio>

// Files are runtime descriptors opened with share modes: reading denies others
// writing, writing denies others everything. The system checks the share mode
// before it empties a file, so a refused write open changes nothing.

int OpenPlatformFile(const char* path, FileMode mode, FileHandle* handle) {
  int descriptor = -1;
  errno_t error = mode == FileMode::kRead
                      ? _sopen_s(&descriptor, path, _O_RDONLY | _O_BINARY, _SH_DENYWR, 0)
                      : _sopen_s(&descriptor, path, _O_WRONLY | _O_CREAT | _O_TRUNC | _O_BINARY,
                                 _SH_DENYRW, _S_IREAD | _S_IWRITE);
  if (error != 0) {
    *handle = kNoFile;
    return error;
  }
  *handle = descriptor;
  return 0;
}

ptrdiff_t ReadPlatformFile(FileHandle handle, void* buffer, size_t size, int* error) {
  unsigned int count = size > INT_MAX ? INT_MAX : static_cast<unsigned int>(size);
  int got = _read(static_cast<int>(handle), buffer, count);
  if (got < 0) {
    *error = errno;
    return -1;
  }
  return got;
}

int WritePlatformFile(FileHandle handle, const void* data, size_t size) {
  const char* bytes = static_cast<const char*>(data);
  while (size > 0) {
    unsigned int count = size > INT_MAX ? INT_MAX : static_cast<unsigned int>(size);
    int written = _write(static_cast<int>(handle), bytes, count);
    if (written < 0) return errno;
    // A short count without an error means the disk is full.
    if (written == 0) return ENOSPC;
    bytes += written;
    size -= static_cast<size_t>(written);
  }
  return 0;
}

int ClosePlatformFile(FileHandle handle) {
  return _close(static_cast<int>(handle)) == 0 ? 0 : errno;
}

int RemovePlatformFile(const char* path) { return _unlink(path) == 0 ? 0 : errno; }

void PreparePlatform() {
  // The log is text: each line ends in CR LF on this system.
  _setmode(_fileno(stdout), _O_TEXT);
}
