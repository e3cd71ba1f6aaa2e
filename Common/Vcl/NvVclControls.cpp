// The painted controls: panels, bevels, labels, buttons, check boxes, the
// progress bar and the edit box.
#include "NvVclUtils.h"

#include <commctrl.h>

#include "BaseFrm.h"
#include "NvSysUtils.h"
#include "NvVclPaint.h"

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
  return IntToStr(percent) + L"%";
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
