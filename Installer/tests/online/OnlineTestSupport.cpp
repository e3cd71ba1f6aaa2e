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
                               bool serveFull, const TOnlineBuild& build) {
  Root = FreshDir(name);
  App = Root + L"app\\";
  ServedName = name + L".exe";
  FullPath = (serveFull ? ServedDir() : Root) + ServedName;
  StubPath = Root + L"setup.exe";
  Url = url.empty() ? HttpUrl(L"/files/" + ServedName) : url;
  RegKey = L"Software\\nvonline-tests\\" + name;
  Big = build.Big;
  Package = std::make_unique<TTestPackage>(Root, title, App);
  Package->AddFile(L"{app}", L"readme.txt", "online " + Utf8Encode(name));
  Package->AddFile(L"{app}data", L"data.bin", RandomBytes(200000, 7));
  if (!Big.empty()) Package->AddFile(L"{app}", L"big.bin", Big);
  Package->AddReg(rrkCurrentUser, RegKey, L"Folder", L"{app}");
  Package->Info().MiniSetupFile = StubPath;
  Package->Info().FullDownloadUrl = Url;
  Package->OnlineTrust = build.Trust;
  Package->SignCommand = build.SignCommand;
  Package->Build(FullPath);
}

TOnlineProduct::~TOnlineProduct() {
  DeleteKeyTree(HKEY_CURRENT_USER, RegKey);
  DeleteKeyTree(HKEY_LOCAL_MACHINE, UninstallKey(Package->Info().GUID));
  DeleteFileW((ServedDir() + ServedName).c_str());
  if (!Big.empty()) RemoveTree(Root);
}

bool TOnlineProduct::Installed() const {
  return ReadBytes(App + L"readme.txt") == "online " + Utf8Encode(ExtractFileNameNoExt(ServedName)) &&
         ReadBytes(App + L"data\\data.bin") == RandomBytes(200000, 7) &&
         (Big.empty() || ReadBytes(App + L"big.bin") == Big) &&
         RegString(HKEY_CURRENT_USER, RegKey, L"Folder") == App;
}

std::wstring TOnlineProduct::BuildFullVariant(const std::wstring& fileName, const std::string& readme,
                                              const std::string& signCommand) {
  // The readme's source is the first item's (TTestPackage keeps one folder per item).
  const std::wstring source = Root + L"src\\1\\readme.txt";
  const std::string original = ReadBytes(source);
  const std::wstring stub = Package->Info().MiniSetupFile, full = Package->Info().FullSetupFile;
  const std::string sign = Package->SignCommand;
  WriteBytes(source, readme);
  Package->Info().MiniSetupFile = L"";
  Package->SignCommand = signCommand;
  Package->Build(Root + fileName);
  WriteBytes(source, original);
  Package->Info().MiniSetupFile = stub;
  Package->Info().FullSetupFile = full;
  Package->SignCommand = sign;
  return Root + fileName;
}

std::string SignWith(const std::string& name) {
  const std::string certs = Net().Values.at("certs");
  return "\"" + Utf8Encode(WinePath(NV_TESTSIGN_SCRIPT)) + "\" \"" + certs + "/" + name + ".pem\" \"" + certs + "/" + name +
         ".key\" {file} && \"" + Utf8Encode(ProbeExe()) + "\" waitfile {file}.signed-done 60000";
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

namespace {

bool IsDownloadName(const std::wstring& name) {
  return name.size() == 42 && name.front() == L'{' && name.substr(37) == L"}.exe";
}

std::wstring TempDir() {
  wchar_t temp[MAX_PATH];
  GetTempPathW(MAX_PATH, temp);
  return temp;
}

}  // namespace

std::size_t DownloadedFileCount() {
  std::size_t n = 0;
  std::error_code ec;
  for (const auto& entry : std::filesystem::directory_iterator(TempDir(), ec))
    n += IsDownloadName(entry.path().filename().wstring());
  return n;
}

std::wstring NewestDownloadedFile() {
  std::filesystem::path newest;
  std::filesystem::file_time_type newestTime{};
  std::error_code ec;
  for (const auto& entry : std::filesystem::directory_iterator(TempDir(), ec)) {
    if (!IsDownloadName(entry.path().filename().wstring())) continue;
    auto t = entry.last_write_time(ec);
    if (newest.empty() || t > newestTime) {
      newest = entry.path();
      newestTime = t;
    }
  }
  return newest.wstring();
}

bool FolderIsEmpty(const std::wstring& dir) {
  WIN32_FIND_DATAW found;
  HANDLE h = FindFirstFileW((dir + L"*").c_str(), &found);
  if (h == INVALID_HANDLE_VALUE) return true;
  bool empty = true;
  do {
    if (wcscmp(found.cFileName, L".") != 0 && wcscmp(found.cFileName, L"..") != 0) empty = false;
  } while (empty && FindNextFileW(h, &found));
  FindClose(h);
  return empty;
}

}  // namespace nvtest
