// Comparison keys of one chunk, computed once per record: the unquoted bytes
// (S), the same folded (I), the number (N) or the 14 date-time digits (D). The
// records are then ranked so that a comparison of two records becomes a
// comparison of two integers.
#pragma once

#include <cstdint>

#include "csv/csv_file.h"
#include "driver/options.h"
#include "sort/chunk_sort.h"

// Checks every record against every key, in input order: a record that lacks
// a key field records the missing-key warning; a number key field with more
// than 12 number characters ends the run with 2002 (the first such field).
// Returns whether some record lacks a key field.
[[nodiscard]] bool CheckKeyFields(CsvRecord* const* records, int32_t count, const CsvSortOption& options);

// ranks[i] := the rank of records[i] among records[0..count), count at most
// 65536: equal ranks for records that compare equal, a smaller rank for a
// record that sorts first. When every record holds every key field this is
// exactly the order of CompareRecords. A missing key field, about which
// CompareRecords says nothing, ranks below every present one of that key, so
// that the ranks stay a consistent order whatever the records hold; the chunk
// sort then compares by them only records that hold every key.
void RankRecords(CsvRecord* const* records, int32_t count, const CsvSortOption& options, uint32_t* ranks);

// Each key on its own: keyRanks[r * keys + k] := the rank of records[r]'s
// field under key k among the present fields of that key (equal for fields
// that the key finds equal, smaller for one that sorts first), and bit k of
// presence[r] := records[r] has key k's field. count is at most 65536.
void RankKeyFields(CsvRecord* const* records, int32_t count, const CsvSortOption& options, uint16_t* keyRanks,
                   uint64_t* presence);
