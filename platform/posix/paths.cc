// Stand-in until the path layer is built.
#include "platform/paths.h"

#include <cstring>

int GetCanonicalPath(const char* path, char (&out)[kMaxPath]) { std::strncpy(out, path, kMaxPath - 1); out[kMaxPath-1]=0; return 0; }
uint32_t GetPathAttributes(const char*) { return kInvalidFileAttributes; }
bool IsSameFile(const char* a, const char* b) { return std::strcmp(a, b) == 0; }
bool SlashMayStartPath() { return true; }
