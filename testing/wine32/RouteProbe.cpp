// The i686 route's own check: what the product needs from the emulated 32-bit
// Wine, tried once in a plain program, so that a failing product test can be
// told apart from a failing route. Prints one line per check and exits with
// the number of failed checks.
//   wine32_route_probe WORK_FOLDER
#include <windows.h>
#include <shlobj.h>
#include <shobjidl.h>

#include <cstdio>
#include <cwchar>
#include <string>

namespace {

int failures = 0;

void Check(bool ok, const char* what, const std::wstring& detail = L"") {
  // UTF-8 by hand: the C runtime's %ls stops at the first non-ASCII character.
  std::string text(WideCharToMultiByte(CP_UTF8, 0, detail.c_str(), -1, nullptr, 0, nullptr, nullptr), '\0');
  WideCharToMultiByte(CP_UTF8, 0, detail.c_str(), -1, text.data(), static_cast<int>(text.size()), nullptr, nullptr);
  std::printf("%s: %s%s%s\n", ok ? "ok" : "FAILED", what, detail.empty() ? "" : " - ", text.c_str());
  std::fflush(stdout);
  if (!ok) ++failures;
}

// The process runs as the 32-bit product does on 64-bit Windows.
void CheckWow64() {
  BOOL wow64 = FALSE;
  IsWow64Process(GetCurrentProcess(), &wow64);
  Check(wow64 == TRUE, "a 32-bit process on a 64-bit system (IsWow64Process)");
  wchar_t folder[MAX_PATH] = L"";
  SHGetFolderPathW(nullptr, CSIDL_PROGRAM_FILES, nullptr, SHGFP_TYPE_CURRENT, folder);
  Check(lstrcmpiW(folder, L"C:\\Program Files (x86)") == 0, "{pf} is the 32-bit Program Files", folder);
}

// Chinese captions in the product's font: the substitute has glyphs for them
// and they paint (the system's font engine is found).
void CheckFonts() {
  HDC screen = GetDC(nullptr);
  HDC dc = CreateCompatibleDC(screen);
  BITMAPINFO bi = {};
  bi.bmiHeader.biSize = sizeof(bi.bmiHeader);
  bi.bmiHeader.biWidth = 200;
  bi.bmiHeader.biHeight = -40;
  bi.bmiHeader.biPlanes = 1;
  bi.bmiHeader.biBitCount = 32;
  void* bits = nullptr;
  HBITMAP bitmap = CreateDIBSection(dc, &bi, DIB_RGB_COLORS, &bits, nullptr, 0);
  HGDIOBJ oldBitmap = SelectObject(dc, bitmap);
  LOGFONTW lf = {};
  lf.lfHeight = -20;
  lf.lfCharSet = DEFAULT_CHARSET;
  lstrcpyW(lf.lfFaceName, L"\u5fae\u8f6f\u96c5\u9ed1");  // 微软雅黑
  HFONT font = CreateFontIndirectW(&lf);
  HGDIOBJ oldFont = SelectObject(dc, font);

  const wchar_t text[] = L"\u7acb\u5373\u5b89\u88c5";  // 立即安装
  WORD glyphs[4] = {};
  DWORD mapped = GetGlyphIndicesW(dc, text, 4, glyphs, GGI_MARK_NONEXISTING_GLYPHS);
  bool all = mapped == 4;
  for (WORD g : glyphs) all = all && g != 0xffff;
  wchar_t face[LF_FACESIZE] = L"";
  GetTextFaceW(dc, LF_FACESIZE, face);
  Check(all, "the Chinese caption font has glyphs", face);

  RECT r = {0, 0, 200, 40};
  FillRect(dc, &r, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
  SetTextColor(dc, RGB(0, 0, 0));
  SetBkMode(dc, TRANSPARENT);
  DrawTextW(dc, text, 4, &r, DT_LEFT | DT_TOP | DT_SINGLELINE);
  GdiFlush();
  int dark = 0;
  const DWORD* px = static_cast<const DWORD*>(bits);
  for (int i = 0; i < 200 * 40; ++i) {
    if ((px[i] & 0xff) < 0x80) ++dark;
  }
  Check(dark > 50, "Chinese text paints", std::to_wstring(dark) + L" dark pixels");

  SelectObject(dc, oldFont);
  DeleteObject(font);
  SelectObject(dc, oldBitmap);
  DeleteObject(bitmap);
  DeleteDC(dc);
  ReleaseDC(nullptr, screen);
}

// A window of the desktop, created and destroyed (the X11 driver loads).
void CheckWindow() {
  HWND w = CreateWindowExW(0, L"STATIC", L"\u5b89\u88c5", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 10, 10, 200, 100, nullptr,
                           nullptr, GetModuleHandleW(nullptr), nullptr);
  Check(w != nullptr, "a window shows");
  if (w) {
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&msg);
    DestroyWindow(w);
  }
}

// The registry's 32-bit view, as the product writes it.
void CheckRegistry() {
  HKEY key = nullptr;
  const wchar_t* path = L"Software\\NvWine32Probe";
  LONG rc = RegCreateKeyExW(HKEY_LOCAL_MACHINE, path, 0, nullptr, 0, KEY_ALL_ACCESS | KEY_WOW64_32KEY, nullptr, &key,
                            nullptr);
  DWORD value = 10033;
  if (rc == ERROR_SUCCESS) {
    rc = RegSetValueExW(key, L"Value", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof(value));
    RegCloseKey(key);
  }
  Check(rc == ERROR_SUCCESS, "a value written in HKLM (32-bit view)");
  HKEY native = nullptr;
  bool redirected = RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"Software\\Wow6432Node\\NvWine32Probe", 0,
                                  KEY_READ | KEY_WOW64_64KEY, &native) == ERROR_SUCCESS;
  if (native) RegCloseKey(native);
  Check(redirected, "it lands under Software\\Wow6432Node");
  RegDeleteKeyExW(HKEY_LOCAL_MACHINE, path, KEY_WOW64_32KEY, 0);
}

