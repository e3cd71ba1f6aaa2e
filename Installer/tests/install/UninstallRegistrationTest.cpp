// The uninstall data files and the uninstall entry, read back exactly.
#include <gtest/gtest.h>

#include "ExitCodes.h"
#include "WineTestSupport.h"
#include "NvStream.h"

using namespace nvtest;

namespace {

std::wstring Today() {
  SYSTEMTIME st;
  GetLocalTime(&st);
  wchar_t text[16];
  swprintf(text, 16, L"%04u%02u%02u", st.wYear, st.wMonth, st.wDay);
  return text;
}

std::wstring ExpectedDisplayName(const TSetupBaseInfo& info) { return info.AppTitle + L" 版本 " + info.Version; }

}  // namespace

TEST(UninstallRegistration, WritesTheDataFilesAndEveryValueOfTheEntry) {
  const std::wstring root = FreshDir(L"uninstall");
  const std::wstring app = root + L"app\\";
  TTestPackage pkg(root, L"测试产品 NvOps", app);
  TSetupBaseInfo& info = pkg.Info();
  info.Version = L"2.7.1.30";
  info.CompanyName = L"诺维软件";
  info.CompanyUrl = L"http://nvops.example/产品";
  const std::string uninstaller = ReadBytes(ProbeExe());
  pkg.AddFile(L"{app}", L"Uninstall.exe", uninstaller);
  pkg.AddFile(L"{app}", L"data.bin", RandomBytes(3001, 3));
  pkg.AddFile(L"{app}", L"empty.txt", "");
  const std::wstring exe = root + L"NvOpsUninstall.exe";
  pkg.Build(exe);

  const std::wstring dayBefore = Today();
  ASSERT_EQ(RunSetup(exe, L"/Silent"), kExitOk);
  const std::wstring dayAfter = Today();

  const std::wstring key = UninstallKey(info.GUID);
  const std::wstring appNoSlash = app.substr(0, app.size() - 1);
  EXPECT_EQ(RegString(HKEY_LOCAL_MACHINE, key, L"DisplayName"), L"测试产品 NvOps 版本 2.7.1.30");
  EXPECT_EQ(RegString(HKEY_LOCAL_MACHINE, key, L"DisplayVersion"), L"2.7.1.30");
  // Kilobytes, rounded up.
  EXPECT_EQ(RegDword(HKEY_LOCAL_MACHINE, key, L"EstimatedSize"),
            static_cast<int64_t>((uninstaller.size() + 3001 + 1023) / 1024));
  EXPECT_EQ(RegString(HKEY_LOCAL_MACHINE, key, L"HelpLink"), L"http://nvops.example/产品");
  const std::wstring date = RegString(HKEY_LOCAL_MACHINE, key, L"InstallDate");
  EXPECT_TRUE(date == dayBefore || date == dayAfter) << std::string(date.begin(), date.end());
  EXPECT_EQ(RegString(HKEY_LOCAL_MACHINE, key, L"InstallLocation"), app);
  EXPECT_EQ(RegDword(HKEY_LOCAL_MACHINE, key, L"MajorVersion"), 2);
  EXPECT_EQ(RegDword(HKEY_LOCAL_MACHINE, key, L"MinorVersion"), 7);
  EXPECT_EQ(RegDword(HKEY_LOCAL_MACHINE, key, L"NoModify"), 1);
  EXPECT_EQ(RegDword(HKEY_LOCAL_MACHINE, key, L"NoRepair"), 1);
  EXPECT_EQ(RegString(HKEY_LOCAL_MACHINE, key, L"Publisher"), L"诺维软件");
  EXPECT_EQ(RegString(HKEY_LOCAL_MACHINE, key, L"QuietUninstallString"),
            L"\"" + appNoSlash + L"\\Uninstall.exe\" /SILENT");
  EXPECT_EQ(RegString(HKEY_LOCAL_MACHINE, key, L"UninstallString"), L"\"" + appNoSlash + L"\\Uninstall.exe\"");
  EXPECT_EQ(RegString(HKEY_LOCAL_MACHINE, key, L"URLInfoAbout"), L"http://nvops.example/产品");
  EXPECT_EQ(RegString(HKEY_LOCAL_MACHINE, key, L"URLUpdateInfo"), L"http://nvops.example/产品");
  EXPECT_EQ(RegDword(HKEY_LOCAL_MACHINE, key, L"VersionMajor"), 2);
  EXPECT_EQ(RegDword(HKEY_LOCAL_MACHINE, key, L"VersionMinor"), 7);
  // The 32-bit view, where Windows' list of programs looks for 32-bit products.
  EXPECT_EQ(RegString(HKEY_LOCAL_MACHINE, L"Software\\Wow6432Node" + key.substr(8), L"DisplayVersion",
                      KEY_WOW64_64KEY),
            L"2.7.1.30");
  EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, UninstallKey(info.GUID, L"_is1"), KEY_WOW64_32KEY));

  // Uninstall.da1: the project as loaded, container-encoded.
  const std::string projectText = DecodePayload(ReadBytes(app + L"Uninstall.da1"));
  EXPECT_EQ(projectText, pkg.BuiltProjectXml());
  TMemoryStream project(projectText);
  TSetupScript stored;
  stored.LoadFromStream(project, 0);
  EXPECT_EQ(stored.BaseInfo()->GUID, info.GUID);
  ASSERT_EQ(stored.FileList()->Count(), 3);
  EXPECT_EQ(stored.FileList()->Items(1)->FileBytes, 3001);
  // Uninstall.da2: the product picture, container-encoded.
  EXPECT_TRUE(DecodePayload(ReadBytes(app + L"Uninstall.da2")) == pkg.IconPng());
}

