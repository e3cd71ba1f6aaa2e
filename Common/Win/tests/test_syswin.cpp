// The Windows system helpers on the real Win32 API.
#include <gtest/gtest.h>
#include <windows.h>
#include <objbase.h>
#include <shellapi.h>
#include <shlobj.h>
#include <tlhelp32.h>

#include <atomic>
#include <set>
#include <chrono>
#include <string>
#include <thread>

#include "NvFileUtils.h"
#include "NvPlatform.h"
#include "NvSysUtils.h"
#include "NvSysUtilsWin.h"

namespace {

std::wstring OwnPath() {
  wchar_t buffer[MAX_PATH];
  DWORD n = GetModuleFileNameW(nullptr, buffer, MAX_PATH);
  return std::wstring(buffer, n);
}

// ---- this program as a child process ----------------------------------------------
// "prog --nv-child out TEXT | err TEXT | lines N | record FILE | sleep MS | exit N ..."
// runs the steps in order and never reaches the tests.

void WriteHandle(DWORD which, const std::string& bytes) {
  DWORD written;
  WriteFile(GetStdHandle(which), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
}

void RecordCommandLine(const std::wstring& file) { WriteFileBytes(file, Utf8Encode(GetCommandLineW())); }

struct TChildMode {
  TChildMode() {
    int argc = 0;
    LPWSTR* argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    if (argc < 2 || std::wstring(argv[1]) != L"--nv-child") return;
    UINT code = 0;
    for (int i = 2; i + 1 < argc; i += 2) {
      std::wstring op = argv[i], arg = argv[i + 1];
      if (op == L"out") WriteHandle(STD_OUTPUT_HANDLE, Utf8Encode(arg) + "\r\n");
      if (op == L"err") WriteHandle(STD_ERROR_HANDLE, Utf8Encode(arg) + "\r\n");
      if (op == L"lines")
        for (int k = 0; k < _wtoi(arg.c_str()); ++k) WriteHandle(STD_OUTPUT_HANDLE, "line " + std::to_string(k) + "\r\n");
      if (op == L"record") RecordCommandLine(arg);
      if (op == L"sleep") Sleep(_wtoi(arg.c_str()));
      if (op == L"exit") code = static_cast<UINT>(_wtoi(arg.c_str()));
    }
    ExitProcess(code);
  }
} ChildMode;

// A fresh folder under the temporary folder, removed afterwards.
class TempFolder : public ::testing::Test {
protected:
  void SetUp() override {
    wchar_t buffer[MAX_PATH + 1];
    GetTempPathW(MAX_PATH + 1, buffer);
    FDir = std::wstring(buffer) + L"nvsys-" + TNvStrfn::NewGuidString().substr(1, 8) + L"\\";
    ASSERT_TRUE(CreateDirectoryW(FDir.c_str(), nullptr));
  }
  void TearDown() override { RemoveTree(L"\\\\?\\" + FDir.substr(0, FDir.size() - 1)); }
  // Deletes a folder and its content one entry at a time (long paths too).
  static void RemoveTree(const std::wstring& dir) {
    WIN32_FIND_DATAW fd;
    HANDLE h = FindFirstFileW((dir + L"\\*").c_str(), &fd);
    if (h != INVALID_HANDLE_VALUE) {
      do {
        std::wstring name = fd.cFileName;
        if (name == L"." || name == L"..") continue;
        std::wstring path = dir + L"\\" + name;
        if (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
          RemoveTree(path);
        } else {
          SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
          DeleteFileW(path.c_str());
        }
      } while (FindNextFileW(h, &fd));
      FindClose(h);
    }
    // A child that ran in the folder may still be ending.
    for (int i = 0; i < 30 && !RemoveDirectoryW(dir.c_str()) && GetLastError() != ERROR_FILE_NOT_FOUND; ++i) Sleep(100);
  }
  bool WaitForFile(const std::wstring& file, int ms = 15000) {
    for (int waited = 0; waited < ms; waited += 100) {
      if (FileExists(file) && !ReadFileBytes(file).empty()) return true;
      Sleep(100);
    }
    return false;
  }
  std::wstring FDir;
};

// Standard output of this process redirected into a file for one call.
template <class F>
std::string CaptureStdOut(const std::wstring& file, F&& call) {
  HANDLE old = GetStdHandle(STD_OUTPUT_HANDLE);
  HANDLE f = CreateFileW(file.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS, 0, nullptr);
  EXPECT_NE(f, INVALID_HANDLE_VALUE);
  SetStdHandle(STD_OUTPUT_HANDLE, f);
  call();
  SetStdHandle(STD_OUTPUT_HANDLE, old);
  CloseHandle(f);
  return ReadFileBytes(file);
}

std::wstring Quote(const std::wstring& s) { return L"\"" + s + L"\""; }

FILETIME FileTimeOf(const std::wstring& file, int which) {
  HANDLE f = CreateFileW(file.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0,
                         nullptr);
  FILETIME t[3] = {};
  GetFileTime(f, &t[0], &t[1], &t[2]);
  CloseHandle(f);
  return t[which];
}
constexpr int kCreation = 0, kAccess = 1, kWrite = 2;

// Wine on Linux file systems keeps no settable creation time.
bool CreationTimeSettable() { return GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "wine_get_version") == nullptr; }

TDateTime Encode(WORD y, WORD mo, WORD d, WORD h, WORD mi, WORD s, WORD ms = 0) {
  SYSTEMTIME st{};
  st.wYear = y;
  st.wMonth = mo;
  st.wDay = d;
  st.wHour = h;
  st.wMinute = mi;
  st.wSecond = s;
  st.wMilliseconds = ms;
  return SystemTimeToDateTime(st);
}

}  // namespace

