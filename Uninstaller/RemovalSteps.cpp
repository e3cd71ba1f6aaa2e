#include "RemovalSteps.h"

#include <windows.h>

#include "InstallLocation.h"
#include "NvProcessEnd.h"
#include "NvRegKey.h"
#include "NvSysUtils.h"
#include "NvSysUtilsWin.h"
#include "Win/RegRootKey.h"

namespace {

bool Exists(const std::wstring& path) { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

}  // namespace

bool TRemovalRun::DeleteFileSoon(const std::wstring& path, int& retries) {
  for (int attempt = 0;; ++attempt) {
    if (!Exists(path) || DeleteFileW(path.c_str())) return true;
    const DWORD error = GetLastError();
    if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) return true;
    const DWORD attributes = GetFileAttributesW(path.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)) return false;
    if (error == ERROR_ACCESS_DENIED && attributes != INVALID_FILE_ATTRIBUTES &&
        (attributes & FILE_ATTRIBUTE_READONLY)) {
      SetFileAttributesW(path.c_str(), attributes & ~FILE_ATTRIBUTE_READONLY);
      if (DeleteFileW(path.c_str())) return true;
    }
    if (retries <= 0 || attempt >= 10) return !Exists(path);
    --retries;
    Sleep(100);
  }
}

void TRemovalRun::Step(const std::wstring& detail, bool advance) {
  if (OnStep) OnStep(detail, advance);
}

void TRemovalRun::RemoveFile(const std::wstring& path) {
  if (DeleteFileSoon(path, FRetries)) return;
  // In use: the system deletes it at the next restart, before anything can
  // hold it again.
  if (MoveFileExW(path.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT)) FScheduled.push_back(path);
  else FRemaining.push_back(path);
}

void TRemovalRun::Run() {
  Step(L"正在结束运行中的程序......", false);
  FProgramsEnded = EndProcessesByPath(FPlan.Programs);
  Step(L"正在删除文件......", false);
  for (const std::wstring& file : FPlan.Files) {
    Step(file, true);
    RemoveFile(file);
  }
  Step(L"正在删除快捷方式......", false);
  for (const std::wstring& link : FPlan.Shortcuts) {
    Step(link, true);
    RemoveFile(link);
  }
  RemoveRegistry();
  if (!FRemaining.empty()) {
    // The entry, the data and the uninstaller stay for another run.
    FKeptForAnotherRun = true;
    RemoveFolders(false);
    return;
  }
  RemoveUninstallEntry();
  Step(L"正在删除卸载数据......", false);
  for (const std::wstring& file : FPlan.DataFiles) {
    Step(file, true);
    RemoveFile(file);
  }
  RemoveFolders(false);
  // Last: the program's own file, then the folders it kept from being empty.
  if (!FPlan.SelfPath.empty() && Exists(FPlan.SelfPath)) {
    FSelf = RemoveSelf(FPlan.SelfPath, FPlan.AppDir);
    if (!FSelf.Gone) FRemaining.push_back(FPlan.SelfPath);
  } else {
    FSelf.Gone = true;
  }
  RemoveFolders(!FScheduled.empty());
}

void TRemovalRun::RemoveRegistry() {
  Step(L"正在清理注册表......", false);
  for (const TRegValueRef& value : FPlan.Values) {
    const HKEY root = RegRootKeyToHKey(value.Root);
    const std::wstring text = RegistryRootName(value.Root) + L"\\" + value.Key;
    Step(text, true);
    TNvRegKey key;
    if (key.Open(root, value.Key)) {
      if (!key.DeleteValue(value.Name)) FRemaining.push_back(text + L"\\" + value.Name);
    } else if (TNvRegKey::KeyExists(root, value.Key)) {
      FRemaining.push_back(text + L"\\" + value.Name);
    }
  }
  // A key that still holds anything (another program's values, a user's
  // settings) stays.
  for (const TRegKeyRef& key : FPlan.Keys) TNvRegKey::DeleteEmptyKey(RegRootKeyToHKey(key.Root), key.Key);
}

void TRemovalRun::RemoveUninstallEntry() {
  TNvRegKey key;
  if (!key.Open(HKEY_LOCAL_MACHINE, FPlan.UninstallKey)) return;
  // The entry belongs to this installation only when it names this folder;
  // an installation of the same product elsewhere keeps its entry.
  std::wstring location;
  try {
    location = key.ReadString(L"InstallLocation");
  } catch (const std::exception&) {
    return;  // not a text this setup program wrote
  }
  if (!location.empty() && !SameText(NormalPath(location), NormalPath(FPlan.AppDir)) &&
      !TNvFilefn::SameFileObject(location, FPlan.AppDir))
    return;
  for (const std::wstring& name : key.ValueNames()) key.DeleteValue(name);
  key.Close();
  if (!TNvRegKey::DeleteEmptyKey(HKEY_LOCAL_MACHINE, FPlan.UninstallKey))
    FRemaining.push_back(L"HKEY_LOCAL_MACHINE\\" + FPlan.UninstallKey);
}

void TRemovalRun::RemoveFolders(bool scheduleLeft) {
  // Only empty folders go: a folder holding a file the user added stays. One
  // that holds only files going at the restart goes after them.
  for (const std::wstring& folder : FPlan.Folders) {
    const std::wstring f = ExcludeTrailingBackslash(folder);
    if (RemoveDirectoryW(f.c_str()) || !Exists(f) || !scheduleLeft) continue;
    bool holdsScheduled = false;
    for (const std::wstring& s : FScheduled) holdsScheduled = holdsScheduled || PathBelow(s, f);
    if (holdsScheduled && MoveFileExW(f.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT)) FScheduled.push_back(folder);
  }
}
