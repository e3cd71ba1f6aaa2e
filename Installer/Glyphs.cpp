#include "Glyphs.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <vector>

namespace {

struct TSegment {
  double x1, y1, x2, y2;
};

double DistanceToSegment(double px, double py, const TSegment& s) {
  double dx = s.x2 - s.x1, dy = s.y2 - s.y1;
  double len2 = dx * dx + dy * dy;
  double t = len2 > 0 ? std::clamp(((px - s.x1) * dx + (py - s.y1) * dy) / len2, 0.0, 1.0) : 0.0;
  double cx = s.x1 + t * dx - px, cy = s.y1 + t * dy - py;
  return std::sqrt(cx * cx + cy * cy);
}

}  // namespace

HBITMAP CreateGlyph(TGlyph glyph) {
  constexpr int kSize = 32;
  constexpr int kSamples = 4;
  constexpr double kHalfWidth = 0.85;
  std::vector<TSegment> segments;
  if (glyph == TGlyph::gMinimize) {
    segments.push_back({10.5, 16.5, 21.5, 16.5});
  } else {
    segments.push_back({10.5, 10.5, 21.5, 21.5});
    segments.push_back({21.5, 10.5, 10.5, 21.5});
  }
  BITMAPINFO bi{};
  bi.bmiHeader.biSize = sizeof(bi.bmiHeader);
  bi.bmiHeader.biWidth = kSize;
  bi.bmiHeader.biHeight = -kSize;
  bi.bmiHeader.biPlanes = 1;
  bi.bmiHeader.biBitCount = 32;
  bi.bmiHeader.biCompression = BI_RGB;
  void* bits = nullptr;
  HBITMAP bitmap = CreateDIBSection(nullptr, &bi, DIB_RGB_COLORS, &bits, nullptr, 0);
  if (!bitmap) return nullptr;
  auto* pixels = static_cast<uint32_t*>(bits);
  for (int y = 0; y < kSize; ++y) {
    for (int x = 0; x < kSize; ++x) {
      int covered = 0;
      for (int sy = 0; sy < kSamples; ++sy)
        for (int sx = 0; sx < kSamples; ++sx) {
          double px = x + (sx + 0.5) / kSamples, py = y + (sy + 0.5) / kSamples;
          for (const TSegment& s : segments)
            if (DistanceToSegment(px, py, s) <= kHalfWidth) {
              ++covered;
              break;
            }
        }
      uint32_t a = static_cast<uint32_t>(covered * 255 / (kSamples * kSamples));
      pixels[y * kSize + x] = (a << 24) | (a << 16) | (a << 8) | a;  // white, premultiplied
    }
  }
  return bitmap;
}
