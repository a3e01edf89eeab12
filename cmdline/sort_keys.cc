// Stand-in until the key parser is built: refuses every /K value.
#include "cmdline/sort_keys.h"

#include "driver/exit_codes.h"
#include "driver/log.h"

void ParseSortKeys(CsvSortOption&, const char*) { FatalError(exit_code::kCommandLine, "/K: not built yet"); }
