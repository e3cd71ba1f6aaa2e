// The upgrade path: a later version's setup runs the earlier version's
// "QuietUninstallString" (this uninstaller) and waits for it, then installs.
#include <gtest/gtest.h>

#include "ExitCodes.h"
#include "WineTestSupport.h"
#include "UninstallFixture.h"

using namespace nvtest;
using namespace untest;

namespace {

struct TVersions {
  explicit TVersions(const std::wstring& root)
      : App(root + L"app\\"), V1(root + L"v1\\", L"NvUn Upgrade", App), V2(root + L"v2\\", L"NvUn Upgrade", App) {
    V1.Info().Version = L"1.0.0.0";
    V2.Info().Version = L"2.0.0.0";
    V2.Info().GUID = V1.Info().GUID;
    for (TTestPackage* p : {&V1, &V2}) {
      p->AddFile(L"{app}", L"Uninstall.exe", ReadBytes(UninstallExe()));
      p->AddFile(L"{app}\\bin", L"Tool.exe", ReadBytes(ProbeExe()));
    }
    V1.AddFile(L"{app}", L"common.txt", "version 1");
    V1.AddFile(L"{app}", L"only1.txt", "only in version 1");
    V1.AddFile(L"{app}\\old", L"Old.exe", ReadBytes(ProbeExe()));
    V2.AddFile(L"{app}", L"common.txt", "version 2, longer than before");
    V2.AddFile(L"{app}\\new", L"only2.bin", RandomBytes(7000, 2));
    V1Exe = root + L"Upgrade-1.exe";
    V2Exe = root + L"Upgrade-2.exe";
    V1.Build(V1Exe);
    V2.Build(V2Exe);
  }
  ~TVersions() { DeleteKeyTree(HKEY_LOCAL_MACHINE, UninstallKey(V1.Info().GUID)); }

  void ExpectVersion2() {
    EXPECT_FALSE(PathIsFile(App + L"only1.txt")) << "a file only version 1 had stays";
    EXPECT_FALSE(PathIsFile(App + L"old\\Old.exe")) << "version 1's program stays";
    EXPECT_FALSE(PathIsDir(App + L"old"));
    EXPECT_EQ(ReadBytes(App + L"common.txt"), "version 2, longer than before");
    EXPECT_TRUE(ReadBytes(App + L"new\\only2.bin") == RandomBytes(7000, 2));
    EXPECT_TRUE(ReadBytes(App + L"bin\\Tool.exe") == ReadBytes(ProbeExe()));
    EXPECT_TRUE(ReadBytes(App + L"Uninstall.exe") == ReadBytes(UninstallExe()));
    EXPECT_EQ(DecodePayload(ReadBytes(App + L"Uninstall.da1")), V2.BuiltProjectXml());
    EXPECT_EQ(RegString(HKEY_LOCAL_MACHINE, UninstallKey(V1.Info().GUID), L"DisplayVersion"), L"2.0.0.0");
    EXPECT_EQ(RegString(HKEY_LOCAL_MACHINE, UninstallKey(V1.Info().GUID), L"InstallLocation"), App);
  }

  std::wstring App;
  TTestPackage V1, V2;
  std::wstring V1Exe, V2Exe;
};

}  // namespace

TEST(UninstallUpgrade, VersionTwoReplacesVersionOne) {
  TVersions v(FreshDir(L"un-upgrade"));
  ASSERT_EQ(RunSetup(v.V1Exe, L"/Silent"), kExitOk);
  ASSERT_TRUE(PathIsFile(v.App + L"only1.txt"));
  ASSERT_EQ(RunSetup(v.V2Exe, L"/Silent"), kExitOk);
  v.ExpectVersion2();
}

TEST(UninstallUpgrade, AProgramOfVersionOneStillRunning) {
  TVersions v(FreshDir(L"un-upgrade-running"));
  ASSERT_EQ(RunSetup(v.V1Exe, L"/Silent"), kExitOk);
  // Old.exe is not a file of version 2, so the setup's own step would not end
  // it: only version 1's uninstaller does.
  TProcess old(L"\"" + v.App + L"old\\Old.exe\" sleep 120000");
  TProcess tool(L"\"" + v.App + L"bin\\Tool.exe\" sleep 120000");
  ASSERT_TRUE(old.Started() && tool.Started());
  ASSERT_FALSE(old.WaitFor(500));
  ASSERT_EQ(RunSetup(v.V2Exe, L"/Silent"), kExitOk);
  EXPECT_TRUE(old.WaitFor(0));
  EXPECT_TRUE(tool.WaitFor(0));
  v.ExpectVersion2();
}

// The setup ends the running programs it replaces, matched by the file they
// run from: a program of the same name elsewhere and another folder's
// Uninstall.exe are left alone.
TEST(UninstallUpgrade, SetupEndsOnlyTheProgramsItReplaces) {
  const std::wstring root = FreshDir(L"un-other");
  const std::wstring other = root + L"other\\Uninstall.exe";
  WriteBytes(other, ReadBytes(ProbeExe()));
  TTestPackage pkg(root, L"NvUn Other", root + L"app\\");
  pkg.AddFile(L"{app}", L"Uninstall.exe", ReadBytes(UninstallExe()));
  pkg.AddFile(L"{app}", L"Tool.exe", ReadBytes(ProbeExe()));
  pkg.Build(root + L"Other.exe");
  WriteBytes(root + L"other\\Tool.exe", ReadBytes(ProbeExe()));
  WriteBytes(root + L"app\\Tool.exe", ReadBytes(ProbeExe()));
  TProcess running(L"\"" + other + L"\" sleep 120000");
  TProcess elsewhere(L"\"" + root + L"other\\Tool.exe\" sleep 120000");
  TProcess replaced(L"\"" + root + L"app\\Tool.exe\" sleep 120000");
  ASSERT_TRUE(running.Started() && elsewhere.Started() && replaced.Started());
  ASSERT_EQ(RunSetup(root + L"Other.exe", L"/Silent"), kExitOk);
  EXPECT_TRUE(replaced.WaitFor(5000)) << "the program the install replaces still runs";
  EXPECT_FALSE(elsewhere.WaitFor(0)) << "Setup ended a program of the same name in another folder";
  EXPECT_FALSE(running.WaitFor(0)) << "Setup ended another folder's Uninstall.exe";
  EXPECT_TRUE(PathIsFile(root + L"app\\Uninstall.exe"));
  running.Kill();
  elsewhere.Kill();
  DeleteKeyTree(HKEY_LOCAL_MACHINE, UninstallKey(pkg.Info().GUID));
}
