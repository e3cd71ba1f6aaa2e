#include "UninstallFixture.h"

#include <shlobj.h>

#include <gtest/gtest.h>

#include <filesystem>

namespace untest {

namespace {

std::wstring Folder(int csidl) {
  wchar_t path[MAX_PATH] = {};
  if (FAILED(SHGetFolderPathW(nullptr, csidl, nullptr, 0, path))) return {};
  std::wstring s = path;
  if (!s.empty() && s.back() != L'\\') s += L'\\';
  return s;
}

}  // namespace

std::wstring UninstallExe() { return nvtest::WinePath(NV_UNINSTALL_EXE); }
std::wstring ProgramsDir() { return Folder(CSIDL_COMMON_PROGRAMS); }
std::wstring DesktopDir() { return Folder(CSIDL_DESKTOP); }

TProduct::TProduct(const std::wstring& root, const std::wstring& title)
    : Package(root, title, root + L"app\\"), Root(root), App(root + L"app\\"), Exe(root + L"Setup-" + title + L".exe"),
      Title(title), Company(L"NvUn Co") {
  TSetupBaseInfo& info = Package.Info();
  info.CompanyName = Company;
  Guid = info.GUID;
  Package.AddFile(L"{app}", L"Uninstall.exe", nvtest::ReadBytes(UninstallExe()));
  Package.AddFile(L"{app}\\bin", L"Tool.exe", nvtest::ReadBytes(nvtest::ProbeExe()));
  Package.AddFile(L"{app}", L"readme.txt", "read me\r\n");
  Package.AddFile(L"{app}\\data\\levels", L"level1.dat", nvtest::RandomBytes(5000, 7));
  for (const wchar_t* f : {L"Uninstall.exe", L"bin\\Tool.exe", L"readme.txt", L"data\\levels\\level1.dat"})
    Files.push_back(App + f);
  Package.AddReg(rrkLocalMachine, ProductKey(), L"InstallDir", L"{app}");
  Package.AddReg(rrkLocalMachine, ProductKey(), L"AppID", L"10033", rvtDWord);
  Package.AddReg(rrkLocalMachine, CompanyKey(), title + L" Path", L"{app}");
  Package.AddReg(rrkCurrentUser, UserKey(), L"FirstRun", L"1", rvtDWord);
  Package.AddShortCut(L"{group}", title, L"{app}\\bin\\Tool.exe", L"{app}");
  Package.AddShortCut(L"{desktop}", title, L"{app}\\bin\\Tool.exe", L"{app}");
  Shortcuts.push_back(ProgramsDir() + title + L"\\" + title + L".lnk");
  Shortcuts.push_back(DesktopDir() + title + L".lnk");
}

std::wstring TProduct::ProductKey() const { return L"Software\\" + Company + L"\\" + Title; }
std::wstring TProduct::CompanyKey() const { return L"Software\\" + Company; }
std::wstring TProduct::UserKey() const { return L"Software\\" + Title + L"\\Settings"; }

void TProduct::Build() { Package.Build(Exe); }

DWORD TProduct::Uninstall(const std::wstring& args) const { return nvtest::RunSetup(App + L"Uninstall.exe", args); }

std::vector<std::wstring> PendingDeletes() {
  DWORD type = 0;
  std::string data;
  std::vector<std::wstring> names;
  if (!nvtest::ReadValue(HKEY_LOCAL_MACHINE, L"System\\CurrentControlSet\\Control\\Session Manager",
                         L"PendingFileRenameOperations", KEY_WOW64_64KEY, type, data))
    return names;
  std::wstring text(reinterpret_cast<const wchar_t*>(data.data()), data.size() / sizeof(wchar_t));
  // Pairs of source and target; an empty target is a deletion.
  std::vector<std::wstring> parts;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find(L'\0', start);
    if (end == std::wstring::npos) end = text.size();
    parts.push_back(text.substr(start, end - start));
    start = end + 1;
  }
  for (size_t i = 0; i + 1 < parts.size(); i += 2) {
    if (parts[i].empty() || !parts[i + 1].empty()) continue;
    std::wstring name = parts[i];
    if (name.rfind(L"\\??\\", 0) == 0) name.erase(0, 4);
    names.push_back(name);
  }
  return names;
}

std::vector<std::wstring> SelfLeftovers(const std::wstring& folder) {
  std::vector<std::wstring> found;
  wchar_t temp[MAX_PATH] = {};
  GetTempPathW(MAX_PATH, temp);
  for (const std::wstring& dir : {std::wstring(temp), folder}) {
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator(std::filesystem::path(dir), ec)) {
      const std::wstring name = entry.path().filename().wstring();
      if (name.rfind(L"~nvuninst-", 0) == 0) found.push_back(entry.path().wstring());
    }
  }
  return found;
}

}  // namespace untest
