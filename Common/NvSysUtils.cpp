// GUID text, stream compression, console output and run-time facts.
#include "NvSysUtils.h"

#include <cstdio>
#include <cstdlib>
#include <random>

#include "NvExceptions.h"
#include "NvTypInfo.h"

#ifdef _WIN32
#include <windows.h>
#include <objbase.h>
#else
#include <unistd.h>
#include <fstream>
#endif

// ---- GUID text ------------------------------------------------------------------

bool TNvStrfn::IsGuidString(const std::wstring& text) {
  if (text.size() != 38 || text.front() != L'{' || text.back() != L'}') return false;
  for (std::size_t i = 1; i < 37; ++i) {
    const wchar_t c = text[i];
    const bool hex = (c >= L'0' && c <= L'9') || (c >= L'a' && c <= L'f') || (c >= L'A' && c <= L'F');
    if (i == 9 || i == 14 || i == 19 || i == 24 ? c != L'-' : !hex) return false;
  }
  return true;
}

std::wstring TNvStrfn::NewGuidString() {
#ifdef _WIN32
  GUID guid{};
  CoCreateGuid(&guid);
  LPOLESTR text = nullptr;
  std::wstring result;
  if (SUCCEEDED(StringFromCLSID(guid, &text)) && text) {
    result = text;
    CoTaskMemFree(text);
  }
  return result;
#else
  // A random (version 4, RFC 4122 variant) GUID in the same registry form.
  static thread_local std::mt19937_64 engine([] {
    std::random_device rd;
    std::seed_seq seq{rd(), rd(), rd(), rd(), rd(), rd(), rd(), rd()};
    return std::mt19937_64(seq);
  }());
  unsigned char b[16];
  for (int i = 0; i < 16; i += 8) {
    uint64_t r = engine();
    for (int k = 0; k < 8; ++k) b[i + k] = static_cast<unsigned char>(r >> (8 * k));
  }
  b[6] = static_cast<unsigned char>((b[6] & 0x0F) | 0x40);
  b[8] = static_cast<unsigned char>((b[8] & 0x3F) | 0x80);
  static const wchar_t hex[] = L"0123456789ABCDEF";
  std::wstring s = L"{";
  for (int i = 0; i < 16; ++i) {
    if (i == 4 || i == 6 || i == 8 || i == 10) s += L'-';
    s += hex[b[i] >> 4];
    s += hex[b[i] & 0x0F];
  }
  s += L'}';
  return s;
#endif
}

// ---- zlib ----------------------------------------------------------------------

// ---- console and run-time facts ---------------------------------------------

void TNvSysfn::WriteStdOut(const std::wstring& text) {
#ifdef _WIN32
  std::string bytes;
  if (!text.empty()) {
    int n = WideCharToMultiByte(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
    if (n > 0) {
      bytes.resize(n);
      WideCharToMultiByte(CP_ACP, 0, text.data(), static_cast<int>(text.size()), bytes.data(), n, nullptr, nullptr);
    }
  }
  bytes += "\r\n";
  HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
  if (out == nullptr || out == INVALID_HANDLE_VALUE) return;
  DWORD written = 0;
  WriteFile(out, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
#else
  std::string bytes = Utf8Encode(text) + "\r\n";
  std::size_t done = 0;
  while (done < bytes.size()) {
    ssize_t n = ::write(STDOUT_FILENO, bytes.data() + done, bytes.size() - done);
    if (n <= 0) return;
    done += static_cast<std::size_t>(n);
  }
#endif
}

bool TNvSysfn::IsDebugging() {
#ifdef _WIN32
  return IsDebuggerPresent() != FALSE;
#else
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("TracerPid:", 0) == 0) return std::strtol(line.c_str() + 10, nullptr, 10) != 0;
  }
  return false;
#endif
}

std::wstring TNvSysfn::EnumName(const TEnumInfo& info, int ordinal) {
  if (ordinal < 0 || static_cast<std::size_t>(ordinal) >= info.Names.size()) return {};
  return AsciiToWide(info.Names[static_cast<std::size_t>(ordinal)]);
}
