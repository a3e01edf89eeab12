// The external sort: chunks of at most 65536 records, each sorted in memory and
// written to a run file, then merged into the output.
#pragma once

#include <cstdint>

#include "csv/csv_file.h"
#include "driver/options.h"
#include "sort/missing_key_sort.h"
#include "sort/rank_quicksort.h"
#include "sort/ranking.h"
#include "sort/sort_limits.h"

// Sorts inputPath into outputPath through run files; returns after the merge.
void SortCsvFile(CsvSortOption& options);

// Fills the record buffer from the open input (up to 65536 records, the end of
// the file or a read that yields no field) and logs the count.
void LoadChunk(CsvFile* input, const CsvSortOption& options);

// What the sort of a chunk works in, made once and kept from chunk to chunk
// (its tables fill as chunks need them): the ranking, the quicksort on ranks,
// the sort of records lacking key fields, and the chunk's ranks and items.
// Zero-initialised, as a static or value-initialised object is.
struct ChunkSorter {
  Ranking ranking;
  RankQuicksort quicksort;
  LackingSort lacking;
  uint32_t ranks[kChunkRecords];
  uint64_t items[kChunkRecords];
  CsvRecord* unsorted[kChunkRecords];  // the records in their order before sorting
};

// Sorts records[0..count), 1 <= count <= 65536, into the order of the chunk
// quicksort of sort/chunk_quicksort.h, equal records included. First checks
// every record against every key (missing-key warning, number fields too
// long), then ranks the records and sorts them by rank.
void SortChunk(ChunkSorter& sorter, CsvRecord** records, int32_t count, const CsvSortOption& options);

// Writes slots 0..bufferCount-1 to a new run file, releasing each record once
// written, and adds the file's name to fileNames.
void WriteRunFile(CsvSortOption& options);

// The record buffer, and setting the number of slots in use (a chunk made
// without LoadChunk).
[[nodiscard]] CsvRecord** RecordBuffer();
void SetBufferCount(uint32_t count);
