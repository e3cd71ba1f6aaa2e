#include "NvVclUtils.h"

#include <commctrl.h>
#include <objbase.h>
#include <shlobj.h>
#include <wincodec.h>

#include <map>
#include <tuple>
#include <unordered_map>

#include "BaseFrm.h"
#include "NvExceptions.h"

TApplication* Application = nullptr;

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

// A memory DC of the client size, copied to the window when it ends.
class TBufferedPaint {
public:
  TBufferedPaint(HWND wnd) : FWnd(wnd) {
    FDC = BeginPaint(wnd, &FPs);
    GetClientRect(wnd, &FRect);
    FMem = CreateCompatibleDC(FDC);
    FBmp = CreateCompatibleBitmap(FDC, FRect.right > 0 ? FRect.right : 1, FRect.bottom > 0 ? FRect.bottom : 1);
    FOld = SelectObject(FMem, FBmp);
  }
  ~TBufferedPaint() {
    BitBlt(FDC, 0, 0, FRect.right, FRect.bottom, FMem, 0, 0, SRCCOPY);
    SelectObject(FMem, FOld);
    DeleteObject(FBmp);
    DeleteDC(FMem);
    EndPaint(FWnd, &FPs);
  }
  HDC DC() const { return FMem; }
  const RECT& Rect() const { return FRect; }

private:
  HWND FWnd;
  PAINTSTRUCT FPs{};
  HDC FDC;
  RECT FRect{};
  HDC FMem;
  HBITMAP FBmp;
  HGDIOBJ FOld;
};

void FillSolid(HDC dc, const RECT& r, COLORREF color) {
  SetDCBrushColor(dc, color);
  FillRect(dc, &r, static_cast<HBRUSH>(GetStockObject(DC_BRUSH)));
}

void FrameSolid(HDC dc, const RECT& r, COLORREF color) {
  SetDCBrushColor(dc, color);
  FrameRect(dc, &r, static_cast<HBRUSH>(GetStockObject(DC_BRUSH)));
}

void RoundFill(HDC dc, const RECT& r, COLORREF fill, COLORREF frame, int radius) {
  HGDIOBJ oldBrush = SelectObject(dc, GetStockObject(DC_BRUSH));
  HGDIOBJ oldPen = SelectObject(dc, GetStockObject(DC_PEN));
  SetDCBrushColor(dc, fill);
  SetDCPenColor(dc, frame);
  RoundRect(dc, r.left, r.top, r.right, r.bottom, radius, radius);
  SelectObject(dc, oldBrush);
  SelectObject(dc, oldPen);
}

COLORREF Blend(COLORREF a, COLORREF b, int alpha255) {
  auto mix = [&](int x, int y) { return (x * (255 - alpha255) + y * alpha255) / 255; };
  return RGB(mix(GetRValue(a), GetRValue(b)), mix(GetGValue(a), GetGValue(b)), mix(GetBValue(a), GetBValue(b)));
}

HBITMAP CreateDib32(int width, int height, void** bits) {
  BITMAPINFO bi{};
  bi.bmiHeader.biSize = sizeof(bi.bmiHeader);
  bi.bmiHeader.biWidth = width;
  bi.bmiHeader.biHeight = -height;  // top-down
  bi.bmiHeader.biPlanes = 1;
  bi.bmiHeader.biBitCount = 32;
  bi.bmiHeader.biCompression = BI_RGB;
  return CreateDIBSection(nullptr, &bi, DIB_RGB_COLORS, bits, nullptr, 0);
}

std::wstring HResultText(HRESULT hr) {
  wchar_t* buffer = nullptr;
  FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                 static_cast<DWORD>(hr), 0, reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
  std::wstring text = buffer ? buffer : L"";
  if (buffer) LocalFree(buffer);
  while (!text.empty() && (text.back() == L'\n' || text.back() == L'\r' || text.back() == L' ')) text.pop_back();
  wchar_t code[16];
  wsprintfW(code, L"0x%08X", static_cast<unsigned>(hr));
  return text.empty() ? std::wstring(code) : text + L" (" + code + L")";
}

