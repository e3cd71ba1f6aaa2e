// TNvHttp against the loopback servers that netserver.py starts (see its
// CMakeLists): plain HTTP, HTTPS with a trusted and an untrusted test CA, a
// listener that never accepts, one that accepts and never answers, and
// tinyproxy with Basic authentication.
#include <winsock2.h>
#include <windows.h>
#include <wincrypt.h>

#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <iterator>
#include <map>
#include <sstream>
#include <thread>
#include <vector>

#include "NetTestEnv.h"
#include "NvIndyUtils.h"
#include "NvSysUtils.h"

namespace {

using namespace nvnet;

class NetTest : public ::testing::Test {
protected:
  void SetUp() override {
    ASSERT_FALSE(Config().Values.empty()) << "the loopback servers are not running: no net.ini in " << Config().Dir;
    ResetProxy();
  }
  void TearDown() override { ResetProxy(); }
  static void ResetProxy() {
    TNvHttpProxy fresh;
    GlobalHttpProxy()->Assign(&fresh);
  }
  static const TNetConfig& Config() { return TNetConfig::Get(); }
  static std::wstring Url(const std::wstring& path) { return Config().HttpUrl(path); }
  static std::string Pattern(size_t n) {
    std::string s(n, '\0');
    for (size_t i = 0; i < n; ++i) s[i] = static_cast<char>(i % 251);
    return s;
  }
};

struct TWorkRecord {
  int Begins = 0, Ends = 0;
  int64_t Max = -1;
  std::vector<int64_t> Counts;
  bool AllRead = true;

