// The run's options and its sort keys: made once by the command line, read by
// the sort, the merge and the record comparison, never released.
#pragma once

#include <cstdint>

#include "driver/key_type.h"
#include "driver/limits.h"

struct CsvSortKey {
  KeyType keyType;
  int32_t fieldIndex;  // zero-based field position, 0 to 63
  int32_t order;       // +1 ascending, -1 descending
};

struct CsvSortOption {
  char* inputPath;  // set: the run is a sort of this file
  char* outputPath;
  char* workDirectory;              // null: run files go to the system's temporary directory
  char* fileNames[kMaxMergeFiles];  // the merge's inputs: /M files or run files
  int32_t fileCount;
  bool tabSeparated;  // /T
  bool deleteFiles;   // the merge deletes its inputs (run files) when done
  bool hasCaption;    // /C: the first input record is a title record
  // Keys in order of significance; read up to the first null slot or 64 keys.
  CsvSortKey* sortKeys[kMaxSortKeys];
};

[[nodiscard]] CsvSortOption* CreateCsvSortOption();
[[nodiscard]] CsvSortKey* CreateCsvSortKey(KeyType keyType, int32_t fieldIndex, int32_t order);

// The number of keys in use: slots up to the first null one, at most 64.
[[nodiscard]] int CountSortKeys(const CsvSortOption& options);