template <class T>
struct TComPtr {
  T* p = nullptr;
  ~TComPtr() {
    if (p) p->Release();
  }
  T** operator&() { return &p; }
  T* operator->() const { return p; }
};

}  // namespace

// Sets the object whose window is being created; returns the previous one.
TControl* NvCreatingControl(TControl* control) {
  TControl* previous = GCreating;
  GCreating = control;
  return previous;
}

// ---- application -------------------------------------------------------------
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

// ---- TControl --------------------------------------------------------------------
TControl* TControl::FromHandle(HWND wnd) {
  auto it = ControlMap().find(wnd);
  return it == ControlMap().end() ? nullptr : it->second;
}

LRESULT CALLBACK NvControlWndProc(HWND wnd, UINT msg, WPARAM wParam, LPARAM lParam) {
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
}

LRESULT CALLBACK NvSubclassProc(HWND wnd, UINT msg, WPARAM wParam, LPARAM lParam, UINT_PTR, DWORD_PTR ref) {
  auto* control = reinterpret_cast<TControl*>(ref);
  if (msg == WM_NCDESTROY) {
    RemoveWindowSubclass(wnd, NvSubclassProc, 1);
    ControlMap().erase(wnd);
    control->FHandle = nullptr;
    return DefSubclassProc(wnd, msg, wParam, lParam);
  }
  return control->WndProc(msg, wParam, lParam);
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
      if (FParent) return SendMessageW(FParent->Handle(), msg, wParam, lParam);
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

// ---- panels, bevels, labels ----------------------------------------------------------
TPanel::TPanel(TWinControl* parent, int id, int left, int top, int width, int height)
    : TWinControl(parent, id, L"NvPanel", 0, 0, left, top, width, height) {}

void TPanel::Paint(HDC dc, const RECT& client) {
  FillBackground(dc, client);
  if (BorderColor != CLR_INVALID) FrameSolid(dc, client, BorderColor);
}

TBevel::TBevel(TWinControl* parent, int id, int left, int top, int width, int height)
    : TControl(parent, id, L"NvPanel", 0, 0, left, top, width, height) {}

void TBevel::Paint(HDC dc, const RECT& client) {
  FillBackground(dc, client);
  RECT line{client.left, client.top, client.right, client.top + 1};
  FillSolid(dc, line, clFrame);
}

TLabel::TLabel(TWinControl* parent, int id, int left, int top, int width, int height, const std::wstring& caption)
    : TControl(parent, id, L"NvLabel", 0, 0, left, top, width, height) {
  SetCaption(caption);
}

void TLabel::SetCaption(const std::wstring& caption) {
  TControl::SetCaption(caption);
  if (AutoSize) AdjustSize();
}

void TLabel::AdjustSize() {
  HDC dc = GetDC(FHandle);
  HGDIOBJ old = SelectObject(dc, NvFontHandle(FFont));
  std::wstring text = Caption();
  RECT r{0, 0, 0, 0};
  DrawTextW(dc, text.empty() ? L" " : text.c_str(), -1, &r, DT_CALCRECT | DT_SINGLELINE | DT_NOPREFIX);
  SelectObject(dc, old);
  ReleaseDC(FHandle, dc);
  SetBounds(FLeft, FTop, r.right, r.bottom);
}

void TLabel::Paint(HDC dc, const RECT& client) {
  FillBackground(dc, client);
  std::wstring text = Caption();
  HGDIOBJ old = SelectObject(dc, NvFontHandle(FFont));
  SetBkMode(dc, TRANSPARENT);
  SetTextColor(dc, IsWindowEnabled(FHandle) ? FFont.Color : Blend(FFont.Color, Color(), 128));
  UINT flags = DT_NOPREFIX;
  flags |= Alignment == TAlignment::taCenter ? DT_CENTER : Alignment == TAlignment::taRightJustify ? DT_RIGHT : DT_LEFT;
  RECT r = client;
  if (WordWrap) {
    flags |= DT_WORDBREAK | DT_EDITCONTROL;
    if (Layout_Center) {
      RECT calc = client;
      DrawTextW(dc, text.c_str(), -1, &calc, flags | DT_CALCRECT);
      int h = calc.bottom - calc.top;
      if (h < client.bottom) r.top = (client.bottom - h) / 2;
    }
  } else {
    flags |= DT_SINGLELINE | DT_END_ELLIPSIS;
    if (Layout_Center) flags |= DT_VCENTER;
  }
  DrawTextW(dc, text.c_str(), -1, &r, flags);
  SelectObject(dc, old);
}

TLinkLabel::TLinkLabel(TWinControl* parent, int id, int left, int top, const std::wstring& caption)
    : TLabel(parent, id, left, top, 10, 10, caption) {
  TFont font = FFont;
  font.Color = clLink;
  font.Underline = true;
  SetFont(font);
  FCursor = TCursor::crHandPoint;
  AutoSize = true;
  AdjustSize();
}

void TLinkLabel::Paint(HDC dc, const RECT& client) {
  TFont keep = FFont;
  if (FMouseInside) FFont.Color = clProduct;
  TLabel::Paint(dc, client);
  FFont = keep;
}

// ---- images ------------------------------------------------------------------------
TImage::TImage(TWinControl* parent, int id, int left, int top, int width, int height)
    : TControl(parent, id, L"NvImage", 0, 0, left, top, width, height) {}

TImage::~TImage() {
  if (FBitmap) DeleteObject(FBitmap);
}

void TImage::SetBitmap(HBITMAP bitmap) {
  if (FBitmap) DeleteObject(FBitmap);
  FBitmap = bitmap;
  BITMAP bm{};
  if (bitmap) GetObjectW(bitmap, sizeof(bm), &bm);
  FPicWidth = bm.bmWidth;
  FPicHeight = bm.bmHeight < 0 ? -bm.bmHeight : bm.bmHeight;
  Invalidate();
}

void TImage::LoadFromBytes(const std::string& bytes) {
  if (bytes.empty()) throw Exception(L"The picture is empty.");
  TComPtr<IWICImagingFactory> factory;
  HRESULT hr = CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER, IID_IWICImagingFactory,
                                reinterpret_cast<void**>(&factory));
  if (FAILED(hr)) throw Exception(L"The imaging component is not available: " + HResultText(hr));
  TComPtr<IWICStream> stream;
  hr = factory->CreateStream(&stream);
  if (SUCCEEDED(hr))
    hr = stream->InitializeFromMemory(reinterpret_cast<BYTE*>(const_cast<char*>(bytes.data())),
                                      static_cast<DWORD>(bytes.size()));
  TComPtr<IWICBitmapDecoder> decoder;
  if (SUCCEEDED(hr)) hr = factory->CreateDecoderFromStream(stream.p, nullptr, WICDecodeMetadataCacheOnLoad, &decoder);
  TComPtr<IWICBitmapFrameDecode> frame;
  if (SUCCEEDED(hr)) hr = decoder->GetFrame(0, &frame);
  TComPtr<IWICBitmapSource> converted;
  if (SUCCEEDED(hr)) hr = WICConvertBitmapSource(GUID_WICPixelFormat32bppPBGRA, frame.p, &converted);
  UINT width = 0, height = 0;
  if (SUCCEEDED(hr)) hr = converted->GetSize(&width, &height);
  if (FAILED(hr)) throw Exception(L"The picture cannot be decoded: " + HResultText(hr));
  if (width == 0 || height == 0 || width > 8192 || height > 8192)
    throw Exception(L"The picture has an unusable size.");
  void* bits = nullptr;
  HBITMAP bitmap = CreateDib32(static_cast<int>(width), static_cast<int>(height), &bits);
  if (!bitmap) throw Exception(L"Out of memory for the picture.");
  hr = converted->CopyPixels(nullptr, width * 4, width * height * 4, static_cast<BYTE*>(bits));
  if (FAILED(hr)) {
    DeleteObject(bitmap);
    throw Exception(L"The picture cannot be decoded: " + HResultText(hr));
  }
  SetBitmap(bitmap);
}

