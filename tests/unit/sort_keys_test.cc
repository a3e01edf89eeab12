// The keys a /K value gives: positions, types, orders and the defaults. Which
// values are refused, with which message, and how a position reads as a
// number (the C runtime's, so seen on both builds) are checked end to end in
// tests/e2e/test_sort_keys.py.
#include "cmdline/sort_keys.h"

#include <string>
#include <vector>

#include "fatal_capture.h"

namespace {

struct Key {
  KeyType keyType;
  int32_t field;  // from 1, as written
  int32_t order;
};

// Parses value into fresh options; fails the test when the run would end.
std::vector<Key> Parse(const std::string& value) {
  CsvSortOption options{};
  FatalOutcome outcome = RunExpectingFatal([&] { ParseSortKeys(options, value.c_str()); });
  EXPECT_FALSE(outcome.ended) << value << ": " << outcome.lastMessage;
  std::vector<Key> keys;
  for (int k = 0; k < kMaxSortKeys && options.sortKeys[k]; ++k) {
    keys.push_back(
        {options.sortKeys[k]->keyType, options.sortKeys[k]->fieldIndex + 1, options.sortKeys[k]->order});
  }
  return keys;
}

void ExpectKeys(const std::string& value, const std::vector<Key>& expected) {
  SCOPED_TRACE(value);
  std::vector<Key> keys = Parse(value);
  ASSERT_EQ(keys.size(), expected.size());
  for (size_t i = 0; i < keys.size(); ++i) {
    EXPECT_EQ(keys[i].keyType, expected[i].keyType) << "key " << i;
    EXPECT_EQ(keys[i].field, expected[i].field) << "key " << i;
    EXPECT_EQ(keys[i].order, expected[i].order) << "key " << i;
  }
}

TEST(ParseSortKeys, ItemsPartsAndDefaults) {
  ExpectKeys("1", {{KeyType::kText, 1, 1}});
  ExpectKeys("2,n,d", {{KeyType::kNumber, 2, -1}});
  ExpectKeys("2,N,D", {{KeyType::kNumber, 2, -1}});
  ExpectKeys("1,S,A:3,D", {{KeyType::kText, 1, 1}, {KeyType::kDateTime, 3, 1}});
  ExpectKeys("4,i,a", {{KeyType::kTextIgnoreCase, 4, 1}});
  ExpectKeys("1,S,A:", {{KeyType::kText, 1, 1}});
  ExpectKeys(":1,S,A", {{KeyType::kText, 1, 1}});
  ExpectKeys("1::2", {{KeyType::kText, 1, 1}, {KeyType::kText, 2, 1}});
  // Runs of commas give no empty part: d is the type here.
  ExpectKeys("3,,d", {{KeyType::kDateTime, 3, 1}});
  ExpectKeys(",,5,,n,,,d,", {{KeyType::kNumber, 5, -1}});
  ExpectKeys("1,", {{KeyType::kText, 1, 1}});
  ExpectKeys(" 2 , n ", {{KeyType::kNumber, 2, 1}});
}

TEST(ParseSortKeys, SixtyFourItemsFillEverySlot) {
  std::string value;
  for (int i = 64; i >= 1; --i) value += std::to_string(i) + ",n,d:";
  std::vector<Key> keys = Parse(value);
  ASSERT_EQ(keys.size(), 64u);
  EXPECT_EQ(keys[0].field, 64);
  EXPECT_EQ(keys[63].field, 1);
  EXPECT_EQ(keys[63].keyType, KeyType::kNumber);
  EXPECT_EQ(keys[63].order, -1);
}

}  // namespace
