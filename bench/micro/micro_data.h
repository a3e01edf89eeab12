// Test data of the micro-benchmarks: realistic Shift_JIS records made in
// memory from a fixed seed, written once to files in a scratch directory that
// main removes at the end.
//
// The values come from bench/values.txt, the tables generate.py also reads.
// Every record has 9 fields:
//   1 id        a permutation of 1..n: no two equal (few ties)
//   2 name      kanji            3 kana   katakana
//   4 city      about 300 values (some ties: about 206 per value in 65,536)
//   5 price     like 1,234, quoted when it holds a comma
//   6 datetime  like 2023/1/5 9:03:07
//   7 category  20 values (many ties: about 3,277 per value in 65,536)
//   8 quantity  9 note (30% empty; sometimes quoted, with a comma or a doubled quote)
// In tab mode the same values are joined by tabs and never quoted.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "csv/csv_file.h"
#include "driver/options.h"
#include "sort/chunk_sort.h"

inline constexpr int32_t kMicroRecords = 65536;  // one full chunk

// The lines (each with its CR LF) of `count` records; the same seed gives the
// same values in both modes.
std::vector<std::string> MakeLines(int32_t count, bool tab, uint64_t seed);

// The scratch directory, made on first use.
const std::string& ScratchDirectory();
void RemoveScratchDirectory();

// Writes the bytes to a file of that name in the scratch directory; returns its path.
std::string WriteScratchFile(const std::string& name, const std::string& bytes);

// The file of kMicroRecords records in comma or tab mode, made on first use.
const std::string& MicroFile(bool tab);

// Every record of a comma-mode file, read with ReadRecord (never released).
std::vector<CsvRecord*> ReadRecordsOf(const std::string& path);

// Every record of kMicroRecords in comma mode, read once with ReadRecord and
// kept for the whole process (never released).
const std::vector<CsvRecord*>& MicroRecords();

// The chunk sorter of every bench (zero-initialised, kept for the process).
ChunkSorter& MicroSorter();

// An option record with one key, for the benches.
CsvSortOption OptionsWithKey(CsvSortKey* key, bool tab = false);
