// The chunk quicksort on ranked slots. Each slot holds one record as an item:
// its rank in the high 32 bits (records that compare equal have equal ranks,
// a record that sorts first has the smaller rank) and its index in the chunk
// in the low 32 bits. The items end in the very order that the quicksort with
// its 513-sample exchange-sort pivot gives to the records themselves, equal
// records included, but without the 131,328 comparisons of every pivot choice.
#pragma once

#include <cstdint>

inline constexpr int kSamplePositions = 513;  // entries of one pivot sample
inline constexpr int kSampleLevels = 9;       // halving levels of the sample positions

[[nodiscard]] inline uint32_t RankOf(uint64_t item) { return static_cast<uint32_t>(item >> 32); }
[[nodiscard]] inline uint64_t MakeItem(uint32_t rank, uint32_t index) {
  return (static_cast<uint64_t>(rank) << 32) | index;
}

// The sample positions of one pivot choice: entry 0 is lo, entry 512 is hi.
struct SampleList {
  int32_t positions[kSamplePositions];
  int32_t count;
};

// Appends the midpoint of L and R, then (below level 9) the midpoints of the
// left half and of the right half, depth first.
void AddSamplePositions(int32_t L, int32_t R, int level, SampleList& list);

// Exchange-sorts the sampled slots of items[lo..hi] and returns the item now
// at the slot of entry 256: the partitioning item of that range.
uint64_t SelectPivot(uint64_t* items, int32_t lo, int32_t hi);

// Sorts items[0..count) by rank as the chunk quicksort does. count is at most
// 65536 and ranks are below 65536.
void SortRankedSlots(uint64_t* items, int32_t count);
// The same for items[lo..hi] alone, as the quicksort sorts that range.
void SortRankedRange(uint64_t* items, int32_t lo, int32_t hi);

// The 513 sample positions of the range lo..hi, entry 0 lo and entry 512 hi.
void FillSamplePositions(int32_t lo, int32_t hi, SampleList& list);
