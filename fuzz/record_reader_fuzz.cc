// The record reader over arbitrary bytes. The first input byte chooses comma
// mode (even) or tab mode (odd); the rest is the file. Every file either ends
// in an invalid-sequence or limit failure, or reads as records that
// WriteRecord gives back as the same bytes, apart from what the end of a file
// without CR LF changes: CR LF is added, after a trailing separator (which
// holds no field) is dropped, or after a lone CR that followed a closing quote.
// A zero byte ends a field and its record early, so files holding one are only
// checked for a clean end. Every file is read twice, with and without the
// whole-record loop, and both readings must give the same records and the
// same end.
#include <fcntl.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "csv/csv_file.h"
#include "csv/record_reader.h"
#include "driver/exit_codes.h"
#include "fuzz_support.h"

namespace {

std::string inputPath;
std::string outputPath;

bool WriteWholeFile(const std::string& path, const uint8_t* data, size_t size) {
  int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  if (fd < 0) return false;
  bool ok = true;
  while (size > 0) {
    ssize_t count = write(fd, data, size);
    if (count <= 0) {
      ok = false;
      break;
    }
    data += count;
    size -= static_cast<size_t>(count);
  }
  close(fd);
  return ok;
}

std::string ReadWholeFile(const std::string& path) {
  std::string text;
  int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  FUZZ_CHECK(fd >= 0);
  char buffer[65536];
  for (;;) {
    ssize_t count = read(fd, buffer, sizeof buffer);
    FUZZ_CHECK(count >= 0);
    if (count == 0) break;
    text.append(buffer, static_cast<size_t>(count));
  }
  close(fd);
  return text;
}

// What the records of a file without zero bytes write back as.
std::string ExpectedWriteBack(std::string file, char separator) {
  if (file.empty() || (file.size() >= 2 && file.compare(file.size() - 2, 2, "\r\n") == 0)) {
    return file;
  }
  // A lone CR at the very end only reads without failure after a closing
  // quote; a separator at the very end opens no field.
  if (file.back() == separator || file.back() == '\r') file.pop_back();
  return file + "\r\n";
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  PrepareFuzzTarget();
  const char* base = std::getenv("TMPDIR");
  std::string pattern = std::string(base && *base ? base : "/tmp") + "/tarnsek-fuzz-XXXXXX";
  char* directory = mkdtemp(pattern.data());
  if (!directory) std::abort();
  inputPath = std::string(directory) + "/in.csv";
  outputPath = std::string(directory) + "/out.csv";
  return 0;
}

namespace {

// One reading of the input file: its records' fields, and the exit code of
// a fatal end (0 for none). The records are written back to the output file.
struct Reading {
  std::vector<std::vector<std::string>> records;
  int fatalCode = 0;
};

Reading ReadInput(const CsvSortOption& options, size_t fileSize) {
  Reading reading;
  CsvFile* input = nullptr;
  CsvFile* output = nullptr;
  int32_t records = 0;
  try {
    input = OpenCsvFile(inputPath.c_str(), "rb");
    output = OpenCsvFile(outputPath.c_str(), "wb");
    // Every record holds at least one byte of the file, so more reads than
    // bytes mean the reader no longer moves on.
    for (size_t reads = 0;; ++reads) {
      FUZZ_CHECK(reads <= fileSize + 1);
      ReadRecord(input, options);
      CsvRecord* record = input->record;
      FUZZ_CHECK(record->fieldCount >= 0 && record->fieldCount <= kMaxFields);
      if (record->fieldCount > 0) {
        for (int i = 0; i < record->fieldCount; ++i) FUZZ_CHECK(record->fields[i] != nullptr);
        for (int i = record->fieldCount; i < kMaxFields; ++i) FUZZ_CHECK(record->fields[i] == nullptr);
        reading.records.emplace_back(record->fields, record->fields + record->fieldCount);
        output->record = record;
        WriteRecord(output, options);
        output->record = nullptr;
        ++records;
      } else {
        // Only the end of the file yields a record without fields.
        FUZZ_CHECK(IsEndOfFile(input));
      }
      input->record = nullptr;
      ReleaseRecord(record);
      if (IsEndOfFile(input)) break;
    }
    FUZZ_CHECK(input->lineCount == records);
    FUZZ_CHECK(output->lineCount == records);
    CloseCsvFile(input);
    input = nullptr;
    CloseCsvFile(output);
    output = nullptr;
  } catch (const FatalEnd& end) {
    reading.fatalCode = end.exitCode;
    // The fatal end closed the streams; what is left is freed here.
    if (input) CloseCsvFile(input);
    if (output) CloseCsvFile(output);
  }
  return reading;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  CsvSortOption options{};
  options.tabSeparated = (data[0] & 1) != 0;
  const char separator = options.tabSeparated ? '\t' : ',';
  const uint8_t* file = data + 1;
  const size_t fileSize = size - 1;
  FUZZ_CHECK(WriteWholeFile(inputPath, file, fileSize));

  SetWholeRecordScan(false);
  const Reading scanned = ReadInput(options, fileSize);
  SetWholeRecordScan(true);
  const Reading reading = ReadInput(options, fileSize);
  FUZZ_CHECK(reading.fatalCode == scanned.fatalCode);
  FUZZ_CHECK(reading.records == scanned.records);

  if (reading.fatalCode != 0) {
    FUZZ_CHECK(reading.fatalCode == exit_code::kInvalidSequence || reading.fatalCode == exit_code::kLimit);
    return 0;
  }
  const std::string original(reinterpret_cast<const char*>(file), fileSize);
  if (original.find('\0') != std::string::npos) return 0;
  FUZZ_CHECK(ReadWholeFile(outputPath) == ExpectedWriteBack(original, separator));
  return 0;
}
