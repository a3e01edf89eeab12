// The k-way merge of files already in key order into the output file.
#pragma once

#include "csv/csv_record.h"
#include "driver/options.h"

// Merges fileNames[0..fileCount) into outputPath; writes the header record
// first when the sort set one; deletes the inputs when deleteFiles is set.
void MergeCsvFiles(CsvSortOption& options);

// The title record of a sort with /C: null unless one was read.
void SetHeaderRecord(CsvRecord* record);
