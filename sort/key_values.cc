// Key values: one record's field read once under one key (the unquoted
// bytes of a text, a number, the 14 digits of a date-time), compared, hashed
// and turned into order words. Field texts are compared as their unquoted
// form (every double quote dropped, the byte after it taken as data, at most
// 2048 bytes), read straight from the stored text: no copy is made, and the
// results are those of comparing the unquoted copies.
#include "sort/key_values.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cassert>
#include <climits>
#include <cstring>
#include <iterator>

#include "driver/log.h"
#include "driver/messages.h"
#include "driver/text.h"

namespace {

// Characters of a number text: signs, digits and full stops.
constexpr int kNumberCharacters = 12;

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

// Bytes of the unquoted texts as unsigned values: -1, 0 or +1. A text that
// ends first sorts first. Texts without a quote are their own unquoted form.
int CompareText(const KeyValue& a, const KeyValue& b) {
  if (!a.quoted && !b.quoted) {
    int result = std::memcmp(a.text, b.text, a.length < b.length ? a.length : b.length);
    if (result != 0) return result < 0 ? -1 : 1;
    return a.length < b.length ? -1 : (a.length > b.length ? 1 : 0);
  }
  UnquotedReader x(a.text, kMaxRecordLength);
  UnquotedReader y(b.text, kMaxRecordLength);
  for (;;) {
    int p = x.Next();
    int q = y.Next();
    if (p != q) return p < q ? -1 : 1;
    if (p == 0) return 0;
  }
}

// ASCII letters folded to lower case: the difference of the first pair of
// folded bytes that differ, or 0.
int CompareTextIgnoringCase(const KeyValue& a, const KeyValue& b) {
  UnquotedReader x(a.text, kMaxRecordLength);
  UnquotedReader y(b.text, kMaxRecordLength);
  for (;;) {
    int p = FoldCase(x.Next());
    int q = FoldCase(y.Next());
    if (p != q || p == 0) return p - q;
  }
}

// Whether a byte is taken into the number text, skipped, or ends the scan.
enum NumberByte : uint8_t { kEnds, kTaken, kSkipped };

constexpr std::array<NumberByte, 256> MakeNumberBytes() {
  std::array<NumberByte, 256> table{};
  for (int byte = '0'; byte <= '9'; ++byte) table[byte] = kTaken;
  table['+'] = table['-'] = table['.'] = kTaken;
  // Thousands separators and currency marks are skipped.
  table[','] = table['@'] = table['\\'] = kSkipped;
  return table;
}
constexpr std::array<NumberByte, 256> kNumberBytes = MakeNumberBytes();

// The number characters taken from a field text: false when there are more
// than 12 of them.
bool TakeNumberCharacters(const char* text, char* number, int& length) {
  length = 0;
  if (!text) return true;
  // Most number fields hold no quote: their bytes are read straight, which
  // took the cost of reading a number from 15% of a sort on a number key to
  // 3% (perf over bench/run.py, row number; tarnsek_micro BM_RankNumber). A
  // quote sends the text to the unquoted reader from its start.
  const unsigned char* const first = reinterpret_cast<const unsigned char*>(text);
  const unsigned char* next = first;
  while (*next == ' ') ++next;
  for (; next - first < kMaxRecordLength; ++next) {
    const NumberByte kind = kNumberBytes[*next];
    if (kind == kTaken) {
      if (length == kNumberCharacters) return false;
      number[length++] = static_cast<char>(*next);
    } else if (kind == kEnds) {
      if (*next != '"') return true;
      break;
    }
  }
  UnquotedReader reader(text, kMaxRecordLength);
  length = 0;
  int byte = reader.Next();
  while (byte == ' ') byte = reader.Next();
  for (; byte != 0; byte = reader.Next()) {
    const NumberByte kind = kNumberBytes[byte];
    if (kind == kEnds) break;
    if (kind == kTaken) {
      if (length == kNumberCharacters) return false;
      number[length++] = static_cast<char>(byte);
    }
  }
  return true;
}

// The value of the longest leading number of signs, digits and full stops: an
// optional sign, digits, at most one full stop; none gives 0. Twelve
// characters hold fewer than 2^53 as digits, and powers of ten up to 10^11
// are exact doubles, so one correctly rounded division gives exactly the
// value of the decimal text, as a full decimal conversion would. Reading a
// field like 123456.1234 this way takes 20 to 35 ns, where strtod alone took
// 65 to 80 ns, and gives the same values (tarnsek_micro BM_RankNumber, per
// record).
constexpr double kPowersOfTen[kNumberCharacters] = {1e0, 1e1, 1e2, 1e3, 1e4,  1e5,
                                                    1e6, 1e7, 1e8, 1e9, 1e10, 1e11};

double NumberValue(const char* number, int length) {
  int i = 0;
  bool negative = false;
  if (i < length && (number[i] == '+' || number[i] == '-')) negative = number[i++] == '-';
  uint64_t digits = 0;
  int count = 0;
  int fraction = 0;
  for (; i < length && number[i] >= '0' && number[i] <= '9'; ++i, ++count) {
    digits = digits * 10 + static_cast<uint64_t>(number[i] - '0');
  }
  if (i < length && number[i] == '.') {
    for (++i; i < length && number[i] >= '0' && number[i] <= '9'; ++i, ++count, ++fraction) {
      digits = digits * 10 + static_cast<uint64_t>(number[i] - '0');
    }
  }
  if (count == 0) return 0.0;
  double value = static_cast<double>(digits) / kPowersOfTen[fraction];
  return negative ? -value : value;
}

bool IsDigit(unsigned char byte) { return static_cast<unsigned>(byte - '0') < 10; }

// The value of a number key's field text, as NumberValue gives it for the
// characters that TakeNumberCharacters takes: false when there are more than
// 12 of them. The common text, a sign, digits, perhaps a full stop and more
// digits, then the end of the field, is read in one pass with the value built
// as its digits are met; anything else is read the long way. The key check,
// the ranking and the merge each read every number: through the copied
// characters a field of 7 digits took 231 instructions, this way 111
// (callgrind over bench/run.py, row number).
bool ReadNumber(const char* text, double* value) {
  *value = 0.0;
  if (!text) return true;
  const unsigned char* const start = reinterpret_cast<const unsigned char*>(text);
  const unsigned char* first = start;
  while (*first == ' ') ++first;
  const unsigned char* p = first;
  const bool negative = *p == '-';
  if (*p == '+' || *p == '-') ++p;
  uint64_t digits = 0;
  const unsigned char* const whole = p;
  for (; IsDigit(*p); ++p) digits = digits * 10 + (*p - '0');
  int count = static_cast<int>(p - whole);
  int fraction = 0;
  if (*p == '.') {
    const unsigned char* const fractionStart = ++p;
    for (; IsDigit(*p); ++p) digits = digits * 10 + (*p - '0');
    fraction = static_cast<int>(p - fractionStart);
    count += fraction;
  }
  if (p - first <= kNumberCharacters && kNumberBytes[*p] == kEnds && *p != '"') {
    if (count > 0) {
      const double number = static_cast<double>(digits) / kPowersOfTen[fraction];
      *value = negative ? -number : number;
    }
    return true;
  }
  char number[kNumberCharacters];
  int length = 0;
  if (!TakeNumberCharacters(text, number, length)) return false;
  *value = NumberValue(number, length);
  return true;
}

[[noreturn]] void TooManyDigits(const char* text) { FatalError(msg::kTooManyDigits, text ? text : ""); }

}  // namespace

