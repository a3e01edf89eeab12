// Files of records and the records themselves. Each open file reads or
// writes through a buffer of its own; a record is one allocation that holds
// the CsvRecord and all its texts.
#include "csv/csv_file.h"

#include <cstddef>
#include <cstdlib>
#include <cstring>

#include "driver/log.h"
#include "driver/messages.h"
#include "driver/text.h"

namespace {

// The record arena. A chunk's records laid out in the order read are read
// again in that order by the key checks and the ranking; allocated one by one
// they were scattered wherever the previous chunk's freed records lay, and
// reading each cost a cache miss: the arena took a third off the time of a
// 1,245,184-record sort on a number key (bench/run.py, row number).
constexpr size_t kArenaBlockSize = size_t{4} << 20;  // far more than one record
constexpr int kMaxArenaBlocks = 64;                  // 256 MiB: a chunk of the longest records fits
char* arenaBlocks[kMaxArenaBlocks];
int arenaBlockCount = 0;  // blocks obtained so far, kept for later arenas
int arenaBlock = 0;       // the block being filled
size_t arenaUsed = 0;     // bytes used in it
bool arenaActive = false;

void* AllocateRecordBlock(size_t size) {
  if (!arenaActive) return std::malloc(size);
  size = (size + alignof(CsvRecord) - 1) & ~(alignof(CsvRecord) - 1);
  if (arenaBlockCount > 0 && arenaUsed + size <= kArenaBlockSize) {
    void* block = arenaBlocks[arenaBlock] + arenaUsed;
    arenaUsed += size;
    return block;
  }
  const int next = arenaBlockCount == 0 ? 0 : arenaBlock + 1;
  if (next == kMaxArenaBlocks) return nullptr;
  if (next == arenaBlockCount) {
    arenaBlocks[next] = static_cast<char*>(std::malloc(kArenaBlockSize));
    if (!arenaBlocks[next]) return nullptr;
    ++arenaBlockCount;
  }
  arenaBlock = next;
  arenaUsed = size;
  return arenaBlocks[next];
}

bool InRecordArena(const void* address) {
  const auto at = reinterpret_cast<uintptr_t>(address);
  for (int b = 0; b < arenaBlockCount; ++b) {
    const auto start = reinterpret_cast<uintptr_t>(arenaBlocks[b]);
    if (at - start < kArenaBlockSize) return true;
  }
  return false;
}

// Every open CsvFile, so that a fatal end can flush and close them all.
CsvFile* openFiles = nullptr;

// The run is ending: what was written is flushed, every file closed. Errors
// are of no use any more and are ignored. The CsvFiles themselves stay. A
// file not yet emptied keeps its old bytes unless it has records to take
// their place, and nothing is written over bytes that could not be removed.
void CloseAllFiles() {
  for (CsvFile* file = openFiles; file; file = file->nextOpen) {
    if (file->writing && file->bufferLength > 0 && file->stream != kNoFile &&
        (!file->mustEmpty || EmptyPlatformFile(file->stream) == 0)) {
      (void)WritePlatformFile(file->stream, file->buffer, static_cast<size_t>(file->bufferLength));
    }
    file->bufferLength = 0;
    file->bufferPosition = 0;
    if (file->stream != kNoFile) ClosePlatformFile(file->stream);
    file->stream = kNoFile;
  }
  openFiles = nullptr;
}

void Unlist(CsvFile* file) {
  for (CsvFile** link = &openFiles; *link; link = &(*link)->nextOpen) {
    if (*link == file) {
      *link = file->nextOpen;
      break;
    }
  }
  file->nextOpen = nullptr;
}

// Writes out the buffer of a file being written.
void Spill(CsvFile* file) {
  if (file->bufferLength == 0) return;
  EmptyCsvFile(file);
  size_t size = static_cast<size_t>(file->bufferLength);
  // Emptied first: the fatal path must not write these bytes a second time.
  file->bufferLength = 0;
  if (int error = WritePlatformFile(file->stream, file->buffer, size)) {
    FatalError(msg::kWriteFailed, file->path, error);
  }
}

}  // namespace

