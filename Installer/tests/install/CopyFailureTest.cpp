// A destination the test holds open: the copy failure dialog of an "/Auto"
// install, driven through its buttons, its Escape key and its close box.
#include <windows.h>
#include <commctrl.h>

#include <gtest/gtest.h>

#include "ExitCodes.h"
#include "WineTestSupport.h"

using namespace nvtest;

namespace {

const wchar_t kDialogCaption[] = L"复制文件失败";

// A package of three files whose middle one is locked until Release.
class CopyFailure : public ::testing::Test {
protected:
  void Prepare(const std::wstring& name) {
    FRoot = FreshDir(name);
    FApp = FRoot + L"app\\";
    FPkg = std::make_unique<TTestPackage>(FRoot, L"NvOps " + name, FApp);
    FContent = RandomBytes(200000, 11);
    FPkg->AddFile(L"{app}", L"first.txt", "first");
    FPkg->AddFile(L"{app}", L"locked.bin", FContent);
    FPkg->AddFile(L"{app}", L"last.txt", "last");
    FExe = FRoot + L"NvOps" + name + L".exe";
    FPkg->Build(FExe);
    WriteBytes(FApp + L"locked.bin", "old");
    FLock = CreateFileW((FApp + L"locked.bin").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(FLock, INVALID_HANDLE_VALUE);
  }

  void Release() {
    if (FLock != INVALID_HANDLE_VALUE) CloseHandle(FLock);
    FLock = INVALID_HANDLE_VALUE;
  }

  // Starts the install and waits for the dialog.
  HWND StartAndWaitForDialog() {
    FSetup = std::make_unique<TProcess>(L"\"" + FExe + L"\" /Auto");
    if (!FSetup->Started()) return nullptr;
    return WaitForWindow(FSetup->Id(), kDialogCaption, 30000);
  }

  DWORD WaitForExit() {
    if (!FSetup->WaitFor(60000)) {
      FSetup->Kill();
      ADD_FAILURE() << "setup program did not end";
    }
    return FSetup->ExitCode();
  }

  void PressButton(HWND dialog, const std::wstring& caption) {
    HWND button = FindChildByText(dialog, caption);
    ASSERT_NE(button, nullptr) << "no button of that caption";
    nvtest::Press(button);
  }

  void TearDown() override {
    Release();
    if (FSetup) FSetup->Kill();
    if (FPkg) DeleteKeyTree(HKEY_LOCAL_MACHINE, UninstallKey(FPkg->Info().GUID));
  }

  std::wstring FRoot, FApp, FExe;
  std::string FContent;
  std::unique_ptr<TTestPackage> FPkg;
  std::unique_ptr<TProcess> FSetup;
  HANDLE FLock = INVALID_HANDLE_VALUE;
};

// The main window's control of that ID.
HWND MainControl(DWORD pid, int id) { return Control(FindTop(pid, L"TMainForm"), id); }

}  // namespace

TEST_F(CopyFailure, RetryAfterReleaseWritesTheWholeFile) {
  Prepare(L"Retry");
  HWND dialog = StartAndWaitForDialog();
  ASSERT_NE(dialog, nullptr) << "no copy failure dialog";
  EXPECT_NE(AllChildTexts(dialog).find(L"文件：" + FApp + L"locked.bin"), std::wstring::npos);
  // The bar has counted the two items begun so far; the detail line names the file.
  HWND bar = MainControl(FSetup->Id(), 116);
  ASSERT_NE(bar, nullptr);
  EXPECT_EQ(SendMessageW(bar, PBM_GETPOS, 0, 0), 2);
  EXPECT_EQ(Text(MainControl(FSetup->Id(), 117)), FApp + L"locked.bin");
  EXPECT_EQ(ReadBytes(FApp + L"first.txt"), "first");
  EXPECT_FALSE(PathIsFile(FApp + L"last.txt"));

  Release();
  PressButton(dialog, L"重试");
  EXPECT_EQ(WaitForExit(), kExitOk);
  const std::string written = ReadBytes(FApp + L"locked.bin");
  EXPECT_EQ(written.size(), FContent.size());
  EXPECT_TRUE(written == FContent);
  EXPECT_EQ(ReadBytes(FApp + L"last.txt"), "last");
  EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, UninstallKey(FPkg->Info().GUID), KEY_WOW64_32KEY));
}

TEST_F(CopyFailure, IgnoreSkipsTheFileAndGoesOn) {
  Prepare(L"Ignore");
  HWND dialog = StartAndWaitForDialog();
  ASSERT_NE(dialog, nullptr) << "no copy failure dialog";
  PressButton(dialog, L"忽略");
  EXPECT_EQ(WaitForExit(), kExitOk);
  Release();
  EXPECT_EQ(ReadBytes(FApp + L"locked.bin"), "old");
  EXPECT_EQ(ReadBytes(FApp + L"last.txt"), "last");
  EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, UninstallKey(FPkg->Info().GUID), KEY_WOW64_32KEY));
}

TEST_F(CopyFailure, EscapeActsAsIgnore) {
  Prepare(L"Escape");
  HWND dialog = StartAndWaitForDialog();
  ASSERT_NE(dialog, nullptr) << "no copy failure dialog";
  SetForegroundWindow(dialog);
  Sleep(300);
  SendKey(VK_ESCAPE);
  EXPECT_EQ(WaitForExit(), kExitOk);
  Release();
  EXPECT_EQ(ReadBytes(FApp + L"locked.bin"), "old");
  EXPECT_EQ(ReadBytes(FApp + L"last.txt"), "last");
}

TEST_F(CopyFailure, ExitEndsTheSetupWithNothingFurtherDone) {
  Prepare(L"Abort");
  HWND dialog = StartAndWaitForDialog();
  ASSERT_NE(dialog, nullptr) << "no copy failure dialog";
  PressButton(dialog, L"退出安装");
  EXPECT_EQ(WaitForExit(), kExitUserAborted);
  EXPECT_EQ(ReadBytes(FApp + L"first.txt"), "first");
  EXPECT_FALSE(PathIsFile(FApp + L"last.txt"));
  EXPECT_FALSE(PathIsFile(FApp + L"Uninstall.da1"));
  EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, UninstallKey(FPkg->Info().GUID), KEY_WOW64_32KEY));
}

TEST_F(CopyFailure, TheCloseBoxEndsTheSetupAsExitDoes) {
  Prepare(L"Close");
  HWND dialog = StartAndWaitForDialog();
  ASSERT_NE(dialog, nullptr) << "no copy failure dialog";
  PostMessageW(dialog, WM_SYSCOMMAND, SC_CLOSE, 0);
  EXPECT_EQ(WaitForExit(), kExitUserAborted);
  EXPECT_FALSE(PathIsFile(FApp + L"last.txt"));
  EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, UninstallKey(FPkg->Info().GUID), KEY_WOW64_32KEY));
}

TEST_F(CopyFailure, SilentInstallEndsWithoutADialog) {
  Prepare(L"Silent");
  FSetup = std::make_unique<TProcess>(L"\"" + FExe + L"\" /Silent");
  ASSERT_TRUE(FSetup->Started());
  bool ended = FSetup->WaitFor(60000);
  if (!ended) {
    EXPECT_EQ(WaitForWindow(FSetup->Id(), kDialogCaption, 0), nullptr) << "a dialog blocks the silent install";
  }
  ASSERT_TRUE(ended);
  EXPECT_EQ(FSetup->ExitCode(), kExitUserAborted);
  EXPECT_FALSE(PathIsFile(FApp + L"last.txt"));
}
