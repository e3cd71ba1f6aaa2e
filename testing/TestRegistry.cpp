#include "TestRegistry.h"

#include <cstring>
#include <stdexcept>

#include "NvSysUtils.h"

namespace nvtest {

namespace {

HKEY CreateKey(HKEY root, const std::wstring& path, REGSAM view) {
  HKEY key = nullptr;
  if (RegCreateKeyExW(root, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS | view, nullptr, &key, nullptr) !=
      ERROR_SUCCESS)
    throw std::runtime_error(Utf8Encode(path) + ": cannot create the test key");
  return key;
}

}  // namespace

bool KeyExists(HKEY root, const std::wstring& path, REGSAM view) {
  HKEY key;
  if (RegOpenKeyExW(root, path.c_str(), 0, KEY_READ | view, &key) != ERROR_SUCCESS) return false;
  RegCloseKey(key);
  return true;
}

bool ReadValue(HKEY root, const std::wstring& path, const std::wstring& name, REGSAM view, DWORD& type,
               std::string& data) {
  HKEY key;
  if (RegOpenKeyExW(root, path.c_str(), 0, KEY_READ | view, &key) != ERROR_SUCCESS) return false;
  DWORD size = 0;
  LONG rc = RegQueryValueExW(key, name.c_str(), nullptr, &type, nullptr, &size);
  if (rc == ERROR_SUCCESS) {
    data.assign(size, '\0');
    rc = RegQueryValueExW(key, name.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(data.data()), &size);
    data.resize(size);
  }
  RegCloseKey(key);
  return rc == ERROR_SUCCESS;
}

std::wstring RegString(HKEY root, const std::wstring& path, const std::wstring& name, REGSAM view) {
  DWORD type = 0;
  std::string data;
  if (!ReadValue(root, path, name, view, type, data)) return L"<missing>";
  if (type != REG_SZ) return L"<type " + std::to_wstring(type) + L">";
  std::wstring text(reinterpret_cast<const wchar_t*>(data.data()), data.size() / sizeof(wchar_t));
  if (text.empty() || text.back() != L'\0') return L"<not terminated>" + text;
  text.pop_back();
  return text;
}

int64_t RegDword(HKEY root, const std::wstring& path, const std::wstring& name, REGSAM view) {
  DWORD type = 0;
  std::string data;
  if (!ReadValue(root, path, name, view, type, data) || type != REG_DWORD || data.size() != 4) return -1;
  DWORD v;
  std::memcpy(&v, data.data(), 4);
  return v;
}

void DeleteKeyTree(HKEY root, const std::wstring& path, REGSAM view) {
  HKEY key;
  if (RegOpenKeyExW(root, path.c_str(), 0, KEY_ALL_ACCESS | view, &key) != ERROR_SUCCESS) return;
  for (;;) {
    wchar_t name[256];
    DWORD n = 256;
    if (RegEnumKeyExW(key, 0, name, &n, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
    DeleteKeyTree(root, path + L"\\" + name, view);
  }
  RegCloseKey(key);
  RegDeleteKeyExW(root, path.c_str(), view, 0);
}

void EnsureKey(HKEY root, const std::wstring& path, REGSAM view) { RegCloseKey(CreateKey(root, path, view)); }

void SetRegString(HKEY root, const std::wstring& path, const std::wstring& name, const std::wstring& value,
                  REGSAM view) {
  HKEY key = CreateKey(root, path, view);
  RegSetValueExW(key, name.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                 static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
  RegCloseKey(key);
}

void SetRegDword(HKEY root, const std::wstring& path, const std::wstring& name, DWORD value, REGSAM view) {
  HKEY key = CreateKey(root, path, view);
  RegSetValueExW(key, name.c_str(), 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof(value));
  RegCloseKey(key);
}

std::wstring UninstallKey(const std::wstring& guid, const wchar_t* suffix) {
  return L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\" + guid + suffix;
}

}  // namespace nvtest
