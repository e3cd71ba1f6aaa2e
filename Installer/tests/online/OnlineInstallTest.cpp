// Online stubs made by the package builder, started as a customer starts
// them: the full package is fetched from the loopback test server (directly
// or through tinyproxy) and installed; failed fetches and wrong packages are
// answered in their dialogs as a user answers them.
#include <windows.h>
#include <commctrl.h>

#include <gtest/gtest.h>

#include "DownloadFailureFrm.h"
#include "ExitCodes.h"
#include "IndyProxySettingsFrm.h"
#include "MainFrm.h"
#include "NvSysUtils.h"
#include "NvSysUtilsWin.h"
#include "OnlineTestSupport.h"
#include "SetupWindow.h"

using namespace nvtest;

namespace {

class Online : public ::testing::Test {
protected:
  void SetUp() override {
    ASSERT_FALSE(Net().Values.empty()) << "the loopback servers are not running: no net.ini in " << Net().Dir;
  }
};

// An online stub's window.
struct TStub : TRunning {
  using TRunning::TRunning;
  // The idle look of an online stub titled title.
  void ExpectIdle(const std::wstring& title) const {
    EXPECT_TRUE(IsWindowEnabled(Main));
    EXPECT_EQ(Text(C(idLblAppTitle)), title);
    EXPECT_TRUE(Visible(C(idBtnInstall)));
    EXPECT_TRUE(Visible(C(idEdtDestDir)));
    EXPECT_TRUE(Visible(C(idLblVersion)));
    EXPECT_TRUE(Visible(C(idLblProxy)));
    EXPECT_FALSE(Visible(C(idPbProgress)));
    EXPECT_FALSE(Visible(C(idLblWait)));
  }
  HWND WaitFailureDialog() const { return WaitTop(Setup->Id(), L"TDownloadFailureForm", kWait); }
  // The setup shows the idle look control by control: wait for all of it.
  bool WaitIdle() const {
    return WaitUntil(
        [&] {
          return IsWindowEnabled(Main) && Visible(C(idBtnInstall)) && Visible(C(idEdtDestDir)) &&
                 Visible(C(idLblProxy)) && !Visible(C(idPbProgress)) && !Visible(C(idLblWait));
        },
        kWait);
  }
};

// A key pressed in a dialog, once its own control has the focus.
void PressKeyIn(HWND dialog, WORD key) {
  HWND focus = WaitFocusIn(dialog);
  ASSERT_NE(focus, nullptr) << "the focus stays outside the dialog";
  PostKey(focus, key);
}

std::wstring ClipboardUnicode() {
  std::wstring text = L"<none>";
  if (!OpenClipboard(nullptr)) return L"<cannot open>";
  if (HANDLE h = GetClipboardData(CF_UNICODETEXT)) {
    text = static_cast<const wchar_t*>(GlobalLock(h));
    GlobalUnlock(h);
  }
  CloseClipboard();
  return text;
}

std::string ClipboardAnsi() {
  std::string text = "<none>";
  if (!OpenClipboard(nullptr)) return "<cannot open>";
  if (HANDLE h = GetClipboardData(CF_TEXT)) {
    text = static_cast<const char*>(GlobalLock(h));
    GlobalUnlock(h);
  }
  CloseClipboard();
  return text;
}

std::size_t CountOf(const std::string& text, const std::string& part) {
  std::size_t n = 0;
  for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + part.size())) ++n;
  return n;
}

// The setup programs started by these tests trust the test CA.
const auto* const gTrustedTestCa = ::testing::AddGlobalTestEnvironment(new nvnet::TTrustedTestCa);

}  // namespace