// A shortcut made through the shell's COM class, as the install makes one.
// Saving it is checked only when asked for: under qemu-i386 the emulator
// itself dies inside shell32 in some runs ("uncaught target signal 11"), the
// same fault that keeps the example's i686 install smoke test disabled.
void CheckShortcut(const std::wstring& work, bool save) {
  HRESULT hr = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  IShellLinkW* link = nullptr;
  hr = CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW, reinterpret_cast<void**>(&link));
  wchar_t code[32];
  wsprintfW(code, L"HRESULT 0x%08lX", static_cast<unsigned long>(hr));
  Check(SUCCEEDED(hr), "the shell link class is there", code);
  if (FAILED(hr)) return;
  if (!save) {
    link->Release();
    CoUninitialize();
    return;
  }
  link->SetPath(L"C:\\windows\\notepad.exe");
  IPersistFile* file = nullptr;
  std::wstring lnk = work + L"\\probe.lnk";
  hr = link->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&file));
  if (SUCCEEDED(hr)) {
    hr = file->Save(lnk.c_str(), TRUE);
    file->Release();
  }
  link->Release();
  Check(SUCCEEDED(hr) && GetFileAttributesW(lnk.c_str()) != INVALID_FILE_ATTRIBUTES, "a shortcut saves", lnk);
  DeleteFileW(lnk.c_str());
  CoUninitialize();
}

// Faults that Wine handles itself: a read of an unmapped address inside its
// guarded code, and a thread stack that grows page by page through its guard
// page. Either, mishandled, ends the process here.
DWORD WINAPI GrowStack(void*) {
  volatile char buffer[512 * 1024];
  for (int i = static_cast<int>(sizeof(buffer)) - 1; i >= 0; i -= 4096) buffer[i] = 1;
  buffer[0] = 7;
  return buffer[0];
}

void CheckFaults() {
  Check(IsBadReadPtr(reinterpret_cast<void*>(16), 4) != FALSE, "a read fault inside Wine's guarded code is handled");
  HANDLE thread = CreateThread(nullptr, 0, GrowStack, nullptr, 0, nullptr);
  DWORD code = 0;
  if (thread) {
    WaitForSingleObject(thread, INFINITE);
    GetExitCodeThread(thread, &code);
    CloseHandle(thread);
  }
  Check(code == 7, "a thread's stack grows through its guard page");
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  const bool saveShortcut = argc == 3 && std::wcscmp(argv[2], L"--save-shortcut") == 0;
  if (argc != 2 && !saveShortcut) {
    std::printf("usage: wine32_route_probe WORK_FOLDER [--save-shortcut]\n");
    return 100;
  }
  CreateDirectoryW(argv[1], nullptr);
  CheckWow64();
  CheckFaults();
  CheckFonts();
  CheckWindow();
  CheckRegistry();
  CheckShortcut(argv[1], saveShortcut);
  std::printf("%d failed\n", failures);
  return failures;
}
