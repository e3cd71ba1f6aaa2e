#include "NvIndyUtils.h"

#include <winhttp.h>

#include <algorithm>
#include <cwctype>
#include <vector>

#include "NvSysError.h"
#include "NvSysUtils.h"
#include "NvTypInfo.h"

namespace {

// Recorded while the program's static objects are built, which happens on the
// thread that starts the program.
const DWORD gMainThreadId = GetCurrentThreadId();

const wchar_t* const kUserAgent = L"Mozilla/3.0 (compatible; Indy Library)";
const wchar_t* const kRequestHeaders = L"Cache-Control: no-cache\r\nConnection: Keep-Alive\r\n";
// The request methods; the log names the one used by its enumeration name.
enum THttpMethod { hmHead, hmGet, hmPost, hmOptions, hmTrace, hmPut, hmDelete, hmConnect, hmPatch };
const TEnumInfo HttpMethodInfo{"TIdHTTPMethod",
                               {"hmHead", "hmGet", "hmPost", "hmOptions", "hmTrace", "hmPut", "hmDelete",
                                "hmConnect", "hmPatch"}};

struct THttpFailure {
  std::wstring Message;
};

std::wstring TrimText(const std::wstring& s) {
  size_t b = 0, e = s.size();
  while (b < e && s[b] <= L' ') ++b;
  while (e > b && s[e - 1] <= L' ') --e;
  return s.substr(b, e - b);
}

// The system's text for a WinHTTP or system error code, with the code.
std::wstring ErrorText(DWORD code) {
  std::wstring text = TrimText(SystemErrorText(code, GetModuleHandleW(L"winhttp.dll")));
  if (text.empty()) {
    // Systems without WinHTTP's message table still get a readable cause.
    switch (code) {
      case 12002:
      case WSAETIMEDOUT: text = L"The operation timed out"; break;
      case 12005: text = L"The address is not valid"; break;
      case 12006: text = L"The address does not use a recognised protocol"; break;
      case 12007: text = L"The server name could not be resolved"; break;
      case 12029: text = L"The connection to the server could not be established"; break;
      case 12030: text = L"The connection with the server was ended"; break;
      case 12037: text = L"The server certificate has expired or is not yet valid"; break;
      case 12038: text = L"The server certificate does not carry the server's name"; break;
      case 12044: text = L"The server asks for a client certificate"; break;
      case 12045: text = L"The server certificate is issued by an untrusted authority"; break;
      case 12152: text = L"The server response could not be parsed"; break;
      case 12157: text = L"The secure channel could not be established"; break;
      case 12175: text = L"The server certificate could not be verified"; break;
      default: text = L"HTTP transfer failed"; break;
    }
  }
  return text + L" (error " + IntToStr(code) + L")";
}

[[noreturn]] void FailLastError(const std::wstring& what) {
  DWORD code = GetLastError();
  throw THttpFailure{what + L": " + ErrorText(code)};
}

// WinHTTP's time-out, or the socket's (which Wine's WinHTTP passes on).
bool IsTimeout(DWORD code) { return code == ERROR_WINHTTP_TIMEOUT || code == WSAETIMEDOUT; }

// The time limit of one Get. Each wait is cut to the time that is left, and a
// time-out once the limit has passed is reported as the limit's.
class TDeadline {
public:
  explicit TDeadline(int limit) : FLimit(limit), FEnd(GetTickCount64() + (limit > 0 ? limit : 0)) {}
  // wait (milliseconds, 0 or less: none) cut to the time left; raises the
  // limit's failure when nothing is left.
  int Cap(int wait) const {
    if (FLimit <= 0) return wait > 0 ? wait : 0;
    ULONGLONG now = GetTickCount64();
    if (now >= FEnd) FailLimit();
    int left = static_cast<int>(FEnd - now);
    return wait > 0 && wait < left ? wait : left;
  }
  // The failure of a WinHTTP call: the limit's when the limit has passed.
  [[noreturn]] void Fail(const std::wstring& what) const {
    DWORD code = GetLastError();
    if (IsTimeout(code) && FLimit > 0 && GetTickCount64() >= FEnd) FailLimit();
    SetLastError(code);
    FailLastError(what);
  }

private:
  [[noreturn]] void FailLimit() const {
    throw THttpFailure{L"The transfer did not end within its time limit of " + IntToStr(FLimit) + L" ms (error " +
                       IntToStr(ERROR_WINHTTP_TIMEOUT) + L")"};
  }
  int FLimit;
  ULONGLONG FEnd;
};

class THandle {
public:
  explicit THandle(HINTERNET h = nullptr) : FHandle(h) {}
  ~THandle() {
    if (FHandle) WinHttpCloseHandle(FHandle);
  }
  THandle(const THandle&) = delete;
  THandle& operator=(const THandle&) = delete;
  HINTERNET Get() const { return FHandle; }

private:
  HINTERNET FHandle;
};

std::wstring QueryHeaderText(HINTERNET request, DWORD info, bool* found = nullptr) {
  DWORD size = 0;
  WinHttpQueryHeaders(request, info, WINHTTP_HEADER_NAME_BY_INDEX, WINHTTP_NO_OUTPUT_BUFFER, &size,
                      WINHTTP_NO_HEADER_INDEX);
  if (found) *found = false;
  if (GetLastError() != ERROR_INSUFFICIENT_BUFFER || size == 0) return {};
  std::vector<wchar_t> buffer(size / sizeof(wchar_t) + 1);
  if (!WinHttpQueryHeaders(request, info, WINHTTP_HEADER_NAME_BY_INDEX, buffer.data(), &size,
                           WINHTTP_NO_HEADER_INDEX))
    return {};
  if (found) *found = true;
  return std::wstring(buffer.data(), size / sizeof(wchar_t));
}

DWORD QueryStatusCode(HINTERNET request) {
  DWORD status = 0, size = sizeof(status);
  if (!WinHttpQueryHeaders(request, WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                           WINHTTP_HEADER_NAME_BY_INDEX, &status, &size, WINHTTP_NO_HEADER_INDEX))
    FailLastError(L"Reading the response");
  return status;
}

// A decimal length of at most 18 digits.
bool ParseLength(const std::wstring& text, int64_t& value) {
  if (text.empty() || text.size() > 18) return false;
  value = 0;
  for (wchar_t c : text) {
    if (c < L'0' || c > L'9') return false;
    value = value * 10 + (c - L'0');
  }
  return true;
}

// Content-Range "bytes FIRST-LAST/TOTAL" or "bytes FIRST-LAST/*" (total -1).
bool ParseContentRange(const std::wstring& text, int64_t& first, int64_t& last, int64_t& total) {
  if (text.compare(0, 6, L"bytes ") != 0) return false;
  const size_t dash = text.find(L'-', 6), slash = text.find(L'/', 6);
  if (dash == std::wstring::npos || slash == std::wstring::npos || dash > slash) return false;
  if (!ParseLength(TrimText(text.substr(6, dash - 6)), first) ||
      !ParseLength(TrimText(text.substr(dash + 1, slash - dash - 1)), last) || last < first)
    return false;
  const std::wstring totalText = TrimText(text.substr(slash + 1));
  if (totalText == L"*") {
    total = -1;
    return true;
  }
  return ParseLength(totalText, total) && total > last;
}

bool IsRedirect(DWORD status) {
  return status == 301 || status == 302 || status == 303 || status == 307 || status == 308;
}

struct TUrlParts {
  bool Secure = false;
  std::wstring Scheme;
  std::wstring Host;
  INTERNET_PORT Port = 0;
  std::wstring PathAndQuery;  // "/" at least
};

TUrlParts CrackUrl(const std::wstring& url) {
  URL_COMPONENTS uc{};
  uc.dwStructSize = sizeof(uc);
  uc.dwSchemeLength = static_cast<DWORD>(-1);
  uc.dwHostNameLength = static_cast<DWORD>(-1);
  uc.dwUrlPathLength = static_cast<DWORD>(-1);
  uc.dwExtraInfoLength = static_cast<DWORD>(-1);
  if (!WinHttpCrackUrl(url.c_str(), static_cast<DWORD>(url.size()), 0, &uc))
    throw THttpFailure{L"Invalid address \"" + url + L"\": " + ErrorText(GetLastError())};
  TUrlParts parts;
  parts.Scheme.assign(uc.lpszScheme, uc.dwSchemeLength);
  // The scheme's letter case does not matter: "HTTPS://" is TLS as well.
  parts.Secure = uc.nScheme == INTERNET_SCHEME_HTTPS;
  parts.Host.assign(uc.lpszHostName, uc.dwHostNameLength);
  parts.Port = uc.nPort;
  if (uc.lpszUrlPath) parts.PathAndQuery.assign(uc.lpszUrlPath, uc.dwUrlPathLength);
  if (uc.lpszExtraInfo) parts.PathAndQuery.append(uc.lpszExtraInfo, uc.dwExtraInfoLength);
  // A fragment names a place in the document and is never sent.
  size_t hash = parts.PathAndQuery.find(L'#');
  if (hash != std::wstring::npos) parts.PathAndQuery.erase(hash);
  if (parts.PathAndQuery.empty() || parts.PathAndQuery[0] != L'/') parts.PathAndQuery.insert(0, L"/");
  if (parts.Host.empty()) throw THttpFailure{L"Invalid address \"" + url + L"\": no host name"};
  return parts;
}

bool HasScheme(const std::wstring& s) {
  size_t i = 0;
  while (i < s.size() && (std::iswalnum(s[i]) || s[i] == L'+' || s[i] == L'-' || s[i] == L'.')) ++i;
  return i > 0 && s.compare(i, 3, L"://") == 0;
}

// The address a Location header names, relative to the address it came from.
std::wstring ResolveLocation(const TUrlParts& base, const std::wstring& location) {
  if (HasScheme(location)) return location;
  if (location.rfind(L"//", 0) == 0) return base.Scheme + L":" + location;
  std::wstring origin = base.Scheme + L"://" + base.Host + L":" + IntToStr(base.Port);
  if (!location.empty() && location[0] == L'/') return origin + location;
  std::wstring dir = base.PathAndQuery.substr(0, base.PathAndQuery.find(L'?'));
  dir.erase(dir.rfind(L'/') + 1);
  if (location.empty()) return origin + base.PathAndQuery;
  if (location[0] == L'?') return origin + base.PathAndQuery.substr(0, base.PathAndQuery.find(L'?')) + location;
  return origin + dir + location;
}

std::wstring NowText() {
  wchar_t date[128] = L"", time[128] = L"";
  GetDateFormatW(LOCALE_USER_DEFAULT, DATE_SHORTDATE, nullptr, nullptr, date, 128);
  GetTimeFormatW(LOCALE_USER_DEFAULT, 0, nullptr, nullptr, time, 128);
  return std::wstring(date) + L" " + time;
}

std::unique_ptr<TNvHttpLogSink>& LogSinkSlot() {
  static std::unique_ptr<TNvHttpLogSink> sink;
  return sink;
}

// Shows the hourglass for the life of the object, on the main thread only.
class TWaitCursor {
public:
  TWaitCursor() {
    if (NvIsMainThread()) {
      FActive = true;
      FSaved = SetCursor(LoadCursorW(nullptr, IDC_WAIT));
    }
  }
  ~TWaitCursor() {
    if (FActive) SetCursor(FSaved);
  }

private:
  bool FActive = false;
  HCURSOR FSaved = nullptr;
};

}  // namespace

