// The encoding the log is written in. The Windows console shows code page 932;
// a Linux terminal shows what the locale names, and there a log in UTF-8 is
// chosen when the locale's codeset is UTF-8. Only the tool's own texts (the
// messages and the usage text) change with it: values put into messages are
// written as the bytes they are in either encoding.
#pragma once

#include <cstddef>

// True for a code page 932 lead byte: the first byte of a double-byte character.
[[nodiscard]] constexpr bool IsLeadByte(unsigned char byte) {
  return (byte >= 0x81 && byte <= 0x9F) || (byte >= 0xE0 && byte <= 0xFC);
}

enum class LogEncoding {
  kCp932,  // the default, and always on Windows
  kUtf8,
};

// The encoding of every later message and usage line; code page 932 until set.
void SetLogEncoding(LogEncoding encoding);
[[nodiscard]] LogEncoding CurrentLogEncoding();

// The encoding that the locale names of the environment ask for, each null when
// unset: the first of LC_ALL, LC_CTYPE and LANG that is set and not empty is
// the locale; UTF-8 when its codeset (after the ".", before any "@") is UTF-8
// or utf8 in any letter case, otherwise code page 932 (also with none set).
// Only the names are read: the locale need not be installed, and the process
// keeps the C locale.
[[nodiscard]] LogEncoding LogEncodingOfLocale(const char* lcAll, const char* lcCtype, const char* lang);

// A text of the message table (a message, a usage line or a key type's words,
// known by its bytes)
// in the current encoding; any other text as it is.
[[nodiscard]] const char* LogText(const char* text);

// The table in UTF-8 (driver/messages_utf8.cc): the message and the usage line
// at the same place as in msg::kMessages and msg::kUsage.
[[nodiscard]] const char* Utf8Message(size_t index);
[[nodiscard]] const char* Utf8UsageLine(size_t index);
[[nodiscard]] const char* Utf8KeyTypeWords(size_t index);  // of msg::kKeyTypeNames
[[nodiscard]] size_t Utf8MessageCount();
[[nodiscard]] size_t Utf8UsageLineCount();
