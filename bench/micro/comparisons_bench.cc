// The chunk sort against its literal algorithm, on one chunk of 20,000
// records keyed by the category (20 values: many ties). The literal quicksort
// runs once, over the records' ranks, counting what it compares and timed;
// the fast sort is timed. Both must leave the same permutation. Reported as
// counters: the literal comparisons, the literal and the fast seconds, and
// the ratio of the two times.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdlib>
#include <ctime>
#include <vector>

#include "micro_data.h"
#include "sort/chunk_quicksort.h"
#include "sort/chunk_sort.h"
#include "sort/compare.h"
#include "sort/ranking.h"

namespace {

// Seconds on a steady clock. (<chrono> does not compile with the messages'
// execution character set.)
double Now() {
  timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

constexpr int32_t kChunk = 20000;
constexpr int32_t kCategoryField = 6;

void BM_ComparisonsAgainstLiteral(benchmark::State& state) {
  const std::vector<CsvRecord*>& all = MicroRecords();
  std::vector<CsvRecord*> records(all.begin(), all.begin() + kChunk);
  CsvSortKey key{KeyType::kText, kCategoryField, 1};
  const CsvSortOption options = OptionsWithKey(&key);

  // The literal sort, over the ranks that stand for the records.
  std::vector<uint32_t> ranks(kChunk);
  RankRecords(MicroSorter().ranking, records.data(), kChunk, options, ranks.data());
  int64_t literalComparisons = 0;
  const double start = Now();
  const std::vector<uint32_t> literalOrder = LiteralOrder(ranks, nullptr, &literalComparisons);
  const double literalTime = Now() - start;

  double fast = 0;
  std::vector<CsvRecord*> chunk(kChunk);
  for (auto _ : state) {
    std::copy(records.begin(), records.end(), chunk.begin());
    const double begin = Now();
    SortChunk(MicroSorter(), chunk.data(), kChunk, options);
    fast = Now() - begin;
  }
  for (int32_t i = 0; i < kChunk; ++i) {
    if (chunk[i] != records[literalOrder[i]]) {
      state.SkipWithError("the fast sort left another permutation");
      return;
    }
  }
  const auto literalCount = static_cast<double>(literalComparisons);
  state.counters["literal"] = literalCount;
  state.counters["literal_s"] = literalTime;
  state.counters["fast_s"] = fast;
  state.counters["ratio"] = literalTime / fast;
}

BENCHMARK(BM_ComparisonsAgainstLiteral)->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace
