// Exceptions kept at callback barriers, one per thread, until the code that
// called into the system rethrows them.
#include "NvCallbackBarrier.h"

#include <vector>

namespace {

struct TKept {
  DWORD Thread;
  std::exception_ptr Error;
};

// Few threads ever keep one, and only for a moment: a short list under a lock.
SRWLOCK gLock = SRWLOCK_INIT;
constinit std::vector<TKept> gKept;

std::exception_ptr Take(DWORD thread) noexcept {
  std::exception_ptr error;
  AcquireSRWLockExclusive(&gLock);
  for (auto it = gKept.begin(); it != gKept.end(); ++it)
    if (it->Thread == thread) {
      error = std::move(it->Error);
      gKept.erase(it);
      break;
    }
  ReleaseSRWLockExclusive(&gLock);
  return error;
}

}  // namespace

void NvKeepCurrentException() noexcept {
  const DWORD thread = GetCurrentThreadId();
  AcquireSRWLockExclusive(&gLock);
  bool known = false;
  for (const TKept& k : gKept) known = known || k.Thread == thread;
  if (!known) {
    try {
      gKept.push_back({thread, std::current_exception()});
    } catch (...) {
      // No memory for the record: the exception is lost, the process goes on.
    }
  }
  ReleaseSRWLockExclusive(&gLock);
}

void NvRethrowKept() {
  if (std::exception_ptr error = Take(GetCurrentThreadId())) std::rethrow_exception(error);
}

std::exception_ptr NvTakeKept(DWORD threadId) noexcept { return Take(threadId); }

LRESULT NvSendMessage(HWND wnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  const LRESULT result = SendMessageW(wnd, msg, wParam, lParam);
  NvRethrowKept();
  return result;
}
