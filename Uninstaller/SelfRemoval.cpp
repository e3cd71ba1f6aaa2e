#include "SelfRemoval.h"

#include <windows.h>

#include "NvSysUtils.h"
#include "NvSysUtilsWin.h"

TSelfRemoval RemoveSelf(const std::wstring& selfPath, const std::wstring& appDir) {
  TSelfRemoval result;
  SetFileAttributesW(selfPath.c_str(), FILE_ATTRIBUTE_NORMAL);
  if (DeleteFileW(selfPath.c_str()) || GetFileAttributesW(selfPath.c_str()) == INVALID_FILE_ATTRIBUTES) {
    result.Gone = true;
    return result;
  }
  // A name of its own, so that the deletion at restart can only ever meet
  // this file. Without MOVEFILE_COPY_ALLOWED a move to another volume fails,
  // and the next candidate folder is tried.
  const std::wstring name = L"~nvuninst-" + TNvStrfn::NewGuidString() + L".tmp";
  const std::wstring parent = ExtractFilePath(ExcludeTrailingBackslash(IncludeTrailingBackslash(appDir)));
  for (const std::wstring& folder : {TNvWinfn::GetTempDir(), parent}) {
    if (folder.empty()) continue;
    const std::wstring target = IncludeTrailingBackslash(folder) + name;
    if (!MoveFileExW(selfPath.c_str(), target.c_str(), MOVEFILE_WRITE_THROUGH)) continue;
    result.Gone = true;
    result.MovedTo = target;
    SetFileAttributesW(target.c_str(), FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_TEMPORARY);
    result.Scheduled = MoveFileExW(target.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT) != 0;
    break;
  }
  return result;
}