// ---- start-up --------------------------------------------------------------------

TEST(ComStartUp, MainThreadAlreadyInitialised) {
  HRESULT hr = CoInitialize(nullptr);
  EXPECT_EQ(hr, S_FALSE);  // S_OK would mean nobody had initialised COM
  if (SUCCEEDED(hr)) CoUninitialize();
}

// ---- date and time ---------------------------------------------------------------

TEST(DateTime, KnownDays) {
  EXPECT_DOUBLE_EQ(Encode(1899, 12, 30, 0, 0, 0), 0.0);
  EXPECT_DOUBLE_EQ(Encode(2000, 1, 1, 12, 0, 0), 36526.5);
  EXPECT_DOUBLE_EQ(Encode(1899, 12, 29, 6, 0, 0), -1.25);
  SYSTEMTIME st = DateTimeToSystemTime(36526.75);
  EXPECT_EQ(st.wYear, 2000);
  EXPECT_EQ(st.wMonth, 1);
  EXPECT_EQ(st.wDay, 1);
  EXPECT_EQ(st.wDayOfWeek, 6);  // a Saturday
  EXPECT_EQ(st.wHour, 18);
  st = DateTimeToSystemTime(-1.25);
  EXPECT_EQ(st.wYear, 1899);
  EXPECT_EQ(st.wMonth, 12);
  EXPECT_EQ(st.wDay, 29);
  EXPECT_EQ(st.wHour, 6);
}

TEST(DateTime, SystemTimeRoundTrip) {
  for (TDateTime v : {Encode(2024, 2, 29, 23, 59, 59, 999), Encode(1601, 1, 1, 0, 0, 0, 1), Encode(2026, 12, 8, 5, 6, 7, 8)}) {
    SYSTEMTIME st = DateTimeToSystemTime(v);
    EXPECT_DOUBLE_EQ(SystemTimeToDateTime(st), v);
  }
  SYSTEMTIME st = DateTimeToSystemTime(Encode(2024, 2, 29, 23, 59, 59, 999));
  EXPECT_EQ(st.wMonth, 2);
  EXPECT_EQ(st.wDay, 29);
  EXPECT_EQ(st.wMilliseconds, 999);
}

