// Ranking a chunk key by key: the records are kept in groups of records equal
// under the keys so far (at first one group), and each key splits the groups
// further by sorting within each group on that key's value alone. Only one
// key's values are held at a time.
#include "sort/key_values.h"

#include <algorithm>
#include <cstring>

#include "sort/compare.h"

namespace {

// The value of one record's field under one key.
struct KeyValue {
  const unsigned char* text;  // S, I: the stored field text
  uint32_t length;            // S, I: its length
  bool quoted;                // S, I: it holds a double quote, so it is read unquoted
  bool present;               // the record has the key's field
  double number;              // N
  uint64_t digits;            // D: the 14 digits as a number
};

KeyValue values[kMaxRankedRecords];
uint32_t order[kMaxRankedRecords];  // record indices, grouped and ordered by rank
uint32_t groupOf[kMaxRankedRecords];

// The unquoted form of a stored field text, byte by byte: a double quote is
// dropped and the byte after it is data.
struct UnquotedBytes {
  const unsigned char* next;
  int Next() {
    if (*next == '"') ++next;
    if (*next == 0) return 0;
    return *next++;
  }
};

int Fold(int byte) { return (byte >= 'A' && byte <= 'Z') ? byte + 0x20 : byte; }

int CompareBytes(const KeyValue& a, const KeyValue& b) {
  if (!a.quoted && !b.quoted) {
    int result = std::memcmp(a.text, b.text, std::min(a.length, b.length));
    if (result != 0) return result < 0 ? -1 : 1;
    return a.length < b.length ? -1 : (a.length > b.length ? 1 : 0);
  }
  UnquotedBytes x{a.text};
  UnquotedBytes y{b.text};
  for (;;) {
    int p = x.Next();
    int q = y.Next();
    if (p != q) return p < q ? -1 : 1;
    if (p == 0) return 0;
  }
}

int CompareFolded(const KeyValue& a, const KeyValue& b) {
  UnquotedBytes x{a.text};
  UnquotedBytes y{b.text};
  for (;;) {
    int p = Fold(x.Next());
    int q = Fold(y.Next());
    if (p != q) return p < q ? -1 : 1;
    if (p == 0) return 0;
  }
}

// Negative, 0 or positive under one key, as CompareRecords orders two present
// fields; a missing field sorts before a present one.
int CompareValues(const KeyValue& a, const KeyValue& b, const CsvSortKey& key) {
  if (!a.present || !b.present) return static_cast<int>(a.present) - static_cast<int>(b.present);
  int result = 0;
  switch (key.keyType) {
    case kKeyText:
      result = CompareBytes(a, b);
      break;
    case kKeyTextIgnoreCase:
      result = CompareFolded(a, b);
      break;
    case kKeyNumber:
      result = a.number < b.number ? -1 : (a.number > b.number ? 1 : 0);
      break;
    case kKeyDateTime:
      result = a.digits < b.digits ? -1 : (a.digits > b.digits ? 1 : 0);
      break;
    default:
      break;
  }
  return result * key.order;
}

KeyValue ValueOf(const CsvRecord* record, const CsvSortKey& key) {
  KeyValue value{};
  const int i = key.fieldIndex;
  if (i >= record->fieldCount) return value;
  const char* text = record->fields[i] ? record->fields[i] : "";
  value.present = true;
  switch (key.keyType) {
    case kKeyNumber:
      value.number = ParseNumberField(text);
      break;
    case kKeyDateTime: {
      char digits[15];
      NormalizeDateTime(text, digits);
      for (int k = 0; k < 14; ++k) value.digits = value.digits * 10 + static_cast<uint64_t>(digits[k] - '0');
      break;
    }
    default:
      value.text = reinterpret_cast<const unsigned char*>(text);
      value.length = static_cast<uint32_t>(std::strlen(text));
      value.quoted = std::memchr(text, '"', value.length) != nullptr;
      break;
  }
  return value;
}

}  // namespace

void CheckKeyFields(CsvRecord* const* records, int32_t count, const CsvSortOption& options) {
  const int keyCount = CountSortKeys(options);
  for (int32_t r = 0; r < count; ++r) {
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
    for (uint32_t r = 0; r < n; ++r) values[r] = ValueOf(records[r], key);
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