void TImage::Paint(HDC dc, const RECT& client) {
  FillBackground(dc, client);
  if (HotTrack && FMouseInside && IsWindowEnabled(FHandle)) FillSolid(dc, client, Blend(Color(), clWhite, 40));
  if (!FBitmap || FPicWidth <= 0 || FPicHeight <= 0) return;
  int cw = client.right, ch = client.bottom;
  int w = FPicWidth, h = FPicHeight;
  if (Stretch || w > cw || h > ch) {
    if (Proportional) {
      double s = std::min(static_cast<double>(cw) / w, static_cast<double>(ch) / h);
      w = static_cast<int>(w * s);
      h = static_cast<int>(h * s);
    } else {
      w = cw;
      h = ch;
    }
  }
  HDC mem = CreateCompatibleDC(dc);
  HGDIOBJ old = SelectObject(mem, FBitmap);
  SetStretchBltMode(dc, HALFTONE);
  BLENDFUNCTION bf{AC_SRC_OVER, 0, 255, AC_SRC_ALPHA};
  GdiAlphaBlend(dc, (cw - w) / 2, (ch - h) / 2, w, h, mem, 0, 0, FPicWidth, FPicHeight, bf);
  SelectObject(mem, old);
  DeleteDC(mem);
}

// ---- buttons -----------------------------------------------------------------------
TButton::TButton(TWinControl* parent, int id, int left, int top, int width, int height, const std::wstring& caption)
    : TPressControl(parent, id, L"NvButton", WS_TABSTOP, 0, left, top, width, height) {
  FCursor = TCursor::crHandPoint;
  SetCaption(caption);
}

