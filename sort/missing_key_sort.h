// The chunk quicksort of a chunk in which some record lacks a key field.
//
// A key that either record of a pair lacks is skipped for that pair, so the
// comparison is no longer an order: a record without the first key may tie
// with two records that the first key tells apart. The quicksort's moves then
// depend on every comparison it makes, and no ranking of the records can
// stand in for them; so the quicksort and its 513-sample pivot choice run as
// written, comparing per-key ranks instead of texts, and leave out only the
// comparisons that provably cannot move anything. A range of records that all
// hold every key is ordered, and goes back to the sort on ranks.
#pragma once

#include <cstdint>

#include "csv/csv_file.h"
#include "driver/options.h"

// Sorts items[0..count) (rank << 32 | index into records, ranks as
// RankRecords gives them) as the chunk quicksort sorts records[0..count) with
// the comparison of records, missing key fields skipped pair by pair.
// Returns the number of record comparisons made.
uint64_t SortItemsLackingKeys(uint64_t* items, CsvRecord* const* records, int32_t count,
                              const CsvSortOption& options);
