// A preload library for tests: makes one chosen file-system call of the tool
// fail with a chosen error number, or cuts every read short.
//
//   FAULT_DIR=/abs/dir   only calls on files inside this directory count: open,
//                        open64, openat, unlink, unlinkat and rename by their
//                        path (either path for rename); read, write, close,
//                        ftruncate and flock by a descriptor that a counted
//                        open returned. Everything else (the loader, the
//                        standard streams, the run's other files) passes
//                        through uncounted, so the numbering does not depend
//                        on how the process starts.
//   FAULT_CALL=N         the Nth counted call (from 1, one count across all of
//                        these functions) fails; 0 or unset: none fails.
//   FAULT_ERRNO=E        the error number, by name (EIO, ENOSPC, EACCES, EMFILE,
//                        ...) or as a number; EIO when unset.
//   FAULT_SHORT_READ=N   every counted read returns at most N bytes (N >= 1),
//                        as a pipe or a slow device may: a reader that takes a
//                        short read for the end, or expects whole records,
//                        shows it.
//   FAULT_REPORT=path    at exit, "calls=<counted calls> injected=<name or ->
//                        shortened=<reads cut short>" is written there.
//   FAULT_LINK=target    right after a counted open has made a new file
//                        (O_EXCL), the file is moved aside to <path>.taken and
//                        a symbolic link to target takes its name: what
//                        another user of a directory without the sticky bit
//                        can do at the worst moment.
//
// A failed call does nothing, except close, which does release the
// descriptor before it reports the error (as Linux does for a late write
// error).
#include <dlfcn.h>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

constexpr int kTrackedDescriptors = 4096;

char faultDirectory[4096];
size_t directoryLength = 0;
long failAt = 0;
int errorNumber = EIO;
size_t shortRead = 0;  // 0: reads are not cut
long calls = 0;
long shortened = 0;
const char* injected = nullptr;
bool trackedDescriptors[kTrackedDescriptors];
bool ready = false;

template <typename F>
F Real(const char* name) {
  return reinterpret_cast<F>(dlsym(RTLD_NEXT, name));
}

int ErrnoByName(const char* text) {
  static const struct {
    const char* name;
    int value;
  } kNames[] = {{"EIO", EIO},     {"ENOSPC", ENOSPC}, {"EACCES", EACCES}, {"EMFILE", EMFILE},
                {"EFBIG", EFBIG}, {"EDQUOT", EDQUOT}, {"EPERM", EPERM},   {"ENFILE", ENFILE},
                {"EINTR", EINTR}, {"EROFS", EROFS},   {"EBUSY", EBUSY},   {"ENOENT", ENOENT}};
  for (const auto& entry : kNames) {
    if (std::strcmp(text, entry.name) == 0) return entry.value;
  }
  int value = std::atoi(text);
  return value > 0 ? value : EIO;
}

void Setup() {
  if (ready) return;
  ready = true;
  if (const char* directory = std::getenv("FAULT_DIR")) {
    directoryLength = std::strlen(directory);
    if (directoryLength >= sizeof faultDirectory - 1) directoryLength = 0;
    std::memcpy(faultDirectory, directory, directoryLength);
    // The directory itself with a trailing slash: "dir/x" counts, "dir2/x" not.
    if (directoryLength > 0 && faultDirectory[directoryLength - 1] != '/') {
      faultDirectory[directoryLength++] = '/';
    }
    faultDirectory[directoryLength] = '\0';
  }
  if (const char* call = std::getenv("FAULT_CALL")) failAt = std::atol(call);
  if (const char* number = std::getenv("FAULT_ERRNO")) errorNumber = ErrnoByName(number);
  if (const char* most = std::getenv("FAULT_SHORT_READ")) {
    const long bytes = std::atol(most);
    shortRead = bytes > 0 ? static_cast<size_t>(bytes) : 0;
  }
}

bool Inside(const char* path) {
  Setup();
  return directoryLength > 0 && path && std::strncmp(path, faultDirectory, directoryLength) == 0;
}

bool Tracked(int descriptor) {
  Setup();
  return descriptor >= 0 && descriptor < kTrackedDescriptors && trackedDescriptors[descriptor];
}

// Counts a call; true when it is the one that must fail (errno is then set).
bool Fails(const char* function) {
  ++calls;
  if (failAt <= 0 || calls != failAt) return false;
  injected = function;
  errno = errorNumber;
  return true;
}

void Track(int descriptor, bool tracked) {
  if (descriptor >= 0 && descriptor < kTrackedDescriptors) trackedDescriptors[descriptor] = tracked;
}

mode_t ModeArgument(int flags, va_list args) {
  return (flags & (O_CREAT | O_TMPFILE)) ? static_cast<mode_t>(va_arg(args, int)) : 0;
}