TEST(DateTime, FileTimeIsUtcOfLocal) {
  TDateTime local = Encode(2023, 7, 14, 10, 20, 30, 400);
  FILETIME utc;
  ASSERT_TRUE(DateTimeToFileTime(local, utc));
  FILETIME back;
  ASSERT_TRUE(FileTimeToLocalFileTime(&utc, &back));
  SYSTEMTIME st;
  FileTimeToSystemTime(&back, &st);
  EXPECT_EQ(st.wHour, 10);
  EXPECT_EQ(st.wMilliseconds, 400);
  EXPECT_NEAR(FileTimeToDateTime(utc), local, 1e-9);
  FILETIME ignored;
  EXPECT_FALSE(DateTimeToFileTime(Encode(1500, 1, 1, 0, 0, 0), ignored));
}

TEST(DateTime, NowIsTheLocalClock) {
  SYSTEMTIME st;
  GetLocalTime(&st);
  EXPECT_NEAR(Now(), SystemTimeToDateTime(st), 5.0 / 86400);
}

// ---- code pages ------------------------------------------------------------------

TEST(CodePage, AnsiRoundTrip) {
  std::string ascii;
  for (char c = 32; c < 127; ++c) ascii += c;
  EXPECT_EQ(AnsiToWide(ascii), std::wstring(ascii.begin(), ascii.end()));
  EXPECT_EQ(WideToAnsi(AnsiToWide(ascii)), ascii);
  EXPECT_EQ(AnsiToWide(""), L"");
  EXPECT_EQ(WideToAnsi(L""), "");
  if (GetACP() == 1252) {
    EXPECT_EQ(AnsiToWide("\xE9\x80"), L"\u00E9\u20AC");
    EXPECT_EQ(WideToAnsi(L"\u00E9\u20AC"), "\xE9\x80");
  }
  if (GetACP() == 936) {
    EXPECT_EQ(AnsiToWide("\xD6\xD0"), L"中");
  }
}

// ---- files --------------------------------------------------------------------------

using FileHelpers = TempFolder;

TEST_F(FileHelpers, ForceFileDirCreatesEveryMissingLevel) {
  std::wstring file = FDir + L"a\\b\\文件夹\\file.txt";
  TNvFilefn::ForceFileDir(file);
  EXPECT_TRUE(DirectoryExists(FDir + L"a\\b\\文件夹"));
  EXPECT_FALSE(FileExists(file));
  TNvFilefn::ForceFileDir(file);  // existing folders: nothing to do
  EXPECT_TRUE(DirectoryExists(FDir + L"a\\b\\文件夹"));
}

TEST_F(FileHelpers, ForceFileDirIgnoresFailuresAndBareNames) {
  WriteFileBytes(FDir + L"blocker", "x");
  EXPECT_NO_THROW(TNvFilefn::ForceFileDir(FDir + L"blocker\\sub\\f.txt"));
  EXPECT_FALSE(DirectoryExists(FDir + L"blocker\\sub"));
  EXPECT_NO_THROW(TNvFilefn::ForceFileDir(L"just-a-name.txt"));
}

TEST_F(FileHelpers, GetLongPathNameExpandsShortForm) {
  std::wstring longDir = FDir + L"A Rather Long Folder Name";
  ASSERT_TRUE(CreateDirectoryW(longDir.c_str(), nullptr));
  WriteFileBytes(longDir + L"\\Some Long File Name.text", "x");
  wchar_t shortBuf[MAX_PATH];
  DWORD n = GetShortPathNameW((longDir + L"\\Some Long File Name.text").c_str(), shortBuf, MAX_PATH);
  ASSERT_GT(n, 0u);
  std::wstring shortPath(shortBuf, n);
  EXPECT_TRUE(SameText(TNvFilefn::GetLongPathName(shortPath), longDir + L"\\Some Long File Name.text"))
      << Utf8Encode(shortPath);
  EXPECT_EQ(TNvFilefn::GetLongPathName(FDir + L"does-not-exist\\x"), L"");
}

TEST_F(FileHelpers, GetLongPathNameBeyondMaxPath) {
  // Nested folders whose whole path is longer than MAX_PATH characters.
  std::wstring path = L"\\\\?\\" + FDir.substr(0, FDir.size() - 1);
  for (int i = 0; i < 12; ++i) {
    path += L"\\level-" + std::to_wstring(i) + L"-abcdefghijklmnopqrstuvwxyz";
    ASSERT_TRUE(CreateDirectoryW(path.c_str(), nullptr));
  }
  ASSERT_GT(path.size(), static_cast<std::size_t>(MAX_PATH));
  EXPECT_EQ(TNvFilefn::GetLongPathName(path), path);
}

