// The picture control and the decoding of its pictures (PNG and the other
// formats of the Windows imaging component).
#include "NvVclUtils.h"

#include <wincodec.h>

#include "NvComPtr.h"
#include "NvExceptions.h"
#include "NvSysError.h"
#include "NvVclPaint.h"

namespace {

// The system's text for an HRESULT with its code, or the code alone.
std::wstring HResultText(HRESULT hr) {
  wchar_t code[16];
  wsprintfW(code, L"0x%08X", static_cast<unsigned>(hr));
  std::wstring text = SystemErrorText(static_cast<DWORD>(hr));
  return text.empty() ? std::wstring(code) : text + L" (" + code + L")";
}

}  // namespace

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
                                factory.OutVoid());
  if (FAILED(hr)) throw Exception(L"The imaging component is not available: " + HResultText(hr));
  TComPtr<IWICStream> stream;
  hr = factory->CreateStream(stream.Out());
  if (SUCCEEDED(hr))
    hr = stream->InitializeFromMemory(reinterpret_cast<BYTE*>(const_cast<char*>(bytes.data())),
                                      static_cast<DWORD>(bytes.size()));
  TComPtr<IWICBitmapDecoder> decoder;
  if (SUCCEEDED(hr)) hr = factory->CreateDecoderFromStream(stream.Get(), nullptr, WICDecodeMetadataCacheOnLoad, decoder.Out());
  TComPtr<IWICBitmapFrameDecode> frame;
  if (SUCCEEDED(hr)) hr = decoder->GetFrame(0, frame.Out());
  TComPtr<IWICBitmapSource> converted;
  if (SUCCEEDED(hr)) hr = WICConvertBitmapSource(GUID_WICPixelFormat32bppPBGRA, frame.Get(), converted.Out());
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
