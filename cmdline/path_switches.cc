// Stand-in until the path checks are built: refuses every path switch so that
// no run can proceed on unchecked paths.
#include "cmdline/path_switches.h"

#include "driver/exit_codes.h"
#include "driver/log.h"

uint32_t ResolvePath(const char*, char (&)[kMaxPath]) { return kInvalidFileAttributes; }
void SetInputPath(const char*, CsvSortOption&) { FatalError(exit_code::kCommandLine, "/I: not built yet"); }
void SetOutputPath(const char*, CsvSortOption&) { FatalError(exit_code::kCommandLine, "/O: not built yet"); }
void SetWorkDirectory(const char*, CsvSortOption&) { FatalError(exit_code::kCommandLine, "/W: not built yet"); }
void SetMergeFiles(const char*, CsvSortOption&) { FatalError(exit_code::kCommandLine, "/M: not built yet"); }
