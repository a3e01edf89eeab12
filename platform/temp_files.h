// Run files: a new, empty file of a unique name in a directory.
#pragma once

#include "platform/files.h"
#include "platform/paths.h"

// The system's temporary directory, with a trailing separator.
void GetTempDirectory(char (&out)[kMaxPath]);

// Creates a new empty file named prefix + four hex digits + ".tmp" in
// directory and puts its full path into out. Returns false when none can be
// made (directory missing or not writable, names exhausted).
[[nodiscard]] bool CreateTempFile(const char* directory, const char* prefix, char (&out)[kMaxPath]);

// Creates a run file as CreateTempFile does and gives back the handle that
// made it, open for writing with the exclusive hold of a file being written:
// the file is written through it and never opened again by name for
// writing. On POSIX the file is made with O_EXCL and O_NOFOLLOW, mode 0600.
// False, with no file left, when none can be made or held.
[[nodiscard]] bool CreateRunFile(const char* directory, const char* prefix, char (&out)[kMaxPath],
                                 FileHandle* handle);
