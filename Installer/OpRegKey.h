// A registry key held open by the install operations, always in the 32-bit
// view of the registry (NvRegAccess). Closing happens on destruction.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

#include "NvExceptions.h"
#include "NvPlatform.h"
#include "NvSysUtils.h"

class TOpRegKey {
public:
  TOpRegKey() = default;
  ~TOpRegKey() { Close(); }
  TOpRegKey(const TOpRegKey&) = delete;
  TOpRegKey& operator=(const TOpRegKey&) = delete;

  // Opens root\path with full access without creating it; false when the key
  // does not exist or cannot be opened.
  bool Open(HKEY root, const std::wstring& path) {
    Close();
    LONG rc = RegOpenKeyExW(root, path.c_str(), 0, NvRegAccess(KEY_ALL_ACCESS), &FKey);
    if (rc != ERROR_SUCCESS) FKey = nullptr;
    return rc == ERROR_SUCCESS;
  }

  // Opens root\path with full access, creating missing keys; false when it
  // can be neither opened nor created. An empty path opens the root itself.
  bool OpenOrCreate(HKEY root, const std::wstring& path) {
    Close();
    LONG rc = RegCreateKeyExW(root, path.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, NvRegAccess(KEY_ALL_ACCESS),
                              nullptr, &FKey, nullptr);
    if (rc != ERROR_SUCCESS) FKey = nullptr;
    return rc == ERROR_SUCCESS;
  }

  void Close() {
    if (FKey) RegCloseKey(FKey);
    FKey = nullptr;
  }

  // The string value name (REG_SZ or REG_EXPAND_SZ, unexpanded); empty when
  // the value is missing. Another type raises ERegistryException
  // "Invalid data type for '%s'".
  std::wstring ReadString(const std::wstring& name) const {
    DWORD type = 0, size = 0;
    if (RegQueryValueExW(FKey, name.c_str(), nullptr, &type, nullptr, &size) != ERROR_SUCCESS) return L"";
    if (type != REG_SZ && type != REG_EXPAND_SZ)
      throw ERegistryException(Format(L"Invalid data type for '%s'", {name}));
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

  // Writes a REG_SZ value (UTF-16, terminating NUL included); an empty name is
  // the key's default value. A refusal raises ERegistryException
  // "Failed to set data for '%s'".
  void WriteString(const std::wstring& name, const std::wstring& value) const {
    Set(name, REG_SZ, value.c_str(), static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
  }

  // Writes a REG_DWORD value; failures as WriteString.
  void WriteInteger(const std::wstring& name, uint32_t value) const {
    DWORD data = value;
    Set(name, REG_DWORD, &data, sizeof(data));
  }

private:
  void Set(const std::wstring& name, DWORD type, const void* data, DWORD size) const {
    if (RegSetValueExW(FKey, name.c_str(), 0, type, static_cast<const BYTE*>(data), size) != ERROR_SUCCESS)
      throw ERegistryException(Format(L"Failed to set data for '%s'", {name}));
  }

  HKEY FKey = nullptr;
};
