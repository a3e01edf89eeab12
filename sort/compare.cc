// Stand-in until record comparison is built.
#include "sort/compare.h"

#include "driver/exit_codes.h"
#include "driver/log.h"

int CompareRecords(const CsvRecord*, const CsvRecord*, const CsvSortOption&) { FatalError(exit_code::kCommandLine, "compare: not built yet"); }
double ParseNumberField(const char*) { return 0; }
void NormalizeDateTime(const char*, char* out) { out[0] = '\0'; }
const char* MissingKeyWarning() { return nullptr; }
void RecordMissingKeyWarning() {}