  void Attach(TNvHttp& http) {
    http.OnWorkBegin = [this](TNvHttp*, TWorkMode mode, int64_t max) {
      ++Begins;
      Max = max;
      AllRead &= mode == wmRead;
    };
    http.OnWork = [this](TNvHttp*, TWorkMode mode, int64_t count) {
      Counts.push_back(count);
      AllRead &= mode == wmRead;
    };
    http.OnWorkEnd = [this](TNvHttp*, TWorkMode mode) {
      ++Ends;
      AllRead &= mode == wmRead;
    };
  }
  bool Increasing() const {
    for (size_t i = 1; i < Counts.size(); ++i)
      if (Counts[i] <= Counts[i - 1]) return false;
    return true;
  }
};

// ---- bodies and progress -------------------------------------------------------

TEST_F(NetTest, DeclaredLengthBodyArrivesWholeWithProgressUpToIt) {
  TNvHttp http;
  TWorkRecord work;
  work.Attach(http);
  ASSERT_TRUE(http.Get(Url(L"/body?n=300000"))) << Utf8Encode(http.ErrorMessage);
  EXPECT_EQ(http.ResponseStream.Size(), 300000u);
  EXPECT_TRUE(http.ResponseStream.Bytes() == Pattern(300000));
  EXPECT_EQ(http.ResponseStream.Position(), 0u);
  EXPECT_EQ(work.Begins, 1);
  EXPECT_EQ(work.Ends, 1);
  EXPECT_EQ(work.Max, 300000);
  ASSERT_FALSE(work.Counts.empty());
  EXPECT_EQ(work.Counts.back(), 300000);
  EXPECT_TRUE(work.Increasing());
  EXPECT_TRUE(work.AllRead);
}

TEST_F(NetTest, BodyWithoutDeclaredLengthReportsZeroMaximum) {
  for (const wchar_t* path : {L"/stream?n=200000", L"/chunked?n=150001"}) {
    SCOPED_TRACE(Utf8Encode(path));
    const size_t n = std::wstring(path).find(L"stream") != std::wstring::npos ? 200000 : 150001;
    TNvHttp http;
    TWorkRecord work;
    work.Attach(http);
    ASSERT_TRUE(http.Get(Url(path))) << Utf8Encode(http.ErrorMessage);
    EXPECT_TRUE(http.ResponseStream.Bytes() == Pattern(n));
    EXPECT_EQ(work.Max, 0);
    ASSERT_FALSE(work.Counts.empty());
    EXPECT_EQ(work.Counts.back(), static_cast<int64_t>(n));
    EXPECT_TRUE(work.Increasing());
    EXPECT_EQ(work.Ends, 1);
  }
}

TEST_F(NetTest, EmptyBodyIsSuccessWithEmptyStream) {
  TNvHttp http;
  http.ResponseStream.Write("left over");
  ASSERT_TRUE(http.Get(Url(L"/empty"))) << Utf8Encode(http.ErrorMessage);
  EXPECT_EQ(http.ResponseStream.Size(), 0u);
  EXPECT_EQ(http.ResponseText(), L"");
  EXPECT_TRUE(http.ErrorMessage.empty());
}

TEST_F(NetTest, BodyCutShortOfItsDeclaredLengthFails) {
  TNvHttp http;
  EXPECT_FALSE(http.Get(Url(L"/broken?n=100000")));
  EXPECT_FALSE(http.ErrorMessage.empty());
  // What arrived stays, not rewound.
  EXPECT_EQ(http.ResponseStream.Size(), 50000u);
  EXPECT_EQ(http.ResponseStream.Position(), 50000u);
}

TEST_F(NetTest, ResponseTextIsUtf8UpToTheFirstNul) {
  TNvHttp http;
  ASSERT_TRUE(http.Get(Url(L"/text"))) << Utf8Encode(http.ErrorMessage);
  EXPECT_EQ(http.ResponseText(), L"\u4EE3\u7406 ok");
}

// ---- status, redirects, cookies -------------------------------------------------

TEST_F(NetTest, ErrorStatusFailsWithItsStatusInTheMessage) {
  TNvHttp http;
  EXPECT_FALSE(http.Get(Url(L"/status?code=404")));
  EXPECT_NE(http.ErrorMessage.find(L"404"), std::wstring::npos) << Utf8Encode(http.ErrorMessage);
  EXPECT_FALSE(http.Get(Url(L"/status?code=500")));
  EXPECT_NE(http.ErrorMessage.find(L"500"), std::wstring::npos) << Utf8Encode(http.ErrorMessage);
  // A later success keeps the last failure's message.
  EXPECT_TRUE(http.Get(Url(L"/empty")));
  EXPECT_NE(http.ErrorMessage.find(L"500"), std::wstring::npos);
}

TEST_F(NetTest, RedirectChainOfFifteenEndsInTheFinalBody) {
  TNvHttp http;
  TWorkRecord work;
  work.Attach(http);
  ASSERT_TRUE(http.Get(Url(L"/redirect?n=15"))) << Utf8Encode(http.ErrorMessage);
  EXPECT_EQ(http.ResponseStream.Bytes(), "final body");
  EXPECT_EQ(work.Begins, 1);
  EXPECT_EQ(work.Max, 10);
}

TEST_F(NetTest, RedirectChainOfSixteenFails) {
  TNvHttp http;
  EXPECT_FALSE(http.Get(Url(L"/redirect?n=16")));
  EXPECT_FALSE(http.ErrorMessage.empty());
}

TEST_F(NetTest, CookieOfTheFirstHopIsSentOnTheNextAndStaysWithTheClient) {
  TNvHttp http;
  ASSERT_TRUE(http.Get(Url(L"/setcookie"))) << Utf8Encode(http.ErrorMessage);
  EXPECT_EQ(http.ResponseStream.Bytes(), "nvtoken=abc123");
  ASSERT_TRUE(http.Get(Url(L"/showcookie")));
  EXPECT_EQ(http.ResponseStream.Bytes(), "nvtoken=abc123");
  TNvHttp other;
  ASSERT_TRUE(other.Get(Url(L"/showcookie")));
  EXPECT_EQ(other.ResponseStream.Bytes(), "");
}

// ---- the request as sent ---------------------------------------------------------

std::map<std::string, std::vector<std::string>> ParseHeaders(const std::string& text, std::string& requestLine) {
  std::map<std::string, std::vector<std::string>> headers;
  std::istringstream in(text);
  std::string line;
  std::getline(in, requestLine);
  if (!requestLine.empty() && requestLine.back() == '\r') requestLine.pop_back();
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    size_t colon = line.find(':');
    if (colon == std::string::npos) continue;
    std::string name = line.substr(0, colon);
    for (auto& c : name) c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
    std::string value = line.substr(colon + 1);
    value.erase(0, value.find_first_not_of(' '));
    headers[name].push_back(value);
  }
  return headers;
}