TEST_F(Online, SilentStubDownloadsTheFullPackageAndInstallsItAsAFullPackageDoes) {
  TOnlineProduct product(L"online-silent", L"在线静默");
  ASSERT_TRUE(PathIsFile(product.StubPath));
  const std::size_t downloadsBefore = DownloadedFileCount();
  // The stub carries the small project only: none of the file contents.
  EXPECT_LT(ReadBytes(product.StubPath).size() + 150000, ReadBytes(product.FullPath).size());

  EXPECT_EQ(RunSetup(product.StubPath, L"/Silent"), kExitOk);
  EXPECT_TRUE(product.Installed());
  EXPECT_TRUE(PathIsFile(product.App + L"Uninstall.da1"));
  EXPECT_TRUE(PathIsFile(product.App + L"Uninstall.da2"));
  EXPECT_EQ(RegString(HKEY_LOCAL_MACHINE, UninstallKey(product.Package->Info().GUID), L"InstallLocation"), product.App);
  EXPECT_TRUE(Contains(RequestLog(), "GET /files/online-silent.exe\n"));
  // The run path ends the process without destroying the window: the
  // downloaded package is gone all the same.
  EXPECT_EQ(DownloadedFileCount(), downloadsBefore) << "the downloaded package was left in the temporary folder";
}

TEST_F(Online, DownloadedOnlineStubIsAPackageErrorAndTheWindowIsIdleAgain) {
  // The other product's stub is served in place of a full package.
  TOnlineProduct other(L"online-other", L"另一个", L"", false);
  CopyFileW(other.StubPath.c_str(), (ServedDir() + L"online-other-stub.exe").c_str(), FALSE);
  // Built without a check of its download: the project is what refuses it.
  TOnlineBuild unchecked;
  unchecked.Trust = "none";
  TOnlineProduct product(L"online-wrong", L"错误包", HttpUrl(L"/files/online-other-stub.exe"), true, unchecked);

  {
    TStub stub(product.StubPath);
    ASSERT_NE(stub.Main, nullptr);
    Press(stub.C(idBtnInstall));
    HWND box = WaitMessageBox(stub.Setup->Id(), kWait);
    ASSERT_NE(box, nullptr);
    EXPECT_TRUE(Contains(AllChildTexts(box), L"安装包错误。")) << Utf8Encode(AllChildTexts(box));
    Screenshot(L"online-package-error");
    AnswerMessageBox(box);
    ASSERT_TRUE(stub.WaitIdle());
    stub.ExpectIdle(L"错误包");
    EXPECT_FALSE(PathIsDir(product.App + L"data"));
    // A second try downloads again and fails the same way; a rejected
    // download is not kept in the temporary folder.
    const std::wstring before = NewestDownloadedFile();
    const std::size_t requests = CountOf(RequestLog(), "GET /files/online-other-stub.exe\n");
    Press(stub.C(idBtnInstall));
    box = WaitMessageBox(stub.Setup->Id(), kWait);
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(CountOf(RequestLog(), "GET /files/online-other-stub.exe\n"), requests + 1);
    EXPECT_EQ(NewestDownloadedFile(), before);
    AnswerMessageBox(box);
    ASSERT_TRUE(stub.WaitIdle());
  }

  TSetup silent(product.StubPath, L"/Silent");
  ASSERT_TRUE(silent.WaitFor(kWait));
  EXPECT_EQ(silent.ExitCode(), kExitDownloadFailed);
  // Standard output is in the system's ANSI code page.
  EXPECT_TRUE(Contains(silent.Output(), WideToAnsi(L"安装包错误。"))) << silent.Output();
  EXPECT_FALSE(PathIsFile(product.App + L"readme.txt"));
  DeleteFileW((ServedDir() + L"online-other-stub.exe").c_str());
}

