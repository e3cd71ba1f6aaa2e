// The notification visit after a finished install: the request reaches the
// test server with the code taken from the setup program's file name; an
// empty address makes no request; a server that never answers changes nothing
// and holds up nothing.
#include <gtest/gtest.h>

#include "ExitCodes.h"
#include "MainFrm.h"
#include "NvSysUtils.h"
#include "OnlineTestSupport.h"
#include "SetupWindow.h"

using namespace nvtest;

namespace {

class Visit : public ::testing::Test {
protected:
  void SetUp() override {
    ASSERT_FALSE(Net().Values.empty()) << "the loopback servers are not running: no net.ini in " << Net().Dir;
  }
  // A full package visiting gotoUrl, copied to each of names in turn and run
  // with "/Silent"; returns the request lines the runs added to the log.
  static std::string RunAs(const std::wstring& tag, const std::wstring& gotoUrl,
                           std::initializer_list<const wchar_t*> names, TGotoUrlMode mode = gumSilent) {
    const std::wstring root = FreshDir(L"visit-" + tag);
    TTestPackage pkg(root, L"访问", root + L"app\\");
    pkg.AddFile(L"{app}", L"a.txt", "a");
    pkg.Info().GotoUrl = gotoUrl;
    pkg.Info().GotoUrlMode = mode;
    const std::wstring built = root + L"built.exe";
    pkg.Build(built);
    const size_t before = RequestLog().size();
    for (const wchar_t* name : names) {
      const std::wstring exe = root + name;
      EXPECT_TRUE(CopyFileW(built.c_str(), exe.c_str(), FALSE));
      EXPECT_EQ(RunSetup(exe, L"/Silent"), kExitOk) << Utf8Encode(name);
      EXPECT_EQ(ReadBytes(root + L"app\\a.txt"), "a");
    }
    DeleteKeyTree(HKEY_LOCAL_MACHINE, UninstallKey(pkg.Info().GUID));
    std::string log = RequestLog();
    return log.size() >= before ? log.substr(before) : log;
  }
};

}  // namespace

TEST_F(Visit, CodeComesFromTheDigitsAfterTheFirstUnderscoreOfTheProgramName) {
  std::string log = RunAs(L"query", HttpUrl(L"/visit/q?from=nv"),
                          {L"setup_77abc.exe", L"setup_12_34.exe", L"setup.exe", L"setup_abc1.exe", L"setup_.exe"});
  EXPECT_EQ(log,
            "GET /visit/q?from=nv&rcode=77\n"
            "GET /visit/q?from=nv&rcode=12\n"
            "GET /visit/q?from=nv\n"
            "GET /visit/q?from=nv\n"
            "GET /visit/q?from=nv\n");
}

TEST_F(Visit, AnAddressWithoutAQueryGetsTheCodeAfterAQuestionMark) {
  EXPECT_EQ(RunAs(L"plain", HttpUrl(L"/visit/plain"), {L"nv_2026.exe", L"nvsetup.exe"}),
            "GET /visit/plain?rcode=2026\n"
            "GET /visit/plain\n");
}

TEST_F(Visit, ByBrowserTheAddressWithItsCodeGoesToTheDefaultHandler) {
  const std::wstring log = FreshDir(L"visit-browser-log") + L"browser.log";
  TBrowserStandIn browser(log);
  // The browser stand-in makes no request of its own: the server sees none.
  EXPECT_EQ(RunAs(L"browser", HttpUrl(L"/visit/b"), {L"setup_31.exe"}, gumByBrowser), "");
  ASSERT_TRUE(WaitForLine(log, L"browser end", kWait));
  const std::vector<std::wstring> lines = ReadLines(log);
  ASSERT_EQ(lines.size(), 2u);  // started once
  EXPECT_NE(lines[0].find(L"\"" + HttpUrl(L"/visit/b?rcode=31") + L"\""), std::wstring::npos) << Utf8Encode(lines[0]);
}

TEST_F(Visit, EmptyAddressMakesNoRequest) { EXPECT_EQ(RunAs(L"empty", L"", {L"setup_5.exe"}), ""); }

TEST_F(Visit, AServerThatNeverAnswersIsAbandonedAndTheWindowStaysDone) {
  const std::wstring root = FreshDir(L"visit-blackhole");
  TTestPackage pkg(root, L"无应答", root + L"app\\");
  pkg.AddFile(L"{app}", L"a.txt", "a");
  pkg.Info().GotoUrl = L"http://127.0.0.1:" + Net().W("blackhole") + L"/visit";
  const std::wstring exe = root + L"setup_9.exe";
  pkg.Build(exe);
  TSetup setup(exe, L"");
  HWND main = WaitTop(setup.Id(), L"TMainForm", kWait);
  ASSERT_NE(main, nullptr);
  Press(Control(main, idBtnInstall));
  ASSERT_TRUE(WaitDoneLook(main, 60000));
  // The detail line shows the visit while it lasts; the connection time-out
  // of 5 s ends it well within this wait.
  EXPECT_TRUE(WaitUntil([&] { return !Visible(Control(main, idLblDetail)); }, 20000));
  EXPECT_EQ(FindTop(setup.Id(), L"#32770"), nullptr);
  EXPECT_EQ(Text(Control(main, idLblAppTitle)), L"安装完成");
  EXPECT_TRUE(Visible(Control(main, idBtnRunApp)));
  Press(Control(main, idBtnRunApp));
  ASSERT_TRUE(setup.WaitFor(kWait));
  EXPECT_EQ(setup.ExitCode(), kExitOk);
  DeleteKeyTree(HKEY_LOCAL_MACHINE, UninstallKey(pkg.Info().GUID));
}

TEST_F(Visit, ASilentInstallEndsSoonWhenTheServerAcceptsAndNeverAnswers) {
  const std::wstring root = nvtest::FreshDir(L"visit-silent-server");
  nvtest::TTestPackage pkg(root, L"不回答", root + L"app\\");
  pkg.AddFile(L"{app}", L"a.txt", "a");
  pkg.Info().GotoUrl = L"http://127.0.0.1:" + Net().W("silent") + L"/visit";
  const std::wstring exe = root + L"setup_3.exe";
  pkg.Build(exe);
  const ULONGLONG start = GetTickCount64();
  EXPECT_EQ(nvtest::RunSetup(exe, L"/Silent", 60000), kExitOk);
  // The visit has 5 s in all (connection, request and answer), well below
  // the 30 s of silence that end any other wait.
  EXPECT_LT(GetTickCount64() - start, 20000u);
  EXPECT_EQ(nvtest::ReadBytes(root + L"app\\a.txt"), "a");
  nvtest::DeleteKeyTree(HKEY_LOCAL_MACHINE, nvtest::UninstallKey(pkg.Info().GUID));
}