TEST_F(NetTest, RequestCarriesTheClientHeadersAndNoEntityHeaders) {
  TNvHttp http;
  ASSERT_TRUE(http.Get(Url(L"/headers?x=1"))) << Utf8Encode(http.ErrorMessage);
  std::string requestLine;
  auto h = ParseHeaders(http.ResponseStream.Bytes(), requestLine);
  EXPECT_EQ(requestLine, "GET /headers?x=1 HTTP/1.1");
  using V = std::vector<std::string>;
  EXPECT_EQ(h["cache-control"], V{"no-cache"});
  EXPECT_EQ(h["accept"], V{"*/*"});
  EXPECT_EQ(h["connection"], V{"Keep-Alive"});
  EXPECT_EQ(h["user-agent"], V{"Mozilla/3.0 (compatible; Indy Library)"});
  EXPECT_EQ(h["host"], V{"127.0.0.1:" + Config().Values.at("http")});
  EXPECT_EQ(h.count("content-type"), 0u);
  EXPECT_EQ(h.count("content-length"), 0u);
  EXPECT_EQ(h.count("proxy-authorization"), 0u);
  EXPECT_EQ(h.count("via"), 0u);
}

// ---- connection failures ----------------------------------------------------------

TEST_F(NetTest, RefusedConnectionFails) {
  WSADATA wsa;
  ASSERT_EQ(WSAStartup(MAKEWORD(2, 2), &wsa), 0);
  SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  int len = sizeof(addr);
  ASSERT_EQ(bind(s, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)), 0);
  ASSERT_EQ(getsockname(s, reinterpret_cast<sockaddr*>(&addr), &len), 0);
  closesocket(s);  // the port is now closed
  const int port = ntohs(addr.sin_port);
  WSACleanup();

  TNvHttp http;
  auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(http.Get(L"http://127.0.0.1:" + std::to_wstring(port) + L"/body?n=5"));
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(20));
  EXPECT_FALSE(http.ErrorMessage.empty());
  EXPECT_EQ(http.ResponseStream.Size(), 0u);
}

TEST_F(NetTest, ConnectTimeOutIsSixtySecondsAndSettable) {
  TNvHttp http;
  EXPECT_EQ(http.ConnectTimeout(), 60000);
  http.SetConnectTimeout(1500);
  auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(http.Get(L"http://127.0.0.1:" + Config().W("blackhole") + L"/"));
  auto elapsed = std::chrono::steady_clock::now() - start;
  EXPECT_GE(elapsed, std::chrono::milliseconds(1200));
  EXPECT_LT(elapsed, std::chrono::seconds(20));
  EXPECT_FALSE(http.ErrorMessage.empty());
}

// ---- stalled peers -----------------------------------------------------------------

using Clock = std::chrono::steady_clock;

