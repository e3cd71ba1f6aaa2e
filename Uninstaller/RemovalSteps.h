// Carrying out a removal plan, step by step, on the calling thread: running
// programs ended, files, shortcuts, registry values, empty product keys, the
// uninstall entry, the data files, empty folders, and last the uninstaller's
// own file. A step that fails leaves its item in place and goes on.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "RemovalPlan.h"
#include "SelfRemoval.h"

class TRemovalRun {
public:
  explicit TRemovalRun(const TRemovalPlan& plan) : FPlan(plan) {}

  // Called with a detail text before each group of steps and with each item
  // (files and shortcuts by path); advance is true for a progress step.
  std::function<void(const std::wstring& detail, bool advance)> OnStep;

  // The whole removal. Never raises for an item that cannot be removed.
  void Run();

  // What could not be removed, one entry each: file paths, or registry
  // values and keys as "ROOT\key" or "ROOT\key\name".
  const std::vector<std::wstring>& Remaining() const { return FRemaining; }
  const TSelfRemoval& Self() const { return FSelf; }
  int ProgramsEnded() const { return FProgramsEnded; }

  // Deletes a file, clearing its read-only attribute and, while retries
  // (100 ms pauses) are left, retrying when it is still in use; true when it
  // is gone (or never existed). Each pause uses up one of retries.
  static bool DeleteFileSoon(const std::wstring& path, int& retries);
  // "HKEY_LOCAL_MACHINE" and so on.
  static std::wstring RootName(HKEY root);

private:
  void Step(const std::wstring& detail, bool advance);
  void RemoveFiles();
  void RemoveShortcuts();
  void RemoveRegistry();
  void RemoveUninstallEntry();
  void RemoveFolders();

  const TRemovalPlan& FPlan;
  std::vector<std::wstring> FRemaining;
  TSelfRemoval FSelf;
  int FProgramsEnded = 0;
  // Pauses for files still in use, shared by the whole run: a program ended
  // a moment ago releases its files soon, a file held open for good must not
  // hold up a silent run for long.
  int FRetries = 30;
};
