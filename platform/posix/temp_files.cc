// Stand-in until run files are built.
#include "platform/temp_files.h"

void GetTempDirectory(char (&out)[kMaxPath]) { out[0] = '\0'; }
bool CreateTempFile(const char*, const char*, char (&)[kMaxPath]) { return false; }
