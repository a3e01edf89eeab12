// The chunk sort: SortChunk of one full chunk (65,536 records, in the order
// read) by a text key with few ties (the id, all distinct; also as an I key),
// some ties (the city, about 206 records per value) and many ties (the
// category, about 3,277 records per value), and by the city then the name
// (most records told apart, a few tied). The buffer is reloaded outside the
// timing.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <vector>

#include "micro_data.h"
#include "sort/chunk_sort.h"

namespace {

// By field fieldIndex, then (when thenField is not negative) by field thenField.
void SortByField(benchmark::State& state, int32_t fieldIndex, KeyType keyType = KeyType::kText,
                 int32_t thenField = -1) {
  const std::vector<CsvRecord*>& records = MicroRecords();
  CsvSortKey key{keyType, fieldIndex, 1};
  CsvSortKey then{KeyType::kText, thenField, 1};
  CsvSortOption options = OptionsWithKey(&key);
  if (thenField >= 0) options.sortKeys[1] = &then;
  const auto count = static_cast<int32_t>(records.size());
  std::vector<CsvRecord*> chunk(records.size());
  for (auto _ : state) {
    state.PauseTiming();
    std::copy(records.begin(), records.end(), chunk.begin());
    state.ResumeTiming();
    SortChunk(MicroSorter(), chunk.data(), count, options);
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations() * count);
}

void BM_SortChunkFewTies(benchmark::State& state) { SortByField(state, 0); }
void BM_SortChunkFewTiesIgnoringCase(benchmark::State& state) {
  SortByField(state, 0, KeyType::kTextIgnoreCase);
}
void BM_SortChunkSomeTies(benchmark::State& state) { SortByField(state, 3); }
void BM_SortChunkManyTies(benchmark::State& state) { SortByField(state, 6); }
void BM_SortChunkCityThenName(benchmark::State& state) { SortByField(state, 3, KeyType::kText, 1); }

BENCHMARK(BM_SortChunkFewTies)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SortChunkFewTiesIgnoringCase)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SortChunkSomeTies)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SortChunkManyTies)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SortChunkCityThenName)->Unit(benchmark::kMillisecond);

}  // namespace
