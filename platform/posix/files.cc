// Raw file access on POSIX systems. The sharing rule is kept with advisory
// whole-file locks: a reader holds a shared lock, a writer an exclusive one,
// both taken without waiting. A lock that cannot be taken is reported as
// EACCES (13), the number a refused share gives on the tool's home platform.
#include "platform/files.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstring>

#include "platform/paths.h"

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

// The files CreatePlatformFile made (the run files), by name and identity.
// In a directory that others may write, a name can be made to lead to another
// file between the writing and the reading: such a file is refused when it
// is opened again by that name. Far more than the 19 run files of a run.
struct MadeFile {
  char path[kMaxPath];
  dev_t device;
  ino_t inode;
};
constexpr int kMaxMadeFiles = 64;
MadeFile madeFiles[kMaxMadeFiles];
int nextMadeFile = 0;

MadeFile* FindMade(const char* path) {
  for (MadeFile& made : madeFiles) {
    if (made.path[0] && std::strcmp(made.path, path) == 0) return &made;
  }
  return nullptr;
}

void RememberMade(const char* path, int descriptor) {
  struct stat status;
  if (std::strlen(path) >= kMaxPath || fstat(descriptor, &status) != 0) return;
  MadeFile* made = FindMade(path);
  if (!made) {
    made = &madeFiles[nextMadeFile];
    nextMadeFile = (nextMadeFile + 1) % kMaxMadeFiles;
  }
  std::strcpy(made->path, path);
  made->device = status.st_dev;
  made->inode = status.st_ino;
}

}  // namespace

int OpenPlatformFile(const char* path, FileMode mode, FileHandle* handle) {
  *handle = kNoFile;
  const bool writing = mode == FileMode::kWrite;
  // No O_TRUNC: the file is emptied by EmptyPlatformFile, once the exclusive
  // lock is held and the run is ready to write, so a refused open leaves
  // another process's file as it was.
  const MadeFile* made = writing ? nullptr : FindMade(path);
  // A run file read again is never reached through a link (ELOOP).
  const int flags = writing ? O_WRONLY | O_CREAT | O_CLOEXEC : O_RDONLY | O_CLOEXEC | (made ? O_NOFOLLOW : 0);
  int descriptor;
  do {
    descriptor = open(path, flags, 0666);
  } while (descriptor < 0 && errno == EINTR);
  if (descriptor < 0) return errno;

  struct stat status;
  if (fstat(descriptor, &status) != 0) return Refuse(descriptor, errno);
  if (writing) {
    // The log's own file, as a shell's "> out.csv" makes it: the lock would
    // not tell, the log holds none.
    struct stat log;
    if (fstat(STDOUT_FILENO, &log) == 0 && log.st_dev == status.st_dev && log.st_ino == status.st_ino) {
      return Refuse(descriptor, EACCES);
    }
  } else {
    // A folder opens for reading here but cannot be read as a file.
    if (S_ISDIR(status.st_mode)) return Refuse(descriptor, EISDIR);
    // Another file put in the place of a run file: ESTALE, the file is no
    // longer the one that was made.
    if (made && (status.st_dev != made->device || status.st_ino != made->inode)) {
      return Refuse(descriptor, ESTALE);
    }
  }
  if (int error = LockFile(descriptor, writing ? LOCK_EX : LOCK_SH)) return Refuse(descriptor, error);
  *handle = descriptor;
  return 0;
}

int EmptyPlatformFile(FileHandle handle) {
  while (ftruncate(static_cast<int>(handle), 0) != 0) {
    if (errno != EINTR) return errno;
  }
  return 0;
}

int CreatePlatformFile(const char* path, FileHandle* handle) {
  *handle = kNoFile;
  // O_EXCL refuses any name that exists, a link too; O_NOFOLLOW says so once
  // more. Mode 0600: a run file holds the input's records, which no other
  // user of a shared directory may read.
  int descriptor;
  do {
    descriptor = open(path, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
  } while (descriptor < 0 && errno == EINTR);
  if (descriptor < 0) return errno;
  if (int error = LockFile(descriptor, LOCK_EX)) {
    unlink(path);
    return Refuse(descriptor, error);
  }
  RememberMade(path, descriptor);
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
  // Through a link in the place of a run file no other file is locked.
  MadeFile* made = FindMade(path);
  int descriptor = open(path, O_RDONLY | O_CLOEXEC | (made ? O_NOFOLLOW : 0));
  if (descriptor >= 0) {
    if (int error = LockFile(descriptor, LOCK_EX)) return Refuse(descriptor, error);
  }
  int result = unlink(path) == 0 ? 0 : errno;
  if (descriptor >= 0) close(descriptor);
  if (made && result == 0) made->path[0] = '\0';
  return result;
}

void PreparePlatform() {
  // Beyond a file-size limit a write must fail with EFBIG, which the tool
  // reports, rather than end the process with a signal.
  std::signal(SIGXFSZ, SIG_IGN);
  // A log reader that went away (a pipe into head) makes a log write fail
  // with EPIPE, which the log ignores, and a data write fail with EPIPE, which
  // is reported; neither ends the run with a signal.
  std::signal(SIGPIPE, SIG_IGN);
}

void AllowOpenFiles(int count) {
  struct rlimit limit;
  const auto wanted = static_cast<rlim_t>(count);
  if (getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur >= wanted) return;
  limit.rlim_cur = limit.rlim_max < wanted ? limit.rlim_max : wanted;
  (void)setrlimit(RLIMIT_NOFILE, &limit);
}

bool AttachStandardStreams() {
  for (int descriptor = 0; descriptor <= 2; ++descriptor) {
    if (fcntl(descriptor, F_GETFD) != -1 || errno != EBADF) continue;
    int null;
    do {
      null = open("/dev/null", O_RDWR);
    } while (null < 0 && errno == EINTR);
    if (null < 0) return false;
    // The lowest free descriptor is this one, as those below it are open.
    if (null != descriptor) {
      const bool moved = dup2(null, descriptor) == descriptor;
      close(null);
      if (!moved) return false;
    }
  }
  return true;
}

bool LogFollowsLocale() { return true; }
