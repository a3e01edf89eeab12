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

// Opens path. kWrite creates the file or empties it, but only once the
// exclusive hold is taken, so a refused open changes nothing. Returns 0 and
// the handle, or the error number.
[[nodiscard]] int OpenPlatformFile(const char* path, FileMode mode, FileHandle* handle);

// Reads up to size bytes. Returns the count (0 at the end), or -1 with *error.
[[nodiscard]] ptrdiff_t ReadPlatformFile(FileHandle handle, void* buffer, size_t size, int* error);

// Writes all size bytes. Returns 0 or the error number.
[[nodiscard]] int WritePlatformFile(FileHandle handle, const void* data, size_t size);

// Closes the handle and gives up its hold. Returns 0 or the error number.
int ClosePlatformFile(FileHandle handle);

// Deletes the file. Returns 0 or the error number.
[[nodiscard]] int RemovePlatformFile(const char* path);

// Process-wide preparation before any file is touched (for example: a
// file-size limit must show as a write error, not a signal).
void PreparePlatform();
