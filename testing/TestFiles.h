// Files and folders of the Wine tests: the programs under test, fresh test
// folders below C:\nvtests\, whole-file reads and writes, text lines and the
// times the file system keeps.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

namespace nvtest {

// A path of the build machine as the Wine process sees it: "/x/y" is "Z:\x\y".
std::wstring WinePath(const std::string& hostPath);
// The setup program and the probe program (testing/probe.cpp) of this build.
std::wstring SetupExe();
std::wstring ProbeExe();

// C:\nvtests\ (trailing backslash): the root of every test folder.
std::wstring TestRoot();
// A fresh, empty folder TestRoot()\<name>\ (trailing backslash); what an
// earlier run left there is removed first.
std::wstring FreshDir(const std::wstring& name);
// Removes a folder tree; a missing one is fine.
void RemoveTree(const std::wstring& path);

// The whole content, read while others may write it; false when the file
// cannot be opened.
bool TryReadBytes(const std::wstring& path, std::string& bytes);
// The whole content; "<unreadable>" (which no test writes) when the file
// cannot be opened.
std::string ReadBytes(const std::wstring& path);
// Writes the file, creating its folders; throws when it cannot.
void WriteBytes(const std::wstring& path, const std::string& bytes);
bool PathIsFile(const std::wstring& path);
bool PathIsDir(const std::wstring& path);

// Deterministic pseudo-random content.
std::string RandomBytes(std::size_t size, uint32_t seed);

bool Contains(const std::string& text, const std::string& part);
bool Contains(const std::wstring& text, const std::wstring& part);

// Lines of a UTF-8 text file (CR LF or LF); none when unreadable.
std::vector<std::wstring> ReadLines(const std::wstring& path);
// Waits up to timeoutMs for the file to hold a line starting with prefix.
bool WaitForLine(const std::wstring& path, const std::wstring& prefix, DWORD timeoutMs);

// ---- times ----
constexpr int64_t TicksPerSecond = 10000000;
// Local TDateTime of a calendar time.
double EncodeDateTime(int year, int month, int day, int hour, int minute, int second);
// The local TDateTime as the UTC FILETIME ticks the file system stores.
int64_t DateTimeToUtcTicks(double dateTime);
int64_t NowUtcTicks();
struct TFileTimesRead {
  int64_t Creation = 0, LastAccess = 0, LastWrite = 0;
};
// All zero when the file cannot be opened.
TFileTimesRead ReadFileTimes(const std::wstring& path);
// Sets the file's last-write time; throws when it cannot.
void SetLastWriteTicks(const std::wstring& path, int64_t utcTicks);

}  // namespace nvtest
