// Ranking a chunk key by key: the records are kept in groups of records equal
// under the keys so far (at first one group), and each key splits the groups
// further by sorting within each group on that key's value alone. Only one
// key's values are held at a time.
#include "sort/key_values.h"

#include <algorithm>
#include <cstring>

#include "sort/compare.h"

namespace {

KeyValue values[kMaxRankedRecords];
uint32_t order[kMaxRankedRecords];  // record indices, grouped and ordered by rank
uint32_t groupOf[kMaxRankedRecords];

// Negative, 0 or positive under one key, as CompareRecords orders two present
// fields; a missing field sorts before a present one.
int CompareValues(const KeyValue& a, const KeyValue& b, const CsvSortKey& key) {
  if (!a.present || !b.present) return static_cast<int>(a.present) - static_cast<int>(b.present);
  return CompareKeyValues(a, b, key);
}

}  // namespace

void CheckKeyFields(CsvRecord* const* records, int32_t count, const CsvSortOption& options) {
  const int keyCount = CountSortKeys(options);
  for (int32_t r = 0; r < count; ++r) {
    PrefetchRecords(records, r, count);
    const CsvRecord* record = records[r];
    for (int k = 0; k < keyCount; ++k) {
      const CsvSortKey& key = *options.sortKeys[k];
      if (key.fieldIndex >= record->fieldCount) {
        RecordMissingKeyWarning();
      } else if (key.keyType == kKeyNumber) {
        (void)ParseNumberField(record->fields[key.fieldIndex]);
      }
    }
  }
}

void RankRecords(CsvRecord* const* records, int32_t count, const CsvSortOption& options,
                 uint32_t* ranks) {
  if (count <= 0) return;
  const uint32_t n = static_cast<uint32_t>(count);
  for (uint32_t r = 0; r < n; ++r) {
    order[r] = r;
    groupOf[r] = 0;
  }
  uint32_t groups = 1;
  const int keyCount = CountSortKeys(options);
  for (int k = 0; k < keyCount && groups < n; ++k) {
    const CsvSortKey& key = *options.sortKeys[k];
    for (uint32_t r = 0; r < n; ++r) {
      PrefetchRecords(records, r, n);
      values[r] = KeyValueOf(records[r], key);
    }
    auto before = [&key](uint32_t a, uint32_t b) { return CompareValues(values[a], values[b], key) < 0; };
    // Each group is a run of `order`; sort within it, then number the new groups.
    for (uint32_t start = 0; start < n;) {
      uint32_t end = start + 1;
      while (end < n && groupOf[order[end]] == groupOf[order[start]]) ++end;
      if (end - start > 1) std::sort(order + start, order + end, before);
      start = end;
    }
    uint32_t group = 0;
    uint32_t previousOldGroup = groupOf[order[0]];
    groupOf[order[0]] = 0;
    for (uint32_t s = 1; s < n; ++s) {
      const uint32_t record = order[s];
      const uint32_t oldGroup = groupOf[record];
      if (oldGroup != previousOldGroup || CompareValues(values[order[s - 1]], values[record], key) != 0) {
        ++group;
      }
      previousOldGroup = oldGroup;
      groupOf[record] = group;
    }
    groups = group + 1;
  }
  for (uint32_t r = 0; r < n; ++r) ranks[r] = groupOf[r];
}
