// Record comparison. Field texts are compared as their unquoted form (every
// double quote dropped, the byte after it taken as data, at most 2048 bytes),
// read straight from the stored text: no copy is made, and the results are
// those of comparing the unquoted copies.
#include "sort/compare.h"

#include <climits>
#include <cstdlib>
#include <cstring>

#include "driver/exit_codes.h"
#include "driver/log.h"
#include "driver/messages.h"
#include "driver/text.h"

namespace {

// Bytes of a field that take part in a comparison: the unquoted text holds at
// most 2048 of them.
constexpr int kComparedBytes = 2048;
// Characters of a number text: signs, digits and full stops.
constexpr int kNumberCharacters = 12;

const char* missingKeyWarning = nullptr;

// Walks the unquoted form of a stored field text byte by byte, as the unquoted
// copy of at most `limit` bytes would hold it.
struct UnquotedReader {
  const unsigned char* next;
  int left;

  UnquotedReader(const char* text, int limit)
      : next(reinterpret_cast<const unsigned char*>(text ? text : "")), left(limit) {}

  // The next byte (1 to 255), or 0 at the end of the unquoted text.
  int Next() {
    if (*next == '"') ++next;  // the byte after a quote is data, a quote included
    if (left == 0 || *next == 0) return 0;
    --left;
    return *next++;
  }
};

int FoldCase(int byte) { return (byte >= 'A' && byte <= 'Z') ? byte + 0x20 : byte; }

// Bytes as unsigned values: -1, 0 or +1. A text that ends first sorts first.
int CompareText(const char* a, const char* b) {
  UnquotedReader x(a, kComparedBytes);
  UnquotedReader y(b, kComparedBytes);
  for (;;) {
    int p = x.Next();
    int q = y.Next();
    if (p != q) return p < q ? -1 : 1;
    if (p == 0) return 0;
  }
}

// ASCII letters folded to lower case: the difference of the first pair of
// folded bytes that differ, or 0.
int CompareTextIgnoringCase(const char* a, const char* b) {
  UnquotedReader x(a, kComparedBytes);
  UnquotedReader y(b, kComparedBytes);
  for (;;) {
    int p = FoldCase(x.Next());
    int q = FoldCase(y.Next());
    if (p != q || p == 0) return p - q;
  }
}

int CompareNumbers(const char* a, const char* b) {
  double x = ParseNumberField(a);
  double y = ParseNumberField(b);
  if (x < y) return -1;
  if (x > y) return 1;
  return 0;
}

int CompareDateTimes(const char* a, const char* b) {
  char x[15];
  char y[15];
  NormalizeDateTime(a, x);
  NormalizeDateTime(b, y);
  int result = std::memcmp(x, y, 14);
  return (result > 0) - (result < 0);
}

}  // namespace

int CompareRecords(const CsvRecord* first, const CsvRecord* second,
                   const CsvSortOption& options) {
  for (int k = 0; k < kMaxSortKeys; ++k) {
    const CsvSortKey* key = options.sortKeys[k];
    if (!key) break;
    int i = key->fieldIndex;
    if (i >= first->fieldCount || i >= second->fieldCount) {
      // A missing key field tells nothing about this pair.
      RecordMissingKeyWarning();
      continue;
    }
    const char* a = first->fields[i];
    const char* b = second->fields[i];
    int result = 0;
    switch (key->keyType) {
      case kKeyText:
        result = CompareText(a, b);
        break;
      case kKeyTextIgnoreCase:
        result = CompareTextIgnoringCase(a, b);
        break;
      case kKeyNumber:
        result = CompareNumbers(a, b);
        break;
      case kKeyDateTime:
        result = CompareDateTimes(a, b);
        break;
      default:
        break;
    }
    result *= key->order;
    if (result != 0) return result;
  }
  return 0;
}

double ParseNumberField(const char* text) {
  UnquotedReader reader(text, kComparedBytes);
  char number[kNumberCharacters + 1];
  int length = 0;
  int byte = reader.Next();
  while (byte == ' ') byte = reader.Next();
  for (; byte != 0; byte = reader.Next()) {
    if ((byte >= '0' && byte <= '9') || byte == '+' || byte == '-' || byte == '.') {
      if (length == kNumberCharacters) {
        FatalError(exit_code::kLimit, msg::kTooManyDigits, text ? text : "");
      }
      number[length++] = static_cast<char>(byte);
    } else if (byte == ',' || byte == '@' || byte == '\\') {
      // Thousands separators and currency marks are skipped.
    } else {
      break;
    }
  }
  number[length] = '\0';
  // Only signs, digits and full stops reach strtod: the longest leading
  // number among them gives the value, none gives 0.
  return std::strtod(number, nullptr);
}

void NormalizeDateTime(const char* text, char* out) {
  // Year, month, day, hour, minute, second: the first six digit groups, of
  // which the first gives 4 digits and the others 2; further digits and
  // groups are dropped. Blanks around the text are no digits, so they change
  // nothing.
  constexpr int kGroups = 6;
  int values[kGroups] = {0, 0, 0, 0, 0, 0};
  int group = 0;     // the group in progress, or the next one to begin
  int digits = 0;    // digits seen in the group in progress
  UnquotedReader reader(text, INT_MAX);  // the whole text: no cut
  for (int byte = reader.Next(); byte != 0 && group < kGroups; byte = reader.Next()) {
    if (byte >= '0' && byte <= '9') {
      if (digits < (group == 0 ? 4 : 2)) values[group] = values[group] * 10 + (byte - '0');
      ++digits;
    } else if (digits > 0) {
      ++group;
      digits = 0;
    }
  }
  int position = 0;
  auto put = [&](int value, int width) {
    for (int w = width - 1; w >= 0; --w) {
      out[position + w] = static_cast<char>('0' + value % 10);
      value /= 10;
    }
    position += width;
  };
  put(values[0], 4);
  for (int g = 1; g < kGroups; ++g) put(values[g], 2);
  out[position] = '\0';
}

const char* MissingKeyWarning() { return missingKeyWarning; }

void RecordMissingKeyWarning() {
  if (!missingKeyWarning) missingKeyWarning = DuplicateString(msg::kMissingKeyField);
}
