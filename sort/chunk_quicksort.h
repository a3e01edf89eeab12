// The chunk quicksort as it is defined: the one statement of the order in
// which a chunk's records leave the sort, equal records included. The sort is
// a quicksort with Hoare's partition whose pivot is chosen by an exchange sort
// of 513 sampled slots (all 131,328 comparisons of every pair of entries), so
// equal records are not kept in input order: two equal records leave second,
// first; three third, second, first; four third, fourth, first, second.
//
// The product sorts by the fast sorts of sort/rank_quicksort.h and
// sort/missing_key_sort.h, which give exactly the permutation that this one
// gives, without its comparisons; both partition with HoarePartition below.
// This template is the literal form the tests, the fuzz targets and the
// micro-benchmarks hold them against: slow on purpose.
#pragma once

#include <cstdint>
#include <utility>
#include <vector>

#include "sort/sample_positions.h"
#include "sort/sort_limits.h"

// Hoare's partition of slots[lo..hi] around a pivot that lies in the range:
// i rises past the slots for which before() holds (their record sorts before
// the pivot), j falls past those for which after() holds, and the two slots
// they stop at are exchanged, until i meets j. The pivot stops both scans
// within the range. Then slots lo..i-1 and j+1..hi are left to be sorted.
template <typename Slot, typename Before, typename After>
inline void HoarePartition(Slot* slots, int32_t lo, int32_t hi, Before before, After after, int32_t& i,
                           int32_t& j) {
  i = lo - 1;
  j = hi + 1;
  for (;;) {
    do ++i;
    while (before(slots[i]));
    do --j;
    while (after(slots[j]));
    if (i >= j) return;
    std::swap(slots[i], slots[j]);
  }
}

// The quicksort over an array of record pointers and a comparison callback
// (negative, 0 or positive), step by step.
template <typename Record, typename Compare>
class ChunkQuicksort {
 public:
  ChunkQuicksort(Record** buffer, Compare compare) : buffer_(buffer), compare_(compare) {}

  // Sorts slots lo..hi: partition, the left part by recursion, the right part
  // by iteration.
  void SortChunk(int32_t lo, int32_t hi) {
    for (;;) {
      Record* pivot = SelectPivot(lo, hi);
      int32_t i;
      int32_t j;
      HoarePartition(
          buffer_, lo, hi, [&](Record* slot) { return Compare2(slot, pivot) < 0; },
          [&](Record* slot) { return Compare2(slot, pivot) > 0; }, i, j);
      if (lo < i - 1) SortChunk(lo, i - 1);
      if (j + 1 >= hi) return;
      lo = j + 1;
    }
  }

  // The exchange sort of the 513 sampled slots: for each entry p, every later
  // entry q whose record compares below p's exchanges with it. Returns the
  // record then at the slot of entry 256.
  Record* SelectPivot(int32_t lo, int32_t hi) {
    SampleList list;
    FillSamplePositions(lo, hi, list);
    for (int p = 0; p < kSamplePositions - 1; ++p) {
      for (int q = p + 1; q < kSamplePositions; ++q) {
        if (Compare2(buffer_[list.positions[p]], buffer_[list.positions[q]]) > 0) {
          std::swap(buffer_[list.positions[p]], buffer_[list.positions[q]]);
        }
      }
    }
    ++pivotChoices_;
    return buffer_[list.positions[kPivotEntry]];
  }

  int64_t comparisons() const { return comparisons_; }
  int64_t pivotChoices() const { return pivotChoices_; }

 private:
  int Compare2(Record* a, Record* b) {
    ++comparisons_;
    return compare_(a, b);
  }

  Record** buffer_;
  Compare compare_;
  int64_t comparisons_ = 0;
  int64_t pivotChoices_ = 0;
};

// Records that stand for real ones by their rank alone: the quicksort over
// them moves its slots as over the records themselves.
struct Ranked {
  uint32_t rank;
  uint32_t index;
};
struct RankedCompare {
  int operator()(const Ranked* a, const Ranked* b) const {
    return a->rank < b->rank ? -1 : (a->rank > b->rank ? 1 : 0);
  }
};

// The input indices in the order the quicksort leaves records of these ranks;
// adds its pivot choices and comparisons to the counts given.
inline std::vector<uint32_t> LiteralOrder(const std::vector<uint32_t>& ranks, int64_t* choices = nullptr,
                                          int64_t* comparisons = nullptr) {
  std::vector<Ranked> records(ranks.size());
  std::vector<Ranked*> buffer(ranks.size());
  for (size_t i = 0; i < ranks.size(); ++i) {
    records[i] = {ranks[i], static_cast<uint32_t>(i)};
    buffer[i] = &records[i];
  }
  ChunkQuicksort<Ranked, RankedCompare> quicksort(buffer.data(), RankedCompare{});
  quicksort.SortChunk(0, static_cast<int32_t>(ranks.size()) - 1);
  if (choices) *choices += quicksort.pivotChoices();
  if (comparisons) *comparisons += quicksort.comparisons();
  std::vector<uint32_t> order;
  order.reserve(buffer.size());
  for (Ranked* record : buffer) order.push_back(record->index);
  return order;
}
