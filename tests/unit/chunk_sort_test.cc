// The chunk sort: the fast sort on ranks against the literal quicksort (the
// same permutation, equal records included), the ranks against
// CompareRecords, the checks of every key field, and the run files.
#include "sort/chunk_sort.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "driver/exit_codes.h"
#include "driver/messages.h"
#include "driver/text.h"
#include "fatal_capture.h"
#include "sort/chunk_quicksort.h"
#include "sort/compare.h"
#include "sort/rank_quicksort.h"
#include "sort/ranking.h"
#include "sort/sample_positions.h"
#include "test_support.h"

namespace {

namespace fs = std::filesystem;

using RankedQuicksort = ChunkQuicksort<Ranked, RankedCompare>;

// The sorter of every test here; zero-initialised as the product's is.
ChunkSorter sorter;

// ---------------------------------------------------------------------------
// Ranks alone: the literal quicksort over records that carry a rank, against
// the fast sort over the same ranks.

std::vector<uint32_t> FastOrder(const std::vector<uint32_t>& ranks) {
  std::vector<uint64_t> items(ranks.size());
  for (size_t i = 0; i < ranks.size(); ++i) items[i] = MakeItem(ranks[i], static_cast<uint32_t>(i));
  SortRankedSlots(sorter.quicksort, items.data(), static_cast<int32_t>(items.size()));
  std::vector<uint32_t> order;
  for (uint64_t item : items) order.push_back(static_cast<uint32_t>(item));
  return order;
}

// Rank patterns of a chunk of n records with about `distinct` different keys;
// kPermutation: n distinct ranks in random order, consecutive when distinct is
// at most n, spread over 0..distinct otherwise; kOneTied: every third record
// holds rank distinct - 1, the others ranks held once.
enum class Pattern {
  kRandom,
  kAscending,
  kDescending,
  kAllEqual,
  kSawtooth,
  kOrganPipe,
  kFewOutliers,
  kPermutation,
  kOneTied
};
constexpr Pattern kPatterns[] = {Pattern::kRandom,      Pattern::kAscending,   Pattern::kDescending,
                                 Pattern::kAllEqual,    Pattern::kSawtooth,    Pattern::kOrganPipe,
                                 Pattern::kFewOutliers, Pattern::kPermutation, Pattern::kOneTied};

std::vector<uint32_t> MakeRanks(Pattern pattern, uint32_t n, uint32_t distinct, std::mt19937& random) {
  std::vector<uint32_t> ranks(n);
  for (uint32_t i = 0; i < n; ++i) {
    uint32_t r = 0;
    switch (pattern) {
      case Pattern::kRandom:
        r = random() % distinct;
        break;
      case Pattern::kAscending:
        r = static_cast<uint32_t>(uint64_t{i} * distinct / n);
        break;
      case Pattern::kDescending:
        r = static_cast<uint32_t>(uint64_t{n - 1 - i} * distinct / n);
        break;
      case Pattern::kAllEqual:
        r = 7;
        break;
      case Pattern::kSawtooth:
        r = i % distinct;
        break;
      case Pattern::kOrganPipe:
        r = std::min(i, n - 1 - i) % distinct;
        break;
      case Pattern::kFewOutliers:
        r = (random() % 16 == 0) ? random() % distinct : distinct / 2;
        break;
      case Pattern::kPermutation:
        r = i * std::max(1u, distinct / n);
        break;
      case Pattern::kOneTied:
        r = i % 3 == 0 ? distinct - 1 : i;
        break;
    }
    ranks[i] = r;
  }
  if (pattern == Pattern::kPermutation) std::shuffle(ranks.begin(), ranks.end(), random);
  return ranks;
}

TEST(LiteralChunkSort, SamplePositionsAndComparisonCount) {
  SampleList list{};
  FillSamplePositions(0, 65535, list);
  ASSERT_EQ(list.count, 513);
  EXPECT_EQ((std::vector<int32_t>(list.positions, list.positions + 12)),
            (std::vector<int32_t>{0, 32767, 16383, 8191, 4095, 2047, 1023, 511, 255, 127, 383, 767}));
  EXPECT_EQ(list.positions[256], 32639);
  EXPECT_EQ(list.positions[512], 65535);
  // 513 entries for any range, lo first and hi last.
  for (int32_t hi : {0, 1, 2, 7, 100, 511, 512, 513, 1000}) {
    FillSamplePositions(1234, 1234 + hi, list);
    ASSERT_EQ(list.count, 513);
    EXPECT_EQ(list.positions[0], 1234);
    EXPECT_EQ(list.positions[512], 1234 + hi);
  }

  // Every pivot choice makes 513 * 512 / 2 comparisons, a range of two included.
  std::vector<Ranked> records{{1, 0}, {0, 1}};
  std::vector<Ranked*> buffer{&records[0], &records[1]};
  RankedQuicksort literal(buffer.data(), RankedCompare{});
  literal.SelectPivot(0, 1);
  EXPECT_EQ(literal.comparisons(), 131328);
}

TEST(FastChunkSort, EqualRecordsLeaveInTheLiteralOrder) {
  // Two equal records: second, first; three: third, second, first; four:
  // third, fourth, first, second.
  const std::vector<std::vector<uint32_t>> expected{{0}, {1, 0}, {2, 1, 0}, {2, 3, 0, 1}};
  for (size_t n = 1; n <= 4; ++n) {
    std::vector<uint32_t> ranks(n, 3);
    EXPECT_EQ(LiteralOrder(ranks), expected[n - 1]) << n;
    EXPECT_EQ(FastOrder(ranks), expected[n - 1]) << n;
  }
}

// The differential test: many chunks of every pattern, sizes 1 to a few
// thousand. TARNSEK_DIFFERENTIAL_ROUNDS multiplies the number of chunks.
TEST(FastChunkSort, SamePermutationAsTheLiteralQuicksort) {
  int rounds = 1;
  if (const char* text = std::getenv("TARNSEK_DIFFERENTIAL_ROUNDS")) rounds = std::max(1, std::atoi(text));
  std::mt19937 random(20240611);
  int64_t choices = 0;
  int chunks = 0;
  // Sanitizer and debug builds run a smaller share of the chunks.
#ifdef NDEBUG
  constexpr bool kFull = true;
#else
  constexpr bool kFull = false;
#endif
  auto check = [&](uint32_t n, uint32_t distinct, Pattern pattern) {
    std::vector<uint32_t> ranks = MakeRanks(pattern, n, std::max(1u, distinct), random);
    ASSERT_EQ(FastOrder(ranks), LiteralOrder(ranks, &choices))
        << "n " << n << " distinct " << distinct << " pattern " << static_cast<int>(pattern);
    ++chunks;
  };
  for (int round = 0; round < rounds; ++round) {
    // Every small size and pattern, alternately with few and with many ties.
    for (uint32_t n = 1; n <= 40; ++n) {
      for (Pattern pattern : kPatterns) check(n, 1 + random() % (n % 2 ? 3 : n), pattern);
    }
    // Sizes around the 513 samples and beyond.
    int k = 0;
    for (uint32_t n : {511u, 512u, 513u, 514u, 1100u}) {
      for (Pattern pattern : kPatterns) {
        const uint32_t spread = random() % 2 ? 6 : n;
        if (++k % (kFull ? 2 : 5) == 0) check(n, 1 + random() % spread, pattern);
      }
    }
    for (int j = 0; j < 6; ++j) {
      uint32_t n = 41 + random() % 460;
      check(n, n / 2, Pattern::kRandom);
      check(n, 2 + random() % 8, Pattern::kRandom);
    }
    if (kFull) check(2600, 1300, Pattern::kRandom);
    check(1100, 1100, Pattern::kPermutation);
    check(1100, 3300, Pattern::kPermutation);
    // One tied rank among ranks held once, below, within and above them.
    for (uint32_t tied : {1u, 150u, 400u}) check(300, tied, Pattern::kOneTied);
    check(2600, 1300, Pattern::kOneTied);
    check(2049, 1, Pattern::kAllEqual);
  }
  std::printf("%d chunks, %lld literal pivot choices\n", chunks, static_cast<long long>(choices));
}

TEST(FastChunkSort, SelectPivotExchangesAsTheLiteralOne) {
  std::mt19937 random(77);
  for (int round = 0; round < 120; ++round) {
    const uint32_t n = 1400;
    const uint32_t spread = round % 2 ? 5 : n;
    std::vector<uint32_t> ranks = MakeRanks(kPatterns[round % 7], n, 1 + random() % spread, random);
    int32_t size = 1 + static_cast<int32_t>(random() % (round % 3 == 0 ? 1200 : 600));
    if (round < 8) size = std::vector<int32_t>{1, 2, 3, 512, 513, 514, 1025, 1400}[round];
    int32_t lo = static_cast<int32_t>(random() % (n - size + 1));
    if (round >= 8 && round < 12) {
      // 513 samples of 255 and of 256 ranks in random order: the most ranks
      // whose first entries the passes follow, and one more.
      size = 513;
      lo = 0;
      ranks = MakeRanks(Pattern::kSawtooth, n, 255 + (round & 1), random);
      std::shuffle(ranks.begin(), ranks.begin() + size, random);
    }
    int32_t hi = lo + size - 1;

    std::vector<Ranked> records(n);
    std::vector<Ranked*> buffer(n);
    std::vector<uint64_t> items(n);
    for (uint32_t i = 0; i < n; ++i) {
      records[i] = {ranks[i], i};
      buffer[i] = &records[i];
      items[i] = MakeItem(ranks[i], i);
    }
    RankedQuicksort literal(buffer.data(), RankedCompare{});
    Ranked* literalPivot = literal.SelectPivot(lo, hi);
    uint64_t pivot = SelectPivot(sorter.quicksort, items.data(), lo, hi);
    EXPECT_EQ(static_cast<uint32_t>(pivot), literalPivot->index) << lo << ".." << hi;
    for (uint32_t i = 0; i < n; ++i) {
      ASSERT_EQ(static_cast<uint32_t>(items[i]), buffer[i]->index)
          << "slot " << i << " of " << lo << ".." << hi;
    }
  }
}

// ---------------------------------------------------------------------------
// Records: ranks under the keys, the checks, and the sort of the buffer.

struct Keys {
  std::vector<CsvSortKey> keys;
  CsvSortOption options{};
  explicit Keys(std::vector<CsvSortKey> list) : keys(std::move(list)) {
    for (size_t k = 0; k < keys.size(); ++k) options.sortKeys[k] = &keys[k];
  }
};

// Field texts with many ties under every key type: case variants, quoted
// forms of the same value, numbers in several spellings, dates in several
// layouts, bytes above 0x80.
const std::vector<std::string> kTexts{"abc", "ABC",      "\"abc\"",  "Abc",    "ab",         "abd",
                                      "",    "\"\"",     "B",        "a\"\"b", "\"a\"\"b\"", "_x",
                                      "Ax",  "\x83\x41", "\x83\x61", "zz"};
const std::vector<std::string> kNumbers{"1,000", "1000",           "999",  "-0",    "0",   "abc",       "",
                                        " -3.5", "\\1,000",        "12kg", "1.2.3", "1.2", "\"1,234\"", "-",
                                        "+7",    "123,456,789,012"};
const std::vector<std::string> kDates{"2023/12/31 23:59:59",
                                      "20231231235959",
                                      "2023/1/5 9:03",
                                      "2023-01-05 09:03:00",
                                      "20231231",
                                      "2023",
                                      "",
                                      "x",
                                      "2023/01/05",
                                      " 2023/1/5 ",
                                      "1999/12/31",
                                      "\"2023/1/5 9:03\""};

// One record in `lackingOne` (none for 0) keeps only its first one to three
// fields.
std::vector<CsvRecord*> RandomRecords(size_t n, std::mt19937& random, int spread, uint32_t lackingOne = 0) {
  std::vector<CsvRecord*> records;
  for (size_t i = 0; i < n; ++i) {
    std::vector<std::string> fields{kTexts[random() % std::min<size_t>(spread, kTexts.size())],
                                    kNumbers[random() % std::min<size_t>(spread, kNumbers.size())],
                                    kDates[random() % std::min<size_t>(spread, kDates.size())],
                                    kTexts[random() % kTexts.size()]};
    if (lackingOne != 0 && random() % lackingOne == 0) fields.resize(1 + random() % 3);
    records.push_back(NewRecord(fields));
  }
  return records;
}

const std::vector<std::vector<CsvSortKey>> kKeyLists{
    {{KeyType::kText, 0, 1}},
    {{KeyType::kTextIgnoreCase, 0, 1}, {KeyType::kNumber, 1, -1}},
    {{KeyType::kNumber, 1, 1}, {KeyType::kDateTime, 2, 1}},
    {{KeyType::kDateTime, 2, -1}, {KeyType::kText, 3, -1}},
    {{KeyType::kTextIgnoreCase, 3, -1}, {KeyType::kText, 0, 1}, {KeyType::kDateTime, 2, 1}},
    {{KeyType::kNumber, 1, -1}},
};

int Sign(int value) { return (value > 0) - (value < 0); }

// Records whose first and last fields hold hundreds of texts, some with their
// first 8 bytes alike, some longer than 16 bytes with their first 16 bytes
// alike, some alike but for the case of a letter (a Shift_JIS second byte
// among them), some quoted (a doubled quote among them), so that quoted and
// unquoted forms of one text meet.
std::vector<CsvRecord*> ManyTextRecords(size_t n, std::mt19937& random) {
  const auto text = [&random] {
    static const char* const kPrefixes[] = {
        "",         "01234567",         "abcdefgh",         "ABCDEFGH",
        "\x83\x41", "0123456789abcdef", "0123456789ABCDEF", "0123456789abcdef\x83"};
    std::string t = kPrefixes[random() % 8] + std::to_string(random() % 300);
    if (random() % 4 == 0) return "\"" + t + (random() % 2 ? "\"\"" : "") + "\"";
    return t;
  };
  std::vector<CsvRecord*> records;
  for (size_t i = 0; i < n; ++i) {
    records.push_back(
        NewRecord({text(), kNumbers[random() % kNumbers.size()], kDates[random() % kDates.size()], text()}));
  }
  return records;
}

TEST(ChunkRanks, OrderOfCompareRecordsForEveryPair) {
  std::mt19937 random(5);
  for (int set = 0; set < 2; ++set) {
    for (const auto& list : kKeyLists) {
      Keys keys(list);
      std::vector<CsvRecord*> records =
          set == 0 ? RandomRecords(180, random, 16) : ManyTextRecords(420, random);
      std::vector<uint32_t> ranks(records.size());
      RankRecords(sorter.ranking, records.data(), static_cast<int32_t>(records.size()), keys.options,
                  ranks.data());
      for (size_t a = 0; a < records.size(); ++a) {
        for (size_t b = 0; b < records.size(); ++b) {
          int expected = Sign(CompareRecords(records[a], records[b], keys.options));
          int actual = ranks[a] < ranks[b] ? -1 : (ranks[a] > ranks[b] ? 1 : 0);
          ASSERT_EQ(actual, expected) << a << " " << b;
        }
      }
      // Dense: every rank below the number of distinct records is used.
      std::vector<uint32_t> sorted(ranks);
      std::sort(sorted.begin(), sorted.end());
      sorted.erase(std::unique(sorted.begin(), sorted.end()), sorted.end());
      EXPECT_EQ(sorted.back() + 1, sorted.size());
      for (CsvRecord* record : records) ReleaseRecord(record);
    }
  }
}

TEST(ChunkRanks, MissingFieldsStillGiveAConsistentOrder) {
  Keys keys({{KeyType::kNumber, 2, 1}, {KeyType::kText, 0, -1}});
  std::vector<CsvRecord*> records{NewRecord({"b", "x", "5"}), NewRecord({"a"}), NewRecord({"c", "y", "1"}),
                                  NewRecord({"a", "z"}), NewRecord({"b"})};
  std::vector<uint32_t> ranks(records.size());
  RankRecords(sorter.ranking, records.data(), 5, keys.options, ranks.data());
  // Missing third fields first (text descending among them), then 1, then 5.
  EXPECT_EQ(ranks, (std::vector<uint32_t>{3, 1, 2, 1, 0}));
  for (CsvRecord* record : records) ReleaseRecord(record);
}

// The production sort of the record buffer against the literal quicksort with
// CompareRecords itself, also with records that lack key fields (the
// comparison then skips a key pair by pair and is no order). CompareRecords
// is deterministic, so the literal sort reads its results from a table.
TEST(ChunkSort, SameOrderAsTheLiteralQuicksortOnRecords) {
  std::mt19937 random(11);
  int round = 0;
  for (uint32_t lackingOne : {0u, 40u, 9u}) {
    for (const auto& list : kKeyLists) {
      Keys keys(list);
      for (int spread : {3, 16}) {
#ifdef NDEBUG
        const size_t sizes[] = {1400, 600, 300};
        size_t n = (round++ % 4 == 1) ? sizes[round % 3] : 1 + random() % 120;
#else
        size_t n = (round++ % 4 == 1) ? 200 : 1 + random() % 40;
#endif
        std::vector<CsvRecord*> records = RandomRecords(n, random, spread, lackingOne);
        std::vector<int8_t> table(n * n);
        std::vector<Ranked> slots(n);
        std::vector<Ranked*> literal(n);
        for (size_t a = 0; a < n; ++a) {
          slots[a] = {0, static_cast<uint32_t>(a)};
          literal[a] = &slots[a];
          for (size_t b = 0; b < n; ++b) {
            table[a * n + b] =
                static_cast<int8_t>(Sign(CompareRecords(records[a], records[b], keys.options)));
          }
        }
        auto compare = [&](const Ranked* a, const Ranked* b) { return table[a->index * n + b->index]; };
        ChunkQuicksort<Ranked, decltype(compare)> quicksort(literal.data(), compare);
        quicksort.SortChunk(0, static_cast<int32_t>(n) - 1);

        std::vector<CsvRecord*> sorted(records);
        SortChunk(sorter, sorted.data(), static_cast<int32_t>(n), keys.options);
        for (size_t k = 0; k < n; ++k) {
          ASSERT_EQ(sorted[k], records[literal[k]->index])
              << "slot " << k << " of " << n << ", one in " << lackingOne;
        }
        for (CsvRecord* record : records) ReleaseRecord(record);
      }
    }
  }
}

TEST(ChunkSort, RecordsLackingKeysAreEachKeptOnce) {
  Keys keys({{KeyType::kText, 1, 1}, {KeyType::kText, 0, 1}});
  std::mt19937 random(3);
  std::vector<CsvRecord*> records;
  for (int i = 0; i < 900; ++i) {
    if (random() % 3 == 0) {
      records.push_back(NewRecord({kTexts[random() % 4]}));
    } else {
      records.push_back(NewRecord({kTexts[random() % 4], kTexts[random() % 5]}));
    }
  }
  std::vector<CsvRecord*> sorted(records);
  SortChunk(sorter, sorted.data(), static_cast<int32_t>(sorted.size()), keys.options);
  EXPECT_NE(MissingKeyWarning(), nullptr);
  std::vector<CsvRecord*> a(sorted), b(records);
  std::sort(a.begin(), a.end());
  std::sort(b.begin(), b.end());
  EXPECT_EQ(a, b);
  for (CsvRecord* record : records) ReleaseRecord(record);
}

TEST(ChunkSort, FirstTooLongNumberInInputOrderEndsTheRun) {
  Keys keys({{KeyType::kNumber, 0, 1}, {KeyType::kNumber, 1, 1}});
  // Record 2 has the first long field in input order (its second key);
  // record 3's first key field is long too, but comes later.
  std::vector<CsvRecord*> records{NewRecord({"1", "2"}), NewRecord({"3", "1234567890123"}),
                                  NewRecord({"\"9,999,999,999,999\"", "1"})};
  std::vector<CsvRecord*> chunk(records);
  EXPECT_FATAL(SortChunk(sorter, chunk.data(), 3, keys.options), exit_code::kLimit,
               Message(msg::kTooManyDigits, "1234567890123"));
  // A chunk of one record is checked too.
  EXPECT_FATAL(SortChunk(sorter, chunk.data() + 2, 1, keys.options), exit_code::kLimit,
               Message(msg::kTooManyDigits, "\"9,999,999,999,999\""));
  for (CsvRecord* record : records) ReleaseRecord(record);
}

// ---------------------------------------------------------------------------
// Run files.

class RunFiles : public testing::Test {
 protected:
  void SetUp() override { options_.workDirectory = directory_.data(); }
  void TearDown() override { SetBufferCount(0); }

