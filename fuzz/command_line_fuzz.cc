// The command line over arbitrary argument vectors: the input cut at zero
// bytes gives the arguments after the program name. The run sits in an empty
// scratch directory, so relative names find nothing; the path switches only
// look at the file system, they never change it. Vectors that would print the
// usage text (which ends the process) are left out, as found by the same first
// pass over the arguments.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "cmdline/switches.h"
#include "driver/exit_codes.h"
#include "driver/options.h"
#include "fuzz_support.h"

namespace {

bool WouldPrintUsage(int argc, char** argv) {
  if (argc == 1) return true;
  bool help = false;
  int switchCount = 0;
  for (int index = 1; index < argc; ++index) {
    if (switchCount >= kMaxCommandSwitches) continue;
    CommandSwitch* record = TakeSwitch(&index, argc, argv);
    FUZZ_CHECK(record && record->switchType < static_cast<uint32_t>(kSwitchTypeCount));
    if (record->switchType == kSwitchHelp) help = true;
    ++switchCount;
    std::free(record);
  }
  return help;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  PrepareFuzzTarget();
  InstallArenaHooks();
  const char* base = std::getenv("TMPDIR");
  std::string pattern = std::string(base && *base ? base : "/tmp") + "/tarnsek-fuzz-XXXXXX";
  char* directory = mkdtemp(pattern.data());
  if (!directory || chdir(directory) != 0) std::abort();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::vector<std::string> arguments{"tarnsek"};
  std::string current;
  for (size_t i = 0; i < size; ++i) {
    if (data[i] == 0) {
      arguments.push_back(current);
      current.clear();
    } else {
      current.push_back(static_cast<char>(data[i]));
    }
  }
  if (size > 0) arguments.push_back(current);
  std::vector<char*> argv;
  for (std::string& argument : arguments) argv.push_back(argument.data());
  argv.push_back(nullptr);
  const int argc = static_cast<int>(arguments.size());
  if (WouldPrintUsage(argc, argv.data())) return 0;

  // The options record, its texts and the switch records live as long as
  // the process: the arena frees them.
  BeginArena();
  try {
    CsvSortOption* options = ParseCommandLine(argc, argv.data());
    // A run that goes on: a sort or a merge, an output and at least one key.
    FUZZ_CHECK(options != nullptr);
    FUZZ_CHECK((options->inputPath != nullptr) != (options->fileCount > 0));
    FUZZ_CHECK(options->fileCount >= 0 && options->fileCount <= kMaxMergeFiles);
    FUZZ_CHECK(options->outputPath != nullptr);
    FUZZ_CHECK(CountSortKeys(*options) >= 1);
  } catch (const FatalEnd& end) {
    // 1002: an output name without a canonical form (too long) ends the run
    // as its open would.
    if (end.exitCode != exit_code::kCommandLine && end.exitCode != exit_code::kOpen) {
      std::fprintf(stderr, "exit code %d\n", end.exitCode);
      std::abort();
    }
  }
  FreeArena();
  return 0;
}
