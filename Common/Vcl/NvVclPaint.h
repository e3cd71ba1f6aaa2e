// Drawing helpers shared by the painted controls of the control layer.
#pragma once

#include <windows.h>

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

void FillSolid(HDC dc, const RECT& r, COLORREF color);
void FrameSolid(HDC dc, const RECT& r, COLORREF color);
// A rounded rectangle filled with fill and outlined with frame.
void RoundFill(HDC dc, const RECT& r, COLORREF fill, COLORREF frame, int radius);
// a mixed toward b by alpha255 / 255.
COLORREF Blend(COLORREF a, COLORREF b, int alpha255);
// A top-down 32-bit DIB section; bits receives its pixels.
HBITMAP CreateDib32(int width, int height, void** bits);
