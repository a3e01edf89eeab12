#include "platform/paths.h"

#include <windows.h>

#include <cerrno>
#include <cstring>

namespace {

// Opens a file or directory only to ask for its identity; it takes no access,
// so it conflicts with no other process's sharing.
bool GetFileIdentity(const char* path, BY_HANDLE_FILE_INFORMATION* info) {
  HANDLE handle = CreateFileA(path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return false;
  bool ok = GetFileInformationByHandle(handle, info) != 0;
  CloseHandle(handle);
  return ok;
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
  if (_stricmp(canonicalA, canonicalB) == 0) return true;
  // Two names of one file (a hard link, a short name the long form missed).
  BY_HANDLE_FILE_INFORMATION a;
  BY_HANDLE_FILE_INFORMATION b;
  if (!GetFileIdentity(canonicalA, &a) || !GetFileIdentity(canonicalB, &b)) return false;
  return a.dwVolumeSerialNumber == b.dwVolumeSerialNumber &&
         a.nFileIndexHigh == b.nFileIndexHigh && a.nFileIndexLow == b.nFileIndexLow;
}

bool SlashMayStartPath() { return false; }
