#include "TestFiles.h"

#include <filesystem>
#include <stdexcept>

#include "NvSysUtils.h"

namespace nvtest {

namespace {

int64_t Ticks(const FILETIME& f) { return (static_cast<int64_t>(f.dwHighDateTime) << 32) | f.dwLowDateTime; }

FILETIME FileTime(int64_t ticks) { return {static_cast<DWORD>(ticks), static_cast<DWORD>(ticks >> 32)}; }

// FILETIME counts from 1601-01-01, TDateTime from 1899-12-30.
constexpr double kDaysFrom1601To1899 = 109205.0;

}  // namespace

std::wstring WinePath(const std::string& hostPath) {
  std::wstring w = Utf8Decode(hostPath);
  for (auto& c : w)
    if (c == L'/') c = L'\\';
  if (!w.empty() && w[0] == L'\\') w = L"Z:" + w;
  return w;
}

std::wstring SetupExe() { return WinePath(NV_SETUP_EXE); }
std::wstring ProbeExe() { return WinePath(NV_PROBE_EXE); }

std::wstring TestRoot() { return L"C:\\nvtests\\"; }

void RemoveTree(const std::wstring& path) {
  std::error_code ec;
  std::filesystem::remove_all(std::filesystem::path(path), ec);
}

std::wstring FreshDir(const std::wstring& name) {
  const std::wstring dir = TestRoot() + name + L"\\";
  RemoveTree(dir);
  std::filesystem::create_directories(std::filesystem::path(dir));
  return dir;
}

bool TryReadBytes(const std::wstring& path, std::string& bytes) {
  bytes.clear();
  HANDLE h = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                         OPEN_EXISTING, 0, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  char buffer[65536];
  DWORD n = 0;
  while (ReadFile(h, buffer, sizeof(buffer), &n, nullptr) && n > 0) bytes.append(buffer, n);
  CloseHandle(h);
  return true;
}

std::string ReadBytes(const std::wstring& path) {
  std::string bytes;
  return TryReadBytes(path, bytes) ? bytes : "<unreadable>";
}

void WriteBytes(const std::wstring& path, const std::string& bytes) {
  std::filesystem::create_directories(std::filesystem::path(path).parent_path());
  HANDLE h = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  DWORD written = 0;
  const bool ok = h != INVALID_HANDLE_VALUE &&
                  WriteFile(h, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
                  written == bytes.size();
  if (h != INVALID_HANDLE_VALUE) CloseHandle(h);
  if (!ok) throw std::runtime_error(Utf8Encode(path) + ": cannot write the test file");
}

bool PathIsFile(const std::wstring& path) {
  DWORD a = GetFileAttributesW(path.c_str());
  return a != INVALID_FILE_ATTRIBUTES && !(a & FILE_ATTRIBUTE_DIRECTORY);
}

bool PathIsDir(const std::wstring& path) {
  DWORD a = GetFileAttributesW(path.c_str());
  return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY);
}

std::string RandomBytes(std::size_t size, uint32_t seed) {
  std::string out(size, '\0');
  uint32_t x = seed * 2654435761u + 1;
  for (auto& c : out) {
    x ^= x << 13;
    x ^= x >> 17;
    x ^= x << 5;
    c = static_cast<char>(x);
  }
  return out;
}

bool Contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }
bool Contains(const std::wstring& text, const std::wstring& part) { return text.find(part) != std::wstring::npos; }

std::vector<std::wstring> ReadLines(const std::wstring& path) {
  std::vector<std::wstring> lines;
  std::string bytes;
  if (!TryReadBytes(path, bytes)) return lines;
  const std::wstring text = Utf8Decode(bytes);
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find(L'\n', start);
    if (end == std::wstring::npos) end = text.size();
    std::wstring line = text.substr(start, end - start);
    if (!line.empty() && line.back() == L'\r') line.pop_back();
    lines.push_back(line);
    start = end + 1;
  }
  return lines;
}

bool WaitForLine(const std::wstring& path, const std::wstring& prefix, DWORD timeoutMs) {
  const DWORD start = GetTickCount();
  for (;;) {
    for (const auto& line : ReadLines(path))
      if (line.compare(0, prefix.size(), prefix) == 0) return true;
    if (GetTickCount() - start > timeoutMs) return false;
    Sleep(100);
  }
}

double EncodeDateTime(int year, int month, int day, int hour, int minute, int second) {
  SYSTEMTIME st{};
  st.wYear = static_cast<WORD>(year);
  st.wMonth = static_cast<WORD>(month);
  st.wDay = static_cast<WORD>(day);
  st.wHour = static_cast<WORD>(hour);
  st.wMinute = static_cast<WORD>(minute);
  st.wSecond = static_cast<WORD>(second);
  FILETIME ft;
  SystemTimeToFileTime(&st, &ft);
  return static_cast<double>(Ticks(ft)) / (86400.0 * TicksPerSecond) - kDaysFrom1601To1899;
}

int64_t DateTimeToUtcTicks(double dateTime) {
  const int64_t local = static_cast<int64_t>((dateTime + kDaysFrom1601To1899) * 86400.0 * 1000.0 + 0.5) * 10000;
  FILETIME lft = FileTime(local), utc;
  LocalFileTimeToFileTime(&lft, &utc);
  return Ticks(utc);
}

int64_t NowUtcTicks() {
  FILETIME ft;
  GetSystemTimeAsFileTime(&ft);
  return Ticks(ft);
}

TFileTimesRead ReadFileTimes(const std::wstring& path) {
  TFileTimesRead t;
  HANDLE h =
      CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
  if (h == INVALID_HANDLE_VALUE) return t;
  FILETIME c, a, w;
  if (GetFileTime(h, &c, &a, &w)) {
    t.Creation = Ticks(c);
    t.LastAccess = Ticks(a);
    t.LastWrite = Ticks(w);
  }
  CloseHandle(h);
  return t;
}

void SetLastWriteTicks(const std::wstring& path, int64_t utcTicks) {
  HANDLE h = CreateFileW(path.c_str(), FILE_WRITE_ATTRIBUTES, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  const FILETIME ft = FileTime(utcTicks);
  const bool ok = h != INVALID_HANDLE_VALUE && SetFileTime(h, nullptr, nullptr, &ft);
  if (h != INVALID_HANDLE_VALUE) CloseHandle(h);
  if (!ok) throw std::runtime_error(Utf8Encode(path) + ": cannot set the last-write time");
}

}  // namespace nvtest
