#include "cmdline/switches.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>

#include "cmdline/path_switches.h"
#include "cmdline/sort_keys.h"
#include "driver/exit_codes.h"
#include "driver/log.h"
#include "driver/log_encoding.h"
#include "driver/messages.h"
#include "driver/text.h"
#include "platform/paths.h"

namespace {

bool TakesValue(SwitchType type) {
  return type == kSwitchInput || type == kSwitchOutput || type == kSwitchWork || type == kSwitchKeys ||
         type == kSwitchMerge;
}

// The second pass: the first condition that holds ends the run.
void CheckSwitchCounts(const int (&count)[kSwitchTypeCount]) {
  struct Check {
    bool failed;
    MessageEntry message;
  };
  const Check checks[] = {
      {count[kSwitchInput] == 0 && count[kSwitchMerge] == 0, msg::kNoInput},
      {count[kSwitchInput] > 1, msg::kDuplicateInput},
      {count[kSwitchOutput] == 0, msg::kNoOutput},
      {count[kSwitchOutput] > 1, msg::kDuplicateOutput},
      {count[kSwitchWork] > 1, msg::kDuplicateWork},
      {count[kSwitchKeys] == 0, msg::kNoKeys},
      {count[kSwitchKeys] > 1, msg::kDuplicateKeys},
      {count[kSwitchMerge] > 0 && count[kSwitchInput] > 0, msg::kInputAndMerge},
      {count[kSwitchMerge] > 0 && count[kSwitchCaption] > 0, msg::kMergeAndCaption},
      {count[kSwitchMerge] > 1, msg::kDuplicateMerge},
  };
  for (const Check& check : checks) {
    if (check.failed) FatalError(check.message);
  }
}

void CheckSameFiles(const CsvSortOption& options) {
  if (options.inputPath && options.outputPath && IsSameFile(options.inputPath, options.outputPath)) {
    FatalError(msg::kInputIsOutput);
  }
  for (int i = 0; i < options.fileCount; ++i) {
    if (options.fileNames[i] && options.outputPath && IsSameFile(options.fileNames[i], options.outputPath)) {
      FatalError(msg::kOutputIsMergeFile);
    }
  }
}

}  // namespace

SwitchType ClassifyArgument(const char* text) {
  if (text[0] != '/' && text[0] != '-') return kPlainWord;
  // The long form that programs of every system answer.
  if (std::strcmp(text, "--help") == 0) return kSwitchHelp;
  static constexpr struct {
    const char* rest;
    SwitchType type;
  } kSwitches[] = {
      {"i", kSwitchInput}, {"o", kSwitchOutput},  {"w", kSwitchWork},
      {"k", kSwitchKeys},  {"c", kSwitchCaption}, {"m", kSwitchMerge},
      {"h", kSwitchHelp},  {"?", kSwitchHelp},    {"t", kSwitchTab},
  };
  for (const auto& candidate : kSwitches) {
    if (CompareIgnoringCase(text + 1, candidate.rest) == 0) return candidate.type;
  }
  // Where absolute paths begin with "/", such an argument is a path, not an
  // unknown switch.
  if (text[0] == '/' && SlashMayStartPath()) return kPlainWord;
  return kUnknownSwitch;
}

CommandSwitch* CreateCommandSwitch(uint32_t switchType, const char* value) {
  auto* record = static_cast<CommandSwitch*>(std::malloc(sizeof(CommandSwitch)));
  if (!record) FatalError(msg::kCommandSwitchAlloc);
  *record = CommandSwitch{switchType, value};
  return record;
}

CommandSwitch* TakeSwitch(int* index, int argc, char** argv) {
  if (*index < 1 || *index >= argc) return nullptr;
  SwitchType type = ClassifyArgument(argv[*index]);
  const char* value = nullptr;
  if (TakesValue(type) && *index + 1 < argc && ClassifyArgument(argv[*index + 1]) == kPlainWord) {
    ++*index;
    value = argv[*index];
  }
  return CreateCommandSwitch(type, value);
}

void PrintUsage() {
  // The line of key types lists them from their table: "S 文字列, I ...".
  char keyTypes[256];
  int length = 0;
  for (const msg::KeyTypeName& name : msg::kKeyTypeNames) {
    length += std::snprintf(keyTypes + length, sizeof keyTypes - static_cast<size_t>(length), "%s%c %s",
                            length > 0 ? ", " : "", name.letter, LogText(name.words));
  }
  for (const msg::UsageLine& line : msg::kUsage) {
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
#pragma GCC diagnostic ignored "-Wformat-extra-args"
    if (line.keyTypes) {
      std::printf(LogText(line.text), keyTypes);
    } else {
      std::printf(LogText(line.text), line.limit);
    }
#pragma GCC diagnostic pop
  }
  std::fflush(stdout);
  std::exit(exit_code::kNormal);
}

bool AsksForVersion(int argc, char** argv) {
  for (int index = 1; index < argc; ++index) {
    if (std::strcmp(argv[index], "--version") == 0) return true;
  }
  return false;
}

CsvSortOption* ParseCommandLine(int argc, char** argv) {
  CommandSwitch* switches[kMaxCommandSwitches];
  int switchCount = 0;
  int count[kSwitchTypeCount] = {};
  for (int index = 1; index < argc; ++index) {
    if (switchCount >= kMaxCommandSwitches) continue;
    CommandSwitch* record = TakeSwitch(&index, argc, argv);
    switches[switchCount++] = record;
    ++count[record->switchType];
  }

  if (count[kSwitchHelp] != 0 || argc == 1) PrintUsage();
  CheckSwitchCounts(count);

  CsvSortOption* options = CreateCsvSortOption();
  for (int i = 0; i < switchCount; ++i) {
    const CommandSwitch& record = *switches[i];
    switch (record.switchType) {
      case kSwitchInput:
        SetInputPath(record.value, *options);
        break;
      case kSwitchOutput:
        SetOutputPath(record.value, *options);
        break;
      case kSwitchWork:
        SetWorkDirectory(record.value, *options);
        break;
      case kSwitchKeys:
        ParseSortKeys(*options, record.value);
        break;
      case kSwitchCaption:
        options->hasCaption = true;
        break;
      case kSwitchMerge:
        SetMergeFiles(record.value, *options);
        break;
      case kSwitchTab:
        options->tabSeparated = true;
        break;
      default:
        break;  // plain words, help and unknown switches do nothing here
    }
  }
  CheckSameFiles(*options);
  return options;
}
