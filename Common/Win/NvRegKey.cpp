#include "NvRegKey.h"

#include "NvExceptions.h"
#include "NvPlatform.h"
#include "NvSysUtils.h"

bool TNvRegKey::Open(HKEY root, const std::wstring& path, REGSAM access) {
  Close();
  LONG rc = RegOpenKeyExW(root, path.c_str(), 0, NvRegAccess(access), &FKey);
  if (rc != ERROR_SUCCESS) FKey = nullptr;
  return rc == ERROR_SUCCESS;
}

bool TNvRegKey::OpenOrCreate(HKEY root, const std::wstring& path, bool* created) {
  Close();
  DWORD disposition = 0;
  LONG rc = RegCreateKeyExW(root, path.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, NvRegAccess(KEY_ALL_ACCESS),
                            nullptr, &FKey, &disposition);
  if (rc != ERROR_SUCCESS) FKey = nullptr;
  if (created) *created = rc == ERROR_SUCCESS && disposition == REG_CREATED_NEW_KEY;
  return rc == ERROR_SUCCESS;
}

void TNvRegKey::Close() {
  if (FKey) RegCloseKey(FKey);
  FKey = nullptr;
}

std::wstring TNvRegKey::ReadString(const std::wstring& name) const {
  DWORD type = 0, size = 0;
  if (RegQueryValueExW(FKey, name.c_str(), nullptr, &type, nullptr, &size) != ERROR_SUCCESS) return L"";
  if (type != REG_SZ && type != REG_EXPAND_SZ) throw ERegistryException(Format(L"Invalid data type for '%s'", {name}));
  std::wstring text(size / sizeof(wchar_t) + 1, L'\0');
  DWORD got = static_cast<DWORD>(text.size() * sizeof(wchar_t));
  if (RegQueryValueExW(FKey, name.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(text.data()), &got) !=
      ERROR_SUCCESS)
    return L"";
  text.resize(got / sizeof(wchar_t));
  std::size_t nul = text.find(L'\0');
  if (nul != std::wstring::npos) text.resize(nul);
  return text;
}

bool TNvRegKey::ValueExists(const std::wstring& name) const {
  return FKey && RegQueryValueExW(FKey, name.c_str(), nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS;
}

bool TNvRegKey::ReadRaw(const std::wstring& name, uint32_t& type, std::string& data) const {
  if (!FKey) return false;
  for (int attempt = 0; attempt < 4; ++attempt) {
    DWORD t = 0, size = 0;
    if (RegQueryValueExW(FKey, name.c_str(), nullptr, &t, nullptr, &size) != ERROR_SUCCESS) return false;
    data.assign(size, '\0');
    DWORD got = size;
    const LONG rc = RegQueryValueExW(FKey, name.c_str(), nullptr, &t, reinterpret_cast<BYTE*>(data.data()), &got);
    if (rc == ERROR_MORE_DATA) continue;  // it grew in between
    if (rc != ERROR_SUCCESS) return false;
    data.resize(got);
    type = t;
    return true;
  }
  return false;
}

void TNvRegKey::WriteRaw(const std::wstring& name, uint32_t type, const std::string& data) const {
  Set(name, type, data.data(), static_cast<DWORD>(data.size()));
}

void TNvRegKey::WriteString(const std::wstring& name, const std::wstring& value) const {
  Set(name, REG_SZ, value.c_str(), static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
}

void TNvRegKey::WriteInteger(const std::wstring& name, uint32_t value) const {
  DWORD data = value;
  Set(name, REG_DWORD, &data, sizeof(data));
}

void TNvRegKey::Set(const std::wstring& name, DWORD type, const void* data, DWORD size) const {
  if (RegSetValueExW(FKey, name.c_str(), 0, type, static_cast<const BYTE*>(data), size) != ERROR_SUCCESS)
    throw ERegistryException(Format(L"Failed to set data for '%s'", {name}));
}

bool TNvRegKey::DeleteValue(const std::wstring& name) const {
  if (!FKey) return false;
  LONG rc = RegDeleteValueW(FKey, name.c_str());
  return rc == ERROR_SUCCESS || rc == ERROR_FILE_NOT_FOUND;
}

std::vector<std::wstring> TNvRegKey::ValueNames() const {
  std::vector<std::wstring> names;
  if (!FKey) return names;
  wchar_t name[16384];
  for (DWORD i = 0;; ++i) {
    DWORD length = static_cast<DWORD>(std::size(name));
    LONG rc = RegEnumValueW(FKey, i, name, &length, nullptr, nullptr, nullptr, nullptr);
    if (rc != ERROR_SUCCESS) break;
    names.emplace_back(name, length);
  }
  return names;
}

std::vector<std::wstring> TNvRegKey::SubKeyNames() const {
  std::vector<std::wstring> names;
  if (!FKey) return names;
  wchar_t name[256];
  for (DWORD i = 0;; ++i) {
    DWORD length = static_cast<DWORD>(std::size(name));
    LONG rc = RegEnumKeyExW(FKey, i, name, &length, nullptr, nullptr, nullptr, nullptr);
    if (rc != ERROR_SUCCESS) break;
    names.emplace_back(name, length);
  }
  return names;
}

bool TNvRegKey::IsEmpty() const {
  DWORD subKeys = 0, values = 0;
  if (!FKey || RegQueryInfoKeyW(FKey, nullptr, nullptr, nullptr, &subKeys, nullptr, nullptr, &values, nullptr,
                                nullptr, nullptr, nullptr) != ERROR_SUCCESS)
    return false;
  return subKeys == 0 && values == 0;
}

bool TNvRegKey::KeyExists(HKEY root, const std::wstring& path) {
  HKEY key = nullptr;
  if (RegOpenKeyExW(root, path.c_str(), 0, NvRegAccess(KEY_READ), &key) != ERROR_SUCCESS) return false;
  RegCloseKey(key);
  return true;
}

bool TNvRegKey::DeleteEmptyKey(HKEY root, const std::wstring& path) {
  {
    TNvRegKey key;
    if (!key.Open(root, path)) return !KeyExists(root, path);
    if (!key.IsEmpty()) return false;
  }
  LONG rc = RegDeleteKeyExW(root, path.c_str(), NvRegAccess(0), 0);
  return rc == ERROR_SUCCESS || rc == ERROR_FILE_NOT_FOUND;
}
