// The chunk quicksort on ranks: the same permutation as the chunk quicksort
// of sort/chunk_quicksort.h gives a chunk's records, equal records included,
// without its comparisons.
//
// Once every record is replaced by its rank, the partition scans and the
// exchange sort of the pivot choice only ever compare ranks, so running them
// on the ranks moves the records exactly as comparing the records would.
// What makes it fast is leaving out the work that cannot move anything.
//
// Words:
// - item: one slot's record, its rank in the high 32 bits and its index in
//   the chunk in the low 32 (MakeItem, RankOf); items compare as ranks do.
// - rank: a record's place among the chunk's records under the keys, equal
//   for records that compare equal (sort/ranking.h).
// - slot: a place of the items array; a range is slots lo..hi.
// - entry: one of the 513 sample positions of a pivot choice, 0 (lo) to 512
//   (hi); in a range of fewer than 513 slots several entries name one slot.
// - pass: step p of the exchange sort of the sample, the item at entry p
//   compared in turn with the items at entries p + 1 to 512, exchanged with
//   any that is smaller.
// - partner: a slot that a pass compares with its own.
// - dense value: a sampled rank numbered from 0 among the sample's distinct
//   ranks.
// - tied value, class: a value held by two entries or more; a class is a tied
//   value, or a run of values held once between two tied ones.
//
// The shortcuts, each as: what it is and where (function); why it gives
// exactly the literal moves; what it saved (callgrind instructions over
// bench/run.py, the row named, or a tarnsek_micro timing); the test that
// holds it. Beyond those named, every shortcut is held against the literal
// quicksort by FastChunkSort.SamePermutationAsTheLiteralQuicksort (rank
// patterns), ChunkSort.SameOrderAsTheLiteralQuicksortOnRecords (records) and
// the chunk_sort fuzz target; the debug build runs them on the scalar loops.
//
// 1. A range of one rank is placed by its size (SortEqualRange).
//    Exact: its partitions exchange lo with hi, lo + 1 with hi - 1 and so on,
//    reversing it, then sort its halves the same way: an order of its size.
//    Saved: the quicksort outside pivot choices, 345 to 212 million (text).
//    Held by: FastChunkSort.EqualRecordsLeaveInTheLiteralOrder.
// 2. A range of distinct ranks is placed by its ranks (SortDistinctRange).
//    Exact: distinct ranks have one sorted order.
//    Saved: BM_SortChunkEveryKeyPresent 8.8 to 6.1 ms; row two 0.47 to 0.41 s.
//    Held by: the kPermutation patterns of the differential test.
// 3. A pass meets only the first entry of each slot after its own, and a
//    pass that repeats the slot of the pass before is left out
//    (ForEachFlatPass, ExchangeSortSmall).
//    Exact: once slot x has met slot a in a pass, a holds a rank no larger
//    than x's for the rest of it; a repeated pass meets what the one before
//    left, in order.
//    Saved: what makes the choices of small ranges small.
//    Held by: FastChunkSort.SelectPivotExchangesAsTheLiteralOne.
// 4. The passes of each size below 64 are listed once (SelectFlatPivot).
//    Exact: the positions depend on the size alone.
//    Saved: ranges under 64, the most frequent, run only their partners.
//    Held by: FastChunkSort.SelectPivotExchangesAsTheLiteralOne.
// 5. A pass ends at the lowest rank its partners hold (RankCounts,
//    SelectFlatPivot, ExchangeSortKeys).
//    Exact: a pass only ever takes a smaller rank.
//    Saved: a third of the small-range choices on a city key
//    (BM_SortChunkSomeTies).
// 6. A range of two ranks: each pass searches the first later entry holding
//    the lower rank (SelectTwoRankPivot).
//    Exact: the pass that takes the lower rank holds the lowest, and is done.
//    Saved: 363 to 213 million (text).
// 7. A pass is a running minimum over keys, found 8 at a time
//    (ExchangeSortSmall, ExchangeSortKeys, FirstKeyBelow).
//    Exact: a pass exchanges exactly at each new minimum of later entries.
//    Saved: small ranges of three ranks or more 400 to 170 million (text);
//    choices over 513 samples about 10 times as fast (BM_SortChunkManyTies).
// 8. 513 distinct sampled ranks go straight to their places
//    (SelectLargePivot).
//    Exact: the exchange sort leaves distinct keys ascending.
// 9. A sample of at most 255 values finds each pass's exchanges from where
//    each value next occurs (ExchangeSortFewValues).
//    Exact: a pass's exchanges depend only on those first occurrences.
//    Saved: 695 to 582 million (text); BM_SortChunkSomeTies 21.5 to 19.9 ms.
// 10. Values held once are placed, only the tied ones run, as few classes
//    (ExchangeSortByClasses, SelectSortedSmallPivot).
//    Exact: a compare-exchange moves a tied value's items alike whatever
//    the other key, as long as its order against the tied value is the same.
//    Saved: BM_SortChunkCityThenName 141 to 48 ms; /K 4:2 3.0 to 1.3 s.
//    Held by: the kOneTied patterns of the differential test.
// 11. The distinct sampled ranks are numbered by marks, not by sorting all
//    513 (DenseRanks): 1,654 to 1,299 million (text).
// 12. 513 keys are ordered by two counting passes (OrderKeys): 97 to 70
//    million (text).
//
// What was tried and left out is in bench/RESULTS.md.
#pragma once

#include <cstdint>

#include "sort/sampled_ranks.h"
#include "sort/small_pivot.h"
#include "sort/sort_limits.h"

// Offsets of the orders of all-equal ranges, for the sizes as they come.
inline constexpr int32_t kEqualOrderPool = 1 << 20;

// What the quicksort on ranks keeps between its ranges and its chunks.
struct RankQuicksort {
  DenseNumbering numbering;
  SmallPivotTables small;
  // Per-rank marks that tell whether a range holds a rank twice: a rank is
  // marked when its mark is the current generation.
  uint32_t rankMark[kChunkRecords];
  uint32_t markGeneration;
  // The order of an all-equal range of each size, as offsets.
  uint16_t equalOrderPool[kEqualOrderPool];
  int32_t equalOrderUsed;
  int32_t equalOrderAt[kChunkRecords + 1];  // 1 + where the offsets of size n begin, or 0
  uint64_t scratch[kChunkRecords];          // the items of an all-equal or all-distinct range being placed
};

// Exchange-sorts the sampled slots of items[lo..hi] and returns the item now
// at the slot of entry 256: the partitioning item of that range.
uint64_t SelectPivot(RankQuicksort& sort, uint64_t* items, int32_t lo, int32_t hi);

// Sorts items[0..count) by rank as the chunk quicksort does. count is at most
// 65536 and ranks are below 65536.
void SortRankedSlots(RankQuicksort& sort, uint64_t* items, int32_t count);
// The same for items[lo..hi] alone, as the quicksort sorts that range.
void SortRankedRange(RankQuicksort& sort, uint64_t* items, int32_t lo, int32_t hi);
