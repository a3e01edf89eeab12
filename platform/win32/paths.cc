#include "platform/paths.h"

#include <windows.h>

#include <cerrno>
#include <cstring>

namespace {

// Opens a file or directory only to ask for its identity; it takes no access,
// so it conflicts with no other process's sharing.
bool GetFileIdentity(const char* path, BY_HANDLE_FILE_INFORMATION* info) {
  HANDLE handle = CreateFileA(path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return false;
  bool ok = GetFileInformationByHandle(handle, info) != 0;
  CloseHandle(handle);
  return ok;
}

// Equal names, letter case ignored as the file system does for the letters A
// to Z; the two bytes of a double-byte character are compared as they are.
bool SameNameIgnoringCase(const char* a, const char* b) {
  auto fold = [](unsigned char c) { return c >= 'A' && c <= 'Z' ? c + ('a' - 'A') : c; };
  for (size_t i = 0;; ++i) {
    const auto byteA = static_cast<unsigned char>(a[i]);
    const auto byteB = static_cast<unsigned char>(b[i]);
    if (byteA == 0 || byteB == 0) return byteA == byteB;
    if (IsDBCSLeadByte(byteA) && a[i + 1] != '\0') {
      if (byteA != byteB || a[i + 1] != b[i + 1]) return false;
      ++i;
      continue;
    }
    if (fold(byteA) != fold(byteB)) return false;
  }
}

}  // namespace

int GetCanonicalPath(const char* path, char (&out)[kMaxPath]) {
  char full[kMaxPath] = {};
  out[0] = '\0';
  // The empty text has no absolute form; it stays the empty text, which names
  // nothing.
  if (path[0] == '\0') return 0;
  DWORD length = GetFullPathNameA(path, kMaxPath, full, nullptr);
  // Too long for the area: the result is the size it would need (or, under
  // some emulations, 0 with ERROR_FILENAME_EXCED_RANGE).
  if (length >= kMaxPath) return ENAMETOOLONG;
  if (length == 0) return GetLastError() == ERROR_FILENAME_EXCED_RANGE ? ENAMETOOLONG : EINVAL;
  // Long names replace short components only when the file exists; otherwise
  // the absolute form stands as it is.
  char longForm[kMaxPath] = {};
  SetLastError(ERROR_SUCCESS);
  length = GetLongPathNameA(full, longForm, kMaxPath);
  if (length >= kMaxPath) return ENAMETOOLONG;
  if (length == 0 && GetLastError() == ERROR_FILENAME_EXCED_RANGE) return ENAMETOOLONG;
  std::memcpy(out, length == 0 ? full : longForm, kMaxPath);
  return 0;
}

uint32_t GetPathAttributes(const char* canonicalPath) {
  DWORD attributes = GetFileAttributesA(canonicalPath);
  if (attributes == INVALID_FILE_ATTRIBUTES) return kInvalidFileAttributes;
  return attributes & (kAttributeDirectory | kAttributeSystem | kAttributeReadOnly);
}

bool IsSameFile(const char* canonicalA, const char* canonicalB) {
  // Both exist: one file whatever its names (another letter case, a hard
  // link, a short name the long form missed), and two files are two even when
  // their names differ only where a double-byte character's second byte is a
  // letter: ア (0x83 0x41) and ヂ (0x83 0x61).
  BY_HANDLE_FILE_INFORMATION a;
  BY_HANDLE_FILE_INFORMATION b;
  if (GetFileIdentity(canonicalA, &a) && GetFileIdentity(canonicalB, &b)) {
    return a.dwVolumeSerialNumber == b.dwVolumeSerialNumber && a.nFileIndexHigh == b.nFileIndexHigh &&
           a.nFileIndexLow == b.nFileIndexLow;
  }
  return SameNameIgnoringCase(canonicalA, canonicalB);
}

bool IsPathLeadByte(unsigned char value) { return IsDBCSLeadByte(value) != 0; }

bool SlashMayStartPath() { return false; }
