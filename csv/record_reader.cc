// The record reader: ReadRecord, the whole-record loop that reads the common
// record at once, and the three field scanners behind it, which hold the
// whole syntax of the two file formats byte by byte:
//   comma mode: fields separated by commas, records ended by CR LF; a field
//     whose first byte is a double quote runs to its closing quote, and inside
//     it commas, tabs, CR and LF are data and a quote is written doubled;
//   tab mode: fields separated by tabs, records ended by CR LF, no quoting.
// Bytes 0x80 and above are ordinary data, and no Shift_JIS trail byte equals a
// byte treated specially here, so double-byte text needs no handling. A zero
// byte never belongs in a record: wherever it stands it is an invalid sequence.
//
// A record's texts are built in one process-wide record text area (one
// thread, one record at a time, whichever file it comes from) and then made
// into a record by MakeRecord.
#include <array>
#include <bit>

// TARNSEK_SCALAR (the debug build) takes the scalar loops that a processor
// without SSE2 would run, so that they are tested too.
#if defined(__SSE2__) && !defined(TARNSEK_SCALAR)
#include <emmintrin.h>
#endif

#include "csv/csv_file.h"
#include "driver/exit_codes.h"
#include "driver/log.h"
#include "driver/messages.h"

namespace {

// Every field's text with its zero byte: the stored bytes of a record are
// bounded by the record-length limit, plus one zero byte per field.
constexpr int kRecordTextSize = kMaxRecordLength + kMaxFields + 16;

int32_t recordLength = 0;  // bytes read for the record, against kMaxRecordLength
int32_t fieldLength = 0;   // bytes in the field being scanned
int32_t textLength = 0;    // bytes used in recordText
// Whole-record reading moves 16 bytes at a time: the area has room for 16
// more, as a read buffer has.
char recordText[kRecordTextSize + kScanSlack];

[[noreturn]] void FailRecordTooLong(const CsvFile* file) {
  FatalError(exit_code::kLimit, msg::kRecordTooLong, file->lineCount + 1);
}

[[noreturn]] void FailInvalidSequence(const CsvFile* file) {
  // Bytes beyond the limit are let through only as a run file's closing CR LF:
  // when they turn out to be anything else, the record is too long.
  if (recordLength > kMaxRecordLength) FailRecordTooLong(file);
  FatalError(exit_code::kInvalidSequence, msg::kInvalidSequence, file->lineCount + 1);
}

// Called when recordLength has just passed the limit; returns only for the
// closing CR LF of a run-file record.
void CheckOverLength(CsvFile* file, int byte) {
  // A run file holds records the tool wrote itself, each ended by CR LF. A
  // last input record ended by the end of the file may hold 2048 bytes, or
  // 2047 and the lone CR after a closing quote, so its copy may end with CR LF
  // at bytes 2049 and 2050, or with CR at 2048 and LF at 2049. Only those
  // bytes are let through; whether they really close the record is for the
  // scanners to see: they store no byte beyond the limit, and anything out of
  // place there fails as a record too long.
  if (file->isRunFile) {
    if (recordLength == kMaxRecordLength + 1 && (byte == '\r' || byte == '\n')) return;
    if (recordLength == kMaxRecordLength + 2 && byte == '\n') return;
  }
  FailRecordTooLong(file);
}

int NextByte(CsvFile* file);

// The buffer is used up: refills it from the file and returns its first
// byte, or -1 at the end. The end, once met, stays: the indicator is set and
// nothing more is read.
int RefillAndNextByte(CsvFile* file) {
  if (file->atEnd) return -1;
  int error = 0;
  ptrdiff_t count = ReadPlatformFile(file->stream, file->buffer, kFileBufferSize, &error);
  if (count < 0) FatalError(exit_code::kReadWrite, msg::kReadFailed, file->path, error);
  file->bufferPosition = 0;
  file->bufferLength = static_cast<int32_t>(count);
  if (count == 0) {
    file->atEnd = true;
    return -1;
  }
  return NextByte(file);
}

// One byte of the record being read, counted against the record-length limit,
// or -1 at the end of the file.
inline int NextByte(CsvFile* file) {
  if (file->bufferPosition < file->bufferLength) {
    int byte = file->buffer[file->bufferPosition++];
    if (++recordLength > kMaxRecordLength) CheckOverLength(file, byte);
    return byte;
  }
  return RefillAndNextByte(file);
}

// A field scanner starts at a field's first byte, which the caller has
// already read (and counted), appends the field's text to the record text
// area (the field's bytes exactly as they stand in the file, quotes kept,
// followed by a zero byte) and leaves in *current the byte that ended the
// field:
//   the separator (comma, or tab in tab mode)  the field ended, the separator is consumed
//   0                                          CR LF ended the record
//   -1                                         the file ended

using StopTable = std::array<bool, 256>;

constexpr StopTable MakeStops(std::initializer_list<unsigned char> bytes) {
  StopTable table{};
  for (unsigned char byte : bytes) table[byte] = true;
  return table;
}

// Bytes that end a run of ordinary field bytes.
constexpr StopTable kPlainStops = MakeStops({',', '\r', '\n', '"', 0});
constexpr StopTable kTabStops = MakeStops({'\t', '\r', 0});
constexpr StopTable kQuotedStops = MakeStops({'"', 0});

[[noreturn]] void FailFieldBufferFull(const CsvFile* file) {
  FatalError(exit_code::kLimit, msg::kFieldBufferFull, file->lineCount + 1);
}

char* BeginField() {
  fieldLength = 0;
  return recordText + textLength;
}

char* EndField(char* text) {
  recordText[textLength++] = '\0';
  return text;
}

// Stores one byte that was read for the field.
inline void StoreByte(const CsvFile* file, int byte) {
  // Only a run file's closing CR LF may lie beyond the limit; as data it may not.
  if (recordLength > kMaxRecordLength) FailRecordTooLong(file);
  // No field holds more than its record; this bounds the area on its own.
  if (fieldLength == kMaxRecordLength) FailFieldBufferFull(file);
  recordText[textLength++] = static_cast<char>(byte);
  ++fieldLength;
}

// Takes the ordinary bytes that wait in the read buffer straight into the
// field, as far as the record-length limit and the field buffer allow. The byte
// that stops the run is left for NextByte, which also meets any limit first.
inline void TakeOrdinaryRun(CsvFile* file, const StopTable& stops) {
  int32_t room = kMaxRecordLength - recordLength;
  if (kMaxRecordLength - fieldLength < room) room = kMaxRecordLength - fieldLength;
  if (file->bufferLength - file->bufferPosition < room) room = file->bufferLength - file->bufferPosition;
  if (room <= 0) return;
  const unsigned char* from = file->buffer + file->bufferPosition;
  char* to = recordText + textLength;
  int32_t taken = 0;
  while (taken < room && !stops[from[taken]]) {
    to[taken] = static_cast<char>(from[taken]);
    ++taken;
  }
  file->bufferPosition += taken;
  recordLength += taken;
  fieldLength += taken;
  textLength += taken;
}

// After a CR outside quotes: only LF may follow, and then the record ends.
inline void ExpectLineFeed(CsvFile* file, int* current) {
  if (NextByte(file) != '\n') FailInvalidSequence(file);
  *current = 0;
}

// Comma mode and tab mode differ only in the separator and in which bytes are
// data: in tab mode a double quote, a comma and a lone LF are ordinary bytes.
template <bool kTabMode>
char* ScanUnquotedField(int* current, CsvFile* file) {
  constexpr int kSeparator = kTabMode ? 0x09 : 0x2C;  // tab, comma
  const StopTable& stops = kTabMode ? kTabStops : kPlainStops;
  char* text = BeginField();
  int byte = *current;
  for (;;) {
    if (byte == kSeparator || byte == -1) {
      *current = byte;
      return EndField(text);
    }
    if (byte == '\r') {
      ExpectLineFeed(file, current);
      return EndField(text);
    }
    if (byte == 0 || (!kTabMode && (byte == '"' || byte == '\n'))) FailInvalidSequence(file);
    StoreByte(file, byte);
    TakeOrdinaryRun(file, stops);
    byte = NextByte(file);
  }
}

// What a byte is to the whole-record loop.
enum WholeRecordByte : uint8_t { kData, kSeparator, kCarriageReturn, kQuote, kBail };

constexpr std::array<WholeRecordByte, 256> MakeWholeRecordBytes(bool tabMode) {
  std::array<WholeRecordByte, 256> table{};
  table[0] = kBail;
  table['\r'] = kCarriageReturn;
  if (tabMode) {
    table['\t'] = kSeparator;
  } else {
    table[','] = kSeparator;
    table['"'] = kQuote;
    table['\n'] = kBail;
  }
  return table;
}
constexpr std::array<WholeRecordByte, 256> kCommaRecordBytes = MakeWholeRecordBytes(false);
constexpr std::array<WholeRecordByte, 256> kTabRecordBytes = MakeWholeRecordBytes(true);

// Copies the data bytes from p on to out, both advanced, up to the first
// byte that is not data (which is left at p). Bytes are looked at 16 at a
// time, which may read up to 15 bytes past the limit (into the buffer's
// slack) and write as many past the copy (into the text area's): what lies
// beyond the stopping byte is never used. A p at or past the limit means the
// record does not end within it. Against a byte at a time this took the sort
// of 1,245,184 records on a number key from 0.75 s to 0.64 s (bench/run.py,
// row number; tarnsek_micro BM_ReadRecordComma shows the reading alone).
inline const unsigned char* CopyData(const unsigned char* p, const unsigned char* limit, char*& out,
                                     bool tabMode) {
#if defined(__SSE2__) && !defined(TARNSEK_SCALAR)
  const __m128i separator = _mm_set1_epi8(tabMode ? '\t' : ',');
  const __m128i carriageReturn = _mm_set1_epi8('\r');
  const __m128i quote = _mm_set1_epi8(tabMode ? '\r' : '"');
  const __m128i lineFeed = _mm_set1_epi8(tabMode ? '\r' : '\n');
  const __m128i zero = _mm_setzero_si128();
  for (;;) {
    const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out), bytes);
    const __m128i stops =
        _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(bytes, separator), _mm_cmpeq_epi8(bytes, carriageReturn)),
                     _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(bytes, quote), _mm_cmpeq_epi8(bytes, lineFeed)),
                                  _mm_cmpeq_epi8(bytes, zero)));
    const auto mask = static_cast<uint32_t>(_mm_movemask_epi8(stops));
    if (mask != 0) {
      const int taken = std::countr_zero(mask);
      out += taken;
      return p + taken;
    }
    p += 16;
    out += 16;
    if (p >= limit) return p;
  }
