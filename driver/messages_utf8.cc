// The message table compiled a second time, with UTF-8 as the execution
// character set (this file alone is built with -fexec-charset=UTF-8), into its
// own namespace: the UTF-8 form of every text comes from the same source as
// the code page 932 one.
#define TARNSEK_MESSAGES_NAMESPACE msg_utf8
#include <iterator>

#include "driver/log_encoding.h"
#include "driver/messages.h"

const char* Utf8Message(size_t index) { return msg_utf8::kMessages[index]->text; }

const char* Utf8UsageLine(size_t index) { return msg_utf8::kUsage[index].text; }

const char* Utf8KeyTypeWords(size_t index) { return msg_utf8::kKeyTypeNames[index].words; }

size_t Utf8MessageCount() { return std::size(msg_utf8::kMessages); }

size_t Utf8UsageLineCount() { return std::size(msg_utf8::kUsage); }
