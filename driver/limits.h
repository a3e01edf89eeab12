// The limits that the command line, the options and the messages share, each
// with its reason.
#pragma once

inline constexpr int kMaxMergeFiles = 19;  // files one merge reads, run files included
inline constexpr int kMaxSortKeys = 64;    // keys on one command line
inline constexpr int kMaxFields = 64;      // fields in one record: a key names field 1 to 64
