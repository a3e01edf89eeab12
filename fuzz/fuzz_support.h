// Shared by the fuzz targets: a fatal end becomes an exception that the target
// catches, so that one input's failure does not end the fuzzing process, and
// the console log goes nowhere unless TARNSEK_FUZZ_LOG is set.
#pragma once

#include <fcntl.h>
#include <sanitizer/allocator_interface.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

#include "driver/log.h"

struct FatalEnd {
  int exitCode;
};

[[noreturn]] inline void ThrowFatalEnd(int exitCode) { throw FatalEnd{exitCode}; }

// Call once from LLVMFuzzerInitialize.
inline void PrepareFuzzTarget() {
  // Without TZ every log line reloads the time zone and keeps a new copy of
  // its name; with it the zone is read once.
  setenv("TZ", "UTC", 0);
  SetFatalExitHook(ThrowFatalEnd);
  if (!std::getenv("TARNSEK_FUZZ_LOG")) {
    std::fflush(stdout);
    int null = open("/dev/null", O_WRONLY | O_CLOEXEC);
    if (null >= 0) {
      dup2(null, STDOUT_FILENO);
      close(null);
    }
  }
  // The first log line loads the time zone and the first throw readies the
  // unwinder; both keep what they allocate. Done here, outside any arena.
  try {
    FatalError(MessageEntry{1, "fuzz target ready"});
  } catch (const FatalEnd&) {
  }
}

// Parts of the tool keep what they allocate for the life of the process (the
// options, their texts, the command-line records). Between BeginArena and
// FreeArena every allocation that is not freed again is noted, and FreeArena
// frees them, so that millions of runs neither grow nor look like leaks.
namespace arena {
inline constexpr int kCapacity = 1 << 14;
inline const volatile void* liveAllocations[kCapacity];
inline int trackedCount = 0;
inline bool trackingActive = false;
inline bool trackingOverflow = false;

inline void OnMalloc(const volatile void* pointer, size_t) {
  if (!trackingActive || !pointer) return;
  if (trackedCount == kCapacity) {
    trackingOverflow = true;
    return;
  }
  liveAllocations[trackedCount++] = pointer;
}

inline void OnFree(const volatile void* pointer) {
  if (!trackingActive || !pointer) return;
  for (int i = trackedCount - 1; i >= 0; --i) {
    if (liveAllocations[i] == pointer) {
      liveAllocations[i] = liveAllocations[--trackedCount];
      return;
    }
  }
}
}  // namespace arena

inline void InstallArenaHooks() { __sanitizer_install_malloc_and_free_hooks(arena::OnMalloc, arena::OnFree); }

inline void BeginArena() {
  arena::trackedCount = 0;
  arena::trackingOverflow = false;
  arena::trackingActive = true;
}

inline void FreeArena() {
  arena::trackingActive = false;
  for (int i = 0; i < arena::trackedCount; ++i) std::free(const_cast<void*>(arena::liveAllocations[i]));
  arena::trackedCount = 0;
  if (arena::trackingOverflow) {
    std::fprintf(stderr, "arena overflow: more than %d live allocations\n", arena::kCapacity);
    std::abort();
  }
}

// A violated property: said on stderr, then a crash that libFuzzer reports
// with the input.
#define FUZZ_CHECK(condition)                                                            \
  do {                                                                                   \
    if (!(condition)) {                                                                  \
      std::fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #condition); \
      std::abort();                                                                      \
    }                                                                                    \
  } while (0)
