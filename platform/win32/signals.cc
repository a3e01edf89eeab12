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

HANDLE g_mainThread = nullptr;
CRITICAL_SECTION g_hold;
char* const* volatile g_names = nullptr;
const int32_t* volatile g_count = nullptr;
volatile int32_t g_capacity = 0;
void* volatile g_handles[kMaxHandles];

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
  EnterCriticalSection(&g_hold);  // never left: the run ends here
  if (g_mainThread) SuspendThread(g_mainThread);
  for (void* volatile& handle : g_handles) {
    if (handle) CloseHandle(static_cast<HANDLE>(handle));
    handle = nullptr;
  }
  char* const* names = g_names;
  if (names && g_count) {
    int32_t last = *g_count;
    if (last >= g_capacity) last = g_capacity - 1;
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
  g_handles[descriptor] = systemHandle;
}

void WatchInterrupts() {
  InitializeCriticalSection(&g_hold);
  DuplicateHandle(GetCurrentProcess(), GetCurrentThread(), GetCurrentProcess(), &g_mainThread, 0, FALSE,
                  DUPLICATE_SAME_ACCESS);
  SetConsoleCtrlHandler(OnInterrupt, TRUE);
}

void DeleteOnInterrupt(char* const* names, const int32_t* count, int32_t capacity) {
  g_count = count;
  g_capacity = capacity;
  g_names = names;
}

void HoldInterrupts() {
  if (g_mainThread) EnterCriticalSection(&g_hold);
}

void ReleaseInterrupts() {
  if (g_mainThread) LeaveCriticalSection(&g_hold);
}
