// How the program sees the machine: the one place that makes the 64-bit
// build behave as the 32-bit product does on 64-bit Windows.
#pragma once

#include <windows.h>

// Access rights for every registry key the program opens: the 32-bit view
// (HKLM\Software\Wow6432Node\... where a 32-bit process is redirected), for the
// 32-bit product and its 64-bit twin alike.
inline REGSAM NvRegAccess(REGSAM access) { return access | KEY_WOW64_32KEY; }

// The environment variable that names the Program Files folder of a 32-bit
// process: "ProgramFiles(x86)" where it exists (64-bit Windows), otherwise
// "ProgramFiles".
inline const wchar_t* NvProgramFilesVar() {
  return GetEnvironmentVariableW(L"ProgramFiles(x86)", nullptr, 0) > 0 ? L"ProgramFiles(x86)" : L"ProgramFiles";
}
