// An exception thrown in each kind of function the system calls back reaches
// the handler of the code that called into the system, in the 64-bit build
// and in the 32-bit one, whose exceptions cannot unwind through the system's
// frames.
#include <gtest/gtest.h>

#include <windows.h>

#include <stdexcept>
#include <string>

#include "BaseFrm.h"
#include "NvCallbackBarrier.h"
#include "NvSysUtilsWin.h"

namespace {

constexpr UINT WM_THROW = WM_APP + 1;
constexpr UINT WM_CLOSE_BOX_AND_THROW = WM_APP + 2;

// Throws on WM_THROW (and on WM_CREATE when asked to).
class TThrowingForm : public TBaseForm {
public:
  explicit TThrowingForm(TBaseForm* owner = nullptr)
      : TBaseForm(owner, L"TThrowingForm", 200, 100, WS_OVERLAPPEDWINDOW) {}
  LRESULT WndProc(UINT msg, WPARAM wParam, LPARAM lParam) override {
    if (msg == WM_THROW) throw std::runtime_error("from the window procedure");
    if (msg == WM_CLOSE_BOX_AND_THROW) {
      // Runs inside the message box's own loop: close the box, then throw.
      if (HWND box = FindWindowW(L"#32770", L"barrier")) PostMessageW(box, WM_COMMAND, IDOK, 0);
      throw std::runtime_error("inside the message box");
    }
    return TBaseForm::WndProc(msg, wParam, lParam);
  }
};

// A system edit control, subclassed by the control layer.
class TThrowingEdit : public TEdit {
public:
  using TEdit::TEdit;
  LRESULT WndProc(UINT msg, WPARAM wParam, LPARAM lParam) override {
    if (msg == WM_THROW) throw std::runtime_error("from the subclass procedure");
    return TEdit::WndProc(msg, wParam, lParam);
  }
};

// Callbacks of the system's kinds, each named: a lambda does not convert to
// the 32-bit stdcall type.
DWORD GSelf = 0;
HHOOK GHook = nullptr;

BOOL CALLBACK ThrowAtOwnWindow(HWND wnd, LPARAM) {
  return NvCallbackBarrier<BOOL>(FALSE, [&]() -> BOOL {
    DWORD pid = 0;
    GetWindowThreadProcessId(wnd, &pid);
    if (pid == GSelf) throw std::runtime_error("from the enumeration callback");
    return TRUE;
  });
}

LRESULT CALLBACK ThrowingGetMessageHook(int code, WPARAM w, LPARAM l) {
  return NvCallbackBarrier<LRESULT>(0, [&]() -> LRESULT {
    if (code == HC_ACTION && reinterpret_cast<MSG*>(l)->message == WM_THROW) throw std::runtime_error("from the hook");
    return CallNextHookEx(GHook, code, w, l);
  });
}

DWORD WINAPI ThrowingThread(void*) {
  return NvCallbackBarrier<DWORD>(1, []() -> DWORD { throw std::runtime_error("from the thread"); });
}

bool GThrowOnCreate = false;

LRESULT CALLBACK CreateThrowsProc(HWND wnd, UINT msg, WPARAM w, LPARAM l) {
  return NvCallbackBarrier<LRESULT>(0, [&]() -> LRESULT {
    if (msg == WM_NCCREATE && GThrowOnCreate) throw std::runtime_error("from window creation");
    return NvControlWndProc(wnd, msg, w, l);
  });
}

class CallbackBarrier : public ::testing::Test {
protected:
  void SetUp() override { Application = &FApp; }
  void TearDown() override {
    Application = nullptr;
    // Nothing may stay kept for a later test.
    EXPECT_NO_THROW(NvRethrowKept());
  }
  TApplication FApp;
};

// The message of the std::runtime_error that call raises, or a note.
template <class F>
std::string Raised(F&& call) {
  try {
    call();
  } catch (const std::runtime_error& e) {
    return e.what();
  } catch (...) {
    return "another exception";
  }
  return "nothing raised";
}

}  // namespace

TEST_F(CallbackBarrier, WindowProcedureToTheMessageLoops) {
  TThrowingForm form;
  PostMessageW(form.Handle(), WM_THROW, 0, 0);
  EXPECT_EQ(Raised([&] { FApp.ProcessMessages(); }), "from the window procedure");
  PostMessageW(form.Handle(), WM_THROW, 0, 0);
  EXPECT_EQ(Raised([&] { FApp.HandleMessage(); }), "from the window procedure");
  PostMessageW(form.Handle(), WM_THROW, 0, 0);
  EXPECT_EQ(Raised([&] { FApp.Run(); }), "from the window procedure");
}

