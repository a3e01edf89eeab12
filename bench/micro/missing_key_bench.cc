// The chunk sort of one chunk of 65,536 records in which 1% lack the first
// key's field (two keys: a text of about 1,000 values, then the id as a
// number), against the same chunk with every key present. The comparison
// then skips the missing key pair by pair and is no order, so the quicksort
// runs as written on per-key ranks. Once, the literal quicksort runs over the
// same ranks (the results of comparing the records), which takes some 10 s:
// both must leave the same permutation, and the counters compare what each
// compared.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <bit>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "micro_data.h"
#include "sort/chunk_quicksort.h"
#include "sort/chunk_sort.h"
#include "sort/missing_key_sort.h"
#include "sort/rank_quicksort.h"
#include "sort/ranking.h"

namespace {

constexpr int32_t kChunk = kMicroRecords;

// Lines "id,cNNN", the id a permutation, NNN one of 1,000 values; with
// `lacking`, about one line in 100 is the id alone.
const std::vector<CsvRecord*>& Records(bool lacking) {
  static std::vector<CsvRecord*> made[2];
  std::vector<CsvRecord*>& records = made[lacking ? 1 : 0];
  if (records.empty()) {
    std::mt19937 random(13);
    std::vector<int> ids(kChunk);
    for (int i = 0; i < kChunk; ++i) ids[i] = i + 1;
    std::shuffle(ids.begin(), ids.end(), random);
    std::string bytes;
    char line[32];
    for (int i = 0; i < kChunk; ++i) {
      const unsigned value = random() % 1000;
      const bool lacks = lacking && random() % 100 == 0;
      std::snprintf(line, sizeof line, lacks ? "%d\r\n" : "%d,c%03u\r\n", ids[i], value);
      bytes += line;
    }
    records = ReadRecordsOf(WriteScratchFile(lacking ? "lacking.csv" : "present.csv", bytes));
  }
  return records;
}

struct TwoKeys {
  CsvSortKey first{KeyType::kText, 1, 1};
  CsvSortKey second{KeyType::kNumber, 0, 1};
  CsvSortOption options{};
  TwoKeys() {
    options.sortKeys[0] = &first;
    options.sortKeys[1] = &second;
  }
};

void SortTwoKeys(benchmark::State& state, bool lacking) {
  const std::vector<CsvRecord*>& records = Records(lacking);
  TwoKeys keys;
  std::vector<CsvRecord*> chunk(kChunk);
  for (auto _ : state) {
    state.PauseTiming();
    std::copy(records.begin(), records.end(), chunk.begin());
    state.ResumeTiming();
    SortChunk(MicroSorter(), chunk.data(), kChunk, keys.options);
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations() * kChunk);
}

void BM_SortChunkOnePercentLackFirstKey(benchmark::State& state) { SortTwoKeys(state, true); }
void BM_SortChunkEveryKeyPresent(benchmark::State& state) { SortTwoKeys(state, false); }

// The records as the literal quicksort sees them: per-key ranks and which
// keys each holds.
struct RankedRecord {
  uint32_t index;
  uint64_t presence;
  const uint16_t* ranks;
};
struct RankedRecordCompare {
  int operator()(const RankedRecord* a, const RankedRecord* b) const {
    for (uint64_t both = a->presence & b->presence; both != 0; both &= both - 1) {
      const int k = std::countr_zero(both);
      if (a->ranks[k] != b->ranks[k]) return a->ranks[k] < b->ranks[k] ? -1 : 1;
    }
    return 0;
  }
};

void BM_LackingComparisonsAgainstLiteral(benchmark::State& state) {
  const std::vector<CsvRecord*>& records = Records(true);
  TwoKeys keys;
  std::vector<uint16_t> keyRanks(size_t{kChunk} * 2);
  std::vector<uint64_t> presence(kChunk);
  ChunkSorter& sorter = MicroSorter();
  RankKeyFields(sorter.ranking, records.data(), kChunk, keys.options, keyRanks.data(), presence.data());
  std::vector<RankedRecord> ranked(kChunk);
  std::vector<RankedRecord*> literal(kChunk);
  for (int32_t i = 0; i < kChunk; ++i) {
    ranked[i] = {static_cast<uint32_t>(i), presence[i], &keyRanks[size_t{2} * i]};
    literal[i] = &ranked[i];
  }
  ChunkQuicksort<RankedRecord, RankedRecordCompare> quicksort(literal.data(), RankedRecordCompare{});
  quicksort.SortChunk(0, kChunk - 1);

  std::vector<uint32_t> ranks(kChunk);
  RankRecords(sorter.ranking, records.data(), kChunk, keys.options, ranks.data());
  std::vector<uint64_t> items(kChunk);
  double fast = 0;
  for (auto _ : state) {
    for (int32_t i = 0; i < kChunk; ++i) items[i] = MakeItem(ranks[i], static_cast<uint32_t>(i));
    fast = static_cast<double>(SortItemsLackingKeys(sorter.lacking, sorter.ranking, sorter.quicksort,
                                                    items.data(), records.data(), kChunk, keys.options));
  }
  for (int32_t i = 0; i < kChunk; ++i) {
    if (static_cast<uint32_t>(items[i]) != literal[i]->index) {
      state.SkipWithError("the sort left another permutation than the literal quicksort");
      return;
    }
  }
  const auto literalCount = static_cast<double>(quicksort.comparisons());
  state.counters["literal"] = literalCount;
  state.counters["fast"] = fast;
  state.counters["ratio"] = literalCount / fast;
}

BENCHMARK(BM_SortChunkOnePercentLackFirstKey)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SortChunkEveryKeyPresent)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LackingComparisonsAgainstLiteral)->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace
