// Records: one record as its field texts kept exactly as read, in one block,
// and where records are made (one by one, in the record arena of a chunk, or
// in a file's own block). A field text is kept byte for byte as read (a quoted
// field keeps its quotes), so a record read and written again gives back the
// same bytes.
#pragma once

#include <cstdint>

#include "driver/limits.h"

// The format's limit: a record is a line of at most 2048 bytes, CR LF
// included. No field can hold more than its record, so the reader's field
// text and the bytes a comparison looks at are bounded by it as well.
inline constexpr int kMaxRecordLength = 2048;

// One record. Every record is made by MakeRecord or its variants below
// (the records a file reads too), as one block: the record, then its field texts
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

// A new record of fieldCount (0 to 64) field texts: texts holds them one after
// the other, each ended by its zero byte (its only one), textLength bytes in
// all (at most kMaxRecordLength + 1, what a record read can hold), and field i
// begins at texts + starts[i]. Made in the record arena while one is open.
// Never returns on failure (1001).
[[nodiscard]] CsvRecord* MakeRecord(const char* texts, uint32_t textLength, const int32_t* starts,
                                    int32_t fieldCount);
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