KeyValue KeyValueOf(const CsvRecord* record, const CsvSortKey& key) {
  KeyValue value{};
  const int i = key.fieldIndex;
  if (i >= record->fieldCount) return value;
  const char* text = record->fields[i] ? record->fields[i] : "";
  value.text = text;
  value.present = true;
  switch (key.keyType) {
    case KeyType::kNumber:
      value.tooManyDigits = !ReadNumber(text, &value.number);
      break;
    case KeyType::kDateTime:
      value.dateTime = DateTimeValue(text);
      break;
    case KeyType::kText:
    case KeyType::kTextIgnoreCase:
      value.length = record->fields[i] ? FieldLength(record, i) : 0;
      assert(value.length == std::strlen(text));
      value.quoted = std::memchr(text, '"', value.length) != nullptr;
      break;
  }
  return value;
}

int CompareKeyValues(const KeyValue& first, const KeyValue& second, const CsvSortKey& key) {
  int result = 0;
  switch (key.keyType) {
    case KeyType::kText:
      result = CompareText(first, second);
      break;
    case KeyType::kTextIgnoreCase:
      result = CompareTextIgnoringCase(first, second);
      break;
    case KeyType::kNumber:
      if (first.tooManyDigits) TooManyDigits(first.text);
      if (second.tooManyDigits) TooManyDigits(second.text);
      result = first.number < second.number ? -1 : (first.number > second.number ? 1 : 0);
      break;
    case KeyType::kDateTime:
      result = first.dateTime < second.dateTime ? -1 : (first.dateTime > second.dateTime ? 1 : 0);
      break;
  }
  return result * key.order;
}

