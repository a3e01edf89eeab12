// The external sort: chunks of at most 65536 records, each sorted in memory and
// written to a run file, then merged into the output.
#pragma once

#include <cstdint>

#include "csv/csv_file.h"
#include "driver/options.h"

// A chunk holds at most 65,536 records: so many are sorted in memory at a
// time, and ranks and record indices of a chunk fit in 16 bits.
inline constexpr int kChunkRecords = 65536;
inline constexpr int kMaxRunFiles = kMaxMergeFiles;  // 19: a 20th run file is refused

// Sorts inputPath into outputPath through run files; returns after the merge.
void SortCsvFile(CsvSortOption& options);

// Fills the record buffer from the open input (up to 65536 records, the end of
// the file or a read that yields no field) and logs the count.
void LoadChunk(CsvFile* input, const CsvSortOption& options);

// Sorts slots lo..hi of the record buffer in place, 0 <= lo <= hi < bufferCount.
// First checks every record of the range against every key (missing-key
// warning, number fields too long).
void SortChunk(const CsvSortOption& options, int32_t lo, int32_t hi);

// Writes slots 0..bufferCount-1 to a new run file, releasing each record once
// written, and adds the file's name to fileNames.
void WriteRunFile(CsvSortOption& options);

// The record buffer, and setting the number of slots in use (a chunk made
// without LoadChunk).
[[nodiscard]] CsvRecord** RecordBuffer();
void SetBufferCount(uint32_t count);
