// Key values: one record's field read once under one key, so that comparing
// two records needs no further parsing; their comparison, hash and order
// words.
#pragma once

#include <cstdint>

#include "csv/csv_record.h"
#include "driver/options.h"

// One record's field under one key, read once so that comparing two records
// needs no further parsing: the sort ranks a chunk on these, the merge keeps
// one per key for each input's current record.
struct KeyValue {
  const char* text;    // the stored field text
  uint32_t length;     // S, I: its length in bytes
  bool present;        // the record has the key's field
  bool quoted;         // S, I: the text holds a double quote, so it is read unquoted
  bool tooManyDigits;  // N: more than 12 number characters, an error once compared
  double number;       // N
  uint64_t dateTime;   // D: the 14 digits read as one number
};

// The value of the key's field in the record; never ends the run.
[[nodiscard]] KeyValue KeyValueOf(const CsvRecord* record, const CsvSortKey& key);

// Two present values under one key, the key's order applied: negative, 0 or
// positive as CompareRecords orders the two fields. A number value with too
// many digits ends the run with 2002 (first's before second's).
[[nodiscard]] int CompareKeyValues(const KeyValue& first, const KeyValue& second, const CsvSortKey& key);

// A hash of a present value under one key: values that CompareKeyValues
// finds equal hash alike.
[[nodiscard]] uint64_t HashKeyValue(const KeyValue& value, const CsvSortKey& key);

// Whether OrderWords gives a key's values words whose order decides: number
// and date-time keys (the words hold the whole value) and text keys (its
// first 16 bytes, folded to lower case for an I key).
[[nodiscard]] bool HasOrderWord(const CsvSortKey& key);
// Two integers of a present value whose unsigned order, the first word then
// the second, is the key's order, the key's direction applied, so that
// different words order their values: for a number or date-time key the
// whole value in words[0] (words[1] is 0); for a text key its first 16
// unquoted bytes, folded for an I key. Returns whether the words hold the whole value, so that
// equal words mean equal values: always but for a number with too many
// digits (whose words are 0) and a text of more than 16 bytes.
bool OrderWords(const KeyValue& value, const CsvSortKey& key, uint64_t (&words)[2]);
// words[0] of OrderWords.
[[nodiscard]] uint64_t OrderWord(const KeyValue& value, const CsvSortKey& key);

// The value of a field text for a number key: digits, signs and full stops
// taken, "," "@" "\" skipped, anything else ends the scan. More than 12 taken
// characters end the run with 2002 naming the text.
[[nodiscard]] double ParseNumberField(const char* text);

// The field text for a date-time key: the first six digit groups as year (4
// digits), month, day, hour, minute and second (2 digits each), further digits
// of a group dropped, read as the one 14-digit number that they spell.
[[nodiscard]] uint64_t DateTimeValue(const char* text);