namespace {

uint64_t MixHash(uint64_t hash, uint64_t word) {
  hash = (hash ^ word) * 0x9E3779B97F4A7C15ull;
  return hash ^ (hash >> 29);
}

uint64_t HashBytes(const unsigned char* bytes, size_t length) {
  uint64_t hash = length;
  size_t i = 0;
  for (; i + 8 <= length; i += 8) {
    uint64_t word;
    std::memcpy(&word, bytes + i, 8);
    hash = MixHash(hash, word);
  }
  uint64_t tail = 0;
  std::memcpy(&tail, bytes + i, length - i);
  return MixHash(hash, tail);
}

}  // namespace

uint64_t HashKeyValue(const KeyValue& value, const CsvSortKey& key) {
  switch (key.keyType) {
    case KeyType::kNumber: {
      const double number = value.number == 0.0 ? 0.0 : value.number;  // -0 equals 0
      uint64_t bits;
      std::memcpy(&bits, &number, sizeof bits);
      return MixHash(0, bits);
    }
    case KeyType::kDateTime:
      return MixHash(0, value.dateTime);
    case KeyType::kText:
      if (!value.quoted) return HashBytes(reinterpret_cast<const unsigned char*>(value.text), value.length);
      break;
    case KeyType::kTextIgnoreCase:
      break;
  }
  // The unquoted bytes, folded for an I key, as the comparison reads them.
  unsigned char bytes[kMaxRecordLength];
  size_t length = 0;
  UnquotedReader reader(value.text, kMaxRecordLength);
  for (int byte = reader.Next(); byte != 0; byte = reader.Next()) {
    bytes[length++] =
        static_cast<unsigned char>(key.keyType == KeyType::kTextIgnoreCase ? FoldCase(byte) : byte);
  }
  return HashBytes(bytes, length);
}

bool HasOrderWord(const CsvSortKey& key) {
  // Every key type has words; their order is the key's for an order of 1 or -1.
  return key.order == 1 || key.order == -1;
}

