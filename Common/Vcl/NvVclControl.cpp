// The control base: every control's window, the registry of live controls
// by window, and the message handling common to all controls.
#include "NvVclUtils.h"

#include <commctrl.h>

#include <unordered_map>

#include "NvCallbackBarrier.h"
#include "NvExceptions.h"
#include "NvVclPaint.h"

namespace {

// Every live control by its window, so that messages naming a window (colour
// requests, key preview) reach only objects of this layer.
std::unordered_map<HWND, TControl*>& ControlMap() {
  static std::unordered_map<HWND, TControl*> map;
  return map;
}

// The object under construction: WM_NCCREATE and the first messages of a
// window arrive before CreateWindowExW returns.
TControl* GCreating = nullptr;

HINSTANCE Instance() { return GetModuleHandleW(nullptr); }

void RegisterControlClass(const wchar_t* name, HCURSOR cursor) {
  WNDCLASSEXW wc{};
  if (GetClassInfoExW(Instance(), name, &wc)) return;
  wc.cbSize = sizeof(wc);
  wc.lpfnWndProc = NvControlWndProc;
  wc.hInstance = Instance();
  wc.hCursor = cursor ? cursor : LoadCursorW(nullptr, IDC_ARROW);
  wc.lpszClassName = name;
  RegisterClassExW(&wc);
}

}  // namespace

// Sets the object whose window is being created; returns the previous one.
TControl* NvCreatingControl(TControl* control) {
  TControl* previous = GCreating;
  GCreating = control;
  return previous;
}

TControl* TControl::FromHandle(HWND wnd) {
  auto it = ControlMap().find(wnd);
  return it == ControlMap().end() ? nullptr : it->second;
}

LRESULT CALLBACK NvControlWndProc(HWND wnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  return NvCallbackBarrier<LRESULT>(0, [&]() -> LRESULT {
    TControl* control = nullptr;
    auto& map = ControlMap();
    auto it = map.find(wnd);
    if (it != map.end()) {
      control = it->second;
    } else if (GCreating) {
      control = GCreating;
      control->FHandle = wnd;
      map[wnd] = control;
    }
    if (!control) return DefWindowProcW(wnd, msg, wParam, lParam);
    if (msg == WM_NCDESTROY) {
      map.erase(wnd);
      LRESULT r = DefWindowProcW(wnd, msg, wParam, lParam);
      control->FHandle = nullptr;
      return r;
    }
    return control->WndProc(msg, wParam, lParam);
  });
}

LRESULT CALLBACK NvSubclassProc(HWND wnd, UINT msg, WPARAM wParam, LPARAM lParam, UINT_PTR, DWORD_PTR ref) {
  return NvCallbackBarrier<LRESULT>(0, [&]() -> LRESULT {
    auto* control = reinterpret_cast<TControl*>(ref);
    if (msg == WM_NCDESTROY) {
      RemoveWindowSubclass(wnd, NvSubclassProc, 1);
      ControlMap().erase(wnd);
      control->FHandle = nullptr;
      return DefSubclassProc(wnd, msg, wParam, lParam);
    }
    return control->WndProc(msg, wParam, lParam);
  });
}

TControl::TControl(TWinControl* parent, int id, const wchar_t* className, DWORD style, DWORD exStyle, int left,
                   int top, int width, int height, bool subclassSystem)
    : FId(id), FParent(parent), FLeft(left), FTop(top), FWidth(width), FHeight(height), FSystemClass(subclassSystem) {
  if (parent) FFont = parent->Font();
  if (!subclassSystem) RegisterControlClass(className, nullptr);
  TControl* previous = GCreating;
  GCreating = subclassSystem ? nullptr : this;
  HWND wnd = CreateWindowExW(exStyle, className, L"", style | WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS | WS_CLIPCHILDREN,
                             left, top, width, height, parent ? parent->Handle() : nullptr,
                             reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), Instance(), nullptr);
  GCreating = previous;
  NvRethrowKept();  // a handler of the first messages raised
  if (!wnd) throw Exception(L"Cannot create a window of class " + std::wstring(className));
  AttachWindow(wnd);
  if (subclassSystem) SetWindowSubclass(wnd, NvSubclassProc, 1, reinterpret_cast<DWORD_PTR>(this));
  SendMessageW(wnd, WM_SETFONT, reinterpret_cast<WPARAM>(NvFontHandle(FFont)), FALSE);
  if (parent) parent->FControls.push_back(this);
}

void TControl::AttachWindow(HWND handle) {
  FHandle = handle;
  ControlMap()[handle] = this;
}

TControl::~TControl() {
  if (FHandle) {
    HWND wnd = FHandle;
    ControlMap().erase(wnd);
    if (FSystemClass) RemoveWindowSubclass(wnd, NvSubclassProc, 1);
    FHandle = nullptr;
    DestroyWindow(wnd);
  }
}

void TControl::SetBounds(int left, int top, int width, int height) {
  FLeft = left;
  FTop = top;
  FWidth = width;
  FHeight = height;
  if (FHandle) MoveWindow(FHandle, left, top, width, height, TRUE);
}

void TControl::SetVisible(bool visible) {
  FVisible = visible;
  if (FHandle) ShowWindow(FHandle, visible ? SW_SHOWNA : SW_HIDE);
}

void TControl::SetEnabled(bool enabled) {
  FEnabled = enabled;
  if (FHandle) {
    EnableWindow(FHandle, enabled);
    Invalidate();
  }
}