TEST_F(CallbackBarrier, SubclassProcedureToTheMessageLoop) {
  TThrowingForm form;
  TThrowingEdit edit(&form, 1, 0, 0, 50, 20);
  PostMessageW(edit.Handle(), WM_THROW, 0, 0);
  EXPECT_EQ(Raised([&] { FApp.ProcessMessages(); }), "from the subclass procedure");
}

TEST_F(CallbackBarrier, WindowProcedureToTheSender) {
  TThrowingForm form;
  EXPECT_EQ(Raised([&] { NvSendMessage(form.Handle(), WM_THROW, 0, 0); }), "from the window procedure");
}

TEST_F(CallbackBarrier, WindowCreationToTheConstructorsCaller) {
  struct TCreateThrows : TBaseForm {
    TCreateThrows() : TBaseForm(nullptr, L"TCreateThrows", 100, 100, WS_OVERLAPPEDWINDOW) {}
  };
  // WM_NCCREATE arrives before the object can override anything: the class
  // is registered first with a procedure that raises for it.
  WNDCLASSEXW wc{};
  wc.cbSize = sizeof(wc);
  wc.lpfnWndProc = CreateThrowsProc;
  wc.hInstance = GetModuleHandleW(nullptr);
  wc.lpszClassName = L"TCreateThrows";
  ASSERT_TRUE(RegisterClassExW(&wc));
  GThrowOnCreate = true;
  EXPECT_EQ(Raised([] { TCreateThrows form; }), "from window creation");
  GThrowOnCreate = false;
}

TEST_F(CallbackBarrier, ModalFormToTheCallerOfShowModal) {
  TBaseForm owner(nullptr, L"TBarrierOwner", 300, 200, WS_OVERLAPPEDWINDOW);
  owner.ShowForm();
  TThrowingForm dialog(&owner);
  PostMessageW(dialog.Handle(), WM_THROW, 0, 0);
  EXPECT_EQ(Raised([&] { TNvVclfn::ShowModalForm(&dialog, owner.Handle()); }), "from the window procedure");
  EXPECT_TRUE(IsWindowEnabled(owner.Handle())) << "the owner stays disabled after the modal run failed";
}

TEST_F(CallbackBarrier, MessageBoxLoopToItsCaller) {
  TThrowingForm form;
  form.ShowForm();
  PostMessageW(form.Handle(), WM_CLOSE_BOX_AND_THROW, 0, 0);
  EXPECT_EQ(Raised([&] { TNvWinfn::ShowMessageBox(form.Handle(), L"text", MB_OK, L"barrier"); }),
            "inside the message box");
}

TEST_F(CallbackBarrier, HookAndEnumerationCallbacksToTheirCallers) {
  TThrowingForm form;
  GSelf = GetCurrentProcessId();
  EXPECT_FALSE(EnumWindows(ThrowAtOwnWindow, 0));
  EXPECT_EQ(Raised([] { NvRethrowKept(); }), "from the enumeration callback");

  GHook = SetWindowsHookExW(WH_GETMESSAGE, ThrowingGetMessageHook, nullptr, GetCurrentThreadId());
  ASSERT_NE(GHook, nullptr);
  PostMessageW(form.Handle(), WM_THROW, 0, 0);
  // The hook's exception is the first kept; the window procedure's that
  // follows for the same message is dropped.
  EXPECT_EQ(Raised([&] { FApp.ProcessMessages(); }), "from the hook");
  UnhookWindowsHookEx(GHook);
}

TEST_F(CallbackBarrier, ThreadEntryToTheThreadsOwner) {
  DWORD id = 0;
  HANDLE thread = CreateThread(nullptr, 0, ThrowingThread, nullptr, 0, &id);
  ASSERT_NE(thread, nullptr);
  WaitForSingleObject(thread, INFINITE);
  DWORD code = 0;
  GetExitCodeThread(thread, &code);
  CloseHandle(thread);
  EXPECT_EQ(code, 1u);
  EXPECT_NO_THROW(NvRethrowKept()) << "kept for the thread that raised it, not this one";
  EXPECT_EQ(Raised([&] { std::rethrow_exception(NvTakeKept(id)); }), "from the thread");
  EXPECT_EQ(NvTakeKept(id), nullptr);
}