TEST_F(FileHelpers, SetFileTimesSetsAllThree) {
  std::wstring file = FDir + L"times.bin";
  WriteFileBytes(file, "data");
  TFileTimes t;
  t.CreationTime = Encode(2020, 1, 2, 3, 4, 5);
  t.LastAccessTime = Encode(2021, 6, 7, 8, 9, 10);
  t.LastWriteTime = Encode(2019, 11, 12, 13, 14, 16);
  ASSERT_TRUE(TNvFilefn::SetFileTimes(file, t));
  if (CreationTimeSettable()) {
    EXPECT_NEAR(FileTimeToDateTime(FileTimeOf(file, kCreation)), t.CreationTime, 1e-7);
  }
  EXPECT_NEAR(FileTimeToDateTime(FileTimeOf(file, kAccess)), t.LastAccessTime, 1e-7);
  EXPECT_NEAR(FileTimeToDateTime(FileTimeOf(file, kWrite)), t.LastWriteTime, 1e-7);
}

TEST_F(FileHelpers, SetFileTimesZeroWriteTimeLeavesItUnchanged) {
  std::wstring file = FDir + L"keep.bin";
  WriteFileBytes(file, "data");
  TFileTimes first;
  first.CreationTime = first.LastAccessTime = first.LastWriteTime = Encode(2018, 3, 3, 3, 3, 4);
  ASSERT_TRUE(TNvFilefn::SetFileTimes(file, first));
  FILETIME writeBefore = FileTimeOf(file, kWrite);

  TFileTimes t;
  t.CreationTime = Encode(2022, 5, 5, 5, 5, 6);
  t.LastAccessTime = Encode(2022, 6, 6, 6, 6, 6);
  t.LastWriteTime = 0;
  ASSERT_TRUE(TNvFilefn::SetFileTimes(file, t));
  FILETIME writeAfter = FileTimeOf(file, kWrite);
  EXPECT_EQ(CompareFileTime(&writeBefore, &writeAfter), 0);
  if (CreationTimeSettable()) {
    EXPECT_NEAR(FileTimeToDateTime(FileTimeOf(file, kCreation)), t.CreationTime, 1e-7);
  }
  EXPECT_NEAR(FileTimeToDateTime(FileTimeOf(file, kAccess)), t.LastAccessTime, 1e-7);
}

TEST_F(FileHelpers, SetFileTimesOnMissingFileFails) {
  TFileTimes t;
  t.LastWriteTime = Encode(2020, 1, 1, 0, 0, 0);
  EXPECT_FALSE(TNvFilefn::SetFileTimes(FDir + L"missing.bin", t));
}

// ---- shell folders ---------------------------------------------------------------

TEST(SpecialFolders, KnownFoldersEndInBackslashAndExist) {
  for (int csidl : {CSIDL_DESKTOP, CSIDL_COMMON_PROGRAMS, CSIDL_APPDATA}) {
    std::wstring dir = TNvRegfn::GetSpecialFolderPath(csidl);
    ASSERT_GE(dir.size(), 4u) << csidl;
    EXPECT_EQ(dir.back(), L'\\');
    EXPECT_NE(dir[dir.size() - 2], L'\\');
    EXPECT_TRUE(DirectoryExists(dir)) << Utf8Encode(dir);
  }
  EXPECT_EQ(TNvRegfn::GetSpecialFolderPath(0x7E), L"");
}

// ---- processes ---------------------------------------------------------------------

using Processes = TempFolder;

TEST_F(Processes, RunAndWaitReturnsTheExitCode) {
  EXPECT_EQ(TNvWinfn::RunAndWait(Quote(OwnPath()) + L" --nv-child exit 42"), 42u);
  EXPECT_EQ(TNvWinfn::RunAndWait(Quote(OwnPath()) + L" --nv-child exit 0"), 0u);
  EXPECT_EQ(TNvWinfn::RunAndWait(L"cmd.exe /c exit 7"), 7u);
}

