// Raw file access on POSIX systems. The sharing rule is kept with advisory
// whole-file locks: a reader holds a shared lock, a writer an exclusive one,
// both taken without waiting. A lock that cannot be taken is reported as
// EACCES (13), the number a refused share gives on the tool's home platform.
#include "platform/files.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>

namespace {

// Takes the lock without waiting; returns 0 or the error number to report.
int LockFile(int descriptor, int operation) {
  while (flock(descriptor, operation | LOCK_NB) != 0) {
    if (errno == EINTR) continue;
    return errno == EWOULDBLOCK ? EACCES : errno;
  }
  return 0;
}

// Closes a descriptor whose open is being refused, keeping the error number.
int Refuse(int descriptor, int error) {
  close(descriptor);
  return error;
}

}  // namespace

int OpenPlatformFile(const char* path, FileMode mode, FileHandle* handle) {
  *handle = kNoFile;
  const bool writing = mode == FileMode::kWrite;
  // No O_TRUNC: the file is emptied only once the exclusive lock is held, so a
  // refused open leaves another process's file as it was.
  const int flags = writing ? O_WRONLY | O_CREAT | O_CLOEXEC : O_RDONLY | O_CLOEXEC;
  int descriptor;
  do {
    descriptor = open(path, flags, 0666);
  } while (descriptor < 0 && errno == EINTR);
  if (descriptor < 0) return errno;

  if (!writing) {
    // A folder opens for reading here but cannot be read as a file.
    struct stat status;
    if (fstat(descriptor, &status) != 0) return Refuse(descriptor, errno);
    if (S_ISDIR(status.st_mode)) return Refuse(descriptor, EISDIR);
  }
  if (int error = LockFile(descriptor, writing ? LOCK_EX : LOCK_SH)) return Refuse(descriptor, error);
  if (writing && ftruncate(descriptor, 0) != 0) return Refuse(descriptor, errno);
  *handle = descriptor;
  return 0;
}

ptrdiff_t ReadPlatformFile(FileHandle handle, void* buffer, size_t size, int* error) {
  for (;;) {
    ssize_t count = read(static_cast<int>(handle), buffer, size);
    if (count >= 0) return count;
    if (errno == EINTR) continue;
    *error = errno;
    return -1;
  }
}

int WritePlatformFile(FileHandle handle, const void* data, size_t size) {
  const char* from = static_cast<const char*>(data);
  while (size > 0) {
    ssize_t count = write(static_cast<int>(handle), from, size);
    if (count < 0) {
      if (errno == EINTR) continue;
      return errno;
    }
    if (count == 0) return EIO;
    from += count;
    size -= static_cast<size_t>(count);
  }
  return 0;
}

int ClosePlatformFile(FileHandle handle) {
  if (handle == kNoFile) return 0;
  // The descriptor is released even when close reports EINTR; only a real
  // error (such as a delayed write failure) is reported.
  if (close(static_cast<int>(handle)) != 0 && errno != EINTR) return errno;
  return 0;
}

int RemovePlatformFile(const char* path) {
  // A file that another open holds may not be deleted: try the exclusive lock
  // first. A file that cannot be opened at all is left to unlink to judge.
  int descriptor = open(path, O_RDONLY | O_CLOEXEC);
  if (descriptor >= 0) {
    if (int error = LockFile(descriptor, LOCK_EX)) return Refuse(descriptor, error);
  }
  int result = unlink(path) == 0 ? 0 : errno;
  if (descriptor >= 0) close(descriptor);
  return result;
}

void PreparePlatform() {
  // Beyond a file-size limit a write must fail with EFBIG, which the tool
  // reports, rather than end the process with a signal.
  std::signal(SIGXFSZ, SIG_IGN);
}
