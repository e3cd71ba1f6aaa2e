// What the uninstaller tests share: the built Uninstall.exe, a product
// package made by the builder from the real Setup.exe carrying it, and the
// checks of what an uninstall leaves behind.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "WineTestSupport.h"

namespace untest {

std::wstring UninstallExe();

// A product installed at root\app\ from a package root\<exeName>: files (the
// uninstaller, a program copy of the probe "bin\Tool.exe", text files in
// the install folder and a sub-folder), registry values under the product's
// own keys and one under the company's key, shortcuts in "{group}" and on the
// desktop.
struct TProduct {
  TProduct(const std::wstring& root, const std::wstring& title);
  nvtest::TTestPackage Package;
  std::wstring Root, App, Exe, Title, Company, Guid;
  // Every file the install writes (full paths) and every shortcut.
  std::vector<std::wstring> Files, Shortcuts;
  std::wstring ProductKey() const;  // HKLM "Software\<company>\<title>"
  std::wstring CompanyKey() const;  // HKLM "Software\<company>"
  std::wstring UserKey() const;     // HKCU "Software\<title>\Settings"
  void Build();
  // "Uninstall.exe" in the install folder with args; its exit code.
  DWORD Uninstall(const std::wstring& args = L"/SILENT") const;
};

// The all-users Start-menu programs folder and the desktop (trailing backslash).
std::wstring ProgramsDir();
std::wstring DesktopDir();

// The files named in the pending deletions at restart (PendingFileRenameOperations),
// without the "\??\" prefix.
std::vector<std::wstring> PendingDeletes();
// Where the uninstaller's own file went, when it could not be deleted at
// once: "~nvuninst-*.tmp" files in the temporary folder and in folder.
std::vector<std::wstring> SelfLeftovers(const std::wstring& folder);

}  // namespace untest
