// Stand-in until the chunk sort is built: refuses to run.
#include "sort/chunk_sort.h"

#include "driver/exit_codes.h"
#include "driver/log.h"

void SortCsvFile(CsvSortOption&) { FatalError(exit_code::kCommandLine, "sort: not built yet"); }
