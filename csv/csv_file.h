// Files of records: opening and closing, a file's own record block, and
// writing one record as one CR LF line (csv/record_reader.h reads them).
#pragma once

#include <cstdint>

#include "csv/csv_record.h"
#include "driver/options.h"
#include "platform/files.h"

// Bytes a file reads or writes through at once; a read buffer holds
// kScanSlack bytes more than it ever fills, so that the reader may look at 64
// bytes at a time near the end of what was read.
inline constexpr int32_t kFileBufferSize = 256 * 1024;
inline constexpr int kScanSlack = 64;
static_assert(kMaxRecordLength + 2 < kFileBufferSize, "a record is written into the buffer at once");

struct CsvFile {
  int32_t openError;  // 0 in every live CsvFile
  FileHandle stream;
  char* path;         // owned copy of the path given to OpenCsvFile
  CsvRecord* record;  // current record: set by ReadRecord, or by the caller before WriteRecord
  int32_t lineCount;  // records read (or written) so far
  // The sort's own run files: a record's closing CR LF does not count towards
  // the record-length limit when they are read back.
  bool isRunFile;
  // Buffering state, private to the csv layer.
  bool writing;
  bool mustEmpty;  // opened for writing, its old bytes not yet removed
  bool atEnd;      // the end-of-file indicator: set by the first read that meets the end
  unsigned char* buffer;
  int32_t bufferPosition;
  int32_t bufferLength;
  CsvFile* nextOpen;  // list of open files, closed by FatalError
  // Set by KeepOneRecord: the block that each record read is made in.
  void* recordStore;
};

// mode is "rb" or "wb". "wb" creates a file that does not exist and holds an
// existing one with its bytes as they are until EmptyCsvFile (at the latest
// when the first bytes are written out or the file is closed): a run that
// fails before it writes leaves yesterday's output whole. Never returns on
// failure (1002, 1001).
[[nodiscard]] CsvFile* OpenCsvFile(const char* path, const char* mode);
// Empties a file opened "wb", once; a failure is a write failure (1004).
void EmptyCsvFile(CsvFile* file);
// A file already open for writing, with the exclusive hold (a run file as
// CreateRunFile made it), as a CsvFile being written; the same log line as
// OpenCsvFile. The CsvFile owns the handle from here on.
[[nodiscard]] CsvFile* AdoptCsvFile(const char* path, FileHandle handle);
void CloseCsvFile(CsvFile* file);

// From here on, each record read from the file is made in one block of the
// file's own (its texts, when it lies whole in the read buffer, left there),
// in place of the record read before it, which is thereby gone;
// such records are not to be released: their block goes with the file's
// close. A merge holds one record per input at a time: a block allocated,
// cleared and freed per record cost about 200 instructions of each record
// merged (callgrind over bench/run.py, row number).
void KeepOneRecord(CsvFile* file);

// Writes file->record as one line; nothing for a record without fields.
void WriteRecord(CsvFile* file, const CsvSortOption& options);
// MakeRecord for a file read with KeepOneRecord: the record is made in the
// file's block, or as MakeRecord makes it for any other file.
[[nodiscard]] CsvRecord* MakeRecordOf(CsvFile* file, const char* texts, uint32_t textLength,
                                      const int32_t* starts, int32_t fieldCount);
// MakeRecordOf for a record whose texts are still its line: textLength bytes
// from line, each separator before a field start and the last byte (the CR)
// taken as the zero byte that ends a text. For a file read with KeepOneRecord
// the texts stay in line, in the file's read buffer, those bytes made zero
// there: the record lasts until the file's next read.
[[nodiscard]] CsvRecord* MakeRecordFromLine(CsvFile* file, char* line, uint32_t textLength,
                                            const int32_t* starts, int32_t fieldCount);
// The end-of-file indicator of a file being read.
[[nodiscard]] inline bool IsEndOfFile(const CsvFile* file) { return file->atEnd; }
