// "Uninstall.exe /SILENT" after a real install: what the install made is
// gone, what others made stays.
#include <gtest/gtest.h>

#include "ExitCodes.h"
#include "WineTestSupport.h"
#include "UninstallExitCodes.h"
#include "UninstallFixture.h"

using namespace nvtest;
using namespace untest;

namespace {

std::string Narrow(const std::wstring& w) {
  int n = WideCharToMultiByte(CP_UTF8, 0, w.c_str(), static_cast<int>(w.size()), nullptr, 0, nullptr, nullptr);
  std::string s(n, '\0');
  WideCharToMultiByte(CP_UTF8, 0, w.c_str(), static_cast<int>(w.size()), s.data(), n, nullptr, nullptr);
  return s;
}

// Everything the product's install made is gone except what the caller keeps.
void ExpectRemoved(const TProduct& p) {
  for (const std::wstring& f : p.Files) EXPECT_FALSE(PathIsFile(f)) << Narrow(f) << ": still there";
  for (const std::wstring& l : p.Shortcuts) EXPECT_FALSE(PathIsFile(l)) << Narrow(l) << ": still there";
  EXPECT_FALSE(PathIsFile(p.App + L"Uninstall.da1"));
  EXPECT_FALSE(PathIsFile(p.App + L"Uninstall.da2"));
  EXPECT_FALSE(PathIsDir(ProgramsDir() + p.Title)) << "the Start-menu group stays";
  EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, UninstallKey(p.Guid), KEY_WOW64_32KEY));
  EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, p.ProductKey(), KEY_WOW64_32KEY));
  EXPECT_EQ(RegString(HKEY_LOCAL_MACHINE, p.CompanyKey(), p.Title + L" Path"), L"<missing>");
  EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, p.UserKey(), KEY_WOW64_32KEY));
  EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, L"Software\\" + p.Title, KEY_WOW64_32KEY));
  // The uninstaller's own file: deleted, or moved aside and deleted at restart.
  const std::vector<std::wstring> pending = PendingDeletes();
  for (const std::wstring& left : SelfLeftovers(p.Root)) {
    bool scheduled = false;
    for (const std::wstring& name : pending) scheduled = scheduled || _wcsicmp(name.c_str(), left.c_str()) == 0;
    EXPECT_TRUE(scheduled) << Narrow(left) << ": left without a deletion at restart";
  }
}

}  // namespace

TEST(UninstallSilent, RemovesWhatTheInstallMadeAndNothingElse) {
  const std::wstring root = FreshDir(L"un-silent");
  TProduct p(root, L"NvUn Silent");
  p.Build();
  // The company's key also holds another product's value: it must stay.
  SetRegString(HKEY_LOCAL_MACHINE, p.CompanyKey(), L"Other Product", L"C:\\Other\\");
  ASSERT_EQ(RunSetup(p.Exe, L"/Silent"), kExitOk);
  for (const std::wstring& f : p.Files) ASSERT_TRUE(PathIsFile(f)) << Narrow(f);
  for (const std::wstring& l : p.Shortcuts) ASSERT_TRUE(PathIsFile(l)) << Narrow(l);
  ASSERT_EQ(RegString(HKEY_LOCAL_MACHINE, p.ProductKey(), L"InstallDir"), p.App);

  // The installed program runs, and so does a program of the same name in
  // another folder: only the installed copy is ended.
  const std::wstring otherDir = root + L"other\\";
  CreateDirectoryW(otherDir.c_str(), nullptr);
  ASSERT_TRUE(CopyFileW(ProbeExe().c_str(), (otherDir + L"Tool.exe").c_str(), FALSE));
  TProcess installed(L"\"" + p.App + L"bin\\Tool.exe\" sleep 120000");
  TProcess other(L"\"" + otherDir + L"Tool.exe\" sleep 120000");
  ASSERT_TRUE(installed.Started() && other.Started());

  // A file the user made read-only is still the install's file.
  ASSERT_TRUE(SetFileAttributesW((p.App + L"readme.txt").c_str(), FILE_ATTRIBUTE_READONLY));

  EXPECT_EQ(p.Uninstall(L"/silent"), kUninstallOk);
  EXPECT_TRUE(installed.WaitFor(5000)) << "the installed program still runs";
  EXPECT_FALSE(other.WaitFor(0)) << "a program of the same name elsewhere was ended";
  other.Kill();
  ExpectRemoved(p);
  EXPECT_FALSE(PathIsDir(p.App)) << "the install folder stays";
  EXPECT_EQ(RegString(HKEY_LOCAL_MACHINE, p.CompanyKey(), L"Other Product"), L"C:\\Other\\");

  // Installed again, with a file the user added: it stays with its folders.
  // The company's key, made by this install this time, goes with it once
  // empty.
  DeleteKeyTree(HKEY_LOCAL_MACHINE, p.CompanyKey());
  ASSERT_EQ(RunSetup(p.Exe, L"/Silent"), kExitOk);
  WriteBytes(p.App + L"data\\my save.txt", "mine");
  EXPECT_EQ(p.Uninstall(), kUninstallOk);
  ExpectRemoved(p);
  EXPECT_EQ(ReadBytes(p.App + L"data\\my save.txt"), "mine");
  EXPECT_FALSE(PathIsDir(p.App + L"data\\levels"));
  EXPECT_FALSE(PathIsDir(p.App + L"bin"));
  EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, p.CompanyKey(), KEY_WOW64_32KEY)) << "the company's key the install made stays";
  EXPECT_TRUE(PathIsDir(DesktopDir()));
}

// Read by list_check.sh: Wine's list of installed programs shows the kept
// product and not the removed one.
TEST(UninstallSilent, ProductLeavesTheListOfInstalledPrograms) {
  const std::wstring root = FreshDir(L"un-list");
  TProduct kept(root + L"kept\\", L"NvUn Listed Kept");
  TProduct removed(root + L"removed\\", L"NvUn Listed Removed");
  kept.Build();
  removed.Build();
  ASSERT_EQ(RunSetup(kept.Exe, L"/Silent"), kExitOk);
  ASSERT_EQ(RunSetup(removed.Exe, L"/Silent"), kExitOk);
  ASSERT_EQ(removed.Uninstall(), kUninstallOk);
  EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, UninstallKey(kept.Guid), KEY_WOW64_32KEY));
  EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, UninstallKey(removed.Guid), KEY_WOW64_32KEY));
}
