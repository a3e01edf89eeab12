// The field scanners and the byte reading they share with ReadRecord. Private
// to the csv layer.
//
// A scanner starts at a field's first byte, which the caller has already read
// (and counted), appends the field's text to the record text area (the field's
// bytes exactly as they stand in the file, quotes kept, followed by a zero
// byte) and leaves in *current the byte that ended the field:
//   the separator (comma, or tab in tab mode)  the field ended, the separator is consumed
//   0                                          CR LF ended the record
//   -1                                         the file ended
// The returned text lives in the record text area until the next ReadRecord.
#pragma once

#include <cstdint>

#include "csv/csv_file.h"

inline constexpr int kFieldBufferSize = 2048;  // bytes of one field's text
// Every field's text with its zero byte: the stored bytes of a record are
// bounded by the record-length limit, plus one zero byte per field.
inline constexpr int kRecordTextSize = kMaxRecordLength + kMaxFields + 16;

// Process-wide state of the record being read (one thread, one record at a
// time, whichever file it comes from).
extern int32_t g_recordLength;  // bytes read for the record, against kMaxRecordLength
extern int32_t g_fieldLength;   // bytes in the field being scanned
extern int32_t g_textLength;    // bytes used in g_recordText
// Whole-record reading moves 16 bytes at a time: the area has room for 16
// more, and a read buffer holds 16 bytes more than it ever fills.
inline constexpr int kScanSlack = 16;
extern char g_recordText[kRecordTextSize + kScanSlack];

// The slow paths of NextByte.
int ReadFromNextBuffer(CsvFile* file);
// Called when g_recordLength has just passed the limit; returns only for the
// closing CR LF of a run-file record.
void CheckOverLength(CsvFile* file, int byte);

[[noreturn]] void FailRecordTooLong(const CsvFile* file);
[[noreturn]] void FailInvalidSequence(const CsvFile* file);

// byteCount is informational and wraps past 2 GiB instead of overflowing.
inline void CountDelivered(CsvFile* file, int32_t count) {
  file->byteCount = static_cast<int32_t>(static_cast<uint32_t>(file->byteCount) + static_cast<uint32_t>(count));
}

// One byte of the record being read, counted against the record-length limit,
// or -1 at the end of the file.
inline int NextByte(CsvFile* file) {
  if (file->bufferPosition < file->bufferLength) {
    int byte = file->buffer[file->bufferPosition++];
    CountDelivered(file, 1);
    if (++g_recordLength > kMaxRecordLength) CheckOverLength(file, byte);
    return byte;
  }
  return ReadFromNextBuffer(file);
}

// The common case of a whole record, read in one tight loop: a record that
// lies whole in the read buffer, ends with CR LF, keeps within the limits and
// holds nothing invalid. Its texts go to the record text area and offsets[]
// receives where each begins. Returns false, having changed nothing, for any
// other record, which the field scanners then read byte by byte.
bool ScanWholeRecord(CsvFile* file, bool tabMode, int32_t* offsets, int32_t* fieldCount);

char* ScanQuotedField(int* current, CsvFile* file);
char* ScanPlainField(int* current, CsvFile* file);
char* ScanTabField(int* current, CsvFile* file);
