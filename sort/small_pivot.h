// The pivot choice of a range of fewer than 513 slots, where the 513 sample
// entries name each slot several times. The positions depend only on the
// range's size m, so the exchange sort's passes are kept per size; see
// sort/rank_quicksort.h for the words and the shortcuts.
#pragma once

#include <algorithm>
#include <bit>
#include <cstdint>

#include "sort/sample_positions.h"
#include "sort/sampled_ranks.h"
#include "sort/sort_limits.h"

// The exchange sort of a range of m < 513 slots, as offsets from lo, with the
// entry of the next occurrence of each entry's slot and the entries that are
// the first of their slot from entry 1 on.
struct SmallSample {
  bool ready;
  uint16_t entry[kSamplePositions];
  int16_t next[kSamplePositions];          // the entry of the slot's next occurrence, or -1
  int16_t head[kSamplePositions];          // the first entry of each slot from entry 1 on, or -1
  uint64_t first[kWords];                  // the entries that are their slot's first from entry 1 on
  uint16_t byLastEntry[kSamplePositions];  // the m slots in the order of their last entries
};

constexpr void BuildSmallSample(int32_t m, SmallSample& sample) {
  SampleList list{};
  FillSamplePositions(0, m - 1, list);
  int16_t firstEntry[kSamplePositions] = {};
  std::fill(firstEntry, firstEntry + kSamplePositions, static_cast<int16_t>(-1));
  for (int q = kSamplePositions - 1; q >= 0; --q) {
    const auto slot = static_cast<uint16_t>(list.positions[q]);
    sample.entry[q] = slot;
    sample.next[q] = firstEntry[slot];
    if (q > 0) firstEntry[slot] = static_cast<int16_t>(q);  // entry 0 is no later entry
  }
  std::copy(firstEntry, firstEntry + kSamplePositions, sample.head);
  std::fill(sample.first, sample.first + kWords, uint64_t{0});
  for (int slot = 0; slot < m; ++slot) {
    const int q = firstEntry[slot];
    if (q > 0) sample.first[q >> 6] |= uint64_t{1} << (q & 63);
  }
  // Every slot of a range under 513 has an entry; an entry without a next
  // one is its slot's last.
  int placed = 0;
  for (int q = 0; q < kSamplePositions; ++q) {
    if (sample.next[q] < 0) sample.byLastEntry[placed++] = sample.entry[q];
  }
  sample.ready = true;
}

// The passes of the exchange sort over a small sample that can exchange
// anything, in order: onPass(slot, partners) for each pass with partners,
// after onPartner(x) for each of its partner slots. A pass whose slot is the
// slot of the pass just before it finds nothing to exchange, and only the
// first entry of each slot after the pass's own counts (see the exchange
// sort's shortcuts in sort/rank_quicksort.h).
template <typename OnPartner, typename OnPass>
constexpr void ForEachFlatPass(const SmallSample& sample, OnPartner onPartner, OnPass onPass) {
  uint64_t later[kWords] = {};
  std::copy(sample.first, sample.first + kWords, later);
  for (int p = 0; p < kSamplePositions - 1; ++p) {
    const int a = sample.entry[p];
    if (p == 0 || a != sample.entry[p - 1]) {
      int count = 0;
      for (int w = (p + 1) >> 6; w < kWords; ++w) {
        for (uint64_t bits = later[w]; bits != 0; bits &= bits - 1) {
          const int x = sample.entry[(w << 6) + std::countr_zero(bits)];
          if (x == a) continue;
          onPartner(x);
          ++count;
        }
      }
      if (count > 0) onPass(a, count);
    }
    const int leaving = p + 1;
    later[leaving >> 6] &= ~(uint64_t{1} << (leaving & 63));
    const int following = sample.next[leaving];
    if (following > 0) later[following >> 6] |= uint64_t{1} << (following & 63);
  }
}

// The most frequent ranges, the smallest, keep each pass as its slot and the
// list of its partner slots, so that a pivot choice runs only the
// comparisons that can exchange anything.
inline constexpr int kFlatSizes = 64;

struct FlatPoolSize {
  int32_t passes;
  int32_t partners;
};

// The passes and partners of every size below 64 (3,905 and 88,181).
constexpr FlatPoolSize CountFlatPools() {
  FlatPoolSize size{};
  for (int32_t m = 1; m < kFlatSizes; ++m) {
    SmallSample sample{};
    BuildSmallSample(m, sample);
    ForEachFlatPass(
        sample, [&](int) { ++size.partners; }, [&](int, int) { ++size.passes; });
  }
  return size;
}
inline constexpr FlatPoolSize kFlatPools = CountFlatPools();

struct FlatPass {
  uint8_t slot;
  uint8_t partnerCount;
};

struct FlatSample {
  bool ready;
  int32_t firstPass;
  int32_t passCount;
  int32_t firstPartner;
  uint8_t pivotSlot;
};

// How many of a set of slots hold each rank, the ranks numbered densely from
// 0 (at most 513 of them), and the lowest rank held. A pass of the exchange
// sort can exchange nothing more once its slot's rank is no larger than the
// lowest its remaining partners hold, and a partner it has passed never holds
// less than the pass's slot does now, so the lowest over all its partners
// tells when a pass is done. On inputs with many equal keys most passes end at
// once this way: the pivot choices of ranges under 513 in a chunk keyed by a
// city (about 218 records per value) took a third of the instructions
// (callgrind over tarnsek_micro BM_SortChunkSomeTies).
struct RankCounts {
  uint16_t count[kSamplePositions];
  uint64_t held[kWords];
  int lowest;  // kept as ranks come and go: passes ask for it at every step

  void Clear(int ranks) {
    std::fill(count, count + ranks, uint16_t{0});
    std::fill(held, held + kWords, uint64_t{0});
    lowest = kSamplePositions;
  }
  void Add(int rank) {
    if (count[rank]++ == 0) {
      held[rank >> 6] |= uint64_t{1} << (rank & 63);
      if (rank < lowest) lowest = rank;
    }
  }
  void Remove(int rank) {
    if (--count[rank] == 0) {
      held[rank >> 6] &= ~(uint64_t{1} << (rank & 63));
      if (rank == lowest) lowest = Scan(rank >> 6);
    }
  }
  // The lowest rank held, or kSamplePositions when none is.
  int Lowest() const { return lowest; }

 private:
  int Scan(int from) const {
    for (int w = from; w < kWords; ++w) {
      if (held[w] != 0) return (w << 6) + std::countr_zero(held[w]);
    }
    return kSamplePositions;
  }
};

// What the pivot choices of small ranges keep: each size's sample as it
// first comes, the flat passes of the sizes below 64, and the rank counts of
// the choice being made.
struct SmallPivotTables {
  SmallSample samples[kSamplePositions];
  FlatSample flat[kFlatSizes];
  FlatPass flatPasses[kFlatPools.passes];
  uint8_t flatPartners[kFlatPools.partners];
  int32_t flatPassesUsed;
  int32_t flatPartnersUsed;
  RankCounts counts;
};

// Exchange-sorts the sampled slots of items[0..m), 2 <= m < 513, and returns
// the item then at the slot of entry 256, as SelectPivot does.
uint64_t SelectSmallPivot(SmallPivotTables& tables, DenseNumbering& numbering, uint64_t* items, int32_t m);