TEST(UninstallRegistration, EmptyFieldsNoFilesAndASecondInstallRewritesTheEntry) {
  const std::wstring root = FreshDir(L"uninstall2");
  const std::wstring app = root + L"app\\";
  TTestPackage pkg(root, L"NvOps Bare", app);
  pkg.Info().Version = L"beta.3";
  const std::wstring exe = root + L"NvOpsBare.exe";
  pkg.Build(exe);
  const std::wstring key = UninstallKey(pkg.Info().GUID);

  ASSERT_EQ(RunSetup(exe, L"/Silent"), kExitOk);
  EXPECT_EQ(RegString(HKEY_LOCAL_MACHINE, key, L"DisplayName"), ExpectedDisplayName(pkg.Info()));
  EXPECT_EQ(RegDword(HKEY_LOCAL_MACHINE, key, L"EstimatedSize"), 0);
  EXPECT_EQ(RegDword(HKEY_LOCAL_MACHINE, key, L"MajorVersion"), 0);
  EXPECT_EQ(RegDword(HKEY_LOCAL_MACHINE, key, L"VersionMinor"), 0);
  EXPECT_EQ(RegString(HKEY_LOCAL_MACHINE, key, L"HelpLink"), L"");
  EXPECT_EQ(RegString(HKEY_LOCAL_MACHINE, key, L"Publisher"), L"");
  EXPECT_EQ(RegString(HKEY_LOCAL_MACHINE, key, L"URLInfoAbout"), L"");
  EXPECT_EQ(RegString(HKEY_LOCAL_MACHINE, key, L"URLUpdateInfo"), L"");

  // A later install over the same product writes the whole entry again; the
  // earlier entry's QuietUninstallString names an uninstaller that is absent.
  SetRegString(HKEY_LOCAL_MACHINE, key, L"DisplayName", L"stale");
  SetRegString(HKEY_LOCAL_MACHINE, key, L"InstallDate", L"19990101");
  SetRegDword(HKEY_LOCAL_MACHINE, key, L"NoModify", 0);
  ASSERT_EQ(RunSetup(exe, L"/Silent"), kExitOk);
  EXPECT_EQ(RegString(HKEY_LOCAL_MACHINE, key, L"DisplayName"), ExpectedDisplayName(pkg.Info()));
  EXPECT_NE(RegString(HKEY_LOCAL_MACHINE, key, L"InstallDate"), L"19990101");
  EXPECT_EQ(RegDword(HKEY_LOCAL_MACHINE, key, L"NoModify"), 1);
  DeleteKeyTree(HKEY_LOCAL_MACHINE, key);
}

TEST(UninstallRegistration, EstimatedSizeSumsPastTwoGigabytes) {
  const std::wstring root = FreshDir(L"uninstall3");
  const std::wstring app = root + L"app\\";
  TTestPackage pkg(root, L"NvOps Large", app, TPackMode::ResourceWriter);
  // The recorded sizes, not the payloads, make the estimate.
  pkg.AddFile(L"{app}", L"a.bin", "a")->FileBytes = 2000000000;
  pkg.AddFile(L"{app}", L"b.bin", "b")->FileBytes = 2000000001;
  const std::wstring exe = root + L"NvOpsLarge.exe";
  pkg.Build(exe);

  ASSERT_EQ(RunSetup(exe, L"/Silent"), kExitOk);
  EXPECT_EQ(RegDword(HKEY_LOCAL_MACHINE, UninstallKey(pkg.Info().GUID), L"EstimatedSize"),
            (4000000001ll + 1023) / 1024);
  DeleteKeyTree(HKEY_LOCAL_MACHINE, UninstallKey(pkg.Info().GUID));
}

// Leaves its entry for Wine's list of installed programs (checked by the
// shell test that runs this case).
TEST(UninstallRegistration, ListedAmongInstalledPrograms) {
  const std::wstring root = FreshDir(L"listed");
  const std::wstring app = root + L"app\\";
  TTestPackage pkg(root, L"NvOps Listed Product", app);
  pkg.Info().Version = L"3.1";
  const std::wstring exe = root + L"NvOpsListed.exe";
  pkg.Build(exe);
  ASSERT_EQ(RunSetup(exe, L"/Silent"), kExitOk);
  EXPECT_EQ(RegString(HKEY_LOCAL_MACHINE, UninstallKey(pkg.Info().GUID), L"DisplayName"),
            L"NvOps Listed Product 版本 3.1");
}