void TButton::Click() {
  if (!FHandle || !IsWindowEnabled(FHandle) || !IsWindowVisible(FHandle)) return;
  int result = ModalResult;
  HWND root = GetAncestor(FHandle, GA_ROOT);
  if (OnClick) OnClick();
  if (result != mrNone) {
    if (TBaseForm* form = TBaseForm::FromWindow(root)) form->SetModalResult(result);
  }
}

LRESULT TPressControl::WndProc(UINT msg, WPARAM wParam, LPARAM lParam) {
  switch (msg) {
    case WM_LBUTTONDOWN:
      FPressed = true;
      ::SetFocus(FHandle);
      SetCapture(FHandle);
      Invalidate();
      return 0;
    case WM_LBUTTONUP:
      if (FPressed) {
        FPressed = false;
        if (GetCapture() == FHandle) ReleaseCapture();
        Invalidate();
        POINT pt{static_cast<short>(LOWORD(lParam)), static_cast<short>(HIWORD(lParam))};
        RECT r;
        GetClientRect(FHandle, &r);
        if (PtInRect(&r, pt)) Click();
      }
      return 0;
    case WM_CAPTURECHANGED:
      if (FPressed) {
        FPressed = false;
        Invalidate();
      }
      break;
    case BM_CLICK:
      Click();
      return 0;
    case WM_KEYDOWN:
      if (wParam == VK_SPACE) {
        Click();
        return 0;
      }
      break;
    case WM_SETFOCUS:
    case WM_KILLFOCUS:
      Invalidate();
      break;
    default:
      break;
  }
  return TControl::WndProc(msg, wParam, lParam);
}

LRESULT TButton::WndProc(UINT msg, WPARAM wParam, LPARAM lParam) {
  switch (msg) {
    case WM_GETDLGCODE:
      return DLGC_BUTTON | (Default ? DLGC_DEFPUSHBUTTON : DLGC_UNDEFPUSHBUTTON);
    case WM_ENABLE:
      Invalidate();
      break;
    default:
      break;
  }
  return TPressControl::WndProc(msg, wParam, lParam);
}