std::wstring TControl::Caption() const {
  if (!FHandle) return L"";
  int n = GetWindowTextLengthW(FHandle);
  std::wstring text(static_cast<size_t>(n) + 1, L'\0');
  n = GetWindowTextW(FHandle, text.data(), n + 1);
  text.resize(static_cast<size_t>(n > 0 ? n : 0));
  return text;
}

void TControl::SetCaption(const std::wstring& caption) {
  if (FHandle) SetWindowTextW(FHandle, caption.c_str());
  Invalidate();
}

void TControl::SetFont(const TFont& font) {
  FFont = font;
  if (FHandle) SendMessageW(FHandle, WM_SETFONT, reinterpret_cast<WPARAM>(NvFontHandle(FFont)), TRUE);
  Invalidate();
}

COLORREF TControl::Color() const {
  if (FColor != CLR_INVALID) return FColor;
  if (FParent) return FParent->Color();
  return clFace;
}

void TControl::SetColor(COLORREF color) {
  FColor = color;
  Invalidate();
}

void TControl::Invalidate() {
  if (FHandle) InvalidateRect(FHandle, nullptr, TRUE);
}

void TControl::Repaint() {
  if (FHandle) {
    InvalidateRect(FHandle, nullptr, TRUE);
    UpdateWindow(FHandle);
  }
}

void TControl::SetFocus() {
  if (FHandle) ::SetFocus(FHandle);
}

bool TControl::Focused() const { return FHandle && GetFocus() == FHandle; }

void TControl::FillBackground(HDC dc, const RECT& rect) { FillSolid(dc, rect, Color()); }

void TControl::Paint(HDC dc, const RECT& client) { FillBackground(dc, client); }

LRESULT TControl::DefaultProc(UINT msg, WPARAM wParam, LPARAM lParam) {
  return FSystemClass ? DefSubclassProc(FHandle, msg, wParam, lParam) : DefWindowProcW(FHandle, msg, wParam, lParam);
}

void TControl::TrackMouse() {
  if (FMouseInside) return;
  FMouseInside = true;
  TRACKMOUSEEVENT tme{sizeof(tme), TME_LEAVE, FHandle, 0};
  TrackMouseEvent(&tme);
  Invalidate();
}

LRESULT TControl::WndProc(UINT msg, WPARAM wParam, LPARAM lParam) {
  switch (msg) {
    case WM_ERASEBKGND:
      if (!FSystemClass) return 1;
      break;
    case WM_PAINT:
      if (!FSystemClass) {
        TBufferedPaint paint(FHandle);
        Paint(paint.DC(), paint.Rect());
        return 0;
      }
      break;
    case WM_PRINTCLIENT:
      if (!FSystemClass) {
        RECT r;
        GetClientRect(FHandle, &r);
        Paint(reinterpret_cast<HDC>(wParam), r);
        return 0;
      }
      break;
    case WM_SETTEXT: {
      LRESULT r = DefaultProc(msg, wParam, lParam);
      Invalidate();
      return r;
    }
    case WM_SETCURSOR:
      if (HCURSOR forced = Application ? Application->ForcedCursor() : nullptr) {
        ::SetCursor(forced);
        return TRUE;
      }
      if (FCursor != TCursor::crDefault && LOWORD(lParam) == HTCLIENT) {
        ::SetCursor(NvCursorHandle(FCursor));
        return TRUE;
      }
      break;
    case WM_MOUSEMOVE:
      TrackMouse();
      break;
    case WM_MOUSELEAVE:
      FMouseInside = false;
      Invalidate();
      break;
    case WM_LBUTTONDOWN:
    case WM_RBUTTONDOWN:
    case WM_MBUTTONDOWN:
      if (!FSystemClass) {
        if (msg == WM_LBUTTONDOWN && OnClick) {
          FPressed = true;
          SetCapture(FHandle);
        }
        if (OnMouseDown) {
          int button = msg == WM_LBUTTONDOWN ? MK_LBUTTON : msg == WM_RBUTTONDOWN ? MK_RBUTTON : MK_MBUTTON;
          FPressed = false;
          OnMouseDown(button);
        }
        return 0;
      }
      break;
    case WM_LBUTTONUP:
      if (!FSystemClass && FPressed) {
        FPressed = false;
        if (GetCapture() == FHandle) ReleaseCapture();
        POINT pt{static_cast<short>(LOWORD(lParam)), static_cast<short>(HIWORD(lParam))};
        RECT r;
        GetClientRect(FHandle, &r);
        if (PtInRect(&r, pt) && OnClick && IsWindowEnabled(FHandle)) OnClick();
        return 0;
      }
      break;
    case WM_CTLCOLOREDIT:
    case WM_CTLCOLORSTATIC: {
      auto it = ControlMap().find(reinterpret_cast<HWND>(lParam));
      if (it != ControlMap().end()) return it->second->WndProc(msg, wParam, lParam);
      break;
    }
    case WM_COMMAND:
    case WM_NOTIFY:
      if (FParent) return NvSendMessage(FParent->Handle(), msg, wParam, lParam);
      break;
    default:
      break;
  }
  return DefaultProc(msg, wParam, lParam);
}

int TWinControl::ClientWidth() const {
  RECT r{};
  if (FHandle) GetClientRect(FHandle, &r);
  return r.right;
}

int TWinControl::ClientHeight() const {
  RECT r{};
  if (FHandle) GetClientRect(FHandle, &r);
  return r.bottom;
}
