// Runs code that is expected to end the run through FatalError, without ending
// the test process: the exit hook throws instead, and the log line is captured.
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "driver/log.h"
#include "test_support.h"

struct FatalExit {
  int exitCode;
};

struct FatalOutcome {
  bool ended = false;  // FatalError was called
  int exitCode = 0;
  std::string output;       // everything written to stdout meanwhile (cp932 bytes)
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
  // The message of the last log line, without its timestamp.
  std::string out = outcome.output;
  if (!out.empty() && out.back() == '\n') out.pop_back();
  if (!out.empty()) outcome.lastMessage = test_support::LogLineMessage(out.substr(out.rfind('\n') + 1));
  return outcome;
}

// Asserts that body ends the run with the code and the exact message.
#define EXPECT_FATAL(body, code, message)                       \
  do {                                                          \
    FatalOutcome outcome_ = RunExpectingFatal([&] { body; });   \
    EXPECT_TRUE(outcome_.ended) << "FatalError was not called"; \
    EXPECT_EQ(outcome_.exitCode, (code));                       \
    EXPECT_EQ(outcome_.lastMessage, std::string(message));      \
  } while (0)
