// Start-up: mode selection, damaged packages, the idle window's contents and
// layout, the command-line switches.
#include <gtest/gtest.h>

#include "ExitCodes.h"
#include "MainFrm.h"
#include "NvSysUtils.h"
#include "SetupWindow.h"

using namespace nvtest;

TEST(Startup, PackageWithoutMarkerEndsAtOnceWithZeroAndNoWindow) {
  TUiPackage pkg(L"无标记", TestRoot() + L"nomarker\\");
  pkg.NoMarker = true;
  std::wstring exe = PackagePath(L"nomarker");
  pkg.Build(exe);
  TSetup setup(exe, L"");
  ASSERT_TRUE(setup.WaitFor(kWait));
  EXPECT_EQ(setup.ExitCode(), kExitOk);
  EXPECT_EQ(FindTop(setup.Id(), L"TMainForm"), nullptr);
}

TEST(Startup, DamagedProjectIsReportedWithExitCodeOne) {
  TUiPackage pkg(L"坏项目", TestRoot() + L"badproject\\");
  pkg.ProjectOverride = "<TSetupScript><BaseInfo AppTitle=\"x\"";  // cut off
  std::wstring exe = PackagePath(L"badproject");
  pkg.Build(exe);
  TSetup setup(exe, L"");
  HWND box = WaitMessageBox(setup.Id(), kWait);
  ASSERT_NE(box, nullptr);
  EXPECT_NE(AllChildTexts(box).find(L"安装包已损坏："), std::wstring::npos) << Utf8Encode(AllChildTexts(box));
  Screenshot(L"damaged-package-message");
  AnswerMessageBox(box);
  ASSERT_TRUE(setup.WaitFor(kWait));
  EXPECT_EQ(setup.ExitCode(), kExitDamagedPackage);
}

TEST(Startup, UndecodableProjectUnderSilentEndsWithOneWithoutAnyWindow) {
  TUiPackage pkg(L"坏数据", TestRoot() + L"badpayload\\");
  pkg.AddFile(L"{app}", L"a.txt", "abc");
  pkg.ProjectOverride = "not a zlib stream at all";
  pkg.ProjectOverrideRaw = true;
  std::wstring exe = PackagePath(L"badpayload");
  pkg.Build(exe);
  RemoveTree(TestRoot() + L"badpayload\\");
  TSetup setup(exe, L"/Silent");
  ASSERT_TRUE(setup.WaitFor(kWait));
  EXPECT_EQ(setup.ExitCode(), kExitDamagedPackage);
  EXPECT_FALSE(setup.Output().empty());
  EXPECT_FALSE(PathIsDir(TestRoot() + L"badpayload\\"));
}

TEST(Startup, MissingPictureOrAgreementResourceIsADamagedPackage) {
  for (int which = 0; which < 2; ++which) {
    TUiPackage pkg(L"缺资源", TestRoot() + L"missing\\");
    pkg.RemoveResource(which == 0 ? pkg.Info().IconResID : pkg.Info().LicenseResID);
    std::wstring exe = PackagePath(L"missing" + std::to_wstring(which));
    pkg.Build(exe);
    TSetup setup(exe, L"/Silent");
    ASSERT_TRUE(setup.WaitFor(kWait));
    EXPECT_EQ(setup.ExitCode(), kExitDamagedPackage) << which;
    EXPECT_NE(setup.Output().find("Resource"), std::string::npos) << setup.Output();
  }
}

TEST(Startup, PictureThatIsNotAPngIsADamagedPackage) {
  TUiPackage pkg(L"坏图片", TestRoot() + L"badpicture\\");
  pkg.SetResource(pkg.Info().IconResID, "GIF89a not really");
  std::wstring exe = PackagePath(L"badpicture");
  pkg.Build(exe);
  TSetup setup(exe, L"/Silent");
  ASSERT_TRUE(setup.WaitFor(kWait));
  EXPECT_EQ(setup.ExitCode(), kExitDamagedPackage);
}

TEST(Startup, IdleWindowShowsTheProjectAndIsLaidOutAsDesigned) {
  TUiPackage pkg(L"示例产品", L"{pf}\\示例产品");
  std::wstring exe = PackagePath(L"idle");
  pkg.Build(exe);
  TSetup setup(exe, L"");
  HWND main = WaitTop(setup.Id(), L"TMainForm", kWait);
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
  ASSERT_TRUE(setup.WaitFor(kWait));
  EXPECT_EQ(setup.ExitCode(), kExitNotInstalled);
}

TEST(Startup, EarlierInstallationFolderReplacesTheDefault) {
  TUiPackage pkg(L"旧版本", TestRoot() + L"default\\");
  const std::wstring key = UninstallKey(pkg.Info().GUID);
  const std::wstring earlier = L"D:\\较早的\\位置\\";
  SetRegString(HKEY_LOCAL_MACHINE, key, L"InstallLocation", earlier);
  std::wstring exe = PackagePath(L"earlier");
  pkg.Build(exe);
  TSetup setup(exe, L"");
  HWND main = WaitTop(setup.Id(), L"TMainForm", kWait);
  ASSERT_NE(main, nullptr);
  EXPECT_EQ(Text(Control(main, idEdtDestDir)), earlier);
  setup.Kill();
  DeleteKeyTree(HKEY_LOCAL_MACHINE, key);
}

TEST(Startup, OnlineStubShowsTheProxyLink) {
  TUiPackage pkg(L"在线安装", TestRoot() + L"online\\");
  pkg.OnlineStub = true;
  std::wstring exe = PackagePath(L"online");
  pkg.Build(exe);
  TSetup setup(exe, L"");
  HWND main = WaitTop(setup.Id(), L"TMainForm", kWait);
  ASSERT_NE(main, nullptr);
  EXPECT_TRUE(Visible(Control(main, idLblProxy)));
  EXPECT_EQ(Text(Control(main, idLblProxy)), L"代理服务器设置");
  EXPECT_TRUE(Visible(Control(main, idBtnInstall)));
  Screenshot(L"look-idle-online");
  setup.Kill();
}

TEST(Startup, OnlyOneExactSwitchArgumentIsRecognised) {
  TUiPackage pkg(L"开关", TestRoot() + L"switch\\");
  pkg.AddFile(L"{app}", L"a.txt", "switch");
  std::wstring exe = PackagePath(L"switch");
  pkg.Build(exe);
  RemoveTree(TestRoot() + L"switch\\");
  for (const wchar_t* args : {L"/Silent /Auto", L"-Silent", L"/Silentx", L"\"/Silent\" x"}) {
    TSetup setup(exe, args);
    HWND main = WaitTop(setup.Id(), L"TMainForm", kWait);
    ASSERT_NE(main, nullptr) << Utf8Encode(args);
    EXPECT_TRUE(Visible(Control(main, idBtnInstall))) << Utf8Encode(args);
    EXPECT_FALSE(PathIsDir(TestRoot() + L"switch\\")) << Utf8Encode(args);
    setup.Kill();
  }
  // Quotes group and are dropped: one argument /silent, case ignored.
  TSetup setup(exe, L"\"/sIlEnt\"");
  ASSERT_TRUE(setup.WaitFor(kWait));
  EXPECT_EQ(setup.ExitCode(), kExitOk);
  EXPECT_EQ(ReadBytes(TestRoot() + L"switch\\a.txt"), "switch");
}
