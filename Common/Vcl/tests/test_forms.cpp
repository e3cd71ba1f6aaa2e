// The form framework on real windows: dialog button layout, the
// owner-relative modal run, key handling, the progress bar's text and the
// folder picker.
#include <gtest/gtest.h>

#include <windows.h>

#include <commctrl.h>

#include <functional>

#include "BaseDialogFrm.h"
#include "NvExceptions.h"

namespace {

// Runs step every 100 ms on this thread (also inside modal loops) until it
// returns true.
std::function<bool()> GStep;
UINT_PTR GTimer = 0;

void CALLBACK TimerProc(HWND, UINT, UINT_PTR, DWORD) {
  if (GStep && GStep()) {
    KillTimer(nullptr, GTimer);
    GStep = nullptr;
  }
}

void Every100ms(std::function<bool()> step) {
  GStep = std::move(step);
  GTimer = SetTimer(nullptr, 0, 100, TimerProc);
}

class FormsTest : public ::testing::Test {
protected:
  void SetUp() override { Application = &FApp; }
  void TearDown() override {
    if (GTimer) KillTimer(nullptr, GTimer);
    GStep = nullptr;
    Application = nullptr;
  }
  TApplication FApp;
};

BOOL CALLBACK FindBrowser(HWND wnd, LPARAM lp) {
  DWORD pid = 0;
  GetWindowThreadProcessId(wnd, &pid);
  wchar_t cls[64] = {};
  GetClassNameW(wnd, cls, 64);
  if (pid == GetCurrentProcessId() && IsWindowVisible(wnd) && std::wstring(cls) == L"#32770") {
    *reinterpret_cast<HWND*>(lp) = wnd;
    return FALSE;
  }
  return TRUE;
}

HWND VisibleBrowser() {
  HWND found = nullptr;
  EnumWindows(FindBrowser, reinterpret_cast<LPARAM>(&found));
  return found;
}

}  // namespace

TEST_F(FormsTest, DialogButtonsAreLaidOutFromTheRightEdge) {
  TBaseDialogForm dialog(nullptr, L"TTestDialogForm", 430, 200);
  EXPECT_EQ(dialog.ClientWidth(), 430);
  EXPECT_EQ(dialog.btnCancel->Left(), 347);
  EXPECT_EQ(dialog.btnOk->Left(), 264);
  EXPECT_EQ(dialog.btnOk->Top(), 8);
  EXPECT_FALSE(GetWindowLongW(dialog.btnApply->Handle(), GWL_STYLE) & WS_VISIBLE);
  EXPECT_TRUE(GetWindowLongW(dialog.btnOk->Handle(), GWL_STYLE) & WS_VISIBLE);
  EXPECT_EQ(dialog.pnlButtons->Height(), 41);
  EXPECT_EQ(dialog.pnlButtons->Top(), 200 - 41);
}

TEST_F(FormsTest, ModalRunDisablesOnlyTheOwnerAndGivesItBackAfterwards) {
  TBaseForm owner(nullptr, L"TTestOwnerForm", 300, 200, WS_OVERLAPPEDWINDOW);
  TBaseForm other(nullptr, L"TTestOtherForm", 200, 100, WS_OVERLAPPEDWINDOW);
  owner.ShowForm();
  other.ShowForm();
  TBaseDialogForm dialog(&owner, L"TTestDialogForm", 300, 150);
  bool ownerDisabled = false, otherEnabled = false, dialogShown = false;
  Every100ms([&] {
    ownerDisabled = !IsWindowEnabled(owner.Handle());
    otherEnabled = IsWindowEnabled(other.Handle()) != FALSE;
    dialogShown = IsWindowVisible(dialog.Handle()) != FALSE;
    dialog.btnOk->Click();
    return true;
  });
  EXPECT_EQ(dialog.ShowModal(), mrOk);
  EXPECT_TRUE(ownerDisabled);
  EXPECT_TRUE(otherEnabled);
  EXPECT_TRUE(dialogShown);
  EXPECT_TRUE(IsWindowEnabled(owner.Handle()));
  EXPECT_FALSE(IsWindowVisible(dialog.Handle()));
  EXPECT_FALSE(dialog.IsModal());
  EXPECT_EQ(FApp.ModalLevel(), 0);
}

