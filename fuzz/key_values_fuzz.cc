// The number and date-time readers of the record comparison over arbitrary
// field texts (cut at the first zero byte), each against a plain model built
// step by step on the unquoted copy: the same value bit for bit, the same 14
// digits, and a 2002 end exactly when the model meets a 13th number character.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "driver/exit_codes.h"
#include "driver/text.h"
#include "fuzz_support.h"
#include "key_oracles.h"
#include "sort/compare.h"

namespace {

// false when the number text would grow beyond 12 characters.
bool ModelNumber(const char* text, double* value) {
  char unquoted[2049];
  CopyUnquoted(text, unquoted, sizeof unquoted);
  const char* p = unquoted;
  while (*p == ' ') ++p;
  char number[13];
  int length = 0;
  for (; *p; ++p) {
    const char c = *p;
    if ((c >= '0' && c <= '9') || c == '+' || c == '-' || c == '.') {
      if (length == 12) return false;
      number[length++] = c;
    } else if (c != ',' && c != '@' && c != '\\') {
      break;
    }
  }
  number[length] = '\0';
  *value = std::strtod(number, nullptr);
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  PrepareFuzzTarget();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data),
                         strnlen(reinterpret_cast<const char*>(data), size));

  double expected = 0;
  const bool fits = ModelNumber(text.c_str(), &expected);
  try {
    double value = ParseNumberField(text.c_str());
    FUZZ_CHECK(fits);
    FUZZ_CHECK(std::memcmp(&value, &expected, sizeof value) == 0);
  } catch (const FatalEnd& end) {
    FUZZ_CHECK(end.exitCode == exit_code::kLimit);
    FUZZ_CHECK(!fits);
  }

  char digits[32];
  std::snprintf(digits, sizeof digits, "%014llu",
                static_cast<unsigned long long>(DateTimeValue(text.c_str())));
  FUZZ_CHECK(NormalizeDateTime(text.c_str()) == digits);
  return 0;
}
