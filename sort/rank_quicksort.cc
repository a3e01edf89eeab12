// The chunk quicksort on ranked slots.
//
// Once every record is replaced by its rank, the partition scans and the
// exchange sort of the pivot choice only ever compare ranks, so running them
// on the ranks moves the records exactly as comparing the records would. What
// makes it fast is leaving out the work that cannot move anything:
//
// - Within one pass of the exchange sort (slot a against the slots of the
//   later entries), once slot x has been compared with a, a holds a rank no
//   larger than x's for the rest of the pass: a only receives smaller ranks,
//   and x only ever receives a's larger one. So only the first entry of each
//   slot after the pass's own entry counts, and entries naming a itself are
//   no-ops. A pass whose slot is the slot of the pass just before it finds
//   nothing to exchange either.
// - A pass ends once its slot's rank is no larger than the lowest its
//   partners hold: for the 513 distinct slots of a range of 513 or more,
//   pass p leaves the smallest rank of entries p..512 at p, so the lowest
//   that pass p meets is the p-th smallest of the 513 sampled ranks; in
//   ranges of 64 to 512 slots the partners' ranks are counted.
// - Each pass is then a running minimum over the ranks of its partners in
//   entry order, kept as a contiguous array and searched 8 ranks at a time;
//   for 513 samples of at most 255 ranks, the exchanges are found from where
//   each rank first occurs instead.
// - For ranges of fewer than 64 slots, the most frequent ones, the passes
//   that remain are kept once per size as plain lists of slot offsets.
// - A range whose ranks are all equal exchanges nothing in its pivot choice,
//   and ends in an order that depends on its size alone.
// - A range whose ranks are all distinct has only one sorted order, so it is
//   sorted directly and its partitions are never visited.
// - When the 513 sampled ranks are distinct, the exchange sort leaves them in
//   ascending order along the entries, so they are sorted directly.
// - The exchange sort leaves every range's sampled slots holding their ranks
//   in ascending order of the slots' last entries, and moves a tied rank's
//   items as it would if the ranks between two tied ones were one: so the
//   ranks held once are placed directly, and only the tied ones are run, as
//   few ranks.
#include "sort/rank_quicksort.h"

#include <algorithm>
#include <bit>
#include <cassert>
#include <climits>
#include <cstdint>
#include <cstring>
#include <iterator>

// TARNSEK_SCALAR (the debug build) takes the scalar loop that a processor
// without SSE2 would run, so that it is tested too.
#if defined(__SSE2__) && !defined(TARNSEK_SCALAR)
#include <emmintrin.h>
#endif

#include "sort/chunk_sort.h"

