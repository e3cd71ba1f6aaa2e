#include "TestProcess.h"

#include <gtest/gtest.h>

#include "NvSysUtils.h"
#include "TestFiles.h"

namespace nvtest {

TProcess::TProcess(const std::wstring& commandLine, const std::wstring& currentDir, const std::wstring& outputFile)
    : FOutputFile(outputFile) {
  STARTUPINFOW si{};
  si.cb = sizeof(si);
  HANDLE out = INVALID_HANDLE_VALUE;
  if (!outputFile.empty()) {
    SECURITY_ATTRIBUTES sa{sizeof(sa), nullptr, TRUE};
    out = CreateFileW(outputFile.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &sa, CREATE_ALWAYS, 0,
                      nullptr);
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdOutput = out;
    si.hStdError = out;
    si.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
  }
  std::wstring cmd = commandLine;
  if (!CreateProcessW(nullptr, cmd.data(), nullptr, nullptr, out != INVALID_HANDLE_VALUE, 0, nullptr,
                      currentDir.empty() ? nullptr : currentDir.c_str(), &si, &FInfo))
    FInfo = {};
  if (out != INVALID_HANDLE_VALUE) CloseHandle(out);
}

TProcess::~TProcess() {
  Kill();
  if (FInfo.hProcess) CloseHandle(FInfo.hProcess);
  if (FInfo.hThread) CloseHandle(FInfo.hThread);
}

bool TProcess::WaitFor(DWORD ms) const {
  return FInfo.hProcess && WaitForSingleObject(FInfo.hProcess, ms) == WAIT_OBJECT_0;
}

DWORD TProcess::ExitCode() const {
  DWORD code = 0xFFFFFFFF;
  if (FInfo.hProcess) GetExitCodeProcess(FInfo.hProcess, &code);
  return code;
}

std::string TProcess::Output() const {
  std::string bytes;
  if (!FOutputFile.empty()) TryReadBytes(FOutputFile, bytes);
  return bytes;
}

void TProcess::Kill() {
  if (FInfo.hProcess && !WaitFor(0)) {
    TerminateProcess(FInfo.hProcess, 99);
    WaitFor(5000);
  }
}

TSetup::TSetup(const std::wstring& exePath, const std::wstring& args)
    : TProcess(L"\"" + exePath + L"\"" + (args.empty() ? L"" : L" " + args), L"", exePath + L".out.txt") {
  if (Started()) WaitForInputIdle(Handle(), 10000);
}

DWORD RunSetup(const std::wstring& exePath, const std::wstring& args, DWORD timeoutMs) {
  TProcess p(L"\"" + exePath + L"\" " + args);
  if (!p.Started()) {
    ADD_FAILURE() << "the program did not start: " << Utf8Encode(exePath);
    return 0xFFFFFFFF;
  }
  if (!p.WaitFor(timeoutMs)) {
    p.Kill();
    ADD_FAILURE() << "the program did not end in time: " << Utf8Encode(exePath);
    return 0xFFFFFFFF;
  }
  return p.ExitCode();
}

std::vector<std::string> TRunOutput::Lines() const {
  std::vector<std::string> lines;
  std::size_t start = 0;
  while (start < Output.size()) {
    std::size_t end = Output.find('\n', start);
    if (end == std::string::npos) end = Output.size();
    std::string line = Output.substr(start, end - start);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(line);
    start = end + 1;
  }
  return lines;
}

TRunOutput RunWithOutput(const std::wstring& exePath, const std::wstring& args, DWORD timeoutMs,
                         const std::wstring& outFile) {
  const std::wstring out = outFile.empty() ? exePath + L".out.txt" : outFile;
  TProcess p(L"\"" + exePath + L"\" " + args, L"", out);
  TRunOutput run;
  if (!p.Started()) {
    ADD_FAILURE() << "the program did not start: " << Utf8Encode(exePath);
    return run;
  }
  if (!p.WaitFor(timeoutMs)) {
    p.Kill();
    ADD_FAILURE() << "the program did not end in time: " << Utf8Encode(exePath);
  }
  run.Code = p.ExitCode();
  run.Output = p.Output();
  return run;
}

bool WaitUntil(const std::function<bool()>& pred, DWORD ms) {
  const DWORD start = GetTickCount();
  for (;;) {
    if (pred()) return true;
    if (GetTickCount() - start > ms) return false;
    Sleep(50);
  }
}

}  // namespace nvtest
