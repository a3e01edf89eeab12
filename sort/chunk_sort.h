// The external sort: chunks of at most 65536 records, each sorted in memory and
// written to a run file, then merged into the output.
#pragma once

#include "driver/options.h"

inline constexpr int kChunkRecords = 65536;

// Sorts inputPath into outputPath through run files; returns after the merge.
void SortCsvFile(CsvSortOption& options);