TEST_F(Online, FailureDialogShowsTheAddressAndRetryReturnsToIdleForASecondTry) {
  // The full package is not on the server at first.
  TOnlineProduct product(L"online-retry", L"重试产品", HttpUrl(L"/files/online-retry.exe?来源=测试"), false);
  TStub stub(product.StubPath);
  ASSERT_NE(stub.Main, nullptr);
  Press(stub.C(idBtnInstall));
  HWND dialog = stub.WaitFailureDialog();
  ASSERT_NE(dialog, nullptr);
  Screenshot(L"online-failure-dialog");

  EXPECT_EQ(Text(dialog), L"重试产品 在线安装失败");
  RECT client{};
  GetClientRect(dialog, &client);
  EXPECT_EQ(client.right, 534);
  EXPECT_EQ(client.bottom, 261);
  EXPECT_EQ(Text(Control(dialog, TDownloadFailureForm::idMemUrl)), product.Url);
  EXPECT_EQ(Text(Control(dialog, TDownloadFailureForm::idTntLabel2)), L"您的电脑可能没有连接到互联网，在线安装失败。");
  EXPECT_EQ(Text(Control(dialog, TDownloadFailureForm::idTntLabel1)),
            L"如果您是通过代理服务器上网的，您可以点击【重试】按钮返回到首页设置代理服务器。");
  EXPECT_EQ(Text(Control(dialog, TDownloadFailureForm::idTntLabel3)),
            L"您还可以使用以下地址下载离线安装包，然后运行离线安装包进行安装。");
  struct {
    int Id;
    const wchar_t* Caption;
    int Left, Width;
  } buttons[] = {{TDownloadFailureForm::idBtnBrowser, L"使用浏览器下载", 0, 137},
                 {TDownloadFailureForm::idBtnCopy, L"复制到剪贴板", 144, 121},
                 {TDownloadFailureForm::idBtnOk, L"退出安装", 368, 75},
                 {TDownloadFailureForm::idBtnCancel, L"重试", 451, 75}};
  for (const auto& b : buttons) {
    HWND button = Control(dialog, b.Id);
    EXPECT_EQ(Text(button), b.Caption);
    RECT r = RectInParent(button);
    EXPECT_EQ(r.left, b.Left) << Utf8Encode(b.Caption);
    EXPECT_EQ(r.right - r.left, b.Width) << Utf8Encode(b.Caption);
  }
  EXPECT_FALSE(IsWindowEnabled(stub.Main));

  // The address goes to the clipboard as Unicode and as ANSI text. The
  // clipboard is read once the setup has changed it (reading it meanwhile
  // would keep it open against the setup).
  if (OpenClipboard(nullptr)) {
    EmptyClipboard();
    CloseClipboard();
  }
  const DWORD sequence = GetClipboardSequenceNumber();
  Press(Control(dialog, TDownloadFailureForm::idBtnCopy));
  EXPECT_TRUE(WaitUntil([&] { return GetClipboardSequenceNumber() != sequence; }, 5000));
  Sleep(300);
  EXPECT_EQ(ClipboardUnicode(), product.Url);
  EXPECT_EQ(ClipboardAnsi(), WideToAnsi(product.Url));
  EXPECT_EQ(FindTop(stub.Setup->Id(), L"#32770"), nullptr);
  EXPECT_TRUE(IsWindowVisible(dialog));

  // The browser button hands the address to the default handler.
  {
    const std::wstring log = product.Root + L"browser.log";
    TBrowserStandIn browser(log);
    Press(Control(dialog, TDownloadFailureForm::idBtnBrowser));
    ASSERT_TRUE(WaitForLine(log, L"browser end", kWait));
    const std::vector<std::wstring> lines = ReadLines(log);
    ASSERT_EQ(lines.size(), 2u);  // started once
    EXPECT_TRUE(Contains(lines[0], L"\"" + product.Url + L"\"")) << Utf8Encode(lines[0]);
    EXPECT_TRUE(IsWindowVisible(dialog));
  }

  Press(Control(dialog, TDownloadFailureForm::idBtnCancel));
  ASSERT_TRUE(stub.WaitIdle());
  stub.ExpectIdle(L"重试产品");

  // The package is there now: the second press downloads and installs it.
  ASSERT_TRUE(CopyFileW(product.FullPath.c_str(), (ServedDir() + product.ServedName).c_str(), FALSE));
  Press(stub.C(idBtnInstall));
  ASSERT_TRUE(WaitDoneLook(stub.Main, 60000));
  EXPECT_TRUE(product.Installed());
  Press(stub.C(idBtnRunApp));
  ASSERT_TRUE(stub.Setup->WaitFor(kWait));
  EXPECT_EQ(stub.Setup->ExitCode(), kExitOk);
}