bool NvIsMainThread() { return GetCurrentThreadId() == gMainThreadId; }

TNvHttpProxy* GlobalHttpProxy() {
  static std::unique_ptr<TNvHttpProxy> proxy = std::make_unique<TNvHttpProxy>();
  return proxy.get();
}

TNvHttpLogSink* HttpLogSink() { return LogSinkSlot().get(); }

void SetHttpLogSink(std::unique_ptr<TNvHttpLogSink> sink) { LogSinkSlot() = std::move(sink); }

TNvHttp::TNvHttp() = default;

void TNvHttp::OpenSession(const std::wstring& proxy) {
  if (FSession && proxy == FSessionProxy) return;
  if (FSession) WinHttpCloseHandle(FSession);
  FSessionProxy = proxy;
  // The proxy is a property of the session, set when it opens; no proxy at all
  // (never the system's configuration) for a direct connection.
  FSession = proxy.empty()
                 ? WinHttpOpen(kUserAgent, WINHTTP_ACCESS_TYPE_NO_PROXY, WINHTTP_NO_PROXY_NAME, WINHTTP_NO_PROXY_BYPASS, 0)
                 : WinHttpOpen(kUserAgent, WINHTTP_ACCESS_TYPE_NAMED_PROXY, proxy.c_str(), WINHTTP_NO_PROXY_BYPASS, 0);
  if (!FSession) FailLastError(L"Starting the HTTP client");
  // Redirects are followed here, not by WinHTTP, so that the chain's limit is ours.
  DWORD policy = WINHTTP_OPTION_REDIRECT_POLICY_NEVER;
  WinHttpSetOption(FSession, WINHTTP_OPTION_REDIRECT_POLICY, &policy, sizeof(policy));
  // Negotiate the highest TLS version both sides support.
  DWORD protocols = WINHTTP_FLAG_SECURE_PROTOCOL_TLS1 | WINHTTP_FLAG_SECURE_PROTOCOL_TLS1_1 |
                    WINHTTP_FLAG_SECURE_PROTOCOL_TLS1_2;
#ifdef WINHTTP_FLAG_SECURE_PROTOCOL_TLS1_3
  protocols |= WINHTTP_FLAG_SECURE_PROTOCOL_TLS1_3;
#endif
  if (!WinHttpSetOption(FSession, WINHTTP_OPTION_SECURE_PROTOCOLS, &protocols, sizeof(protocols))) {
    protocols &= ~0x00002000u;  // systems without TLS 1.3 refuse the whole set
    WinHttpSetOption(FSession, WINHTTP_OPTION_SECURE_PROTOCOLS, &protocols, sizeof(protocols));
  }
}

