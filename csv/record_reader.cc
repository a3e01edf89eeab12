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
#include "csv/record_reader.h"

#include <array>
#include <bit>

// TARNSEK_SCALAR (the debug build) takes the scalar loops that a processor
// without SSE2 would run, so that they are tested too.
#if defined(__SSE2__) && !defined(TARNSEK_SCALAR)
#include <emmintrin.h>
#endif

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
char recordText[kRecordTextSize];

[[noreturn]] void FailRecordTooLong(const CsvFile* file) {
  FatalError(msg::kRecordTooLong, file->lineCount + 1);
}

[[noreturn]] void FailInvalidSequence(const CsvFile* file) {
  // Bytes beyond the limit are let through only as a run file's closing CR LF:
  // when they turn out to be anything else, the record is too long.
  if (recordLength > kMaxRecordLength) FailRecordTooLong(file);
  FatalError(msg::kInvalidSequence, file->lineCount + 1);
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

// The buffer is used up: refills it from the file; false at the end. The
// end, once met, stays: the indicator is set and nothing more is read.
bool Refill(CsvFile* file) {
  if (file->atEnd) return false;
  int error = 0;
  ptrdiff_t count = ReadPlatformFile(file->stream, file->buffer, kFileBufferSize, &error);
  if (count < 0) FatalError(msg::kReadFailed, file->path, error);
  file->bufferPosition = 0;
  file->bufferLength = static_cast<int32_t>(count);
  if (count == 0) file->atEnd = true;
  return count != 0;
}

// Refills the buffer and returns its first byte, or -1 at the end.
int RefillAndNextByte(CsvFile* file) { return Refill(file) ? NextByte(file) : -1; }

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
  FatalError(msg::kFieldBufferFull, file->lineCount + 1);
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

// The bytes among the 64 at `at` that the whole-record loop looks at, one bit
// each: separators (comma, or tab in tab mode), double quotes (comma mode
// only), CR, and the rare bytes that it leaves to the field scanners: zero
// bytes, and in comma mode LFs (in tab mode an LF is data; within quotes it is
// valid, but rare enough to be read byte by byte). One mask for both saved
// about 20 instructions a record read (callgrind over bench/run.py, row
// number). Reads 64 bytes whatever the record's length: a read buffer has
// that slack beyond what it holds.
struct Marks {
  uint64_t separators;
  uint64_t quotes;
  uint64_t carriageReturns;
  uint64_t rare;
};

inline Marks MarkBytes(const unsigned char* at, bool tabMode) {
#if defined(__SSE2__) && !defined(TARNSEK_SCALAR)
  __m128i bytes[4];
  for (int i = 0; i < 4; ++i) bytes[i] = _mm_loadu_si128(reinterpret_cast<const __m128i*>(at + 16 * i));
  // The bytes equal to `byte`, or to `other` too when it is not zero.
  const auto bitsOf = [&bytes](char byte, char other) {
    const __m128i wanted = _mm_set1_epi8(byte);
    const __m128i alsoWanted = _mm_set1_epi8(other);
    uint64_t bits = 0;
    for (int i = 0; i < 4; ++i) {
      __m128i found = _mm_cmpeq_epi8(bytes[i], wanted);
      if (other != 0) found = _mm_or_si128(found, _mm_cmpeq_epi8(bytes[i], alsoWanted));
      bits |= static_cast<uint64_t>(static_cast<uint32_t>(_mm_movemask_epi8(found))) << (16 * i);
    }
    return bits;
  };
  if (tabMode) return {bitsOf('\t', 0), 0, bitsOf('\r', 0), bitsOf('\0', 0)};
  return {bitsOf(',', 0), bitsOf('"', 0), bitsOf('\r', 0), bitsOf('\0', '\n')};
#else
  Marks marks{0, 0, 0, 0};
  for (int i = 0; i < 64; ++i) {
    const unsigned char byte = at[i];
    marks.separators |= static_cast<uint64_t>(byte == (tabMode ? '\t' : ',')) << i;
    marks.quotes |= static_cast<uint64_t>(!tabMode && byte == '"') << i;
    marks.carriageReturns |= static_cast<uint64_t>(byte == '\r') << i;
    marks.rare |= static_cast<uint64_t>(byte == 0 || (!tabMode && byte == '\n')) << i;
  }
  return marks;
#endif
}

// The bits at and after each set bit of `quotes` up to the next, alternately
// set and clear: 1 within quotes (an opening quote included), 0 outside (a
// closing quote included), for a block that begins outside quotes.
inline uint64_t WithinQuotes(uint64_t quotes) {
  uint64_t within = quotes;
  for (int shift = 1; shift < 64; shift *= 2) within ^= within << shift;
  return within;
}

// The common case of a whole record, found in one pass over the read buffer:
// a record that lies whole in it, ends with CR LF, keeps within the limits
// and holds nothing invalid. Returns the length of its texts (its bytes up to
// the CR, plus one: the record's texts are its bytes with each separator and
// the CR made a zero byte), *line where its bytes begin, and in offsets[]
// where each field begins; the record is consumed. Returns 0, having changed
// nothing, for any other record, which the field scanners then read byte by
// byte.
//
// The bytes are looked at 64 at a time as bit masks. Which bytes lie within
// quotes is the running parity of the quotes before them (a doubled quote
// leaves and enters again at once), so the separators and the CR that count
// are those outside quotes, and the record is taken when no rare byte (a
// zero byte, an LF), no quote that opens other than at a field's start or
// right after a quote, and no closing quote followed by anything but a quote,
// a separator or the CR comes before its CR LF: a record that the scanners
// accept as well.
// Reading a record of 9 fields (a quoted price among them) took 832
// instructions, making the record included, field by field and through a
// second copy, then 716 visiting each marked byte, and takes 645 this way
// (callgrind over bench/run.py, row number; tarnsek_micro
// BM_ReadRecordComma). The record_reader fuzz target holds this against the
// scanners.
uint32_t ScanWholeRecord(CsvFile* file, bool tabMode, int32_t* offsets, int32_t* fieldCount,
                         unsigned char** line) {
  unsigned char* const start = file->buffer + file->bufferPosition;
  const int32_t available = file->bufferLength - file->bufferPosition;
  // Every byte, CR LF included, within the record-length limit.
  const int32_t end = available < kMaxRecordLength ? available : kMaxRecordLength;
  int32_t fields = 0;
  offsets[fields++] = 0;
  // What the block before leaves to the next one, as bit 0 of the next.
  uint64_t within = 0;        // all ones: the block begins within quotes
  uint64_t fieldStart = 1;    // its first byte begins a field
  uint64_t afterQuote = 0;    // the byte before it is a quote
  uint64_t afterClosing = 0;  // the byte before it is a closing quote
  for (int32_t base = 0; base < end; base += 64) {
    const Marks marks = MarkBytes(start + base, tabMode);
    const uint64_t valid = end - base < 64 ? (uint64_t{1} << (end - base)) - 1 : ~uint64_t{0};
    const uint64_t quotes = marks.quotes & valid;
    const uint64_t inside = quotes != 0 ? WithinQuotes(quotes) ^ within : within;
    const uint64_t separators = marks.separators & ~inside & valid;
    const uint64_t carriageReturns = marks.carriageReturns & ~inside & valid;
    // The bytes up to the record's CR, when it is in this block.
    const uint64_t upTo = carriageReturns != 0 ? (carriageReturns ^ (carriageReturns - 1)) : valid;
    const uint64_t opening = quotes & inside;
    const uint64_t closing = quotes & ~inside;
    uint64_t wrong = marks.rare;
    wrong |= opening & ~((separators << 1) | fieldStart | (quotes << 1) | afterQuote);
    wrong |= ((closing << 1) | afterClosing) & ~(marks.quotes | marks.separators | marks.carriageReturns);
    if ((wrong & upTo) != 0) return 0;
    // offsets[] has room for a block's separators beyond the field limit.
    for (uint64_t bits = separators & upTo; bits != 0; bits &= bits - 1) {
      offsets[fields++] = base + std::countr_zero(bits) + 1;
    }
    if (fields > kMaxFields) return 0;
    if (carriageReturns != 0) {
      // The record ends at CR LF.
      const int32_t at = base + std::countr_zero(carriageReturns);
      if (at + 1 >= end || start[at + 1] != '\n') return 0;
      file->bufferPosition += at + 2;
      recordLength = at + 2;
      *fieldCount = fields;
      *line = start;
      return static_cast<uint32_t>(at + 1);
    }
    within = (inside >> 63) != 0 ? ~uint64_t{0} : 0;
    fieldStart = separators >> 63;
    afterQuote = quotes >> 63;
    afterClosing = closing >> 63;
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
  // Room for the field limit and one block of the whole-record loop more.
  int32_t starts[kMaxFields + 64];
  int32_t fieldCount = 0;

  // A record begins where the buffer ends at every refill (the first record
  // of a file too): the buffer is refilled first, so that the whole-record
  // loop sees it.
  if (file->bufferPosition == file->bufferLength) (void)Refill(file);
  unsigned char* line = nullptr;
  if (const uint32_t length =
          wholeRecordScan ? ScanWholeRecord(file, options.tabSeparated, starts, &fieldCount, &line) : 0) {
    ++file->lineCount;
    file->record = MakeRecordFromLine(file, reinterpret_cast<char*>(line), length, starts, fieldCount);
    return;
  }
  int current = NextByte(file);
  while (current != -1) {
    if (fieldCount == kMaxFields) FatalError(msg::kTooManyFields, file->lineCount + 1);
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
