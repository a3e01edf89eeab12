// The /K parser over arbitrary text (cut at the first zero byte). A value is
// either refused with 3001 or gives one well-formed key per item, in order,
// with no field named twice.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "cmdline/sort_keys.h"
#include "driver/exit_codes.h"
#include "driver/options.h"
#include "fuzz_support.h"

namespace {

// Items as strtok cuts the value at ':': runs of ':' give no empty item.
int CountItems(const std::string& value) {
  int items = 0;
  bool inItem = false;
  for (char c : value) {
    if (c == ':') {
      inItem = false;
    } else if (!inItem) {
      inItem = true;
      ++items;
    }
  }
  return items;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  PrepareFuzzTarget();
  InstallArenaHooks();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string value(reinterpret_cast<const char*>(data),
                          strnlen(reinterpret_cast<const char*>(data), size));
  // The parser keeps its copies of the value for the life of the process:
  // they are freed with the arena, the keys and the options here.
  CsvSortOption* options = CreateCsvSortOption();
  int fatalCode = 0;
  BeginArena();
  try {
    ParseSortKeys(*options, value.c_str());
  } catch (const FatalEnd& end) {
    fatalCode = end.exitCode;
  }
  const int keys = CountSortKeys(*options);
  if (fatalCode != 0) {
    FUZZ_CHECK(fatalCode == exit_code::kCommandLine);
  } else {
    FUZZ_CHECK(keys >= 1 && keys <= kMaxSortKeys);
    FUZZ_CHECK(keys == CountItems(value));
    for (int i = 0; i < keys; ++i) {
      const CsvSortKey& key = *options->sortKeys[i];
      FUZZ_CHECK(key.keyType <= KeyType::kDateTime);
      FUZZ_CHECK(key.fieldIndex >= 0 && key.fieldIndex < kMaxFields);
      FUZZ_CHECK(key.order == 1 || key.order == -1);
      for (int j = 0; j < i; ++j) FUZZ_CHECK(options->sortKeys[j]->fieldIndex != key.fieldIndex);
    }
  }
  FreeArena();
  std::free(options);
  return 0;
}
