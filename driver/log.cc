#include "driver/log.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "driver/text.h"

namespace {

void (*g_closeAllFiles)() = nullptr;
void (*g_fatalExitHook)(int) = nullptr;

void WriteLogLine(const char* message) {
  std::time_t now = std::time(nullptr);
  // One thread: the shared result of localtime is safe here.
  const std::tm& local = *std::localtime(&now);
  std::printf("%d/%02d/%02d %02d:%02d:%02d %s\n", local.tm_year + 1900, local.tm_mon + 1,
              local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec, message);
  // Progress lines are meant to be seen as they happen, also through a pipe.
  std::fflush(stdout);
}

}  // namespace

void FormatMessage(char (&buffer)[512], const char* format, va_list args) {
  std::memset(buffer, 0, sizeof buffer);
  int length = std::vsnprintf(buffer, sizeof buffer, format, args);
  if (length < static_cast<int>(sizeof buffer)) return;
  // Cut at the last character boundary within 511 bytes.
  size_t cut = CharacterBoundaryAtMost(buffer, sizeof buffer - 1);
  std::memset(buffer + cut, 0, sizeof buffer - cut);
}

void LogMessage(const char* format, ...) {
  char buffer[512];
  va_list args;
  va_start(args, format);
  FormatMessage(buffer, format, args);
  va_end(args);
  WriteLogLine(buffer);
}

void FatalError(int exitCode, const char* format, ...) {
  char buffer[512];
  va_list args;
  va_start(args, format);
  FormatMessage(buffer, format, args);
  va_end(args);
  WriteLogLine(buffer);
  if (g_closeAllFiles) g_closeAllFiles();
  if (g_fatalExitHook) g_fatalExitHook(exitCode);
  std::exit(exitCode);
}

void SetCloseAllFilesHandler(void (*handler)()) { g_closeAllFiles = handler; }

void SetFatalExitHook(void (*hook)(int)) { g_fatalExitHook = hook; }
