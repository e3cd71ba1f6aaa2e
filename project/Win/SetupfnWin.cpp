// The system folders behind "{pf}", "{desktop}" and "{group}", and the
// program's own path behind "{srcexe}".
#include <windows.h>
#include <shlobj.h>

#include <string>

#include "NvPlatform.h"
#include "NvSysUtilsWin.h"

namespace nvsetupfn {

void QuerySystemFolders(std::wstring& programFiles, std::wstring& desktop, std::wstring& programs) {
  programFiles.clear();
  const wchar_t* var = NvProgramFilesVar();
  DWORD n = GetEnvironmentVariableW(var, nullptr, 0);
  if (n > 0) {
    std::wstring value(n, L'\0');
    n = GetEnvironmentVariableW(var, value.data(), n);
    value.resize(n);
    programFiles = value;
  }
  desktop = TNvRegfn::GetSpecialFolderPath(CSIDL_DESKTOP);
  programs = TNvRegfn::GetSpecialFolderPath(CSIDL_COMMON_PROGRAMS);
}

std::wstring QueryModulePath() { return TNvWinfn::GetModulePath(); }

}  // namespace nvsetupfn
