// Start-up: mode selection, damaged packages, the idle window's contents and
// layout, the command-line switches.
#include <gtest/gtest.h>

#include "CopyFileFailureFrm.h"
#include "ExitCodes.h"
#include "MainFrm.h"
#include "NvPlatform.h"
#include "NvSysUtils.h"
#include "PackageFormat.h"
#include "UiTestSupport.h"

using namespace uitest;

namespace {

constexpr DWORD kWait = 30000;

std::wstring PackagePath(const std::wstring& name) { return FreshDir(L"pkg-" + name) + L"Setup.exe"; }

}  // namespace

TEST(Startup, PackageWithoutMarkerEndsAtOnceWithZeroAndNoWindow) {
  TPackage pkg(L"无标记", L"C:\\nvui-tests\\nomarker\\");
  pkg.NoMarker = true;
  std::wstring exe = PackagePath(L"nomarker");
  pkg.Build(exe);
  TSetup setup(exe, L"");
  ASSERT_TRUE(setup.WaitExit(kWait));
  EXPECT_EQ(setup.ExitCode(), kExitOk);
  EXPECT_EQ(FindTop(setup.Pid(), L"TMainForm"), nullptr);
}

TEST(Startup, DamagedProjectIsReportedWithExitCodeOne) {
  TPackage pkg(L"坏项目", L"C:\\nvui-tests\\badproject\\");
  pkg.ProjectOverride = "<TSetupScript><BaseInfo AppTitle=\"x\"";  // cut off
  std::wstring exe = PackagePath(L"badproject");
  pkg.Build(exe);
  TSetup setup(exe, L"");
  HWND box = WaitMessageBox(setup.Pid(), kWait);
  ASSERT_NE(box, nullptr);
  EXPECT_NE(AllTexts(box).find(L"安装包已损坏："), std::wstring::npos) << Utf8Encode(AllTexts(box));
  Screenshot(L"damaged-package-message");
  AnswerMessageBox(box);
  ASSERT_TRUE(setup.WaitExit(kWait));
  EXPECT_EQ(setup.ExitCode(), kExitDamagedPackage);
}

TEST(Startup, UndecodableProjectUnderSilentEndsWithOneWithoutAnyWindow) {
  TPackage pkg(L"坏数据", L"C:\\nvui-tests\\badpayload\\");
  pkg.AddFile(L"a.txt", "abc");
  pkg.ProjectOverride = "not a zlib stream at all";
  pkg.ProjectOverrideRaw = true;
  std::wstring exe = PackagePath(L"badpayload");
  pkg.Build(exe);
  RemoveTree(L"C:\\nvui-tests\\badpayload\\");
  TSetup setup(exe, L"/Silent");
  ASSERT_TRUE(setup.WaitExit(kWait));
  EXPECT_EQ(setup.ExitCode(), kExitDamagedPackage);
  EXPECT_FALSE(setup.Output().empty());
  EXPECT_FALSE(IsDir(L"C:\\nvui-tests\\badpayload\\"));
}

TEST(Startup, MissingPictureOrAgreementResourceIsADamagedPackage) {
  for (int which = 0; which < 2; ++which) {
    TPackage pkg(L"缺资源", L"C:\\nvui-tests\\missing\\");
    pkg.RemoveResource(which == 0 ? pkg.Info().IconResID : pkg.Info().LicenseResID);
    std::wstring exe = PackagePath(L"missing" + std::to_wstring(which));
    pkg.Build(exe);
    TSetup setup(exe, L"/Silent");
    ASSERT_TRUE(setup.WaitExit(kWait));
    EXPECT_EQ(setup.ExitCode(), kExitDamagedPackage) << which;
    EXPECT_NE(setup.Output().find("Resource"), std::string::npos) << setup.Output();
  }
}

TEST(Startup, PictureThatIsNotAPngIsADamagedPackage) {
  TPackage pkg(L"坏图片", L"C:\\nvui-tests\\badpicture\\");
  pkg.SetResource(pkg.Info().IconResID, "GIF89a not really");
  std::wstring exe = PackagePath(L"badpicture");
  pkg.Build(exe);
  TSetup setup(exe, L"/Silent");
  ASSERT_TRUE(setup.WaitExit(kWait));
  EXPECT_EQ(setup.ExitCode(), kExitDamagedPackage);
}