TEST_F(Processes, RunAndWaitWaitsForTheChild) {
  std::wstring record = FDir + L"done.txt";
  auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(TNvWinfn::RunAndWait(Quote(OwnPath()) + L" --nv-child sleep 700 record " + Quote(record) + L" exit 3"), 3u);
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(650));
  EXPECT_TRUE(FileExists(record));
}

TEST_F(Processes, ProgramThatDoesNotStartGivesOne) {
  EXPECT_EQ(TNvWinfn::RunAndWait(L"no-such-program-4711.exe"), 1u);
  EXPECT_EQ(TNvWinfn::RunHidden(L"no-such-program-4711.exe"), 1u);
}

TEST_F(Processes, RunHiddenPassesOutputAndErrorsLineByLine) {
  DWORD code = 0;
  std::string out = CaptureStdOut(FDir + L"out.txt", [&] {
    code = TNvWinfn::RunHidden(Quote(OwnPath()) + L" --nv-child out hello err \"to stderr\" out \"last line\" exit 5");
  });
  EXPECT_EQ(code, 5u);
  EXPECT_EQ(out, "hello\r\nto stderr\r\nlast line\r\n");
}

TEST_F(Processes, RunHiddenLosesNothingOfLongOutput) {
  std::string out = CaptureStdOut(FDir + L"out.txt", [&] {
    EXPECT_EQ(TNvWinfn::RunHidden(Quote(OwnPath()) + L" --nv-child lines 5000 exit 0"), 0u);
  });
  std::string expected;
  for (int k = 0; k < 5000; ++k) expected += "line " + std::to_string(k) + "\r\n";
  EXPECT_EQ(out.size(), expected.size());
  EXPECT_TRUE(out == expected);
}

TEST_F(Processes, RunHiddenTaskkillOfMissingProcess) {
  DWORD code = 0;
  std::string out = CaptureStdOut(FDir + L"out.txt", [&] {
    code = TNvWinfn::RunHidden(L"taskkill /F /IM nv-no-such-process-4711.exe");
  });
  EXPECT_NE(code, 0u);  // 128 on Windows
  EXPECT_NE(out.find("nv-no-such-process-4711.exe"), std::string::npos) << out;
}

// ---- console ------------------------------------------------------------------------

using Console = TempFolder;

TEST_F(Console, WriteStdOutGoesToTheStandardHandle) {
  std::string out = CaptureStdOut(FDir + L"out.txt", [] {
    TNvSysfn::WriteStdOut(L"first");
    TNvSysfn::WriteStdOut(L"second line");
  });
  EXPECT_EQ(out, "first\r\nsecond line\r\n");
}

TEST_F(Console, WriteStdOutWithoutHandleFailsSilently) {
  HANDLE old = GetStdHandle(STD_OUTPUT_HANDLE);
  SetStdHandle(STD_OUTPUT_HANDLE, nullptr);
  EXPECT_NO_THROW(TNvSysfn::WriteStdOut(L"nowhere"));
  SetStdHandle(STD_OUTPUT_HANDLE, INVALID_HANDLE_VALUE);
  EXPECT_NO_THROW(TNvSysfn::WriteStdOut(L"nowhere"));
  SetStdHandle(STD_OUTPUT_HANDLE, old);
}

// ---- temporary folder ----------------------------------------------------------------

using TempDir = TempFolder;

TEST_F(TempDir, LongFormWithTrailingBackslash) {
  std::wstring dir = TNvWinfn::GetTempDir();
  ASSERT_FALSE(dir.empty());
  EXPECT_EQ(dir.back(), L'\\');
  EXPECT_NE(dir[dir.size() - 2], L'\\');
  EXPECT_TRUE(DirectoryExists(dir));
  EXPECT_TRUE(SameText(IncludeTrailingBackslash(TNvFilefn::GetLongPathName(dir)), dir));
}

