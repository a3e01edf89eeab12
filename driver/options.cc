#include "driver/options.h"

#include <cstdlib>

#include "driver/log.h"
#include "driver/messages.h"

CsvSortOption* CreateCsvSortOption() {
  // calloc gives null texts and slots, a count of 0 and clear flags.
  auto* options = static_cast<CsvSortOption*>(std::calloc(1, sizeof(CsvSortOption)));
  if (!options) FatalError(msg::kSortOptionAlloc);
  return options;
}

CsvSortKey* CreateCsvSortKey(KeyType keyType, int32_t fieldIndex, int32_t order) {
  auto* key = static_cast<CsvSortKey*>(std::malloc(sizeof(CsvSortKey)));
  if (!key) FatalError(msg::kSortKeyAlloc);
  *key = CsvSortKey{keyType, fieldIndex, order};
  return key;
}

int CountSortKeys(const CsvSortOption& options) {
  int count = 0;
  while (count < kMaxSortKeys && options.sortKeys[count]) ++count;
  return count;
}