TEST(Startup, IdleWindowShowsTheProjectAndIsLaidOutAsDesigned) {
  TPackage pkg(L"示例产品", L"{pf}\\示例产品");
  std::wstring exe = PackagePath(L"idle");
  pkg.Build(exe);
  TSetup setup(exe, L"");
  HWND main = WaitTop(setup.Pid(), L"TMainForm", kWait);
  ASSERT_NE(main, nullptr);
  RECT wr;
  GetWindowRect(main, &wr);
  EXPECT_EQ(wr.right - wr.left, 750);
  EXPECT_EQ(wr.bottom - wr.top, 480);
  EXPECT_EQ(Text(Control(main, idLblAppTitle)), L"示例产品");
  EXPECT_EQ(Text(Control(main, idLblVersion)), L"版本：2.5.0.1");
  std::wstring dir = Text(Control(main, idEdtDestDir));
  EXPECT_TRUE(dir.find(L"Program Files") != std::wstring::npos && dir.ends_with(L"\\示例产品")) << Utf8Encode(dir);
  EXPECT_EQ(dir.find(L"{pf}"), std::wstring::npos);
  EXPECT_FALSE(Visible(Control(main, idLblProxy)));
  EXPECT_TRUE(Visible(Control(main, idCbLicense)));
  EXPECT_TRUE(Enabled(Control(main, idBtnInstall)));
  EXPECT_FALSE(Visible(Control(main, idBtnRunApp)));
  EXPECT_FALSE(Visible(Control(main, idPbProgress)));
  // Centred column and the stretched folder row.
  EXPECT_EQ(RectInParent(Control(main, idImgIcon)).left, (750 - 96) / 2);
  EXPECT_EQ(RectInParent(Control(main, idBtnInstall)).left, (750 - 200) / 2);
  RECT browse = RectInParent(Control(main, idBtnDestDir));
  EXPECT_EQ(browse.left, 750 - 89 - 16);
  RECT edit = RectInParent(Control(main, idEdtDestDir));
  EXPECT_EQ(edit.left, 108);
  EXPECT_EQ(edit.right - edit.left, browse.left - 108 - 8);
  EXPECT_EQ(FocusOf(main), Control(main, idBtnInstall));
  Screenshot(L"look-idle");
  ClickAt(Control(main, idImgClose));
  ASSERT_TRUE(setup.WaitExit(kWait));
  EXPECT_EQ(setup.ExitCode(), kExitNotInstalled);
}

TEST(Startup, EarlierInstallationFolderReplacesTheDefault) {
  TPackage pkg(L"旧版本", L"C:\\nvui-tests\\default\\");
  std::wstring key = Format(UninstallKeyFormat, {std::wstring(UninstallKeyRoot), pkg.Info().GUID});
  HKEY k = nullptr;
  ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, key.c_str(), 0, nullptr, 0, NvRegAccess(KEY_ALL_ACCESS), nullptr, &k,
                            nullptr),
            ERROR_SUCCESS);
  const wchar_t earlier[] = L"D:\\较早的\\位置\\";
  RegSetValueExW(k, L"InstallLocation", 0, REG_SZ, reinterpret_cast<const BYTE*>(earlier), sizeof(earlier));
  RegCloseKey(k);
  std::wstring exe = PackagePath(L"earlier");
  pkg.Build(exe);
  TSetup setup(exe, L"");
  HWND main = WaitTop(setup.Pid(), L"TMainForm", kWait);
  ASSERT_NE(main, nullptr);
  EXPECT_EQ(Text(Control(main, idEdtDestDir)), earlier);
  setup.Kill();
  RegDeleteKeyExW(HKEY_LOCAL_MACHINE, key.c_str(), KEY_WOW64_32KEY, 0);
}

TEST(Startup, OnlineStubShowsTheProxyLink) {
  TPackage pkg(L"在线安装", L"C:\\nvui-tests\\online\\");
  pkg.OnlineStub = true;
  std::wstring exe = PackagePath(L"online");
  pkg.Build(exe);
  TSetup setup(exe, L"");
  HWND main = WaitTop(setup.Pid(), L"TMainForm", kWait);
  ASSERT_NE(main, nullptr);
  EXPECT_TRUE(Visible(Control(main, idLblProxy)));
  EXPECT_EQ(Text(Control(main, idLblProxy)), L"代理服务器设置");
  EXPECT_TRUE(Visible(Control(main, idBtnInstall)));
  Screenshot(L"look-idle-online");
  setup.Kill();
}

TEST(Startup, OnlyOneExactSwitchArgumentIsRecognised) {
  TPackage pkg(L"开关", L"C:\\nvui-tests\\switch\\");
  pkg.AddFile(L"a.txt", "switch");
  std::wstring exe = PackagePath(L"switch");
  pkg.Build(exe);
  RemoveTree(L"C:\\nvui-tests\\switch\\");
  for (const wchar_t* args : {L"/Silent /Auto", L"-Silent", L"/Silentx", L"\"/Silent\" x"}) {
    TSetup setup(exe, args);
    HWND main = WaitTop(setup.Pid(), L"TMainForm", kWait);
    ASSERT_NE(main, nullptr) << Utf8Encode(args);
    EXPECT_TRUE(Visible(Control(main, idBtnInstall))) << Utf8Encode(args);
    EXPECT_FALSE(IsDir(L"C:\\nvui-tests\\switch\\")) << Utf8Encode(args);
    setup.Kill();
  }
  // Quotes group and are dropped: one argument /silent, case ignored.
  TSetup setup(exe, L"\"/sIlEnt\"");
  ASSERT_TRUE(setup.WaitExit(kWait));
  EXPECT_EQ(setup.ExitCode(), kExitOk);
  EXPECT_EQ(ReadBytes(L"C:\\nvui-tests\\switch\\a.txt"), "switch");
}
