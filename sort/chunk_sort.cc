// The sort run: the input is read in chunks into the record buffer; each
// chunk is ranked once under the keys, put in the quicksort's order on the
// ranks, and written to a run file of its own; the run files are then merged.
#include "sort/chunk_sort.h"

#include <cstring>

#include "csv/record_reader.h"
#include "driver/log.h"
#include "driver/messages.h"
#include "driver/text.h"
#include "platform/signals.h"
#include "platform/temp_files.h"
#include "sort/merge.h"

namespace {

// Slots 0..bufferCount-1 hold the records of the current chunk.
CsvRecord* recordBuffer[kChunkRecords];
uint32_t bufferCount = 0;

// The run's one chunk sorter: its tables outlive each chunk.
ChunkSorter runSorter;

constexpr char kRunFilePrefix[] = "sot";

}  // namespace

CsvRecord** RecordBuffer() { return recordBuffer; }
void SetBufferCount(uint32_t count) { bufferCount = count; }

void LoadChunk(CsvFile* input, const CsvSortOption& options) {
  bufferCount = 0;
  BeginRecordArena();
  while (!IsEndOfFile(input) && bufferCount < static_cast<uint32_t>(kChunkRecords)) {
    ReadRecord(input, options);
    CsvRecord* record = input->record;
    if (record->fieldCount > 0) {
      recordBuffer[bufferCount++] = record;
    } else {
      // The read met the end of the file before any byte.
      ReleaseRecord(record);
      input->record = nullptr;
    }
  }
  EndRecordArena();
  LogMessage(msg::kChunkLoaded, static_cast<int>(bufferCount));
}

void SortChunk(ChunkSorter& sorter, CsvRecord** records, int32_t count, const CsvSortOption& options) {
  const KeyCheck check = CheckKeyFields(sorter.ranking, records, count, options);
  RankRecords(sorter.ranking, records, count, options, sorter.ranks, &check);
  for (int32_t k = 0; k < count; ++k) {
    sorter.items[k] = MakeItem(sorter.ranks[k], static_cast<uint32_t>(k));
    sorter.unsorted[k] = records[k];
  }
  if (check.lacking) {
    // The comparison skips a key that either record lacks: no order.
    (void)SortItemsLackingKeys(sorter.lacking, sorter.ranking, sorter.quicksort, sorter.items,
                               sorter.unsorted, count, options);
  } else {
    SortRankedSlots(sorter.quicksort, sorter.items, count);
  }
  for (int32_t k = 0; k < count; ++k) records[k] = sorter.unsorted[static_cast<uint32_t>(sorter.items[k])];
}

void WriteRunFile(CsvSortOption& options) {
  if (options.fileCount >= kMaxRunFiles) {
    FatalError(msg::kTooManyRunFiles, kMaxRunFiles);
  }
  char directory[kMaxPath];
  if (options.workDirectory) {
    std::strncpy(directory, options.workDirectory, kMaxPath - 1);
    directory[kMaxPath - 1] = '\0';
  } else {
    GetTempDirectory(directory);
  }
  char name[kMaxPath];
  FileHandle handle = kNoFile;
  // From its making on, the file is one that an interrupt deletes.
  HoldInterrupts();
  if (!CreateRunFile(directory, kRunFilePrefix, name, &handle)) {
    FatalError(msg::kTempFileName);
  }
  options.fileNames[options.fileCount] = DuplicateString(name);
  DeleteOnInterrupt(options.fileNames, &options.fileCount, kMaxRunFiles);
  ReleaseInterrupts();

  // Written through the handle that made it: in a directory that others may
  // write, the name could lead elsewhere by now.
  CsvFile* run = AdoptCsvFile(name, handle);
  for (uint32_t k = 0; k < bufferCount; ++k) {
    PrefetchRecords(recordBuffer, k, bufferCount);
    run->record = recordBuffer[k];
    WriteRecord(run, options);
    ReleaseRecord(recordBuffer[k]);
    recordBuffer[k] = nullptr;
  }
  run->record = nullptr;
  LogMessage(msg::kRunFileWritten, run->lineCount);
  CloseCsvFile(run);
  ++options.fileCount;
}

void SortCsvFile(CsvSortOption& options) {
  LogMessage(msg::kSortStarted);
  CsvFile* input = OpenCsvFile(options.inputPath, "rb");
  if (options.hasCaption) {
    // The title record, whatever it holds; it is never sorted.
    ReadRecord(input, options);
    SetHeaderRecord(input->record);
  }
  while (!IsEndOfFile(input)) {
    LoadChunk(input, options);
    if (bufferCount > 0) {
      SortChunk(runSorter, recordBuffer, static_cast<int32_t>(bufferCount), options);
      WriteRunFile(options);
    }
  }
  CloseCsvFile(input);
  options.deleteFiles = true;
  MergeCsvFiles(options);
  LogMessage(msg::kSortFinished);
}