TEST_F(Online, FailureDialogEscapeAndCloseBoxRetryWhileExitAndEnterLeave) {
  TOnlineProduct product(L"online-exit", L"退出产品", HttpUrl(L"/status?code=500"), false);
  for (int way = 0; way < 4; ++way) {
    TStub stub(product.StubPath);
    ASSERT_NE(stub.Main, nullptr);
    Press(stub.C(idBtnInstall));
    HWND dialog = stub.WaitFailureDialog();
    ASSERT_NE(dialog, nullptr) << way;
    switch (way) {
      case 0:
        PressKeyIn(dialog, VK_ESCAPE);
        break;
      case 1:
        PostMessageW(dialog, WM_CLOSE, 0, 0);
        break;
      case 2:
        Press(Control(dialog, TDownloadFailureForm::idBtnOk));
        break;
      default:
        PressKeyIn(dialog, VK_RETURN);
        break;
    }
    if (way < 2) {
      ASSERT_TRUE(stub.WaitIdle()) << way;
      stub.ExpectIdle(L"退出产品");
      EXPECT_FALSE(stub.Setup->WaitFor(0));
    } else {
      ASSERT_TRUE(stub.Setup->WaitFor(kWait)) << way;
      EXPECT_EQ(stub.Setup->ExitCode(), kExitDownloadFailed) << way;
    }
  }
  // Under "/Auto" the dialog is asked as well; "重试" leaves the window idle.
  {
    TStub autoRun(product.StubPath, L"/Auto");
    HWND dialog = autoRun.WaitFailureDialog();
    ASSERT_NE(dialog, nullptr);
    Press(Control(dialog, TDownloadFailureForm::idBtnCancel));
    ASSERT_TRUE(autoRun.WaitIdle());
    autoRun.ExpectIdle(L"退出产品");
    EXPECT_FALSE(autoRun.Setup->WaitFor(0));
  }
  // Under "/Silent" no dialog: the failure is a line on standard output.
  TSetup silent(product.StubPath, L"/Silent");
  ASSERT_TRUE(silent.WaitFor(kWait));
  EXPECT_EQ(silent.ExitCode(), kExitDownloadFailed);
  EXPECT_TRUE(Contains(silent.Output(), WideToAnsi(L"在线安装失败：" + product.Url + L"："))) << silent.Output();
}

