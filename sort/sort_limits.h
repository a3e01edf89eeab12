// The limits of the chunk sort, each with its reason, in one place.
#pragma once

#include "driver/options.h"

// A chunk holds at most 65,536 records: so many are sorted in memory at a
// time, and ranks and record indices of a chunk fit in 16 bits.
inline constexpr int kChunkRecords = 65536;

// A sort makes at most 19 run files: the merge reads at most 19 files. A
// 20th is refused, so a sort takes at most 19 x 65,536 = 1,245,184 records.
inline constexpr int kMaxRunFiles = kMaxMergeFiles;

// A pivot choice samples 2^9 + 1 positions of its range, whatever the
// range's size: lo, 9 halving levels of midpoints, hi.
inline constexpr int kSampleLevels = 9;
inline constexpr int kSamplePositions = (1 << kSampleLevels) + 1;  // 513

// The exchange sort of the sample leaves the partitioning record at the
// middle entry.
inline constexpr int kPivotEntry = kSamplePositions / 2;  // 256
