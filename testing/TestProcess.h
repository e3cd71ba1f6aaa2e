// Programs started by the Wine tests: the setup program (or any other) run as
// a user or a script runs it, waited for, its standard output read back.
#pragma once

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

namespace nvtest {

// A started process; ended on destruction if it still runs.
class TProcess {
public:
  // Starts the command line in currentDir (the test's own when empty). With
  // an outputFile, standard output and standard error go to that file.
  explicit TProcess(const std::wstring& commandLine, const std::wstring& currentDir = L"",
                    const std::wstring& outputFile = L"");
  ~TProcess();
  TProcess(const TProcess&) = delete;
  TProcess& operator=(const TProcess&) = delete;

  bool Started() const { return FInfo.hProcess != nullptr; }
  DWORD Id() const { return FInfo.dwProcessId; }
  HANDLE Handle() const { return FInfo.hProcess; }
  // Waits up to ms; true when the process has ended.
  bool WaitFor(DWORD ms) const;
  // The exit code; STILL_ACTIVE while it runs, 0xFFFFFFFF when not started.
  DWORD ExitCode() const;
  // What the process wrote to its output file so far ("" without one).
  std::string Output() const;
  // Ends the process if it still runs.
  void Kill();

private:
  PROCESS_INFORMATION FInfo{};
  std::wstring FOutputFile;
};

// The setup program (or another program under test) started as a user starts
// it: "exePath" args, standard output in exePath + ".out.txt", returned once
// it waits for input (at most 10 s).
class TSetup : public TProcess {
public:
  TSetup(const std::wstring& exePath, const std::wstring& args);
};

// The program's exit code after a run with args; fails the test (and ends
// the program) when it does not start or does not end within timeoutMs.
DWORD RunSetup(const std::wstring& exePath, const std::wstring& args, DWORD timeoutMs = 90000);

// A finished run: the exit code and what the program wrote to standard
// output and standard error.
struct TRunOutput {
  DWORD Code = 0xFFFFFFFF;
  std::string Output;
  // The output's lines without their line ends.
  std::vector<std::string> Lines() const;
};

// Runs exePath with args, its output in outFile (by default exePath +
// ".out.txt"), and waits for it; fails the test (and ends the program) when
// it does not start or does not end within timeoutMs.
TRunOutput RunWithOutput(const std::wstring& exePath, const std::wstring& args, DWORD timeoutMs = 90000,
                         const std::wstring& outFile = L"");

// Polls pred every 50 ms up to ms; true when it held.
bool WaitUntil(const std::function<bool()>& pred, DWORD ms);

}  // namespace nvtest
