// The barrier at every function the system calls back.
//
// The rule: no exception may leave a function that Windows calls - window,
// subclass and dialog procedures, hook and enumeration callbacks, thread
// entry points, COM methods. The 32-bit programs unwind with DWARF tables,
// which cannot pass through the system's own frames: an exception that
// crosses one ends the process (std::terminate), where the 64-bit build
// would have unwound it to a handler beyond.
//
// So every such function runs its body through NvCallbackBarrier: an
// exception is caught and kept for the calling thread, and the function
// returns the given fallback. The code that called into the system - the
// message loops after DispatchMessageW, the modal loops, a caller of
// SendMessageW, CreateWindowExW or MessageBoxW, a thread's owner after it
// has joined it - calls NvRethrowKept when the system call returns, and the
// kept exception goes on from there to the same handler it would have
// reached by unwinding. When a new callback is written, its body goes
// through NvCallbackBarrier; when new code calls a system function that may
// call back into this program, it calls NvRethrowKept afterwards.
#pragma once

#include <windows.h>

#include <exception>
#include <utility>

// Keeps the exception being handled for the current thread. When one is kept
// already, the first stays (it is the cause) and this one is dropped.
void NvKeepCurrentException() noexcept;

// Rethrows the exception kept for the current thread, once; returns when
// none is kept.
void NvRethrowKept();

// Takes the exception kept for thread (a thread that has ended, for its
// owner); null when none.
std::exception_ptr NvTakeKept(DWORD threadId) noexcept;

// Runs body; an exception it raises is kept (NvKeepCurrentException) and
// fallback is returned instead of its result.
template <class R, class F>
R NvCallbackBarrier(R fallback, F&& body) noexcept {
  try {
    return std::forward<F>(body)();
  } catch (...) {
    NvKeepCurrentException();
    return fallback;
  }
}

// SendMessageW, then NvRethrowKept: for messages to windows of this program
// whose handlers may raise.
LRESULT NvSendMessage(HWND wnd, UINT msg, WPARAM wParam, LPARAM lParam);
