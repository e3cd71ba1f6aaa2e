// The install driver driven through the window: folder check messages, the
// three looks, the run button, failures in the middle of the sequence, the
// agreement box and its viewer.
#include <gtest/gtest.h>

#include <windows.h>

#include <commctrl.h>

#include "ExitCodes.h"
#include "LicenseFrm.h"
#include "MainFrm.h"
#include "NvSysUtils.h"
#include "SetupWindow.h"

using namespace nvtest;

TEST(Driver, InteractiveInstallRunsToTheDoneLookAndTheRunButtonEndsWithZero) {
  std::wstring dest = TestRoot() + L"interactive\\新 目录\\深层";
  RemoveTree(TestRoot() + L"interactive\\");
  TUiPackage pkg(L"体验产品", TestRoot() + L"unused\\");
  pkg.AddFile(L"{app}", L"bin\\data.bin", RandomBytes(300000, 5));
  pkg.AddFile(L"{app}", L"readme.txt", "hello");
  pkg.AddRun(L"C:\\windows\\system32\\cmd.exe", L"/c echo ran>\"{app}ran.txt\"", L"", true);
  TRunning r(pkg, L"interactive");
  ASSERT_NE(r.Main, nullptr);
  TypeText(r.C(idEdtDestDir), dest + L"  ");  // trailing blanks are trimmed
  Press(r.C(idBtnInstall));
  ASSERT_TRUE(WaitDoneLook(r.Main, 60000));
  EXPECT_TRUE(Visible(r.C(idBtnRunApp)));
  EXPECT_FALSE(Visible(r.C(idPbProgress)));
  EXPECT_FALSE(Visible(r.C(idBtnInstall)));
  EXPECT_EQ(RectInParent(r.C(idBtnRunApp)).left, (748 - 200) / 2);
  EXPECT_EQ(SendMessageW(r.C(idPbProgress), PBM_GETRANGE, FALSE, 0), 2);
  EXPECT_EQ(SendMessageW(r.C(idPbProgress), PBM_GETPOS, 0, 0), 2);
  EXPECT_EQ(ReadBytes(dest + L"\\readme.txt"), "hello");
  EXPECT_EQ(ReadBytes(dest + L"\\bin\\data.bin"), RandomBytes(300000, 5));
  Screenshot(L"look-done");
  ClickAt(r.C(idBtnRunApp));  // with the mouse, as a user presses it
  ASSERT_TRUE(r.Setup->WaitFor(kWait));
  EXPECT_EQ(r.Setup->ExitCode(), kExitOk);
  EXPECT_TRUE(PathIsFile(dest + L"\\ran.txt"));
}

TEST(Driver, FolderCheckMessagesLeaveTheWindowIdle) {
  TUiPackage pkg(L"目录检查", TestRoot() + L"check\\");
  TRunning r(pkg, L"check");
  ASSERT_NE(r.Main, nullptr);
  HWND edit = r.C(idEdtDestDir);

  TypeText(edit, L"   ");
  Press(r.C(idBtnInstall));
  std::wstring text = AnswerNextMessage(r.Setup->Id(), kWait);
  EXPECT_TRUE(Contains(text, L"安装目录不能为空，请重新输入。")) << Utf8Encode(text);
  EXPECT_TRUE(WaitUntil([&] { return FocusOf(r.Main) == edit; }, 5000));
  EXPECT_TRUE(Visible(r.C(idBtnInstall)));

  // A folder below /proc cannot be created, and /proc takes no new file.
  TypeText(edit, L"Z:\\proc\\nvui-new\\sub");
  Press(r.C(idBtnInstall));
  HWND box = WaitMessageBox(r.Setup->Id(), kWait);
  ASSERT_NE(box, nullptr);
  Screenshot(L"message-create-folder");
  text = AnswerNextMessage(r.Setup->Id(), kWait);
  EXPECT_TRUE(Contains(text, L"创建安装目录失败：Z:\\proc\\nvui-new\\sub\\，请重新输入。")) << Utf8Encode(text);

  TypeText(edit, L"Z:\\proc");
  Press(r.C(idBtnInstall));
  text = AnswerNextMessage(r.Setup->Id(), kWait);
  EXPECT_TRUE(Contains(text, L"尝试在安装目录写入文件失败：Z:\\proc\\，请重新输入。")) << Utf8Encode(text);
  EXPECT_TRUE(Visible(r.C(idBtnInstall)));
  EXPECT_EQ(Text(r.C(idLblAppTitle)), L"目录检查");

  ClickAt(r.C(idImgClose));
  ASSERT_TRUE(r.Setup->WaitFor(kWait));
  EXPECT_EQ(r.Setup->ExitCode(), kExitNotInstalled);
}

