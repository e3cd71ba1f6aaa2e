#include "OnlineTestSupport.h"

#include <filesystem>

#include "NvSysUtils.h"

namespace nvtest {

const nvnet::TNetConfig& Net() { return nvnet::TNetConfig::Get(); }

std::wstring HttpUrl(const std::wstring& path) { return Net().HttpUrl(path); }

std::wstring ServedDir() { return nvnet::UnixToWine(Net().Values.at("www")) + L"\\"; }

std::string RequestLog() { return nvnet::ReadFileBytes(Net().File("requests.log")); }

std::string ProxyLog() { return nvnet::ReadFileBytes(Net().File("tinyproxy.log")); }

TOnlineProduct::TOnlineProduct(const std::wstring& name, const std::wstring& title, const std::wstring& url,
                               bool serveFull) {
  Root = FreshDir(name);
  App = Root + L"app\\";
  ServedName = name + L".exe";
  FullPath = (serveFull ? ServedDir() : Root) + ServedName;
  StubPath = Root + L"setup.exe";
  Url = url.empty() ? HttpUrl(L"/files/" + ServedName) : url;
  RegKey = L"Software\\nvonline-tests\\" + name;
  Package = std::make_unique<TTestPackage>(Root, title, App);
  Package->AddFile(L"{app}", L"readme.txt", "online " + Utf8Encode(name));
  Package->AddFile(L"{app}data", L"data.bin", RandomBytes(200000, 7));
  Package->AddReg(rrkCurrentUser, RegKey, L"Folder", L"{app}");
  Package->Info().MiniSetupFile = StubPath;
  Package->Info().FullDownloadUrl = Url;
  Package->Build(FullPath);
}

TOnlineProduct::~TOnlineProduct() {
  DeleteKeyTree(HKEY_CURRENT_USER, RegKey);
  DeleteKeyTree(HKEY_LOCAL_MACHINE, UninstallKey(Package->Info().GUID));
  DeleteFileW((ServedDir() + ServedName).c_str());
}

bool TOnlineProduct::Installed() const {
  return ReadBytes(App + L"readme.txt") == "online " + Utf8Encode(ExtractFileNameNoExt(ServedName)) &&
         ReadBytes(App + L"data\\data.bin") == RandomBytes(200000, 7) &&
         RegString(HKEY_CURRENT_USER, RegKey, L"Folder") == App;
}

namespace {
const wchar_t kHttpCommand[] = L"http\\shell\\open\\command";
}  // namespace

TBrowserStandIn::TBrowserStandIn(const std::wstring& log) {
  FOld = RegString(HKEY_CLASSES_ROOT, kHttpCommand, L"", KEY_WOW64_64KEY);
  SetRegString(HKEY_CLASSES_ROOT, kHttpCommand, L"", L"\"" + ProbeExe() + L"\" log \"" + log + L"\" browser \"%1\"",
               KEY_WOW64_64KEY);
}

TBrowserStandIn::~TBrowserStandIn() {
  if (FOld != L"<missing>") SetRegString(HKEY_CLASSES_ROOT, kHttpCommand, L"", FOld, KEY_WOW64_64KEY);
}

std::wstring NewestDownloadedFile() {
  wchar_t temp[MAX_PATH];
  GetTempPathW(MAX_PATH, temp);
  std::filesystem::path newest;
  std::filesystem::file_time_type newestTime{};
  std::error_code ec;
  for (const auto& entry : std::filesystem::directory_iterator(temp, ec)) {
    std::wstring name = entry.path().filename().wstring();
    if (name.size() != 42 || name.front() != L'{' || name.substr(37) != L"}.exe") continue;
    auto t = entry.last_write_time(ec);
    if (newest.empty() || t > newestTime) {
      newest = entry.path();
      newestTime = t;
    }
  }
  return newest.wstring();
}

}  // namespace nvtest
