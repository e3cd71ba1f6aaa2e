// The registry read and prepared by the Wine tests, with raw API calls of
// their own (independent of the key class the programs under test use). A
// view is KEY_WOW64_32KEY (what a 32-bit program sees) or KEY_WOW64_64KEY.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

namespace nvtest {

bool KeyExists(HKEY root, const std::wstring& path, REGSAM view);
// Type and raw data of a value; false when the key or value is missing.
bool ReadValue(HKEY root, const std::wstring& path, const std::wstring& name, REGSAM view, DWORD& type,
               std::string& data);
// The REG_SZ text (without its NUL); "<missing>", "<type N>" or
// "<not terminated>..." otherwise.
std::wstring RegString(HKEY root, const std::wstring& path, const std::wstring& name, REGSAM view = KEY_WOW64_32KEY);
// The REG_DWORD number; -1 when missing or of another type.
int64_t RegDword(HKEY root, const std::wstring& path, const std::wstring& name, REGSAM view = KEY_WOW64_32KEY);
// Removes the key with everything below it; a missing key is fine.
void DeleteKeyTree(HKEY root, const std::wstring& path, REGSAM view = KEY_WOW64_32KEY);
// Creates the key with its parents (a key that exists stays as it is); throws
// when it cannot.
void EnsureKey(HKEY root, const std::wstring& path, REGSAM view = KEY_WOW64_32KEY);
// Write a value, creating the key; throw when the key cannot be created.
void SetRegString(HKEY root, const std::wstring& path, const std::wstring& name, const std::wstring& value,
                  REGSAM view = KEY_WOW64_32KEY);
void SetRegDword(HKEY root, const std::wstring& path, const std::wstring& name, DWORD value,
                 REGSAM view = KEY_WOW64_32KEY);

// "Software\Microsoft\Windows\CurrentVersion\Uninstall\<guid><suffix>".
std::wstring UninstallKey(const std::wstring& guid, const wchar_t* suffix = L"_lm");

}  // namespace nvtest
