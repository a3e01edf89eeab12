// Helpers for the record I/O tests: scratch files, reading a whole file into
// plain strings, and expected messages formatted from the message table.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdarg>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "csv/csv_file.h"
#include "csv/record_reader.h"
#include "driver/options.h"
#include "fatal_capture.h"
#include "test_support.h"

using Fields = std::vector<std::string>;
using Records = std::vector<Fields>;

// A scratch directory per test, removed afterwards.
class CsvFileTest : public testing::Test {
 protected:
  std::string PathOf(const std::string& name) const { return scratch_.PathOf(name); }
  std::string MakeFile(const std::string& name, const std::string& bytes) const {
    return scratch_.Write(name, bytes);
  }
  static std::string Contents(const std::string& path) { return FileContents(path); }

  static CsvSortOption Options(bool tab) {
    CsvSortOption options{};
    options.tabSeparated = tab;
    return options;
  }

  // Reads the file to its end as the sort does; lineCount is left in *lines.
  static Records ReadAll(const std::string& path, bool tab = false, bool runFile = false,
                         int* lines = nullptr) {
    CsvSortOption options = Options(tab);
    CsvFile* file = OpenCsvFile(path.c_str(), "rb");
    file->isRunFile = runFile;
    Records records;
    do {
      ReadRecord(file, options);
      CsvRecord* record = file->record;
      if (record->fieldCount > 0) {
        Fields fields;
        for (int i = 0; i < record->fieldCount; ++i) fields.emplace_back(record->fields[i]);
        records.push_back(fields);
      }
      ReleaseRecord(record);
    } while (!IsEndOfFile(file));
    if (lines) *lines = file->lineCount;
    CloseCsvFile(file);
    return records;
  }

  Records ReadBytes(const std::string& bytes, bool tab = false, bool runFile = false,
                    int* lines = nullptr) const {
    return ReadAll(MakeFile("in.csv", bytes), tab, runFile, lines);
  }

  ScratchDirectory scratch_;
};
