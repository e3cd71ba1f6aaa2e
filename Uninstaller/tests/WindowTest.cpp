// The uninstaller as a user meets it: the window answered by pressing its
// buttons, a file in use, and uninstall data that is missing or damaged.
#include <gtest/gtest.h>

#include "ExitCodes.h"
#include "WineTestSupport.h"
#include "NvSysUtilsWin.h"
#include "UninstallExitCodes.h"
#include "UninstallFixture.h"
#include "UninstallFrm.h"

using nvtest::PathIsDir;
using nvtest::PathIsFile;
using nvtest::RunSetup;
using nvtest::TProcess;
using namespace untest;

namespace {

constexpr DWORD kWait = 60000;

// A started uninstaller and its window.
struct TRun {
  explicit TRun(const TProduct& p) : Process(L"\"" + p.App + L"Uninstall.exe\"") {
    Window = nvtest::WaitTop(Process.Id(), L"TUninstallForm", kWait);
  }
  HWND Get(int id) const { return nvtest::Control(Window, id); }
  TProcess Process;
  HWND Window = nullptr;
};

void ExpectInstalled(const TProduct& p) {
  for (const std::wstring& f : p.Files) EXPECT_TRUE(PathIsFile(f));
  EXPECT_TRUE(PathIsFile(p.App + L"Uninstall.da1"));
  EXPECT_TRUE(nvtest::KeyExists(HKEY_LOCAL_MACHINE, nvtest::UninstallKey(p.Guid), KEY_WOW64_32KEY));
}

}  // namespace

TEST(UninstallWindow, CancelKeepsEverythingConfirmRemoves) {
  TProduct p(nvtest::FreshDir(L"un-window"), L"NvUn 窗口");
  p.Build();
  ASSERT_EQ(RunSetup(p.Exe, L"/Silent"), kExitOk);
  {
    TRun run(p);
    ASSERT_NE(run.Window, nullptr) << "no uninstaller window";
    EXPECT_EQ(nvtest::Text(run.Window), L"NvUn 窗口");
    EXPECT_EQ(nvtest::Text(run.Get(idUnMessage)), L"确定要卸载 NvUn 窗口 吗？");
    nvtest::Screenshot(L"uninstall-confirm");
    nvtest::Press(run.Get(idUnCancel));
    ASSERT_TRUE(run.Process.WaitFor(kWait));
    EXPECT_EQ(run.Process.ExitCode(), kUninstallCancelled);
  }
  ExpectInstalled(p);
  {
    TRun run(p);
    ASSERT_NE(run.Window, nullptr);
    nvtest::Press(run.Get(idUnUninstall));
    ASSERT_TRUE(nvtest::WaitUntil([&] { return nvtest::Visible(run.Get(idUnFinish)); }, kWait)) << "no done look";
    EXPECT_EQ(nvtest::Text(run.Get(idUnTitle)), L"卸载完成");
    EXPECT_FALSE(nvtest::Visible(run.Get(idUnRemaining)));
    nvtest::Screenshot(L"uninstall-done");
    // All of the removal happened before the done look, the program's own file included.
    EXPECT_FALSE(PathIsDir(p.App));
    nvtest::Press(run.Get(idUnFinish));
    ASSERT_TRUE(run.Process.WaitFor(kWait));
    EXPECT_EQ(run.Process.ExitCode(), kUninstallOk);
  }
  for (const std::wstring& f : p.Shortcuts) EXPECT_FALSE(PathIsFile(f));
  EXPECT_FALSE(nvtest::KeyExists(HKEY_LOCAL_MACHINE, nvtest::UninstallKey(p.Guid), KEY_WOW64_32KEY));
}