double SecondsSince(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

// A Get of url that must fail, no sooner than atLeast and well before
// below seconds, with a message that holds cause.
void ExpectFailsInTime(TNvHttp& http, const std::wstring& url, double atLeast, double below,
                       const std::wstring& cause) {
  const auto start = Clock::now();
  EXPECT_FALSE(http.Get(url));
  const double seconds = SecondsSince(start);
  EXPECT_GE(seconds, atLeast);
  EXPECT_LT(seconds, below);
  EXPECT_NE(http.ErrorMessage.find(cause), std::wstring::npos) << Utf8Encode(http.ErrorMessage);
}

TEST_F(NetTest, SilenceLimitIsThirtySecondsAndThereIsNoTimeLimitAtFirst) {
  TNvHttp http;
  EXPECT_EQ(http.ReceiveTimeout(), 30000);
  EXPECT_EQ(http.TimeLimit(), 0);
  // Neither limit cuts a quick transfer short.
  http.SetReceiveTimeout(1000);
  http.SetTimeLimit(5000);
  ASSERT_TRUE(http.Get(Url(L"/redirect?n=3"))) << Utf8Encode(http.ErrorMessage);
  EXPECT_EQ(http.ResponseStream.Bytes(), "final body");
}

TEST_F(NetTest, ServerThatAcceptsAndNeverAnswersFailsAfterTheSilenceLimit) {
  TNvHttp http;
  http.SetReceiveTimeout(2000);
  ExpectFailsInTime(http, L"http://127.0.0.1:" + Config().W("silent") + L"/visit", 1.5, 15.0,
                    L"Receiving the response");
  EXPECT_NE(http.ErrorMessage.find(L"timed out"), std::wstring::npos) << Utf8Encode(http.ErrorMessage);
  EXPECT_EQ(http.ResponseStream.Size(), 0u);
}

TEST_F(NetTest, TimeLimitEndsAGetToAServerThatNeverAnswersWhateverTheOtherLimits) {
  // The post-install visit's settings: 5 s to connect, 5 s in all.
  TNvHttp http;
  http.SetConnectTimeout(5000);
  http.SetTimeLimit(3000);
  ExpectFailsInTime(http, L"http://127.0.0.1:" + Config().W("silent") + L"/visit?rcode=1", 2.5, 8.0,
                    L"time limit of 3000 ms");
}

TEST_F(NetTest, BodyThatStopsMidwayWithoutClosingFailsAfterTheSilenceLimit) {
  TNvHttp http;
  TWorkRecord work;
  work.Attach(http);
  http.SetReceiveTimeout(2000);
  ExpectFailsInTime(http, Url(L"/stall?n=100000"), 1.5, 15.0, L"after 50000 of 100000 bytes");
  EXPECT_NE(http.ErrorMessage.find(L"timed out"), std::wstring::npos) << Utf8Encode(http.ErrorMessage);
  EXPECT_EQ(http.ResponseStream.Size(), 50000u);
  EXPECT_EQ(work.Ends, 1);
}

TEST_F(NetTest, SlowBodyThatKeepsSendingOutlastsTheSilenceLimit) {
  TNvHttp http;
  http.SetReceiveTimeout(1000);
  auto start = Clock::now();
  ASSERT_TRUE(http.Get(Url(L"/trickle?n=12000&gap=300"))) << Utf8Encode(http.ErrorMessage);
  EXPECT_GE(SecondsSince(start), 3.0);  // three times the silence limit
  EXPECT_TRUE(http.ResponseStream.Bytes() == Pattern(12000));
}

TEST_F(NetTest, TimeLimitCutsASlowBodyShort) {
  TNvHttp http;
  http.SetTimeLimit(2000);
  ExpectFailsInTime(http, Url(L"/trickle?n=100000&gap=200"), 1.8, 6.0, L"time limit of 2000 ms");
  EXPECT_GT(http.ResponseStream.Size(), 0u);
  EXPECT_LT(http.ResponseStream.Size(), 100000u);
}

TEST_F(NetTest, AddressOtherThanHttpFails) {
  TNvHttp http;
  EXPECT_FALSE(http.Get(L"ftp://127.0.0.1/file"));
  EXPECT_FALSE(http.ErrorMessage.empty());
  EXPECT_FALSE(http.Get(L"not an address"));
}

// ---- cursor and log -----------------------------------------------------------------

TEST_F(NetTest, HourglassShowsDuringTheTransferOnTheMainThreadOnly) {
  ASSERT_TRUE(NvIsMainThread());
  HCURSOR arrow = LoadCursorW(nullptr, IDC_ARROW), wait = LoadCursorW(nullptr, IDC_WAIT);
  SetCursor(arrow);
  TNvHttp http;
  HCURSOR during = nullptr;
  http.OnWork = [&](TNvHttp*, TWorkMode, int64_t) { during = GetCursor(); };
  ASSERT_TRUE(http.Get(Url(L"/body?n=1000")));
  EXPECT_EQ(during, wait);
  EXPECT_EQ(GetCursor(), arrow);
  EXPECT_FALSE(http.Get(Url(L"/status?code=404")));
  EXPECT_EQ(GetCursor(), arrow);

  bool mainThread = true, ok = false;
  HCURSOR before = nullptr, inThread = nullptr;
  std::thread worker([&] {
    mainThread = NvIsMainThread();
    TNvHttp threaded;
    before = GetCursor();
    threaded.OnWork = [&](TNvHttp*, TWorkMode, int64_t) { inThread = GetCursor(); };
    ok = threaded.Get(Url(L"/body?n=1000"));
  });
  worker.join();
  EXPECT_FALSE(mainThread);
  EXPECT_TRUE(ok);
  EXPECT_EQ(inThread, before);
  EXPECT_NE(inThread, wait);
}

std::vector<std::wstring> gLogEntries;

LRESULT CALLBACK LogWndProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  if (msg == WM_NVHTTPLOG) {
    EXPECT_EQ(wParam, 0u);
    gLogEntries.emplace_back(reinterpret_cast<const wchar_t*>(lParam));
    return 0;
  }
  return DefWindowProcW(hwnd, msg, wParam, lParam);
}

std::vector<std::wstring> SplitCrLf(const std::wstring& text, bool& allEnded) {
  std::vector<std::wstring> lines;
  size_t pos = 0;
  allEnded = true;
  while (pos < text.size()) {
    size_t end = text.find(L"\r\n", pos);
    if (end == std::wstring::npos) {
      allEnded = false;
      lines.push_back(text.substr(pos));
      break;
    }
    lines.push_back(text.substr(pos, end - pos));
    pos = end + 2;
  }
  return lines;
}