namespace {

// A new CsvFile with its buffer, before its file is opened.
CsvFile* NewCsvFile() {
  CsvFile* file = static_cast<CsvFile*>(std::calloc(1, sizeof(CsvFile)));
  unsigned char* buffer = static_cast<unsigned char*>(std::malloc(kFileBufferSize + kScanSlack));
  if (!file || !buffer) FatalError(msg::kCsvFileAlloc);
  file->buffer = buffer;
  file->stream = kNoFile;
  return file;
}

// The file is open: its counters, its place in the list of open files, and
// the log line of the opening.
CsvFile* ListCsvFile(CsvFile* file, const char* path, bool writing) {
  file->record = nullptr;
  file->path = DuplicateString(path);
  file->lineCount = 0;
  file->isRunFile = false;
  file->writing = writing;
  file->mustEmpty = false;
  file->atEnd = false;
  file->bufferPosition = 0;
  file->bufferLength = 0;

  if (!openFiles) SetCloseAllFilesHandler(CloseAllFiles);
  file->nextOpen = openFiles;
  openFiles = file;

  LogMessage(msg::kFileOpened, file->path);
  return file;
}

}  // namespace

CsvFile* OpenCsvFile(const char* path, const char* mode) {
  CsvFile* file = NewCsvFile();
  const bool writing = mode[0] == 'w';
  file->openError = OpenPlatformFile(path, writing ? FileMode::kWrite : FileMode::kRead, &file->stream);
  if (file->openError != 0) FatalError(msg::kOpenFailed, path, file->openError);
  ListCsvFile(file, path, writing);
  file->mustEmpty = writing;
  return file;
}

void EmptyCsvFile(CsvFile* file) {
  if (!file->mustEmpty) return;
  // Cleared only once emptied: the fatal path writes nothing over old bytes.
  if (int error = EmptyPlatformFile(file->stream)) {
    FatalError(msg::kWriteFailed, file->path, error);
  }
  file->mustEmpty = false;
}

CsvFile* AdoptCsvFile(const char* path, FileHandle handle) {
  CsvFile* file = NewCsvFile();
  file->openError = 0;
  file->stream = handle;
  return ListCsvFile(file, path, true);
}

void CloseCsvFile(CsvFile* file) {
  if (file->writing && file->stream != kNoFile) {
    EmptyCsvFile(file);
    Spill(file);
  }
  Unlist(file);
  if (file->stream != kNoFile) {
    int error = ClosePlatformFile(file->stream);
    file->stream = kNoFile;
    // A written file's close may report a write that failed late.
    if (error != 0 && file->writing) FatalError(msg::kWriteFailed, file->path, error);
  }
  LogMessage(msg::kFileClosed, file->path);
  std::free(file->path);
  std::free(file->buffer);
  std::free(file->recordStore);
  std::free(file);
}

namespace {

// Fills in record's header and field slots for texts that lie at `texts`;
// when `fromLine`, the byte before each field but the first and the last
// byte are made zero bytes there.
inline void PointFields(CsvRecord* record, char* texts, uint32_t textLength, const int32_t* starts,
                        int32_t fieldCount, bool fromLine) {
  record->fieldCount = fieldCount;
  record->textLength = textLength;
  if (!fromLine) {
    for (int32_t i = 0; i < fieldCount; ++i) record->fields[i] = texts + starts[i];
    return;
  }
  texts[textLength - 1] = '\0';
  record->fields[0] = texts;
  for (int32_t i = 1; i < fieldCount; ++i) {
    texts[starts[i] - 1] = '\0';
    record->fields[i] = texts + starts[i];
  }
}

// Lays a record out in block: its header with `slots` field slots, then a
// copy of its texts.
CsvRecord* PlaceRecord(void* block, size_t slots, const char* texts, uint32_t textLength,
                       const int32_t* starts, int32_t fieldCount, bool fromLine) {
  const size_t header = offsetof(CsvRecord, fields) + slots * sizeof(char*);
  CsvRecord* record = static_cast<CsvRecord*>(block);
  char* copy = static_cast<char*>(block) + header;
  std::memcpy(copy, texts, textLength);
  PointFields(record, copy, textLength, starts, fieldCount, fromLine);
  for (size_t i = static_cast<size_t>(fieldCount); i < slots; ++i) record->fields[i] = nullptr;
  return record;
}

// The largest record a read can make, with the slots of its fields only.
constexpr size_t kRecordStoreSize =
    offsetof(CsvRecord, fields) + kMaxFields * sizeof(char*) + kMaxRecordLength + kMaxFields + 16;

// A new record in `file`'s block when it keeps one (any file may be null),
// else as MakeRecord makes it.
CsvRecord* NewRecord(CsvFile* file, const char* texts, uint32_t textLength, const int32_t* starts,
                     int32_t fieldCount, bool fromLine) {
  // Such a block, like the arena, gives a record only the slots of its
  // fields, the texts right after them: nothing reads beyond them. In the
  // arena a chunk of 9-field records takes a third of the memory, and writing
  // it out in sorted order, a cache miss or two per record, took half as long
  // (bench/run.py, row number).
  if (file && file->recordStore) {
    return PlaceRecord(file->recordStore, static_cast<size_t>(fieldCount), texts, textLength, starts,
                       fieldCount, fromLine);
  }
  const size_t slots = arenaActive ? static_cast<size_t>(fieldCount) : static_cast<size_t>(kMaxFields);
  void* block = AllocateRecordBlock(offsetof(CsvRecord, fields) + slots * sizeof(char*) + textLength);
  if (!block) FatalError(msg::kCsvRecordAlloc);
  return PlaceRecord(block, slots, texts, textLength, starts, fieldCount, fromLine);
}

}  // namespace

