// Runs code that is expected to end the run through FatalError, without ending
// the test process: the exit hook throws instead, and the log line is captured.
#pragma once

#include <gtest/gtest.h>

#include <cstdarg>
#include <cstdio>
#include <functional>
#include <string>

#include "driver/log.h"

// A message of the table with its arguments, as the log prints it.
__attribute__((format(printf, 1, 2))) inline std::string Message(const char* format, ...) {
  char buffer[512];
  va_list args;
  va_start(args, format);
  std::vsnprintf(buffer, sizeof buffer, format, args);
  va_end(args);
  return buffer;
}

struct FatalExit {
  int exitCode;
};

struct FatalOutcome {
  bool ended = false;   // FatalError was called
  int exitCode = 0;
  std::string output;   // everything written to stdout meanwhile (cp932 bytes)
  std::string lastMessage;  // the message of the last log line, without timestamp
};

inline FatalOutcome RunExpectingFatal(const std::function<void()>& body) {
  FatalOutcome outcome;
  SetFatalExitHook([](int code) { throw FatalExit{code}; });
  testing::internal::CaptureStdout();
  try {
    body();
  } catch (const FatalExit& exit) {
    outcome.ended = true;
    outcome.exitCode = exit.exitCode;
  }
  outcome.output = testing::internal::GetCapturedStdout();
  SetFatalExitHook(nullptr);
  // A log line is "YYYY/MM/DD hh:mm:ss message\n": the message starts after
  // the second blank.
  std::string out = outcome.output;
  if (!out.empty() && out.back() == '\n') out.pop_back();
  size_t lineStart = out.rfind('\n');
  std::string line = lineStart == std::string::npos ? out : out.substr(lineStart + 1);
  size_t firstBlank = line.find(' ');
  if (firstBlank != std::string::npos) {
    size_t secondBlank = line.find(' ', firstBlank + 1);
    if (secondBlank != std::string::npos) outcome.lastMessage = line.substr(secondBlank + 1);
  }
  return outcome;
}

// Asserts that body ends the run with the code and the exact message.
#define EXPECT_FATAL(body, code, message)                                  \
  do {                                                                     \
    FatalOutcome outcome_ = RunExpectingFatal([&] { body; });              \
    EXPECT_TRUE(outcome_.ended) << "FatalError was not called";           \
    EXPECT_EQ(outcome_.exitCode, (code));                                  \
    EXPECT_EQ(outcome_.lastMessage, std::string(message));                \
  } while (0)