TEST_F(NetTest, NoLogSinkByDefaultAndEntriesGoToTheSinkWindow) {
  EXPECT_EQ(HttpLogSink(), nullptr);
  WNDCLASSW wc{};
  wc.lpfnWndProc = LogWndProc;
  wc.hInstance = GetModuleHandleW(nullptr);
  wc.lpszClassName = L"NvHttpLogTest";
  RegisterClassW(&wc);
  HWND window = CreateWindowExW(0, wc.lpszClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, wc.hInstance, nullptr);
  ASSERT_NE(window, nullptr);
  gLogEntries.clear();
  SetHttpLogSink(std::make_unique<TNvHttpLogSink>(window));
  TNvHttp http;
  const std::wstring url = Url(L"/text");
  ASSERT_TRUE(http.Get(url));
  EXPECT_FALSE(http.Get(Url(L"/status?code=404")));  // a failure writes only its request entry
  SetHttpLogSink(nullptr);
  ASSERT_TRUE(http.Get(url));  // no sink: nothing
  DestroyWindow(window);

  ASSERT_EQ(gLogEntries.size(), 3u);
  bool ended = false;
  auto request = SplitCrLf(gLogEntries[0], ended);
  EXPECT_TRUE(ended);
  ASSERT_EQ(request.size(), 4u);
  EXPECT_FALSE(request[0].empty());
  EXPECT_EQ(request[1], L"[Http Request]");
  EXPECT_EQ(request[2], L"hmGet");
  EXPECT_EQ(request[3], url);
  auto response = SplitCrLf(gLogEntries[1], ended);
  EXPECT_TRUE(ended);
  ASSERT_EQ(response.size(), 5u);
  EXPECT_EQ(response[0].size() > 0, true);
  EXPECT_EQ(response[1], L"[Http Response]");
  EXPECT_EQ(response[2], L"hmGet");
  EXPECT_EQ(response[3], L"\u4EE3\u7406 ok");
  EXPECT_EQ(response[4], std::wstring(42, L'-'));
  auto second = SplitCrLf(gLogEntries[2], ended);
  ASSERT_EQ(second.size(), 4u);
  EXPECT_EQ(second[1], L"[Http Request]");
}

// ---- proxy -------------------------------------------------------------------------

class ProxyTest : public NetTest {
protected:
  static void UseProxy(const std::wstring& user, const std::wstring& password) {
    TNvHttpProxy* p = GlobalHttpProxy();
    p->Checked = true;
    p->Address = Config().W("proxy");
    p->Port = std::stoi(Config().Values.at("proxyport"));
    p->UserName = user;
    p->Password = password;
  }
  static std::string ProxyLog() { return ReadFileBytes(UnixToWine(Config().Dir + "/tinyproxy.log")); }
  static std::wstring Tag() { return std::to_wstring(GetTickCount64()) + L"-" + std::to_wstring(++FCounter); }
  static inline int FCounter = 0;
};

TEST_F(ProxyTest, RecordStartsWithNoProxyOnPort8080) {
  TNvHttpProxy p;
  EXPECT_FALSE(p.Checked);
  EXPECT_EQ(p.Port, 8080);
  EXPECT_TRUE(p.Address.empty() && p.UserName.empty() && p.Password.empty());
  EXPECT_EQ(GlobalHttpProxy(), GlobalHttpProxy());
}

TEST_F(ProxyTest, AssignCopiesAllFive) {
  TNvHttpProxy a, b;
  a.Address = L"proxy.example";
  a.Checked = true;
  a.Password = L" pw ";
  a.Port = 3128;
  a.UserName = L"\u7528\u6237";
  b.Assign(&a);
  EXPECT_EQ(b.Address, a.Address);
  EXPECT_TRUE(b.Checked);
  EXPECT_EQ(b.Password, a.Password);
  EXPECT_EQ(b.Port, 3128);
  EXPECT_EQ(b.UserName, a.UserName);
}

