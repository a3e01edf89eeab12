// The merge: MergeCsvFiles of 19 files of 3,449 records each (65,531 in all,
// about 5.9 MB), each in order of the city (a text key, ties across files),
// into one output file in the scratch directory. The inputs stay in place.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "driver/text.h"
#include "micro_data.h"
#include "sort/merge.h"

namespace {

constexpr int kInputs = kMaxMergeFiles;
constexpr int32_t kRecordsPerInput = kMicroRecords / kInputs;

// The city: the fourth comma-separated field (the fields before it are never
// quoted, and no Shift_JIS trail byte is a comma).
std::string City(const std::string& line) {
  size_t start = 0;
  for (int k = 0; k < 3; ++k) start = line.find(',', start) + 1;
  return line.substr(start, line.find(',', start) - start);
}

struct MergeInputs {
  CsvSortOption options;
  int64_t bytes;
};

// The 19 inputs and the option record of their merge, made once.
MergeInputs& Inputs() {
  static CsvSortKey key{KeyType::kText, 3, 1};
  static MergeInputs inputs = [] {
    MergeInputs made{OptionsWithKey(&key), 0};
    for (int i = 0; i < kInputs; ++i) {
      std::vector<std::string> lines = MakeLines(kRecordsPerInput, false, 100 + i);
      // Byte order of the unquoted city is the order of a text key.
      std::stable_sort(lines.begin(), lines.end(),
                       [](const std::string& a, const std::string& b) { return City(a) < City(b); });
      std::string content;
      for (const std::string& line : lines) content += line;
      made.bytes += static_cast<int64_t>(content.size());
      std::string path = WriteScratchFile("merge" + std::to_string(i) + ".csv", content);
      made.options.fileNames[made.options.fileCount++] = DuplicateString(path.c_str());
    }
    made.options.outputPath = DuplicateString((ScratchDirectory() + "/merged.csv").c_str());
    return made;
  }();
  return inputs;
}

void BM_MergeNineteenFiles(benchmark::State& state) {
  MergeInputs& inputs = Inputs();
  for (auto _ : state) {
    MergeCsvFiles(inputs.options);
  }
  if (std::filesystem::file_size(inputs.options.outputPath) != static_cast<uintmax_t>(inputs.bytes)) {
    state.SkipWithError("the merged output does not hold every input byte");
  }
  state.SetBytesProcessed(state.iterations() * inputs.bytes);
  state.SetItemsProcessed(state.iterations() * kInputs * kRecordsPerInput);
}

BENCHMARK(BM_MergeNineteenFiles)->Unit(benchmark::kMillisecond);

}  // namespace
