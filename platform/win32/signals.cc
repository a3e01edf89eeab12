// Interrupts on Windows: Ctrl-C, Ctrl-Break and the closing of the console
// reach the process as a call of the control handler on a thread of its own.
// The handler waits until the main thread holds no interrupt, stops it there
// for good, closes the system handles of the open files (their share modes
// would refuse a deletion), deletes the run files and ends the process with
// the status of a console interrupt. It calls only system functions: the
// stopped thread may hold a lock of the runtime.
#include "platform/signals.h"

#include <windows.h>

#include "platform/win32/interrupts.h"

namespace {

constexpr int kMaxHandles = 64;  // far more files than one run opens

HANDLE mainThread = nullptr;
CRITICAL_SECTION holdLock;
char* const* volatile watchedNames = nullptr;
const int32_t* volatile watchedCount = nullptr;
volatile int32_t watchedCapacity = 0;
void* volatile openHandles[kMaxHandles];

BOOL WINAPI OnInterrupt(DWORD event) {
  switch (event) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT:
    case CTRL_CLOSE_EVENT:
    case CTRL_LOGOFF_EVENT:
    case CTRL_SHUTDOWN_EVENT:
      break;
    default:
      return FALSE;
  }
  EnterCriticalSection(&holdLock);  // never left: the run ends here
  if (mainThread) SuspendThread(mainThread);
  for (void* volatile& handle : openHandles) {
    if (handle) CloseHandle(static_cast<HANDLE>(handle));
    handle = nullptr;
  }
  char* const* names = watchedNames;
  if (names && watchedCount) {
    int32_t last = *watchedCount;
    if (last >= watchedCapacity) last = watchedCapacity - 1;
    for (int32_t i = 0; i <= last; ++i) {
      if (names[i]) DeleteFileA(names[i]);
    }
  }
  TerminateProcess(GetCurrentProcess(), static_cast<UINT>(STATUS_CONTROL_C_EXIT));
  return TRUE;
}

}  // namespace

void KeepOpenSystemHandle(int descriptor, void* systemHandle) {
  if (descriptor < 0 || descriptor >= kMaxHandles) return;
  openHandles[descriptor] = systemHandle;
}

void WatchInterrupts() {
  InitializeCriticalSection(&holdLock);
  DuplicateHandle(GetCurrentProcess(), GetCurrentThread(), GetCurrentProcess(), &mainThread, 0, FALSE,
                  DUPLICATE_SAME_ACCESS);
  SetConsoleCtrlHandler(OnInterrupt, TRUE);
}

void DeleteOnInterrupt(char* const* names, const int32_t* count, int32_t capacity) {
  watchedCount = count;
  watchedCapacity = capacity;
  watchedNames = names;
}

void HoldInterrupts() {
  if (mainThread) EnterCriticalSection(&holdLock);
}

void ReleaseInterrupts() {
  if (mainThread) LeaveCriticalSection(&holdLock);
}