void TButton::Paint(HDC dc, const RECT& client) {
  FillBackground(dc, client);
  bool enabled = IsWindowEnabled(FHandle);
  COLORREF fill, frame, text;
  if (Primary) {
    fill = !enabled ? clDisabled : FPressed ? clProductDown : FMouseInside ? clProductHot : clProduct;
    frame = fill;
    text = clWhite;
    if (Color() == clProduct && enabled) {
      // A primary button on the product-colour background: white with
      // product-colour text, so that it stands out.
      fill = FPressed ? RGB(225, 240, 252) : FMouseInside ? RGB(240, 248, 255) : clWhite;
      frame = fill;
      text = clProduct;
    }
  } else {
    fill = !enabled ? clFace : FPressed ? clProductPale : FMouseInside ? RGB(240, 248, 255) : clWhite;
    frame = enabled ? clProduct : clDisabled;
    text = enabled ? clProduct : clDisabled;
  }
  if (Default && enabled && !Primary) frame = clProductDown;
  RoundFill(dc, client, fill, frame, 6);
  if (Focused()) {
    RECT f = client;
    InflateRect(&f, -3, -3);
    FrameSolid(dc, f, Blend(fill, text, 90));
  }
  HGDIOBJ old = SelectObject(dc, NvFontHandle(FFont));
  SetBkMode(dc, TRANSPARENT);
  SetTextColor(dc, text);
  RECT r = client;
  DrawTextW(dc, Caption().c_str(), -1, &r, DT_CENTER | DT_VCENTER | DT_SINGLELINE | DT_NOPREFIX);
  SelectObject(dc, old);
}

TCheckBox::TCheckBox(TWinControl* parent, int id, int left, int top, int width, int height,
                     const std::wstring& caption)
    : TPressControl(parent, id, L"NvCheckBox", WS_TABSTOP, 0, left, top, width, height) {
  FCursor = TCursor::crHandPoint;
  SetCaption(caption);
}

void TCheckBox::SetChecked(bool checked) {
  FChecked = checked;
  Invalidate();
}

void TCheckBox::Click() {
  if (!FHandle || !IsWindowEnabled(FHandle)) return;
  SetChecked(!FChecked);
  if (OnClick) OnClick();
}

LRESULT TCheckBox::WndProc(UINT msg, WPARAM wParam, LPARAM lParam) {
  switch (msg) {
    case BM_GETCHECK:
      return FChecked ? BST_CHECKED : BST_UNCHECKED;
    case BM_SETCHECK:
      SetChecked(wParam == BST_CHECKED);
      return 0;
    case WM_GETDLGCODE:
      return DLGC_BUTTON;
    default:
      break;
  }
  return TPressControl::WndProc(msg, wParam, lParam);
}

void TCheckBox::Paint(HDC dc, const RECT& client) {
  FillBackground(dc, client);
  bool enabled = IsWindowEnabled(FHandle);
  int size = 14;
  int top = (client.bottom - size) / 2;
  RECT box{0, top, size, top + size};
  COLORREF accent = enabled ? (FMouseInside ? clProductHot : clProduct) : clDisabled;
  if (FChecked) {
    RoundFill(dc, box, accent, accent, 4);
    HPEN pen = CreatePen(PS_SOLID, 2, clWhite);
    HGDIOBJ old = SelectObject(dc, pen);
    POINT pts[3] = {{box.left + 3, top + 7}, {box.left + 6, top + 10}, {box.left + 11, top + 4}};
    Polyline(dc, pts, 3);
    SelectObject(dc, old);
    DeleteObject(pen);
  } else {
    RoundFill(dc, box, clWhite, accent, 4);
  }
  HGDIOBJ old = SelectObject(dc, NvFontHandle(FFont));
  SetBkMode(dc, TRANSPARENT);
  SetTextColor(dc, enabled ? FFont.Color : clDisabled);
  RECT r{size + 4, 0, client.right, client.bottom};
  DrawTextW(dc, Caption().c_str(), -1, &r, DT_LEFT | DT_VCENTER | DT_SINGLELINE | DT_NOPREFIX);
  if (Focused()) {
    RECT calc = r;
    DrawTextW(dc, Caption().c_str(), -1, &calc, DT_LEFT | DT_SINGLELINE | DT_NOPREFIX | DT_CALCRECT);
    RECT line{r.left, client.bottom - 1, std::min<LONG>(calc.right, client.right), client.bottom};
    FillSolid(dc, line, accent);
  }
  SelectObject(dc, old);
}

// ---- progress bar ---------------------------------------------------------------------
TProgressBar::TProgressBar(TWinControl* parent, int id, int left, int top, int width, int height)
    : TControl(parent, id, L"NvProgressBar", 0, 0, left, top, width, height) {}

void TProgressBar::SetMax(int max) {
  FMax = max < 0 ? 0 : max;
  if (FPosition > FMax) FPosition = FMax;
  Invalidate();
}

