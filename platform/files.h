// Raw file access under the tool's sharing rule: while a file is open for
// reading, others may only read it; while it is open for writing, nobody else
// may open it. Errors are the platform's error numbers (2: no such file,
// 13: access denied or held by another process).
#pragma once

#include <cstddef>
#include <cstdint>

using FileHandle = intptr_t;
inline constexpr FileHandle kNoFile = -1;

enum class FileMode { kRead, kWrite };

// Opens path. kWrite creates the file when it does not exist and leaves an
// existing one as it is (EmptyPlatformFile empties it), so a refused open, or
// a run that fails before it writes, changes nothing. The file that standard
// output writes to (the log redirected into it) is refused for writing as a
// file held by another (13): the records and the log would overwrite each
// other. Returns 0 and the handle, or the error number.
[[nodiscard]] int OpenPlatformFile(const char* path, FileMode mode, FileHandle* handle);

// Empties a file opened for writing. Returns 0 or the error number.
[[nodiscard]] int EmptyPlatformFile(FileHandle handle);

// Creates path as a new file and opens it for writing with the exclusive
// hold: an existing name, a symbolic link among them, is refused (EEXIST on
// POSIX), and only the owner may read or write the file. Returns 0 and the
// handle, or the error number; a file made but not held is deleted again.
// On POSIX such a file is opened again for reading only while its name still
// leads to that very file: through a link the open fails with ELOOP, and on
// another file put in its place with ESTALE.
[[nodiscard]] int CreatePlatformFile(const char* path, FileHandle* handle);

// Reads up to size bytes. Returns the count (0 at the end), or -1 with *error.
[[nodiscard]] ptrdiff_t ReadPlatformFile(FileHandle handle, void* buffer, size_t size, int* error);

// Writes all size bytes. Returns 0 or the error number.
[[nodiscard]] int WritePlatformFile(FileHandle handle, const void* data, size_t size);

// Closes the handle and gives up its hold. Returns 0 or the error number.
int ClosePlatformFile(FileHandle handle);

// Deletes the file. Returns 0 or the error number.
[[nodiscard]] int RemovePlatformFile(const char* path);

// Process-wide preparation before any file is touched: a file-size limit
// must show as a write error, and a log reader that went away as a failed log
// write, not as a signal.
void PreparePlatform();

// Lets the process hold count files open at once, the standard streams
// included: a limit below that is raised as far as the system lets it, and
// where it cannot be, the files beyond it fail to open as before.
void AllowOpenFiles(int count);

// Gives every standard stream that the process was started without (closed
// descriptors 0 to 2, or no standard handle) the null device, so that no file
// the tool opens takes its place and receives the log. Called first, before
// anything is opened. False when the null device cannot be had.
[[nodiscard]] bool AttachStandardStreams();

// Whether the log follows the locale that the environment names: a Linux
// terminal shows the locale's codeset, so there a UTF-8 locale gets a UTF-8
// log. The Windows console shows code page 932 whatever the environment says.
[[nodiscard]] bool LogFollowsLocale();