// A double's bits order as their sign-magnitude integer: a set sign bit flips
// every bit, a clear one only the sign bit. -0 is made 0 first, as -0 equals
// 0; no NaN can be read. Text bytes are taken most significant first (folded
// to lower case for an I key, as its comparison folds them); a text holds no
// zero byte, so a shorter text's padding sorts it first.
bool OrderWords(const KeyValue& value, const CsvSortKey& key, uint64_t (&words)[2]) {
  words[0] = 0;
  words[1] = 0;
  bool whole = true;
  switch (key.keyType) {
    case KeyType::kNumber: {
      if (value.tooManyDigits) return false;
      const double number = value.number == 0.0 ? 0.0 : value.number;
      std::memcpy(&words[0], &number, sizeof words[0]);
      words[0] = (words[0] >> 63) != 0 ? ~words[0] : words[0] | (uint64_t{1} << 63);
      break;
    }
    case KeyType::kDateTime:
      words[0] = value.dateTime;
      break;
    case KeyType::kText:
    case KeyType::kTextIgnoreCase: {
      unsigned char bytes[16] = {};
      if (value.quoted) {
        UnquotedReader reader(value.text, kMaxRecordLength);
        for (unsigned char& byte : bytes) byte = static_cast<unsigned char>(reader.Next());
        whole = reader.Next() == 0;
      } else {
        std::memcpy(bytes, value.text, value.length < 16 ? value.length : 16);
        whole = value.length <= 16;
      }
      // Words for an I key let its values be radix sorted and the merge
      // compare words first: a chunk keyed by the ids as an I key took 40.5
      // ms to sort without them, 6.7 ms with them (tarnsek_micro
      // BM_SortChunkFewTiesIgnoringCase), and the merge of bench/run.py's 19
      // files by /K 4,I 0.28 s, with them 0.18 s.
      if (key.keyType == KeyType::kTextIgnoreCase) {
        for (unsigned char& byte : bytes) byte = static_cast<unsigned char>(FoldCase(byte));
      }
      // The first byte most significant.
      std::memcpy(words, bytes, sizeof bytes);
      if constexpr (std::endian::native == std::endian::little) {
        words[0] = __builtin_bswap64(words[0]);
        words[1] = __builtin_bswap64(words[1]);
      }
      break;
    }
  }
  if (key.order < 0) {
    words[0] = ~words[0];
    words[1] = ~words[1];
  }
  return whole;
}

uint64_t OrderWord(const KeyValue& value, const CsvSortKey& key) {
  uint64_t words[2];
  (void)OrderWords(value, key, words);
  return words[0];
}

double ParseNumberField(const char* text) {
  double value = 0.0;
  if (!ReadNumber(text, &value)) TooManyDigits(text);
  return value;
}

namespace {

// Year, month, day, hour, minute, second: the first six digit groups, of which
// the first gives 4 digits and the others 2; further digits and groups are
// dropped. Blanks around the text are no digits, so they change nothing.
constexpr int kDateGroups = 6;

void ReadDateGroups(const char* text, int (&values)[kDateGroups]) {
  int group = 0;                         // the group in progress, or the next one to begin
  int digits = 0;                        // digits seen in the group in progress
  UnquotedReader reader(text, INT_MAX);  // the whole text: no cut
  for (int byte = reader.Next(); byte != 0 && group < kDateGroups; byte = reader.Next()) {
    if (byte >= '0' && byte <= '9') {
      if (digits < (group == 0 ? 4 : 2)) values[group] = values[group] * 10 + (byte - '0');
      ++digits;
    } else if (digits > 0) {
      ++group;
      digits = 0;
    }
  }
}

// DateTimeValue of a text without a double quote, read straight, the value
// built as the groups end: false, having read nothing of use, when the text
// holds a quote. A date-time field like 2023/9/28 13:16:55 took 468
// instructions through the unquoted reader and takes 281 (callgrind over
// bench/run.py, row date, where the ranking and the merge each read every
// date-time).
bool PlainDateTimeValue(const char* text, uint64_t* value) {
  uint64_t total = 0;  // the groups ended so far
  unsigned group = 0;  // the value of the group in progress
  int digits = 0;      // digits seen in it
  int limit = 4;       // digits it keeps
  int ended = 0;
  for (const unsigned char* p = reinterpret_cast<const unsigned char*>(text);; ++p) {
    const unsigned digit = static_cast<unsigned>(*p - '0');
    if (digit < 10) {
      if (digits < limit) group = group * 10 + digit;
      ++digits;
      continue;
    }
    if (*p == '"') return false;
    if (digits > 0) {
      total = total * 100 + group;
      group = 0;
      digits = 0;
      limit = 2;
      if (++ended == kDateGroups) break;
    }
    if (*p == 0) break;
  }
  for (; ended < kDateGroups; ++ended) total *= 100;
  *value = total;
  return true;
}

}  // namespace

uint64_t DateTimeValue(const char* text) {
  uint64_t plain = 0;
  if (text && PlainDateTimeValue(text, &plain)) return plain;
  int values[kDateGroups] = {};
  ReadDateGroups(text, values);
  uint64_t value = static_cast<uint64_t>(values[0]);
  for (int g = 1; g < kDateGroups; ++g) value = value * 100 + static_cast<uint64_t>(values[g]);
  return value;
}