TNvHttp::~TNvHttp() {
  if (FSession) WinHttpCloseHandle(FSession);
}

std::wstring TNvHttp::ResponseText() const {
  return Utf8Decode(ResponseStream.Bytes());
}

void TNvHttp::WriteLog(bool response, const std::wstring& text) const {
  TNvHttpLogSink* sink = HttpLogSink();
  if (!sink) return;
  std::wstring entry = NowText() + L"\r\n" + (response ? L"[Http Response]" : L"[Http Request]") + L"\r\n" +
                       TNvSysfn::EnumName(HttpMethodInfo, hmGet) + L"\r\n" + text + L"\r\n";
  if (response) entry += L"------------------------------------------\r\n";
  SendMessageW(sink->Handle, WM_NVHTTPLOG, 0, reinterpret_cast<LPARAM>(entry.c_str()));
}

bool TNvHttp::Get(const std::wstring& Url) {
  TWaitCursor cursor;
  try {
    WriteLog(false, Url);
    ResponseStream.Clear();
    Transfer(Url, nullptr, nullptr, [this](const char* data, std::size_t size) { ResponseStream.Write(data, size); });
    ResponseStream.Rewind();
    WriteLog(true, ResponseText());
    return true;
  } catch (const THttpFailure& failure) {
    ErrorMessage = failure.Message;
  } catch (const std::exception& e) {
    std::string what = e.what();
    ErrorMessage = std::wstring(what.begin(), what.end());
  }
  return false;
}

