// The online stub's download against a network that breaks it or swaps it:
// transfers cut off once, repeatedly or for good; downloads that are not the
// package the stub was built with (pinned) or not signed by its publisher
// (the signer rule); the detail line; a package of 300 MB.
#include <windows.h>

#include <gtest/gtest.h>

#include <sstream>

#include "DownloadFailureFrm.h"
#include "ExitCodes.h"
#include "MainFrm.h"
#include "NvSysUtils.h"
#include "NvSysUtilsWin.h"
#include "OnlineTestSupport.h"
#include "SetupWindow.h"

using namespace nvtest;

namespace {

class OnlineDownload : public ::testing::Test {
protected:
  void SetUp() override {
    ASSERT_FALSE(Net().Values.empty()) << "the loopback servers are not running: no net.ini in " << Net().Dir;
    FDownloadsBefore = DownloadedFileCount();
  }
  // Nothing of any download is left in the temporary folder.
  void ExpectNoDownloadLeft() const {
    EXPECT_EQ(DownloadedFileCount(), FDownloadsBefore) << "a download was left in the temporary folder";
  }
  std::size_t FDownloadsBefore = 0;
};

std::size_t CountOf(const std::string& text, const std::string& part) {
  std::size_t n = 0;
  for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + part.size())) ++n;
  return n;
}

// The address of the product's served full package with these faults (see
// serve_file in netserver.py), unique to this run of the tests.
std::wstring FaultyUrl(const std::wstring& name, const std::wstring& faults) {
  return HttpUrl(L"/files/" + name + L".exe?" + faults + L"&run=" + NewGuid().substr(1, 8));
}

// The request lines the server logged for url (path and query).
std::string LoggedPath(const std::wstring& url) { return "GET " + Utf8Encode(url.substr(url.find(L"/files/"))); }

// The setup programs started by these tests trust the test CA.
const auto* const gTrustedTestCa = ::testing::AddGlobalTestEnvironment(new nvnet::TTrustedTestCa);

}  // namespace

TEST_F(OnlineDownload, BrokenTransfersAreResumedAndTheStubInstalls) {
  struct TCase {
    const wchar_t* Name;
    std::wstring Faults;
    std::vector<std::string> Ranges;  // what the requests after the first asked for
  };
  const TCase cases[] = {
      {L"online-cut-once", L"cut=300000", {" [bytes=300000-]"}},
      {L"online-cut-twice", L"cut=200000,500000", {" [bytes=200000-]", " [bytes=500000-]"}},
      // The server ignores the range and sends the whole file again.
      {L"online-no-ranges", L"cut=300000&norange=1", {" [bytes=300000-]"}},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(Utf8Encode(c.Name));
    const std::wstring url = FaultyUrl(c.Name, c.Faults);
    TOnlineProduct product(c.Name, L"断点续传", url);
    EXPECT_EQ(RunSetup(product.StubPath, L"/Silent"), kExitOk);
    EXPECT_TRUE(product.Installed());
    const std::string log = RequestLog();
    EXPECT_EQ(CountOf(log, LoggedPath(url)), c.Ranges.size() + 1) << log;
    EXPECT_EQ(CountOf(log, LoggedPath(url) + "\n"), 1u) << "more than one request asked for the whole file";
    for (const std::string& range : c.Ranges) EXPECT_EQ(CountOf(log, LoggedPath(url) + range + "\n"), 1u) << range;
    ExpectNoDownloadLeft();
  }
}