CsvRecord* MakeRecord(const char* texts, uint32_t textLength, const int32_t* starts, int32_t fieldCount) {
  return NewRecord(nullptr, texts, textLength, starts, fieldCount, false);
}

CsvRecord* MakeRecordOf(CsvFile* file, const char* texts, uint32_t textLength, const int32_t* starts,
                        int32_t fieldCount) {
  return NewRecord(file, texts, textLength, starts, fieldCount, false);
}

CsvRecord* MakeRecordFromLine(CsvFile* file, char* line, uint32_t textLength, const int32_t* starts,
                              int32_t fieldCount) {
  if (file->recordStore) {
    // The record keeps its texts where they were read: a merge input's record
    // is written before the input reads on. Not copying them took the read
    // of a record merged from 634 to 554 instructions (callgrind over
    // bench/run.py, row merge).
    CsvRecord* record = static_cast<CsvRecord*>(file->recordStore);
    PointFields(record, line, textLength, starts, fieldCount, true);
    return record;
  }
  return NewRecord(file, line, textLength, starts, fieldCount, true);
}

void KeepOneRecord(CsvFile* file) {
  if (file->recordStore) return;
  file->recordStore = std::malloc(kRecordStoreSize);
  if (!file->recordStore) FatalError(msg::kCsvRecordAlloc);
}

// A record is its line already, but for the zero bytes that end its texts:
// the block is copied whole and those bytes become the separators and the
// CR LF. With this and the release that walks no text, the sort of 1,245,184
// records on a number key went from 1.15 s to 0.5 s of CPU (bench/run.py,
// row number).
void WriteRecord(CsvFile* file, const CsvSortOption& options) {
  const CsvRecord* record = file->record;
  if (!record || record->fieldCount <= 0) return;
  const char separator = options.tabSeparated ? '\t' : ',';
  const char* texts = record->fields[0];
  const uint32_t length = record->textLength;
  if (length + 1 > static_cast<uint32_t>(kFileBufferSize - file->bufferLength)) Spill(file);
  char* out = reinterpret_cast<char*>(file->buffer) + file->bufferLength;
  std::memcpy(out, texts, length);
  for (int32_t i = 1; i < record->fieldCount; ++i) out[record->fields[i] - texts - 1] = separator;
  out[length - 1] = '\r';
  out[length] = '\n';
  file->bufferLength += static_cast<int32_t>(length + 1);
  ++file->lineCount;
}

void ReleaseRecord(CsvRecord* record) {
  // The texts are in the record's own block; a record of the arena goes with
  // its blocks.
  if (record && !InRecordArena(record)) std::free(record);
}

void BeginRecordArena() {
  arenaBlock = 0;
  arenaUsed = 0;
  arenaActive = true;
}

void EndRecordArena() { arenaActive = false; }
