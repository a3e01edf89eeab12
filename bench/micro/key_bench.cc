// Comparison-key computation: RankRecords of one chunk (65,536 records) for a
// text key (city, about 300 values), a number key (price, mostly quoted with
// thousands separators) and a date-time key.
#include <benchmark/benchmark.h>

#include <vector>

#include "micro_data.h"
#include "sort/ranking.h"

namespace {

void RankByKey(benchmark::State& state, KeyType keyType, int32_t fieldIndex) {
  const std::vector<CsvRecord*>& records = MicroRecords();
  CsvSortKey key{keyType, fieldIndex, 1};
  const CsvSortOption options = OptionsWithKey(&key);
  std::vector<uint32_t> ranks(records.size());
  for (auto _ : state) {
    RankRecords(MicroSorter().ranking, records.data(), static_cast<int32_t>(records.size()), options,
                ranks.data());
    benchmark::DoNotOptimize(ranks.data());
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(records.size()));
}

void BM_RankText(benchmark::State& state) { RankByKey(state, KeyType::kText, 3); }
void BM_RankNumber(benchmark::State& state) { RankByKey(state, KeyType::kNumber, 4); }
void BM_RankDateTime(benchmark::State& state) { RankByKey(state, KeyType::kDateTime, 5); }

BENCHMARK(BM_RankText)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RankNumber)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RankDateTime)->Unit(benchmark::kMillisecond);

}  // namespace
