#include "driver/log.h"

#include <algorithm>
#include <cstdarg>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <type_traits>

#include "driver/log_encoding.h"

namespace {

void (*closeAllFiles)() = nullptr;
void (*fatalExitHook)(int) = nullptr;

void WriteLogLine(const char* message) {
  std::time_t now = std::time(nullptr);
  // One thread: the shared result of localtime is safe here.
  const std::tm& local = *std::localtime(&now);
  std::printf("%d/%02d/%02d %02d:%02d:%02d %s\n", local.tm_year + 1900, local.tm_mon + 1, local.tm_mday,
              local.tm_hour, local.tm_min, local.tm_sec, message);
  // Progress lines are meant to be seen as they happen, also through a pipe.
  // The log has no failure path: a line that cannot be written (the reader
  // of the pipe went away, the disk is full) is dropped, and the run goes on
  // and ends with its own exit code. The error indicator is cleared so that
  // a later line is tried again.
  if (std::fflush(stdout) != 0 || std::ferror(stdout)) std::clearerr(stdout);
}

// A control byte: 0x00 to 0x1F and 0x7F, the tab excepted. In a value it
// would end the log line early (CR, LF), forge one, or drive the terminal
// (ESC); a tab does none of that and is kept as it is.
constexpr bool IsControlByte(unsigned char byte) { return (byte < 0x20 && byte != '\t') || byte == 0x7F; }

// Builds the message of at most 511 bytes unit by unit: a single byte, a
// character of the encoding written, or the escaped form of a control byte
// goes in whole or not at all, and once a unit does not fit nothing more is
// added. In code page 932 bytes are paired as the plain cut pairs them (a lead
// byte takes the next plain byte along), so a message without control bytes in
// its values comes out exactly as vsnprintf would write it, cut at the same
// place. In UTF-8 a lead byte takes along the continuation bytes (0x80 to
// 0xBF) it announces, up to four bytes in all; any other byte ends the
// character early, and what it has goes as one unit.
class MessageBuilder {
 public:
  MessageBuilder(char (&buffer)[512], LogEncoding encoding) : buffer_(buffer), encoding_(encoding) {}

  void AddText(const char* text, size_t size) {
    for (size_t i = 0; i < size; ++i) AddPlain(text[i]);
  }

  // A value for %s or %c: each control byte becomes the four bytes "\x" and
  // two upper-case hex digits ("\x0A" for LF); every other byte, 0x80 to 0xFF
  // and the backslash (the yen sign, and a trail byte) included, is kept.
  void AddValue(const char* text, size_t size) {
    for (size_t i = 0; i < size; ++i) {
      unsigned char byte = static_cast<unsigned char>(text[i]);
      if (!IsControlByte(byte)) {
        AddPlain(text[i]);
        continue;
      }
      static constexpr char kHex[] = "0123456789ABCDEF";
      const char form[4] = {'\\', 'x', kHex[byte >> 4], kHex[byte & 0x0F]};
      AddPendingCharacter();
      AddUnit(form, sizeof form);
    }
  }

  void Finish() { AddPendingCharacter(); }

 private:
  static constexpr size_t kLimit = 511;

  void AddPlain(char byte) {
    const auto value = static_cast<unsigned char>(byte);
    if (pendingLength_ > 0 && !Continues(value)) AddPendingCharacter();
    if (pendingLength_ == 0) pendingWidth_ = CharacterWidth(value);
    pending_[pendingLength_++] = byte;
    if (pendingLength_ == pendingWidth_) AddPendingCharacter();
  }

  // The bytes a character takes, from its first byte.
  size_t CharacterWidth(unsigned char first) const {
    if (encoding_ == LogEncoding::kCp932) return IsLeadByte(first) ? 2 : 1;
    if (first >= 0xC2 && first <= 0xDF) return 2;
    if (first >= 0xE0 && first <= 0xEF) return 3;
    if (first >= 0xF0 && first <= 0xF4) return 4;
    return 1;
  }

  // Whether a plain byte belongs to the character begun before it: after a
  // code page 932 lead byte any plain byte does; in UTF-8 a continuation byte.
  bool Continues(unsigned char byte) const {
    return encoding_ == LogEncoding::kCp932 || (byte >= 0x80 && byte <= 0xBF);
  }

  // A character cut short (a lead byte at the end of the text, or before an
  // escaped control byte) stands as what it has.
  void AddPendingCharacter() {
    if (pendingLength_ == 0) return;
    AddUnit(pending_, pendingLength_);
    pendingLength_ = 0;
  }

  void AddUnit(const char* bytes, size_t width) {
    if (full_ || length_ + width > kLimit) {
      full_ = true;
      return;
    }
    std::memcpy(buffer_ + length_, bytes, width);
    length_ += width;
  }

  char* buffer_;
  const LogEncoding encoding_;
  size_t length_ = 0;
  bool full_ = false;
  char pending_[4] = {};
  size_t pendingLength_ = 0;
  size_t pendingWidth_ = 0;
};

// Formats one conversion other than %s, %c and %% (a number, in practice)
// with the C library, from its directive "%...x" with every "*" already replaced.
template <typename T>
void AddFormatted(MessageBuilder& message, const char* directive, T value) {
  char text[512];
  int length = std::snprintf(text, sizeof text, directive, value);
  if (length < 0) return;
  message.AddText(text, std::min(static_cast<size_t>(length), sizeof text - 1));
}

}  // namespace

