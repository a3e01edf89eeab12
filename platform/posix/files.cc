// Stand-in until the file layer is built.
#include "platform/files.h"

#include <cerrno>
#include <csignal>

int OpenPlatformFile(const char*, FileMode, FileHandle*) { return ENOSYS; }
ptrdiff_t ReadPlatformFile(FileHandle, void*, size_t, int* error) { *error = ENOSYS; return -1; }
int WritePlatformFile(FileHandle, const void*, size_t) { return ENOSYS; }
int ClosePlatformFile(FileHandle) { return 0; }
int RemovePlatformFile(const char*) { return ENOSYS; }
void PreparePlatform() { std::signal(SIGXFSZ, SIG_IGN); }
