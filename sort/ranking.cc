// Ranking a chunk key by key. For each key the records' values are first
// told apart by a hash table, so that only the distinct values are sorted
// (a city key of a few hundred values over 65,536 records sorts a few
// hundred texts, not 65,536: ranking took a fifth of such a sort before;
// tarnsek_micro BM_RankText).
// A number or date-time key skips the table: each value is read once into
// an integer whose order is the key's order, and the integers are radix
// sorted (see RankValuesByWord).
// The records are kept in groups of records equal under the keys so far;
// each key splits the groups by the rank of its value.
#include "sort/ranking.h"

#include <algorithm>
#include <cstring>

#include "sort/compare.h"

namespace {

// From this many distinct values on, a text key's values are radix sorted.
constexpr uint32_t kRadixValues = 256;

// Negative, 0 or positive under one key, as CompareRecords orders two present
// fields; a missing field sorts before a present one.
int CompareValues(const KeyValue& a, const KeyValue& b, const CsvSortKey& key) {
  if (!a.present || !b.present) return static_cast<int>(a.present) - static_cast<int>(b.present);
  return CompareKeyValues(a, b, key);
}

// valueOf[r] := the number of r's distinct value among records[0..n), 0 for
// a missing field; returns the count of numbers used (missing included).
uint32_t NumberDistinctValues(Ranking& ranking, uint32_t n, const CsvSortKey& key) {
  std::memset(ranking.table, 0, sizeof ranking.table);
  uint32_t distinct = 1;  // 0 stands for every missing field
  for (uint32_t r = 0; r < n; ++r) {
    if (!ranking.values[r].present) {
      ranking.valueOf[r] = 0;
      continue;
    }
    const uint64_t hash = HashKeyValue(ranking.values[r], key);
    const uint32_t tag = static_cast<uint32_t>(hash >> 32);
    uint32_t slot = static_cast<uint32_t>(hash) & (kTableSize - 1);
    for (;;) {
      const uint32_t held = ranking.table[slot];
      if (held == 0) {
        ranking.table[slot] = distinct + 1;
        ranking.tableHash[slot] = tag;
        ranking.representative[distinct] = r;
        ranking.valueOf[r] = distinct++;
        break;
      }
      if (ranking.tableHash[slot] == tag &&
          CompareKeyValues(ranking.values[ranking.representative[held - 1]], ranking.values[r], key) == 0) {
        ranking.valueOf[r] = held - 1;
        break;
      }
      slot = (slot + 1) & (kTableSize - 1);
    }
  }
  return distinct;
}

// Sorts words[0..m) with wordRecords alongside, least significant byte
// first; a byte that every word shares is skipped (a date-time's top two
// bytes, often a price's top byte).
void RadixSortWords(Ranking& ranking, uint32_t m) {
  constexpr int kBytes = 8;
  uint32_t(&counts)[kBytes][256] = ranking.radixCounts;
  std::memset(counts, 0, sizeof counts);
  for (uint32_t s = 0; s < m; ++s) {
    const uint64_t word = ranking.words[s];
    for (int b = 0; b < kBytes; ++b) ++counts[b][(word >> (8 * b)) & 0xFF];
  }
  uint64_t* from = ranking.words;
  uint64_t* to = ranking.wordsSpare;
  uint32_t* fromRecords = ranking.wordRecords;
  uint32_t* toRecords = ranking.wordRecordsSpare;
  for (int b = 0; b < kBytes; ++b) {
    uint32_t* count = counts[b];
    if (count[(from[0] >> (8 * b)) & 0xFF] == m) continue;
    uint32_t next = 0;
    for (int digit = 0; digit < 256; ++digit) {
      const uint32_t held = count[digit];
      count[digit] = next;
      next += held;
    }
    for (uint32_t s = 0; s < m; ++s) {
      const uint32_t at = count[(from[s] >> (8 * b)) & 0xFF]++;
      to[at] = from[s];
      toRecords[at] = fromRecords[s];
    }
    std::swap(from, to);
    std::swap(fromRecords, toRecords);
  }
  if (from != ranking.words) {
    std::copy(from, from + m, ranking.words);
    std::copy(fromRecords, fromRecords + m, ranking.wordRecords);
  }
}

// distinctOrder[0..count) := the present distinct values 1..count in the
// key's order. Many values of a text key (S or I) are ordered by their first
// 16 bytes (folded for I), two radix sorts of the words, the comparison
// deciding only between values whose words are equal and not whole: a chunk
// keyed by an all-distinct text (the ids) took 29.7 ms to sort with std::sort
// through the comparison, 7.9 ms this way (tarnsek_micro
// BM_SortChunkFewTies).
void OrderDistinctValues(Ranking& ranking, uint32_t count, const CsvSortKey& key) {
  const auto before = [&ranking, &key](uint32_t a, uint32_t b) {
    return CompareValues(ranking.values[ranking.representative[a]], ranking.values[ranking.representative[b]],
                         key) < 0;
  };
  for (uint32_t v = 1; v <= count; ++v) ranking.distinctOrder[v - 1] = v;
  const bool text = key.keyType == KeyType::kText || key.keyType == KeyType::kTextIgnoreCase;
  if (count < kRadixValues || !text || !HasOrderWord(key)) {
    std::sort(ranking.distinctOrder, ranking.distinctOrder + count, before);
    return;
  }
  for (uint32_t v = 1; v <= count; ++v) {
    uint64_t pair[2];
    ranking.wholeWords[v] = OrderWords(ranking.values[ranking.representative[v]], key, pair);
    ranking.firstWords[v] = pair[0];
    ranking.secondWords[v] = pair[1];
    ranking.words[v - 1] = pair[1];
    ranking.wordRecords[v - 1] = v;
  }
  // Least significant word first; both sorts are stable.
  RadixSortWords(ranking, count);
  for (uint32_t s = 0; s < count; ++s) ranking.words[s] = ranking.firstWords[ranking.wordRecords[s]];
  RadixSortWords(ranking, count);
  for (uint32_t s = 0; s < count;) {
    const uint32_t v = ranking.wordRecords[s];
    uint32_t end = s + 1;
    bool whole = ranking.wholeWords[v];
    while (end < count && ranking.words[end] == ranking.words[s] &&
           ranking.secondWords[ranking.wordRecords[end]] == ranking.secondWords[v]) {
      whole = whole && ranking.wholeWords[ranking.wordRecords[end]];
      ++end;
    }
    if (!whole) std::sort(ranking.wordRecords + s, ranking.wordRecords + end, before);
    s = end;
  }
  std::copy(ranking.wordRecords, ranking.wordRecords + count, ranking.distinctOrder);
}

// The generic ranking: the distinct values told apart by the hash table and
// sorted by the key's comparison. rankOf[r] := records[r]'s rank under the
// key alone, 1 for the smallest present value, 0 for a missing field.
// Returns the count of ranks used (missing included).
uint32_t RankValuesByComparison(Ranking& ranking, CsvRecord* const* records, uint32_t n,
                                const CsvSortKey& key) {
  for (uint32_t r = 0; r < n; ++r) {
    PrefetchRecords(records, r, n);
    ranking.values[r] = KeyValueOf(records[r], key);
  }
  const uint32_t distinct = NumberDistinctValues(ranking, n, key);
  OrderDistinctValues(ranking, distinct - 1, key);
  ranking.valueRank[0] = 0;
  for (uint32_t v = 0; v + 1 < distinct; ++v) ranking.valueRank[ranking.distinctOrder[v]] = v + 1;
  for (uint32_t r = 0; r < n; ++r) ranking.rankOf[r] = ranking.valueRank[ranking.valueOf[r]];
  return distinct;
}

// rankOf as RankValuesByComparison gives it, for a number or date-time key:
// one read of each value into its order word, a radix sort of the words, and
// ranks counted along the sorted words. Ranking a chunk on a number key took
// 1,157 instructions per record through the table and std::sort with the
// key's comparison, and takes 504 this way, 324 of them reading the numbers
// (callgrind --toggle-collect=RankRecords over tarnsek_micro BM_RankNumber;
// 17 ms to 9 ms a chunk); a date-time key, 1,459 then 662 (BM_RankDateTime,
// 25 ms to 11 ms). Returns 0, having ranked nothing, when a number
// has too many digits: the comparison then decides which one ends the run.
uint32_t RankValuesByWord(Ranking& ranking, CsvRecord* const* records, uint32_t n, const CsvSortKey& key,
                          const double* numbers) {
  uint32_t m = 0;
  for (uint32_t r = 0; r < n; ++r) {
    PrefetchRecords(records, r, n);
    KeyValue value{};
    if (numbers) {
      // A field that the key check found holds no more than 12 characters.
      value.present = key.fieldIndex < records[r]->fieldCount;
      value.number = numbers[r];
    } else {
      value = KeyValueOf(records[r], key);
    }
    if (!value.present) {
      ranking.rankOf[r] = 0;
      continue;
    }
    if (value.tooManyDigits) return 0;
    ranking.words[m] = OrderWord(value, key);
    ranking.wordRecords[m++] = r;
  }
  if (m == 0) return 1;
  RadixSortWords(ranking, m);
  uint32_t rank = 1;
  ranking.rankOf[ranking.wordRecords[0]] = 1;
  for (uint32_t s = 1; s < m; ++s) {
    rank += ranking.words[s] != ranking.words[s - 1] ? 1 : 0;
    ranking.rankOf[ranking.wordRecords[s]] = rank;
  }
  return rank + 1;
}

// rankOf[r] := records[r]'s rank under the key alone, 1 for the smallest
// present value, 0 for a missing field. Returns the count of ranks used
// (missing included). numbers: the key check's numbers of the key's fields,
// or null.
uint32_t RankValuesOfKey(Ranking& ranking, CsvRecord* const* records, uint32_t n, const CsvSortKey& key,
                         const double* numbers = nullptr) {
  const bool byWord =
      HasOrderWord(key) && (key.keyType == KeyType::kNumber || key.keyType == KeyType::kDateTime);
  if (byWord) {
    const uint32_t distinct = RankValuesByWord(ranking, records, n, key, numbers);
    if (distinct != 0) return distinct;
  }
  return RankValuesByComparison(ranking, records, n, key);
}

// Puts the records `from` (0 to n - 1 when null) in order of keyOf[record],
// each below `keys`, stably, into `to`.
void CountingSort(uint32_t* counted, const uint32_t* keyOf, uint32_t keys, const uint32_t* from, uint32_t n,
                  uint32_t* to) {
  std::fill(counted, counted + keys + 1, 0u);
  for (uint32_t r = 0; r < n; ++r) ++counted[keyOf[r] + 1];
  for (uint32_t k = 1; k <= keys; ++k) counted[k] += counted[k - 1];
  for (uint32_t s = 0; s < n; ++s) {
    const uint32_t r = from ? from[s] : s;
    to[counted[keyOf[r]]++] = r;
  }
}

}  // namespace

