// Comparison keys of one chunk, computed once per record: the unquoted bytes
// (S), the same folded (I), the number (N) or the 14 date-time digits (D). The
// records are then ranked so that a comparison of two records becomes a
// comparison of two integers.
#pragma once

#include <cstdint>

#include "csv/csv_record.h"
#include "driver/options.h"
#include "sort/key_values.h"
#include "sort/sort_limits.h"

// The numbers that the key check reads for the first kCheckedKeys keys (those
// that are number keys) are kept for the ranking of the same records that
// follows it: a number is then read once per chunk, not twice. That took 111
// instructions off each record of a sort on a number key (callgrind over
// bench/run.py, row number).
inline constexpr int kCheckedKeys = 4;

// Open addressing over twice the largest chunk.
inline constexpr uint32_t kTableSize = 2 * kChunkRecords;

// What the ranking of a chunk works in, kept from chunk to chunk.
struct Ranking {
  KeyValue values[kChunkRecords];
  uint32_t valueOf[kChunkRecords];             // the record's distinct value under the key
  uint32_t rankOf[kChunkRecords];              // the record's rank under the key alone, 0: field missing
  uint32_t representative[kChunkRecords + 1];  // a record holding each distinct value
  uint32_t valueRank[kChunkRecords + 1];       // rank of each distinct value, 0: field missing
  uint32_t distinctOrder[kChunkRecords + 1];
  uint32_t groupOf[kChunkRecords];
  // The records in the order of their value ranks, then of group and value
  // rank, with the counts of the counting sorts that put them so.
  uint32_t byRank[kChunkRecords];
  uint32_t byGroup[kChunkRecords];
  uint32_t counted[kChunkRecords + 2];
  // The order words of the present values and their records (the numbers of
  // the distinct values, when those of a text key are ordered), with the
  // radix sort's second buffers and counts.
  uint64_t words[kChunkRecords];
  uint64_t wordsSpare[kChunkRecords];
  uint32_t wordRecords[kChunkRecords];
  uint32_t wordRecordsSpare[kChunkRecords];
  uint32_t radixCounts[8][256];
  // The order words of each distinct value of a text key, and whether they
  // hold its whole text.
  uint64_t firstWords[kChunkRecords + 1];
  uint64_t secondWords[kChunkRecords + 1];
  bool wholeWords[kChunkRecords + 1];
  double checkedNumbers[kCheckedKeys][kChunkRecords];
  // Slot + 1 of a representative, 0 when empty, and its hash's high half.
  uint32_t table[kTableSize];
  uint32_t tableHash[kTableSize];
};

// What the key check found: whether some record lacks a key field, and for
// each of the first kCheckedKeys keys that is a number key the numbers it
// read, one per record in order (null for the other keys).
struct KeyCheck {
  bool lacking;
  const double* numbers[kCheckedKeys];
};

// Checks every record against every key, in input order: a record that lacks
// a key field records the missing-key warning; a number key field with more
// than 12 number characters ends the run with 2002 (the first such field).
[[nodiscard]] KeyCheck CheckKeyFields(Ranking& ranking, CsvRecord* const* records, int32_t count,
                                      const CsvSortOption& options);

// ranks[i] := the rank of records[i] among records[0..count), count at most
// 65536: equal ranks for records that compare equal, a smaller rank for a
// record that sorts first. When every record holds every key field this is
// exactly the order of CompareRecords. A missing key field, about which
// CompareRecords says nothing, ranks below every present one of that key, so
// that the ranks stay a consistent order whatever the records hold; the chunk
// sort then compares by them only records that hold every key. check: the key
// check of the same records, whose numbers are then not read again, or null.
void RankRecords(Ranking& ranking, CsvRecord* const* records, int32_t count, const CsvSortOption& options,
                 uint32_t* ranks, const KeyCheck* check = nullptr);

// Each key on its own: keyRanks[r * keys + k] := the rank of records[r]'s
// field under key k among the present fields of that key (equal for fields
// that the key finds equal, smaller for one that sorts first), and bit k of
// presence[r] := records[r] has key k's field. count is at most 65536.
void RankKeyFields(Ranking& ranking, CsvRecord* const* records, int32_t count, const CsvSortOption& options,
                   uint16_t* keyRanks, uint64_t* presence);
