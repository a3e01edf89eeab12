// Helpers for the record I/O tests: scratch files, reading a whole file into
// plain strings, and expected messages formatted from the message table.
#pragma once

#include "fatal_capture.h"

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
#include "driver/options.h"

using Fields = std::vector<std::string>;
using Records = std::vector<Fields>;

// A scratch directory per test, removed afterwards.
class CsvFileTest : public testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (std::filesystem::temp_directory_path() / "csvtest.XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    directory_ = pattern;
  }
  void TearDown() override { std::filesystem::remove_all(directory_); }

  std::string PathOf(const std::string& name) const { return (std::filesystem::path(directory_) / name).string(); }

  std::string MakeFile(const std::string& name, const std::string& bytes) const {
    std::string path = PathOf(name);
    std::ofstream(path, std::ios::binary) << bytes;
    return path;
  }

  static std::string Contents(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
  }

  static CsvSortOption Options(bool tab) {
    CsvSortOption options{};
    options.tabSeparated = tab;
    return options;
  }

  // Reads the file to its end as the sort does; lineCount is left in *lines.
  static Records ReadAll(const std::string& path, bool tab = false, bool runFile = false, int* lines = nullptr) {
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

  Records ReadBytes(const std::string& bytes, bool tab = false, bool runFile = false, int* lines = nullptr) const {
    return ReadAll(MakeFile("in.csv", bytes), tab, runFile, lines);
  }

  std::string directory_;
};

