// Files of records: opening and closing, the records themselves, and writing
// one record as one CR LF line (csv/record_reader.cc reads them). Field texts
// are kept byte for byte as read (a quoted field keeps its quotes), so a line
// read and written again gives back the same bytes.
#pragma once

#include <cstdint>

#include "driver/options.h"
#include "platform/files.h"

// The format's limit: a record is a line of at most 2048 bytes, CR LF
// included. No field can hold more than its record, so the reader's field
// text and the bytes a comparison looks at are bounded by it as well.
inline constexpr int kMaxRecordLength = 2048;

// One record. Every record is made by MakeRecord or its variants below
// (ReadRecord's records too), as one block: the record, then its field texts
// one after the other, each with its zero byte, so the texts begin at
// fields[0]. (A record of a file read with KeepOneRecord may keep its texts,
// laid out the same way, in the file's read buffer instead.)
struct CsvRecord {
  int32_t fieldCount;   // 0 to 64
  uint32_t textLength;  // bytes of the texts, every zero byte included
  // Slots below fieldCount hold the texts; the rest are null, except in a
  // record made in the record arena or in a file's block (KeepOneRecord),
  // which has no slots beyond its fields.
  char* fields[kMaxFields];
};

// The length of field i's text, i below fieldCount: the texts lie one after
// the other, each with its zero byte and no other (a record read holds none),
// so the length is where the next begins (for the last, where the texts end).
// No byte of the text is read: against strlen, a text key's ranking and its
// merge each took 13 instructions less a record (callgrind over bench/run.py,
// row text).
[[nodiscard]] inline uint32_t FieldLength(const CsvRecord* record, int i) {
  const char* end =
      i + 1 < record->fieldCount ? record->fields[i + 1] : record->fields[0] + record->textLength;
  return static_cast<uint32_t>(end - record->fields[i] - 1);
}

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

// Reads one record into a new CsvRecord that becomes file->record: the
// record syntax of both formats and the limits (csv/record_reader.cc).
void ReadRecord(CsvFile* file, const CsvSortOption& options);
// For tests and fuzzing: with false, ReadRecord takes every record through
// the byte-by-byte scanners, never through the whole-record loop, so that the
// two can be held against each other.
void SetWholeRecordScan(bool enabled);

// A new record of fieldCount (0 to 64) field texts: texts holds them one after
// the other, each ended by its zero byte (its only one), textLength bytes in
// all (at most kMaxRecordLength + 1, what a record read can hold), and field i
// begins at texts + starts[i]. Made in the record arena while one is open.
// Never returns on failure (1001).
[[nodiscard]] CsvRecord* MakeRecord(const char* texts, uint32_t textLength, const int32_t* starts,
                                    int32_t fieldCount);
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
void ReleaseRecord(CsvRecord* record);

// Records made between BeginRecordArena and EndRecordArena (a chunk of the
// sort) are carved one after the other from large blocks instead of being
// allocated one by one; releasing one of them is free, and the next
// BeginRecordArena takes the blocks back for new records, so every record of
// the arena must have been released by then. Such a record holds only the
// slots of its fields: nothing may read its slots at fieldCount and beyond.
void BeginRecordArena();
void EndRecordArena();

// Passes over many records (a chunk is far larger than the caches) ask for
// each record some steps ahead, its first two cache lines (a record read into
// the arena has its texts right after its field slots): the key check of a
// 65,536-record chunk took 7.5 ms without, 2 ms with (tarnsek_micro
// BM_SortChunkSomeTies). (Asking for a third line made GCC 12 drop every
// prefetch of the loop.)
inline void PrefetchRecords(CsvRecord* const* records, int64_t next, int64_t count) {
  constexpr int64_t kAhead = 24;
  if (next + kAhead < count) {
    const auto at = reinterpret_cast<uintptr_t>(records[next + kAhead]);
    __builtin_prefetch(reinterpret_cast<const void*>(at));
    __builtin_prefetch(reinterpret_cast<const void*>(at + 64));
  }
}

// The end-of-file indicator of a file being read.
[[nodiscard]] inline bool IsEndOfFile(const CsvFile* file) { return file->atEnd; }
