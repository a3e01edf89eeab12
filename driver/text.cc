#include "driver/text.h"

#include <cstdlib>
#include <cstring>

#include "driver/log.h"
#include "driver/messages.h"

char* DuplicateString(const char* text) {
  size_t length = std::strlen(text);
  char* copy = static_cast<char*>(std::malloc(length + 1));
  if (!copy) FatalError(msg::kStringBufferAlloc);
  std::memcpy(copy, text, length + 1);
  return copy;
}

void TrimBlanks(char* text) {
  auto isBlank = [](char c) {
    unsigned char byte = static_cast<unsigned char>(c);
    return byte >= 0x01 && byte <= 0x20;
  };
  char* begin = text;
  while (isBlank(*begin)) ++begin;
  char* end = begin + std::strlen(begin);
  while (end > begin && isBlank(end[-1])) --end;
  size_t length = static_cast<size_t>(end - begin);
  std::memmove(text, begin, length);
  text[length] = '\0';
}

char* NextItem(char*& cursor, char separator, bool (*isLeadByte)(unsigned char)) {
  while (*cursor == separator) ++cursor;
  if (!*cursor) return nullptr;
  char* item = cursor;
  while (*cursor && *cursor != separator) {
    // A lead byte takes the byte after it along, unless the text ends there.
    if (isLeadByte(static_cast<unsigned char>(*cursor)) && cursor[1] != '\0') ++cursor;
    ++cursor;
  }
  if (*cursor) *cursor++ = '\0';
  return item;
}

char* NextItem(char*& cursor, char separator) {
  return NextItem(cursor, separator, [](unsigned char) { return false; });
}

int CompareIgnoringCase(const char* a, const char* b) {
  const unsigned char* p = reinterpret_cast<const unsigned char*>(a);
  const unsigned char* q = reinterpret_cast<const unsigned char*>(b);
  for (;; ++p, ++q) {
    int x = (*p >= 'A' && *p <= 'Z') ? *p + 0x20 : *p;
    int y = (*q >= 'A' && *q <= 'Z') ? *q + 0x20 : *q;
    if (x != y || x == 0) return x - y;
  }
}
