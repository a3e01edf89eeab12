// The quicksort on ranks: the ranges whose ranks are all equal or all
// distinct placed directly, every other range partitioned around the pivot
// that the exchange sort of its sample chooses.
#include "sort/rank_quicksort.h"

#include <algorithm>
#include <iterator>

#include "sort/chunk_quicksort.h"
#include "sort/large_pivot.h"
#include "sort/small_pivot.h"

namespace {

// A range whose ranks are all equal ends in an order that depends on its size
// alone: the partition exchanges slot lo with hi, lo + 1 with hi - 1 and so
// on, which reverses the range, and leaves the lower half and the upper half
// (less the middle slot when the size is odd) to be sorted the same way.
template <typename T>
void ReverseAsTheQuicksortDoes(T* slots, int32_t n) {
  while (n > 1) {
    std::reverse(slots, slots + n);
    const int32_t half = n / 2;
    ReverseAsTheQuicksortDoes(slots, half);
    slots += n - half;
    n = half;
  }
}

// That order is kept per size as offsets, so that such a range is put in
// order by one gather instead of a rank check and a partition per level:
// on the text row, where a city's records come to ranges of their own, this
// took the quicksort outside its pivot choices from 345 million instructions
// to 212 million (callgrind over bench/run.py, row text).
void SortEqualRange(RankQuicksort& sort, uint64_t* items, int32_t lo, int32_t hi) {
  const int32_t n = hi - lo + 1;
  if (sort.equalOrderAt[n] == 0) {
    if (sort.equalOrderUsed + n > kEqualOrderPool) {
      ReverseAsTheQuicksortDoes(items + lo, n);
      return;
    }
    uint16_t* order = sort.equalOrderPool + sort.equalOrderUsed;
    for (int32_t k = 0; k < n; ++k) order[k] = static_cast<uint16_t>(k);
    ReverseAsTheQuicksortDoes(order, n);
    sort.equalOrderAt[n] = sort.equalOrderUsed + 1;
    sort.equalOrderUsed += n;
  }
  const uint16_t* order = sort.equalOrderPool + sort.equalOrderAt[n] - 1;
  std::copy(items + lo, items + hi + 1, sort.scratch);
  for (int32_t k = 0; k < n; ++k) items[lo + k] = sort.scratch[order[k]];
}

// A range whose ranks are all distinct, in rank order. Its items are placed
// by their ranks: directly when the ranks are consecutive, as they are in a
// chunk whose keys tell every record apart, and otherwise by two counting
// passes over the 16-bit ranks. With std::sort of the items, a chunk on two
// such keys took 8.8 ms to sort, this way 6.1 ms (tarnsek_micro
// BM_SortChunkEveryKeyPresent), and the two-key row of bench/run.py 0.47 s,
// this way 0.41 s (interleaved runs); small ranges are not worth a pass.
void SortDistinctRange(RankQuicksort& sort, uint64_t* items, int32_t lo, int32_t hi) {
  const int32_t n = hi - lo + 1;
  if (n < 256) {
    std::sort(items + lo, items + hi + 1);
    return;
  }
  uint64_t* range = items + lo;
  uint32_t lowest = RankOf(range[0]);
  uint32_t highest = lowest;
  for (int32_t k = 1; k < n; ++k) {
    lowest = std::min(lowest, RankOf(range[k]));
    highest = std::max(highest, RankOf(range[k]));
  }
  if (highest - lowest == static_cast<uint32_t>(n - 1)) {
    for (int32_t k = 0; k < n; ++k) sort.scratch[RankOf(range[k]) - lowest] = range[k];
    std::copy(sort.scratch, sort.scratch + n, range);
    return;
  }
  uint32_t low[256] = {};
  uint32_t high[256] = {};
  for (int32_t k = 0; k < n; ++k) {
    const uint32_t rank = RankOf(range[k]);
    ++low[rank & 0xFF];
    ++high[(rank >> 8) & 0xFF];
  }
  uint32_t lowAt = 0;
  uint32_t highAt = 0;
  for (int digit = 0; digit < 256; ++digit) {
    const uint32_t lows = low[digit];
    const uint32_t highs = high[digit];
    low[digit] = lowAt;
    high[digit] = highAt;
    lowAt += lows;
    highAt += highs;
  }
  for (int32_t k = 0; k < n; ++k) sort.scratch[low[RankOf(range[k]) & 0xFF]++] = range[k];
  for (int32_t k = 0; k < n; ++k) range[high[(RankOf(sort.scratch[k]) >> 8) & 0xFF]++] = sort.scratch[k];
}

enum class RangeKind { kMixed, kAllEqual, kAllDistinct };

RangeKind KindOf(RankQuicksort& sort, const uint64_t* items, int32_t lo, int32_t hi) {
  if (++sort.markGeneration == 0) {
    std::fill(std::begin(sort.rankMark), std::end(sort.rankMark), 0);
    sort.markGeneration = 1;
  }
  const uint32_t generation = sort.markGeneration;
  const uint32_t firstRank = RankOf(items[lo]);
  bool allEqual = true;
  bool distinct = true;
  for (int32_t k = lo; k <= hi; ++k) {
    const uint32_t rank = RankOf(items[k]);
    if (rank != firstRank) allEqual = false;
    if (sort.rankMark[rank] == generation) distinct = false;
    sort.rankMark[rank] = generation;
    if (!allEqual && !distinct) return RangeKind::kMixed;
  }
  if (distinct) return RangeKind::kAllDistinct;
  return allEqual ? RangeKind::kAllEqual : RangeKind::kMixed;
}

void SortRange(RankQuicksort& sort, uint64_t* items, int32_t lo, int32_t hi) {
  for (;;) {
    uint32_t pivotRank = 0;
    switch (KindOf(sort, items, lo, hi)) {
      case RangeKind::kAllDistinct:
        // Item order is rank order when no two ranks are equal.
        SortDistinctRange(sort, items, lo, hi);
        return;
      case RangeKind::kAllEqual:
        SortEqualRange(sort, items, lo, hi);
        return;
      case RangeKind::kMixed:
        pivotRank = RankOf(SelectPivot(sort, items, lo, hi));
        break;
    }
    int32_t i;
    int32_t j;
    HoarePartition(
        items, lo, hi, [pivotRank](uint64_t item) { return RankOf(item) < pivotRank; },
        [pivotRank](uint64_t item) { return RankOf(item) > pivotRank; }, i, j);
    if (lo < i - 1) SortRange(sort, items, lo, i - 1);
    if (j + 1 >= hi) return;
    lo = j + 1;
  }
}

}  // namespace

uint64_t SelectPivot(RankQuicksort& sort, uint64_t* items, int32_t lo, int32_t hi) {
  if (hi - lo + 1 < kSamplePositions)
    return SelectSmallPivot(sort.small, sort.numbering, items + lo, hi - lo + 1);
  return SelectLargePivot(sort.numbering, items, lo, hi);
}

void SortRankedRange(RankQuicksort& sort, uint64_t* items, int32_t lo, int32_t hi) {
  SortRange(sort, items, lo, hi);
}

void SortRankedSlots(RankQuicksort& sort, uint64_t* items, int32_t count) {
  if (count > 0) SortRange(sort, items, 0, count - 1);
}
