#include "driver/log_encoding.h"

#include <cstring>
#include <iterator>

#include "driver/messages.h"

namespace {

LogEncoding encoding = LogEncoding::kCp932;

bool IsUtf8Codeset(const char* codeset, size_t length) {
  auto equalsIgnoringCase = [&](const char* name) {
    if (std::strlen(name) != length) return false;
    for (size_t i = 0; i < length; ++i) {
      char c = codeset[i];
      if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
      if (c != name[i]) return false;
    }
    return true;
  };
  return equalsIgnoringCase("utf-8") || equalsIgnoringCase("utf8");
}

}  // namespace

void SetLogEncoding(LogEncoding chosen) { encoding = chosen; }

LogEncoding CurrentLogEncoding() { return encoding; }

LogEncoding LogEncodingOfLocale(const char* lcAll, const char* lcCtype, const char* lang) {
  const char* locale = nullptr;
  for (const char* name : {lcAll, lcCtype, lang}) {
    if (name && *name) {
      locale = name;
      break;
    }
  }
  if (!locale) return LogEncoding::kCp932;
  // language[_territory][.codeset][@modifier]
  const char* dot = std::strchr(locale, '.');
  if (!dot) return LogEncoding::kCp932;
  const char* codeset = dot + 1;
  const size_t length = std::strcspn(codeset, "@");
  return IsUtf8Codeset(codeset, length) ? LogEncoding::kUtf8 : LogEncoding::kCp932;
}

const char* LogText(const char* text) {
  if (encoding == LogEncoding::kCp932 || !text) return text;
  // A few dozen comparisons per log line, which are few per run.
  for (size_t i = 0; i < std::size(msg::kMessages); ++i) {
    if (std::strcmp(text, msg::kMessages[i]->text) == 0) return Utf8Message(i);
  }
  for (size_t i = 0; i < std::size(msg::kUsage); ++i) {
    if (std::strcmp(text, msg::kUsage[i].text) == 0) return Utf8UsageLine(i);
  }
  for (size_t i = 0; i < std::size(msg::kKeyTypeNames); ++i) {
    if (std::strcmp(text, msg::kKeyTypeNames[i].words) == 0) return Utf8KeyTypeWords(i);
  }
  return text;
}