KeyCheck CheckKeyFields(Ranking& ranking, CsvRecord* const* records, int32_t count,
                        const CsvSortOption& options) {
  const int keyCount = CountSortKeys(options);
  KeyCheck check{};
  for (int k = 0; k < keyCount && k < kCheckedKeys; ++k) {
    if (options.sortKeys[k]->keyType == KeyType::kNumber) check.numbers[k] = ranking.checkedNumbers[k];
  }
  for (int32_t r = 0; r < count; ++r) {
    PrefetchRecords(records, r, count);
    const CsvRecord* record = records[r];
    for (int k = 0; k < keyCount; ++k) {
      const CsvSortKey& key = *options.sortKeys[k];
      if (key.fieldIndex >= record->fieldCount) {
        RecordMissingKeyWarning();
        check.lacking = true;
      } else if (key.keyType == KeyType::kNumber) {
        const double number = ParseNumberField(record->fields[key.fieldIndex]);
        if (k < kCheckedKeys) ranking.checkedNumbers[k][r] = number;
      }
    }
  }
  return check;
}

void RankRecords(Ranking& ranking, CsvRecord* const* records, int32_t count, const CsvSortOption& options,
                 uint32_t* ranks, const KeyCheck* check) {
  if (count <= 0) return;
  const uint32_t n = static_cast<uint32_t>(count);
  std::fill(ranking.groupOf, ranking.groupOf + n, 0u);
  uint32_t groups = 1;
  const int keyCount = CountSortKeys(options);
  for (int k = 0; k < keyCount && groups < n; ++k) {
    const CsvSortKey& key = *options.sortKeys[k];
    const double* numbers = check && k < kCheckedKeys ? check->numbers[k] : nullptr;
    const uint32_t distinct = RankValuesOfKey(ranking, records, n, key, numbers);

    if (groups == 1) {
      // The first key: the value ranks are the groups, though possibly with
      // no record of a missing field at rank 0.
      const bool anyMissing =
          std::any_of(ranking.rankOf, ranking.rankOf + n, [](uint32_t rank) { return rank == 0; });
      for (uint32_t r = 0; r < n; ++r) ranking.groupOf[r] = ranking.rankOf[r] - (anyMissing ? 0 : 1);
      groups = distinct - (anyMissing ? 0 : 1);
      continue;
    }
    // Group, then value rank: numbered again densely in that order, which
    // two counting sorts give (by value rank, then stably by group). Against
    // std::sort of packed pairs, this took the ranking from 575 instructions
    // a record to 494 on the two-key row, from 886 to 805 on the date row
    // (callgrind over bench/run.py, rows two and date).
    CountingSort(ranking.counted, ranking.rankOf, distinct, nullptr, n, ranking.byRank);
    CountingSort(ranking.counted, ranking.groupOf, groups, ranking.byRank, n, ranking.byGroup);
    uint32_t group = 0;
    uint32_t previous = ranking.byGroup[0];
    uint32_t previousGroup = ranking.groupOf[previous];
    uint32_t previousRank = ranking.rankOf[previous];
    for (uint32_t s = 0; s < n; ++s) {
      const uint32_t r = ranking.byGroup[s];
      const uint32_t oldGroup = ranking.groupOf[r];
      if (oldGroup != previousGroup || ranking.rankOf[r] != previousRank) ++group;
      previousGroup = oldGroup;
      previousRank = ranking.rankOf[r];
      ranking.groupOf[r] = group;
    }
    groups = group + 1;
  }
  std::copy(ranking.groupOf, ranking.groupOf + n, ranks);
}

void RankKeyFields(Ranking& ranking, CsvRecord* const* records, int32_t count, const CsvSortOption& options,
                   uint16_t* keyRanks, uint64_t* presence) {
  if (count <= 0) return;
  const uint32_t n = static_cast<uint32_t>(count);
  const int keyCount = CountSortKeys(options);
  std::fill(presence, presence + n, uint64_t{0});
  for (int k = 0; k < keyCount; ++k) {
    (void)RankValuesOfKey(ranking, records, n, *options.sortKeys[k]);
    for (uint32_t r = 0; r < n; ++r) {
      const uint32_t rank = ranking.rankOf[r];
      // Present values rank from 1: at most 65,536 of them.
      keyRanks[size_t{r} * static_cast<size_t>(keyCount) + static_cast<size_t>(k)] =
          static_cast<uint16_t>(rank == 0 ? 0 : rank - 1);
      if (rank != 0) presence[r] |= uint64_t{1} << k;
    }
  }
}
