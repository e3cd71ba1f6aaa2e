// A destination the test holds open: the copy failure dialog over the
// installing look, answered through its buttons, its Escape key and its
// close box, interactively and under "/Auto"; under "/Silent" the failure
// ends the setup without a dialog.
#include <windows.h>
#include <commctrl.h>

#include <gtest/gtest.h>

#include "CopyFileFailureFrm.h"
#include "ExitCodes.h"
#include "MainFrm.h"
#include "NvSysUtils.h"
#include "SetupWindow.h"

using namespace nvtest;

namespace {

// A package of three files whose middle one is there with older content and
// held open by the test until Release.
class CopyFailure : public ::testing::Test {
protected:
  void SetUp() override {
    const std::wstring name = Utf8Decode(::testing::UnitTest::GetInstance()->current_test_info()->name());
    FRoot = FreshDir(L"copyfail-" + name.substr(0, 24));
    FApp = FRoot + L"app\\";
    FPkg = std::make_unique<TTestPackage>(FRoot, L"复制失败 " + name.substr(0, 24), FApp);
    FContent = RandomBytes(200000, 11);
    FPkg->AddFile(L"{app}", L"first.txt", "first");
    FPkg->AddFile(L"{app}", L"locked.bin", FContent);
    FPkg->AddFile(L"{app}", L"last.txt", "last");
    FExe = FRoot + L"setup.exe";
    FPkg->Build(FExe);
    WriteBytes(FApp + L"locked.bin", "old");
    FLock = CreateFileW((FApp + L"locked.bin").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(FLock, INVALID_HANDLE_VALUE);
  }

  void TearDown() override {
    Release();
    FRun.reset();
    if (FPkg) DeleteKeyTree(HKEY_LOCAL_MACHINE, UninstallKey(FPkg->Info().GUID));
  }

  void Release() {
    if (FLock != INVALID_HANDLE_VALUE) CloseHandle(FLock);
    FLock = INVALID_HANDLE_VALUE;
  }

  // Starts the setup with args (pressing install when there are none) and
  // waits for the dialog.
  HWND StartAndWaitForDialog(const std::wstring& args) {
    FRun = std::make_unique<TRunning>(FExe, args);
    if (!FRun->Main) return nullptr;
    if (args.empty()) Press(FRun->C(idBtnInstall));
    return WaitTop(FRun->Setup->Id(), L"TCopyFileFailureForm", kWait);
  }

  DWORD WaitForExit() {
    if (!FRun->Setup->WaitFor(60000)) {
      FRun->Setup->Kill();
      ADD_FAILURE() << "setup program did not end";
    }
    return FRun->Setup->ExitCode();
  }

  bool Registered() const { return KeyExists(HKEY_LOCAL_MACHINE, UninstallKey(FPkg->Info().GUID), KEY_WOW64_32KEY); }

  std::wstring FRoot, FApp, FExe;
  std::string FContent;
  std::unique_ptr<TTestPackage> FPkg;
  std::unique_ptr<TRunning> FRun;
  HANDLE FLock = INVALID_HANDLE_VALUE;
};

}  // namespace

TEST_F(CopyFailure, DialogOverTheInstallingLookAndRetryAfterReleaseWritesTheWholeFile) {
  HWND dialog = StartAndWaitForDialog(L"");
  ASSERT_NE(dialog, nullptr) << "no copy failure dialog";
  const TRunning& r = *FRun;
  EXPECT_EQ(Text(dialog), L"复制文件失败");
  RECT cr;
  GetClientRect(dialog, &cr);
  EXPECT_EQ(cr.right, 572);
  EXPECT_EQ(cr.bottom, 268);
  const std::wstring info = Text(Control(dialog, TCopyFileFailureForm::idLblInfo));
  EXPECT_TRUE(info.starts_with(L"文件：" + FApp + L"locked.bin\r\n\r\n失败原因：")) << Utf8Encode(info);
  struct {
    int Id;
    const wchar_t* Caption;
    int Left;
  } buttons[] = {{TCopyFileFailureForm::idBtnRetry, L"重试", 9},
                 {TCopyFileFailureForm::idBtnIgnore, L"忽略", 121},
                 {TCopyFileFailureForm::idBtnAbort, L"退出安装", 233}};
  for (const auto& b : buttons) {
    HWND button = Control(dialog, b.Id);
    EXPECT_EQ(Text(button), b.Caption);
    RECT br = RectInParent(button);
    EXPECT_EQ(br.left, b.Left);
    EXPECT_EQ(br.top, 8);
    EXPECT_EQ(br.right - br.left, 100);
    EXPECT_EQ(br.bottom - br.top, 25);
  }
  // The main window is in its installing look and disabled behind the
  // dialog; the bar has counted the two items begun so far, the detail line
  // names the file, the items before it are written and those after it not.
  EXPECT_FALSE(Enabled(r.Main));
  EXPECT_EQ(Text(r.C(idLblAppTitle)), L"正在安装");
  EXPECT_TRUE(Visible(r.C(idPbProgress)));
  EXPECT_EQ(Text(r.C(idLblWait)), L"正在安装");
  EXPECT_EQ(SendMessageW(r.C(idPbProgress), PBM_GETPOS, 0, 0), 2);
  EXPECT_EQ(Text(r.C(idLblDetail)), FApp + L"locked.bin");
  EXPECT_EQ(ReadBytes(FApp + L"first.txt"), "first");
  EXPECT_FALSE(PathIsFile(FApp + L"last.txt"));
  // The close image is ignored while installing.
  ClickAt(r.C(idImgClose));
  Screenshot(L"dialog-copy-failure-over-installing-look");
  Sleep(500);
  EXPECT_TRUE(IsWindow(r.Main));
  EXPECT_FALSE(r.Setup->WaitFor(0));

  Release();
  Press(Control(dialog, TCopyFileFailureForm::idBtnRetry));
  ASSERT_TRUE(WaitDoneLook(r.Main, 60000));
  EXPECT_TRUE(Enabled(r.Main));
  const std::string written = ReadBytes(FApp + L"locked.bin");
  EXPECT_EQ(written.size(), FContent.size());
  EXPECT_TRUE(written == FContent);
  EXPECT_EQ(ReadBytes(FApp + L"last.txt"), "last");
  EXPECT_TRUE(Registered());
  // Closing after a finished install ends with 0.
  ClickAt(r.C(idImgClose));
  EXPECT_EQ(WaitForExit(), kExitOk);
}

TEST_F(CopyFailure, IgnoreUnderAutoSkipsTheFileAndGoesOn) {
  HWND dialog = StartAndWaitForDialog(L"/Auto");
  ASSERT_NE(dialog, nullptr) << "no copy failure dialog";
  Press(Control(dialog, TCopyFileFailureForm::idBtnIgnore));
  EXPECT_EQ(WaitForExit(), kExitOk);
  Release();
  EXPECT_EQ(ReadBytes(FApp + L"locked.bin"), "old");
  EXPECT_EQ(ReadBytes(FApp + L"last.txt"), "last");
  EXPECT_TRUE(Registered());
}

TEST_F(CopyFailure, EscapeActsAsIgnore) {
  HWND dialog = StartAndWaitForDialog(L"/Auto");
  ASSERT_NE(dialog, nullptr) << "no copy failure dialog";
  SetForegroundWindow(dialog);
  // The key must reach a control of the dialog.
  ASSERT_NE(WaitFocusIn(dialog), nullptr) << "the focus stays outside the dialog";
  SendKey(VK_ESCAPE);
  EXPECT_EQ(WaitForExit(), kExitOk);
  Release();
  EXPECT_EQ(ReadBytes(FApp + L"locked.bin"), "old");
  EXPECT_EQ(ReadBytes(FApp + L"last.txt"), "last");
}

TEST_F(CopyFailure, ExitEndsTheSetupWithNothingFurtherDone) {
  HWND dialog = StartAndWaitForDialog(L"/Auto");
  ASSERT_NE(dialog, nullptr) << "no copy failure dialog";
  Press(Control(dialog, TCopyFileFailureForm::idBtnAbort));
  // The install is rolled back first, and says so.
  EXPECT_TRUE(Contains(AnswerNextMessage(FRun->Setup->Id(), kWait), L"安装未完成，已撤销所做的更改。"));
  EXPECT_EQ(WaitForExit(), kExitUserAborted);
  EXPECT_FALSE(PathIsFile(FApp + L"first.txt"));
  EXPECT_FALSE(PathIsFile(FApp + L"last.txt"));
  EXPECT_FALSE(PathIsFile(FApp + L"Uninstall.da1"));
  EXPECT_FALSE(Registered());
}

TEST_F(CopyFailure, TheCloseBoxEndsTheSetupAsExitDoes) {
  HWND dialog = StartAndWaitForDialog(L"");
  ASSERT_NE(dialog, nullptr) << "no copy failure dialog";
  PostMessageW(dialog, WM_SYSCOMMAND, SC_CLOSE, 0);
  EXPECT_TRUE(Contains(AnswerNextMessage(FRun->Setup->Id(), kWait), L"安装未完成，已撤销所做的更改。"));
  EXPECT_EQ(WaitForExit(), kExitUserAborted);
  EXPECT_FALSE(PathIsFile(FApp + L"last.txt"));
  EXPECT_FALSE(PathIsFile(FApp + L"Uninstall.da1"));
  EXPECT_FALSE(Registered());
}

TEST_F(CopyFailure, SilentInstallEndsWithoutADialog) {
  TProcess setup(L"\"" + FExe + L"\" /Silent");
  ASSERT_TRUE(setup.Started());
  const bool ended = setup.WaitFor(60000);
  if (!ended) {
    EXPECT_EQ(FindTop(setup.Id(), L"TCopyFileFailureForm"), nullptr) << "a dialog blocks the silent install";
  }
  ASSERT_TRUE(ended);
  EXPECT_EQ(setup.ExitCode(), kExitUserAborted);
  EXPECT_FALSE(PathIsFile(FApp + L"last.txt"));
}