// FAULT_LINK: the name of a file just made leads elsewhere from now on.
void TakeName(const char* path) {
  const char* target = std::getenv("FAULT_LINK");
  if (!target) return;
  static auto realRename = Real<int (*)(const char*, const char*)>("rename");
  char aside[4096];
  if (std::snprintf(aside, sizeof aside, "%s.taken", path) >= static_cast<int>(sizeof aside)) return;
  if (realRename(path, aside) == 0) (void)symlink(target, path);
}

int OpenCounted(const char* function, int (*real)(const char*, int, ...), const char* path, int flags,
                mode_t mode) {
  const bool counted = Inside(path);
  if (counted && Fails(function)) return -1;
  int descriptor = real(path, flags, mode);
  if (counted) Track(descriptor, true);
  if (counted && descriptor >= 0 && (flags & O_EXCL)) TakeName(path);
  return descriptor;
}

__attribute__((destructor)) void WriteReport() {
  const char* path = std::getenv("FAULT_REPORT");
  if (!path) return;
  char text[160];
  int length = std::snprintf(text, sizeof text, "calls=%ld injected=%s shortened=%ld\n", calls,
                             injected ? injected : "-", shortened);
  static auto realOpen = Real<int (*)(const char*, int, ...)>("open");
  static auto realWrite = Real<ssize_t (*)(int, const void*, size_t)>("write");
  static auto realClose = Real<int (*)(int)>("close");
  int descriptor = realOpen(path, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (descriptor < 0) return;
  (void)realWrite(descriptor, text, static_cast<size_t>(length));
  realClose(descriptor);
}

}  // namespace

extern "C" {

int open(const char* path, int flags, ...) {
  static auto real = Real<int (*)(const char*, int, ...)>("open");
  va_list args;
  va_start(args, flags);
  mode_t mode = ModeArgument(flags, args);
  va_end(args);
  return OpenCounted("open", real, path, flags, mode);
}

int open64(const char* path, int flags, ...) {
  static auto real = Real<int (*)(const char*, int, ...)>("open64");
  va_list args;
  va_start(args, flags);
  mode_t mode = ModeArgument(flags, args);
  va_end(args);
  return OpenCounted("open64", real, path, flags, mode);
}

int __open_2(const char* path, int flags) {
  static auto real = Real<int (*)(const char*, int, ...)>("open");
  return OpenCounted("open", real, path, flags, 0);
}

int __open64_2(const char* path, int flags) {
  static auto real = Real<int (*)(const char*, int, ...)>("open64");
  return OpenCounted("open64", real, path, flags, 0);
}

int openat(int directory, const char* path, int flags, ...) {
  static auto real = Real<int (*)(int, const char*, int, ...)>("openat");
  va_list args;
  va_start(args, flags);
  mode_t mode = ModeArgument(flags, args);
  va_end(args);
  const bool counted = Inside(path);
  if (counted && Fails("openat")) return -1;
  int descriptor = real(directory, path, flags, mode);
  if (counted) Track(descriptor, true);
  return descriptor;
}

ssize_t read(int descriptor, void* buffer, size_t size) {
  static auto real = Real<ssize_t (*)(int, void*, size_t)>("read");
  if (!Tracked(descriptor)) return real(descriptor, buffer, size);
  if (Fails("read")) return -1;
  if (shortRead > 0 && size > shortRead) {
    ++shortened;
    size = shortRead;
  }
  return real(descriptor, buffer, size);
}

ssize_t write(int descriptor, const void* data, size_t size) {
  static auto real = Real<ssize_t (*)(int, const void*, size_t)>("write");
  if (Tracked(descriptor) && Fails("write")) return -1;
  return real(descriptor, data, size);
}

int close(int descriptor) {
  static auto real = Real<int (*)(int)>("close");
  const bool counted = Tracked(descriptor);
  if (counted) Track(descriptor, false);
  if (counted && Fails("close")) {
    const int error = errno;
    real(descriptor);
    errno = error;
    return -1;
  }
  return real(descriptor);
}

int ftruncate(int descriptor, off_t length) {
  static auto real = Real<int (*)(int, off_t)>("ftruncate");
  if (Tracked(descriptor) && Fails("ftruncate")) return -1;
  return real(descriptor, length);
}

int flock(int descriptor, int operation) {
  static auto real = Real<int (*)(int, int)>("flock");
  if (Tracked(descriptor) && Fails("flock")) return -1;
  return real(descriptor, operation);
}

int unlink(const char* path) {
  static auto real = Real<int (*)(const char*)>("unlink");
  if (Inside(path) && Fails("unlink")) return -1;
  return real(path);
}

int unlinkat(int directory, const char* path, int flags) {
  static auto real = Real<int (*)(int, const char*, int)>("unlinkat");
  if (Inside(path) && Fails("unlinkat")) return -1;
  return real(directory, path, flags);
}

int rename(const char* from, const char* to) {
  static auto real = Real<int (*)(const char*, const char*)>("rename");
  if ((Inside(from) || Inside(to)) && Fails("rename")) return -1;
  return real(from, to);
}

}  // extern "C"
