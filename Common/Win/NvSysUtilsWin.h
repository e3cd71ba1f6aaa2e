// Windows system helpers: files, shell folders, processes, the shell, message
// boxes, code pages and date-time conversions. Linking this library also
// initialises COM for the main thread at program start (CoUninitialize at a
// normal end).
#pragma once

#include <windows.h>

#include <string>

// Day count since 30 December 1899; the fraction is the time of day (local).
using TDateTime = double;

// The times of a file in local time; 0 leaves that time unchanged.
struct TFileTimes {
  TDateTime CreationTime = 0;
  TDateTime LastWriteTime = 0;
  TDateTime LastAccessTime = 0;
};

// ---- code pages ------------------------------------------------------------------
// Conversions through the system's ANSI code page.
std::wstring AnsiToWide(const std::string& text);
std::string WideToAnsi(const std::wstring& text);

// ---- date and time ---------------------------------------------------------------
// The current local date and time.
TDateTime Now();
SYSTEMTIME DateTimeToSystemTime(TDateTime value);
TDateTime SystemTimeToDateTime(const SYSTEMTIME& st);
// Local TDateTime to a UTC FILETIME (as the file system stores it); false when
// the value is outside the FILETIME range.
bool DateTimeToFileTime(TDateTime value, FILETIME& utc);
// UTC FILETIME to local TDateTime.
TDateTime FileTimeToDateTime(const FILETIME& utc);

// ---- static helper classes -------------------------------------------------------
class TNvFilefn {
public:
  TNvFilefn() = delete;
  // Creates the folder part of a file path with every missing parent. A
  // folder that cannot be created is not reported; the next file operation fails.
  static void ForceFileDir(const std::wstring& fileName);
  // The long form of an existing path, or empty.
  static std::wstring GetLongPathName(const std::wstring& path);
  // Sets the times of an existing file; zero times stay unchanged. False when
  // the file cannot be opened or the times cannot be set.
  static bool SetFileTimes(const std::wstring& fileName, const TFileTimes& times);
  // The same on a file already open with write access.
  static bool SetFileTimes(HANDLE file, const TFileTimes& times);
  // Whether a and b name the same existing file or folder, by identity
  // (volume and file number), so that two spellings of one folder - a mapped
  // drive, a short name - count as the same. False when either is missing.
  static bool SameFileObject(const std::wstring& a, const std::wstring& b);
};

class TNvRegfn {
public:
  TNvRegfn() = delete;
  // A shell folder (CSIDL number) with a trailing backslash, or empty.
  static std::wstring GetSpecialFolderPath(int csidl);
};

class TNvWinfn {
public:
  TNvWinfn() = delete;
  // Starts a command line in a new console, shown normally, and waits for it.
  // Returns its exit code, or 1 when it could not be started (then *started,
  // when given, is false).
  static DWORD RunAndWait(const std::wstring& commandLine, bool* started = nullptr);
  // Starts a command line hidden with its standard output and error piped,
  // waits for it while passing its output line by line to WriteStdOut.
  // Returns its exit code, or 1 when it could not be started.
  static DWORD RunHidden(const std::wstring& commandLine);
  // The temporary folder (long form) with a trailing backslash; empty when the
  // system reports none.
  static std::wstring GetTempDir();
  // The full path of the running program's file, however long; empty when
  // the system reports none.
  static std::wstring GetModulePath();
  // MessageBoxW; returns the button pressed (0 on failure).
  static int ShowMessageBox(HWND owner, const std::wstring& text, UINT flags, const std::wstring& caption);
  // A message box with the information icon and one OK button.
  static int ShowInfo(HWND owner, const std::wstring& text, const std::wstring& caption);
  // ShellExecuteW (empty verb, parameters or folder are passed as none); with
  // allowForeground, lets the started program take the foreground. Returns
  // the shell's result: greater than 32 is success.
  static INT_PTR ShellExec(HWND owner, const std::wstring& verb, const std::wstring& file,
                           const std::wstring& parameters, const std::wstring& folder, int showCmd,
                           bool allowForeground);
  // Opens a file or address with its default handler, shown normally.
  static INT_PTR ShellOpen(const std::wstring& file);
  // Opens an address in the default browser; falls back to "iexplore.exe".
  static void OpenUrl(const std::wstring& url);
};