TEST(Driver, AutoWithAFailingFolderReturnsToTheIdleLook) {
  TUiPackage pkg(L"自动安装", L"Z:\\proc\\nvui-auto\\x");
  std::wstring exe = PackagePath(L"auto");
  pkg.Build(exe);
  TSetup setup(exe, L"/AUTO");
  std::wstring text = AnswerNextMessage(setup.Id(), kWait);
  EXPECT_TRUE(Contains(text, L"创建安装目录失败：")) << Utf8Encode(text);
  HWND main = WaitTop(setup.Id(), L"TMainForm", kWait);
  ASSERT_NE(main, nullptr);
  // After the message the user can correct the folder and install.
  EXPECT_TRUE(WaitUntil([&] { return Visible(Control(main, idBtnInstall)); }, kWait));
  EXPECT_EQ(Text(Control(main, idLblAppTitle)), L"自动安装");
  EXPECT_TRUE(Visible(Control(main, idEdtDestDir)));
  EXPECT_FALSE(Visible(Control(main, idLblWait)));
  Screenshot(L"look-auto-after-folder-failure");
  // State 0: the close image works.
  ClickAt(Control(main, idImgClose));
  ASSERT_TRUE(setup.WaitFor(kWait));
  EXPECT_EQ(setup.ExitCode(), kExitNotInstalled);
}

TEST(Driver, AgreementBoxTogglesTheInstallButton) {
  TUiPackage pkg(L"协议", TestRoot() + L"agree\\");
  TRunning r(pkg, L"agree");
  ASSERT_NE(r.Main, nullptr);
  HWND box = r.C(idCbLicense);
  EXPECT_EQ(SendMessageW(box, BM_GETCHECK, 0, 0), BST_CHECKED);
  Press(box);
  EXPECT_TRUE(WaitUntil([&] { return !Enabled(r.C(idBtnInstall)); }, 5000));
  EXPECT_EQ(SendMessageW(box, BM_GETCHECK, 0, 0), BST_UNCHECKED);
  Screenshot(L"look-idle-agreement-unchecked");
  Press(box);
  EXPECT_TRUE(WaitUntil([&] { return Enabled(r.C(idBtnInstall)); }, 5000));
  // A mouse click and the Space key toggle it as well.
  ClickAt(box);
  EXPECT_TRUE(WaitUntil([&] { return !Enabled(r.C(idBtnInstall)); }, 5000));
  EXPECT_EQ(SendMessageW(box, BM_GETCHECK, 0, 0), BST_UNCHECKED);
  PostKey(box, VK_SPACE);
  EXPECT_TRUE(WaitUntil([&] { return Enabled(r.C(idBtnInstall)); }, 5000));
  EXPECT_EQ(SendMessageW(box, BM_GETCHECK, 0, 0), BST_CHECKED);
}

TEST(Driver, NoAgreementHidesTheBoxAndTheLink) {
  TUiPackage pkg(L"无协议", TestRoot() + L"noagree\\");
  pkg.RemoveResource(pkg.Info().LicenseResID);
  pkg.Info().LicenseResID.clear();
  TRunning r(pkg, L"noagree");
  ASSERT_NE(r.Main, nullptr);
  EXPECT_FALSE(Visible(r.C(idCbLicense)));
  EXPECT_FALSE(Visible(r.C(idLblLicense)));
  EXPECT_TRUE(Enabled(r.C(idBtnInstall)));
}