TEST(UninstallWindow, AFileInUseIsListedAndTheRestRemoved) {
  TProduct p(nvtest::FreshDir(L"un-inuse"), L"NvUn InUse");
  p.Build();
  ASSERT_EQ(RunSetup(p.Exe, L"/Silent"), kExitOk);
  const std::wstring held = p.App + L"readme.txt";
  HANDLE h = CreateFileW(held.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  {
    TRun run(p);
    ASSERT_NE(run.Window, nullptr);
    nvtest::Press(run.Get(idUnUninstall));
    ASSERT_TRUE(nvtest::WaitUntil([&] { return nvtest::Visible(run.Get(idUnFinish)); }, kWait));
    EXPECT_TRUE(nvtest::Visible(run.Get(idUnRemaining)));
    // In use: scheduled for removal at the next restart, and said so.
    EXPECT_NE(nvtest::Text(run.Get(idUnRemaining)).find(L"重新启动后删除：" + held), std::wstring::npos)
        << "the file in use is not listed";
    nvtest::Screenshot(L"uninstall-partly");
    nvtest::Press(run.Get(idUnFinish));
    ASSERT_TRUE(run.Process.WaitFor(kWait));
    EXPECT_EQ(run.Process.ExitCode(), kUninstallRestartNeeded);
  }
  CloseHandle(h);
  EXPECT_TRUE(PathIsFile(held));
  for (const std::wstring& f : p.Files) {
    if (f == held) continue;
    EXPECT_FALSE(PathIsFile(f));
  }
  EXPECT_FALSE(PathIsFile(p.App + L"Uninstall.da1"));
  EXPECT_FALSE(nvtest::KeyExists(HKEY_LOCAL_MACHINE, p.ProductKey(), KEY_WOW64_32KEY));
  nvtest::DeleteKeyTree(HKEY_LOCAL_MACHINE, p.CompanyKey());
}

TEST(UninstallData, DamagedOrMissingRemovesNothing) {
  TProduct p(nvtest::FreshDir(L"un-damaged"), L"NvUn Damaged");
  p.Build();
  ASSERT_EQ(RunSetup(p.Exe, L"/Silent"), kExitOk);
  const std::wstring da1 = p.App + L"Uninstall.da1";
  const std::string good = nvtest::ReadBytes(da1);

  // Damaged, "/SILENT": one line on standard output, exit code 1.
  nvtest::WriteBytes(da1, good.substr(0, good.size() / 2));
  {
    nvtest::TSetup run(p.App + L"Uninstall.exe", L"/SILENT");
    ASSERT_TRUE(run.WaitFor(kWait));
    EXPECT_EQ(run.ExitCode(), kUninstallDataDamaged);
    const std::string out = run.Output();
    EXPECT_NE(out.find(WideToAnsi(L"卸载数据文件已损坏：" + da1)), std::string::npos) << out;
  }
  ExpectInstalled(p);
  EXPECT_TRUE(PathIsFile(p.Shortcuts[0]));

  // Missing, interactive: a message box, and the same code.
  DeleteFileW(da1.c_str());
  {
    TProcess run(L"\"" + p.App + L"Uninstall.exe\"");
    HWND box = nvtest::WaitMessageBox(run.Id(), kWait);
    ASSERT_NE(box, nullptr) << "no message";
    EXPECT_NE(nvtest::AllChildTexts(box).find(L"找不到卸载数据文件：" + da1), std::wstring::npos)
        << nvtest::ReadBytes(da1);
    nvtest::AnswerMessageBox(box);
    ASSERT_TRUE(run.WaitFor(kWait));
    EXPECT_EQ(run.ExitCode(), kUninstallDataDamaged);
  }
  for (const std::wstring& f : p.Files) EXPECT_TRUE(PathIsFile(f));
  EXPECT_EQ(nvtest::RegString(HKEY_LOCAL_MACHINE, p.ProductKey(), L"InstallDir"), p.App);
  nvtest::DeleteKeyTree(HKEY_LOCAL_MACHINE, nvtest::UninstallKey(p.Guid));
  nvtest::DeleteKeyTree(HKEY_LOCAL_MACHINE, p.CompanyKey());
}