  ScratchDirectory scratch_;
  std::string directory_ = scratch_.path();
  CsvSortOption options_{};
};

TEST_F(RunFiles, WritesTheBufferInSlotOrderAndNamesTheFile) {
  RecordBuffer()[0] = NewRecord({"b", "\"x,y\""});
  RecordBuffer()[1] = NewRecord({""});
  RecordBuffer()[2] = NewRecord({"a", "%s%d"});
  SetBufferCount(3);
  FatalOutcome outcome = RunExpectingFatal([&] { WriteRunFile(options_); });
  ASSERT_FALSE(outcome.ended) << outcome.output;
  ASSERT_EQ(options_.fileCount, 1);
  std::string name = options_.fileNames[0];
  EXPECT_EQ(fs::path(name).parent_path(), fs::path(directory_));
  std::string base = fs::path(name).filename().string();
  ASSERT_EQ(base.size(), 11u) << base;
  EXPECT_EQ(base.substr(0, 3), "sot");
  EXPECT_EQ(base.substr(7), ".tmp");
  EXPECT_EQ(base.substr(3, 4).find_first_not_of("0123456789ABCDEF"), std::string::npos) << base;
  EXPECT_EQ(FileContents(name), "b,\"x,y\"\r\n\r\na,%s%d\r\n");
  EXPECT_NE(outcome.output.find(Message(msg::kRunFileWritten, 3)), std::string::npos);
}

TEST_F(RunFiles, TwentiethRunFileIsRefused) {
  options_.fileCount = 19;
  SetBufferCount(0);
  EXPECT_FATAL(WriteRunFile(options_), exit_code::kLimit, Message(msg::kTooManyRunFiles, 19));
  EXPECT_TRUE(fs::is_empty(directory_));
}

TEST_F(RunFiles, MissingDirectoryEndsWithTempFileName) {
  std::string missing = directory_ + "/gone";
  options_.workDirectory = missing.data();
  SetBufferCount(0);
  EXPECT_FATAL(WriteRunFile(options_), exit_code::kTempFile, msg::kTempFileName);
  EXPECT_EQ(options_.fileCount, 0);
}

}  // namespace