TEST_F(FormsTest, EscapePressesCancelAndEnterTheDefaultButton) {
  TBaseForm owner(nullptr, L"TTestOwnerForm", 300, 200, WS_OVERLAPPEDWINDOW);
  owner.ShowForm();
  for (WORD key : {VK_ESCAPE, VK_RETURN}) {
    TBaseDialogForm dialog(&owner, L"TTestDialogForm", 300, 150);
    int ticks = 0;
    Every100ms([&] {
      if (++ticks == 1) {
        // Into an edit-less dialog: the key goes to whatever has the focus.
        HWND target = GetFocus() ? GetFocus() : dialog.Handle();
        PostMessageW(target, WM_KEYDOWN, key, 1);
      }
      if (ticks > 50) dialog.SetModalResult(mrAbort);  // the key did nothing
      return ticks > 50;
    });
    EXPECT_EQ(dialog.ShowModal(), key == VK_ESCAPE ? mrCancel : mrOk);
  }
}

TEST_F(FormsTest, AVisibleFormCannotBeShownModally) {
  TBaseForm owner(nullptr, L"TTestOwnerForm", 300, 200, WS_OVERLAPPEDWINDOW);
  owner.ShowForm();
  TBaseDialogForm dialog(&owner, L"TTestDialogForm", 300, 150);
  HWND before = reinterpret_cast<HWND>(GetWindowLongPtrW(dialog.Handle(), GWLP_HWNDPARENT));
  dialog.ShowForm();
  try {
    dialog.ShowModal();
    FAIL() << "no error";
  } catch (const Exception& e) {
    EXPECT_EQ(e.Message(), L"Cannot make a visible window modal");
  }
  EXPECT_TRUE(IsWindowEnabled(owner.Handle()));
  EXPECT_EQ(reinterpret_cast<HWND>(GetWindowLongPtrW(dialog.Handle(), GWLP_HWNDPARENT)), before);
}

TEST_F(FormsTest, AltOrTabRepaintsEveryControl) {
  TBaseDialogForm dialog(nullptr, L"TTestDialogForm", 300, 150);
  dialog.ShowForm();
  auto pending = [&](TControl* c) {
    RECT r;
    return GetUpdateRect(c->Handle(), &r, FALSE) != FALSE;
  };
  for (WORD key : {static_cast<WORD>(VK_MENU), static_cast<WORD>(VK_TAB)}) {
    UpdateWindow(dialog.Handle());
    RedrawWindow(dialog.Handle(), nullptr, nullptr, RDW_UPDATENOW | RDW_ALLCHILDREN);
    ASSERT_FALSE(pending(dialog.btnOk));
    dialog.KeyDown(key, key == VK_MENU ? 2u : 0u);
    EXPECT_TRUE(pending(dialog.btnOk));
    EXPECT_TRUE(pending(dialog.bvlButtons));
  }
  UpdateWindow(dialog.Handle());
  RedrawWindow(dialog.Handle(), nullptr, nullptr, RDW_UPDATENOW | RDW_ALLCHILDREN);
  dialog.KeyDown('A', 0);
  EXPECT_FALSE(pending(dialog.btnOk));
}

TEST_F(FormsTest, ProgressBarShowsItsPercentageAndClampsItsPosition) {
  TBaseForm form(nullptr, L"TTestOwnerForm", 300, 200, WS_OVERLAPPEDWINDOW);
  TProgressBar bar(&form, 1, 0, 0, 200, 17);
  bar.SetMax(0);
  EXPECT_EQ(bar.PercentText(), L"0%");
  bar.SetMax(3);
  bar.SetPosition(1);
  EXPECT_EQ(bar.PercentText(), L"33%");
  bar.StepBy(5);
  EXPECT_EQ(bar.Position(), 3);
  EXPECT_EQ(bar.PercentText(), L"100%");
  EXPECT_EQ(SendMessageW(bar.Handle(), PBM_GETPOS, 0, 0), 3);
  bar.SetPosition(-4);
  EXPECT_EQ(bar.Position(), 0);
}

TEST_F(FormsTest, FolderPickerPreselectsTheFolderAndAddsTheBackslash) {
  TBaseForm owner(nullptr, L"TTestOwnerForm", 300, 200, WS_OVERLAPPEDWINDOW);
  owner.ShowForm();
  wchar_t windows[MAX_PATH];
  GetWindowsDirectoryW(windows, MAX_PATH);
  for (int button : {IDCANCEL, IDOK}) {
    std::wstring path = windows;
    int ticks = 0;
    Every100ms([&] {
      HWND browser = VisibleBrowser();
      if (browser && ++ticks == 5) {
        PostMessageW(browser, WM_COMMAND, button, 0);
        return true;
      }
      return false;
    });
    bool ok = TNvVclfn::SelectDirectory(owner.Handle(), L"选择安装目录", path);
    EXPECT_EQ(ok, button == IDOK);
    if (button == IDOK) {
      EXPECT_EQ(_wcsicmp(path.c_str(), (std::wstring(windows) + L"\\").c_str()), 0);
    } else {
      EXPECT_EQ(path, windows);
    }
  }
}
