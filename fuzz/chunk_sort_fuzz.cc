// The fast chunk sort against the literal quicksort on small chunks. Input:
// one byte for the number of keys (1 to 4), two bytes per key (field 1 to 4;
// type S, I, N, D and the order), then the records, one per line, fields cut at
// commas. Both sorts must leave the very same permutation, also when records
// lack key fields (the comparison then skips those keys pair by pair and is no
// order). The literal sort runs on a table of CompareRecords results, which is
// what it would see from the records themselves.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <string>
#include <vector>

#include "csv/csv_file.h"
#include "driver/exit_codes.h"
#include "driver/messages.h"
#include "fuzz_support.h"
#include "sort/chunk_quicksort.h"
#include "sort/chunk_sort.h"
#include "sort/compare.h"

namespace {

constexpr size_t kMaxRecords = 32;  // the literal sort of larger chunks is too slow here

ChunkSorter sorter;

struct Slot {
  int32_t index;
};

struct TableCompare {
  const std::vector<int8_t>* table;
  size_t count;
  int operator()(const Slot* a, const Slot* b) const {
    return (*table)[static_cast<size_t>(a->index) * count + static_cast<size_t>(b->index)];
  }
};

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  PrepareFuzzTarget();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 3) return 0;
  CsvSortOption options{};
  CsvSortKey keys[4];
  const int keyCount = 1 + (data[0] & 3);
  size_t at = 1;
  for (int k = 0; k < keyCount; ++k) {
    if (at + 2 > size) return 0;
    // The type from the table of key types, so that every type is fuzzed.
    const KeyType type = msg::kKeyTypeNames[(data[at + 1] & 3) % std::size(msg::kKeyTypeNames)].type;
    keys[k] = CsvSortKey{type, data[at] & 3, (data[at + 1] & 4) ? -1 : 1};
    options.sortKeys[k] = &keys[k];
    at += 2;
  }

  std::vector<CsvRecord*> records;
  while (at < size && records.size() < kMaxRecords) {
    size_t end = at;
    while (end < size && data[end] != '\n') ++end;
    // The fields as the record constructor takes them: each text followed
    // by a zero byte in place of its comma or line end. A zero byte within
    // the line, which no record read can hold, stands for the byte 0x80.
    std::string texts(reinterpret_cast<const char*>(data + at), end - at);
    std::replace(texts.begin(), texts.end(), '\0', '\x80');
    texts += '\0';
    int32_t starts[kMaxFields] = {0};
    int32_t fieldCount = 1;
    for (size_t p = 0; p + 1 < texts.size(); ++p) {
      if (texts[p] != ',') continue;
      texts[p] = '\0';
      if (fieldCount == kMaxFields) {
        texts.resize(p + 1);
        break;
      }
      starts[fieldCount++] = static_cast<int32_t>(p + 1);
    }
    records.push_back(MakeRecord(texts.data(), static_cast<uint32_t>(texts.size()), starts, fieldCount));
    at = end + 1;
  }
  const size_t n = records.size();
  if (n == 0) return 0;

  std::vector<CsvRecord*> buffer(records);
  int fatalCode = 0;
  try {
    SortChunk(sorter, buffer.data(), static_cast<int32_t>(n), options);
  } catch (const FatalEnd& end) {
    fatalCode = end.exitCode;
  }
  std::vector<size_t> fastOrder(n);
  for (size_t k = 0; k < n; ++k) {
    size_t i = 0;
    while (i < n && records[i] != buffer[k]) ++i;
    FUZZ_CHECK(i < n);
    fastOrder[k] = i;
  }

  if (fatalCode != 0) {
    // Only a number field of more than 12 number characters ends a sort.
    FUZZ_CHECK(fatalCode == exit_code::kLimit);
    bool tooLong = false;
    for (CsvRecord* record : records) {
      for (int k = 0; k < keyCount; ++k) {
        if (keys[k].keyType != KeyType::kNumber || keys[k].fieldIndex >= record->fieldCount) continue;
        try {
          (void)ParseNumberField(record->fields[keys[k].fieldIndex]);
        } catch (const FatalEnd&) {
          tooLong = true;
        }
      }
    }
    FUZZ_CHECK(tooLong);
  } else {
    std::vector<bool> seen(n, false);
    for (size_t i : fastOrder) {
      FUZZ_CHECK(!seen[i]);
      seen[i] = true;
    }
    std::vector<int8_t> table(n * n);
    for (size_t i = 0; i < n; ++i) {
      for (size_t j = 0; j < n; ++j) {
        int result = CompareRecords(records[i], records[j], options);
        table[i * n + j] = static_cast<int8_t>((result > 0) - (result < 0));
      }
    }
    std::vector<Slot> slots(n);
    std::vector<Slot*> literal(n);
    for (size_t i = 0; i < n; ++i) {
      slots[i].index = static_cast<int32_t>(i);
      literal[i] = &slots[i];
    }
    ChunkQuicksort<Slot, TableCompare> quicksort(literal.data(), TableCompare{&table, n});
    quicksort.SortChunk(0, static_cast<int32_t>(n) - 1);
    for (size_t k = 0; k < n; ++k) FUZZ_CHECK(static_cast<size_t>(literal[k]->index) == fastOrder[k]);
  }
  for (CsvRecord* record : records) ReleaseRecord(record);
  return 0;
}
