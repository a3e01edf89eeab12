// The one ordering of records under the run's sort keys.
#pragma once

#include <cstdint>

#include "csv/csv_record.h"
#include "driver/options.h"
#include "sort/key_values.h"

// Negative when first sorts before second, positive after, 0 when no key tells
// them apart. Records the missing-key warning at the first record that lacks a
// key field.
[[nodiscard]] int CompareRecords(const CsvRecord* first, const CsvRecord* second,
                                 const CsvSortOption& options);

// CompareRecords on values computed by KeyValueOf for each of the run's
// keyCount keys in order.
[[nodiscard]] int CompareRecordValues(const KeyValue* first, const KeyValue* second,
                                      const CsvSortOption& options, int keyCount);

// The missing-key warning: null until a compared record lacked a key field.
[[nodiscard]] const char* MissingKeyWarning();
// Records the warning (first time only).
void RecordMissingKeyWarning();
