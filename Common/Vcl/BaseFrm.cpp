#include "BaseFrm.h"

#include <vector>

#include "NvCallbackBarrier.h"
#include "NvExceptions.h"

namespace {

void RegisterFormClass(const wchar_t* name) {
  WNDCLASSEXW wc{};
  HINSTANCE instance = GetModuleHandleW(nullptr);
  if (GetClassInfoExW(instance, name, &wc)) return;
  wc.cbSize = sizeof(wc);
  wc.lpfnWndProc = NvControlWndProc;
  wc.hInstance = instance;
  wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
  wc.hIcon = LoadIconW(instance, L"MAINICON");
  wc.hIconSm = static_cast<HICON>(LoadImageW(instance, L"MAINICON", IMAGE_ICON, 16, 16, 0));
  wc.lpszClassName = name;
  RegisterClassExW(&wc);
}

void CollectFocusable(const TWinControl* parent, std::vector<TControl*>& out) {
  for (TControl* c : parent->Controls()) {
    HWND wnd = c->Handle();
    if (!wnd || !IsWindowVisible(wnd) || !IsWindowEnabled(wnd)) continue;
    if (GetWindowLongW(wnd, GWL_STYLE) & WS_TABSTOP) out.push_back(c);
    if (auto* w = dynamic_cast<TWinControl*>(c)) CollectFocusable(w, out);
  }
}

template <class F>
void ForEachControl(const TWinControl* parent, F&& f) {
  for (TControl* c : parent->Controls()) {
    f(c);
    if (auto* w = dynamic_cast<TWinControl*>(c)) ForEachControl(w, f);
  }
}

}  // namespace

// The object under construction: the first messages of a window reach
// NvControlWndProc before CreateWindowExW returns.
extern TControl* NvCreatingControl(TControl* control);

TBaseForm::TBaseForm(TBaseForm* owner, const wchar_t* className, int clientWidth, int clientHeight, DWORD style,
                     DWORD exStyle)
    : FOwner(owner) {
  FFont = TFont{};
  FFont.Name = L"Tahoma";
  FFont.Height = 12;
  RegisterFormClass(className);
  RECT r{0, 0, clientWidth, clientHeight};
  AdjustWindowRectEx(&r, style, FALSE, exStyle);
  TControl* previous = NvCreatingControl(this);
  HWND wnd = CreateWindowExW(exStyle, className, L"", style | WS_CLIPCHILDREN, CW_USEDEFAULT, CW_USEDEFAULT,
                             r.right - r.left, r.bottom - r.top, owner ? owner->Handle() : nullptr, nullptr,
                             GetModuleHandleW(nullptr), nullptr);
  NvCreatingControl(previous);
  NvRethrowKept();  // a handler of the first messages raised
  if (!wnd) throw Exception(L"Cannot create the window " + std::wstring(className));
  AttachWindow(wnd);
  FVisible = false;
  SendMessageW(wnd, WM_SETFONT, reinterpret_cast<WPARAM>(NvFontHandle(FFont)), FALSE);
  CenterOnScreen();
}

TBaseForm::~TBaseForm() {
  if (FHandle) {
    HWND wnd = FHandle;
    DestroyWindow(wnd);  // children first: their objects lose their handles
  }
  FOwned.clear();
}

void TBaseForm::SetClientSize(int width, int height) {
  RECT r{0, 0, width, height};
  AdjustWindowRectEx(&r, static_cast<DWORD>(GetWindowLongW(FHandle, GWL_STYLE)), FALSE,
                     static_cast<DWORD>(GetWindowLongW(FHandle, GWL_EXSTYLE)));
  SetBounds(FLeft, FTop, r.right - r.left, r.bottom - r.top);
}

void TBaseForm::CenterOnScreen() {
  RECT wr;
  GetWindowRect(FHandle, &wr);
  RECT work{0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)};
  SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
  int w = wr.right - wr.left, h = wr.bottom - wr.top;
  SetBounds(work.left + (work.right - work.left - w) / 2, work.top + (work.bottom - work.top - h) / 2, w, h);
}

void TBaseForm::ShowForm() {
  FVisible = true;
  ShowWindow(FHandle, SW_SHOW);
  UpdateWindow(FHandle);
  if (!FShown) {
    FShown = true;
    if (OnShow) OnShow();
  }
}

