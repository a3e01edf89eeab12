// The pivot choice of ranges under 513 slots: the per-size tables, the flat
// passes of the smallest sizes, two ranks, and the running minima over the
// later entries' keys.
#include "sort/small_pivot.h"

#include <algorithm>
#include <bit>
#include <climits>
#include <iterator>
#include <utility>

namespace {

const SmallSample& SmallSampleOf(SmallPivotTables& tables, int32_t m) {
  SmallSample& sample = tables.samples[m];
  if (!sample.ready) BuildSmallSample(m, sample);
  return sample;
}

// The flat passes of size m, made when the size first comes; the pools hold
// every size below 64.
const FlatSample& FlatSampleOf(SmallPivotTables& tables, int32_t m) {
  FlatSample& flat = tables.flat[m];
  if (flat.ready) return flat;
  const SmallSample& sample = SmallSampleOf(tables, m);
  flat.firstPass = tables.flatPassesUsed;
  flat.firstPartner = tables.flatPartnersUsed;
  flat.pivotSlot = static_cast<uint8_t>(sample.entry[kPivotEntry]);
  ForEachFlatPass(
      sample, [&](int x) { tables.flatPartners[tables.flatPartnersUsed++] = static_cast<uint8_t>(x); },
      [&](int a, int count) {
        tables.flatPasses[tables.flatPassesUsed++] = {static_cast<uint8_t>(a), static_cast<uint8_t>(count)};
      });
  flat.passCount = tables.flatPassesUsed - flat.firstPass;
  flat.ready = true;
  return flat;
}

uint64_t SelectFlatPivot(const SmallPivotTables& tables, uint64_t* v, const FlatSample& flat,
                         uint32_t lowest) {
  const uint8_t* partner = tables.flatPartners + flat.firstPartner;
  const FlatPass* pass = tables.flatPasses + flat.firstPass;
  for (int32_t k = 0; k < flat.passCount; ++k) {
    uint64_t current = v[pass[k].slot];
    uint32_t currentRank = RankOf(current);
    for (int c = 0; c < pass[k].partnerCount && currentRank != lowest; ++c) {
      uint64_t& held = v[partner[c]];
      if (RankOf(held) < currentRank) {
        std::swap(held, current);
        currentRank = RankOf(current);
      }
    }
    v[pass[k].slot] = current;
    partner += pass[k].partnerCount;
  }
  return v[flat.pivotSlot];
}

// The exchange sort over a range of m < 513 slots that hold two ranks, dense
// 0 and 1. A pass whose slot holds the higher rank exchanges with the first
// partner, in the order of their next entries, that holds the lower one, and
// then holds the lowest rank, so the pass is done: each pass is a search for
// the first later entry whose slot holds the lower rank. Only the first entry
// of each slot after the pass's own can be that entry, so one bit is kept per
// slot holding the lower rank, at that entry, and an exchange or the next
// pass moves at most two bits. Ranges keyed by a city mostly hold two ranks
// when they come to fewer than 513 slots (24,230 of the 26,689 such pivot
// choices of the text row); with a bit for every entry of those slots, which
// each exchange had to move, those choices took 363 million instructions,
// with one bit per slot 213 million (callgrind over bench/run.py, row text;
// tarnsek_micro BM_SortChunkSomeTies).
uint64_t SelectTwoRankPivot(uint64_t* v, const SmallSample& sample, uint16_t* dense, int32_t m) {
  uint64_t lower[kWords] = {};  // the first entry after the pass's of each slot holding rank 0
  for (int32_t slot = 0; slot < m; ++slot) {
    const int e = sample.head[slot];
    if (e > 0 && dense[slot] == 0) lower[e >> 6] |= uint64_t{1} << (e & 63);
  }
  for (int p = 0; p < kSamplePositions - 1; ++p) {
    const int a = sample.entry[p];
    if (dense[a] != 0) {
      int w = (p + 1) >> 6;
      uint64_t bits = lower[w] & (~uint64_t{0} << ((p + 1) & 63));
      while (bits == 0 && ++w < kWords) bits = lower[w];
      // No later entry holds rank 0, and only an exchange could give one one:
      // no later pass exchanges anything.
      if (bits == 0) break;
      const int found = (w << 6) + std::countr_zero(bits);
      const int x = sample.entry[found];
      std::swap(v[a], v[x]);
      dense[a] = 0;
      dense[x] = 1;
      lower[found >> 6] &= ~(uint64_t{1} << (found & 63));
      const int own = sample.next[p];
      if (own > 0) lower[own >> 6] |= uint64_t{1} << (own & 63);
    }
    // Entry p + 1 leaves: its slot's next entry, if any, takes over its bit.
    // (Its own bit may stay: searches begin after the pass's entry.)
    const int leaving = p + 1;
    const int following = sample.next[leaving];
    if (following > 0 && dense[sample.entry[leaving]] == 0) {
      lower[following >> 6] |= uint64_t{1} << (following & 63);
    }
  }
  return v[sample.entry[kPivotEntry]];
}

// The exchange sort over a range of m < 513 slots starting at v. Each slot's
// first entry after the pass's own holds the slot's rank as a key, every
// other entry a key that is never smaller, so that a pass is a running
// minimum over the keys of the later entries, found 8 keys at a time, as for
// a sample of 513 distinct slots. Against visiting the later slots one by
// one, this took the 2,459 choices of three ranks or more of the text row
// from about 400 million instructions to 170 million (callgrind over
// bench/run.py, row text).
void ExchangeSortSmall(RankCounts& counts, uint64_t* v, const SmallSample& sample, uint16_t* dense,
                       int distinct, int32_t m) {
  alignas(16) int16_t key[kPaddedSample];
  std::fill(std::begin(key), std::end(key), INT16_MAX);
  counts.Clear(distinct);
  // The slots that have an entry after the pass's own: its partners, and
  // the pass's slot itself while it has later entries.
  for (int32_t slot = 0; slot < m; ++slot) {
    const int e = sample.head[slot];
    if (e > 0) {
      key[e] = static_cast<int16_t>(dense[slot]);
      counts.Add(dense[slot]);
    }
  }
  for (int p = 0; p < kSamplePositions - 1; ++p) {
    const int a = sample.entry[p];
    if (p == 0 || a != sample.entry[p - 1]) {
      // The pass's own slot among the later entries is no partner.
      const int own = sample.next[p];
      if (own > 0) {
        key[own] = INT16_MAX;
        counts.Remove(dense[a]);
      }
      uint64_t current = v[a];
      uint16_t currentRank = dense[a];
      // While a partner holds a smaller rank, the next smaller key exists.
      for (int q = p + 1; currentRank > counts.Lowest(); ++q) {
        q = FirstKeyBelow(key, q, static_cast<int16_t>(currentRank));
        const int x = sample.entry[q];
        counts.Remove(dense[x]);
        counts.Add(currentRank);
        std::swap(v[x], current);
        std::swap(dense[x], currentRank);
        key[q] = static_cast<int16_t>(dense[x]);
      }
      v[a] = current;
      dense[a] = currentRank;
      if (own > 0) {
        key[own] = static_cast<int16_t>(currentRank);
        counts.Add(currentRank);
      }
    }
    // Entry p + 1 leaves the later part; its slot's next entry takes its
    // place, or the slot leaves the partners with its last entry.
    const int leaving = p + 1;
    const int slot = sample.entry[leaving];
    key[leaving] = INT16_MAX;
    const int following = sample.next[leaving];
    if (following > 0) {
      key[following] = static_cast<int16_t>(dense[slot]);
    } else {
      counts.Remove(dense[slot]);
    }
  }
}

uint64_t SelectSortedSmallPivot(SmallPivotTables& tables, DenseNumbering& numbering, uint64_t* v, int32_t m) {
  const SmallSample& sample = SmallSampleOf(tables, m);
  uint32_t ranks[kSamplePositions];
  for (int32_t k = 0; k < m; ++k) ranks[k] = RankOf(v[k]);
  uint16_t dense[kSamplePositions];
  const int distinct = DenseRanks(numbering, ranks, m, dense);
  if (distinct == 2) return SelectTwoRankPivot(v, sample, dense, m);
  // The ranks held once run as classes (see ExchangeSortByClasses in sort/large_pivot.cc): the slots
  // end holding the ranks in ascending order of their last entries, since a
  // slot's last pass leaves it the lowest rank of the slots still to come, so
  // only the tied ranks' items need the run, which then exchanges far less.
  // BM_SortChunkCityThenName went from 78 to 48 ms, the sort by /K 4:2 from
  // 1.8 s to 1.3 s (GNU sort -k4,4 -k2,2: 1.3 s).
  int16_t held[kSamplePositions] = {};
  for (int32_t k = 0; k < m; ++k) ++held[dense[k]];
  uint16_t classOf[kSamplePositions];
  const int classes = TiedClasses(held, distinct, classOf);
  if (classes == distinct) {
    ExchangeSortSmall(tables.counts, v, sample, dense, distinct, m);
    return v[sample.entry[kPivotEntry]];
  }
  uint64_t onlyItem[kSamplePositions];  // the item of each untied rank
  for (int32_t k = 0; k < m; ++k) {
    if (held[dense[k]] == 1) onlyItem[dense[k]] = v[k];
    dense[k] = classOf[dense[k]];
  }
  if (classes == 2) {
    (void)SelectTwoRankPivot(v, sample, dense, m);
  } else if (classes > 2) {
    ExchangeSortSmall(tables.counts, v, sample, dense, classes, m);
  }
  for (int r = 0, at = 0; r < distinct; at += held[r], ++r) {
    if (held[r] == 1) v[sample.byLastEntry[at]] = onlyItem[r];
  }
  return v[sample.entry[kPivotEntry]];
}

}  // namespace

uint64_t SelectSmallPivot(SmallPivotTables& tables, DenseNumbering& numbering, uint64_t* items, int32_t m) {
  if (m < kFlatSizes) {
    uint32_t lowest = RankOf(items[0]);
    for (int32_t k = 1; k < m; ++k) lowest = std::min(lowest, RankOf(items[k]));
    return SelectFlatPivot(tables, items, FlatSampleOf(tables, m), lowest);
  }
  return SelectSortedSmallPivot(tables, numbering, items, m);
}