namespace {

constexpr int kWords = (kSamplePositions + 63) / 64;  // bits for the entries 0..512
constexpr int kPivotEntry = kSamplePositions / 2;     // 256

// Sampled ranks as 16-bit keys, biased so that signed order is rank order,
// padded to whole groups of 8 with keys that are never smaller.
constexpr int kKeyLanes = 8;
constexpr int kPaddedSample = (kSamplePositions + kKeyLanes - 1) / kKeyLanes * kKeyLanes;

int16_t SampleKey(uint32_t rank) { return static_cast<int16_t>(static_cast<uint16_t>(rank ^ 0x8000u)); }

// The first k >= from whose key is below `current`, or kPaddedSample.
int FirstKeyBelow(const int16_t* key, int from, int16_t current) {
#if defined(__SSE2__) && !defined(TARNSEK_SCALAR)
  const __m128i bound = _mm_set1_epi16(current);
  int base = from & ~(kKeyLanes - 1);
  auto below = [&](int at) {
    const __m128i lanes = _mm_load_si128(reinterpret_cast<const __m128i*>(key + at));
    return static_cast<uint32_t>(_mm_movemask_epi8(_mm_cmplt_epi16(lanes, bound)));
  };
  uint32_t bits = below(base) & (~0u << ((from - base) * 2));
  while (bits == 0) {
    base += kKeyLanes;
    if (base >= kPaddedSample) return kPaddedSample;
    bits = below(base);
  }
  return base + std::countr_zero(bits) / 2;
#else
  while (from < kPaddedSample && key[from] >= current) ++from;
  return from;
#endif
}

// The exchange sort of a range of fewer than 513 slots, where entries repeat.
// Positions depend only on the size m of the range, so they are kept per m as
// offsets from lo, with the entry of the next occurrence of each entry's slot
// and the entries that are the first of their slot from entry 1 on.
struct SmallSample {
  bool ready;
  uint16_t entry[kSamplePositions];
  int16_t next[kSamplePositions];
  int16_t head[kSamplePositions];  // the first entry of each slot from entry 1 on, or -1
  uint64_t first[kWords];
  uint16_t byLastEntry[kSamplePositions];  // the m slots in the order of their last entries
};

SmallSample smallSamples[kSamplePositions];

// For the most frequent ranges, the smallest, each pass is kept as its slot and
// the list of its partner slots, so that a pivot choice runs only the
// comparisons that can exchange anything. All sizes below 64 take 88,181
// partners in 3,905 passes.
constexpr int kFlatSizes = 64;
constexpr int kFlatPartners = 88181;
constexpr int kFlatPasses = 3905;

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

FlatSample flatSamples[kFlatSizes];
FlatPass flatPasses[kFlatPasses];
uint8_t flatPartners[kFlatPartners];
int32_t flatPassesUsed = 0;
int32_t flatPartnersUsed = 0;

// Per-rank marks used to tell whether a range holds a rank twice: a rank is
// marked when its mark is the current generation.
uint32_t rankMark[kChunkRecords];
uint32_t markGeneration = 0;

uint32_t NextMarkGeneration() {
  if (++markGeneration == 0) {
    std::fill(std::begin(rankMark), std::end(rankMark), 0);
    markGeneration = 1;
  }
  return markGeneration;
}

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
    std::fill(std::begin(held), std::end(held), uint64_t{0});
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

RankCounts counts;

// Ranks numbered densely in rank order: dense[k] for ranks[k], k < n; the
// number of distinct ranks is returned. The distinct ranks are told apart by
// marks per rank, so only they are sorted: a range of a few hundred slots
// holds a few dozen ranks where keys repeat. Against sorting all n and a
// binary search for each, and with the lowest rank kept by RankCounts rather
// than looked for, the 26,689 pivot choices of ranges under 513 took 1,299
// million instructions instead of 1,654 (callgrind over bench/run.py, row
// text).
uint32_t denseMark[kChunkRecords];
uint16_t denseOf[kChunkRecords];
uint32_t denseGeneration = 0;

int DenseRanks(const uint32_t* ranks, int n, uint16_t* dense) {
  if (++denseGeneration == 0) {
    std::fill(std::begin(denseMark), std::end(denseMark), 0);
    denseGeneration = 1;
  }
  uint32_t distinct[kSamplePositions];
  int d = 0;
  for (int k = 0; k < n; ++k) {
    if (denseMark[ranks[k]] != denseGeneration) {
      denseMark[ranks[k]] = denseGeneration;
      distinct[d++] = ranks[k];
    }
  }
  std::sort(distinct, distinct + d);
  for (int v = 0; v < d; ++v) denseOf[distinct[v]] = static_cast<uint16_t>(v);
  for (int k = 0; k < n; ++k) dense[k] = denseOf[ranks[k]];
  return d;
}

const SmallSample& SmallSampleOf(int32_t m) {
  SmallSample& sample = smallSamples[m];
  if (sample.ready) return sample;
  SampleList list;
  FillSamplePositions(0, m - 1, list);
  int16_t firstEntry[kSamplePositions];
  std::fill(std::begin(firstEntry), std::end(firstEntry), static_cast<int16_t>(-1));
  for (int q = kSamplePositions - 1; q >= 0; --q) {
    uint16_t slot = static_cast<uint16_t>(list.positions[q]);
    sample.entry[q] = slot;
    sample.next[q] = firstEntry[slot];
    if (q > 0) firstEntry[slot] = static_cast<int16_t>(q);  // entry 0 is no later entry
  }
  std::copy(std::begin(firstEntry), std::end(firstEntry), std::begin(sample.head));
  std::fill(std::begin(sample.first), std::end(sample.first), 0);
  for (int slot = 0; slot < m; ++slot) {
    int q = firstEntry[slot];
    if (q > 0) sample.first[q >> 6] |= uint64_t{1} << (q & 63);
  }
  // Every slot of a range under 513 has an entry; an entry without a next
  // one is its slot's last.
  int placed = 0;
  for (int q = 0; q < kSamplePositions; ++q) {
    if (sample.next[q] < 0) sample.byLastEntry[placed++] = sample.entry[q];
  }
  assert(placed == m);
  sample.ready = true;
  return sample;
}

const FlatSample* ForgetFlatSample(const FlatSample& flat) {
  flatPassesUsed = flat.firstPass;
  flatPartnersUsed = flat.firstPartner;
  return nullptr;
}

// Null when the pools cannot hold the passes of size m (they are sized to
// hold every size below 64).
const FlatSample* FlatSampleOf(int32_t m) {
  FlatSample& flat = flatSamples[m];
  if (flat.ready) return &flat;
  const SmallSample& sample = SmallSampleOf(m);
  flat.firstPass = flatPassesUsed;
  flat.firstPartner = flatPartnersUsed;
  flat.pivotSlot = static_cast<uint8_t>(sample.entry[kPivotEntry]);
  uint64_t later[kWords];
  std::memcpy(later, sample.first, sizeof later);
  for (int p = 0; p < kSamplePositions - 1; ++p) {
    const int a = sample.entry[p];
    if (p == 0 || a != sample.entry[p - 1]) {
      int count = 0;
      for (int w = (p + 1) >> 6; w < kWords; ++w) {
        for (uint64_t bits = later[w]; bits != 0; bits &= bits - 1) {
          const int x = sample.entry[(w << 6) + std::countr_zero(bits)];
          if (x == a) continue;
          if (flatPartnersUsed == kFlatPartners) return ForgetFlatSample(flat);
          flatPartners[flatPartnersUsed++] = static_cast<uint8_t>(x);
          ++count;
        }
      }
      if (count > 0) {
        if (flatPassesUsed == kFlatPasses) return ForgetFlatSample(flat);
        flatPasses[flatPassesUsed++] = {static_cast<uint8_t>(a), static_cast<uint8_t>(count)};
      }
    }
    const int leaving = p + 1;
    later[leaving >> 6] &= ~(uint64_t{1} << (leaving & 63));
    const int following = sample.next[leaving];
    if (following > 0) later[following >> 6] |= uint64_t{1} << (following & 63);
  }
  flat.passCount = flatPassesUsed - flat.firstPass;
  flat.ready = true;
  return &flat;
}

uint64_t SelectFlatPivot(uint64_t* v, const FlatSample& flat, uint32_t lowest) {
  const uint8_t* partner = flatPartners + flat.firstPartner;
  const FlatPass* pass = flatPasses + flat.firstPass;
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

// classOf[v] for the dense values v < values held count[v] times: a value
// held twice or more (a tied value) is a class of its own, each run of values
// held once between two tied ones one class, numbered in value order. Returns
// the number of classes.
int TiedClasses(const int16_t* count, int values, uint16_t* classOf) {
  int classes = 0;
  for (int v = 0; v < values; ++v) {
    if (count[v] > 1 || v == 0 || count[v - 1] > 1) ++classes;
    classOf[v] = static_cast<uint16_t>(classes - 1);
  }
  return classes;
}

// The exchange sort over a range of m < 513 slots starting at v. Each slot's
// first entry after the pass's own holds the slot's rank as a key, every
// other entry a key that is never smaller, so that a pass is a running
// minimum over the keys of the later entries, found 8 keys at a time, as for
// a sample of 513 distinct slots. Against visiting the later slots one by
// one, this took the 2,459 choices of three ranks or more of the text row
// from about 400 million instructions to 170 million (callgrind over
// bench/run.py, row text).
void ExchangeSortSmall(uint64_t* v, const SmallSample& sample, uint16_t* dense, int distinct, int32_t m) {
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

uint64_t SelectSmallPivot(uint64_t* v, int32_t m) {
  const SmallSample& sample = SmallSampleOf(m);
  uint32_t ranks[kSamplePositions];
  for (int32_t k = 0; k < m; ++k) ranks[k] = RankOf(v[k]);
  uint16_t dense[kSamplePositions];
  const int distinct = DenseRanks(ranks, m, dense);
  if (distinct == 2) return SelectTwoRankPivot(v, sample, dense, m);
  // The ranks held once run as classes (see ExchangeSortByClasses): the slots
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
    ExchangeSortSmall(v, sample, dense, distinct, m);
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
    ExchangeSortSmall(v, sample, dense, classes, m);
  }
  for (int r = 0, at = 0; r < distinct; at += held[r], ++r) {
    if (held[r] == 1) v[sample.byLastEntry[at]] = onlyItem[r];
  }
  return v[sample.entry[kPivotEntry]];
}

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

// The exchange sort over 513 distinct slots of a range of 513 or more.
uint64_t SelectLargePivot(uint64_t* items, int32_t lo, int32_t hi) {
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
  const int values = DenseRanks(ranks, kSamplePositions, dense);
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
constexpr int32_t kEqualOrderPool = 1 << 20;  // offsets, for the sizes as they come
uint16_t equalOrderPool[kEqualOrderPool];
int32_t equalOrderUsed = 0;
int32_t equalOrderAt[kChunkRecords + 1];  // 1 + where the offsets of size n begin, or 0
uint64_t equalScratch[kChunkRecords];     // the items of an all-equal or all-distinct range being placed

void SortEqualRange(uint64_t* items, int32_t lo, int32_t hi) {
  const int32_t n = hi - lo + 1;
  if (equalOrderAt[n] == 0) {
    if (equalOrderUsed + n > kEqualOrderPool) {
      ReverseAsTheQuicksortDoes(items + lo, n);
      return;
    }
    uint16_t* order = equalOrderPool + equalOrderUsed;
    for (int32_t k = 0; k < n; ++k) order[k] = static_cast<uint16_t>(k);
    ReverseAsTheQuicksortDoes(order, n);
    equalOrderAt[n] = equalOrderUsed + 1;
    equalOrderUsed += n;
  }
  const uint16_t* order = equalOrderPool + equalOrderAt[n] - 1;
  std::copy(items + lo, items + hi + 1, equalScratch);
  for (int32_t k = 0; k < n; ++k) items[lo + k] = equalScratch[order[k]];
}

// A range whose ranks are all distinct, in rank order. Its items are placed
// by their ranks: directly when the ranks are consecutive, as they are in a
// chunk whose keys tell every record apart, and otherwise by two counting
// passes over the 16-bit ranks. With std::sort of the items, a chunk on two
// such keys took 8.8 ms to sort, this way 6.1 ms (tarnsek_micro
// BM_SortChunkEveryKeyPresent), and the two-key row of bench/run.py 0.47 s,
// this way 0.41 s (interleaved runs); small ranges are not worth a pass.
void SortDistinctRange(uint64_t* items, int32_t lo, int32_t hi) {
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
    for (int32_t k = 0; k < n; ++k) equalScratch[RankOf(range[k]) - lowest] = range[k];
    std::copy(equalScratch, equalScratch + n, range);
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
  for (int32_t k = 0; k < n; ++k) equalScratch[low[RankOf(range[k]) & 0xFF]++] = range[k];
  for (int32_t k = 0; k < n; ++k) range[high[(RankOf(equalScratch[k]) >> 8) & 0xFF]++] = equalScratch[k];
}

enum class RangeKind { kMixed, kAllEqual, kAllDistinct };

RangeKind KindOf(const uint64_t* items, int32_t lo, int32_t hi) {
  const uint32_t generation = NextMarkGeneration();
  const uint32_t firstRank = RankOf(items[lo]);
  bool allEqual = true;
  bool distinct = true;
  for (int32_t k = lo; k <= hi; ++k) {
    const uint32_t rank = RankOf(items[k]);
    if (rank != firstRank) allEqual = false;
    if (rankMark[rank] == generation) distinct = false;
    rankMark[rank] = generation;
    if (!allEqual && !distinct) return RangeKind::kMixed;
  }
  if (distinct) return RangeKind::kAllDistinct;
  return allEqual ? RangeKind::kAllEqual : RangeKind::kMixed;
}

void SortRange(uint64_t* items, int32_t lo, int32_t hi) {
  for (;;) {
    uint32_t pivotRank;
    switch (KindOf(items, lo, hi)) {
      case RangeKind::kAllDistinct:
        // Item order is rank order when no two ranks are equal.
        SortDistinctRange(items, lo, hi);
        return;
      case RangeKind::kAllEqual:
        SortEqualRange(items, lo, hi);
        return;
      default:
        pivotRank = RankOf(SelectPivot(items, lo, hi));
        break;
    }
    // Hoare partitioning: the pivot's rank stops both scans within the range.
    int32_t i = lo - 1;
    int32_t j = hi + 1;
    for (;;) {
      do ++i;
      while (RankOf(items[i]) < pivotRank);
      do --j;
      while (RankOf(items[j]) > pivotRank);
      if (i >= j) break;
      std::swap(items[i], items[j]);
    }
    if (lo < i - 1) SortRange(items, lo, i - 1);
    if (j + 1 >= hi) return;
    lo = j + 1;
  }
}

}  // namespace

void AddSamplePositions(int32_t L, int32_t R, int level, SampleList& list) {
  const int32_t M = (L + R) / 2;
  list.positions[list.count++] = M;
  if (level < kSampleLevels) {
    AddSamplePositions(L, M, level + 1, list);
    AddSamplePositions(M, R, level + 1, list);
  }
}

uint64_t SelectPivot(uint64_t* items, int32_t lo, int32_t hi) {
  if (hi - lo + 1 < kSamplePositions) {
    if (hi - lo + 1 < kFlatSizes) {
      if (const FlatSample* flat = FlatSampleOf(hi - lo + 1)) {
        uint32_t lowest = RankOf(items[lo]);
        for (int32_t k = lo + 1; k <= hi; ++k) lowest = std::min(lowest, RankOf(items[k]));
        return SelectFlatPivot(items + lo, *flat, lowest);
      }
    }
    return SelectSmallPivot(items + lo, hi - lo + 1);
  }
  return SelectLargePivot(items, lo, hi);
}

void FillSamplePositions(int32_t lo, int32_t hi, SampleList& list) {
  list.count = 0;
  list.positions[list.count++] = lo;
  AddSamplePositions(lo, hi, 1, list);
  list.positions[list.count++] = hi;
}

void SortRankedRange(uint64_t* items, int32_t lo, int32_t hi) { SortRange(items, lo, hi); }

void SortRankedSlots(uint64_t* items, int32_t count) {
  if (count > 0) SortRange(items, 0, count - 1);
}
