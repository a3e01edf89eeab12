// Record comparisons of the chunk sort against its literal algorithm, on one
// chunk of 20,000 records keyed by the category (20 values: many ties). The
// literal quicksort runs once, over the records' ranks, counting what it
// compares; the fast sort counts its key comparisons (ranking a chunk
// compares records, the quicksort on ranks does not). Both must leave the
// same permutation. Reported as counters: literal, fast, and their ratio.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdlib>
#include <vector>

#include "chunk_sort_reference.h"
#include "micro_data.h"
#include "sort/chunk_sort.h"
#include "sort/compare.h"
#include "sort/ranking.h"

namespace {

constexpr int32_t kChunk = 20000;
constexpr int32_t kCategoryField = 6;

void BM_ComparisonsAgainstLiteral(benchmark::State& state) {
  const std::vector<CsvRecord*>& all = MicroRecords();
  std::vector<CsvRecord*> records(all.begin(), all.begin() + kChunk);
  CsvSortKey key{kKeyText, kCategoryField, 1};
  const CsvSortOption options = OptionsWithKey(&key);

  // The literal sort, over the ranks that stand for the records.
  std::vector<uint32_t> ranks(kChunk);
  RankRecords(records.data(), kChunk, options, ranks.data());
  int64_t literalComparisons = 0;
  const std::vector<uint32_t> literalOrder = LiteralOrder(ranks, nullptr, &literalComparisons);

  double fast = 0;
  for (auto _ : state) {
    std::copy(records.begin(), records.end(), RecordBuffer());
    SetBufferCount(kChunk);
    const uint64_t before = KeyComparisonCount();
    SortChunk(options, 0, kChunk - 1);
    fast = static_cast<double>(KeyComparisonCount() - before);
  }
  for (int32_t i = 0; i < kChunk; ++i) {
    if (RecordBuffer()[i] != records[literalOrder[i]]) {
      state.SkipWithError("the fast sort left another permutation");
      return;
    }
  }
  const auto literalCount = static_cast<double>(literalComparisons);
  state.counters["literal"] = literalCount;
  state.counters["fast"] = fast;
  state.counters["ratio"] = literalCount / fast;
}

BENCHMARK(BM_ComparisonsAgainstLiteral)->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace
