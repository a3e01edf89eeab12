#include "cmdline/sort_keys.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>

#include "driver/log.h"
#include "driver/messages.h"
#include "driver/text.h"

namespace {

[[noreturn]] void RejectItem(const char* itemAsWritten) { FatalError(msg::kKeyItemInvalid, itemAsWritten); }

// One key item, "position[,type[,order]]", with blanks around each part.
CsvSortKey* ParseKeyItem(char* item) {
  const char* asWritten = DuplicateString(item);
  char* parts[3] = {};
  int partCount = 0;
  char* cursor = item;
  for (char* part = NextItem(cursor, ','); part; part = NextItem(cursor, ',')) {
    if (partCount == 3) RejectItem(asWritten);
    parts[partCount++] = part;
  }
  if (partCount == 0) RejectItem(asWritten);
  for (int i = 0; i < partCount; ++i) TrimBlanks(parts[i]);

  // The position is a decimal number whose integer part names the field, so
  // 3.7 is field 3. A not-a-number would pass every comparison below.
  errno = 0;
  char* end = nullptr;
  double position = std::strtod(parts[0], &end);
  if (errno == ERANGE || *end != '\0' || std::isnan(position) || position < 1.0 || position > kMaxFields) {
    RejectItem(asWritten);
  }

  KeyType keyType = KeyType::kText;
  if (parts[1]) {
    bool known = false;
    for (const msg::KeyTypeName& name : msg::kKeyTypeNames) {
      const char letter[] = {name.letter, '\0'};
      if (!known && CompareIgnoringCase(parts[1], letter) == 0) {
        keyType = name.type;
        known = true;
      }
    }
    if (!known) RejectItem(asWritten);
  }

  int32_t order = 1;
  if (parts[2]) {
    if (CompareIgnoringCase(parts[2], "d") == 0) {
      order = -1;
    } else if (CompareIgnoringCase(parts[2], "a") != 0) {
      RejectItem(asWritten);
    }
  }
  return CreateCsvSortKey(keyType, static_cast<int32_t>(position - 1.0), order);
}

}  // namespace

void ParseSortKeys(CsvSortOption& options, const char* value) {
  if (!value) FatalError(msg::kKeysNoValue);

  // All items are counted before any is examined.
  char* items[kMaxSortKeys];
  int itemCount = 0;
  char* cursor = DuplicateString(value);
  for (char* item = NextItem(cursor, ':'); item; item = NextItem(cursor, ':')) {
    if (itemCount == kMaxSortKeys) FatalError(msg::kKeysTooMany);
    items[itemCount++] = item;
  }
  if (itemCount == 0) FatalError(msg::kKeysInvalid);

  for (int k = 0; k < itemCount; ++k) options.sortKeys[k] = ParseKeyItem(items[k]);

  for (int i = 0; i < itemCount; ++i) {
    for (int j = i + 1; j < itemCount; ++j) {
      if (options.sortKeys[i]->fieldIndex == options.sortKeys[j]->fieldIndex) {
        FatalError(msg::kKeyFieldDuplicate, options.sortKeys[i]->fieldIndex + 1);
      }
    }
  }
  LogMessage(msg::kSortKeys, value);
}
