#include "platform/version.h"

#include <windows.h>

#include <new>

namespace {

const char* QueryString(void* block, const char* key) {
  void* value = nullptr;
  UINT length = 0;
  if (!VerQueryValueA(block, key, &value, &length)) return nullptr;
  return static_cast<const char*>(value);
}

}  // namespace

// The strings come from the version resource compiled into the executable
// (string table 041104b0: Japanese, UTF-16). The block lives until the
// process ends, since the strings point into it.
bool GetVersionStrings(const char** internalName, const char** fileVersion, const char** companyName) {
  char path[MAX_PATH] = {};
  GetModuleFileNameA(nullptr, path, MAX_PATH);
  DWORD ignored = 0;
  DWORD size = GetFileVersionInfoSizeA(path, &ignored);
  char* block = new (std::nothrow) char[size + 1];
  if (block == nullptr) return false;
  if (!GetFileVersionInfoA(path, 0, size, block)) {
    delete[] block;
    return false;
  }
  *companyName = QueryString(block, "\\StringFileInfo\\041104b0\\CompanyName");
  *internalName = QueryString(block, "\\StringFileInfo\\041104b0\\InternalName");
  *fileVersion = QueryString(block, "\\StringFileInfo\\041104b0\\FileVersion");
  return true;
}
