#include "PngImage.h"

#include <zlib.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <utility>

#include "BuilderText.h"

namespace nvbuilder {

namespace {

constexpr uint32_t kMaxSide = 8192;

[[noreturn]] void Fail(const std::string& what, const std::string& cause) { throw EBuildError(what + ": " + cause); }

uint32_t BigEndian32(const std::string& b, size_t at) {
  return static_cast<uint32_t>(static_cast<uint8_t>(b[at])) << 24 | static_cast<uint32_t>(static_cast<uint8_t>(b[at + 1])) << 16 |
         static_cast<uint32_t>(static_cast<uint8_t>(b[at + 2])) << 8 | static_cast<uint32_t>(static_cast<uint8_t>(b[at + 3]));
}

const char* ColourTypeName(int type) {
  switch (type) {
    case 0: return "grey";
    case 2: return "RGB";
    case 3: return "palette";
    case 4: return "grey with alpha";
    case 6: return "RGBA";
    default: return "unknown";
  }
}

int Channels(int colourType) {
  switch (colourType) {
    case 0: case 3: return 1;
    case 2: return 3;
    case 4: return 2;
    case 6: return 4;
    default: return 0;
  }
}

bool DepthAllowed(int colourType, int depth) {
  switch (colourType) {
    case 0: return depth == 1 || depth == 2 || depth == 4 || depth == 8 || depth == 16;
    case 3: return depth == 1 || depth == 2 || depth == 4 || depth == 8;
    case 2: case 4: case 6: return depth == 8 || depth == 16;
    default: return false;
  }
}

uint8_t Paeth(int a, int b, int c) {
  int p = a + b - c, pa = std::abs(p - a), pb = std::abs(p - b), pc = std::abs(p - c);
  return static_cast<uint8_t>(pa <= pb && pa <= pc ? a : (pb <= pc ? b : c));
}

}  // namespace

TRgbaImage DecodePng(const std::string& png, const std::string& what) {
  static const char kSignature[] = "\x89PNG\r\n\x1a\n";
  if (png.size() < 8 || png.compare(0, 8, kSignature, 8) != 0) Fail(what, "not a PNG picture");

  uint32_t width = 0, height = 0;
  int depth = 0, colourType = -1;
  bool haveHeader = false, haveEnd = false;
  std::string idat, palette, trns;
  size_t at = 8;
  while (!haveEnd) {
    if (png.size() - at < 12) Fail(what, "the PNG data ends early (damaged file)");
    uint32_t length = BigEndian32(png, at);
    if (length > png.size() - at - 12) Fail(what, "a PNG chunk runs past the end of the file (damaged file)");
    std::string type = png.substr(at + 4, 4);
    uint32_t crc = static_cast<uint32_t>(
        crc32(0, reinterpret_cast<const Bytef*>(png.data() + at + 4), static_cast<uInt>(length + 4)));
    if (crc != BigEndian32(png, at + 8 + length)) Fail(what, "the PNG chunk " + type + " fails its checksum (damaged file)");
    std::string data = png.substr(at + 8, length);
    at += 12 + static_cast<size_t>(length);
    if (!haveHeader && type != "IHDR") Fail(what, "the PNG data does not start with its header chunk");
    if (type == "IHDR") {
      if (haveHeader || length != 13) Fail(what, "the PNG header chunk is damaged");
      haveHeader = true;
      width = BigEndian32(data, 0);
      height = BigEndian32(data, 4);
      depth = static_cast<uint8_t>(data[8]);
      colourType = static_cast<uint8_t>(data[9]);
      if (data[10] != 0 || data[11] != 0) Fail(what, "unknown PNG compression or filter method");
      if (data[12] != 0) Fail(what, "interlaced PNG pictures are not supported; save the picture without interlacing");
      if (width == 0 || height == 0) Fail(what, "the picture has no pixels");
      if (width > kMaxSide || height > kMaxSide)
        Fail(what, "the picture is " + std::to_string(width) + " x " + std::to_string(height) +
             " pixels; at most " + std::to_string(kMaxSide) + " a side is supported");
      if (!Channels(colourType) || !DepthAllowed(colourType, depth))
        Fail(what, "unsupported PNG colour type " + std::to_string(colourType) + " (" + ColourTypeName(colourType) +
             ") at bit depth " + std::to_string(depth) +
             "; save it as RGBA, RGB, palette or grey");
    } else if (type == "PLTE") {
      if (length % 3 != 0 || length == 0 || length > 768) Fail(what, "the PNG palette is damaged");
      palette = data;
    } else if (type == "tRNS") {
      trns = data;
    } else if (type == "IDAT") {
      idat += data;
    } else if (type == "IEND") {
      haveEnd = true;
    } else if (!(type[0] & 0x20)) {
      Fail(what, "unknown critical PNG chunk \"" + type + "\"");
    }
  }
  if (colourType == 3 && palette.empty()) Fail(what, "the palette picture has no palette (PLTE chunk)");
  if (idat.empty()) Fail(what, "the PNG picture has no image data");

  const int channels = Channels(colourType);
  const size_t bitsPerPixel = static_cast<size_t>(channels) * depth;
  const size_t rowBytes = (static_cast<size_t>(width) * bitsPerPixel + 7) / 8;
  const size_t bpp = std::max<size_t>(1, bitsPerPixel / 8);  // filter step in bytes
  const size_t rawSize = (rowBytes + 1) * height;

  std::string raw(rawSize, '\0');
  z_stream z{};
  if (inflateInit(&z) != Z_OK) Fail(what, "cannot start the PNG decompressor");
  z.next_in = reinterpret_cast<Bytef*>(idat.data());
  z.avail_in = static_cast<uInt>(idat.size());
  z.next_out = reinterpret_cast<Bytef*>(raw.data());
  z.avail_out = static_cast<uInt>(raw.size());
  int rc = inflate(&z, Z_FINISH);
  size_t produced = raw.size() - z.avail_out;
  inflateEnd(&z);
  if (rc == Z_BUF_ERROR && produced == raw.size()) Fail(what, "the PNG image data is longer than the picture (damaged file)");
  if (rc != Z_STREAM_END) Fail(what, "the PNG image data is damaged (zlib: " + std::string(z.msg ? z.msg : "incomplete") + ")");
  if (produced != raw.size()) Fail(what, "the PNG image data is shorter than the picture (damaged file)");

  // Undo the row filters in place.
  std::vector<uint8_t> prior(rowBytes, 0), row(rowBytes);
  std::vector<uint8_t> plain(rowBytes * height);
  for (uint32_t y = 0; y < height; ++y) {
    const uint8_t* src = reinterpret_cast<const uint8_t*>(raw.data()) + y * (rowBytes + 1);
    uint8_t filter = src[0];
    for (size_t i = 0; i < rowBytes; ++i) {
      int a = i >= bpp ? row[i - bpp] : 0, b = prior[i], c = i >= bpp ? prior[i - bpp] : 0;
      int x = src[1 + i];
      switch (filter) {
        case 0: break;
        case 1: x += a; break;
        case 2: x += b; break;
        case 3: x += (a + b) / 2; break;
        case 4: x += Paeth(a, b, c); break;
        default: Fail(what, "unknown PNG row filter " + std::to_string(filter) + " (damaged file)");
      }
      row[i] = static_cast<uint8_t>(x);
    }
    std::memcpy(plain.data() + y * rowBytes, row.data(), rowBytes);
    std::swap(prior, row);
  }

  // Samples to 8-bit RGBA.
  auto sample = [&](const uint8_t* line, size_t index) -> uint32_t {  // the index-th sample of a row
    if (depth == 8) return line[index];
    if (depth == 16) return static_cast<uint32_t>(line[2 * index]) << 8 | line[2 * index + 1];
    size_t bit = index * depth;
    return (line[bit / 8] >> (8 - depth - bit % 8)) & ((1u << depth) - 1);
  };
  auto to8 = [&](uint32_t v) -> uint8_t {
    if (depth == 16) return static_cast<uint8_t>(v >> 8);
    if (depth == 8) return static_cast<uint8_t>(v);
    return static_cast<uint8_t>(v * 255 / ((1u << depth) - 1));
  };
  auto trns16 = [&](size_t i) -> uint32_t {
    return trns.size() >= 2 * i + 2 ? (static_cast<uint32_t>(static_cast<uint8_t>(trns[2 * i])) << 8 | static_cast<uint8_t>(trns[2 * i + 1])) : ~0u;
  };

  TRgbaImage image;
  image.Width = width;
  image.Height = height;
  image.Pixels.resize(static_cast<size_t>(width) * height * 4);
  for (uint32_t y = 0; y < height; ++y) {
    const uint8_t* line = plain.data() + y * rowBytes;
    for (uint32_t x = 0; x < width; ++x) {
      uint8_t* p = &image.Pixels[(static_cast<size_t>(y) * width + x) * 4];
      size_t s = static_cast<size_t>(x) * channels;
      switch (colourType) {
        case 0: {
          uint32_t v = sample(line, s);
          p[0] = p[1] = p[2] = to8(v);
          p[3] = (trns.size() >= 2 && v == trns16(0)) ? 0 : 255;
          break;
        }
        case 2: {
          uint32_t r = sample(line, s), g = sample(line, s + 1), b = sample(line, s + 2);
          p[0] = to8(r);
          p[1] = to8(g);
          p[2] = to8(b);
          p[3] = (trns.size() >= 6 && r == trns16(0) && g == trns16(1) && b == trns16(2)) ? 0 : 255;
          break;
        }
        case 3: {
          uint32_t i = sample(line, s);
          if (i * 3 + 2 >= palette.size()) Fail(what, "a pixel names palette entry " + std::to_string(i) + " beyond the palette (damaged file)");
          p[0] = static_cast<uint8_t>(palette[i * 3]);
          p[1] = static_cast<uint8_t>(palette[i * 3 + 1]);
          p[2] = static_cast<uint8_t>(palette[i * 3 + 2]);
          p[3] = i < trns.size() ? static_cast<uint8_t>(trns[i]) : 255;
          break;
        }
        case 4:
          p[0] = p[1] = p[2] = to8(sample(line, s));
          p[3] = to8(sample(line, s + 1));
          break;
        default:
          for (int c = 0; c < 4; ++c) p[c] = to8(sample(line, s + c));
      }
    }
  }
  return image;
}

namespace {

// For one axis: the source pixels (and their weights, summing to 1) that make
// up each output pixel.
std::vector<std::vector<std::pair<uint32_t, double>>> AxisWeights(uint32_t from, uint32_t to) {
  std::vector<std::vector<std::pair<uint32_t, double>>> out(to);
  const double scale = static_cast<double>(from) / to;
  for (uint32_t i = 0; i < to; ++i) {
    auto& w = out[i];
    if (to <= from) {
      // Area: the output pixel covers [i * scale, (i + 1) * scale) of the source.
      double start = i * scale, end = (i + 1) * scale;
      for (auto s = static_cast<uint32_t>(start); s < from && s < end; ++s) {
        double cover = std::min<double>(end, s + 1.0) - std::max<double>(start, s);
        if (cover > 1e-9) w.emplace_back(s, cover / scale);
      }
    } else {
      double centre = (i + 0.5) * scale - 0.5;
      centre = std::clamp(centre, 0.0, static_cast<double>(from - 1));
      auto left = static_cast<uint32_t>(centre);
      double frac = centre - left;
      w.emplace_back(left, 1.0 - frac);
      if (frac > 1e-9 && left + 1 < from) w.emplace_back(left + 1, frac);
    }
  }
  return out;
}

}  // namespace

TRgbaImage ScaleToSquare(const TRgbaImage& image, uint32_t size) {
  const uint32_t longest = std::max(image.Width, image.Height);
  auto fit = [&](uint32_t side) {
    return std::max<uint32_t>(1, static_cast<uint32_t>(std::lround(static_cast<double>(side) * size / longest)));
  };
  const uint32_t tw = fit(image.Width), th = fit(image.Height);
  const uint32_t ox = (size - tw) / 2, oy = (size - th) / 2;
  auto wx = AxisWeights(image.Width, tw), wy = AxisWeights(image.Height, th);

  // Premultiplied alpha, first along rows, then along columns.
  std::vector<double> rows(static_cast<size_t>(tw) * image.Height * 4, 0.0);
  for (uint32_t y = 0; y < image.Height; ++y)
    for (uint32_t x = 0; x < tw; ++x) {
      double* acc = &rows[(static_cast<size_t>(y) * tw + x) * 4];
      for (auto [s, weight] : wx[x]) {
        const uint8_t* p = &image.Pixels[(static_cast<size_t>(y) * image.Width + s) * 4];
        double a = p[3] * weight;
        acc[0] += p[0] * a;
        acc[1] += p[1] * a;
        acc[2] += p[2] * a;
        acc[3] += a;
      }
    }
  TRgbaImage out;
  out.Width = out.Height = size;
  out.Pixels.assign(static_cast<size_t>(size) * size * 4, 0);
  for (uint32_t y = 0; y < th; ++y)
    for (uint32_t x = 0; x < tw; ++x) {
      double acc[4] = {0, 0, 0, 0};
      for (auto [s, weight] : wy[y])
        for (int c = 0; c < 4; ++c) acc[c] += rows[(static_cast<size_t>(s) * tw + x) * 4 + c] * weight;
      uint8_t* p = &out.Pixels[(static_cast<size_t>(y + oy) * size + x + ox) * 4];
      const long alpha = std::lround(acc[3]);
      if (alpha <= 0) continue;
      for (int c = 0; c < 3; ++c) p[c] = static_cast<uint8_t>(std::clamp<long>(std::lround(acc[c] / acc[3]), 0, 255));
      p[3] = static_cast<uint8_t>(std::min<long>(alpha, 255));
    }
  return out;
}

}  // namespace nvbuilder