bool TNvHttp::Get(const std::wstring& Url, const TRange* range, const TAnswerEvent& onAnswer, const TBodySink& onBody) {
  TWaitCursor cursor;
  int64_t received = 0;
  try {
    WriteLog(false, Url);
    ResponseStream.Clear();
    Transfer(Url, range, onAnswer, [&](const char* data, std::size_t size) {
      received += static_cast<int64_t>(size);
      if (onBody) onBody(data, size);
    });
    WriteLog(true, L"(" + IntToStr(received) + L" bytes)");
    return true;
  } catch (const THttpFailure& failure) {
    ErrorMessage = failure.Message;
  }
  return false;
}

void TNvHttp::Transfer(const std::wstring& url, const TRange* range, const TAnswerEvent& onAnswer,
                       const TBodySink& onBody) {
  StatusCode = 0;
  BodyBroken = false;
  const TNvHttpProxy* proxy = GlobalHttpProxy();
  const bool useProxy = proxy->Checked;
  OpenSession(useProxy ? proxy->Address + L":" + IntToStr(proxy->Port) : std::wstring());

  const TDeadline deadline(FTimeLimit);
  std::wstring current = url;
  for (int redirects = 0;; ++redirects) {
    TUrlParts parts = CrackUrl(current);
    THandle connection(WinHttpConnect(FSession, parts.Host.c_str(), parts.Port, 0));
    if (!connection.Get()) FailLastError(L"Connecting");
    const wchar_t* accept[] = {L"*/*", nullptr};
    THandle request(WinHttpOpenRequest(connection.Get(), L"GET", parts.PathAndQuery.c_str(), L"HTTP/1.1",
                                       WINHTTP_NO_REFERER, accept, parts.Secure ? WINHTTP_FLAG_SECURE : 0));
    if (!request.Get()) FailLastError(L"Opening the request");
    HINTERNET h = request.Get();

    DWORD disable = WINHTTP_DISABLE_REDIRECTS;
    WinHttpSetOption(h, WINHTTP_OPTION_DISABLE_FEATURE, &disable, sizeof(disable));
    std::wstring headers = kRequestHeaders;
    if (range && range->From > 0) {
      headers += L"Range: bytes=" + IntToStr(range->From) + L"-\r\n";
      if (!range->Validator.empty()) headers += L"If-Range: " + range->Validator + L"\r\n";
    }
    if (!WinHttpAddRequestHeaders(h, headers.c_str(), static_cast<DWORD>(-1),
                                  WINHTTP_ADDREQ_FLAG_ADD | WINHTTP_ADDREQ_FLAG_REPLACE))
      FailLastError(L"Setting the request headers");

    DWORD status = 0;
    for (int attempt = 1;; ++attempt) {
      // Resolving and connecting share the connect limit; sending and the wait
      // for the answer's headers the receive limit; all within the time left.
      const int connect = deadline.Cap(FConnectTimeout), receive = deadline.Cap(FReceiveTimeout);
      if (!WinHttpSetTimeouts(h, connect, connect, receive, receive)) FailLastError(L"Setting time-outs");
      DWORD headerWait = receive > 0 ? static_cast<DWORD>(receive) : INFINITE;
      WinHttpSetOption(h, WINHTTP_OPTION_RECEIVE_RESPONSE_TIMEOUT, &headerWait, sizeof(headerWait));
      if (!WinHttpSendRequest(h, WINHTTP_NO_ADDITIONAL_HEADERS, 0, WINHTTP_NO_REQUEST_DATA, 0, 0, 0))
        deadline.Fail(L"Sending the request");
      if (!WinHttpReceiveResponse(h, nullptr)) deadline.Fail(L"Receiving the response");
      status = QueryStatusCode(h);
      StatusCode = status;
      if (status != HTTP_STATUS_PROXY_AUTH_REQ || !useProxy) break;
      // The proxy wants credentials: Basic only, and at most three attempts in all.
      if (attempt >= MaxProxyAuthAttempts || proxy->UserName.empty()) break;
      DWORD supported = 0, first = 0, target = 0;
      if (!WinHttpQueryAuthSchemes(h, &supported, &first, &target) || !(supported & WINHTTP_AUTH_SCHEME_BASIC))
        throw THttpFailure{L"The proxy server asks for an authentication other than Basic"};
      if (!WinHttpSetCredentials(h, WINHTTP_AUTH_TARGET_PROXY, WINHTTP_AUTH_SCHEME_BASIC, proxy->UserName.c_str(),
                                 proxy->Password.c_str(), nullptr))
        FailLastError(L"Setting the proxy credentials");
    }

    if (IsRedirect(status)) {
      bool found = false;
      std::wstring location = TrimText(QueryHeaderText(h, WINHTTP_QUERY_LOCATION, &found));
      if (found) {
        if (redirects >= MaxRedirects)
          throw THttpFailure{L"Too many redirects: more than " + IntToStr(MaxRedirects) + L" in one chain"};
        current = ResolveLocation(parts, location);
        continue;
      }
    }
    if (status < 200 || status > 299) {
      std::wstring version = QueryHeaderText(h, WINHTTP_QUERY_VERSION);
      std::wstring text = QueryHeaderText(h, WINHTTP_QUERY_STATUS_TEXT);
      throw THttpFailure{(version.empty() ? L"HTTP/1.1" : version) + L" " + IntToStr(status) +
                         (text.empty() ? L"" : L" " + text)};
    }

    bool declared = false;
    int64_t length = 0;
    std::wstring lengthText = TrimText(QueryHeaderText(h, WINHTTP_QUERY_CONTENT_LENGTH, &declared));
    if (declared) {
      declared = ParseLength(lengthText, length);
      if (!declared) length = 0;
    }
    TAnswer answer;
    answer.Status = status;
    answer.Length = declared ? length : -1;
    answer.Total = answer.Length;
    if (status == HTTP_STATUS_PARTIAL_CONTENT) {
      // "bytes FIRST-LAST/TOTAL" (TOTAL may be "*").
      const std::wstring rangeText = TrimText(QueryHeaderText(h, WINHTTP_QUERY_CONTENT_RANGE));
      int64_t first = 0, last = 0, total = -1;
      if (!ParseContentRange(rangeText, first, last, total))
        throw THttpFailure{L"The server answered a range request with an unreadable Content-Range \"" + rangeText + L"\""};
      answer.Offset = first;
      answer.Total = total;
      if (!declared) {
        declared = true;
        length = last - first + 1;
        answer.Length = length;
      }
    }
    answer.ETag = TrimText(QueryHeaderText(h, WINHTTP_QUERY_ETAG));
    answer.LastModified = TrimText(QueryHeaderText(h, WINHTTP_QUERY_LAST_MODIFIED));
    if (onAnswer) onAnswer(answer);

    if (OnWorkBegin) OnWorkBegin(this, wmRead, length);
    struct TEndWork {
      TNvHttp* Self;
      ~TEndWork() {
        if (Self->OnWorkEnd) Self->OnWorkEnd(Self, wmRead);
      }
    } endWork{this};
    std::vector<char> buffer(64 * 1024);
    int64_t received = 0;
    for (;;) {
      DWORD got = 0;
      const int cap = deadline.Cap(FReceiveTimeout);
      DWORD wait = cap > 0 ? static_cast<DWORD>(cap) : INFINITE;
      WinHttpSetOption(h, WINHTTP_OPTION_RECEIVE_TIMEOUT, &wait, sizeof(wait));
      // Wait for what has arrived and take only that, so that a body that
      // stops midway keeps its part and each wait is one silence.
      DWORD available = 0;
      if (!WinHttpQueryDataAvailable(h, &available) ||
          (available > 0 && !WinHttpReadData(h, buffer.data(),
                                             std::min(available, static_cast<DWORD>(buffer.size())), &got))) {
        BodyBroken = true;
        deadline.Fail(L"Reading the response body after " + IntToStr(received) + L" of " +
                      (declared ? IntToStr(length) : std::wstring(L"an unknown number of")) + L" bytes");
      }
      if (got == 0) break;
      onBody(buffer.data(), got);
      received += got;
      if (OnWork) OnWork(this, wmRead, received);
    }
    if (declared && received < length) {
      BodyBroken = true;
      throw THttpFailure{L"Connection closed after " + IntToStr(received) + L" of " +
                         IntToStr(length) + L" bytes"};
    }
    return;
  }
}
