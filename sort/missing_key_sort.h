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

#include <cstddef>
#include <cstdint>

#include "csv/csv_record.h"
#include "driver/options.h"
#include "sort/rank_quicksort.h"
#include "sort/ranking.h"
#include "sort/sort_limits.h"

// The sample entries of a range of m slots, consecutive entries of one slot
// taken together as a run; slots are offsets from the range's first.
struct SampleRuns {
  bool ready;
  int32_t count;
  int32_t pivotSlot;
  int32_t slot[kSamplePositions];
  int32_t length[kSamplePositions];
};

// What the sort of a chunk lacking key fields works in: each record's ranks
// key by key, which keys it holds, and whether it lacks any.
struct LackingSort {
  uint16_t keyRanks[kChunkRecords * kMaxSortKeys];
  uint64_t presence[kChunkRecords];
  uint8_t lacking[kChunkRecords];
  size_t keyStride;
  uint64_t comparisons;
  // Positions depend only on the size of a range: kept for the sizes below 513.
  SampleRuns smallRuns[kSamplePositions];
  // clean[x] == stamp: slot x was compared with the pass's slot since either
  // last changed. A new stamp makes every slot unclean.
  uint32_t clean[kChunkRecords];
  uint32_t stamp;
};

// Sorts items[0..count) (rank << 32 | index into records, ranks as
// RankRecords gives them) as the chunk quicksort of sort/chunk_quicksort.h
// sorts records[0..count) with the comparison of records, missing key fields
// skipped pair by pair: the same permutation. Returns the number of record
// comparisons made.
uint64_t SortItemsLackingKeys(LackingSort& sort, Ranking& ranking, RankQuicksort& quicksort, uint64_t* items,
                              CsvRecord* const* records, int32_t count, const CsvSortOption& options);