void TProgressBar::SetPosition(int position) {
  if (position < 0) position = 0;
  if (position > FMax) position = FMax;
  if (position == FPosition) return;
  FPosition = position;
  Invalidate();
}

std::wstring TProgressBar::PercentText() const {
  int percent = FMax > 0 ? static_cast<int>(static_cast<int64_t>(FPosition) * 100 / FMax) : 0;
  return std::to_wstring(percent) + L"%";
}

LRESULT TProgressBar::WndProc(UINT msg, WPARAM wParam, LPARAM lParam) {
  switch (msg) {
    case PBM_GETPOS:
      return FPosition;
    case PBM_GETRANGE:
      if (lParam) {
        auto* range = reinterpret_cast<PBRANGE*>(lParam);
        range->iLow = 0;
        range->iHigh = FMax;
      }
      return wParam ? 0 : FMax;
    default:
      return TControl::WndProc(msg, wParam, lParam);
  }
}

void TProgressBar::Paint(HDC dc, const RECT& client) {
  FillBackground(dc, client);
  RoundFill(dc, client, clProductPale, clProductPale, client.bottom);
  int fillWidth = FMax > 0 ? static_cast<int>(static_cast<int64_t>(client.right) * FPosition / FMax) : 0;
  RECT fill{0, 0, fillWidth, client.bottom};
  if (fillWidth > 0) {
    HRGN clip = CreateRectRgnIndirect(&fill);
    SelectClipRgn(dc, clip);
    RoundFill(dc, client, clProduct, clProduct, client.bottom);
    SelectClipRgn(dc, nullptr);
    DeleteObject(clip);
  }
  std::wstring text = PercentText();
  HGDIOBJ old = SelectObject(dc, NvFontHandle(FFont));
  SetBkMode(dc, TRANSPARENT);
  RECT r = client;
  // Product-colour text over the track, white text over the filled part.
  SetTextColor(dc, clProduct);
  DrawTextW(dc, text.c_str(), -1, &r, DT_CENTER | DT_VCENTER | DT_SINGLELINE);
  if (fillWidth > 0) {
    HRGN clip = CreateRectRgnIndirect(&fill);
    SelectClipRgn(dc, clip);
    SetTextColor(dc, clWhite);
    DrawTextW(dc, text.c_str(), -1, &r, DT_CENTER | DT_VCENTER | DT_SINGLELINE);
    SelectClipRgn(dc, nullptr);
    DeleteObject(clip);
  }
  SelectObject(dc, old);
}

// ---- edit -----------------------------------------------------------------------------
TEdit::TEdit(TWinControl* parent, int id, int left, int top, int width, int height, bool multiLine, bool readOnly,
             bool wordWrap)
    : TControl(parent, id, L"Edit",
               WS_TABSTOP | WS_BORDER |
                   (multiLine ? (ES_MULTILINE | ES_WANTRETURN | WS_VSCROLL | (wordWrap ? 0 : (ES_AUTOHSCROLL | WS_HSCROLL)))
                              : ES_AUTOHSCROLL) |
                   (readOnly ? ES_READONLY : 0),
               0, left, top, width, height, true),
      FMultiLine(multiLine) {
  FColor = clWhite;
  SendMessageW(FHandle, EM_SETMARGINS, EC_LEFTMARGIN | EC_RIGHTMARGIN, MAKELPARAM(4, 4));
  SetWindowPos(FHandle, nullptr, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOZORDER | SWP_FRAMECHANGED);
}

