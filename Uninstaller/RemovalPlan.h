// What an uninstall removes, worked out from the stored setup project and the
// installation folder before anything is touched: the installed files, the
// programs among them, the shortcuts, the registry values and the keys that
// may go when empty, the uninstall entry, the data files and the folders.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "SetupProject.h"

struct TRegValueRef {
  HKEY Root = nullptr;
  std::wstring Key;   // below Root, no leading backslash
  std::wstring Name;  // "" is the key's default value
};

struct TRegKeyRef {
  HKEY Root = nullptr;
  std::wstring Key;
};

struct TRemovalPlan {
  std::wstring AppDir;    // the installation folder, trailing backslash
  std::wstring SelfPath;  // the running uninstaller; never in Files
  // Installed files (expanded file items), in list order, each once.
  std::vector<std::wstring> Files;
  // The ".exe" files among them: running copies are ended first.
  std::vector<std::wstring> Programs;
  std::vector<std::wstring> Shortcuts;  // ".lnk" paths
  std::vector<TRegValueRef> Values;
  // Keys removed when left empty, deepest first: only keys at or below a
  // segment named after the product (its title or its GUID), never a
  // segment above it (Software, the company's key) nor a key directly under
  // a root.
  std::vector<TRegKeyRef> Keys;
  std::wstring UninstallKey;            // "<root>\<GUID>_lm" under HKEY_LOCAL_MACHINE
  std::vector<std::wstring> DataFiles;  // "Uninstall.da1", "Uninstall.da2"
  // Folders removed when left empty, deepest first: the folders of installed
  // files inside the installation folder, the shortcut folders inside the
  // product's Start-menu group (or the installation folder), and the
  // installation folder itself (last).
  std::vector<std::wstring> Folders;

  // One progress step per file, shortcut, value and data file.
  int StepCount() const;
};

// Builds the plan. The path constants must be set already: "{app}" to appDir
// and the product title (for "{group}").
TRemovalPlan MakeRemovalPlan(const TSetupScript& script, const std::wstring& appDir, const std::wstring& selfPath);

// Whether an empty registry key may be deleted for this product: keyPath has
// a segment equal to the title or containing the GUID (ignoring case) that is
// not its first segment; the keys from that segment down qualify. Returns the
// number of trailing segments that may go (0: none).
int OwnedKeyDepth(const std::wstring& keyPath, const std::wstring& title, const std::wstring& guid);

// Whether two paths name the same file or folder (full forms, ignoring case
// and one trailing backslash).
bool SamePath(const std::wstring& a, const std::wstring& b);
// Whether path lies inside folder (strictly below it).
bool PathInside(const std::wstring& path, const std::wstring& folder);
