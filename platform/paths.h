// Paths and file attributes, as the command line needs them: a canonical form
// (absolute, normalised, one text per file) and the attribute word.
#pragma once

#include <cstddef>
#include <cstdint>

// The bytes of a canonical path and its terminator: the longest path the
// system's own calls take (259 characters on Windows, PATH_MAX less its
// terminator on Linux).
#ifdef _WIN32
inline constexpr size_t kMaxPath = 260;
#else
inline constexpr size_t kMaxPath = 4096;
#endif

inline constexpr uint32_t kInvalidFileAttributes = 0xFFFFFFFFu;  // nothing of that name exists
inline constexpr uint32_t kAttributeReadOnly = 0x01;
inline constexpr uint32_t kAttributeSystem = 0x04;  // exists, neither file nor directory
inline constexpr uint32_t kAttributeDirectory = 0x10;

// The canonical form of path into out. Returns 0, or the platform's error
// number when no canonical form of at most kMaxPath - 1 bytes exists, or the
// system refuses the name as too long (out is then the empty text).
int GetCanonicalPath(const char* path, char (&out)[kMaxPath]);

// The attribute word of a canonical path, or kInvalidFileAttributes.
[[nodiscard]] uint32_t GetPathAttributes(const char* canonicalPath);

// True when two canonical paths name the same file: by file identity when both
// exist, by the texts otherwise (on Windows with the letter case of
// single-byte characters ignored).
[[nodiscard]] bool IsSameFile(const char* canonicalA, const char* canonicalB);

// True when byte begins a double-byte character in the code page of the names
// the system takes, so that the byte after it is never a separator: on
// Windows the system code page's lead bytes (932 on a Japanese system); on a
// POSIX system none, its names being UTF-8, where every byte of a character
// other than ASCII is 0x80 or above.
[[nodiscard]] bool IsPathLeadByte(unsigned char byte);

// On a system whose absolute paths begin with "/", an argument that begins
// with "/" is a switch only when it is exactly one of the switch letters.
[[nodiscard]] bool SlashMayStartPath();