LRESULT TEdit::WndProc(UINT msg, WPARAM wParam, LPARAM lParam) {
  switch (msg) {
    case WM_CTLCOLOREDIT:
    case WM_CTLCOLORSTATIC: {
      HDC dc = reinterpret_cast<HDC>(wParam);
      SetTextColor(dc, IsWindowEnabled(FHandle) ? FFont.Color : clDisabled);
      SetBkColor(dc, clWhite);
      if (!FBrush) FBrush = static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH));
      return reinterpret_cast<LRESULT>(FBrush);
    }
    case WM_NCCALCSIZE:
      if (!FMultiLine && wParam) {
        // Centres the single line vertically: the space above and below the
        // text becomes part of the (flat, white) frame.
        auto* params = reinterpret_cast<NCCALCSIZE_PARAMS*>(lParam);
        LRESULT r = DefaultProc(msg, wParam, lParam);
        RECT& rc = params->rgrc[0];
        int textHeight = FFont.Height + 4;
        int extra = (rc.bottom - rc.top) - textHeight;
        if (extra > 1) {
          rc.top += extra / 2;
          rc.bottom -= extra - extra / 2;
        }
        return r;
      }
      break;
    case WM_NCPAINT: {
      LRESULT r = DefaultProc(msg, wParam, lParam);
      HDC dc = GetWindowDC(FHandle);
      RECT wr, cr;
      GetWindowRect(FHandle, &wr);
      GetClientRect(FHandle, &cr);
      MapWindowPoints(FHandle, nullptr, reinterpret_cast<POINT*>(&cr), 2);
      OffsetRect(&cr, -wr.left, -wr.top);
      OffsetRect(&wr, -wr.left, -wr.top);
      if (!FMultiLine) {
        HRGN outer = CreateRectRgnIndirect(&wr);
        HRGN inner = CreateRectRgnIndirect(&cr);
        CombineRgn(outer, outer, inner, RGN_DIFF);
        SetDCBrushColor(dc, clWhite);
        FillRgn(dc, outer, static_cast<HBRUSH>(GetStockObject(DC_BRUSH)));
        DeleteObject(outer);
        DeleteObject(inner);
      }
      FrameSolid(dc, wr, GetFocus() == FHandle ? clProduct : clFrame);
      ReleaseDC(FHandle, dc);
      return r;
    }
    case WM_SETFOCUS:
    case WM_KILLFOCUS: {
      LRESULT r = DefaultProc(msg, wParam, lParam);
      SetWindowPos(FHandle, nullptr, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOZORDER | SWP_FRAMECHANGED);
      RedrawWindow(FHandle, nullptr, nullptr, RDW_FRAME | RDW_INVALIDATE);
      return r;
    }
    default:
      break;
  }
  return TControl::WndProc(msg, wParam, lParam);
}

// ---- TNvVclfn --------------------------------------------------------------------------
int TNvVclfn::ShowModalForm(TBaseForm* form, HWND owner) {
  if (!owner || !IsWindow(owner)) NvAssertFailed(L"Assertion failure", L"Common\\NvVclUtils", __LINE__);
  HWND top = owner;
  while (HWND parent = GetParent(top)) top = parent;
  HWND wnd = form->Handle();
  HWND previousOwner = reinterpret_cast<HWND>(GetWindowLongPtrW(wnd, GWLP_HWNDPARENT));
  SetWindowLongPtrW(wnd, GWLP_HWNDPARENT, reinterpret_cast<LONG_PTR>(top));
  struct TRestoreOwner {
    HWND wnd, owner;
    ~TRestoreOwner() {
      if (IsWindow(wnd)) SetWindowLongPtrW(wnd, GWLP_HWNDPARENT, reinterpret_cast<LONG_PTR>(owner));
    }
  } restoreOwner{wnd, previousOwner};

  if (IsWindowVisible(wnd) || !IsWindowEnabled(wnd) || form->IsModal())
    throw Exception(L"Cannot make a visible window modal");
  if (HWND capture = GetCapture()) {
    SendMessageW(capture, WM_CANCELMODE, 0, 0);
    ReleaseCapture();
  }
  if (Application) Application->ModalStarted();
  form->SetModal(true);
  HWND active = GetActiveWindow();
  TCursor cursor = Application ? Application->Cursor() : TCursor::crDefault;
  if (Application) Application->SetCursor(TCursor::crDefault);
  EnableWindow(top, FALSE);
  int result = mrNone;
  try {
    form->ShowForm();
    SetForegroundWindow(wnd);
    SetActiveWindow(wnd);
    form->SetModalResult(mrNone);
    while (true) {
      if (Application) {
        Application->HandleMessage();
        if (Application->Terminated()) form->SetModalResult(mrCancel);
      } else {
        MSG msg;
        if (GetMessageW(&msg, nullptr, 0, 0) <= 0) form->SetModalResult(mrCancel);
        else {
          TranslateMessage(&msg);
          DispatchMessageW(&msg);
        }
      }
      if (form->ModalResult() != mrNone) {
        if (!form->CloseQuery()) form->SetModalResult(mrNone);
      }
      if (form->ModalResult() != mrNone) break;
    }
    result = form->ModalResult();
  } catch (...) {
    EnableWindow(top, TRUE);
    form->SetModal(false);
    if (Application) Application->ModalFinished();
    throw;
  }
  if (GetActiveWindow() != wnd) active = nullptr;
  ShowWindow(wnd, SW_HIDE);
  if (Application) Application->SetCursor(cursor);
  EnableWindow(top, TRUE);
  if (active && IsWindow(active)) {
    SetActiveWindow(active);
  } else {
    SetActiveWindow(top);
  }
  SetForegroundWindow(top);
  form->SetModal(false);
  if (Application) Application->ModalFinished();
  return result;
}

