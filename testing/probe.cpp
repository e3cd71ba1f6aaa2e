// A stand-in for the programs an install starts or ends:
//   probe log FILE TAG [SLEEP_MS]   appends "TAG begin|<cwd>|<command line>",
//                                   sleeps, then appends "TAG end"
//   probe sleep MS                  stays alive for MS milliseconds
//   probe waitfile FILE MS          waits up to MS milliseconds for FILE to
//                                   appear, deletes it; exit code 1 when it
//                                   did not appear
// Each line is appended with the file opened and closed around the write, so
// several probes may share one log.
#include <windows.h>

#include <string>

namespace {

void AppendLine(const std::wstring& file, const std::wstring& line) {
  std::wstring text = line + L"\r\n";
  int n = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
  std::string bytes(n, '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), bytes.data(), n, nullptr, nullptr);
  for (int attempt = 0; attempt < 200; ++attempt) {
    HANDLE h = CreateFileW(file.c_str(), FILE_APPEND_DATA, 0, nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h != INVALID_HANDLE_VALUE) {
      DWORD written = 0;
      WriteFile(h, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
      CloseHandle(h);
      return;
    }
    Sleep(10);
  }
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc >= 3 && std::wstring(argv[1]) == L"sleep") {
    Sleep(static_cast<DWORD>(_wtoi(argv[2])));
    return 0;
  }
  if (argc >= 4 && std::wstring(argv[1]) == L"waitfile") {
    for (DWORD waited = 0; waited < static_cast<DWORD>(_wtoi(argv[3])); waited += 50) {
      if (GetFileAttributesW(argv[2]) != INVALID_FILE_ATTRIBUTES) return DeleteFileW(argv[2]) ? 0 : 1;
      Sleep(50);
    }
    return 1;
  }
  if (argc >= 4 && std::wstring(argv[1]) == L"log") {
    wchar_t cwd[MAX_PATH] = {};
    GetCurrentDirectoryW(MAX_PATH, cwd);
    AppendLine(argv[2], std::wstring(argv[3]) + L" begin|" + cwd + L"|" + GetCommandLineW());
    if (argc >= 5) Sleep(static_cast<DWORD>(_wtoi(argv[4])));
    AppendLine(argv[2], std::wstring(argv[3]) + L" end");
    return 0;
  }
  return 2;
}
