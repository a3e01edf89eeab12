// Record scanning: ReadRecord over a file of 65,536 records (about 5.9 MB, in
// the page cache after the first pass), each record released at once as the
// merge does. Reported in bytes of input per second.
#include <benchmark/benchmark.h>

#include <filesystem>

#include "csv/csv_file.h"
#include "csv/record_reader.h"
#include "micro_data.h"

namespace {

void ReadWholeFile(benchmark::State& state, bool tab) {
  const std::string& path = MicroFile(tab);
  CsvSortOption options{};
  options.tabSeparated = tab;
  int64_t records = 0;
  for (auto _ : state) {
    CsvFile* file = OpenCsvFile(path.c_str(), "rb");
    do {
      ReadRecord(file, options);
      records += file->record->fieldCount > 0;
      ReleaseRecord(file->record);
    } while (!IsEndOfFile(file));
    file->record = nullptr;
    CloseCsvFile(file);
  }
  const auto size = static_cast<int64_t>(std::filesystem::file_size(path));
  state.SetBytesProcessed(state.iterations() * size);
  state.SetItemsProcessed(records);
}

void BM_ReadRecordComma(benchmark::State& state) { ReadWholeFile(state, false); }
void BM_ReadRecordTab(benchmark::State& state) { ReadWholeFile(state, true); }

BENCHMARK(BM_ReadRecordComma)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ReadRecordTab)->Unit(benchmark::kMillisecond);

}  // namespace
