#include "RemovalSteps.h"

#include <windows.h>

#include "NvRegKey.h"
#include "NvSysUtils.h"
#include "NvProcessEnd.h"

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

std::wstring TRemovalRun::RootName(HKEY root) {
  if (root == HKEY_CLASSES_ROOT) return L"HKEY_CLASSES_ROOT";
  if (root == HKEY_CURRENT_USER) return L"HKEY_CURRENT_USER";
  if (root == HKEY_LOCAL_MACHINE) return L"HKEY_LOCAL_MACHINE";
  if (root == HKEY_USERS) return L"HKEY_USERS";
  if (root == HKEY_CURRENT_CONFIG) return L"HKEY_CURRENT_CONFIG";
  return L"HKEY";
}

void TRemovalRun::Step(const std::wstring& detail, bool advance) {
  if (OnStep) OnStep(detail, advance);
}

void TRemovalRun::Run() {
  Step(L"正在结束运行中的程序......", false);
  FProgramsEnded = EndProcessesByPath(FPlan.Programs);
  RemoveFiles();
  RemoveShortcuts();
  RemoveRegistry();
  RemoveUninstallEntry();
  Step(L"正在删除卸载数据......", false);
  for (const std::wstring& file : FPlan.DataFiles) {
    Step(file, true);
    if (!DeleteFileSoon(file, FRetries)) FRemaining.push_back(file);
  }
  RemoveFolders();
  // Last: the program's own file, then the folders it kept from being empty.
  if (!FPlan.SelfPath.empty() && Exists(FPlan.SelfPath)) {
    FSelf = RemoveSelf(FPlan.SelfPath, FPlan.AppDir);
    if (!FSelf.Gone) FRemaining.push_back(FPlan.SelfPath);
    RemoveFolders();
  } else {
    FSelf.Gone = true;
  }
}

void TRemovalRun::RemoveFiles() {
  Step(L"正在删除文件......", false);
  for (const std::wstring& file : FPlan.Files) {
    Step(file, true);
    if (!DeleteFileSoon(file, FRetries)) FRemaining.push_back(file);
  }
}

void TRemovalRun::RemoveShortcuts() {
  Step(L"正在删除快捷方式......", false);
  for (const std::wstring& link : FPlan.Shortcuts) {
    Step(link, true);
    if (!DeleteFileSoon(link, FRetries)) FRemaining.push_back(link);
  }
}

void TRemovalRun::RemoveRegistry() {
  Step(L"正在清理注册表......", false);
  for (const TRegValueRef& value : FPlan.Values) {
    Step(RootName(value.Root) + L"\\" + value.Key, true);
    TNvRegKey key;
    if (key.Open(value.Root, value.Key)) {
      if (!key.DeleteValue(value.Name)) FRemaining.push_back(RootName(value.Root) + L"\\" + value.Key + L"\\" + value.Name);
    } else if (TNvRegKey::KeyExists(value.Root, value.Key)) {
      FRemaining.push_back(RootName(value.Root) + L"\\" + value.Key + L"\\" + value.Name);
    }
  }
  // A key that still holds anything (another program's values, a user's
  // settings) stays; so does every key above the product's own.
  for (const TRegKeyRef& key : FPlan.Keys) TNvRegKey::DeleteEmptyKey(key.Root, key.Key);
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
  if (!location.empty() && !SamePath(location, FPlan.AppDir)) return;
  for (const std::wstring& name : key.ValueNames()) key.DeleteValue(name);
  key.Close();
  if (!TNvRegKey::DeleteEmptyKey(HKEY_LOCAL_MACHINE, FPlan.UninstallKey))
    FRemaining.push_back(RootName(HKEY_LOCAL_MACHINE) + L"\\" + FPlan.UninstallKey);
}

void TRemovalRun::RemoveFolders() {
  // Only empty folders go: a folder holding a file the user added stays.
  for (const std::wstring& folder : FPlan.Folders) RemoveDirectoryW(ExcludeTrailingBackslash(folder).c_str());
}