#else
  const std::array<WholeRecordByte, 256>& kinds = tabMode ? kTabRecordBytes : kCommaRecordBytes;
  while (p < limit && kinds[*p] == kData) *out++ = static_cast<char>(*p++);
  return p;
#endif
}

// The common case of a whole record, read in one tight loop: a record that
// lies whole in the read buffer, ends with CR LF, keeps within the limits and
// holds nothing invalid. Its texts go to the record text area and offsets[]
// receives where each begins. Returns false, having changed nothing, for any
// other record, which the field scanners then read byte by byte.
// Reading field by field cost a dozen counter updates and limit checks per
// field; with this loop, the scanners only seeing the rare rest, the sort of
// 1,245,184 records on a number key went from 1.3 s to 0.95 s of CPU
// (bench/run.py, row number; tarnsek_micro BM_ReadRecordComma).
bool ScanWholeRecord(CsvFile* file, bool tabMode, int32_t* offsets, int32_t* fieldCount) {
  const unsigned char* const start = file->buffer + file->bufferPosition;
  const int32_t available = file->bufferLength - file->bufferPosition;
  // Every byte, CR LF included, within the record-length limit.
  const unsigned char* const limit = start + (available < kMaxRecordLength ? available : kMaxRecordLength);
  const std::array<WholeRecordByte, 256>& kinds = tabMode ? kTabRecordBytes : kCommaRecordBytes;
  const unsigned char* p = start;
  char* out = recordText;
  int32_t fields = 0;
  for (;;) {
    if (fields == kMaxFields) return false;
    offsets[fields++] = static_cast<int32_t>(out - recordText);
    if (p < limit && kinds[*p] == kQuote) {
      // A quoted field: to the closing quote, a doubled quote being data.
      *out++ = static_cast<char>(*p++);
      for (;;) {
        if (p >= limit || *p == 0) return false;
        const unsigned char byte = *p++;
        *out++ = static_cast<char>(byte);
        if (byte != '"') continue;
        if (p < limit && *p == '"') {
          *out++ = static_cast<char>(*p++);
          continue;
        }
        break;
      }
      if (p >= limit) return false;
      if (*p == ',') {
        ++p;
        *out++ = '\0';
        continue;
      }
      if (*p == '\r' && p + 1 < limit && p[1] == '\n') break;
      return false;
    }
    for (;;) {
      if (p >= limit) return false;
      p = CopyData(p, limit, out, tabMode);
      if (p >= limit) return false;
      const WholeRecordByte kind = kinds[*p];
      if (kind == kSeparator) break;
      if (kind == kCarriageReturn && p + 1 < limit && p[1] == '\n') break;
      return false;
    }
    if (*p == '\r') break;
    ++p;
    *out++ = '\0';
  }
  // p is at the closing CR LF.
  p += 2;
  *out++ = '\0';
  const int32_t length = static_cast<int32_t>(p - start);
  file->bufferPosition += length;
  recordLength = length;
  textLength = static_cast<int32_t>(out - recordText);
  *fieldCount = fields;
  return true;
}

