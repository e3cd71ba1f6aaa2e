#include "NvSysError.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <cstring>
#endif

#include "NvSysUtils.h"

std::wstring SystemErrorText(unsigned long code, const void* messageModule) {
  std::wstring text;
#ifdef _WIN32
  DWORD flags = FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS;
  if (messageModule) flags |= FORMAT_MESSAGE_FROM_HMODULE;
  wchar_t* buffer = nullptr;
  DWORD n = FormatMessageW(flags, messageModule, static_cast<DWORD>(code), 0, reinterpret_cast<wchar_t*>(&buffer), 0,
                           nullptr);
  if (n && buffer) text.assign(buffer, n);
  if (buffer) LocalFree(buffer);
#else
  (void)messageModule;
  text = Utf8Decode(std::strerror(static_cast<int>(code)));
#endif
  while (!text.empty() && text.back() <= L' ') text.pop_back();
  return text;
}

std::wstring SysErrorMessage(unsigned long code) {
  std::wstring text = SystemErrorText(code);
  return text.empty() ? L"System error " + IntToStr(static_cast<int64_t>(code)) : text;
}