TEST_F(TempDir, ShortFormInTheEnvironmentIsExpanded) {
  std::wstring longDir = FDir + L"Temporary Files Folder";
  ASSERT_TRUE(CreateDirectoryW(longDir.c_str(), nullptr));
  wchar_t shortBuf[MAX_PATH];
  DWORD n = GetShortPathNameW(longDir.c_str(), shortBuf, MAX_PATH);
  ASSERT_GT(n, 0u);
  wchar_t oldTmp[MAX_PATH] = {};
  DWORD had = GetEnvironmentVariableW(L"TMP", oldTmp, MAX_PATH);
  SetEnvironmentVariableW(L"TMP", shortBuf);
  std::wstring dir = TNvWinfn::GetTempDir();
  SetEnvironmentVariableW(L"TMP", had ? oldTmp : nullptr);
  EXPECT_TRUE(SameText(dir, longDir + L"\\")) << Utf8Encode(dir) << " from " << Utf8Encode(shortBuf);
}

TEST_F(TempDir, MissingFolderKeepsTheSystemsText) {
  wchar_t oldTmp[MAX_PATH] = {};
  DWORD had = GetEnvironmentVariableW(L"TMP", oldTmp, MAX_PATH);
  std::wstring missing = FDir + L"gone";
  SetEnvironmentVariableW(L"TMP", missing.c_str());
  std::wstring dir = TNvWinfn::GetTempDir();
  SetEnvironmentVariableW(L"TMP", had ? oldTmp : nullptr);
  EXPECT_TRUE(SameText(dir, missing + L"\\")) << Utf8Encode(dir);
}

// ---- shell ------------------------------------------------------------------------------

using ShellHelpers = TempFolder;

TEST_F(ShellHelpers, ShellExecStartsAProgramWithParameters) {
  std::wstring record = FDir + L"record.txt";
  INT_PTR r = TNvWinfn::ShellExec(nullptr, L"open", OwnPath(), L"--nv-child record " + Quote(record) + L" exit 0",
                                  FDir, SW_HIDE, false);
  EXPECT_GT(r, 32);
  ASSERT_TRUE(WaitForFile(record));
  EXPECT_NE(ReadFileBytes(record).find("--nv-child record"), std::string::npos);
}

TEST_F(ShellHelpers, ShellExecWithForegroundFlagStillStartsTheProgram) {
  std::wstring record = FDir + L"record.txt";
  auto start = std::chrono::steady_clock::now();
  INT_PTR r = TNvWinfn::ShellExec(nullptr, L"", OwnPath(),
                                  L"--nv-child record " + Quote(record) + L" sleep 1500 exit 0", L"", SW_HIDE, true);
  EXPECT_GT(r, 32);
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(290));
  EXPECT_TRUE(WaitForFile(record));
}

TEST_F(ShellHelpers, DocumentWithoutHandlerIsReportedNotRaised) {
  std::wstring doc = FDir + L"document.nvnoassoc4711";
  WriteFileBytes(doc, "x");
  INT_PTR r = 0;
  EXPECT_NO_THROW(r = TNvWinfn::ShellOpen(doc));
  EXPECT_LE(r, 32);
  EXPECT_NO_THROW(r = TNvWinfn::ShellOpen(FDir + L"missing.exe"));
  EXPECT_LE(r, 32);
}

namespace {

std::set<DWORD> ProcessesNamed(const wchar_t* name) {
  std::set<DWORD> ids;
  HANDLE snap = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  PROCESSENTRY32W pe{};
  pe.dwSize = sizeof pe;
  for (BOOL more = Process32FirstW(snap, &pe); more; more = Process32NextW(snap, &pe))
    if (SameText(pe.szExeFile, name)) ids.insert(pe.th32ProcessID);
  CloseHandle(snap);
  return ids;
}

}  // namespace

