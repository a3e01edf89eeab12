// The positions a pivot choice samples in its range: lo, then the midpoints
// of 9 halving levels, depth first, then hi; 513 entries for any range, so
// that a small range names its slots many times over. constexpr: the tables
// of the pivot choices for small ranges are sized from these positions at
// compile time.
#pragma once

#include <cstdint>

#include "sort/sort_limits.h"

// The sample positions of one pivot choice: entry 0 is lo, entry 512 is hi.
struct SampleList {
  int32_t positions[kSamplePositions];
  int32_t count;
};

// Appends the midpoint of L and R, then (below level 9) the midpoints of the
// left half and of the right half, depth first.
constexpr void AddSamplePositions(int32_t L, int32_t R, int level, SampleList& list) {
  const int32_t M = (L + R) / 2;
  list.positions[list.count++] = M;
  if (level < kSampleLevels) {
    AddSamplePositions(L, M, level + 1, list);
    AddSamplePositions(M, R, level + 1, list);
  }
}

// The 513 sample positions of the range lo..hi, entry 0 lo and entry 512 hi.
constexpr void FillSamplePositions(int32_t lo, int32_t hi, SampleList& list) {
  list.count = 0;
  list.positions[list.count++] = lo;
  AddSamplePositions(lo, hi, 1, list);
  list.positions[list.count++] = hi;
}