TEST_F(Online, ProxySetInTheDialogIsUsedByTheNextDownload) {
  // The server cuts the first answer off: the download resumes through the proxy.
  const std::wstring url = HttpUrl(L"/files/online-proxy.exe?cut=300000&run=" + NewGuid().substr(1, 8));
  TOnlineProduct product(L"online-proxy", L"代理产品", url);
  TStub stub(product.StubPath);
  ASSERT_NE(stub.Main, nullptr);
  using F = TIndyProxySettingsForm;
  auto openDialog = [&] {
    ClickAt(stub.C(idLblProxy));
    return WaitTop(stub.Setup->Id(), L"TIndyProxySettingsForm", kWait);
  };

  // A proxy without an address is refused; Cancel then keeps the record.
  HWND dialog = openDialog();
  ASSERT_NE(dialog, nullptr);
  EXPECT_NE(SendMessageW(Control(dialog, F::idRbNoProxy), BM_GETCHECK, 0, 0), 0);
  Press(Control(dialog, F::idRbUseProxy));
  ASSERT_TRUE(WaitUntil([&] { return IsWindowEnabled(Control(dialog, F::idEdtProxyAddress)) != FALSE; }, 5000));
  TypeText(Control(dialog, F::idEdtProxyAddress), L"   ");
  Press(Control(dialog, F::idBtnOk));
  HWND box = WaitMessageBox(stub.Setup->Id(), kWait);
  ASSERT_NE(box, nullptr);
  EXPECT_TRUE(Contains(AllChildTexts(box), L"服务器地址不能为空，请重新输入。"));
  AnswerMessageBox(box);
  ASSERT_TRUE(WaitUntil([&] { return !IsWindow(box) || !IsWindowVisible(box); }, kWait));
  EXPECT_TRUE(IsWindowVisible(dialog));
  Press(Control(dialog, F::idBtnCancel));
  ASSERT_TRUE(WaitUntil([&] { return !IsWindow(dialog) || !IsWindowVisible(dialog); }, kWait));

  dialog = openDialog();
  ASSERT_NE(dialog, nullptr);
  EXPECT_NE(SendMessageW(Control(dialog, F::idRbNoProxy), BM_GETCHECK, 0, 0), 0);
  EXPECT_EQ(Text(Control(dialog, F::idEdtProxyAddress)), L"");
  Press(Control(dialog, F::idRbUseProxy));
  ASSERT_TRUE(WaitUntil([&] { return IsWindowEnabled(Control(dialog, F::idEdtProxyAddress)) != FALSE; }, 5000));
  TypeText(Control(dialog, F::idEdtProxyAddress), Net().W("proxy"));
  TypeText(Control(dialog, F::idEdtProxyPort), Net().W("proxyport"));
  TypeText(Control(dialog, F::idEdtProxyUser), Net().W("proxyuser"));
  TypeText(Control(dialog, F::idEdtProxyPassword), Net().W("proxypassword"));
  Screenshot(L"online-proxy-dialog");
  Press(Control(dialog, F::idBtnOk));
  ASSERT_TRUE(WaitUntil([&] { return !IsWindow(dialog) || !IsWindowVisible(dialog); }, kWait));

  const std::string before = ProxyLog();
  Press(stub.C(idBtnInstall));
  ASSERT_TRUE(WaitDoneLook(stub.Main, 60000));
  EXPECT_TRUE(product.Installed());
  const std::string after = ProxyLog();
  ASSERT_GE(after.size(), before.size());
  // Both tries went through the proxy: each ends in a closed forwarded
  // connection (the proxy logs the authentication rounds as requests too).
  std::size_t tries = 0;
  const std::string proxied = after.substr(before.size());
  for (std::size_t from = 0, end; (end = proxied.find("Closed connection", from)) != std::string::npos;
       from = end + 1)
    tries += Contains(proxied.substr(from, end - from), "GET " + Utf8Encode(product.Url));
  EXPECT_EQ(tries, 2u) << proxied;
  const std::string path = Utf8Encode(url.substr(url.find(L"/files/")));
  EXPECT_TRUE(Contains(RequestLog(), "GET " + path + " [bytes=300000-]\n")) << RequestLog();
  Press(stub.C(idBtnRunApp));
  ASSERT_TRUE(stub.Setup->WaitFor(kWait));
  EXPECT_EQ(stub.Setup->ExitCode(), kExitOk);
}

TEST_F(Online, HttpsDownloadNeedsAServerCertificateFromATrustedRoot) {
  ASSERT_TRUE(nvnet::TTrustedTestCa::Added());
  // The scheme's letter case does not matter.
  TOnlineProduct trusted(L"online-tls", L"加密下载",
                         L"HTTPS://localhost:" + Net().W("https") + L"/files/online-tls.exe");
  EXPECT_EQ(RunSetup(trusted.StubPath, L"/Silent"), kExitOk);
  EXPECT_TRUE(trusted.Installed());

  // A forged server: the same package, a certificate of an authority nobody trusts.
  TOnlineProduct forged(L"online-forged", L"伪造服务器",
                        L"https://localhost:" + Net().W("https-untrusted") + L"/files/online-forged.exe");
  TSetup silent(forged.StubPath, L"/Silent");
  ASSERT_TRUE(silent.WaitFor(kWait));
  EXPECT_EQ(silent.ExitCode(), kExitDownloadFailed);
  EXPECT_TRUE(Contains(silent.Output(), WideToAnsi(L"在线安装失败：" + forged.Url + L"："))) << silent.Output();
  EXPECT_FALSE(PathIsFile(forged.App + L"readme.txt"));
}

