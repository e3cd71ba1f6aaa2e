#include "TestWindows.h"

#include "TestProcess.h"

namespace nvtest {

namespace {

struct TSearch {
  DWORD Pid;
  const std::function<bool(HWND)>* Match;
  HWND Found;
};

BOOL CALLBACK TopProc(HWND wnd, LPARAM param) {
  auto* s = reinterpret_cast<TSearch*>(param);
  DWORD pid = 0;
  GetWindowThreadProcessId(wnd, &pid);
  if (pid != s->Pid || !IsWindowVisible(wnd) || !(*s->Match)(wnd)) return TRUE;
  s->Found = wnd;
  return FALSE;
}

BOOL CALLBACK ChildProc(HWND wnd, LPARAM param) {
  auto* s = reinterpret_cast<TSearch*>(param);
  if (!(*s->Match)(wnd)) return TRUE;
  s->Found = wnd;
  return FALSE;
}

std::wstring ClassName(HWND wnd) {
  wchar_t name[128] = {};
  GetClassNameW(wnd, name, 128);
  return name;
}

}  // namespace

HWND FindTopWindow(DWORD pid, const std::function<bool(HWND)>& match) {
  TSearch s{pid, &match, nullptr};
  EnumWindows(TopProc, reinterpret_cast<LPARAM>(&s));
  return s.Found;
}

HWND FindDescendant(HWND parent, const std::function<bool(HWND)>& match) {
  TSearch s{0, &match, nullptr};
  if (parent) EnumChildWindows(parent, ChildProc, reinterpret_cast<LPARAM>(&s));
  return s.Found;
}

HWND FindTop(DWORD pid, const std::wstring& className) {
  return FindTopWindow(pid, [&](HWND wnd) { return ClassName(wnd) == className; });
}

HWND WaitTop(DWORD pid, const std::wstring& className, DWORD ms) {
  HWND found = nullptr;
  WaitUntil([&] { return (found = FindTop(pid, className)) != nullptr; }, ms);
  return found;
}

HWND WaitForWindow(DWORD pid, const std::wstring& caption, DWORD timeoutMs) {
  HWND found = nullptr;
  WaitUntil([&] { return (found = FindTopWindow(pid, [&](HWND wnd) { return Text(wnd) == caption; })) != nullptr; },
            timeoutMs);
  return found;
}

HWND Control(HWND top, int id) {
  return FindDescendant(top, [&](HWND wnd) { return GetDlgCtrlID(wnd) == id; });
}

HWND FindChildByText(HWND parent, const std::wstring& text) {
  return FindDescendant(parent, [&](HWND wnd) { return Text(wnd) == text; });
}

std::wstring Text(HWND wnd) {
  wchar_t buffer[4096] = {};
  DWORD_PTR n = 0;
  if (!SendMessageTimeoutW(wnd, WM_GETTEXT, 4096, reinterpret_cast<LPARAM>(buffer), SMTO_ABORTIFHUNG, 5000, &n))
    return {};
  return std::wstring(buffer, static_cast<size_t>(n));
}

std::wstring AllChildTexts(HWND parent) {
  std::wstring all;
  FindDescendant(parent, [&](HWND wnd) {
    all += Text(wnd) + L"\n";
    return false;
  });
  return all;
}

bool Visible(HWND wnd) { return wnd && IsWindowVisible(wnd); }
bool Enabled(HWND wnd) { return wnd && IsWindowEnabled(wnd); }

RECT RectInParent(HWND wnd) {
  RECT r{};
  GetWindowRect(wnd, &r);
  MapWindowPoints(nullptr, GetParent(wnd), reinterpret_cast<POINT*>(&r), 2);
  return r;
}

HWND FocusOf(HWND wnd) {
  GUITHREADINFO info{};
  info.cbSize = sizeof(info);
  if (!GetGUIThreadInfo(GetWindowThreadProcessId(wnd, nullptr), &info)) return nullptr;
  return info.hwndFocus;
}

HWND WaitFocusIn(HWND dialog, DWORD ms) {
  HWND focus = nullptr;
  WaitUntil(
      [&] {
        focus = FocusOf(dialog);
        return focus && GetAncestor(focus, GA_ROOT) == dialog;
      },
      ms);
  return focus && GetAncestor(focus, GA_ROOT) == dialog ? focus : nullptr;
}

void Press(HWND wnd) { PostMessageW(wnd, BM_CLICK, 0, 0); }

void ClickAt(HWND wnd) {
  RECT r{};
  GetClientRect(wnd, &r);
  const LPARAM pos = MAKELPARAM(r.right / 2, r.bottom / 2);
  PostMessageW(wnd, WM_MOUSEMOVE, 0, pos);
  PostMessageW(wnd, WM_LBUTTONDOWN, MK_LBUTTON, pos);
  PostMessageW(wnd, WM_LBUTTONUP, 0, pos);
}

void TypeText(HWND edit, const std::wstring& text) {
  SendMessageW(edit, EM_SETSEL, 0, -1);
  SendMessageW(edit, WM_CLEAR, 0, 0);
  for (wchar_t c : text) SendMessageW(edit, WM_CHAR, c, 1);
}

void PostKey(HWND wnd, WORD key) {
  PostMessageW(wnd, WM_KEYDOWN, key, 1);
  PostMessageW(wnd, WM_KEYUP, key, 0xC0000001);
}

void SendKey(WORD key) {
  INPUT keys[2] = {};
  keys[0].type = keys[1].type = INPUT_KEYBOARD;
  keys[0].ki.wVk = keys[1].ki.wVk = key;
  keys[1].ki.dwFlags = KEYEVENTF_KEYUP;
  SendInput(2, keys, sizeof(INPUT));
}

HWND WaitMessageBox(DWORD pid, DWORD ms) { return WaitTop(pid, L"#32770", ms); }

void AnswerMessageBox(HWND box) {
  if (HWND ok = GetDlgItem(box, IDOK))
    PostMessageW(ok, BM_CLICK, 0, 0);
  else
    PostMessageW(box, WM_COMMAND, IDOK, 0);
}

std::wstring AnswerNextMessage(DWORD pid, DWORD ms) {
  HWND box = WaitMessageBox(pid, ms);
  if (!box) return L"<no message>";
  const std::wstring text = AllChildTexts(box);
  AnswerMessageBox(box);
  WaitUntil([&] { return !IsWindow(box) || !IsWindowVisible(box); }, ms);
  return text;
}

}  // namespace nvtest
