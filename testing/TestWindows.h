// Windows of the programs under test, found through the window system and
// driven as a user drives them: buttons pressed, text typed, keys and clicks.
#pragma once

#include <windows.h>

#include <functional>
#include <string>

namespace nvtest {

// The first visible top-level window of process pid that matches; nullptr
// when none.
HWND FindTopWindow(DWORD pid, const std::function<bool(HWND)>& match);
// The first descendant of parent that matches (depth first); nullptr when none.
HWND FindDescendant(HWND parent, const std::function<bool(HWND)>& match);

// A visible top-level window of pid with this window class; WaitTop waits
// up to ms for it.
HWND FindTop(DWORD pid, const std::wstring& className);
HWND WaitTop(DWORD pid, const std::wstring& className, DWORD ms);
// A visible top-level window of pid with this caption, waited for up to
// timeoutMs; nullptr when none appears.
HWND WaitForWindow(DWORD pid, const std::wstring& caption, DWORD timeoutMs);
// The descendant with this control ID (controls may sit inside panels).
HWND Control(HWND top, int id);
// A descendant whose text is text.
HWND FindChildByText(HWND parent, const std::wstring& text);

// The window's text, asked of its own thread (empty when it does not answer
// within 5 s).
std::wstring Text(HWND wnd);
// The texts of all descendants, one per line.
std::wstring AllChildTexts(HWND parent);
bool Visible(HWND wnd);
bool Enabled(HWND wnd);
// Position of a control relative to its parent's client area.
RECT RectInParent(HWND wnd);
// The keyboard focus of the thread that owns wnd.
HWND FocusOf(HWND wnd);
// Waits up to ms for the keyboard focus to be on a control inside dialog
// (its thread keeps the focus elsewhere until the dialog is activated);
// returns that control, or nullptr.
HWND WaitFocusIn(HWND dialog, DWORD ms = 5000);

// Presses a button or check box (BM_CLICK, posted: the handler may run long).
void Press(HWND wnd);
// A left click in the middle of a control (posted).
void ClickAt(HWND wnd);
// Replaces the text of an edit box by typing it character by character.
void TypeText(HWND edit, const std::wstring& text);
// A posted key press (down and up) to the window.
void PostKey(HWND wnd, WORD key);
// A key pressed on the keyboard: goes to the foreground window's focus.
void SendKey(WORD key);

// The message box of pid, waited for up to ms; nullptr when none appears.
HWND WaitMessageBox(DWORD pid, DWORD ms);
// Presses the box's OK button.
void AnswerMessageBox(HWND box);
// The text of the next message box of pid, answered with OK and waited
// until gone; "<no message>" when none appears within ms.
std::wstring AnswerNextMessage(DWORD pid, DWORD ms);

}  // namespace nvtest
