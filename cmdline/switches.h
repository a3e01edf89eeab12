// The command line: every argument is classified and recorded, the counts of
// the switch kinds are checked, then each recorded switch is handed to its
// handler in command-line order.
#pragma once

#include <cstdint>

#include "driver/options.h"

enum SwitchType : uint32_t {
  kPlainWord = 0,
  kSwitchInput = 1,    // /I
  kSwitchOutput = 2,   // /O
  kSwitchWork = 3,     // /W
  kSwitchKeys = 4,     // /K
  kSwitchCaption = 5,  // /C
  kSwitchMerge = 6,    // /M
  kSwitchHelp = 7,     // /H, /? or --help
  kSwitchTab = 8,      // /T
  kUnknownSwitch = 9,
};
inline constexpr int kSwitchTypeCount = 10;

// Arguments beyond this many recorded switches are not looked at.
inline constexpr int kMaxCommandSwitches = 36;

struct CommandSwitch {
  uint32_t switchType;  // a SwitchType
  const char* value;    // the argument taken as the value (not a copy), or null
};

// Returns the checked options of the run, or ends the process (0 after the
// usage text, 3001 on a wrong command line).
[[nodiscard]] CsvSortOption* ParseCommandLine(int argc, char** argv);

// Records the argument at *index, taking the next argument as its value when
// the switch wants one and the next is not a switch.
[[nodiscard]] CommandSwitch* TakeSwitch(int* index, int argc, char** argv);
[[nodiscard]] SwitchType ClassifyArgument(const char* text);
[[nodiscard]] CommandSwitch* CreateCommandSwitch(uint32_t switchType, const char* value);
[[noreturn]] void PrintUsage();

// True when an argument after the program's name is exactly --version (it can
// never be a switch's value, as it begins with "-"): the run prints the version
// line alone, before anything else is looked at.
[[nodiscard]] bool AsksForVersion(int argc, char** argv);
