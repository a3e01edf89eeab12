#include "platform/files.h"

#include <fcntl.h>
#include <io.h>
#include <share.h>
#include <sys/stat.h>
#include <windows.h>

#include <cerrno>
#include <climits>
#include <cstdio>

#include "platform/win32/interrupts.h"

// Files are runtime descriptors opened with share modes: reading denies others
// writing, writing denies others everything. A file opened for writing is
// emptied only by EmptyPlatformFile, so a refused open, or a run that fails
// before it writes, changes nothing. The share mode also refuses the file that
// standard output writes to (13): the handle of the log's redirection holds
// it for writing.

namespace {

// Success or failure of an open, kept in the table of open system handles
// that an interrupt closes (platform/win32/signals.cc).
int Opened(errno_t error, int descriptor, FileHandle* handle) {
  if (error != 0) {
    *handle = kNoFile;
    return error;
  }
  *handle = descriptor;
  KeepOpenSystemHandle(descriptor, reinterpret_cast<void*>(_get_osfhandle(descriptor)));
  return 0;
}

}  // namespace

int OpenPlatformFile(const char* path, FileMode mode, FileHandle* handle) {
  int descriptor = -1;
  errno_t error = mode == FileMode::kRead ? _sopen_s(&descriptor, path, _O_RDONLY | _O_BINARY, _SH_DENYWR, 0)
                                          : _sopen_s(&descriptor, path, _O_WRONLY | _O_CREAT | _O_BINARY,
                                                     _SH_DENYRW, _S_IREAD | _S_IWRITE);
  return Opened(error, descriptor, handle);
}

int CreatePlatformFile(const char* path, FileHandle* handle) {
  int descriptor = -1;
  errno_t error = _sopen_s(&descriptor, path, _O_WRONLY | _O_CREAT | _O_EXCL | _O_BINARY, _SH_DENYRW,
                           _S_IREAD | _S_IWRITE);
  return Opened(error, descriptor, handle);
}

int EmptyPlatformFile(FileHandle handle) { return _chsize_s(static_cast<int>(handle), 0); }

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
  if (handle == kNoFile) return 0;
  KeepOpenSystemHandle(static_cast<int>(handle), nullptr);
  return _close(static_cast<int>(handle)) == 0 ? 0 : errno;
}

int RemovePlatformFile(const char* path) { return _unlink(path) == 0 ? 0 : errno; }

void PreparePlatform() {
  // The log is text: each line ends in CR LF on this system.
  if (_fileno(stdout) >= 0) _setmode(_fileno(stdout), _O_TEXT);
}

// The runtime's table holds far more descriptors than a run opens.
void AllowOpenFiles(int) {}

bool AttachStandardStreams() {
  // A process started without a console, or with a standard handle closed or
  // never given, has runtime descriptors 0 to 2 without a usable handle, and
  // the next file opened could take one of them.
  static const DWORD kStandard[] = {STD_INPUT_HANDLE, STD_OUTPUT_HANDLE, STD_ERROR_HANDLE};
  for (int descriptor = 0; descriptor <= 2; ++descriptor) {
    const intptr_t system = _get_osfhandle(descriptor);
    if (system != -1 && system != -2 && system != 0) continue;
    int null = -1;
    if (_sopen_s(&null, "NUL", _O_RDWR | _O_BINARY, _SH_DENYNO, 0) != 0) return false;
    if (null != descriptor) {
      const bool moved = _dup2(null, descriptor) == 0;
      _close(null);
      if (!moved) return false;
    }
    SetStdHandle(kStandard[descriptor], reinterpret_cast<HANDLE>(_get_osfhandle(descriptor)));
  }
  // A runtime stream that started without a handle (the log's stdout among
  // them) keeps no descriptor at all: its writes fail and reach no file.
  return true;
}

bool LogFollowsLocale() { return false; }
