#include "MachineView.h"

#include <windows.h>
#include <zlib.h>

#include "InstallLocation.h"
#include "JournalFile.h"
#include "NvRegKey.h"
#include "NvSysUtils.h"
#include "PackageFormat.h"
#include "ProtectedFolders.h"
#include "Win/RegRootKey.h"

bool TWinMachineView::FileState(const std::wstring& path, uint64_t& size, uint64_t& writeTime) const {
  WIN32_FILE_ATTRIBUTE_DATA data{};
  if (!GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data)) return false;
  if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) return false;
  size = (static_cast<uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
  writeTime = (static_cast<uint64_t>(data.ftLastWriteTime.dwHighDateTime) << 32) | data.ftLastWriteTime.dwLowDateTime;
  return true;
}

bool TWinMachineView::FileChecksum(const std::wstring& path, uint32_t& checksum) const {
  HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                            nullptr, OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  std::string buffer(1 << 20, '\0');
  uLong adler = adler32(0, nullptr, 0);
  bool ok = true;
  for (;;) {
    DWORD got = 0;
    if (!ReadFile(file, buffer.data(), static_cast<DWORD>(buffer.size()), &got, nullptr)) {
      ok = false;
      break;
    }
    if (got == 0) break;
    adler = adler32(adler, reinterpret_cast<const Bytef*>(buffer.data()), got);
  }
  CloseHandle(file);
  checksum = static_cast<uint32_t>(adler);
  return ok;
}

bool TWinMachineView::ValueData(TRegRootKey root, const std::wstring& key, const std::wstring& name,
                                TRegData& data) const {
  TNvRegKey k;
  return k.Open(RegRootKeyToHKey(root), key, KEY_READ) && k.ReadRaw(name, data.Type, data.Bytes);
}

bool TWinMachineView::IsProtectedFolder(const std::wstring& folder) const { return ::IsProtectedFolder(folder); }

std::vector<TJournalContents> OtherProductsJournals(const std::wstring& guid) {
  std::vector<TJournalContents> journals;
  TNvRegKey root;
  if (!root.Open(HKEY_LOCAL_MACHINE, UninstallKeyRoot, KEY_READ)) return journals;
  for (const std::wstring& name : root.SubKeyNames()) {
    if (name.size() < 4 || !SameText(name.substr(name.size() - 3), L"_lm")) continue;
    if (SameText(name, guid + L"_lm")) continue;
    TNvRegKey entry;
    if (!entry.Open(HKEY_LOCAL_MACHINE, std::wstring(UninstallKeyRoot) + L"\\" + name, KEY_READ)) continue;
    try {
      const std::wstring location = entry.ReadString(L"InstallLocation");
      if (location.empty()) continue;
      const std::wstring path = IncludeTrailingBackslash(location) + JournalFileName;
      if (GetFileAttributesW(path.c_str()) == INVALID_FILE_ATTRIBUTES) continue;
      TJournalContents journal = ReadJournalFile(path);
      if (journal.Committed()) journals.push_back(std::move(journal));
    } catch (const std::exception&) {
      // Another product's damaged data is not this uninstall's to judge.
    }
  }
  return journals;
}
