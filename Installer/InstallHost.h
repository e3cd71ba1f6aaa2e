// What the install engine asks of the program around it: progress, messages
// and the user's answers. Setup's main window is one such host; a test or
// another program can be another. The engine never ends the process: it
// returns how a run ended (TInstallOutcome), and the program decides.
#pragma once

#include <string>

// The user's answer when a file cannot be written.
enum class TCopyFailureAnswer { cfRetry, cfSkip, cfAbort };

class TInstallHost {
public:
  virtual ~TInstallHost() = default;

  // "/Silent": no window may block, messages go to standard output.
  virtual bool SilentInstall() const = 0;
  // "/Auto": the install runs unattended with the window shown.
  virtual bool AutoInstall() const = 0;

  // Lets pending window messages through (the engine runs on the one
  // user-interface thread).
  virtual void ProcessMessages() = 0;
  // The progress bar: a new maximum (position 0), a position, and one step
  // on (which lets pending messages through).
  virtual void SetProgressMax(int max) = 0;
  virtual void SetProgressPosition(int position) = 0;
  virtual void StepProgress() = 0;
  // The progress at its maximum.
  virtual void CompleteProgress() = 0;
  // The stage line ("正在检查旧版本", "正在安装").
  virtual void SetStage(const std::wstring& text) = 0;
  // The detail line under the progress: its text, shown at once, and whether
  // it is shown at all.
  virtual void SetDetail(const std::wstring& text) = 0;
  virtual void ShowDetail(bool visible) = 0;
  // The hourglass while a program of the engine's runs.
  virtual void SetBusy(bool busy) = 0;

  // A message for the user (under "/Silent" a line on standard output).
  virtual void ReportMessage(const std::wstring& text) = 0;
  // A file could not be written: try again, skip it, or leave the setup.
  virtual TCopyFailureAnswer AskCopyFailure(const std::wstring& fileName, const std::wstring& reason) = 0;
  // The full package could not be fetched from url: true when the user
  // chooses to leave the setup, false to go back and try again.
  virtual bool AskDownloadFailure(const std::wstring& url) = 0;
};
