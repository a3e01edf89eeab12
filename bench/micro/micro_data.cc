#include "micro_data.h"

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <string_view>

#include "bench_values.h"
#include "csv/record_reader.h"

namespace {

// The tables of bench/values.txt, which generate.py reads too. kFamily and
// kGiven hold (kanji, katakana) pairs; comma mode quotes the notes that hold a
// comma or a quote.
using bench_values::kCategories;
using bench_values::kCityStems;
using bench_values::kFamily;
using bench_values::kGiven;
using bench_values::kNotes;
using bench_values::kPrefectures;

constexpr uint64_t kNoteEmptyPercent = 30;  // records with an empty note, as in the files of generate.py

template <typename T, size_t N>
constexpr size_t Count(const T (&)[N]) {
  return N;
}

std::string CommaField(const std::string& text) {
  if (text.find_first_of(",\"") == std::string::npos) return text;
  std::string quoted = "\"";
  for (char c : text) {
    quoted += c;
    if (c == '"') quoted += '"';
  }
  return quoted + "\"";
}

std::string WithThousands(uint64_t value) {
  std::string digits = std::to_string(value);
  std::string text;
  for (size_t i = 0; i < digits.size(); ++i) {
    if (i > 0 && (digits.size() - i) % 3 == 0) text += ',';
    text += digits[i];
  }
  return text;
}

// About 300 cities, the same for every seed (so that the inputs of a merge
// share them): each prefecture with 5 to 8 of the stems, 区 after them in
// Tokyo, else 市.
const std::vector<std::string>& Cities() {
  static const std::vector<std::string> cities = [] {
    std::mt19937_64 random(11);
    std::vector<std::string> made;
    for (const char* prefecture : kPrefectures) {
      std::vector<const char*> stems(std::begin(kCityStems), std::end(kCityStems));
      const size_t take = 5 + random() % 4;
      for (size_t i = 0; i < take; ++i) {  // the first `take` of a shuffle
        std::swap(stems[i], stems[i + random() % (stems.size() - i)]);
        made.push_back(std::string(prefecture) + stems[i] +
                       (std::string_view(prefecture) == "東京都" ? "区" : "市"));
      }
    }
    return made;
  }();
  return cities;
}

std::string scratch;

}  // namespace

std::vector<std::string> MakeLines(int32_t count, bool tab, uint64_t seed) {
  std::mt19937_64 random(seed);  // its output is fixed by the standard
  auto pick = [&random](uint64_t n) { return random() % n; };
  std::vector<int32_t> ids(count);
  for (int32_t i = 0; i < count; ++i) ids[i] = i + 1;
  for (int32_t i = count - 1; i > 0; --i) std::swap(ids[i], ids[pick(i + 1)]);

  const char separator = tab ? '\t' : ',';
  auto field = [tab](const std::string& text) { return tab ? text : CommaField(text); };
  const std::vector<std::string>& cities = Cities();
  std::vector<std::string> lines;
  lines.reserve(count);
  for (int32_t i = 0; i < count; ++i) {
    const auto& family = kFamily[pick(Count(kFamily))];
    const auto& given = kGiven[pick(Count(kGiven))];
    const std::string& city = cities[pick(cities.size())];
    uint64_t price = 1 + pick(10) * pick(1000) * pick(1000);
    char when[80];  // room for any int, so that no truncation can be diagnosed
    std::snprintf(when, sizeof when, "%d/%d/%d %d:%02d:%02d", 2019 + static_cast<int>(pick(6)),
                  1 + static_cast<int>(pick(12)), 1 + static_cast<int>(pick(28)), static_cast<int>(pick(24)),
                  static_cast<int>(pick(60)), static_cast<int>(pick(60)));
    std::string values[] = {
        std::to_string(ids[i]),
        std::string(family[0]) + given[0],
        std::string(family[1]) + given[1],
        city,
        field(WithThousands(price)),
        when,
        kCategories[pick(Count(kCategories))],
        std::to_string(1 + pick(500)),
        pick(100) < kNoteEmptyPercent ? std::string() : field(kNotes[pick(Count(kNotes))]),
    };
    std::string line = values[0];
    for (size_t k = 1; k < Count(values); ++k) line += separator + values[k];
    lines.push_back(line + "\r\n");
  }
  return lines;
}

const std::string& ScratchDirectory() {
  if (scratch.empty()) {
    const char* base = std::getenv("TMPDIR");
    std::string pattern = std::string(base && *base ? base : "/tmp") + "/tarnsek-micro.XXXXXX";
    if (!mkdtemp(pattern.data())) {
      std::perror("mkdtemp");
      std::exit(1);
    }
    scratch = pattern;
  }
  return scratch;
}

void RemoveScratchDirectory() {
  if (!scratch.empty()) std::filesystem::remove_all(scratch);
  scratch.clear();
}

std::string WriteScratchFile(const std::string& name, const std::string& bytes) {
  std::string path = ScratchDirectory() + "/" + name;
  std::ofstream(path, std::ios::binary) << bytes;
  return path;
}

const std::string& MicroFile(bool tab) {
  static std::string paths[2];
  std::string& path = paths[tab ? 1 : 0];
  if (path.empty()) {
    std::string bytes;
    for (const std::string& line : MakeLines(kMicroRecords, tab, 7)) bytes += line;
    path = WriteScratchFile(tab ? "micro.tsv" : "micro.csv", bytes);
  }
  return path;
}

std::vector<CsvRecord*> ReadRecordsOf(const std::string& path) {
  std::vector<CsvRecord*> records;
  CsvSortOption options{};
  CsvFile* file = OpenCsvFile(path.c_str(), "rb");
  do {
    ReadRecord(file, options);
    if (file->record->fieldCount > 0) {
      records.push_back(file->record);
    } else {
      ReleaseRecord(file->record);
    }
  } while (!IsEndOfFile(file));
  file->record = nullptr;
  CloseCsvFile(file);
  return records;
}

const std::vector<CsvRecord*>& MicroRecords() {
  static std::vector<CsvRecord*> records;
  if (records.empty()) records = ReadRecordsOf(MicroFile(false));
  return records;
}

CsvSortOption OptionsWithKey(CsvSortKey* key, bool tab) {
  CsvSortOption options{};
  options.tabSeparated = tab;
  options.sortKeys[0] = key;
  return options;
}

ChunkSorter& MicroSorter() {
  static ChunkSorter sorter;
  return sorter;
}
