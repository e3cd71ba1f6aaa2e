// Support for the end-to-end install tests: packages made from the real setup
// program, the program run as a user would run it, and the results read back
// from the disk, the registry and the window system.
#pragma once

#include <windows.h>

#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "SetupProject.h"

namespace nvtest {

// The setup program and the probe program built with these tests.
std::wstring SetupExe();
std::wstring ProbeExe();

// A fresh, empty folder C:\nvops-tests\<name>\ (trailing backslash); what
// an earlier run left there is removed first.
std::wstring FreshDir(const std::wstring& name);
// Removes a folder tree; a missing one is fine.
void RemoveTree(const std::wstring& path);

std::string ReadBytes(const std::wstring& path);
void WriteBytes(const std::wstring& path, const std::string& bytes);
bool PathIsFile(const std::wstring& path);
bool PathIsDir(const std::wstring& path);

// Deterministic pseudo-random content.
std::string RandomBytes(std::size_t size, uint32_t seed);

// The container form: zlib (level 9), then byte i XORed with i mod 255.
std::string EncodePayload(const std::string& plain);
std::string DecodePayload(const std::string& payload);

// A w x h truecolour PNG of one colour.
std::string MakePng(int width, int height, uint32_t rgb);

// A new GUID in registry form.
std::wstring NewGuid();

// How a test package is made.
enum class TPackMode {
  // By the package builder from an authoring project and source files on
  // disk: file sizes and times come from the sources.
  Builder,
  // Directly with the system's resource writer (UpdateResourceW): for
  // packages the builder would refuse (a missing payload, sizes that lie).
  ResourceWriter,
};

// A setup package under construction. Build makes the setup program with
// the project and the encoded resources.
class TTestPackage {
public:
  // A project titled title with a fresh GUID, version 1.0.0.0, the given
  // default installation folder and a product picture; sources are kept in
  // workDir\src.
  TTestPackage(const std::wstring& workDir, const std::wstring& title, const std::wstring& installDir,
               TPackMode mode = TPackMode::Builder);

  TSetupScript& Script() { return FScript; }
  TSetupBaseInfo& Info() { return *FScript.BaseInfo(); }
  const std::string& IconPng() const { return FIconPng; }
  // The project text the built package carries.
  const std::string& BuiltProjectXml() const { return FBuiltXml; }

  // A file item DestDir\SourceMask with this content. Builder: the source
  // file, its last-write time set to lastWriteDate unless 0. ResourceWriter:
  // FileBytes = size, LastWriteDate as given, the content under a new
  // resource (none for an empty content).
  TSetupFile* AddFile(const std::wstring& destDir, const std::wstring& sourceMask, const std::string& content,
                      double lastWriteDate = 0);
  TSetupReg* AddReg(TRegRootKey root, const std::wstring& subKey, const std::wstring& name, const std::wstring& data,
                    TRegValueType type = rvtString);
  TSetupShortCut* AddShortCut(const std::wstring& saveDir, const std::wstring& name, const std::wstring& dstFile,
                              const std::wstring& workDir);
  TSetupRun* AddRun(const std::wstring& fileName, const std::wstring& params, const std::wstring& workDir, bool wait);

  // Writes the package as exePath.
  void Build(const std::wstring& exePath);

private:
  void BuildWithBuilder(const std::wstring& exePath);
  void BuildWithResourceWriter(const std::wstring& exePath);

  TPackMode FMode;
  std::wstring FSourceDir;
  TSetupScript FScript;
  std::string FIconPng;
  std::string FBuiltXml;
  std::vector<std::pair<std::wstring, std::string>> FResources;
};

// A started process.
class TProcess {
public:
  // Starts the command line (no window of its own is asked for).
  explicit TProcess(const std::wstring& commandLine, const std::wstring& currentDir = L"");
  ~TProcess();
  TProcess(const TProcess&) = delete;
  TProcess& operator=(const TProcess&) = delete;

  bool Started() const { return FInfo.hProcess != nullptr; }
  DWORD Id() const { return FInfo.dwProcessId; }
  // Waits up to ms; true when the process has ended.
  bool WaitFor(DWORD ms) const;
  DWORD ExitCode() const;
  // Ends the process if it still runs.
  void Kill();

private:
  PROCESS_INFORMATION FInfo{};
};

// The setup program's exit code after a run with args; fails the test (and
// ends the program) when it does not end within timeoutMs.
DWORD RunSetup(const std::wstring& exePath, const std::wstring& args, DWORD timeoutMs = 90000);

// ---- registry (view: KEY_WOW64_32KEY or KEY_WOW64_64KEY) ----
bool KeyExists(HKEY root, const std::wstring& path, REGSAM view);
// Type and raw data of a value; false when the key or value is missing.
bool ReadValue(HKEY root, const std::wstring& path, const std::wstring& name, REGSAM view, DWORD& type,
               std::string& data);
// The REG_SZ text (without its NUL); "<missing>" or "<type N>" otherwise.
std::wstring RegString(HKEY root, const std::wstring& path, const std::wstring& name,
                       REGSAM view = KEY_WOW64_32KEY);
// The REG_DWORD number; -1 when missing or of another type.
int64_t RegDword(HKEY root, const std::wstring& path, const std::wstring& name, REGSAM view = KEY_WOW64_32KEY);
void DeleteKeyTree(HKEY root, const std::wstring& path, REGSAM view = KEY_WOW64_32KEY);
void SetRegString(HKEY root, const std::wstring& path, const std::wstring& name, const std::wstring& value,
                  REGSAM view = KEY_WOW64_32KEY);
void SetRegDword(HKEY root, const std::wstring& path, const std::wstring& name, DWORD value,
                 REGSAM view = KEY_WOW64_32KEY);

// "Software\Microsoft\Windows\CurrentVersion\Uninstall\<guid>_lm".
std::wstring UninstallKey(const std::wstring& guid, const wchar_t* suffix = L"_lm");

// ---- times ----
// Local TDateTime of a calendar time.
double EncodeDateTime(int year, int month, int day, int hour, int minute, int second);
// The local TDateTime as the UTC FILETIME ticks the file system stores.
int64_t DateTimeToUtcTicks(double dateTime);
int64_t NowUtcTicks();
struct TFileTimesRead {
  int64_t Creation = 0, LastAccess = 0, LastWrite = 0;
};
TFileTimesRead ReadFileTimes(const std::wstring& path);
constexpr int64_t TicksPerSecond = 10000000;

// ---- windows ----
// The first visible top-level window of process pid with this caption,
// waited for up to timeoutMs; nullptr when none appears.
HWND WaitForWindow(DWORD pid, const std::wstring& caption, DWORD timeoutMs);
// A descendant window whose text is text; nullptr when none.
HWND FindChildByText(HWND parent, const std::wstring& text);
// The concatenated texts of all descendant windows, one per line.
std::wstring AllChildTexts(HWND parent);

// Lines of a UTF-8 text file (CR LF or LF).
std::vector<std::wstring> ReadLines(const std::wstring& path);
// Waits up to timeoutMs for the file to hold a line starting with prefix.
bool WaitForLine(const std::wstring& path, const std::wstring& prefix, DWORD timeoutMs);

}  // namespace nvtest