TEST_F(OnlineDownload, RetryInTheFailureDialogResumesAndLeavingRemovesThePart) {
  // Every try of a press is cut at the same byte: four tries, then the dialog.
  const std::wstring faults = L"cut=300000,300000,300000,300000,300000,300000,300000,300000";
  const std::wstring url = FaultyUrl(L"online-resume-dialog", faults);
  TOnlineProduct product(L"online-resume-dialog", L"续传对话框", url);
  {
    TRunning stub(product.StubPath);
    ASSERT_NE(stub.Main, nullptr);
    Press(stub.C(idBtnInstall));
    HWND dialog = WaitTop(stub.Setup->Id(), L"TDownloadFailureForm", 60000);
    ASSERT_NE(dialog, nullptr);
    EXPECT_EQ(CountOf(RequestLog(), LoggedPath(url)), 4u);
    // "重试": the part that arrived stays for the next press.
    Press(Control(dialog, TDownloadFailureForm::idBtnCancel));
    ASSERT_TRUE(WaitUntil([&] { return Visible(stub.C(idBtnInstall)); }, kWait));
    const std::wstring part = NewestDownloadedFile();
    ASSERT_FALSE(part.empty());
    EXPECT_EQ(ReadBytes(part), ReadBytes(product.FullPath).substr(0, 300000));
    // Four more cut tries, then "退出安装": the part goes with the program.
    Press(stub.C(idBtnInstall));
    dialog = WaitTop(stub.Setup->Id(), L"TDownloadFailureForm", 60000);
    ASSERT_NE(dialog, nullptr);
    EXPECT_EQ(CountOf(RequestLog(), LoggedPath(url) + " [bytes=300000-]\n"), 7u);
    Press(Control(dialog, TDownloadFailureForm::idBtnOk));
    ASSERT_TRUE(stub.Setup->WaitFor(kWait));
    EXPECT_EQ(stub.Setup->ExitCode(), kExitDownloadFailed);
    EXPECT_FALSE(PathIsFile(part));
    ExpectNoDownloadLeft();
  }

  // Cut four times, then whole: "重试" and the next press finish the download.
  const std::wstring url2 = FaultyUrl(L"online-resume-dialog2", L"cut=300000,300000,300000,300000");
  TOnlineProduct again(L"online-resume-dialog2", L"续传对话框", url2);
  TRunning stub(again.StubPath);
  ASSERT_NE(stub.Main, nullptr);
  Press(stub.C(idBtnInstall));
  HWND dialog = WaitTop(stub.Setup->Id(), L"TDownloadFailureForm", 60000);
  ASSERT_NE(dialog, nullptr);
  Press(Control(dialog, TDownloadFailureForm::idBtnCancel));
  ASSERT_TRUE(WaitUntil([&] { return Visible(stub.C(idBtnInstall)); }, kWait));
  Press(stub.C(idBtnInstall));
  ASSERT_TRUE(WaitDoneLook(stub.Main, 60000));
  EXPECT_TRUE(again.Installed());
  EXPECT_EQ(CountOf(RequestLog(), LoggedPath(url2) + " [bytes=300000-]\n"), 4u);
  // The install has its files: the download is gone before the run.
  ExpectNoDownloadLeft();
  Press(stub.C(idBtnRunApp));
  ASSERT_TRUE(stub.Setup->WaitFor(kWait));
  EXPECT_EQ(stub.Setup->ExitCode(), kExitOk);
}

TEST_F(OnlineDownload, PinnedStubRefusesEveryOtherFileAndInstallsItsOwn) {
  TOnlineProduct product(L"online-pinned", L"固定下载");
  const std::string built = ReadBytes(product.FullPath);
  TOnlineProduct other(L"online-pinned-other", L"另一个产品", L"", false);
  const std::string rebuilt = ReadBytes(product.BuildFullVariant(L"rebuilt.exe", "a later build", ""));
  std::string flipped = built;
  flipped[built.size() / 2] ^= 0x20;
  // Another file of the same size fails on its hash, any other on its size.
  auto refusal = [&](const std::string& served) { return served.size() == built.size() ? L"SHA-256" : L"大小不符"; };
  struct TCase {
    const char* Name;
    std::string Served;
  };
  const TCase cases[] = {
      {"one byte changed", flipped},
      {"shorter", built.substr(0, built.size() - 1000)},
      {"longer", built + std::string(100, 'x')},
      {"another product's package", ReadBytes(other.FullPath)},
      {"the same product rebuilt", rebuilt},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    WriteBytes(product.FullPath, c.Served);
    TSetup silent(product.StubPath, L"/Silent");
    ASSERT_TRUE(silent.WaitFor(60000));
    EXPECT_EQ(silent.ExitCode(), kExitDownloadFailed);
    EXPECT_TRUE(Contains(silent.Output(), WideToAnsi(L"在线安装失败：" + product.Url + L"："))) << silent.Output();
    EXPECT_TRUE(Contains(silent.Output(), WideToAnsi(refusal(c.Served)))) << silent.Output();
    EXPECT_TRUE(FolderIsEmpty(product.App));
    ExpectNoDownloadLeft();
  }
  // The file it was built with installs.
  WriteBytes(product.FullPath, built);
  EXPECT_EQ(RunSetup(product.StubPath, L"/Silent"), kExitOk);
  EXPECT_TRUE(product.Installed());
  ExpectNoDownloadLeft();
}

