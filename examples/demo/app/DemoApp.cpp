// The example product: a tiny Windows program that says where it is
// installed. Built by the Windows presets (and by the mingw compiler for the
// host build's example packages).
#include <windows.h>

#include <string>

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  wchar_t path[MAX_PATH] = {};
  DWORD n = GetModuleFileNameW(nullptr, path, MAX_PATH);
  std::wstring folder(path, n);
  std::size_t cut = folder.find_last_of(L'\\');
  if (cut != std::wstring::npos) folder.resize(cut + 1);
  std::wstring text = L"演示程序已安装在：\r\n" + folder;
  MessageBoxW(nullptr, text.c_str(), L"演示程序", MB_OK | MB_ICONINFORMATION);
  return 0;
}