void TNvVclfn::ShowInfo(HWND owner, const std::wstring& text) {
  TCursor cursor = Application ? Application->Cursor() : TCursor::crDefault;
  if (Application) {
    Application->SetCursor(TCursor::crDefault);
    Application->ModalStarted();
  }
  std::wstring title = Application ? Application->Title : L"";
  MessageBoxW(owner, text.c_str(), title.c_str(), MB_OK | MB_ICONINFORMATION);
  if (Application) {
    Application->ModalFinished();
    Application->SetCursor(cursor);
  }
}

bool TNvVclfn::SelectDirectory(HWND owner, const std::wstring& title, std::wstring& path) {
  TNvPathDialog dialog;
  dialog.Caption = title;
  dialog.Root.clear();
  dialog.Path = path;
  bool ok = dialog.Execute(owner);
  if (ok) path = dialog.Path;
  return ok;
}

namespace {
int CALLBACK BrowseCallback(HWND wnd, UINT msg, LPARAM, LPARAM data) {
  if (msg == BFFM_INITIALIZED && data) SendMessageW(wnd, BFFM_SETSELECTIONW, TRUE, data);
  return 0;
}
}  // namespace

bool TNvPathDialog::Execute(HWND owner) {
  DWORD attrs = Path.empty() ? INVALID_FILE_ATTRIBUTES : GetFileAttributesW(Path.c_str());
  if (attrs == INVALID_FILE_ATTRIBUTES || !(attrs & FILE_ATTRIBUTE_DIRECTORY)) Path.clear();
  IMalloc* shellMalloc = nullptr;
  if (FAILED(SHGetMalloc(&shellMalloc)) || !shellMalloc) return false;
  auto* buffer = static_cast<wchar_t*>(shellMalloc->Alloc(MAX_PATH * sizeof(wchar_t)));
  if (!buffer) {
    shellMalloc->Release();
    return false;
  }
  buffer[0] = 0;
  BROWSEINFOW bi{};
  bi.hwndOwner = owner;
  bi.pidlRoot = nullptr;
  bi.pszDisplayName = buffer;
  bi.lpszTitle = Caption.c_str();
  bi.ulFlags = 0x41;  // BIF_RETURNONLYFSDIRS | BIF_NEWDIALOGSTYLE
  if (!Path.empty()) {
    bi.lpfn = BrowseCallback;
    bi.lParam = reinterpret_cast<LPARAM>(Path.c_str());
  }
  if (Application) Application->ModalStarted();
  UINT oldMode = SetErrorMode(SEM_FAILCRITICALERRORS);
  LPITEMIDLIST item = SHBrowseForFolderW(&bi);
  SetErrorMode(oldMode);
  if (Application) Application->ModalFinished();
  bool result = false;
  if (item) {
    if (SHGetPathFromIDListW(item, buffer)) {
      std::wstring chosen = buffer;
      if (chosen.empty() || chosen.back() != L'\\') chosen += L'\\';
      Path = chosen;
      result = true;
    }
    shellMalloc->Free(item);
  }
  if (Application) Application->ProcessMessages();
  shellMalloc->Free(buffer);
  shellMalloc->Release();
  return result;
}
