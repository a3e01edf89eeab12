// The one ordering of records under the run's sort keys.
#pragma once

#include "csv/csv_file.h"
#include "driver/options.h"

// Negative when first sorts before second, positive after, 0 when no key tells
// them apart. Records the missing-key warning at the first record that lacks a
// key field.
[[nodiscard]] int CompareRecords(const CsvRecord* first, const CsvRecord* second,
                                 const CsvSortOption& options);

// The value of a field text for a number key: digits, signs and full stops
// taken, "," "@" "\" skipped, anything else ends the scan. More than 12 taken
// characters end the run with 2002 naming the text.
[[nodiscard]] double ParseNumberField(const char* text);

// The field text as 14 digits: year (4), month, day, hour, minute, second.
// out holds at least 15 bytes.
void NormalizeDateTime(const char* text, char* out);

// The missing-key warning: null until a compared record lacked a key field.
[[nodiscard]] const char* MissingKeyWarning();
// Records the warning (first time only).
void RecordMissingKeyWarning();
