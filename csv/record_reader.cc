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

bool wholeRecordScan = true;  // SetWholeRecordScan
int32_t recordLength = 0;     // bytes read for the record, against kMaxRecordLength
int32_t fieldLength = 0;      // bytes in the field being scanned
int32_t textLength = 0;       // bytes used in recordText
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

// The bytes that matter to the whole-record loop among the 16 at `at`, as
// bits: in comma mode the comma, double quote, CR, LF and zero byte, in tab
// mode the tab, CR and zero byte. *separators gets the separators alone and
// *quotes the double quotes and zero bytes, all that matters within quotes.
// Reads 16 bytes whatever the record's length: a read buffer has that slack
// beyond what it holds.
struct Marks {
  uint32_t all;
  uint32_t separators;
  uint32_t quotes;
};

inline Marks MarkBytes(const unsigned char* at, bool tabMode) {
#if defined(__SSE2__) && !defined(TARNSEK_SCALAR)
  const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(at));
  const __m128i zero = _mm_cmpeq_epi8(bytes, _mm_setzero_si128());
  const __m128i carriageReturn = _mm_cmpeq_epi8(bytes, _mm_set1_epi8('\r'));
  const __m128i separator = _mm_cmpeq_epi8(bytes, _mm_set1_epi8(tabMode ? '\t' : ','));
  const auto bits = [](__m128i lanes) { return static_cast<uint32_t>(_mm_movemask_epi8(lanes)); };
  if (tabMode) return {bits(_mm_or_si128(_mm_or_si128(zero, carriageReturn), separator)), bits(separator), 0};
  const __m128i quote = _mm_or_si128(zero, _mm_cmpeq_epi8(bytes, _mm_set1_epi8('"')));
  const __m128i rest =
      _mm_or_si128(separator, _mm_or_si128(carriageReturn, _mm_cmpeq_epi8(bytes, _mm_set1_epi8('\n'))));
  return {bits(_mm_or_si128(quote, rest)), bits(separator), bits(quote)};
#else
  Marks marks{0, 0, 0};
  for (int i = 0; i < 16; ++i) {
    const unsigned char byte = at[i];
    const bool separator = byte == (tabMode ? '\t' : ',');
    const bool quote = !tabMode && (byte == '"' || byte == 0);
    const bool marked = separator || quote || byte == '\r' || byte == 0 || (!tabMode && byte == '\n');
    marks.all |= static_cast<uint32_t>(marked) << i;
    marks.separators |= static_cast<uint32_t>(separator) << i;
    marks.quotes |= static_cast<uint32_t>(quote) << i;
  }
  return marks;
#endif
}

// The common case of a whole record, found in one pass over the read buffer:
// a record that lies whole in it, ends with CR LF, keeps within the limits
// and holds nothing invalid. Returns the length of its texts (its bytes up to
// the CR, plus one: the record's texts are its bytes with each separator and
// the CR made a zero byte), *line where its bytes begin, and in offsets[]
// where each field begins; the record is consumed. Returns 0, having changed
// nothing, for any other record, which the field scanners then read byte by
// byte. The bytes are looked at 16 at a time and only those that matter are
// visited, one by one from a bit mask, and the texts are copied once, from
// the buffer into the record. Reading a record of 9 fields (a quoted price
// among them) took 832 instructions, making the record included, field by
// field and through a second copy, and takes 716 (callgrind over
// bench/run.py, row number; tarnsek_micro BM_ReadRecordComma).
uint32_t ScanWholeRecord(CsvFile* file, bool tabMode, int32_t* offsets, int32_t* fieldCount,
                         const unsigned char** line) {
  const unsigned char* const start = file->buffer + file->bufferPosition;
  const int32_t available = file->bufferLength - file->bufferPosition;
  // Every byte, CR LF included, within the record-length limit. The byte
  // after a marked one is looked at even when it lies beyond: it is in the
  // buffer (or its slack), and no record is taken unless its CR LF lies
  // within the limit.
  const int32_t end = available < kMaxRecordLength ? available : kMaxRecordLength;
  int32_t fields = 0;
  offsets[fields++] = 0;
  bool quoted = false;
  uint32_t taken = 0;  // marks of the next block already dealt with
  for (int32_t base = 0; base < end; base += 16) {
    const Marks block = MarkBytes(start + base, tabMode);
    uint32_t marks = block.all & ~taken;
    if (end - base < 16) marks &= (1u << (end - base)) - 1;
    taken = 0;
    while (marks != 0) {
      if (quoted) {
        // Within the quotes, to the closing quote; a doubled quote is data.
        const uint32_t quote = marks & block.quotes;
        if (quote == 0) break;
        const int bit = std::countr_zero(quote);
        marks &= ~1u << bit;
        const int32_t at = base + bit;
        if (start[at] == 0) return 0;
        const unsigned char following = start[at + 1];
        if (following == '"') {
          if (bit == 15) taken = 1;
          marks &= ~(2u << bit);
          continue;
        }
        // The closing quote: a separator or the CR LF must follow.
        if (following != ',' && following != '\r') return 0;
        quoted = false;
        continue;
      }
      // The separators up to the first other marked byte each begin a field.
      const uint32_t others = marks & ~block.separators;
      const uint32_t before = others != 0 ? (others & (0u - others)) - 1 : ~0u;
      for (uint32_t separators = marks & before; separators != 0; separators &= separators - 1) {
        if (fields == kMaxFields) return 0;
        offsets[fields++] = base + std::countr_zero(separators) + 1;
      }
      if (others == 0) break;
      const int bit = std::countr_zero(others);
      marks &= ~before & ~(1u << bit);
      const int32_t at = base + bit;
      const unsigned char byte = start[at];
      // A quote opens a quoted field only as the field's first byte.
      if (byte == '"' && at == offsets[fields - 1]) {
        quoted = true;
        continue;
      }
      // The record ends at CR LF; any other marked byte is out of place.
      if (byte != '\r' || at + 1 >= end || start[at + 1] != '\n') return 0;
      file->bufferPosition += at + 2;
      recordLength = at + 2;
      *fieldCount = fields;
      *line = start;
      return static_cast<uint32_t>(at + 1);
    }
  }
  return 0;
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

void SetWholeRecordScan(bool enabled) { wholeRecordScan = enabled; }

void ReadRecord(CsvFile* file, const CsvSortOption& options) {
  recordLength = 0;
  textLength = 0;
  int32_t starts[kMaxFields];
  int32_t fieldCount = 0;

  const unsigned char* line = nullptr;
  if (const uint32_t length =
          wholeRecordScan ? ScanWholeRecord(file, options.tabSeparated, starts, &fieldCount, &line) : 0) {
    ++file->lineCount;
    file->record = MakeRecordFromLine(file, reinterpret_cast<const char*>(line), length, starts, fieldCount);
    return;
  }
  int current = NextByte(file);
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
  file->record = MakeRecordOf(file, recordText, static_cast<uint32_t>(textLength), starts, fieldCount);
}