TEST_F(Online, ProgressBarFollowsTheDownload) {
  TOnlineProduct product(L"online-slow", L"慢速下载", HttpUrl(L"/slowfiles/online-slow.exe"));
  const int size = static_cast<int>(ReadBytes(product.FullPath).size());
  TStub stub(product.StubPath);
  ASSERT_NE(stub.Main, nullptr);
  Press(stub.C(idBtnInstall));
  // The bar's range is the declared length; its position moves with the
  // bytes while the window keeps answering.
  HWND bar = stub.C(idPbProgress);
  int seenMax = 0, between = 0;
  WaitUntil(
      [&] {
        int max = static_cast<int>(SendMessageW(bar, PBM_GETRANGE, FALSE, 0));
        int pos = static_cast<int>(SendMessageW(bar, PBM_GETPOS, 0, 0));
        if (max == size) {
          seenMax = max;
          if (pos > 0 && pos < size) ++between;
        }
        return Text(stub.C(idLblAppTitle)) == L"安装完成";
      },
      60000);
  EXPECT_EQ(seenMax, size);
  EXPECT_GE(between, 2);
  ASSERT_TRUE(WaitDoneLook(stub.Main, 60000));
  EXPECT_TRUE(product.Installed());
}

TEST_F(Online, CutOffOrForeignDownloadsEndTheSilentStubWithItsLineAndLeaveNothing) {
  struct TCase {
    const wchar_t* Name;
    std::wstring Path;
    std::wstring Told;    // the line's cause, or empty: the download failed
    std::size_t Requests;
    DWORD AtLeastMs;
  };
  const TCase cases[] = {
      // The server closes the connection halfway through the declared body,
      // every time: the first try and three more after 2, 4 and 8 s.
      {L"online-cut", L"/broken?n=400000", L"", 4, 14000},
      // A whole download that is not a program at all (the stub checks only
      // the project: built without a pin).
      {L"online-foreign", L"/body?n=5000", L"安装包错误。", 1, 0},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(Utf8Encode(c.Name));
    TOnlineBuild unchecked;
    unchecked.Trust = "none";
    const std::wstring url = HttpUrl(c.Path + L"&run=" + NewGuid().substr(1, 8));
    TOnlineProduct product(c.Name, L"坏下载", url, false, unchecked);
    const std::size_t downloads = DownloadedFileCount();
    const DWORD start = GetTickCount();
    TSetup silent(product.StubPath, L"/Silent");
    ASSERT_TRUE(silent.WaitFor(60000)) << "the stub still runs after 60 s";
    EXPECT_LT(GetTickCount() - start, 45000u);
    EXPECT_GE(GetTickCount() - start, c.AtLeastMs);
    EXPECT_EQ(silent.ExitCode(), kExitDownloadFailed);
    const std::wstring told = c.Told.empty() ? L"在线安装失败：" + product.Url + L"：" : c.Told;
    EXPECT_TRUE(Contains(silent.Output(), WideToAnsi(told))) << silent.Output();
    EXPECT_EQ(CountOf(RequestLog(), "GET " + Utf8Encode(url.substr(url.find(L'/', 8))) + "\n"), c.Requests);
    // The folder check made the installation folder before the download;
    // nothing was put in it.
    EXPECT_TRUE(FolderIsEmpty(product.App));
    EXPECT_EQ(DownloadedFileCount(), downloads) << "a download was left in the temporary folder";
  }
}
