// Support for the user-interface tests: packages made from the real setup
// program, the program started as a user starts it, and its windows found
// and driven through the window system.
#pragma once

#include <windows.h>

#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "SetupProject.h"

namespace uitest {

std::wstring SetupExe();
// A fresh, empty folder C:\nvui-tests\<name>\ (trailing backslash).
std::wstring FreshDir(const std::wstring& name);
// Removes a folder tree (a missing one is fine).
void RemoveTree(const std::wstring& path);
std::string ReadBytes(const std::wstring& path);  // "" when unreadable
bool IsFile(const std::wstring& path);
bool IsDir(const std::wstring& path);
// A 48 x 48 PNG of one colour with a white square inside.
std::string MakePng(COLORREF color);

// A package under construction. Build copies Setup.exe and adds the encoded
// resources with the system's resource writer.
class TPackage {
public:
  // Title, version 2.5.0.1, a fresh GUID, default folder defDir, a picture
  // and an agreement text (UTF-8 with BOM).
  TPackage(const std::wstring& title, const std::wstring& defDir);
  TSetupScript& Script() { return FScript; }
  TSetupBaseInfo& Info() { return *FScript.BaseInfo(); }
  // A file item under "{app}" with content (FileBytes = size).
  void AddFile(const std::wstring& sourceMask, const std::string& content);
  // A plain resource (encoded on Build unless raw).
  void SetResource(const std::wstring& name, const std::string& bytes, bool raw = false);
  void RemoveResource(const std::wstring& name);
  // The project resource: under the online marker instead of the full one;
  // replaced by these plain bytes instead of the project's XML.
  bool OnlineStub = false;
  bool NoMarker = false;
  std::string ProjectOverride;
  bool ProjectOverrideRaw = false;
  void Build(const std::wstring& exePath) const;

private:
  TSetupScript FScript;
  std::vector<std::pair<std::wstring, std::pair<std::string, bool>>> FResources;
};

// A started setup program.
class TSetup {
public:
  // Starts exePath with args; standard output goes to a file read by Output.
  TSetup(const std::wstring& exePath, const std::wstring& args);
  ~TSetup();
  DWORD Pid() const { return FInfo.dwProcessId; }
  bool WaitExit(DWORD ms) const;
  // The exit code, or STILL_ACTIVE.
  DWORD ExitCode() const;
  std::string Output() const;
  void Kill();

private:
  PROCESS_INFORMATION FInfo{};
  std::wstring FOutFile;
};

// Polls pred every 50 ms up to ms; true when it held.
bool WaitUntil(const std::function<bool()>& pred, DWORD ms);
// A visible top-level window of pid with this window class (nullptr: none).
HWND FindTop(DWORD pid, const std::wstring& className);
HWND WaitTop(DWORD pid, const std::wstring& className, DWORD ms);
// The descendant with this control ID.
HWND Control(HWND top, int id);
std::wstring Text(HWND wnd);
// All descendant texts, one per line.
std::wstring AllTexts(HWND top);
bool Visible(HWND wnd);
bool Enabled(HWND wnd);
// Position of a control relative to its parent's client area.
RECT RectInParent(HWND wnd);
// Presses a button or check box (BM_CLICK, posted: the handler may run long).
void Press(HWND wnd);
// A left click in the middle of a picture or label (posted).
void ClickAt(HWND wnd);
// Replaces the text of an edit box by typing it character by character.
void TypeText(HWND edit, const std::wstring& text);
// A posted key press (down and up) to the window.
void PostKey(HWND wnd, WORD key);
// The keyboard focus of the thread that owns wnd.
HWND FocusOf(HWND wnd);
// Waits up to ms for the main window's whole done look: the title "安装完成",
// the run button shown, the progress bar and wait line hidden (the setup
// changes them one by one).
bool WaitDoneLook(HWND main, DWORD ms);
// The information box of pid: waits for it and returns its text.
HWND WaitMessageBox(DWORD pid, DWORD ms);
void AnswerMessageBox(HWND box);
// Saves a screenshot of the whole screen as <shots>/<name>.png.
void Screenshot(const std::wstring& name);

}  // namespace uitest