TEST_F(ProxyTest, RightCredentialsGoThroughTheProxy) {
  UseProxy(Config().W("proxyuser"), Config().W("proxypassword"));
  const std::wstring tag = Tag();
  TNvHttp http;
  ASSERT_TRUE(http.Get(Url(L"/headers?via=" + tag))) << Utf8Encode(http.ErrorMessage);
  std::string requestLine;
  auto h = ParseHeaders(http.ResponseStream.Bytes(), requestLine);
  ASSERT_EQ(h["via"].size(), 1u);
  EXPECT_NE(h["via"][0].find("tinyproxy"), std::string::npos);
  EXPECT_NE(ProxyLog().find("GET " + Utf8Encode(Url(L"/headers?via=" + tag))), std::string::npos);
}

TEST_F(ProxyTest, WrongOrMissingCredentialsFail) {
  TNvHttp http;
  UseProxy(Config().W("proxyuser"), L"wrong");
  EXPECT_FALSE(http.Get(Url(L"/empty")));
  EXPECT_FALSE(http.ErrorMessage.empty());
  UseProxy(L"someone", Config().W("proxypassword"));
  EXPECT_FALSE(http.Get(Url(L"/empty")));
  UseProxy(L"", L"");
  http.ErrorMessage.clear();
  EXPECT_FALSE(http.Get(Url(L"/empty")));
  EXPECT_NE(http.ErrorMessage.find(L"407"), std::wstring::npos) << Utf8Encode(http.ErrorMessage);
}

TEST_F(ProxyTest, ProxyThatIsNotThereFailsTheRequest) {
  UseProxy(L"", L"");
  GlobalHttpProxy()->Port = std::stoi(Config().Values.at("blackhole")) ^ 1;  // nothing listens on 127.0.0.2 there
  GlobalHttpProxy()->Address = L"127.0.0.3";
  TNvHttp http;
  EXPECT_FALSE(http.Get(Url(L"/empty")));
}

TEST_F(ProxyTest, UncheckedRecordConnectsDirectlyAfterAProxiedRequest) {
  UseProxy(Config().W("proxyuser"), Config().W("proxypassword"));
  TNvHttp http;
  ASSERT_TRUE(http.Get(Url(L"/headers?first=1"))) << Utf8Encode(http.ErrorMessage);
  EXPECT_NE(http.ResponseStream.Bytes().find("tinyproxy"), std::string::npos);
  GlobalHttpProxy()->Checked = false;  // address and credentials stay in the record
  const std::wstring tag = Tag();
  ASSERT_TRUE(http.Get(Url(L"/headers?direct=" + tag))) << Utf8Encode(http.ErrorMessage);
  std::string requestLine;
  auto h = ParseHeaders(http.ResponseStream.Bytes(), requestLine);
  EXPECT_EQ(h.count("via"), 0u);
  EXPECT_EQ(h.count("proxy-authorization"), 0u);
  EXPECT_EQ(ProxyLog().find(Utf8Encode(tag)), std::string::npos);
}

// ---- TLS ----------------------------------------------------------------------------

const auto* const gTrustedTestCa = ::testing::AddGlobalTestEnvironment(new TTrustedTestCa);

TEST_F(NetTest, TlsServerWithAnUntrustedCertificateFails) {
  TNvHttp http;
  EXPECT_FALSE(http.Get(L"https://localhost:" + Config().W("https-untrusted") + L"/text"));
  EXPECT_FALSE(http.ErrorMessage.empty());
}

TEST_F(NetTest, TlsServerWithATrustedCertificateSucceedsWhateverTheSchemeCase) {
  ASSERT_TRUE(TTrustedTestCa::Added());
  TNvHttp http;
  TWorkRecord work;
  work.Attach(http);
  ASSERT_TRUE(http.Get(L"https://localhost:" + Config().W("https") + L"/body?n=70000"))
      << Utf8Encode(http.ErrorMessage);
  EXPECT_TRUE(http.ResponseStream.Bytes() == Pattern(70000));
  EXPECT_EQ(work.Max, 70000);
  ASSERT_TRUE(http.Get(L"HTTPS://localhost:" + Config().W("https") + L"/redirect?n=3"))
      << Utf8Encode(http.ErrorMessage);
  EXPECT_EQ(http.ResponseStream.Bytes(), "final body");
  // The same server reached over plain TCP does not answer HTTP.
  EXPECT_FALSE(http.Get(L"http://localhost:" + Config().W("https") + L"/text"));
  // Another CA's certificate stays untrusted; a name the certificate does not carry fails.
  EXPECT_FALSE(http.Get(L"https://localhost:" + Config().W("https-untrusted") + L"/text"));
  EXPECT_FALSE(http.Get(L"https://127.0.0.1:" + Config().W("https") + L"/text"));
}

}  // namespace
