#include "driver/run.h"

#include <cstdio>
#include <cstdlib>

#include "cmdline/switches.h"
#include "driver/exit_codes.h"
#include "driver/log.h"
#include "driver/log_encoding.h"
#include "driver/messages.h"
#include "driver/options.h"
#include "platform/files.h"
#include "platform/signals.h"
#include "platform/version.h"
#include "sort/chunk_sort.h"
#include "sort/compare.h"
#include "sort/merge.h"

void PrintBanner() {
  const char* internalName = nullptr;
  const char* fileVersion = nullptr;
  const char* companyName = nullptr;
  if (!GetVersionStrings(&internalName, &fileVersion, &companyName)) return;
  // A value the version information lacks prints as "(null)".
  LogMessage(msg::kBanner, internalName ? internalName : "(null)", fileVersion ? fileVersion : "(null)",
             companyName ? companyName : "(null)");
}

void PrintVersion() {
  const char* internalName = nullptr;
  const char* fileVersion = nullptr;
  const char* companyName = nullptr;
  // Without version information both stay null and print as "(null)".
  static_cast<void>(GetVersionStrings(&internalName, &fileVersion, &companyName));
  std::printf("%s %s\n", internalName ? internalName : "(null)", fileVersion ? fileVersion : "(null)");
  std::fflush(stdout);
}

int RunTarnsek(int argc, char** argv) {
  // Before anything is opened: a file must never take the place of a
  // standard stream the process was started without, or the log would be
  // written into it. Without even the null device nothing can be told.
  if (!AttachStandardStreams()) return exit_code::kOpen;
  PreparePlatform();
  // A merge holds the output and up to 19 inputs open, beside the three
  // standard streams: a descriptor limit below that would end a whole sort
  // at its merge.
  AllowOpenFiles(3 + 1 + kMaxMergeFiles);
  if (AsksForVersion(argc, argv)) {
    PrintVersion();
    return exit_code::kNormal;
  }
  // The names of the locale alone choose the log's encoding: the process
  // itself stays in the C locale, so numbers and letter case never depend on
  // the environment.
  if (LogFollowsLocale()) {
    SetLogEncoding(LogEncodingOfLocale(std::getenv("LC_ALL"), std::getenv("LC_CTYPE"), std::getenv("LANG")));
  }
  WatchInterrupts();
  PrintBanner();
  CsvSortOption* options = ParseCommandLine(argc, argv);
  if (options->inputPath) {
    SortCsvFile(*options);
  } else {
    MergeCsvFiles(*options);
  }
  // The output is complete; a record that lacked a key field still fails the run.
  if (MissingKeyWarning()) FatalError(msg::kMissingKeyField);
  return exit_code::kNormal;
}