int TBaseForm::ShowModal() {
  if (FOwner && FOwner->Handle()) return TNvVclfn::ShowModalForm(this, FOwner->Handle());
  if (IsWindowVisible(FHandle) || FModal) throw Exception(L"Cannot make a visible window modal");
  FModal = true;
  if (Application) Application->ModalStarted();
  ShowForm();
  FModalResult = mrNone;
  while (FModalResult == mrNone) {
    if (Application) {
      Application->HandleMessage();
      if (Application->Terminated()) FModalResult = mrCancel;
    } else {
      MSG msg;
      if (GetMessageW(&msg, nullptr, 0, 0) <= 0) FModalResult = mrCancel;
      else {
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
        NvRethrowKept();
      }
    }
    if (FModalResult != mrNone && !CloseQuery()) FModalResult = mrNone;
  }
  ShowWindow(FHandle, SW_HIDE);
  FVisible = false;
  FModal = false;
  if (Application) Application->ModalFinished();
  return FModalResult;
}

void TBaseForm::Close() {
  if (FHandle) PostMessageW(FHandle, WM_CLOSE, 0, 0);
}

TBaseForm* TBaseForm::FromWindow(HWND wnd) {
  if (!wnd) return nullptr;
  HWND root = GetAncestor(wnd, GA_ROOT);
  return dynamic_cast<TBaseForm*>(TControl::FromHandle(root));
}

bool TBaseForm::PreviewKey(const MSG& msg) {
  if (msg.message != WM_KEYDOWN && msg.message != WM_SYSKEYDOWN) return false;
  WORD key = static_cast<WORD>(msg.wParam);
  unsigned shift = (GetKeyState(VK_SHIFT) < 0 ? 1u : 0u) | (GetKeyState(VK_MENU) < 0 ? 2u : 0u) |
                   (GetKeyState(VK_CONTROL) < 0 ? 4u : 0u);
  bool handled = false;
  if (msg.message == WM_KEYDOWN && !(shift & 6u)) {
    if (key == VK_TAB) {
      FocusNext(shift & 1u);
      handled = true;
    } else if (key == VK_RETURN || key == VK_ESCAPE) {
      TButton* target = nullptr;
      if (key == VK_RETURN) target = dynamic_cast<TButton*>(TControl::FromHandle(GetFocus()));
      if (!target) {
        ForEachControl(this, [&](TControl* c) {
          auto* b = dynamic_cast<TButton*>(c);
          if (!target && b && b->Handle() && IsWindowVisible(b->Handle()) && IsWindowEnabled(b->Handle()) &&
              (key == VK_RETURN ? b->Default : b->Cancel))
            target = b;
        });
      }
      if (target) {
        target->Click();
        handled = true;
      }
    }
  }
  KeyDown(key, shift);
  return handled;
}

void TBaseForm::KeyDown(WORD key, unsigned shiftState) {
  if (!(shiftState & 2u) && key != VK_TAB && key != VK_MENU) return;
  InvalidateRect(FHandle, nullptr, TRUE);
  ForEachControl(this, [](TControl* c) {
    if (c->Handle()) InvalidateRect(c->Handle(), nullptr, TRUE);
  });
}

void TBaseForm::FocusNext(bool backwards) {
  std::vector<TControl*> list;
  CollectFocusable(this, list);
  if (list.empty()) return;
  HWND focus = GetFocus();
  int index = -1;
  for (size_t i = 0; i < list.size(); ++i)
    if (list[i]->Handle() == focus) index = static_cast<int>(i);
  int n = static_cast<int>(list.size());
  int next = index < 0 ? (backwards ? n - 1 : 0) : (index + (backwards ? n - 1 : 1)) % n;
  list[static_cast<size_t>(next)]->SetFocus();
}

void TBaseForm::Paint(HDC dc, const RECT& client) { FillBackground(dc, client); }

LRESULT TBaseForm::WndProc(UINT msg, WPARAM wParam, LPARAM lParam) {
  switch (msg) {
    case WM_CLOSE:
      if (FModal) {
        FModalResult = mrCancel;
      } else if (Application && Application->MainForm() == this) {
        if (CloseQuery()) Application->Terminate();
      } else if (CloseQuery()) {
        ShowWindow(FHandle, SW_HIDE);
        FVisible = false;
      }
      return 0;
    case WM_ACTIVATE:
      if (LOWORD(wParam) == WA_INACTIVE) {
        HWND focus = GetFocus();
        if (focus && IsChild(FHandle, focus)) FLastFocus = focus;
      } else if (FLastFocus && IsWindow(FLastFocus) && IsWindowVisible(FLastFocus) && IsWindowEnabled(FLastFocus)) {
        ::SetFocus(FLastFocus);
        return 0;
      }
      break;
    case WM_COMMAND:
    case WM_NOTIFY:
      return 0;
    case WM_MOVE:
    case WM_SIZE: {
      RECT r;
      GetWindowRect(FHandle, &r);
      FLeft = r.left;
      FTop = r.top;
      FWidth = r.right - r.left;
      FHeight = r.bottom - r.top;
      break;
    }
    default:
      break;
  }
  return TControl::WndProc(msg, wParam, lParam);
}
