// Reading records: the record syntax of both formats and the limits, a
// record at a time (csv/record_reader.cc).
#pragma once

#include "csv/csv_file.h"
#include "driver/options.h"

// Reads one record into a new CsvRecord that becomes file->record: the
// record syntax of both formats and the limits (csv/record_reader.cc).
void ReadRecord(CsvFile* file, const CsvSortOption& options);
// For tests and fuzzing: with false, ReadRecord takes every record through
// the byte-by-byte scanners, never through the whole-record loop, so that the
// two can be held against each other.
void SetWholeRecordScan(bool enabled);
