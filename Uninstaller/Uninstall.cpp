// Program entry of Uninstall.exe.
#include <windows.h>
#include <shellapi.h>

#include <string>
#include <vector>

#include "UninstallMain.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  std::vector<std::wstring> args;
  int argc = 0;
  if (wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc)) {
    args.assign(argv, argv + argc);
    LocalFree(argv);
  }
  return static_cast<int>(RunUninstaller(args));
}
