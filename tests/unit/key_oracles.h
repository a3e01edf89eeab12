// Plain models of how a field text reads under a key, written step by step
// from the rules and kept apart from the tool's fast readers, which the unit
// tests and the fuzz targets hold against them.
#pragma once

#include <cstddef>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "driver/text.h"

// Copies source into destination with every double quote dropped and the byte
// after it taken as data ("" gives one quote). Holds at most size - 1 bytes and
// is always terminated. A null or empty source gives the empty text.
inline void CopyUnquoted(const char* source, char* destination, size_t size) {
  destination[0] = '\0';
  if (!source) return;
  size_t count = 0;
  for (const char* read = source; count + 1 < size; ++read) {
    if (*read == '"') ++read;
    if (!*read) break;
    destination[count++] = *read;
  }
  destination[count] = '\0';
}

// The 14 digits of a date-time key: the unquoted copy with its blanks trimmed
// is cut into groups of digits, of which the first six count, the first with
// four digits and the others with two (further digits dropped, a missing
// group 0), written as "%04d%02d%02d%02d%02d%02d".
inline std::string NormalizeDateTime(const char* text) {
  const size_t length = std::strlen(text);
  std::vector<char> copy(length + 1);
  CopyUnquoted(text, copy.data(), length + 1);
  TrimBlanks(copy.data());
  int values[6] = {};
  int group = 0;
  int digits = 0;
  for (const char* p = copy.data(); *p && group < 6; ++p) {
    if (*p >= '0' && *p <= '9') {
      if (digits < (group == 0 ? 4 : 2)) values[group] = values[group] * 10 + (*p - '0');
      ++digits;
    } else if (digits > 0) {
      ++group;
      digits = 0;
    }
  }
  char out[32];
  std::snprintf(out, sizeof out, "%04d%02d%02d%02d%02d%02d", values[0], values[1], values[2], values[3],
                values[4], values[5]);
  return out;
}
