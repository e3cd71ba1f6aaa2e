// Carrying out a removal plan, step by step, on the calling thread: running
// programs ended, files, shortcuts, registry values, empty keys; then, only
// when every item is gone or scheduled for removal at the next restart, the
// uninstall entry, the data files, empty folders and last the uninstaller's
// own file. When an item can be neither removed nor scheduled, the entry, the
// data and the uninstaller stay, so that running it again finishes the job.
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

  // What could not be removed nor scheduled, one entry each: file paths, or
  // registry values and keys as "ROOT\key" or "ROOT\key\name".
  const std::vector<std::wstring>& Remaining() const { return FRemaining; }
  // Files (and folders) that go at the next restart.
  const std::vector<std::wstring>& Scheduled() const { return FScheduled; }
  const TSelfRemoval& Self() const { return FSelf; }
  int ProgramsEnded() const { return FProgramsEnded; }
  // Whether the entry, the data files and the uninstaller were left because
  // of what remains.
  bool KeptForAnotherRun() const { return FKeptForAnotherRun; }

  // Deletes a file, clearing its read-only attribute and, while retries
  // (100 ms pauses) are left, retrying when it is still in use; true when it
  // is gone (or never existed). Each pause uses up one of retries.
  static bool DeleteFileSoon(const std::wstring& path, int& retries);

private:
  void Step(const std::wstring& detail, bool advance);
  // Deletes path, or schedules it for the next restart; what can be neither
  // goes to Remaining.
  void RemoveFile(const std::wstring& path);
  void RemoveRegistry();
  void RemoveUninstallEntry();
  void RemoveFolders(bool scheduleLeft);

  const TRemovalPlan& FPlan;
  std::vector<std::wstring> FRemaining, FScheduled;
  TSelfRemoval FSelf;
  int FProgramsEnded = 0;
  bool FKeptForAnotherRun = false;
  // Pauses for files still in use, shared by the whole run: a program ended
  // a moment ago releases its files soon, a file held open for good must not
  // hold up a silent run for long.
  int FRetries = 30;
};
