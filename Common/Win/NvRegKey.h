// A registry key held open in the 32-bit view of the registry (NvRegAccess),
// as the installer writes it and the uninstaller reads and removes it.
// Closing happens on destruction.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

class TNvRegKey {
public:
  TNvRegKey() = default;
  ~TNvRegKey() { Close(); }
  TNvRegKey(const TNvRegKey&) = delete;
  TNvRegKey& operator=(const TNvRegKey&) = delete;

  // Opens root\path without creating it, with full access unless another is
  // asked for (KEY_READ to only read); false when the key does not exist or
  // cannot be opened with that access.
  bool Open(HKEY root, const std::wstring& path, REGSAM access = KEY_ALL_ACCESS);
  // Opens root\path with full access, creating missing keys; false when it
  // can be neither opened nor created. An empty path opens the root itself.
  // created (optional) tells whether the last key of the path was new.
  bool OpenOrCreate(HKEY root, const std::wstring& path, bool* created = nullptr);
  void Close();
  bool IsOpen() const { return FKey != nullptr; }

  // The string value name (REG_SZ or REG_EXPAND_SZ, unexpanded); empty when
  // the value is missing. Another type raises ERegistryException
  // "Invalid data type for '%s'".
  std::wstring ReadString(const std::wstring& name) const;
  bool ValueExists(const std::wstring& name) const;
  // The value's type and raw data; false when it is missing or unreadable.
  bool ReadRaw(const std::wstring& name, uint32_t& type, std::string& data) const;

  // Writes a REG_SZ value (UTF-16, terminating NUL included); an empty name is
  // the key's default value. A refusal raises ERegistryException
  // "Failed to set data for '%s'".
  void WriteString(const std::wstring& name, const std::wstring& value) const;
  // Writes a REG_DWORD value; failures as WriteString.
  void WriteInteger(const std::wstring& name, uint32_t value) const;
  // Writes a value of any type from its raw data; failures as WriteString.
  void WriteRaw(const std::wstring& name, uint32_t type, const std::string& data) const;

  // Deletes the value; true when it is gone afterwards (also when it was
  // never there).
  bool DeleteValue(const std::wstring& name) const;
  // The names of the key's values (the default value as ""), and of its
  // direct sub-keys, in the registry's order.
  std::vector<std::wstring> ValueNames() const;
  std::vector<std::wstring> SubKeyNames() const;
  // No values and no sub-keys.
  bool IsEmpty() const;

  // Deletes root\path when it has neither values nor sub-keys; true when the
  // key is gone afterwards (also when it did not exist).
  static bool DeleteEmptyKey(HKEY root, const std::wstring& path);
  static bool KeyExists(HKEY root, const std::wstring& path);

private:
  void Set(const std::wstring& name, DWORD type, const void* data, DWORD size) const;

  HKEY FKey = nullptr;
};
