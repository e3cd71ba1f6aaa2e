#include "DefaultPicture.h"

#include <zlib.h>

#include <cmath>

#include "BuilderText.h"

namespace nvbuilder {

static const char kSignature[] = "\x89PNG\r\n\x1a\n";

static void PutU32(std::string& out, uint32_t v) {
  out += static_cast<char>(v >> 24);
  out += static_cast<char>(v >> 16);
  out += static_cast<char>(v >> 8);
  out += static_cast<char>(v);
}

static void PutChunk(std::string& out, const char type[4], const std::string& data) {
  PutU32(out, static_cast<uint32_t>(data.size()));
  std::string body(type, 4);
  body += data;
  out += body;
  PutU32(out, static_cast<uint32_t>(crc32(0, reinterpret_cast<const Bytef*>(body.data()), static_cast<uInt>(body.size()))));
}

std::string EncodePng(uint32_t width, uint32_t height, const std::vector<uint8_t>& rgba) {
  if (rgba.size() != static_cast<std::size_t>(width) * height * 4) throw EBuildError("PNG: pixel buffer size mismatch");
  std::string raw;
  raw.reserve((width * 4 + 1) * height);
  for (uint32_t y = 0; y < height; ++y) {
    raw += '\0';  // filter type None
    raw.append(reinterpret_cast<const char*>(rgba.data()) + static_cast<std::size_t>(y) * width * 4, width * 4);
  }
  uLongf size = compressBound(static_cast<uLong>(raw.size()));
  std::string idat(size, '\0');
  if (compress2(reinterpret_cast<Bytef*>(idat.data()), &size, reinterpret_cast<const Bytef*>(raw.data()),
                static_cast<uLong>(raw.size()), 9) != Z_OK)
    throw EBuildError("PNG: compression failed");
  idat.resize(size);

  std::string ihdr;
  PutU32(ihdr, width);
  PutU32(ihdr, height);
  ihdr += '\x08';  // bit depth
  ihdr += '\x06';  // RGBA
  ihdr += '\0';    // deflate
  ihdr += '\0';    // adaptive filtering
  ihdr += '\0';    // no interlace

  std::string png(kSignature, 8);
  PutChunk(png, "IHDR", ihdr);
  PutChunk(png, "IDAT", idat);
  PutChunk(png, "IEND", std::string());
  return png;
}

bool IsPng(const std::string& bytes) { return bytes.size() >= 8 && bytes.compare(0, 8, kSignature, 8) == 0; }

// A rounded blue tile carrying a white box with an arrow into it: "a
// product to install". Edges are anti-aliased by coverage sampling.
static std::vector<uint8_t> DrawPicture(int n) {
  std::vector<uint8_t> px(static_cast<std::size_t>(n) * n * 4, 0);
  auto inRoundRect = [](double x, double y, double x0, double y0, double x1, double y1, double r) {
    double cx = x < x0 + r ? x0 + r : x > x1 - r ? x1 - r : x;
    double cy = y < y0 + r ? y0 + r : y > y1 - r ? y1 - r : y;
    double dx = x - cx, dy = y - cy;
    return x >= x0 && x <= x1 && y >= y0 && y <= y1 && dx * dx + dy * dy <= r * r;
  };
  auto inBox = [](double x, double y) {
    // Box body with a lid gap, and a downward arrow above it.
    bool body = x >= 26 && x <= 70 && y >= 48 && y <= 76 && !(x >= 30 && x <= 66 && y >= 52 && y <= 72);
    bool lid = x >= 22 && x <= 74 && y >= 42 && y <= 47;
    bool shaft = x >= 44 && x <= 52 && y >= 16 && y <= 36;
    bool head = y >= 32 && y <= 46 && std::fabs(x - 48) <= (46 - y) * 0.9;
    return body || lid || shaft || head;
  };
  const int samples = 4;
  for (int py = 0; py < n; ++py)
    for (int pxi = 0; pxi < n; ++pxi) {
      int tile = 0, mark = 0;
      for (int sy = 0; sy < samples; ++sy)
        for (int sx = 0; sx < samples; ++sx) {
          double x = pxi + (sx + 0.5) / samples, y = py + (sy + 0.5) / samples;
          if (inRoundRect(x, y, 4, 4, n - 4, n - 4, 16)) {
            ++tile;
            if (inBox(x, y)) ++mark;
          }
        }
      const int total = samples * samples;
      double a = static_cast<double>(tile) / total;
      double w = tile ? static_cast<double>(mark) / tile : 0;
      // Vertical gradient from a light to a deep blue.
      double t = static_cast<double>(py) / n;
      double r = 30 + (10 - 30) * t, g = 150 + (100 - 150) * t, b = 250 + (210 - 250) * t;
      uint8_t* p = &px[(static_cast<std::size_t>(py) * n + pxi) * 4];
      p[0] = static_cast<uint8_t>(r + (255 - r) * w + 0.5);
      p[1] = static_cast<uint8_t>(g + (255 - g) * w + 0.5);
      p[2] = static_cast<uint8_t>(b + (255 - b) * w + 0.5);
      p[3] = static_cast<uint8_t>(a * 255 + 0.5);
    }
  return px;
}

const std::string& DefaultPicture() {
  static const std::string png = EncodePng(96, 96, DrawPicture(96));
  return png;
}

}  // namespace nvbuilder