TEST_F(OnlineDownload, SignerRuleStubTakesWhatItsPublisherSignedAndNothingElse) {
  TOnlineBuild build;
  build.Trust = "signer";
  build.SignCommand = SignWith("publisher");
  TOnlineProduct product(L"online-signer", L"签名规则", L"", true, build);
  const std::string built = ReadBytes(product.FullPath);
  std::string tampered = built;
  tampered[built.size() / 2] ^= 0x20;
  struct TCase {
    const char* Name;
    std::string Served;
    std::wstring Reason;  // empty: installs
    std::string Readme;
  };
  const TCase cases[] = {
      {"signed by another publisher", ReadBytes(product.BuildFullVariant(L"rival.exe", "rival", SignWith("rival"))),
       L"不是由本安装程序的发布者签名的", ""},
      // Wine does not refuse a chain that ends outside the trusted roots:
      // the signer's certificate is what tells this one apart.
      {"signed under another authority",
       ReadBytes(product.BuildFullVariant(L"stranger.exe", "stranger", SignWith("stranger"))),
       L"不是由本安装程序的发布者签名的", ""},
      {"not signed", ReadBytes(product.BuildFullVariant(L"unsigned.exe", "unsigned", "")), L"没有有效的数字签名", ""},
      {"changed after signing", tampered, L"没有有效的数字签名", ""},
      {"as built", built, L"", "online online-signer"},
      // The publisher replaces the package without a new stub.
      {"rebuilt and signed again",
       ReadBytes(product.BuildFullVariant(L"update.exe", "an update", SignWith("publisher"))), L"", "an update"},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    WriteBytes(product.FullPath, c.Served);
    RemoveTree(product.App);
    DeleteKeyTree(HKEY_LOCAL_MACHINE, UninstallKey(product.Package->Info().GUID));
    TSetup silent(product.StubPath, L"/Silent");
    ASSERT_TRUE(silent.WaitFor(60000));
    if (c.Reason.empty()) {
      EXPECT_EQ(silent.ExitCode(), kExitOk) << silent.Output();
      EXPECT_EQ(ReadBytes(product.App + L"readme.txt"), c.Readme);
    } else {
      EXPECT_EQ(silent.ExitCode(), kExitDownloadFailed);
      EXPECT_TRUE(Contains(silent.Output(), WideToAnsi(c.Reason))) << silent.Output();
      EXPECT_TRUE(FolderIsEmpty(product.App));
    }
    ExpectNoDownloadLeft();
  }
}

// "已下载 SIZE / SIZE（SIZE/s）", or without " / SIZE" when the size is not
// known (a SIZE is a number and a unit).
bool IsDetailLine(const std::wstring& line, bool knownSize) {
  std::wistringstream in(line);
  std::wstring word, number, unit;
  auto isSize = [](const std::wstring& n, const std::wstring& u) {
    return !n.empty() && n.find_first_not_of(L"0123456789.") == std::wstring::npos &&
           (u == L"B" || u == L"KB" || u == L"MB" || u == L"GB");
  };
  if (!(in >> word >> number) || word != L"已下载") return false;
  std::getline(in, unit);  // " MB / 1.0 MB（640.0 KB/s）"
  const size_t open = unit.find(L"（");
  if (open == std::wstring::npos || unit.size() < 4 || unit.compare(unit.size() - 3, 3, L"/s）") != 0) return false;
  std::wistringstream sizes(unit.substr(0, open)), rate(unit.substr(open + 1, unit.size() - open - 4));
  std::wstring u1, slash, n2, u2, rn, ru;
  sizes >> u1 >> slash >> n2 >> u2;
  rate >> rn >> ru;
  if (!isSize(number, u1) || !isSize(rn, ru)) return false;
  return knownSize ? slash == L"/" && isSize(n2, u2) : slash.empty();
}

TEST_F(OnlineDownload, DetailLineSaysHowMuchHasArrivedOfHowMuchAndTheRate) {
  struct TCase {
    const wchar_t* Name;
    std::wstring Query;
    bool KnownSize;
  };
  const TCase cases[] = {
      {L"online-detail", L"", true},
      // Without a declared length only what has arrived can be told.
      {L"online-detail-nolength", L"?nolength=1", false},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(Utf8Encode(c.Name));
    TOnlineProduct product(c.Name, L"下载进度", HttpUrl(L"/slowfiles/" + std::wstring(c.Name) + L".exe" + c.Query));
    TRunning stub(product.StubPath);
    ASSERT_NE(stub.Main, nullptr);
    Press(stub.C(idBtnInstall));
    std::vector<std::wstring> lines;
    WaitUntil(
        [&] {
          const std::wstring line = Text(stub.C(idLblDetail));
          if (Visible(stub.C(idLblDetail)) && (lines.empty() || lines.back() != line)) lines.push_back(line);
          return Text(stub.C(idLblAppTitle)) == L"安装完成";
        },
        60000);
    std::size_t matching = 0;
    for (const std::wstring& line : lines) matching += IsDetailLine(line, c.KnownSize);
    // The package arrives in about a second: the line changes several times.
    EXPECT_GE(matching, 3u) << Utf8Encode(lines.empty() ? L"(none)" : lines.back());
    ASSERT_TRUE(WaitDoneLook(stub.Main, 60000));
    EXPECT_TRUE(product.Installed());
  }
}

TEST_F(OnlineDownload, PackageOf300MegabytesInstalls) {
  TOnlineBuild build;
  build.Big = RandomBytes(300u << 20, 300);
  TOnlineProduct product(L"online-large", L"大安装包", L"", true, build);
  ASSERT_GT(ReadBytes(product.FullPath).size(), 300u << 20);
  EXPECT_EQ(RunSetup(product.StubPath, L"/Silent", 600000), kExitOk);
  EXPECT_TRUE(product.Installed());
  ExpectNoDownloadLeft();
  RemoveTree(product.App);
}
