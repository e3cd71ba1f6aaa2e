#include "NvProcessEnd.h"

#include <tlhelp32.h>

#include "NvSysUtils.h"
#include "NvSysUtilsWin.h"

std::wstring ProcessImagePath(DWORD pid) {
  HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid);
  if (!process) return {};
  std::wstring path(32768, L'\0');
  DWORD size = static_cast<DWORD>(path.size());
  if (!QueryFullProcessImageNameW(process, 0, path.data(), &size)) size = 0;
  CloseHandle(process);
  path.resize(size);
  return path;
}

int EndProcessesByPath(const std::vector<std::wstring>& paths, DWORD waitMs) {
  if (paths.empty()) return 0;
  HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  if (snapshot == INVALID_HANDLE_VALUE) return 0;
  std::vector<DWORD> targets;
  const DWORD self = GetCurrentProcessId();
  PROCESSENTRY32W entry{};
  entry.dwSize = sizeof(entry);
  for (BOOL more = Process32FirstW(snapshot, &entry); more; more = Process32NextW(snapshot, &entry)) {
    if (entry.th32ProcessID == self || entry.th32ProcessID == 0) continue;
    // The image name narrows the search before the full path is asked for.
    bool nameMatches = false;
    for (const std::wstring& p : paths) nameMatches = nameMatches || SameText(ExtractFileName(p), entry.szExeFile);
    if (!nameMatches) continue;
    const std::wstring image = ProcessImagePath(entry.th32ProcessID);
    if (image.empty()) continue;
    for (const std::wstring& p : paths)
      if (TNvFilefn::SameFileObject(image, p)) {
        targets.push_back(entry.th32ProcessID);
        break;
      }
  }
  CloseHandle(snapshot);

  int ended = 0;
  for (DWORD pid : targets) {
    HANDLE process = OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, pid);
    if (!process) continue;
    if (TerminateProcess(process, 1)) {
      WaitForSingleObject(process, waitMs);
      ++ended;
    }
    CloseHandle(process);
  }
  return ended;
}