// With no handler for an address, OpenUrl starts "iexplore.exe" with it; the
// browser that this test caused is ended again.
TEST_F(ShellHelpers, OpenUrlFallsBackToIexplore) {
  const std::wstring url = L"nvnoscheme4711:page?x=1";
  ASSERT_LE(TNvWinfn::ShellOpen(url), 32) << "the test scheme has a handler here";
  std::set<DWORD> before = ProcessesNamed(L"iexplore.exe");
  TNvWinfn::OpenUrl(url);
  std::set<DWORD> started;
  for (int i = 0; i < 100 && started.empty(); ++i) {
    for (DWORD id : ProcessesNamed(L"iexplore.exe"))
      if (!before.count(id)) started.insert(id);
    if (started.empty()) Sleep(100);
  }
  EXPECT_EQ(started.size(), 1u);
  for (DWORD id : started) {
    HANDLE p = OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, id);
    if (p) {
      TerminateProcess(p, 0);
      WaitForSingleObject(p, 5000);
      CloseHandle(p);
    }
  }
}

// ---- message boxes -------------------------------------------------------------------------

namespace {

// Presses a button of the message box with the given caption, from another
// thread, as a user would; records whether the box had the expected buttons.
class TBoxAnswerer {
public:
  TBoxAnswerer(std::wstring caption, int press) : FCaption(std::move(caption)), FPress(press) {
    FThread = std::thread([this] { Run(); });
  }
  ~TBoxAnswerer() { Join(); }
  void Join() {
    if (FThread.joinable()) FThread.join();
  }
  bool Found() const { return FFound; }
  std::wstring Text() const { return FText; }
  bool HasButton(int id) const { return (FButtons >> id) & 1; }

private:
  void Run() {
    for (int i = 0; i < 400 && !FFound; ++i) {
      HWND box = FindWindowW(L"#32770", FCaption.c_str());
      if (box && IsWindowVisible(box)) {
        Sleep(100);  // let the box finish showing its controls
        FFound = true;
        for (int id : {IDOK, IDCANCEL, IDYES, IDNO}) {
          HWND b = GetDlgItem(box, id);
          if (b && IsWindowVisible(b)) FButtons |= 1u << id;
        }
        EnumChildWindows(box, &TBoxAnswerer::TakeText, reinterpret_cast<LPARAM>(this));
        HWND button = GetDlgItem(box, FPress);
        if (button) {
          SendMessageW(button, BM_CLICK, 0, 0);
        } else {
          PostMessageW(box, WM_COMMAND, FPress, 0);
        }
      }
      Sleep(50);
    }
  }
  static BOOL CALLBACK TakeText(HWND child, LPARAM self) {
    wchar_t cls[32], text[256];
    GetClassNameW(child, cls, 32);
    if (SameText(cls, L"Static") && GetWindowTextW(child, text, 256) > 0)
      reinterpret_cast<TBoxAnswerer*>(self)->FText = text;
    return TRUE;
  }
  std::wstring FCaption;
  int FPress;
  std::thread FThread;
  std::atomic<bool> FFound{false};
  std::wstring FText;
  std::atomic<unsigned> FButtons{0};
};

}  // namespace

TEST(MessageBoxes, ShowInfoHasOneOkButton) {
  int result = 0;
  std::wstring text = L"安装完成 – information";
  {
    TBoxAnswerer answer(L"NvSys info test", IDOK);
    result = TNvWinfn::ShowInfo(nullptr, text, L"NvSys info test");
    answer.Join();
    ASSERT_TRUE(answer.Found());
    EXPECT_TRUE(answer.HasButton(IDOK));
    EXPECT_FALSE(answer.HasButton(IDCANCEL));
    EXPECT_FALSE(answer.HasButton(IDYES));
    EXPECT_FALSE(answer.HasButton(IDNO));
    EXPECT_EQ(answer.Text(), text);
  }
  EXPECT_EQ(result, IDOK);
}

TEST(MessageBoxes, ShowMessageBoxReturnsThePressedButton) {
  int result = 0;
  {
    TBoxAnswerer answer(L"NvSys question", IDNO);
    result = TNvWinfn::ShowMessageBox(nullptr, L"Continue?", MB_YESNO | MB_ICONQUESTION, L"NvSys question");
    answer.Join();
    ASSERT_TRUE(answer.Found());
    EXPECT_TRUE(answer.HasButton(IDYES));
    EXPECT_TRUE(answer.HasButton(IDNO));
  }
  EXPECT_EQ(result, IDNO);
}