void FormatMessage(char (&buffer)[512], const char* format, va_list args, LogEncoding encoding) {
  std::memset(buffer, 0, sizeof buffer);
  MessageBuilder message(buffer, encoding);
  const char* p = format;
  while (*p) {
    if (*p != '%') {
      const char* start = p;
      while (*p && *p != '%') ++p;
      message.AddText(start, static_cast<size_t>(p - start));
      continue;
    }
    // %[flags][width][.precision][length]conversion, rebuilt in directive with
    // the values of any "*".
    char directive[64] = "%";
    size_t specLength = 1;
    auto keep = [&](const char* text, size_t size) {
      size = std::min(size, sizeof directive - 1 - specLength);
      std::memcpy(directive + specLength, text, size);
      specLength += size;
      directive[specLength] = '\0';
    };
    ++p;
    bool leftAlign = false;
    while (*p && std::strchr("-+ #0", *p)) {
      if (*p == '-') leftAlign = true;
      keep(p++, 1);
    }
    int width = 0;
    if (*p == '*') {
      width = va_arg(args, int);
      if (width < 0) {
        leftAlign = true;
        width = -width;
        keep("-", 1);
      }
      ++p;
    } else {
      while (*p >= '0' && *p <= '9') width = width * 10 + (*p++ - '0');
    }
    if (width > 0) {
      char digits[16];
      keep(digits, static_cast<size_t>(std::snprintf(digits, sizeof digits, "%d", width)));
    }
    int precision = -1;
    if (*p == '.') {
      ++p;
      precision = 0;
      if (*p == '*') {
        precision = va_arg(args, int);
        ++p;
      } else {
        while (*p >= '0' && *p <= '9') precision = precision * 10 + (*p++ - '0');
      }
      if (precision >= 0) {
        char digits[16];
        keep(digits, static_cast<size_t>(std::snprintf(digits, sizeof digits, ".%d", precision)));
      }
    }
    const char* lengthStart = p;
    while (*p && std::strchr("hljztL", *p)) ++p;
    keep(lengthStart, static_cast<size_t>(p - lengthStart));
    const char conversion = *p;
    if (!conversion) break;
    ++p;
    keep(&conversion, 1);
    const char lengthModifier = lengthStart < p - 1 ? p[-2] : '\0';
    const bool twoLengthLetters = p - 1 - lengthStart == 2;

    if (conversion == '%') {
      message.AddText("%", 1);
    } else if (conversion == 's' || conversion == 'c') {
      char single = 0;
      const char* value = &single;
      size_t size = 1;
      if (conversion == 's') {
        value = va_arg(args, const char*);
        if (!value) value = "(null)";
        size = std::strlen(value);
        if (precision >= 0) size = std::min(size, static_cast<size_t>(precision));
      } else {
        single = static_cast<char>(va_arg(args, int));
      }
      size_t pad = static_cast<size_t>(width) > size ? static_cast<size_t>(width) - size : 0;
      for (size_t i = 0; !leftAlign && i < pad; ++i) message.AddText(" ", 1);
      message.AddValue(value, size);
      for (size_t i = 0; leftAlign && i < pad; ++i) message.AddText(" ", 1);
    } else if (std::strchr("diouxX", conversion)) {
      const bool isSigned = conversion == 'd' || conversion == 'i';
      if (lengthModifier == 'l' && twoLengthLetters) {
        if (isSigned)
          AddFormatted(message, directive, va_arg(args, long long));
        else
          AddFormatted(message, directive, va_arg(args, unsigned long long));
      } else if (lengthModifier == 'l') {  // NOLINT(bugprone-branch-clone): long is not size_t on Windows
        if (isSigned)
          AddFormatted(message, directive, va_arg(args, long));
        else
          AddFormatted(message, directive, va_arg(args, unsigned long));
      } else if (lengthModifier == 'z') {
        if (isSigned)
          AddFormatted(message, directive, va_arg(args, std::make_signed_t<size_t>));
        else
          AddFormatted(message, directive, va_arg(args, size_t));
      } else if (lengthModifier == 'j') {
        if (isSigned)
          AddFormatted(message, directive, va_arg(args, intmax_t));
        else
          AddFormatted(message, directive, va_arg(args, uintmax_t));
      } else if (lengthModifier == 't') {
        if (isSigned)
          AddFormatted(message, directive, va_arg(args, ptrdiff_t));
        else
          AddFormatted(message, directive, va_arg(args, std::make_unsigned_t<ptrdiff_t>));
      } else {
        if (isSigned)
          AddFormatted(message, directive, va_arg(args, int));
        else
          AddFormatted(message, directive, va_arg(args, unsigned));
      }
    } else if (std::strchr("fFeEgGaA", conversion)) {
      if (lengthModifier == 'L')
        AddFormatted(message, directive, va_arg(args, long double));
      else
        AddFormatted(message, directive, va_arg(args, double));
    } else if (conversion == 'p') {
      AddFormatted(message, directive, va_arg(args, void*));
    } else {
      // %n and anything unknown: nothing is written through a message.
      break;
    }
  }
  message.Finish();
}

namespace {

void WriteMessage(const char* format, va_list args) {
  char buffer[512];
  FormatMessage(buffer, LogText(format), args, CurrentLogEncoding());
  WriteLogLine(buffer);
}

}  // namespace

void LogMessage(MessageEntry message, ...) {
  va_list args;
  va_start(args, message);
  WriteMessage(message.text, args);
  va_end(args);
}

void FatalError(MessageEntry message, ...) {
  va_list args;
  va_start(args, message);
  WriteMessage(message.text, args);
  va_end(args);
  if (closeAllFiles) closeAllFiles();
  if (fatalExitHook) fatalExitHook(message.exitCode);
  std::exit(message.exitCode);
}

void SetCloseAllFilesHandler(void (*handler)()) { closeAllFiles = handler; }

void SetFatalExitHook(void (*hook)(int)) { fatalExitHook = hook; }
