// The console log: one timestamped line per call on standard output, and the
// one failure path of the tool.
#pragma once

#include <cstdarg>

#include "driver/log_encoding.h"
#include "driver/messages.h"

// Writes "YYYY/MM/DD hh:mm:ss <message>\n" in local time: exactly one line per
// call. A format from the message table is written in the log's encoding
// (driver/log_encoding.h). The message is formatted into 512 bytes; a longer
// one is cut at 511 bytes, never inside a character of that encoding or an
// escaped control byte.
// In the values of %s and %c each control byte (0x00 to 0x1F but the tab,
// and 0x7F) is
// written as "\x" and two upper-case hex digits, so a path or a field text
// holding CR, LF or ESC can neither end the line, forge another, nor reach the
// terminal as a control; every other byte, and so every double-byte character
// and every backslash, is written as it is. The format's own text is never
// changed.
void LogMessage(MessageEntry message, ...);

// Logs the message, flushes and closes every file the tool has open, and ends
// the process with the message's exit code. Never returns.
[[noreturn]] void FatalError(MessageEntry message, ...);

// Formats into a 512-byte message buffer with the escapes and the cut
// described above, the cut at the characters of the encoding; the result is
// what LogMessage prints of that format. Exposed for tests.
void FormatMessage(char (&buffer)[512], const char* format, va_list args,
                   LogEncoding encoding = LogEncoding::kCp932);

// The csv layer registers the function that flushes and closes its open files,
// so that FatalError can run it without knowing about files.
void SetCloseAllFilesHandler(void (*handler)());

// A fuzzing or test build may replace the process exit: the hook receives the
// exit code and must not return (it throws or jumps). Null restores exit().
void SetFatalExitHook(void (*hook)(int exitCode));
