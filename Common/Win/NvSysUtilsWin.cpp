// Windows system helpers.
#include "NvSysUtilsWin.h"

#include <shellapi.h>
#include <shlobj.h>
#include <tlhelp32.h>

#include <cmath>
#include <cstdint>

#include "NvCallbackBarrier.h"
#include "NvFileUtils.h"
#include "NvSysUtils.h"

// ---- code pages ------------------------------------------------------------------

std::wstring AnsiToWide(const std::string& text) {
  if (text.empty()) return {};
  int n = MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  std::wstring result(n > 0 ? n : 0, L'\0');
  if (n > 0) MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), result.data(), n);
  return result;
}

std::string WideToAnsi(const std::wstring& text) {
  if (text.empty()) return {};
  int n = WideCharToMultiByte(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
  std::string result(n > 0 ? n : 0, '\0');
  if (n > 0)
    WideCharToMultiByte(CP_ACP, 0, text.data(), static_cast<int>(text.size()), result.data(), n, nullptr, nullptr);
  return result;
}

// ---- date and time ---------------------------------------------------------------

namespace {

constexpr int64_t kMSecsPerDay = 86400000;
constexpr int64_t kUnixDateDelta = 25569;  // days from 1899-12-30 to 1970-01-01

// Civil date of a day count since 1970-01-01 (proleptic Gregorian calendar).
void CivilFromDays(int64_t z, int64_t& y, unsigned& m, unsigned& d) {
  z += 719468;
  const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const unsigned doe = static_cast<unsigned>(z - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  d = doy - (153 * mp + 2) / 5 + 1;
  m = mp < 10 ? mp + 3 : mp - 9;
  y = static_cast<int64_t>(yoe) + era * 400 + (m <= 2);
}

int64_t DaysFromCivil(int64_t y, unsigned m, unsigned d) {
  y -= m <= 2;
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const unsigned yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<int64_t>(doe) - 719468;
}

}  // namespace

TDateTime Now() {
  SYSTEMTIME st;
  GetLocalTime(&st);
  return SystemTimeToDateTime(st);
}

SYSTEMTIME DateTimeToSystemTime(TDateTime value) {
  // Before 1899-12-30 the whole part counts days back and the fraction is
  // still the time of that day.
  double whole = std::trunc(value);
  int64_t day = static_cast<int64_t>(whole);
  int64_t ms = std::llround(std::fabs(value - whole) * static_cast<double>(kMSecsPerDay));
  if (ms >= kMSecsPerDay) {
    ms -= kMSecsPerDay;
    ++day;
  }
  int64_t y;
  unsigned m, d;
  CivilFromDays(day - kUnixDateDelta, y, m, d);
  SYSTEMTIME st{};
  st.wYear = static_cast<WORD>(y);
  st.wMonth = static_cast<WORD>(m);
  st.wDay = static_cast<WORD>(d);
  st.wDayOfWeek = static_cast<WORD>(((day % 7) + 7 + 6) % 7);  // 1899-12-30 was a Saturday
  st.wHour = static_cast<WORD>(ms / 3600000);
  st.wMinute = static_cast<WORD>(ms / 60000 % 60);
  st.wSecond = static_cast<WORD>(ms / 1000 % 60);
  st.wMilliseconds = static_cast<WORD>(ms % 1000);
  return st;
}

TDateTime SystemTimeToDateTime(const SYSTEMTIME& st) {
  double date = static_cast<double>(DaysFromCivil(st.wYear, st.wMonth, st.wDay) + kUnixDateDelta);
  double time = (st.wHour * 3600000.0 + st.wMinute * 60000.0 + st.wSecond * 1000.0 + st.wMilliseconds) /
                static_cast<double>(kMSecsPerDay);
  return date < 0 ? date - time : date + time;
}

bool DateTimeToFileTime(TDateTime value, FILETIME& utc) {
  SYSTEMTIME st = DateTimeToSystemTime(value);
  FILETIME local;
  if (st.wYear < 1601 || !SystemTimeToFileTime(&st, &local)) return false;
  return LocalFileTimeToFileTime(&local, &utc) != FALSE;
}

TDateTime FileTimeToDateTime(const FILETIME& utc) {
  FILETIME local;
  SYSTEMTIME st;
  if (!FileTimeToLocalFileTime(&utc, &local) || !FileTimeToSystemTime(&local, &st)) return 0;
  return SystemTimeToDateTime(st);
}

// ---- files -------------------------------------------------------------------

void TNvFilefn::ForceFileDir(const std::wstring& fileName) {
  std::wstring dir = ExtractFilePath(fileName);
  if (!dir.empty() && !DirectoryExists(dir)) ForceDirectories(dir);
}

namespace {

bool FileIdentity(const std::wstring& path, BY_HANDLE_FILE_INFORMATION& info) {
  HANDLE h = CreateFileW(path.c_str(), FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                         nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  const bool ok = GetFileInformationByHandle(h, &info) != FALSE;
  CloseHandle(h);
  return ok;
}

}  // namespace

bool TNvFilefn::SameFileObject(const std::wstring& a, const std::wstring& b) {
  BY_HANDLE_FILE_INFORMATION ia{}, ib{};
  if (!FileIdentity(a, ia) || !FileIdentity(b, ib)) return false;
  return ia.dwVolumeSerialNumber == ib.dwVolumeSerialNumber && ia.nFileIndexHigh == ib.nFileIndexHigh &&
         ia.nFileIndexLow == ib.nFileIndexLow;
}

std::wstring TNvFilefn::GetLongPathName(const std::wstring& path) {
  std::wstring buffer(MAX_PATH, L'\0');
  DWORD n = ::GetLongPathNameW(path.c_str(), buffer.data(), static_cast<DWORD>(buffer.size()));
  if (n >= buffer.size()) {  // longer than MAX_PATH: n is the size needed
    buffer.assign(n, L'\0');
    n = ::GetLongPathNameW(path.c_str(), buffer.data(), static_cast<DWORD>(buffer.size()));
    if (n >= buffer.size()) return {};
  }
  if (n == 0) return {};
  buffer.resize(n);
  return buffer;
}

bool TNvFilefn::SetFileTimes(const std::wstring& fileName, const TFileTimes& times) {
  HANDLE f = CreateFileW(fileName.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
  if (f == INVALID_HANDLE_VALUE) return false;
  bool ok = SetFileTimes(f, times);
  CloseHandle(f);
  return ok;
}

bool TNvFilefn::SetFileTimes(HANDLE file, const TFileTimes& times) {
  // Zero within the floating-point tolerance of date values means "unchanged".
  auto convert = [](TDateTime value, FILETIME& ft, bool& ok) -> const FILETIME* {
    if (std::fabs(value) <= 1e-12) return nullptr;
    if (!DateTimeToFileTime(value, ft)) ok = false;
    return &ft;
  };
  bool ok = true;
  FILETIME creation, access, write;
  const FILETIME* pc = convert(times.CreationTime, creation, ok);
  const FILETIME* pa = convert(times.LastAccessTime, access, ok);
  const FILETIME* pw = convert(times.LastWriteTime, write, ok);
  return ok && SetFileTime(file, pc, pa, pw) != FALSE;
}

// ---- shell folders -------------------------------------------------------------

std::wstring TNvRegfn::GetSpecialFolderPath(int csidl) {
  wchar_t buffer[MAX_PATH + 1] = {};
  if (FAILED(SHGetFolderPathW(nullptr, csidl, nullptr, SHGFP_TYPE_CURRENT, buffer))) return {};
  return IncludeTrailingBackslash(buffer);
}

// ---- processes ---------------------------------------------------------------------

DWORD TNvWinfn::RunAndWait(const std::wstring& commandLine, bool* started) {
  STARTUPINFOW si{};
  si.cb = sizeof si;
  si.dwFlags = STARTF_USESHOWWINDOW;
  si.wShowWindow = SW_SHOWNORMAL;
  PROCESS_INFORMATION pi{};
  std::wstring cmd = commandLine;  // CreateProcessW may write into the buffer
  const bool ok = CreateProcessW(nullptr, cmd.data(), nullptr, nullptr, TRUE,
                                 CREATE_NEW_CONSOLE | NORMAL_PRIORITY_CLASS, nullptr, nullptr, &si, &pi);
  if (started) *started = ok;
  if (!ok) return 1;
  WaitForSingleObject(pi.hProcess, INFINITE);
  DWORD code = 1;
  GetExitCodeProcess(pi.hProcess, &code);
  CloseHandle(pi.hThread);
  CloseHandle(pi.hProcess);
  return code;
}

namespace {

// Passes complete lines of child output to WriteStdOut; keeps a partial line.
void FlushLines(std::string& pending, bool all) {
  std::size_t start = 0;
  for (;;) {
    std::size_t nl = pending.find('\n', start);
    if (nl == std::string::npos) break;
    std::size_t end = nl;
    if (end > start && pending[end - 1] == '\r') --end;
    TNvSysfn::WriteStdOut(AnsiToWide(pending.substr(start, end - start)));
    start = nl + 1;
  }
  pending.erase(0, start);
  if (all && !pending.empty()) {
    if (pending.back() == '\r') pending.pop_back();
    TNvSysfn::WriteStdOut(AnsiToWide(pending));
    pending.clear();
  }
}

// Moves everything waiting in the pipe into pending.
void DrainPipe(HANDLE readEnd, std::string& pending) {
  char buffer[1024];
  for (;;) {
    DWORD avail = 0;
    if (!PeekNamedPipe(readEnd, nullptr, 0, nullptr, &avail, nullptr) || avail == 0) return;
    DWORD got = 0;
    if (!ReadFile(readEnd, buffer, avail < sizeof buffer ? avail : sizeof buffer, &got, nullptr) || got == 0) return;
    pending.append(buffer, got);
  }
}

}  // namespace

DWORD TNvWinfn::RunHidden(const std::wstring& commandLine) {
  SECURITY_ATTRIBUTES sa{};
  sa.nLength = sizeof sa;
  sa.bInheritHandle = TRUE;
  HANDLE readEnd = nullptr, writeEnd = nullptr;
  if (!CreatePipe(&readEnd, &writeEnd, &sa, 0)) return 1;
  // Only the write end goes to the child.
  SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);

  STARTUPINFOW si{};
  si.cb = sizeof si;
  si.dwFlags = STARTF_USESHOWWINDOW | STARTF_USESTDHANDLES;
  si.wShowWindow = SW_HIDE;
  si.hStdOutput = writeEnd;
  si.hStdError = writeEnd;
  PROCESS_INFORMATION pi{};
  std::wstring cmd = commandLine;
  if (!CreateProcessW(nullptr, cmd.data(), nullptr, nullptr, TRUE, NORMAL_PRIORITY_CLASS, nullptr, nullptr, &si,
                      &pi)) {
    CloseHandle(readEnd);
    CloseHandle(writeEnd);
    return 1;
  }
  std::string pending;
  DWORD wait;
  do {
    wait = WaitForSingleObject(pi.hProcess, 300);
    DrainPipe(readEnd, pending);
    FlushLines(pending, false);
  } while (wait == WAIT_TIMEOUT);
  DrainPipe(readEnd, pending);
  FlushLines(pending, true);

  DWORD code = 1;
  GetExitCodeProcess(pi.hProcess, &code);
  CloseHandle(pi.hProcess);
  CloseHandle(pi.hThread);
  CloseHandle(readEnd);
  CloseHandle(writeEnd);
  return code;
}

std::wstring TNvWinfn::GetModulePath() {
  std::wstring path(MAX_PATH, L'\0');
  for (;;) {
    DWORD n = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
    if (n == 0) return {};
    if (n < path.size()) {
      path.resize(n);
      return path;
    }
    path.resize(path.size() * 2);
  }
}

std::wstring TNvWinfn::GetTempDir() {
  wchar_t buffer[MAX_PATH + 1] = {};
  DWORD n = GetTempPathW(MAX_PATH + 1, buffer);
  if (n == 0 || n > MAX_PATH) return {};
  std::wstring temp(buffer, n);
  std::wstring longForm = TNvFilefn::GetLongPathName(temp);
  // A folder whose long form is not available is used as the system gave it.
  return IncludeTrailingBackslash(longForm.empty() ? temp : longForm);
}

// ---- shell and message boxes -------------------------------------------------------

int TNvWinfn::ShowMessageBox(HWND owner, const std::wstring& text, UINT flags, const std::wstring& caption) {
  const int answer = MessageBoxW(owner, text.c_str(), caption.c_str(), flags);
  NvRethrowKept();  // raised by one of our windows while the box was up
  return answer;
}

int TNvWinfn::ShowInfo(HWND owner, const std::wstring& text, const std::wstring& caption) {
  return ShowMessageBox(owner, text, MB_ICONINFORMATION, caption);
}

INT_PTR TNvWinfn::ShellExec(HWND owner, const std::wstring& verb, const std::wstring& file,
                            const std::wstring& parameters, const std::wstring& folder, int showCmd,
                            bool allowForeground) {
  auto opt = [](const std::wstring& s) { return s.empty() ? nullptr : s.c_str(); };
  INT_PTR result = reinterpret_cast<INT_PTR>(
      ShellExecuteW(owner, opt(verb), file.c_str(), opt(parameters), opt(folder), showCmd));
  if (allowForeground) {
    Sleep(300);
    HANDLE snap = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snap != INVALID_HANDLE_VALUE) {
      std::wstring exe = ExtractFileName(file);
      PROCESSENTRY32W pe{};
      pe.dwSize = sizeof pe;
      for (BOOL more = Process32FirstW(snap, &pe); more; more = Process32NextW(snap, &pe)) {
        if (SameText(pe.szExeFile, exe)) {
          AllowSetForegroundWindow(pe.th32ProcessID);
          break;
        }
      }
      CloseHandle(snap);
    }
  }
  return result;
}

INT_PTR TNvWinfn::ShellOpen(const std::wstring& file) { return ShellExec(nullptr, L"", file, L"", L"", SW_SHOW, false); }

void TNvWinfn::OpenUrl(const std::wstring& url) {
  if (ShellOpen(url) <= 32) ShellExec(nullptr, L"", L"iexplore.exe", url, L"", SW_SHOW, false);
}
