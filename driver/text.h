// Small text operations shared by every part of the tool. Texts are byte
// strings in code page 932 ended by a zero byte; bytes 0x80 and above are data.
#pragma once

#include <cstddef>

// A heap copy of the text (never null). Ends the run with 1001 when no memory.
[[nodiscard]] char* DuplicateString(const char* text);

// Removes blanks (bytes 0x01 to 0x20) at both ends of the text, in place.
void TrimBlanks(char* text);

// The next item of a text cut at separator, or null when none is left. Runs of
// separators and separators at either end give no empty item (as strtok_s
// cuts). cursor starts at the text and moves past each item, whose end is
// overwritten with a zero byte.
[[nodiscard]] char* NextItem(char*& cursor, char separator);
// The same, where a byte for which isLeadByte is true begins a double-byte
// character and the byte after it is never a separator.
[[nodiscard]] char* NextItem(char*& cursor, char separator, bool (*isLeadByte)(unsigned char));

// ASCII-only case-insensitive comparison as _stricmp does in the C locale: the
// difference of the first differing folded bytes, or 0.
[[nodiscard]] int CompareIgnoringCase(const char* a, const char* b);
