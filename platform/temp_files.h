// Run files: a new, empty file of a unique name in a directory.
#pragma once

#include "platform/paths.h"

// The system's temporary directory, with a trailing separator.
void GetTempDirectory(char (&out)[kMaxPath]);

// Creates a new empty file named prefix + four hex digits + ".tmp" in
// directory and puts its full path into out. Returns false when none can be
// made (directory missing or not writable, names exhausted).
[[nodiscard]] bool CreateTempFile(const char* directory, const char* prefix,
                                  char (&out)[kMaxPath]);
