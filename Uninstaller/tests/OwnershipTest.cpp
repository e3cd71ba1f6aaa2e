// The uninstaller removes what the install's journal records and nothing
// else: folders and files that were there before, items another product
// shares, items the user changed; and it refuses to act for an installation
// that is not registered in its own folder. Each case compares the machine
// (drive C:, HKLM\Software 32-bit view, HKCU) before and after.
#include <gtest/gtest.h>

#include "ExitCodes.h"
#include "NvSysUtils.h"
#include "NvSysUtilsWin.h"
#include "UninstallExitCodes.h"
#include "UninstallFixture.h"

using namespace nvtest;
using namespace untest;

namespace {

// The machine as the uninstall tests compare it: the packages and their
// output files, and the uninstaller's own file moved aside for removal at
// restart, are not the product's. The system's list of uninstall entries
// is there on every Windows (a fresh Wine prefix makes it with the first
// install).
TMachineSnapshot Take(const std::wstring& root) {
  EnsureKey(HKEY_LOCAL_MACHINE, L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall");
  return TakeSnapshot({root + L"*.exe", root + L"*.exe.out.txt", L"*\\~nvuninst-*.tmp"});
}

::testing::AssertionResult SameMachine(const TMachineSnapshot& before, const TMachineSnapshot& after) {
  const std::vector<std::string> changes = Differences(before, after);
  if (changes.empty()) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << "the machine changed:\n" << DifferenceText(changes);
}

// "Uninstall.exe /SILENT" with its output in a file of the test folder
// (root\Uninstall.exe.out.txt), not beside the program, where it would keep
// the install folder from being removed.
TRunOutput UninstallSilently(const std::wstring& root, const std::wstring& exe) {
  return RunWithOutput(exe, L"/SILENT", 90000, root + L"Uninstall.exe.out.txt");
}

}  // namespace

// Folders and files of the user's in and around the install folder (one of
// them a folder the product also installs into) are all still there after
// an install and its uninstall: the machine is as it was.
TEST(UninstallOwnership, WhatWasThereBeforeStays) {
  const std::wstring root = FreshDir(L"un-before");
  TProduct p(root, L"NvUn Before");
  p.Build();
  WriteBytes(p.App + L"notes.txt", "the user's");
  ASSERT_TRUE(CreateDirectoryW((p.App + L"empty").c_str(), nullptr));
  ASSERT_TRUE(CreateDirectoryW((p.App + L"data").c_str(), nullptr));
  const TMachineSnapshot before = Take(root);
  ASSERT_EQ(RunSetup(p.Exe, L"/Silent"), kExitOk);
  ASSERT_TRUE(PathIsFile(p.Files[3]));
  EXPECT_EQ(p.Uninstall(), kUninstallOk);
  EXPECT_TRUE(SameMachine(before, Take(root)));
}

// An uninstaller that is not its installation's: a copy in another folder,
// and an installation whose uninstall entry is gone. Nothing is removed.
TEST(UninstallOwnership, RefusesWithoutItsRegisteredInstallation) {
  const std::wstring root = FreshDir(L"un-forged");
  TProduct p(root, L"NvUn Forged");
  p.Build();
  ASSERT_EQ(RunSetup(p.Exe, L"/Silent"), kExitOk);
  const std::wstring copy = root + L"copy\\";
  for (const wchar_t* name : {L"Uninstall.exe", L"Uninstall.da1", L"Uninstall.da2", L"Uninstall.jnl"})
    WriteBytes(copy + name, ReadBytes(p.App + name));
  const TMachineSnapshot installed = Take(root);
  const TRunOutput elsewhere = UninstallSilently(root, copy + L"Uninstall.exe");
  EXPECT_EQ(elsewhere.Code, kUninstallDataDamaged) << elsewhere.Output;
  EXPECT_TRUE(Contains(elsewhere.Output, WideToAnsi(L"不在此卸载程序所在的文件夹"))) << elsewhere.Output;
  EXPECT_TRUE(SameMachine(installed, Take(root)));

  // The product's entry removed by hand: no installation to act for.
  const std::wstring entry = UninstallKey(p.Guid);
  DWORD type = 0;
  std::string data;
  ASSERT_TRUE(ReadValue(HKEY_LOCAL_MACHINE, entry, L"InstallLocation", KEY_WOW64_32KEY, type, data));
  DeleteKeyTree(HKEY_LOCAL_MACHINE, entry);
  const TMachineSnapshot unregistered = Take(root);
  const TRunOutput orphan = UninstallSilently(root, p.App + L"Uninstall.exe");
  EXPECT_EQ(orphan.Code, kUninstallDataDamaged) << orphan.Output;
  EXPECT_TRUE(Contains(orphan.Output, WideToAnsi(L"找不到"))) << orphan.Output;
  EXPECT_TRUE(SameMachine(unregistered, Take(root)));
  for (const std::wstring& link : p.Shortcuts) DeleteFileW(link.c_str());
  RemoveDirectoryW((ProgramsDir() + p.Title).c_str());
  DeleteKeyTree(HKEY_LOCAL_MACHINE, p.CompanyKey());
  DeleteKeyTree(HKEY_CURRENT_USER, L"Software\\" + p.Title);
}

// The same folder through another spelling (its path through Wine's drive
// Z:, the host's whole file system) is the same installation.
TEST(UninstallOwnership, AnotherSpellingOfItsFolderIsItsFolder) {
  const std::wstring root = FreshDir(L"un-spelling");
  TProduct p(root, L"NvUn Spelling");
  p.Build();
  wchar_t prefix[MAX_PATH] = {};
  if (!GetEnvironmentVariableW(L"WINEPREFIX", prefix, MAX_PATH)) GTEST_SKIP() << "WINEPREFIX is not set";
  std::wstring spelled = L"Z:" + std::wstring(prefix) + L"/drive_c/" + p.App.substr(3) + L"Uninstall.exe";
  for (wchar_t& c : spelled)
    if (c == L'/') c = L'\\';
  const TMachineSnapshot before = Take(root);
  ASSERT_EQ(RunSetup(p.Exe, L"/Silent"), kExitOk);
  ASSERT_TRUE(PathIsFile(spelled)) << WideToAnsi(spelled);
  EXPECT_EQ(RunSetup(spelled, L"/SILENT"), kUninstallOk);
  EXPECT_TRUE(SameMachine(before, Take(root)));
}

// Two products of one company share a registry value and a file outside
// their folders: both stay until the last of the two is removed; a file the
// user edited stays and is named.
TEST(UninstallOwnership, SharedItemsStayUntilTheLastProductAndEditedFilesStay) {
  const std::wstring root = FreshDir(L"un-shared");
  TProduct a(root + L"a\\", L"NvUn SharedA");
  TProduct b(root + L"b\\", L"NvUn SharedB");
  wchar_t pf[MAX_PATH] = {};
  ASSERT_GT(GetEnvironmentVariableW(L"ProgramFiles(x86)", pf, MAX_PATH), 0u);
  const std::wstring sharedDir = std::wstring(pf) + L"\\NvUn Co Shared\\";
  for (TProduct* p : {&a, &b}) {
    p->Package.AddReg(rrkLocalMachine, p->CompanyKey() + L"\\Shared", L"Common", L"1", rvtDWord);
    p->Package.AddFile(L"{pf}\\NvUn Co Shared", L"shared.dll", "one library for both");
    p->Build();
  }
  DeleteKeyTree(HKEY_LOCAL_MACHINE, a.CompanyKey());
  const TMachineSnapshot before = Take(root);
  ASSERT_EQ(RunSetup(a.Exe, L"/Silent"), kExitOk);
  ASSERT_EQ(RunSetup(b.Exe, L"/Silent"), kExitOk);
  WriteBytes(a.App + L"readme.txt", "edited by the user");

  const TRunOutput first = UninstallSilently(root, a.App + L"Uninstall.exe");
  EXPECT_EQ(first.Code, kUninstallOk) << first.Output;
  EXPECT_TRUE(Contains(first.Output, WideToAnsi(L"已保留修改过的文件：" + a.App + L"readme.txt"))) << first.Output;
  EXPECT_TRUE(Contains(first.Output, WideToAnsi(L"已保留其他产品共用的项目：" + sharedDir + L"shared.dll")))
      << first.Output;
  EXPECT_EQ(ReadBytes(a.App + L"readme.txt"), "edited by the user");
  EXPECT_EQ(ReadBytes(sharedDir + L"shared.dll"), "one library for both");
  EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, a.CompanyKey() + L"\\Shared", KEY_WOW64_32KEY));
  EXPECT_FALSE(PathIsFile(a.Files[1]));
  for (const std::wstring& f : b.Files) EXPECT_TRUE(PathIsFile(f)) << WideToAnsi(f);

  // The last one removes the shared items. The folder and the key around
  // them were made by the first product, whose uninstall left them because
  // they were in use: they stay, empty.
  const TRunOutput last = UninstallSilently(root, b.App + L"Uninstall.exe");
  EXPECT_EQ(last.Code, kUninstallOk) << last.Output;
  EXPECT_TRUE(RemoveDirectoryW(sharedDir.c_str())) << "the shared folder is not empty";
  DeleteKeyTree(HKEY_LOCAL_MACHINE, a.CompanyKey() + L"\\Shared");
  EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, a.CompanyKey(), KEY_WOW64_32KEY));
  DeleteKeyTree(HKEY_LOCAL_MACHINE, a.CompanyKey());
  EXPECT_TRUE(DeleteFileW((a.App + L"readme.txt").c_str()));
  EXPECT_TRUE(RemoveDirectoryW(a.App.c_str())) << "the first product's folder holds more than the edited file";
  EXPECT_TRUE(SameMachine(before, Take(root)));
}

// An installation made before journals (no "Uninstall.jnl"): removed from its
// project, under the same rules: the user's files and folders stay.
TEST(UninstallOwnership, AnInstallationWithoutJournalIsRemovedFromItsProject) {
  const std::wstring root = FreshDir(L"un-nojournal");
  TProduct p(root, L"NvUn NoJournal");
  p.Build();
  DeleteKeyTree(HKEY_LOCAL_MACHINE, p.CompanyKey());
  WriteBytes(p.App + L"data\\mine.txt", "the user's");
  const TMachineSnapshot before = Take(root);
  ASSERT_EQ(RunSetup(p.Exe, L"/Silent"), kExitOk);
  ASSERT_TRUE(DeleteFileW((p.App + L"Uninstall.jnl").c_str()));
  EXPECT_EQ(p.Uninstall(), kUninstallOk);
  // The project does not say which keys the install created: the company's
  // key stays, empty.
  EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, p.CompanyKey(), KEY_WOW64_32KEY));
  DeleteKeyTree(HKEY_LOCAL_MACHINE, p.CompanyKey());
  DeleteKeyTree(HKEY_CURRENT_USER, L"Software\\" + p.Title);
  EXPECT_TRUE(SameMachine(before, Take(root)));
}