char* ScanPlainField(int* current, CsvFile* file) { return ScanUnquotedField<false>(current, file); }

char* ScanTabField(int* current, CsvFile* file) { return ScanUnquotedField<true>(current, file); }

// A field whose first byte, already read, is a double quote.
char* ScanQuotedField(int* current, CsvFile* file) {
  char* text = BeginField();
  StoreByte(file, '"');  // the opening quote, already read
  for (;;) {
    // Within the quotes.
    TakeOrdinaryRun(file, kQuotedStops);
    int byte = NextByte(file);
    if (byte == 0 || byte == -1) FailInvalidSequence(file);  // the quotes never close
    StoreByte(file, byte);
    if (byte != '"') continue;

    // After a quote: a second quote makes a doubled quote; anything else
    // means the quote was the closing one.
    byte = NextByte(file);
    if (byte == '"') {
      StoreByte(file, byte);
      continue;
    }
    if (byte == ',' || byte == -1) {
      *current = byte;
      return EndField(text);
    }
    if (byte != '\r') FailInvalidSequence(file);
    byte = NextByte(file);
    if (byte == '\n') {
      *current = 0;
    } else if (byte == -1) {
      // A CR as the last byte of the file ends the field; beyond the limit it
      // could only have been a run file's closing CR, which LF follows.
      if (recordLength > kMaxRecordLength) FailRecordTooLong(file);
      *current = -1;
    } else {
      FailInvalidSequence(file);
    }
    return EndField(text);
  }
}

}  // namespace

void ReadRecord(CsvFile* file, const CsvSortOption& options) {
  recordLength = 0;
  textLength = 0;
  int32_t starts[kMaxFields];
  int32_t fieldCount = 0;

  int current = ScanWholeRecord(file, options.tabSeparated, starts, &fieldCount) ? -1 : NextByte(file);
  while (current != -1) {
    if (fieldCount == kMaxFields) FatalError(exit_code::kLimit, msg::kTooManyFields, file->lineCount + 1);
    char* text;
    if (options.tabSeparated) {
      text = ScanTabField(&current, file);
    } else if (current == '"') {
      text = ScanQuotedField(&current, file);
    } else {
      text = ScanPlainField(&current, file);
    }
    starts[fieldCount++] = static_cast<int32_t>(text - recordText);
    // 0: CR LF ended the record; -1: the file ended; else a separator.
    if (current == 0) break;
    if (current != -1) current = NextByte(file);
  }
  if (recordLength != 0) ++file->lineCount;
  file->record = MakeRecord(recordText, static_cast<uint32_t>(textLength), starts, fieldCount);
}
