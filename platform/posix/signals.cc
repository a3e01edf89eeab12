// Interrupts on POSIX systems. The handler uses only async-signal-safe calls:
// unlink for each run file, then the signal's default action, raised again.
#include "platform/signals.h"

#include <signal.h>
#include <unistd.h>

namespace {

// A limit of CPU time (ulimit -t) ends a run with SIGXCPU, the quit key with
// SIGQUIT; SIGPIPE and SIGXFSZ are ignored instead (PreparePlatform).
constexpr int kInterrupts[] = {SIGINT,  SIGTERM, SIGHUP,  SIGQUIT,   SIGALRM,
                               SIGUSR1, SIGUSR2, SIGXCPU, SIGVTALRM, SIGPROF};

char* const* volatile watchedNames = nullptr;
const int32_t* volatile watchedCount = nullptr;
volatile int32_t watchedCapacity = 0;

void BlockedSet(sigset_t* set) {
  sigemptyset(set);
  for (int interrupt : kInterrupts) sigaddset(set, interrupt);
}

extern "C" void OnInterrupt(int interrupt) {
  // Every interrupt is blocked while this runs (sa_mask): a second one, of
  // any kind, waits until the names are deleted, and they are deleted once.
  char* const* names = watchedNames;
  if (names && watchedCount) {
    int32_t last = *watchedCount;
    if (last >= watchedCapacity) last = watchedCapacity - 1;
    for (int32_t i = 0; i <= last; ++i) {
      if (names[i]) unlink(names[i]);
    }
  }
  struct sigaction fallback = {};
  fallback.sa_handler = SIG_DFL;
  sigemptyset(&fallback.sa_mask);
  sigaction(interrupt, &fallback, nullptr);
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, interrupt);
  // Raised while blocked, the signal is taken as soon as it is unblocked.
  raise(interrupt);
  sigprocmask(SIG_UNBLOCK, &set, nullptr);
  _exit(128 + interrupt);
}

}  // namespace

void WatchInterrupts() {
  struct sigaction action = {};
  action.sa_handler = OnInterrupt;
  BlockedSet(&action.sa_mask);
  for (int interrupt : kInterrupts) {
    struct sigaction old;
    if (sigaction(interrupt, nullptr, &old) != 0 || old.sa_handler == SIG_IGN) continue;
    sigaction(interrupt, &action, nullptr);
  }
}

void DeleteOnInterrupt(char* const* names, const int32_t* count, int32_t capacity) {
  // The names last: the handler looks at nothing while they are null.
  watchedCount = count;
  watchedCapacity = capacity;
  watchedNames = names;
}

void HoldInterrupts() {
  sigset_t set;
  BlockedSet(&set);
  sigprocmask(SIG_BLOCK, &set, nullptr);
}

void ReleaseInterrupts() {
  sigset_t set;
  BlockedSet(&set);
  sigprocmask(SIG_UNBLOCK, &set, nullptr);
}
