// The application object: its message loop, cursors and fonts.
#include <map>
#include <tuple>

#include "BaseFrm.h"
#include "NvCallbackBarrier.h"
#include "NvVclUtils.h"

TApplication* Application = nullptr;

HCURSOR NvCursorHandle(TCursor cursor) {
  switch (cursor) {
    case TCursor::crHourGlass: return LoadCursorW(nullptr, IDC_WAIT);
    case TCursor::crHandPoint: return LoadCursorW(nullptr, IDC_HAND);
    default: return LoadCursorW(nullptr, IDC_ARROW);
  }
}

HFONT NvFontHandle(const TFont& font) {
  static std::map<std::tuple<std::wstring, int, bool, bool>, HFONT> cache;
  auto key = std::make_tuple(font.Name, font.Height, font.Bold, font.Underline);
  auto it = cache.find(key);
  if (it != cache.end()) return it->second;
  HFONT handle = CreateFontW(-font.Height, 0, 0, 0, font.Bold ? FW_BOLD : FW_NORMAL, FALSE, font.Underline, FALSE,
                             DEFAULT_CHARSET, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, CLEARTYPE_QUALITY,
                             DEFAULT_PITCH | FF_DONTCARE, font.Name.c_str());
  cache[key] = handle;
  return handle;
}

bool TApplication::DispatchOne(MSG& msg) {
  if (msg.message == WM_QUIT) {
    FTerminated = true;
    return false;
  }
  if (msg.message >= WM_KEYFIRST && msg.message <= WM_KEYLAST) {
    if (TBaseForm* form = TBaseForm::FromWindow(msg.hwnd)) {
      if (form->PreviewKey(msg)) return true;
    }
  }
  TranslateMessage(&msg);
  DispatchMessageW(&msg);
  // What a window procedure raised goes on from here (NvCallbackBarrier.h).
  NvRethrowKept();
  return true;
}

void TApplication::Run() {
  MSG msg;
  while (!FTerminated) {
    BOOL r = GetMessageW(&msg, nullptr, 0, 0);
    if (r == 0 || r == -1) {
      FTerminated = true;
      break;
    }
    DispatchOne(msg);
  }
}

void TApplication::ProcessMessages() {
  MSG msg;
  while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
    if (!DispatchOne(msg)) {
      PostQuitMessage(static_cast<int>(msg.wParam));  // leave it for the outer loop
      break;
    }
  }
}

void TApplication::HandleMessage() {
  MSG msg;
  if (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
    if (!DispatchOne(msg)) PostQuitMessage(static_cast<int>(msg.wParam));
    return;
  }
  WaitMessage();
}

void TApplication::Terminate() {
  FTerminated = true;
  PostQuitMessage(0);
}

void TApplication::Minimize() {
  if (FMainForm && FMainForm->Handle()) ShowWindow(FMainForm->Handle(), SW_MINIMIZE);
}

void TApplication::SetCursor(TCursor cursor) {
  FCursor = cursor;
  POINT pt;
  GetCursorPos(&pt);
  ::SetCursor(cursor == TCursor::crDefault ? LoadCursorW(nullptr, IDC_ARROW) : NvCursorHandle(cursor));
  SetCursorPos(pt.x, pt.y);  // lets the window under the mouse choose again
}

HCURSOR TApplication::ForcedCursor() const {
  return FCursor == TCursor::crDefault ? nullptr : NvCursorHandle(FCursor);
}
