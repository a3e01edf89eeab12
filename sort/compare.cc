// The one ordering of records under the run's keys, and the missing-key
// warning it records.
#include "sort/compare.h"

#include "driver/messages.h"
#include "driver/text.h"

namespace {

// Null until a compared record lacked a key field.
const char* missingKeyWarning = nullptr;

}  // namespace

int CompareRecordValues(const KeyValue* first, const KeyValue* second, const CsvSortOption& options,
                        int keyCount) {
  for (int k = 0; k < keyCount; ++k) {
    if (!first[k].present || !second[k].present) {
      // A missing key field tells nothing about this pair.
      RecordMissingKeyWarning();
      continue;
    }
    int result = CompareKeyValues(first[k], second[k], *options.sortKeys[k]);
    if (result != 0) return result;
  }
  return 0;
}

int CompareRecords(const CsvRecord* first, const CsvRecord* second, const CsvSortOption& options) {
  KeyValue a[kMaxSortKeys];
  KeyValue b[kMaxSortKeys];
  const int keyCount = CountSortKeys(options);
  for (int k = 0; k < keyCount; ++k) {
    a[k] = KeyValueOf(first, *options.sortKeys[k]);
    b[k] = KeyValueOf(second, *options.sortKeys[k]);
  }
  return CompareRecordValues(a, b, options, keyCount);
}

const char* MissingKeyWarning() { return missingKeyWarning; }

void RecordMissingKeyWarning() {
  if (!missingKeyWarning) missingKeyWarning = DuplicateString(msg::kMissingKeyField);
}
