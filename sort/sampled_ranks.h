// The ranks of a pivot choice's sampled slots, as the two pivot choices
// (sort/small_pivot.h, sort/large_pivot.h) look at them: numbered densely,
// grouped into classes around the tied ones, and searched 8 at a time.
#pragma once

#include <algorithm>
#include <bit>
#include <cstdint>
#include <iterator>

// TARNSEK_SCALAR (the debug build) takes the scalar loop that a processor
// without SSE2 would run, so that it is tested too.
#if defined(__SSE2__) && !defined(TARNSEK_SCALAR)
#include <emmintrin.h>
#endif

#include "sort/sort_limits.h"

// An item: one slot's record as its rank in the high 32 bits and its index
// in the chunk in the low 32 bits, so that items compare as their ranks do.
[[nodiscard]] inline uint32_t RankOf(uint64_t item) { return static_cast<uint32_t>(item >> 32); }
[[nodiscard]] inline uint64_t MakeItem(uint32_t rank, uint32_t index) {
  return (static_cast<uint64_t>(rank) << 32) | index;
}

// 64-bit words of one bit per sample entry, 0 to 512.
inline constexpr int kWords = (kSamplePositions + 63) / 64;

// Sampled ranks as 16-bit keys, biased so that signed order is rank order,
// padded to whole groups of 8 with keys that are never smaller.
inline constexpr int kKeyLanes = 8;
inline constexpr int kPaddedSample = (kSamplePositions + kKeyLanes - 1) / kKeyLanes * kKeyLanes;

[[nodiscard]] inline int16_t SampleKey(uint32_t rank) {
  return static_cast<int16_t>(static_cast<uint16_t>(rank ^ 0x8000u));
}

// The first k >= from whose key is below `current`, or kPaddedSample; key
// holds kPaddedSample keys, 16-byte aligned. Inline: the exchange sorts call
// it once per exchange.
[[nodiscard]] inline int FirstKeyBelow(const int16_t* key, int from, int16_t current) {
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

// The marks that tell the distinct ranks of a sample apart: a rank is marked
// when its mark is the current generation.
struct DenseNumbering {
  uint32_t mark[kChunkRecords];
  uint16_t of[kChunkRecords];
  uint32_t generation;
};

// (Inline, as the exchange sorts that call them: in a file of their own they
// cost a call each and hid from the compiler that only ranks[0..n) are read.)
//
// Ranks numbered densely in rank order: dense[k] for ranks[k], k < n (at
// most 513); the number of distinct ranks is returned. Only the distinct
// ranks are sorted: a range of a few hundred slots holds a few dozen ranks
// where keys repeat. Against sorting all n and a binary search for each, and
// with the lowest rank kept as ranks come and go rather than looked for, the
// 26,689 pivot choices of ranges under 513 took 1,299 million instructions
// instead of 1,654 (callgrind over bench/run.py, row text).
inline int DenseRanks(DenseNumbering& numbering, const uint32_t* ranks, int n, uint16_t* dense) {
  if (++numbering.generation == 0) {
    std::fill(std::begin(numbering.mark), std::end(numbering.mark), 0);
    numbering.generation = 1;
  }
  const uint32_t generation = numbering.generation;
  uint32_t distinct[kSamplePositions];
  int d = 0;
  for (int k = 0; k < n; ++k) {
    if (numbering.mark[ranks[k]] != generation) {
      numbering.mark[ranks[k]] = generation;
      distinct[d++] = ranks[k];
    }
  }
  std::sort(distinct, distinct + d);
  for (int v = 0; v < d; ++v) numbering.of[distinct[v]] = static_cast<uint16_t>(v);
  for (int k = 0; k < n; ++k) dense[k] = numbering.of[ranks[k]];
  return d;
}

// classOf[v] for the dense values v < values held count[v] times: a value
// held twice or more (a tied value) is a class of its own, each run of values
// held once between two tied ones one class, numbered in value order. Returns
// the number of classes.
inline int TiedClasses(const int16_t* count, int values, uint16_t* classOf) {
  int classes = 0;
  for (int v = 0; v < values; ++v) {
    if (count[v] > 1 || v == 0 || count[v - 1] > 1) ++classes;
    classOf[v] = static_cast<uint16_t>(classes - 1);
  }
  return classes;
}