TEST(Driver, AgreementViewerShowsTheDecodedTextModally) {
  struct TCase {
    std::string Bytes;
    std::wstring Shown;
  };
  // UTF-16 big-endian with a line separator and a lone CR.
  std::wstring text16 = L"甲\x2028乙\r丙";
  std::string be = "\xFE\xFF";
  for (wchar_t c : text16) {
    be += static_cast<char>(c >> 8);
    be += static_cast<char>(c & 0xFF);
  }
  std::string le = "\xFF\xFE";
  for (wchar_t c : std::wstring(L"一\n二\r\n")) {
    le += static_cast<char>(c & 0xFF);
    le += static_cast<char>(c >> 8);
  }
  for (const TCase& c : {TCase{be, L"甲\r\n乙\r\n丙\r\n"}, TCase{le, L"一\r\n二\r\n"},
                         TCase{"plain\nascii", L"plain\r\nascii\r\n"}}) {
    TUiPackage pkg(L"协议文本", TestRoot() + L"license\\");
    pkg.SetLicense(c.Bytes);
    TRunning r(pkg, L"license");
    ASSERT_NE(r.Main, nullptr);
    ClickAt(r.C(idLblLicense));
    HWND viewer = WaitTop(r.Setup->Id(), L"TLicenseForm", kWait);
    ASSERT_NE(viewer, nullptr);
    EXPECT_EQ(Text(viewer), L"用户许可协议");
    RECT cr;
    GetClientRect(viewer, &cr);
    EXPECT_EQ(cr.right, 784);
    EXPECT_EQ(cr.bottom, 461);
    HWND memo = Control(viewer, TLicenseForm::idMemLicense);
    EXPECT_EQ(Text(memo), c.Shown);
    EXPECT_TRUE(GetWindowLongW(memo, GWL_STYLE) & ES_READONLY);
    EXPECT_FALSE(Enabled(r.Main));
    if (c.Bytes == be) Screenshot(L"dialog-license");
    PostMessageW(viewer, WM_CLOSE, 0, 0);
    EXPECT_TRUE(WaitUntil([&] { return Enabled(r.Main) && !Visible(viewer); }, kWait));
  }
}

TEST(Driver, FailingStepReturnsToIdleInteractivelyAndEndsNonZeroUnattended) {
  auto fill = [](TUiPackage& pkg) {
    pkg.AddFile(L"{app}", L"a.txt", "a");
    pkg.AddReg(rrkCurrentUser, L"Software\\nvui-tests", L"Number", L"4x", rvtDWord);
  };
  {
    TUiPackage pkg(L"中途失败", TestRoot() + L"midfail\\");
    fill(pkg);
    TRunning r(pkg, L"midfail");
    ASSERT_NE(r.Main, nullptr);
    Press(r.C(idBtnInstall));
    std::wstring text = AnswerNextMessage(r.Setup->Id(), kWait);
    EXPECT_TRUE(Contains(text, L"4x")) << Utf8Encode(text);
    // Then the rollback's result, and nothing of the install is left.
    EXPECT_TRUE(Contains(AnswerNextMessage(r.Setup->Id(), kWait), L"安装未完成，已撤销所做的更改。"));
    EXPECT_FALSE(PathIsFile(TestRoot() + L"midfail\\a.txt"));
    ASSERT_TRUE(WaitUntil([&] { return Visible(r.C(idBtnInstall)); }, kWait));
    EXPECT_EQ(Text(r.C(idLblAppTitle)), L"中途失败");
    EXPECT_FALSE(Visible(r.C(idPbProgress)));
    EXPECT_TRUE(Visible(r.C(idEdtDestDir)));
    ClickAt(r.C(idImgClose));  // state 0 again: the window closes
    ASSERT_TRUE(r.Setup->WaitFor(kWait));
    EXPECT_EQ(r.Setup->ExitCode(), kExitNotInstalled);
  }
  {
    std::wstring exe = PackagePath(L"midfail-silent");
    TUiPackage pkg(L"中途失败", TestRoot() + L"midfail\\");
    fill(pkg);
    pkg.Build(exe);
    TSetup setup(exe, L"/Silent");
    ASSERT_TRUE(setup.WaitFor(kWait));
    EXPECT_EQ(setup.ExitCode(), kExitInstallFailed);
    EXPECT_NE(setup.Output().find("4x"), std::string::npos) << setup.Output();
  }
}
