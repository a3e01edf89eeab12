// The pivot choice over 513 samples, for ranges of 513 slots or more: the
// sampled ranks numbered densely, then the exchange sort by first
// occurrences, by classes or by running minima.
#include "sort/large_pivot.h"

#include <algorithm>
#include <bit>
#include <climits>
#include <cstring>
#include <utility>

// TARNSEK_SCALAR (the debug build) takes the scalar loop that a processor
// without SSE2 would run, so that it is tested too.
#if defined(__SSE2__) && !defined(TARNSEK_SCALAR)
#include <emmintrin.h>
#endif

#include "sort/sample_positions.h"

namespace {

// The 513 keys in ascending order, by two counting passes over their bytes:
// std::sort took 97 million instructions of the 3,640 pivot choices of the
// text row, and mispredicted branches, the counting passes 70 million
// (callgrind over bench/run.py, row text).
void OrderKeys(const int16_t* key, int16_t* ordered) {
  uint16_t low[kSamplePositions];
  uint16_t rank[kSamplePositions];
  int32_t lowCount[257] = {};
  int32_t highCount[257] = {};
  for (int k = 0; k < kSamplePositions; ++k) {
    rank[k] = static_cast<uint16_t>(static_cast<uint16_t>(key[k]) ^ 0x8000u);
    ++lowCount[(rank[k] & 0xFF) + 1];
    ++highCount[(rank[k] >> 8) + 1];
  }
  for (int b = 0; b < 256; ++b) {
    lowCount[b + 1] += lowCount[b];
    highCount[b + 1] += highCount[b];
  }
  for (int k = 0; k < kSamplePositions; ++k) low[lowCount[rank[k] & 0xFF]++] = rank[k];
  for (int k = 0; k < kSamplePositions; ++k) {
    ordered[highCount[low[k] >> 8]++] = static_cast<int16_t>(low[k] ^ 0x8000u);
  }
}

// Entry values as bytes, padded to whole groups of 16 with a value that no
// entry holds.
constexpr int kValueLanes = 16;
constexpr int kPaddedValues = (kSamplePositions + kValueLanes - 1) / kValueLanes * kValueLanes;
constexpr int kFewValues = 255;  // values 0 to 254; 255 pads

// The first entry at or after `from` whose value is v, or 513 for none.
int NextEntryOf(const uint8_t* value, int from, uint8_t v) {
#if defined(__SSE2__) && !defined(TARNSEK_SCALAR)
  const __m128i wanted = _mm_set1_epi8(static_cast<char>(v));
  int base = from & ~(kValueLanes - 1);
  auto equal = [&](int at) {
    const __m128i lanes = _mm_load_si128(reinterpret_cast<const __m128i*>(value + at));
    return static_cast<uint32_t>(_mm_movemask_epi8(_mm_cmpeq_epi8(lanes, wanted)));
  };
  uint32_t bits = equal(base) & (~0u << (from - base));
  while (bits == 0) {
    base += kValueLanes;
    if (base >= kPaddedValues) return kSamplePositions;
    bits = equal(base);
  }
  return base + std::countr_zero(bits);
#else
  while (from < kSamplePositions && value[from] != v) ++from;
  return from;
#endif
}

// The exchange sort of 513 keys of at most 255 values, numbered densely from
// 0 in key order. A pass's exchanges depend only on where each value first
// occurs after the pass's entry: the first smaller key after entry p is the
// first occurrence of the smaller value that occurs first, the next one the
// first occurrence of the value below that one that occurs first, and so on
// down to the lowest value left. So the values exchanged are those, from the
// lowest value up to the one below the pass's own, whose first occurrence
// comes before that of every value below them; each moves to the first
// occurrence of the next of them, and the lowest to the pass's entry.
// Walking the values upwards meets them in the reverse order of the moves,
// so each item is moved as its value is met. A pass then visits the first
// occurrences, one per value, instead of every entry up to the lowest
// value's first: a value's copies lie spread over the 513 entries, so the
// pass that takes the next one scanned a long way to it (73 entries a pass
// where a sample takes at most 8 values on the text row), while the next copy
// after the one taken is near. The keys come as their dense values, of which
// there are `values`, at most 255, numbered by marking the distinct ranks
// rather than by putting all 513 in order. The 3,640 choices of the text row
// took 582 million instructions instead of 695, and a chunk keyed by a city
// 19.9 ms instead of 21.5 (callgrind over bench/run.py, row text;
// tarnsek_micro BM_SortChunkSomeTies, medians of 8 runs in turn).
void ExchangeSortFewValues(const uint16_t* dense, int values, uint16_t* who) {
  // The value that pass p leaves at p, the p-th smallest.
  uint8_t lowestOf[kSamplePositions];
  int16_t count[kFewValues] = {};
  for (int q = 0; q < kSamplePositions; ++q) ++count[dense[q]];
  for (int v = 0, k = 0; v < values; ++v) {
    std::fill(lowestOf + k, lowestOf + k + count[v], static_cast<uint8_t>(v));
    k += count[v];
  }
  alignas(16) uint8_t value[kPaddedValues];
  for (int q = 0; q < kSamplePositions; ++q) value[q] = static_cast<uint8_t>(dense[q]);
  std::fill(value + kSamplePositions, value + kPaddedValues, static_cast<uint8_t>(kFewValues));
  // The first entry at or after the pass's that holds each value.
  int16_t first[kFewValues];
  for (int q = kSamplePositions - 1; q >= 0; --q) first[value[q]] = static_cast<int16_t>(q);

  for (int p = 0; p < kSamplePositions - 1; ++p) {
    const int own = value[p];
    const int lowest = lowestOf[p];
    if (own == lowest) {
      // Entry p is the lowest value's first: it stays.
      first[lowest] = static_cast<int16_t>(NextEntryOf(value, p + 1, static_cast<uint8_t>(lowest)));
      continue;
    }
    // The lowest value's first entry gives its item to entry p.
    int target = first[lowest];
    const uint16_t taken = who[target];
    for (int v = lowest + 1; v < own; ++v) {
      const int at = first[v];
      if (at < target) {
        // v's first item moves on to the entry of the exchanged value below.
        who[target] = who[at];
        value[target] = static_cast<uint8_t>(v);
        first[v] = static_cast<int16_t>(NextEntryOf(value, at + 1, static_cast<uint8_t>(v)));
        target = at;
      }
    }
    who[target] = who[p];
    value[target] = static_cast<uint8_t>(own);
    who[p] = taken;
    value[p] = static_cast<uint8_t>(lowest);
    first[own] = static_cast<int16_t>(NextEntryOf(value, p + 1, static_cast<uint8_t>(own)));
    first[lowest] = static_cast<int16_t>(NextEntryOf(value, first[lowest] + 1, static_cast<uint8_t>(lowest)));
  }
}

// The exchange sort of 513 keys, ordered[] being the same keys in ascending
// order: pass p runs the item at p against every later one and takes any
// strictly smaller key, leaving its own in exchange. A pass is a running
// minimum over a contiguous array, so the next smaller key is found 8 keys at
// a time. On samples with ties this made the pivot choice of ranges of 513
// or more about 10 times as fast (0.6 s of a 1,245,184-record sort before;
// tarnsek_micro BM_SortChunkManyTies, bench/run.py row text).
void ExchangeSortKeys(int16_t* key, const int16_t* ordered, uint16_t* who) {
  for (int p = 0; p < kSamplePositions - 1; ++p) {
    int16_t current = key[p];
    uint16_t currentWho = who[p];
    const int16_t lowest = ordered[p];
    for (int q = p + 1; current != lowest; ++q) {
      q = FirstKeyBelow(key, q, current);
      if (q >= kPaddedSample) break;
      std::swap(key[q], current);
      std::swap(who[q], currentWho);
    }
    key[p] = current;
    who[p] = currentWho;
  }
}

// The exchange sort of 513 keys of more than 255 values, most of them held
// once. The exchange sort is a fixed sequence of compare-exchanges, and a
// compare-exchange moves items of a value held twice or more (a tied value)
// in the same way whether the other item's key is itself or any key of the
// same order against the tied value. So the run over classes, each tied value
// a class of its own and the values between two tied ones one class, moves
// every tied item exactly as the run over the keys does, and that run is one
// of few values. Its result is sorted, so an untied value's item ends at its
// value's place in that order. False, having done nothing, when there are
// more than 255 classes. On keys that tell most records apart but for a few
// ties, running minima over the keys exchange about 85 times a pass: a chunk
// keyed by the city, then the name took 141 ms to sort, 78 ms this way
// (tarnsek_micro BM_SortChunkCityThenName), and a sort of the benchmark's
// file by /K 4:2 took 3.0 s, this way 1.8 s.
bool ExchangeSortByClasses(const uint16_t* dense, int values, uint16_t* who) {
  int16_t count[kSamplePositions] = {};
  for (int q = 0; q < kSamplePositions; ++q) ++count[dense[q]];
  uint16_t classOf[kSamplePositions];
  const int classes = TiedClasses(count, values, classOf);
  if (classes > kFewValues) return false;
  uint16_t classDense[kSamplePositions];
  for (int q = 0; q < kSamplePositions; ++q) classDense[q] = classOf[dense[q]];
  ExchangeSortFewValues(classDense, classes, who);
  // The untied items at their values' places: where the values below end.
  int16_t entryOf[kSamplePositions];  // the entry holding each untied value
  for (int q = 0; q < kSamplePositions; ++q) entryOf[dense[q]] = static_cast<int16_t>(q);
  for (int v = 0, at = 0; v < values; at += count[v], ++v) {
    if (count[v] == 1) who[at] = static_cast<uint16_t>(entryOf[v]);
  }
  return true;
}

// The exchange sort of the 513 sampled items, in place, given their ranks and
// their dense numbers (`values` of them): by first occurrences for samples of
// at most 255 ranks, else by running minima.
void ExchangeSortSample(uint64_t (&sampled)[kSamplePositions], const uint32_t* ranks, const uint16_t* dense,
                        int values) {
  uint16_t who[kPaddedSample];  // the entry whose item is now at k
  for (int k = 0; k < kSamplePositions; ++k) who[k] = static_cast<uint16_t>(k);
  if (values <= kFewValues) {
    ExchangeSortFewValues(dense, values, who);
  } else if (!ExchangeSortByClasses(dense, values, who)) {
    alignas(16) int16_t key[kPaddedSample];
    for (int k = 0; k < kSamplePositions; ++k) key[k] = SampleKey(ranks[k]);
    for (int k = kSamplePositions; k < kPaddedSample; ++k) key[k] = INT16_MAX;
    // Pass p leaves the smallest key of entries p..512 at p, so when it
    // begins entries p..512 hold the 513 - p largest keys: the smallest of
    // them is ordered[p], and once `current` is that key nothing later is
    // smaller.
    int16_t ordered[kSamplePositions];
    OrderKeys(key, ordered);
    ExchangeSortKeys(key, ordered, who);
  }
  uint64_t original[kSamplePositions];
  std::memcpy(original, sampled, sizeof original);
  for (int k = 0; k < kSamplePositions; ++k) sampled[k] = original[who[k]];
}

}  // namespace

uint64_t SelectLargePivot(DenseNumbering& numbering, uint64_t* items, int32_t lo, int32_t hi) {
  SampleList list;
  FillSamplePositions(lo, hi, list);
  uint64_t sampled[kSamplePositions];
  for (int k = 0; k < kSamplePositions; ++k) sampled[k] = items[list.positions[k]];

  // The sampled ranks numbered densely, the distinct ones told apart by
  // marks: when all 513 are distinct the exchange sort leaves them in
  // ascending order, so each item goes straight to its number's entry.
  uint32_t ranks[kSamplePositions];
  for (int k = 0; k < kSamplePositions; ++k) ranks[k] = RankOf(sampled[k]);
  uint16_t dense[kSamplePositions];
  const int values = DenseRanks(numbering, ranks, kSamplePositions, dense);
  if (values == kSamplePositions) {
    uint64_t original[kSamplePositions];
    std::memcpy(original, sampled, sizeof original);
    for (int k = 0; k < kSamplePositions; ++k) sampled[dense[k]] = original[k];
  } else {
    ExchangeSortSample(sampled, ranks, dense, values);
  }
  for (int k = 0; k < kSamplePositions; ++k) items[list.positions[k]] = sampled[k];
  return sampled[kPivotEntry];
}
